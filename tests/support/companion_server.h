// tests/support/companion_server.h — a real tarnhold-server on loopback for the tests that go
// through the web: its own database and files folder, the address a player types ("host:port"),
// and an installation of the game as a player's machine has it.
#pragma once

#include <gtest/gtest.h>

#include "tests/e2e/app/process.h"

#include "platform/http/http.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

// A TCP port of 127.0.0.1 that is free now (the kernel's pick for a socket closed at once).
inline uint16_t FreeTcpPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    ::close(s);
    return ntohs(a.sin_port);
}

// tarnhold-server on 127.0.0.1:`port` (0: a port of its own choice) with the database
// dir/web.db, the files folder dir/files (created) and the further arguments `extra`
// ("--version", "--url"...). Its output goes to dir/server.out.
class CompanionServer {
public:
    CompanionServer(const std::filesystem::path& dir, const std::vector<std::string>& extra = {},
                    uint16_t port = 0)
        : files_(dir / "files") {
        std::filesystem::create_directories(files_ / "map");
        std::vector<std::string> argv = {
            (std::filesystem::path(TARNHOLD_INSTALL_DIR) / "tarnhold-server").string(),
            "--port",
            std::to_string(port),
            "--db",
            (dir / "web.db").string(),
            "--files",
            files_.string()};
        argv.insert(argv.end(), extra.begin(), extra.end());
        process_ = std::make_unique<apptest::Process>(argv, std::map<std::string, std::string>{},
                                                      dir / "server.out");
        if (!process_->WaitOutput("listening on", std::chrono::seconds(10))) return;
        std::smatch match;
        const std::string output = process_->Output();
        if (std::regex_search(output, match, std::regex("http://(127\\.0\\.0\\.1:[0-9]+)")))
            host_ = match[1];
    }

    // "127.0.0.1:<port>", what a player types as the web server; "" when it did not start.
    const std::string& Host() const { return host_; }
    // The folder served under /tarnhold/ (map archives in map/).
    const std::filesystem::path& Files() const { return files_; }
    // What the server printed: one line per request, method, path and status.
    std::string Log() const { return process_->Output(); }
    // How many GET requests of exactly `path` (the query left out) the server answered 200.
    size_t Served(const std::string& path) const {
        const std::regex request("GET " + path + "[?\" ].* 200( |$)");
        size_t n = 0;
        std::istringstream lines(Log());
        for (std::string line; std::getline(lines, line);)
            if (std::regex_search(line, request)) ++n;
        return n;
    }
    bool Running() { return process_->Running(); }
    // The body of GET `pathAndQuery` as another client of the server reads it; "" on failure.
    std::string Get(const std::string& pathAndQuery) const {
        const http::Response r = http::Get("http://" + host_ + pathAndQuery);
        return r.ok ? std::string(r.body.begin(), r.body.end()) : std::string();
    }

private:
    std::filesystem::path files_;
    std::unique_ptr<apptest::Process> process_;
    std::string host_;
};

// A copy of the built installation (the program beside its content) in `target`, as another
// player's machine has it: the programs hard-linked, every content file copied (so whatever
// the game writes stays in the copy), without the files whose path relative to the
// installation `leaveOut` names. Returns the copy's `tarnhold`.
inline std::filesystem::path
CopyInstallation(const std::filesystem::path& target,
                 const std::function<bool(const std::filesystem::path&)>& leaveOut = {}) {
    namespace fs = std::filesystem;
    const fs::path source = TARNHOLD_INSTALL_DIR;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(source)) {
        const fs::path relative = fs::relative(entry.path(), source);
        if (leaveOut && leaveOut(relative)) continue;
        const fs::path copy = target / relative;
        if (entry.is_directory()) {
            fs::create_directories(copy);
            continue;
        }
        fs::create_directories(copy.parent_path());
        const bool program =
            relative.parent_path().empty() &&
            (fs::status(entry.path()).permissions() & fs::perms::owner_exec) != fs::perms::none;
        std::error_code linked;
        if (program) fs::create_hard_link(entry.path(), copy, linked);
        if (!program || linked) fs::copy_file(entry.path(), copy);
    }
    return target / "tarnhold";
}

} // namespace testsupport

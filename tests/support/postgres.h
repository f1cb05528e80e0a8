// tests/support/postgres.h — a throw-away PostgreSQL server for tests and benchmarks: a new
// cluster in a temporary folder, listening on 127.0.0.1 and a free port only, stopped and
// deleted at the end. Run as root, the cluster belongs to the `postgres` user (PostgreSQL
// refuses to run as root). Uses Debian's binaries under /usr/lib/postgresql/<version>/bin.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace testsupport {

class TestPostgres {
public:
    TestPostgres() {
        bin_ = Binaries();
        if (bin_.empty()) {
            error_ = "no PostgreSQL server binaries under /usr/lib/postgresql";
            return;
        }
        char pattern[] = "/tmp/tarnhold-pg-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            error_ = "no temporary folder";
            return;
        }
        dir_ = pattern;
        asUser_ = ::geteuid() == 0 ? "runuser -u postgres -- " : "";
        if (::geteuid() == 0 && !Run("chown postgres " + dir_.string())) return;
        port_ = FreePort();
        const std::string data = (dir_ / "data").string();
        if (!Run(asUser_ + (bin_ / "initdb").string() + " -D " + data +
                 " -U tarnhold --auth=trust -E UTF8 --locale=C -N > " + Log("initdb") + " 2>&1"))
            return;
        const std::string options = "-c listen_addresses=127.0.0.1 -p " + std::to_string(port_) +
                                    " -k " + dir_.string() +
                                    " -c fsync=off -c synchronous_commit=off"
                                    " -c full_page_writes=off -c max_connections=100";
        if (!Run(asUser_ + (bin_ / "pg_ctl").string() + " -D " + data + " -l " +
                 (dir_ / "server.log").string() + " -o '" + options + "' -w -t 90 start > " +
                 Log("pg_ctl") + " 2>&1"))
            return;
        running_ = true;
    }
    ~TestPostgres() {
        if (running_)
            Run(asUser_ + (bin_ / "pg_ctl").string() + " -D " + (dir_ / "data").string() +
                " -m immediate -w stop > /dev/null 2>&1");
        std::error_code ignored;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
    }
    TestPostgres(const TestPostgres&) = delete;
    TestPostgres& operator=(const TestPostgres&) = delete;

    bool Ok() const { return running_; }
    // What went wrong, with the server's log.
    std::string Error() const {
        std::ostringstream text;
        text << error_;
        for (const char* log : {"initdb.log", "pg_ctl.log", "server.log"}) {
            std::ifstream file(dir_ / log);
            if (file) text << "\n--- " << log << "\n" << file.rdbuf();
        }
        return text.str();
    }
    // The connection URI of the cluster's default database.
    std::string Uri() const {
        return "postgresql://tarnhold@127.0.0.1:" + std::to_string(port_) + "/postgres";
    }

private:
    static std::filesystem::path Binaries() {
        std::filesystem::path best;
        std::error_code error;
        for (const auto& entry :
             std::filesystem::directory_iterator("/usr/lib/postgresql", error)) {
            const auto bin = entry.path() / "bin";
            if (std::filesystem::exists(bin / "initdb") && (best.empty() || bin > best)) best = bin;
        }
        return best;
    }
    static int FreePort() {
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
    std::string Log(const char* name) const {
        return (dir_ / (std::string(name) + ".log")).string();
    }
    bool Run(const std::string& command) {
        if (std::system(command.c_str()) == 0) return true;
        error_ = "failed: " + command;
        return false;
    }

    std::filesystem::path bin_;
    std::filesystem::path dir_;
    std::string asUser_;
    int port_ = 0;
    bool running_ = false;
    std::string error_;
};

} // namespace testsupport

// tests/e2e/server/server_client.h — a tarnhold-server process for end-to-end tests and the
// raw HTTP client that talks to it from any loopback address (127.0.0.0/8), so that tests can
// be several clients with their own addresses.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace servertest {

using namespace std::chrono_literals;

inline std::filesystem::path ServerExecutable() {
    return std::filesystem::path(TARNHOLD_INSTALL_DIR) / "tarnhold-server";
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// A started tarnhold-server; standard output and error go to files in `dir`.
class ServerProcess {
public:
    ServerProcess(const std::filesystem::path& dir, const std::vector<std::string>& arguments)
        : out_(dir / ("server-" + std::to_string(counter_++) + ".out")),
          err_(out_.string() + ".err") {
        pid_ = ::fork();
        if (pid_ == 0) {
            if (!std::freopen(out_.c_str(), "w", stdout) ||
                !std::freopen(err_.c_str(), "w", stderr))
                ::_exit(126);
            std::vector<std::string> argv = {ServerExecutable().string()};
            argv.insert(argv.end(), arguments.begin(), arguments.end());
            std::vector<char*> args;
            for (std::string& a : argv)
                args.push_back(a.data());
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        const auto end = std::chrono::steady_clock::now() + 20s;
        std::smatch match;
        while (std::chrono::steady_clock::now() < end && Running()) {
            const std::string output = Output();
            if (std::regex_search(output, match,
                                  std::regex("listening on http://[^:]+:([0-9]+)"))) {
                port_ = std::stoi(match[1]);
                return;
            }
            std::this_thread::sleep_for(20ms);
        }
    }
    ~ServerProcess() {
        if (pid_ > 0 && Running()) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    int Port() const { return port_; }
    pid_t Pid() const { return pid_; }
    std::string Output() const { return ReadFile(out_); }
    std::string Errors() const { return ReadFile(err_); }
    std::string Logs() const { return Output() + "\n--- stderr\n" + Errors(); }

    // The exit status, or -1 when it is still running after `limit`.
    int WaitExit(std::chrono::milliseconds limit) {
        if (exited_) return code_;
        const auto end = std::chrono::steady_clock::now() + limit;
        do {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return code_;
            }
            std::this_thread::sleep_for(10ms);
        } while (std::chrono::steady_clock::now() < end);
        return -1;
    }
    bool Running() { return WaitExit(0ms) == -1; }

    // Resident memory in bytes (VmRSS), 0 when unknown.
    size_t ResidentBytes() const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("VmRSS:", 0) == 0) return size_t(std::stoull(line.substr(6))) * 1024;
        return 0;
    }

private:
    static inline int counter_ = 0;
    std::filesystem::path out_, err_;
    pid_t pid_ = -1;
    int port_ = 0;
    bool exited_ = false;
    int code_ = -1;
};

// A TCP connection to 127.0.0.1:`port` from the loopback address `source`; -1 on failure.
inline int ConnectFrom(const std::string& source, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, source.c_str(), &local.sin_addr);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(uint16_t(port));
    remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Sends all of `data`; false when the peer closed or reset.
inline bool SendAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent <= 0) return false;
        data.remove_prefix(size_t(sent));
    }
    return true;
}

// Reads until the peer closes or `limit` passes; the bytes read.
inline std::string ReadUntilClosed(int fd, std::chrono::milliseconds limit,
                                   bool* closed = nullptr) {
    std::string data;
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0) break;
        char buffer[16384];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            if (closed) *closed = true;
            break;
        }
        data.append(buffer, size_t(got));
    }
    return data;
}

struct Reply {
    int status = 0; // 0: no reply
    std::string head;
    std::string body;
    std::chrono::microseconds took{0};

    std::string Header(const std::string& name) const {
        std::smatch m;
        if (std::regex_search(head, m, std::regex("\r\n" + name + ": ([^\r]*)", std::regex::icase)))
            return m[1];
        return "";
    }
};

// One GET of `target` on its own connection from `source`, with `extraHead` (lines ending in
// CR LF) among its headers.
inline Reply Get(int port, const std::string& target, const std::string& source = "127.0.0.1",
                 std::chrono::milliseconds limit = 10s, const std::string& extraHead = "") {
    Reply reply;
    const auto start = std::chrono::steady_clock::now();
    const int fd = ConnectFrom(source, port);
    if (fd < 0) return reply;
    if (SendAll(fd, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
                        extraHead + "\r\n")) {
        const std::string data = ReadUntilClosed(fd, limit);
        const size_t split = data.find("\r\n\r\n");
        if (data.rfind("HTTP/1.", 0) == 0 && split != std::string::npos) {
            reply.status = std::atoi(data.c_str() + 9);
            reply.head = data.substr(0, split + 2);
            reply.body = data.substr(split + 4);
        }
    }
    ::close(fd);
    reply.took = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    return reply;
}

inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The text of the first `element` of an XML reply ("" when absent).
inline std::string Element(const std::string& xml, const std::string& element) {
    const size_t open = xml.find("<" + element + ">");
    if (open == std::string::npos) return "";
    const size_t from = open + element.size() + 2;
    return xml.substr(from, xml.find("</" + element + ">", from) - from);
}

// "Basic " + base64 of "user:key", the Authorization header line a browser or
// curl -u sends.
inline std::string BasicAuthorization(const std::string& user, const std::string& key) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::string in = user + ":" + key;
    std::string out;
    for (size_t i = 0; i < in.size(); i += 3) {
        uint32_t n = uint32_t(uint8_t(in[i])) << 16;
        if (i + 1 < in.size()) n |= uint32_t(uint8_t(in[i + 1])) << 8;
        if (i + 2 < in.size()) n |= uint32_t(uint8_t(in[i + 2]));
        out += digits[(n >> 18) & 63];
        out += digits[(n >> 12) & 63];
        out += i + 1 < in.size() ? digits[(n >> 6) & 63] : '=';
        out += i + 2 < in.size() ? digits[n & 63] : '=';
    }
    return "Authorization: Basic " + out + "\r\n";
}

// A fresh folder for one test.
inline std::filesystem::path FreshDir(const std::string& name) {
    const auto dir =
        std::filesystem::path("/tmp") / ("tarnhold-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

} // namespace servertest

// server/main.cpp — tarnhold-server: the game list, accounts, message board and downloads
// that the game's web client talks to, on SQLite.
//
//   tarnhold-server [--bind ADDR] [--port N] [--db FILE] [--files DIR]
//                   [--version TEXT] [--url ADDRESS] [--game-lifetime MINUTES]
//
// Binds 127.0.0.1 by default; --port 0 takes a free port. Once listening it prints
// "tarnhold-server listening on http://ADDR:PORT" on standard output. SIGINT or SIGTERM stop it.
// Each request is logged as method, path and status, never with its query (it holds passwords).
#include "server/scripts.h"
#include "server/store.h"

#include <httplib.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <string>
#include <string_view>
#include <thread>

namespace {

struct Options {
    std::string bind = "127.0.0.1";
    int port = 8080;
    std::string db = "tarnhold-server.db";
    server::Config config;
};

[[noreturn]] void Usage(const std::string& problem) {
    std::fprintf(stderr,
                 "tarnhold-server: %s\n"
                 "usage: tarnhold-server [--bind ADDR] [--port N] [--db FILE] [--files DIR]\n"
                 "                       [--version TEXT] [--url ADDRESS]"
                 " [--game-lifetime MINUTES]\n",
                 problem.c_str());
    std::exit(2);
}

long NumberArgument(std::string_view name, const std::string& text, long low, long high) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < low || value > high)
        Usage("bad value for " + std::string(name) + ": " + text);
    return value;
}

Options ParseArguments(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (name == "--help" || name == "-h") Usage("help");
        if (i + 1 >= argc) Usage("missing value after " + std::string(name));
        const std::string value = argv[++i];
        if (name == "--bind")
            options.bind = value;
        else if (name == "--port")
            options.port = int(NumberArgument(name, value, 0, 65535));
        else if (name == "--db")
            options.db = value;
        else if (name == "--files")
            options.config.files = value;
        else if (name == "--version")
            options.config.version = value;
        else if (name == "--url")
            options.config.url = value;
        else if (name == "--game-lifetime")
            options.config.gameLifetimeSeconds = NumberArgument(name, value, 1, 10'000'000) * 60;
        else
            Usage("unknown option " + std::string(name));
    }
    return options;
}

} // namespace

int main(int argc, char** argv) {
    const Options options = ParseArguments(argc, argv);

    // SIGINT and SIGTERM are taken by one thread that stops the server; block them everywhere
    // else before any thread starts.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        server::Store store(options.db);
        httplib::Server http;
        server::InstallScripts(http, store, options.config);
        http.set_payload_max_length(64 * 1024);
        http.set_read_timeout(10, 0);
        http.set_write_timeout(10, 0);
        http.set_logger([](const httplib::Request& req, const httplib::Response& res) {
            std::printf("%s %s %d\n", req.method.c_str(), req.path.c_str(), res.status);
            std::fflush(stdout);
        });

        int port = options.port;
        if (port == 0)
            port = http.bind_to_any_port(options.bind);
        else if (!http.bind_to_port(options.bind, port))
            port = -1;
        if (port <= 0) {
            std::fprintf(stderr, "tarnhold-server: cannot listen on %s:%d\n", options.bind.c_str(),
                         options.port);
            return 1;
        }
        std::printf("tarnhold-server listening on http://%s:%d\n", options.bind.c_str(), port);
        std::fflush(stdout);

        std::thread stopper([&http, stopSignals] {
            int signal = 0;
            sigwait(&stopSignals, &signal);
            http.stop();
        });
        stopper.detach();
        http.listen_after_bind();
        std::printf("tarnhold-server stopped\n");
    } catch (const server::StoreError& e) {
        std::fprintf(stderr, "tarnhold-server: %s\n", e.what());
        return 1;
    }
    return 0;
}

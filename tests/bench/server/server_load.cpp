// server_load — a bounded load of the game's requests on a real tarnhold-server over loopback,
// on SQLite and on PostgreSQL (a throw-away cluster started here).
//
//   server_load [--clients N] [--seconds S] [--backend sqlite|postgresql|both]
//
// Each client is one player's machine with its own loopback address (127.0.1.x) and opens a
// new connection per request, as the game does. The mix follows what players do: list the
// games and refresh the account (the game sends both each time), read the maps and the board,
// publish and withdraw a game, report a match (with the account's password where the game
// sends it). Prints requests per second, latency
// percentiles and errors (any reply other than 200, or no reply) per back end; exits 1 when
// there were errors. The server runs with its default limits except the per-address rate,
// raised so that 50 clients at full speed are measured rather than refused.
#include "tests/e2e/server/server_client.h"
#include "tests/support/postgres.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iostream>
#include <mutex>
#include <random>

using namespace servertest;

namespace {

struct Figures {
    size_t requests = 0;
    size_t errors = 0;
    double seconds = 0;
    std::vector<double> latencies; // ms
};

double Percentile(std::vector<double>& values, double p) {
    if (values.empty()) return 0;
    const size_t at = std::min(values.size() - 1, size_t(p * double(values.size())));
    std::nth_element(values.begin(), values.begin() + long(at), values.end());
    return values[at];
}

Figures RunLoad(const std::string& db, int clients, int seconds) {
    const auto dir = FreshDir("server-load");
    std::filesystem::create_directories(dir / "files" / "map");
    for (const char* map : {"desert", "couloirs", "usine"})
        std::ofstream(dir / "files" / "map" / (std::string(map) + ".exe")) << "archive";
    ServerProcess server(dir,
                         {"--port", "0", "--db", db == "sqlite" ? (dir / "web.db").string() : db,
                          "--files", (dir / "files").string(), "--version", "1.0.0", "--rate",
                          "100000", "--burst", "100000"});
    Figures figures;
    if (server.Port() <= 0) {
        std::cerr << "server did not start:\n" << server.Logs() << "\n";
        figures.errors = 1;
        return figures;
    }
    const int port = server.Port();

    // Every client's account, and some history on the board and the ranking.
    std::vector<std::string> accounts(static_cast<size_t>(clients), std::string());
    for (int i = 0; i < clients; ++i) {
        const std::string login = "player" + std::to_string(i);
        const std::string reply =
            Get(port, "/script/nouveaujoueur.php3?LENUM=0&LENOM=" + login + "&LELOG=" + login +
                          "&LEPWD=pw" + std::to_string(i) + "&LEMAIL=&LESOFT=1&LEVERSION=1.0.0")
                .body;
        accounts[size_t(i)] = Element(reply, "CLE");
    }
    for (int i = 0; i < 30; ++i)
        Get(port, "/script/nouveaumess.php3?LESOFT=1&LEJOUEUR=" + accounts[0] +
                      "&LETYP=0&LEPWD=pw0&LEMESS=message%20" + std::to_string(i));

    std::atomic<bool> go{false};
    std::mutex merge;
    std::vector<std::thread> threads;
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            const std::string source = "127.0.1." + std::to_string(10 + c);
            const std::string n = std::to_string(c);
            const std::string account = "/script/nouveaujoueur.php3?LENUM=" + accounts[size_t(c)] +
                                        "&LENOM=player" + n + "&LELOG=player" + n + "&LEPWD=pw" +
                                        n + "&LEMAIL=&LESOFT=1&LEVERSION=1.0.0";
            // What acts for the account proves it with the password, as the game does.
            const std::string proof = "&LEPWD=pw" + n;
            std::mt19937 random(unsigned(c) * 7919u + 1);
            Figures mine;
            std::string published;
            while (!go)
                std::this_thread::yield();
            while (std::chrono::steady_clock::now() < end) {
                const unsigned roll = random() % 100;
                std::string target;
                if (roll < 30)
                    target = "/script/get_server.php3?LESOFT=1";
                else if (roll < 60)
                    target = account;
                else if (roll < 70)
                    target = "/script/get_map.php3";
                else if (roll < 80)
                    target = "/script/getmess.php3?LESOFT=1&LETYP=0";
                else if (roll < 90)
                    target =
                        published.empty()
                            ? "/script/set_server.php3?LESOFT=1&LEJOUEUR=" + accounts[size_t(c)] +
                                  "&LAVERSION=1.0.0&LECOMMENT=game%20of%20" + n + proof
                            : "/script/delete_server.php3?CLE_SERVEUR=" + published +
                                  "&CLE_JOUEUR=" + accounts[size_t(c)] + proof;
                else
                    // A match with nothing to add: a client reports far more often than anyone
                    // plays, and counters would soon exceed the play time its account banks.
                    target =
                        "/script/quitte_server.php3?CLE_SOFT=1&CLE_JOUEUR=" + accounts[size_t(c)] +
                        "&KILLER=0&KILLED=0&SNIPPER=0&SNIPPED=0&COMMENT=gg" + proof;
                const Reply r = Get(port, target, source, std::chrono::seconds(10));
                ++mine.requests;
                mine.latencies.push_back(double(r.took.count()) / 1000.0);
                if (r.status != 200 || Contains(r.body, ">NO<")) {
                    ++mine.errors;
                } else if (Contains(target, "set_server")) {
                    published = Element(r.body, "SERVEUR");
                } else if (Contains(target, "delete_server")) {
                    published.clear();
                }
            }
            std::lock_guard lock(merge);
            figures.requests += mine.requests;
            figures.errors += mine.errors;
            figures.latencies.insert(figures.latencies.end(), mine.latencies.begin(),
                                     mine.latencies.end());
        });
    }
    go = true;
    for (std::thread& t : threads)
        t.join();
    figures.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!server.Running()) {
        std::cerr << "the server ended:\n" << server.Logs() << "\n";
        ++figures.errors;
    }
    return figures;
}

void Report(const std::string& name, Figures figures) {
    const double rate = figures.seconds > 0 ? double(figures.requests) / figures.seconds : 0;
    std::vector<double>& l = figures.latencies;
    const double p50 = Percentile(l, 0.50), p99 = Percentile(l, 0.99);
    const double worst = l.empty() ? 0 : *std::max_element(l.begin(), l.end());
    std::printf("%-10s requests %zu in %.1f s: %.0f requests/s, p50 %.1f ms, p99 %.1f ms,"
                " max %.1f ms, errors %zu\n",
                name.c_str(), figures.requests, figures.seconds, rate, p50, p99, worst,
                figures.errors);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    int clients = 50, seconds = 15;
    std::string backend = "both";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--clients"))
            clients = std::clamp(std::atoi(argv[i + 1]), 1, 200);
        else if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::clamp(std::atoi(argv[i + 1]), 1, 120);
        else if (!std::strcmp(argv[i], "--backend"))
            backend = argv[i + 1];
    }
    size_t errors = 0;
    if (backend == "sqlite" || backend == "both") {
        Figures f = RunLoad("sqlite", clients, seconds);
        errors += f.errors;
        Report("sqlite", std::move(f));
    }
    if (backend == "postgresql" || backend == "both") {
        testsupport::TestPostgres postgres;
        if (!postgres.Ok()) {
            std::cerr << postgres.Error() << "\n";
            return 1;
        }
        Figures f = RunLoad(postgres.Uri(), clients, seconds);
        errors += f.errors;
        Report("postgresql", std::move(f));
    }
    return errors == 0 ? 0 : 1;
}

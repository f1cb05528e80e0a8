// Network feel between real `tarnhold` processes on loopback, each with its own settings folder,
// headless, with the network trace on (TARNHOLD_NET_TRACE, see net/net.h):
//
//   BM_MovementToDisplay   one player walks off and stops, again and again; the other machine
//                          notes the first frame that drew its body moved. The figure is the
//                          time from the mover's frame that moved to the end of the viewer's
//                          frame that showed it, in milliseconds and in frames at 60 fps. Both
//                          games run at 60 frames a second (MaxFrameRate), STATE at 60 a second.
//   BM_FourPlayersTraffic  four machines stand in one match for a few seconds; the figures are
//                          the bytes each sends and receives per second (UDP payload, ENet's
//                          headers included), the host (which relays) and the others apart.
//
// Run: build/tests/bench/net/net_bench (the game must be built). Times are the machine's
// monotonic clock, the same in every process.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// One game process: headless, silent, its own settings folder dir/name, script dir/name.txt,
// output dir/name.out.
class Machine {
public:
    Machine(const fs::path& dir, const std::string& name, const std::string& script,
            const std::map<std::string, std::string>& env)
        : out_(dir / (name + ".out")) {
        const fs::path home = dir / name;
        fs::create_directories(home);
        std::ofstream(home / "registry.reg")
            << "Windows Registry Editor Version 5.00\r\n\r\n"
            << "[HKEY_LOCAL_MACHINE\\Software\\Vesk-Soft\\Tarnhold]\r\n"
            << "\"StateRate\"=\"60\"\r\n\"MaxFrameRate\"=\"60\"\r\n";
        std::ofstream(dir / (name + ".txt")) << script;
        pid_ = ::fork();
        if (pid_ == 0) {
            for (const auto& [key, value] : env)
                ::setenv(key.c_str(), value.c_str(), 1);
            ::setenv("SDL_VIDEODRIVER", "dummy", 1);
            ::setenv("SDL_AUDIODRIVER", "dummy", 1);
            ::setenv("TARNHOLD_NO_AUDIO", "1", 1);
            ::setenv("TARNHOLD_NET_TRACE", "1", 1);
            ::setenv("TARNHOLD_NAME", name.c_str(), 1);
            ::setenv("TARNHOLD_HOME", home.c_str(), 1);
            ::setenv("TARNHOLD_SCRIPT", (dir / (name + ".txt")).c_str(), 1);
            const int fd = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            const std::string game = std::string(TARNHOLD_INSTALL_DIR) + "/tarnhold";
            ::execl(game.c_str(), game.c_str(), nullptr);
            ::_exit(127);
        }
    }
    ~Machine() {
        if (pid_ <= 0) return;
        const auto until = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < until)
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_)
                return;
            else
                std::this_thread::sleep_for(20ms);
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    std::string Output() const { return ReadFile(out_); }
    bool WaitOutput(const std::string& text, std::chrono::seconds limit) const {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            if (Output().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

private:
    fs::path out_;
    pid_t pid_ = -1;
};

fs::path FreshDir(const std::string& name) {
    const fs::path dir = fs::temp_directory_path() / (name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// `seed` chooses the spawn point: players on one spot block each other's walk.
std::map<std::string, std::string> NetEnvironment(const std::string& mode, int port, int seed) {
    return {{"TARNHOLD_SEED", std::to_string(seed)},
            {"TARNHOLD_MATCH", "entrepot"},
            {"TARNHOLD_NET", mode},
            {"TARNHOLD_LAN_TARGET", "127.0.0.1"},
            {"TARNHOLD_DISCOVERY_PORT", std::to_string(port)}};
}

// All the numbers of the lines of `text` that match `pattern` (its first group).
std::vector<long long> Numbers(const std::string& text, const std::string& pattern) {
    const std::regex line(pattern);
    std::vector<long long> values;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line);
         it != std::sregex_iterator(); ++it)
        values.push_back(std::stoll((*it)[1]));
    return values;
}

int DiscoveryPort() {
    return 41000 + int(::getpid() % 800) * 24;
}

constexpr double kFrameMs = 1000.0 / 60.0;

void BM_MovementToDisplay(benchmark::State& state) {
    const int walks = 12;
    for (auto _ : state) {
        const fs::path dir = FreshDir("net-bench-move");
        const std::string quit = "waitfile " + (dir / "quit").string() + "\nkey down 1\nwait 2\n";
        // Walks forward and back in turn, so a wall never stops the walk.
        std::string walk = "waitfile " + (dir / "go").string() + "\n";
        for (int i = 0; i < walks; ++i)
            walk += std::string("key down ") + (i % 2 == 0 ? "200" : "208") +
                    "\nsleep 300\nkey up " + (i % 2 == 0 ? "200" : "208") + "\nsleep 700\ndump\n";
        const int port = DiscoveryPort();
        Machine viewer(dir, "Ann", quit, NetEnvironment("host:2", port, 3));
        Machine mover(dir, "Bob", walk + quit, NetEnvironment("join", port, 5));
        if (!viewer.WaitOutput("come in Game.", 90s) || !mover.WaitOutput("come in Game.", 30s))
            return state.SkipWithError("the two machines did not meet");
        std::this_thread::sleep_for(1s);
        const long long go = std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
        std::ofstream(dir / "go") << "go\n";
        const auto until = std::chrono::steady_clock::now() + 30s;
        while (std::chrono::steady_clock::now() < until &&
               Numbers(mover.Output(), R"(net trace: moved frame=\d+ at_us=(\d+))").size() <
                   size_t(walks))
            std::this_thread::sleep_for(100ms);
        std::this_thread::sleep_for(1s);
        std::ofstream(dir / "quit") << "go\n";

        const std::vector<long long> moved =
            Numbers(mover.Output(), R"(net trace: moved frame=\d+ at_us=(\d+))");
        const std::vector<long long> shown =
            Numbers(viewer.Output(), R"(net trace: body of \d+ moved at_us=(\d+))");
        std::vector<double> ms;
        for (const long long t : moved) {
            if (t < go) continue; // the match starting, not a walk
            const auto first =
                std::find_if(shown.begin(), shown.end(), [&](long long s) { return s > t; });
            if (first != shown.end()) ms.push_back(double(*first - t) / 1000.0);
        }
        if (ms.empty()) return state.SkipWithError("the viewer never saw the body move");
        std::sort(ms.begin(), ms.end());
        const double median = ms[ms.size() / 2];
        state.counters["walks"] = double(ms.size());
        state.counters["median_ms"] = median;
        state.counters["max_ms"] = ms.back();
        state.counters["median_frames_60fps"] = median / kFrameMs;
        state.counters["max_frames_60fps"] = ms.back() / kFrameMs;
        std::printf("movement to display: median %.1f ms = %.2f frames at 60 fps, max %.1f ms = "
                    "%.2f frames (%zu walks)\n",
                    median, median / kFrameMs, ms.back(), ms.back() / kFrameMs, ms.size());
    }
}
BENCHMARK(BM_MovementToDisplay)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_FourPlayersTraffic(benchmark::State& state) {
    for (auto _ : state) {
        const fs::path dir = FreshDir("net-bench-four");
        const std::string quit = "waitfile " + (dir / "quit").string() + "\nkey down 1\nwait 2\n";
        const int port = DiscoveryPort() + 8;
        std::vector<std::unique_ptr<Machine>> machines;
        machines.push_back(
            std::make_unique<Machine>(dir, "Ann", quit, NetEnvironment("host:4", port, 3)));
        int seed = 4;
        for (const char* name : {"Bob", "Cid", "Dee"})
            machines.push_back(
                std::make_unique<Machine>(dir, name, quit, NetEnvironment("join", port, seed++)));
        for (auto& m : machines)
            if (!m->WaitOutput("come in Game.", 120s))
                return state.SkipWithError("the four machines did not meet");
        std::this_thread::sleep_for(8s);
        std::ofstream(dir / "quit") << "go\n";
        const std::string kSent =
            R"(net trace: sent \d+ STATE and drew \d+ frames in the last second; the session sent (\d+) bytes)";
        const std::string kReceived =
            R"(net trace: sent \d+ STATE and drew \d+ frames in the last second; the session sent \d+ bytes and received (\d+) bytes)";
        // The last five whole seconds of each machine.
        auto mean = [](std::vector<long long> v) {
            if (v.size() > 5) v.erase(v.begin(), v.end() - 5);
            double sum = 0;
            for (long long x : v)
                sum += double(x);
            return v.empty() ? 0.0 : sum / double(v.size());
        };
        const std::string host = machines[0]->Output();
        double memberSent = 0, memberReceived = 0;
        for (size_t i = 1; i < machines.size(); ++i) {
            const std::string out = machines[i]->Output();
            memberSent += mean(Numbers(out, kSent)) / 3.0;
            memberReceived += mean(Numbers(out, kReceived)) / 3.0;
        }
        state.counters["host_sent_Bps"] = mean(Numbers(host, kSent));
        state.counters["host_received_Bps"] = mean(Numbers(host, kReceived));
        state.counters["member_sent_Bps"] = memberSent;
        state.counters["member_received_Bps"] = memberReceived;
        std::printf("four players, bytes per second: host sends %.0f and receives %.0f; each "
                    "other player sends %.0f and receives %.0f\n",
                    mean(Numbers(host, kSent)), mean(Numbers(host, kReceived)), memberSent,
                    memberReceived);
    }
}
BENCHMARK(BM_FourPlayersTraffic)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();

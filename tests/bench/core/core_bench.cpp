// Match benchmarks. Each iteration runs one real match through StartMatch: the network hook of
// the main loop stamps every pass, and ends the match after a fixed number of passes. Reported:
// "start_ms", StartMatch from its call to the first pass, and the manual time per pass (the
// main loop without the start). Headless unless a display is present.
#include "core/game.h"
#include "platform/window/window.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <functional>

namespace {

using Clock = std::chrono::steady_clock;

void PrepareMatch(const char* map) {
    core::ProgramDirectory = TARNHOLD_INSTALL_DIR;
    core::LoadFlag = true;
    core::MapName = map;
    core::Skin = "1";
    core::MyPlayerId = 1;
    core::PlayerCount = 1;
    core::PlayerIds = {1, 0, 0, 0, 0};
    core::PlayerNames[0] = "bench";
    core::Players = {};
    core::LocalIndex = -1;
}

// The network of the measured match: every pass's poll is timed; messages go nowhere.
struct TimedNetwork : core::MatchNetwork, player::MessageSink {
    void ReceiveMessages() override { onPass(); }
    player::MessageSink& Messages() override { return *this; }
    void SendHit(int32_t, int32_t, const glm::vec3&) override {}
    void SendState(const player::player&) override {}
    void SendKilled(int32_t, int32_t) override {}
    std::function<void()> onPass;
};

void BM_Match(benchmark::State& state, const char* map) {
    constexpr int kPasses = 300;
    double startMs = 0.0;
    for (auto _ : state) {
        PrepareMatch(map);
        int passes = 0;
        Clock::time_point begin = Clock::now(), firstPass, last;
        TimedNetwork network;
        network.onPass = [&] {
            last = Clock::now();
            if (passes == 0) firstPass = last;
            if (++passes == kPasses) core::QuitRequested = true;
        };
        core::SetMatchNetwork(&network);
        core::StartMatch();
        core::SetMatchNetwork(nullptr);
        const double loop = std::chrono::duration<double>(last - firstPass).count();
        state.SetIterationTime(loop / (kPasses - 1));
        startMs += std::chrono::duration<double, std::milli>(firstPass - begin).count();
    }
    state.counters["start_ms"] = startMs / double(state.iterations());
    state.SetLabel(window::IsHeadless() ? "headless" : "rendered");
}

} // namespace

BENCHMARK_CAPTURE(BM_Match, couloirs, "couloirs")
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Match, entrepot, "entrepot")
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Match, cour, "cour")
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Match, usine, "usine")
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    // Silent, settings in a scratch directory, headless without a display.
    ::setenv("TARNHOLD_NO_AUDIO", "1", 0);
    ::setenv("TARNHOLD_HOME", "/tmp/tarnhold-core-bench", 0);
    if (std::getenv("DISPLAY") == nullptr) ::setenv("SDL_VIDEODRIVER", "dummy", 0);
    if (!window::Init("Tarnhold bench", 800, 600)) return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    window::Shutdown();
    return 0;
}

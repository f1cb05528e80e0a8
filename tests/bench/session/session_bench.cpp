// Session service speed on loopback: round-trip latency of a 128-byte unguaranteed message, and
// the CPU that four peers spend broadcasting a 128-byte state 60 times a second.
#include "platform/session/session.h"

#include <benchmark/benchmark.h>
#include <enet/enet.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace session;
using Clock = std::chrono::steady_clock;

namespace {

const Guid kApp = *Guid::Parse("{AC330441-9B71-11D2-9AAB-0020781461AC}");

// Host plus guests, every one with its player; returns false when the session cannot be built.
bool BuildSession(std::vector<std::unique_ptr<Service>>& peers, std::vector<uint32_t>& ids,
                  int count) {
    ServiceConfig cfg;
    cfg.discoveryPort = 47000 + static_cast<uint16_t>(getpid() % 1000) * 8;
    cfg.discoveryPortCount = 4;
    peers.clear();
    ids.clear();
    peers.push_back(std::make_unique<Service>(cfg));
    SessionDesc d;
    d.application = kApp;
    d.name = "bench";
    d.flags = kSessionMigrateHost;
    if (peers[0]->Open(d, OpenMode::Create) != Error::Ok) return false;
    uint32_t id;
    if (peers[0]->CreatePlayer("p0", "0", id) != Error::Ok) return false;
    ids.push_back(id);
    Service probe(cfg);
    probe.Initialize(ProviderKind::Internet, {"127.0.0.1", 0});
    std::vector<SessionDesc> found;
    probe.EnumSessions(d, 300, 0, found);
    if (found.empty()) return false;
    for (int i = 1; i < count; ++i) {
        peers.push_back(std::make_unique<Service>(cfg));
        if (peers.back()->Open(found[0], OpenMode::Join) != Error::Ok) return false;
        if (peers.back()->CreatePlayer("p", "1", id) != Error::Ok) return false;
        ids.push_back(id);
    }
    const auto until = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < until) {
        bool all = true;
        for (auto& p : peers)
            all = all && p->PlayerCount() == count;
        if (all) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

Message StateBody() {
    Message m; // the shape of a STATE: 12 Longs and 10 Doubles, 128 bytes
    for (int i = 0; i < 12; ++i)
        m.WriteLong(i);
    for (int i = 0; i < 10; ++i)
        m.WriteDouble(i * 0.5);
    return m;
}

// Waits (spinning politely) for a message; false after a second.
bool Await(Service& s, Message& into) {
    const auto until = Clock::now() + std::chrono::seconds(1);
    uint32_t from, to;
    while (Clock::now() < until) {
        if (s.Receive(from, to, into) && from != 0) return true;
        std::this_thread::yield();
    }
    return false;
}

double CpuSeconds() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void BM_RoundTrip128Unguaranteed(benchmark::State& state) {
    std::vector<std::unique_ptr<Service>> peers;
    std::vector<uint32_t> ids;
    if (!BuildSession(peers, ids, 2)) return state.SkipWithError("no session");
    Service& a = *peers[0];
    Service& b = *peers[1];
    Message out = StateBody(), in;
    std::vector<double> micros;
    int lost = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        a.Send(ids[0], ids[1], false, out);
        if (!Await(b, in)) {
            ++lost;
            continue;
        }
        b.Send(ids[1], ids[0], false, in);
        if (!Await(a, in)) {
            ++lost;
            continue;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    std::sort(micros.begin(), micros.end());
    if (micros.empty()) return state.SkipWithError("every message was lost");
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    state.counters["lost"] = lost;
}
BENCHMARK(BM_RoundTrip128Unguaranteed)->Iterations(3000)->Unit(benchmark::kMicrosecond);

// Four peers in this process, each sending its state to all 60 times a second and draining its
// queue; the figure is the CPU time the process spends per second of wall time.
void BM_FourPeersBroadcast60Hz(benchmark::State& state) {
    std::vector<std::unique_ptr<Service>> peers;
    std::vector<uint32_t> ids;
    if (!BuildSession(peers, ids, 4)) return state.SkipWithError("no session");
    const Message body = StateBody();
    Message in;
    for (auto _ : state) {
        const double cpu0 = CpuSeconds();
        const auto start = Clock::now();
        const auto period = std::chrono::microseconds(16667);
        auto next = start;
        long received = 0, sent = 0;
        for (int tick = 0; tick < 60 * 3; ++tick) {
            for (size_t i = 0; i < peers.size(); ++i) {
                peers[i]->Send(ids[i], 0, false, body);
                ++sent;
                uint32_t from, to;
                while (peers[i]->Receive(from, to, in))
                    ++received;
            }
            next += period;
            std::this_thread::sleep_until(next);
        }
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        state.counters["cpu_ms_per_s"] = (CpuSeconds() - cpu0) * 1000.0 / wall;
        state.counters["delivered_pct"] = 100.0 * double(received) / double(sent * 3);
    }
}
BENCHMARK(BM_FourPeersBroadcast60Hz)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();

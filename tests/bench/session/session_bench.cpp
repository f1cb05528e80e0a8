// Session service speed on loopback: round-trip latency of a 128-byte unguaranteed message, set
// against the same ping-pong on two bare ENet hosts (the transport's floor on this machine), and
// the CPU that four peers spend broadcasting a 128-byte state 60 times a second. After the run,
// the line "round trip, service / bare ENet" gives the ratio of the two medians.
#include "platform/session/session.h"

#include <benchmark/benchmark.h>
#include <enet/enet.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

using namespace session;
using Clock = std::chrono::steady_clock;

namespace {

const Guid kApp = *Guid::Parse("{AC330441-9B71-11D2-9AAB-0020781461AC}");

// Median round trips of this run (microseconds), 0 until measured; compared after the run.
double gServiceMedianUs = 0;
double gBareMedianUs = 0;

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

// The median and the 99th percentile of `micros` into the state's counters; returns the median.
double ReportLatency(benchmark::State& state, std::vector<double>& micros, int lost) {
    std::sort(micros.begin(), micros.end());
    const double median = micros[micros.size() / 2];
    state.counters["median_us"] = median;
    state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    state.counters["lost"] = lost;
    return median;
}

// Two bare ENet hosts on 127.0.0.1, `a` connected to `b`; each end's peer for the other.
struct BarePair {
    ENetHost* a = nullptr;
    ENetHost* b = nullptr;
    ENetPeer* toB = nullptr; // a's peer for b
    ENetPeer* toA = nullptr; // b's peer for a
    ~BarePair() {
        if (a) enet_host_destroy(a);
        if (b) enet_host_destroy(b);
    }
};

// Creates both hosts and connects them; false when that fails within two seconds.
bool ConnectBare(BarePair& p) {
    enet_initialize();
    ENetAddress loopback{ENET_HOST_TO_NET_32(0x7F000001u), 0};
    p.a = enet_host_create(&loopback, 1, 1, 0, 0);
    p.b = enet_host_create(&loopback, 1, 1, 0, 0);
    if (!p.a || !p.b) return false;
    ENetAddress bAddress;
    if (enet_socket_get_address(p.b->socket, &bAddress) != 0) return false;
    p.toB = enet_host_connect(p.a, &bAddress, 1, 0);
    if (!p.toB) return false;
    const auto until = Clock::now() + std::chrono::seconds(2);
    ENetEvent ev;
    while (Clock::now() < until && (!p.toA || p.toB->state != ENET_PEER_STATE_CONNECTED)) {
        for (ENetHost* h : {p.a, p.b})
            while (enet_host_service(h, &ev, 1) > 0)
                if (ev.type == ENET_EVENT_TYPE_CONNECT && h == p.b) p.toA = ev.peer;
    }
    return p.toA && p.toB->state == ENET_PEER_STATE_CONNECTED;
}

// Sends `size` bytes from `data` to `peer` unreliably (as the service's unguaranteed messages
// leave) and flushes at once.
void SendBare(ENetHost* host, ENetPeer* peer, const uint8_t* data, size_t size) {
    ENetPacket* packet = enet_packet_create(data, size, ENET_PACKET_FLAG_UNSEQUENCED);
    if (packet && enet_peer_send(peer, 0, packet) != 0) enet_packet_destroy(packet);
    enet_host_flush(host);
}

// Waits on `host` for a received packet, copied into `into`; false after a second.
bool AwaitBare(ENetHost* host, std::vector<uint8_t>& into) {
    const auto until = Clock::now() + std::chrono::seconds(1);
    ENetEvent ev;
    while (Clock::now() < until) {
        if (enet_host_service(host, &ev, 1) <= 0 || ev.type != ENET_EVENT_TYPE_RECEIVE) continue;
        into.assign(ev.packet->data, ev.packet->data + ev.packet->dataLength);
        enet_packet_destroy(ev.packet);
        return true;
    }
    return false;
}

// The floor: the same 128-byte ping-pong between two bare ENet hosts serviced on this thread,
// without the service's pump threads, queues and locks.
void BM_RoundTrip128BareEnet(benchmark::State& state) {
    BarePair pair;
    if (!ConnectBare(pair)) return state.SkipWithError("no ENet connection");
    const Message body = StateBody();
    std::vector<uint8_t> in;
    std::vector<double> micros;
    int lost = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        SendBare(pair.a, pair.toB, body.Body().data(), body.Size());
        if (!AwaitBare(pair.b, in)) {
            ++lost;
            continue;
        }
        SendBare(pair.b, pair.toA, in.data(), in.size());
        if (!AwaitBare(pair.a, in)) {
            ++lost;
            continue;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    if (micros.empty()) return state.SkipWithError("every message was lost");
    gBareMedianUs = ReportLatency(state, micros, lost);
}
BENCHMARK(BM_RoundTrip128BareEnet)->Iterations(3000)->Unit(benchmark::kMicrosecond);

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
    if (micros.empty()) return state.SkipWithError("every message was lost");
    gServiceMedianUs = ReportLatency(state, micros, lost);
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

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (gServiceMedianUs > 0 && gBareMedianUs > 0)
        std::printf("round trip, service / bare ENet: %.2f (median %.1f us / %.1f us)\n",
                    gServiceMedianUs / gBareMedianUs, gServiceMedianUs, gBareMedianUs);
    return 0;
}

// platform/session/service_pump.cpp — transport of the session service: roster lookups,
// sending, the local message queue, the pump thread, the ENet host's set-up and teardown, and
// the intercept that screens every datagram before ENet reads it.
#include "platform/session/service_local.h"

#include <enet/time.h>

#include <algorithm>
#include <map>
#include <random>

namespace session {

using namespace detail;

namespace {

std::once_flag gEnetInit;

// ENet runs one intercept for every datagram a host receives, before reading it. Every ENet host
// of a Service is registered here with its owner, which screens connection attempts, and the
// share of datagrams a test wants lost. Entries are added and removed under the owner's mutex,
// which is also held whenever ENet runs. The registry is never destroyed: a Service held in a
// global closes its session during static destruction and still unregisters then.
struct HostHooks {
    Service::Impl* owner = nullptr;
    double loss = 0.0;
    std::mt19937 rng;
};
struct HookRegistry {
    std::mutex mutex;
    std::map<const ENetHost*, HostHooks> hosts;
};
HookRegistry& Hooks() {
    static HookRegistry* registry = new HookRegistry;
    return *registry;
}

int ENET_CALLBACK Intercept(ENetHost* host, ENetEvent*);

} // namespace

namespace detail {

uint64_t RandomU64() {
    std::random_device rd;
    return (uint64_t(rd()) << 32) ^ rd();
}

void InitEnetOnce() {
    std::call_once(gEnetInit, [] { enet_initialize(); });
}

} // namespace detail

Member* Service::Impl::FindMember(uint32_t seq) {
    for (Member& m : members)
        if (m.info.seq == seq) return &m;
    return nullptr;
}

Member* Service::Impl::FindPlayer(uint32_t id) {
    for (Member& m : members)
        if (m.info.player && m.info.player->id == id) return &m;
    return nullptr;
}

Member* Service::Impl::FindByPeer(ENetPeer* peer) {
    for (Member& m : members)
        if (m.peer == peer) return &m;
    return nullptr;
}

uint32_t Service::Impl::MyPlayerId() {
    Member* me = FindMember(mySeq);
    return me && me->info.player ? me->info.player->id : 0;
}

void Service::Impl::InsertMember(Member m) {
    auto at = std::find_if(members.begin(), members.end(),
                           [&](const Member& o) { return o.info.seq > m.info.seq; });
    members.insert(at, std::move(m));
}

ENetAddress Service::Impl::ToEnet(uint32_t ip, uint16_t port) {
    ENetAddress a;
    a.host = ENET_HOST_TO_NET_32(ip);
    a.port = port;
    return a;
}

void Service::Impl::ConfigurePeer(ENetPeer* peer) const {
    enet_peer_timeout(peer, 32, cfg.peerTimeoutMinMs, cfg.peerTimeoutMaxMs);
    enet_peer_ping_interval(peer, kPingIntervalMs);
}

void Service::Impl::SendPacket(ENetPeer* peer, const wire::Packet& p) {
    wire::Encode(p, scratch);
    ENetPacket* packet =
        enet_packet_create(scratch.data(), scratch.size(), ENET_PACKET_FLAG_RELIABLE);
    if (packet && enet_peer_send(peer, kReliableChannel, packet) != 0) enet_packet_destroy(packet);
}

void Service::Impl::SendBytes(ENetPeer* peer, const std::vector<uint8_t>& bytes, bool guaranteed) {
    ENetPacket* packet =
        enet_packet_create(bytes.data(), bytes.size(),
                           guaranteed ? ENET_PACKET_FLAG_RELIABLE : ENET_PACKET_FLAG_UNSEQUENCED);
    if (packet &&
        enet_peer_send(peer, guaranteed ? kReliableChannel : kUnreliableChannel, packet) != 0)
        enet_packet_destroy(packet);
}

// Host: sends p to every connected member except `exceptSeq`; held for reconnecting ones.
void Service::Impl::BroadcastControl(const wire::Packet& p, uint32_t exceptSeq) {
    wire::Encode(p, scratch);
    const std::vector<uint8_t> bytes = scratch;
    for (Member& m : members) {
        if (m.info.seq == mySeq || m.info.seq == exceptSeq) continue;
        if (m.peer)
            SendBytes(m.peer, bytes, true);
        else if (m.awaitingRejoin && m.outbox.size() < kMaxOutbox)
            m.outbox.push_back(bytes);
    }
}

void Service::Impl::QueueLocal(uint32_t from, uint32_t to, std::span<const uint8_t> body) {
    if (queue.size() >= kMaxQueued) return;
    Queued q;
    q.from = from;
    q.to = to;
    if (!spareBodies.empty()) {
        q.body = std::move(spareBodies.back());
        spareBodies.pop_back();
    }
    q.body.assign(body.begin(), body.end());
    queue.push_back(std::move(q));
}

void Service::Impl::QueuePlayerEvent(int32_t code, const wire::PlayerInfo& p) {
    Message m;
    m.WriteLong(code);
    m.WriteLong(kPlayerTypePlayer);
    m.WriteLong(static_cast<int32_t>(p.id));
    m.WriteString(p.friendly);
    m.WriteString(p.formal);
    QueueLocal(0, MyPlayerId(), m.Body());
}

void Service::Impl::QueueBecameHost() {
    Message m;
    m.WriteLong(kSysBecameHost);
    QueueLocal(0, MyPlayerId(), m.Body());
}

wire::Roster Service::Impl::MakeRoster() const {
    wire::Roster r;
    r.hostSeq = hostSeq;
    r.nextSeq = nextSeq;
    r.nextId = nextId;
    for (const Member& m : members) {
        wire::MemberInfo info = m.info;
        if (info.seq == mySeq) info.ip = 0; // "where you reach me"
        r.members.push_back(info);
    }
    return r;
}

uint32_t Service::Impl::AllocatePlayerId() {
    for (;;) {
        uint32_t id = nextId++;
        if (nextId == 0 || nextId > 0x7FFFFFFF) nextId = 1;
        if (id != 0 && id <= 0x7FFFFFFF && !FindPlayer(id)) return id;
    }
}

size_t Service::Impl::Machines() const {
    return static_cast<size_t>(std::count_if(members.begin(), members.end(),
                                             [](const Member& m) { return !m.info.standIn; }));
}

bool Service::Impl::IsStandIn(uint32_t id) const {
    const Member* m = id ? FindPlayer(id) : nullptr;
    return m && m->info.standIn;
}

void Service::Impl::HandleEvent(const ENetEvent& ev) {
    switch (ev.type) {
    case ENET_EVENT_TYPE_CONNECT:
        if (role == Role::Host)
            HostOnConnect(ev.peer);
        else
            ClientOnConnect(ev.peer);
        // Once connected, whether the peer lives is Silent()'s call: anything received from it
        // keeps it. ENet's own rule would also drop it when one guaranteed datagram goes
        // unacknowledged that long, which a lossy link on a busy machine meets (its resend
        // time-out grows with the measured round trip) while the peer is still talking. Set
        // last: the handlers above configure the peer for the handshake.
        enet_peer_timeout(ev.peer, 32, cfg.peerTimeoutMinMs * kConnectedTimeoutFactor,
                          cfg.peerTimeoutMaxMs * kConnectedTimeoutFactor);
        break;
    case ENET_EVENT_TYPE_RECEIVE:
        heardAt[ev.peer] = host->serviceTime;
        if (role == Role::Host)
            HostOnReceive(ev.peer, ev.packet, ev.channelID);
        else
            ClientOnReceive(ev.peer, ev.packet);
        enet_packet_destroy(ev.packet);
        break;
    case ENET_EVENT_TYPE_DISCONNECT:
        if (role == Role::Host)
            HostOnDisconnect(ev.peer);
        else if (ev.peer == hostPeer && role != Role::Lost)
            ClientOnHostLost();
        else
            pending.erase(ev.peer);
        break;
    case ENET_EVENT_TYPE_NONE:
        break;
    }
}

void Service::Impl::CheckTimers() {
    const auto now = Clock::now();
    for (auto it = pending.begin(); it != pending.end();) {
        if (now - it->second.since > milliseconds(cfg.answerTimeoutMs / 2)) {
            enet_peer_reset(it->first);
            it = pending.erase(it);
        } else {
            ++it;
        }
    }
    if (role == Role::Host) {
        std::vector<uint32_t> late;
        for (const Member& m : members)
            if ((m.awaitingRejoin && now > m.rejoinDeadline) || (m.peer && Silent(*m.peer)))
                late.push_back(m.info.seq);
        for (uint32_t s : late) {
            if (Member* m = FindMember(s); m && m->peer) enet_peer_reset(m->peer);
            HostRemoveMember(s);
        }
    } else if (role == Role::Client && hostPeer && Silent(*hostPeer)) {
        ClientOnHostLost();
    } else if (role == Role::Migrating && now > migrateDeadline) {
        // The elected host never answered: it is gone too.
        ClientOnHostLost();
    }
}

// A connected peer from which nothing arrived for peerTimeoutMaxMs, neither an acknowledgement
// nor a message, is gone. ENet's own rule waits for a resend time-out first, which a loaded
// machine stretches to seconds more. Both sides ping every kPingIntervalMs while nothing
// guaranteed is on its way, and a match sends STATE many times a second, so a live peer is
// heard several times a second even over a lossy link.
bool Service::Impl::Silent(const ENetPeer& p) const {
    if (p.state != ENET_PEER_STATE_CONNECTED || p.lastReceiveTime == 0) return false;
    enet_uint32 last = p.lastReceiveTime;
    if (const auto it = heardAt.find(&p);
        it != heardAt.end() && ENET_TIME_GREATER(it->second, last))
        last = it->second;
    return ENET_TIME_DIFFERENCE(host->serviceTime, last) > cfg.peerTimeoutMaxMs;
}

void Service::Impl::ServiceNow() {
    callerServicedAt.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
    ENetEvent ev;
    for (int i = 0; i < kMaxEventsPerRound && host && enet_host_service(host, &ev, 0) > 0; ++i)
        HandleEvent(ev);
    if (host) enet_host_flush(host);
}

void Service::Impl::CountTraffic() {
    if (!host) return;
    traffic.sentBytes += host->totalSentData;
    traffic.receivedBytes += host->totalReceivedData;
    host->totalSentData = 0;
    host->totalReceivedData = 0;
}

void Service::Impl::PumpOnce() {
    ENetEvent ev;
    for (int i = 0; i < kMaxEventsPerRound && host && enet_host_service(host, &ev, 0) > 0; ++i)
        HandleEvent(ev);
    AnswerEnumerations();
    CheckTimers();
    if (host) enet_host_flush(host);
}

void Service::Impl::PumpLoop() {
    while (!stopPump.load()) {
        // A game thread polling continually takes in the socket itself, at once; competing with
        // it for the lock at every datagram would only delay both.
        const Clock::duration since =
            Clock::now().time_since_epoch() -
            Clock::duration(callerServicedAt.load(std::memory_order_relaxed));
        if (since < kCallerPolling) {
            std::this_thread::sleep_for(kCallerPolling - since);
            std::lock_guard lock(mutex);
            AnswerEnumerations();
            CheckTimers();
            continue;
        }
        ENetSocket a = ENET_SOCKET_NULL, b = ENET_SOCKET_NULL;
        {
            std::lock_guard lock(mutex);
            PumpOnce();
            if (host) a = host->socket;
            b = discovery;
        }
        ENetSocketSet set;
        ENET_SOCKETSET_EMPTY(set);
        ENetSocket maxSocket = 0;
        if (a != ENET_SOCKET_NULL) {
            ENET_SOCKETSET_ADD(set, a);
            maxSocket = std::max(maxSocket, a);
        }
        if (b != ENET_SOCKET_NULL) {
            ENET_SOCKETSET_ADD(set, b);
            maxSocket = std::max(maxSocket, b);
        }
        if (enet_socketset_select(maxSocket, &set, nullptr, 10) < 0)
            std::this_thread::sleep_for(milliseconds(5));
    }
}

Error Service::Impl::CreateEnetHost() {
    InitEnetOnce();
    ENetAddress any{ENET_HOST_ANY, 0};
    host = enet_host_create(&any, kEnetPeers, kChannelCount, 0, 0);
    if (!host) return Error::NetworkFailure;
    host->maximumPacketSize = wire::kDataHeaderBytes + Message::kMaxBytes;
    host->maximumWaitingData = 4 * 1024 * 1024;
    {
        HookRegistry& registry = Hooks();
        std::lock_guard lock(registry.mutex);
        registry.hosts[host] = {this, cfg.testIncomingLoss,
                                std::mt19937(static_cast<uint32_t>(RandomU64()))};
    }
    host->intercept = Intercept;
    // ENet binds to the requested port 0; read back the real one.
    ENetAddress bound;
    if (enet_socket_get_address(host->socket, &bound) == 0) host->address.port = bound.port;
    return Error::Ok;
}

void Service::Impl::StartPump() {
    stopPump = false;
    pump = std::thread([this] { PumpLoop(); });
}

void Service::Impl::StopPump() {
    stopPump = true;
    if (pump.joinable()) pump.join();
}

// Tears the session down. Called without the pump running.
void Service::Impl::Teardown() {
    CountTraffic();
    if (host) {
        // Say goodbye so the others react at once instead of waiting for a time-out.
        bool any = false;
        for (size_t i = 0; i < host->peerCount; ++i) {
            ENetPeer* p = &host->peers[i];
            if (p->state == ENET_PEER_STATE_CONNECTED) {
                enet_peer_disconnect_later(p, 0);
                any = true;
            } else if (p->state != ENET_PEER_STATE_DISCONNECTED) {
                enet_peer_reset(p);
            }
        }
        const auto until = Clock::now() + milliseconds(300);
        ENetEvent ev;
        while (any && Clock::now() < until) {
            if (enet_host_service(host, &ev, 10) > 0 && ev.type == ENET_EVENT_TYPE_RECEIVE)
                enet_packet_destroy(ev.packet);
            any = false;
            for (size_t i = 0; i < host->peerCount; ++i)
                if (host->peers[i].state != ENET_PEER_STATE_DISCONNECTED) any = true;
        }
        {
            HookRegistry& registry = Hooks();
            std::lock_guard lock(registry.mutex);
            registry.hosts.erase(host);
        }
        enet_host_destroy(host);
    }
    host = nullptr;
    hostPeer = nullptr;
    CloseDiscovery();
    role = Role::Closed;
    members.clear();
    pending.clear();
    unadmitted.clear();
    clientOutbox.clear();
    queue.clear();
    joinState = JoinState::Idle;
    creating.reset();
    createAnswer.reset();
    desc = SessionDesc{};
}

namespace {

int ENET_CALLBACK Intercept(ENetHost* host, ENetEvent*) {
    HookRegistry& registry = Hooks();
    std::lock_guard lock(registry.mutex);
    auto it = registry.hosts.find(host);
    if (it == registry.hosts.end()) return 0;
    HostHooks& hooks = it->second;
    if (hooks.loss > 0) {
        std::uniform_real_distribution<double> u(0.0, 1.0);
        if (u(hooks.rng) < hooks.loss) return 1; // thrown away
    }
    // The header's first 16 bits (network order) hold the peer id in their low 12 bits; a
    // handshake's first datagram names no peer yet.
    if (host->receivedDataLength >= 2 && hooks.owner) {
        const unsigned peerID = (unsigned(host->receivedData[0]) << 8) | host->receivedData[1];
        if ((peerID & ENET_PROTOCOL_MAXIMUM_PEER_ID) == ENET_PROTOCOL_MAXIMUM_PEER_ID)
            hooks.owner->ScreenConnectAttempt(host->receivedAddress);
    }
    return 0;
}

} // namespace

} // namespace session

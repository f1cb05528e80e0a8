// platform/session/service.cpp — the session service over ENet.
//
// Index
//   1. Impl state
//   2. Helpers: addresses, packets, local queue, system events
//   3. Pump thread
//   4. Host side: joins, rejoins, players, relaying, departures
//   5. Client side: roster updates, host loss and election, reconnecting
//   6. Discovery (answering) and enumeration (asking)
//   7. Public API
//
// Roles: Host (answers enumeration, assigns seqs and ids, relays), Client (connected to the host),
// Migrating (host lost, reconnecting to the elected one), Lost (session ended under us).
// All state below is guarded by Impl::mutex; the pump thread and API calls take it in turn.
#include "platform/session/session.h"
#include "platform/session/wire.h"

#include <enet/enet.h>
#include <enet/time.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <unordered_map>

namespace session {

// ---------------------------------------------------------------------------------------------
// 1. Impl state
// ---------------------------------------------------------------------------------------------

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr uint8_t kReliableChannel = 0;   // control datagrams and guaranteed messages, ordered
constexpr uint8_t kUnreliableChannel = 1; // other messages, unsequenced
constexpr size_t kChannelCount = 2;
constexpr size_t kEnetPeers = 32;
constexpr uint32_t kPingIntervalMs = 200;
constexpr auto kRejoinGrace = milliseconds(4000);   // new host waits for old members
constexpr auto kRejoinTimeout = milliseconds(5000); // member waits for the new host
constexpr auto kDefaultEnumTimeout = milliseconds(750);
constexpr size_t kMaxQueued = 8192; // waiting messages; more are dropped
// Connections not admitted yet (handshakes under way, connected peers that have not joined,
// refused ones saying goodbye), from one address and in all. A new attempt beyond either limit
// pushes out the oldest, so a flood of handshakes that are never completed cannot hold every
// connection slot: a real joiner completes its handshake within one round trip.
constexpr size_t kMaxUnadmittedPerAddress = 4;
constexpr size_t kMaxUnadmitted = 8;
static_assert(kMaxPlayersLimit + kMaxUnadmitted + 2 <= kEnetPeers,
              "members, unadmitted connections and the link to the host fit the ENet host");
constexpr size_t kMaxOutbox = 1024; // guaranteed packets held for a reconnecting member
constexpr int kMaxEventsPerRound = 512;

enum class Role { Closed, Host, Client, Migrating, Lost };

struct Member {
    wire::MemberInfo info;
    ENetPeer* peer = nullptr; // host side: the member's connection
    bool awaitingRejoin = false;
    Clock::time_point rejoinDeadline{};
    std::deque<std::vector<uint8_t>> outbox; // guaranteed packets held until it rejoins
};

// A connection that has not joined yet (host side), or a reconnecting member that reached this
// machine before it noticed the host was gone (kept until it becomes host or gives up).
struct PendingPeer {
    Clock::time_point since;
    std::optional<wire::Rejoin> rejoin;
};

struct Queued {
    uint32_t from = 0;
    uint32_t to = 0;
    std::vector<uint8_t> body;
};

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

uint64_t RandomU64() {
    std::random_device rd;
    return (uint64_t(rd()) << 32) ^ rd();
}

// A fresh rejoin secret from the system's cryptographic generator.
wire::Secret NewSecret() {
    wire::Secret secret{};
    if (RAND_bytes(secret.data(), static_cast<int>(secret.size())) != 1) {
        std::random_device rd;
        for (uint8_t& b : secret)
            b = static_cast<uint8_t>(rd());
    }
    return secret;
}

// The verifier of a secret: the first bytes of its SHA-256 (all zero if hashing failed, which
// no secret matches).
wire::Verifier VerifierOf(const wire::Secret& secret) {
    wire::Verifier v{};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (EVP_Digest(secret.data(), secret.size(), digest, &n, EVP_sha256(), nullptr) == 1 &&
        n >= v.size())
        std::memcpy(v.data(), digest, v.size());
    return v;
}

bool SecretMatches(const wire::Secret& secret, const wire::Verifier& v) {
    if (v == wire::Verifier{}) return false;
    const wire::Verifier got = VerifierOf(secret);
    return CRYPTO_memcmp(got.data(), v.data(), v.size()) == 0;
}

// `text` cut to at most kMaxNameBytes bytes, never inside a UTF-8 character.
std::string FitName(std::string_view text) {
    if (text.size() <= kMaxNameBytes) return std::string(text);
    size_t n = kMaxNameBytes;
    while (n > 0 && (static_cast<uint8_t>(text[n]) & 0xC0) == 0x80)
        --n;
    return std::string(text.substr(0, n));
}

} // namespace

struct Service::Impl {
    ServiceConfig cfg;
    mutable std::mutex mutex;
    std::condition_variable answered;
    std::thread pump;
    std::atomic<bool> stopPump{false};

    bool initialized = false;
    ProviderKind provider = ProviderKind::Lan;
    Address target;

    Role role = Role::Closed;
    ENetHost* host = nullptr;
    ENetSocket discovery = ENET_SOCKET_NULL;
    ENetPeer* hostPeer = nullptr; // client/migrating: connection to the (candidate) host
    Clock::time_point migrateDeadline{};

    SessionDesc desc;
    wire::Secret mySecret{}; // client: presented when rejoining a new host
    uint32_t mySeq = 0;
    uint32_t hostSeq = 0;
    uint32_t nextSeq = 1;
    uint32_t nextId = 1;
    std::vector<Member> members; // in join order (seq ascending)
    std::unordered_map<ENetPeer*, PendingPeer> pending;
    // Every connection not admitted yet, with the order it arrived in (see kMaxUnadmitted).
    struct Unadmitted {
        uint32_t connectID = 0; // tells a reused ENet peer slot from the connection it held
        uint64_t order = 0;
    };
    std::unordered_map<ENetPeer*, Unadmitted> unadmitted;
    uint64_t arrivals = 0;

    // Answers awaited by blocking calls.
    enum class JoinState { Idle, Waiting, Accepted, Refused } joinState = JoinState::Idle;
    Error joinError = Error::Ok;
    // The local player a client asked the host for (id 0 until answered). The pump thread
    // records it in the roster as soon as the answer arrives, so messages sent to the new player
    // right after the host's answer are kept even when the caller wakes up late.
    std::optional<wire::PlayerInfo> creating;
    std::optional<uint32_t> createAnswer;

    std::deque<std::vector<uint8_t>> clientOutbox; // guaranteed packets while migrating
    std::deque<Queued> queue;
    std::vector<std::vector<uint8_t>> spareBodies;
    std::vector<uint8_t> scratch;

    // ---- 2. Helpers ---------------------------------------------------------------------------

    Member* FindMember(uint32_t seq) {
        for (Member& m : members)
            if (m.info.seq == seq) return &m;
        return nullptr;
    }
    Member* FindPlayer(uint32_t id) {
        for (Member& m : members)
            if (m.info.player && m.info.player->id == id) return &m;
        return nullptr;
    }
    const Member* FindPlayer(uint32_t id) const { return const_cast<Impl*>(this)->FindPlayer(id); }
    Member* FindByPeer(ENetPeer* peer) {
        for (Member& m : members)
            if (m.peer == peer) return &m;
        return nullptr;
    }
    Member& Me() { return *FindMember(mySeq); }
    uint32_t MyPlayerId() {
        Member* me = FindMember(mySeq);
        return me && me->info.player ? me->info.player->id : 0;
    }
    void InsertMember(Member m) {
        auto at = std::find_if(members.begin(), members.end(),
                               [&](const Member& o) { return o.info.seq > m.info.seq; });
        members.insert(at, std::move(m));
    }

    static ENetAddress ToEnet(uint32_t ip, uint16_t port) {
        ENetAddress a;
        a.host = ENET_HOST_TO_NET_32(ip);
        a.port = port;
        return a;
    }
    static uint32_t IpOf(const ENetAddress& a) { return ENET_NET_TO_HOST_32(a.host); }

    void ConfigurePeer(ENetPeer* peer) const {
        enet_peer_timeout(peer, 32, cfg.peerTimeoutMinMs, cfg.peerTimeoutMaxMs);
        enet_peer_ping_interval(peer, kPingIntervalMs);
    }

    void SendPacket(ENetPeer* peer, const wire::Packet& p) {
        wire::Encode(p, scratch);
        ENetPacket* packet =
            enet_packet_create(scratch.data(), scratch.size(), ENET_PACKET_FLAG_RELIABLE);
        if (packet && enet_peer_send(peer, kReliableChannel, packet) != 0)
            enet_packet_destroy(packet);
    }
    void SendBytes(ENetPeer* peer, const std::vector<uint8_t>& bytes, bool guaranteed) {
        ENetPacket* packet = enet_packet_create(bytes.data(), bytes.size(),
                                                guaranteed ? ENET_PACKET_FLAG_RELIABLE
                                                           : ENET_PACKET_FLAG_UNSEQUENCED);
        if (packet &&
            enet_peer_send(peer, guaranteed ? kReliableChannel : kUnreliableChannel, packet) != 0)
            enet_packet_destroy(packet);
    }
    // Host: sends p to every connected member except `exceptSeq`; held for reconnecting ones.
    void BroadcastControl(const wire::Packet& p, uint32_t exceptSeq) {
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

    void QueueLocal(uint32_t from, uint32_t to, std::span<const uint8_t> body) {
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
    void QueuePlayerEvent(int32_t code, const wire::PlayerInfo& p) {
        Message m;
        m.WriteLong(code);
        m.WriteLong(kPlayerTypePlayer);
        m.WriteLong(static_cast<int32_t>(p.id));
        m.WriteString(p.friendly);
        m.WriteString(p.formal);
        QueueLocal(0, MyPlayerId(), m.Body());
    }
    void QueueBecameHost() {
        Message m;
        m.WriteLong(kSysBecameHost);
        QueueLocal(0, MyPlayerId(), m.Body());
    }

    wire::Roster MakeRoster() const {
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

    uint32_t AllocatePlayerId() {
        for (;;) {
            uint32_t id = nextId++;
            if (nextId == 0 || nextId > 0x7FFFFFFF) nextId = 1;
            if (id != 0 && id <= 0x7FFFFFFF && !FindPlayer(id)) return id;
        }
    }

    // ---- 4. Host side --------------------------------------------------------------------------

    // Connection attempts. ENet gives a peer slot to every handshake it receives and tells us only
    // once the handshake completes, so the limits on unadmitted connections are kept here, before
    // ENet reads an attempt: when the attempt's address or the whole host is at its limit, the
    // oldest unadmitted connection (of that address, else of all) makes room.
    bool IsUnadmitted(const ENetPeer& p) const {
        if (p.state == ENET_PEER_STATE_DISCONNECTED || &p == hostPeer) return false;
        for (const Member& m : members)
            if (m.peer == &p) return false;
        return true;
    }
    void TrackUnadmitted() {
        for (size_t i = 0; i < host->peerCount; ++i) {
            ENetPeer* p = &host->peers[i];
            if (!IsUnadmitted(*p)) {
                unadmitted.erase(p);
                continue;
            }
            auto it = unadmitted.find(p);
            if (it == unadmitted.end() || it->second.connectID != p->connectID)
                unadmitted[p] = Unadmitted{p->connectID, ++arrivals};
        }
    }
    // Called by the intercept for a datagram from `from` that names no peer: a new handshake.
    void ScreenConnectAttempt(const ENetAddress& from) {
        TrackUnadmitted();
        ENetPeer* oldestHere = nullptr;
        ENetPeer* oldest = nullptr;
        uint64_t oldestHereOrder = 0, oldestOrder = 0;
        size_t here = 0;
        for (const auto& [p, u] : unadmitted) {
            // A resent handshake of a connection under way takes no new slot.
            if (p->address.host == from.host && p->address.port == from.port) return;
            if (p->address.host == from.host) {
                ++here;
                if (!oldestHere || u.order < oldestHereOrder) {
                    oldestHere = p;
                    oldestHereOrder = u.order;
                }
            }
            if (!oldest || u.order < oldestOrder) {
                oldest = p;
                oldestOrder = u.order;
            }
        }
        if (here >= kMaxUnadmittedPerAddress)
            Evict(oldestHere);
        else if (unadmitted.size() >= kMaxUnadmitted)
            Evict(oldest);
    }
    void Evict(ENetPeer* p) {
        pending.erase(p);
        unadmitted.erase(p);
        enet_peer_reset(p);
    }

    void HostOnConnect(ENetPeer* peer) {
        ConfigurePeer(peer);
        pending[peer] = PendingPeer{Clock::now(), std::nullopt};
    }

    void Refuse(ENetPeer* peer, Error reason) {
        SendPacket(peer, wire::JoinRefuse{static_cast<uint8_t>(reason)});
        enet_peer_disconnect_later(peer, 0);
        pending.erase(peer);
    }

    // A new machine asks in. The session's limit counts members, so players never exceed it.
    void HostOnJoin(ENetPeer* peer, const wire::JoinRequest& req) {
        if (req.application != desc.application) return Refuse(peer, Error::WrongGuid);
        if (!desc.password.empty() && req.password != desc.password)
            return Refuse(peer, Error::WrongPassword);
        if (members.size() >= static_cast<size_t>(desc.maxPlayers))
            return Refuse(peer, Error::SessionFull);
        pending.erase(peer);
        Member m;
        m.info.seq = nextSeq++;
        m.info.ip = IpOf(peer->address);
        m.info.port = peer->address.port;
        const wire::Secret secret = NewSecret();
        m.info.verifier = VerifierOf(secret);
        m.peer = peer;
        const wire::MemberInfo info = m.info;
        InsertMember(std::move(m));
        wire::JoinAccept acc;
        acc.yourSeq = info.seq;
        acc.secret = secret;
        acc.instance = desc.instance;
        acc.maxPlayers = static_cast<uint8_t>(desc.maxPlayers);
        acc.flags = desc.flags;
        acc.name = desc.name;
        acc.roster = MakeRoster();
        SendPacket(peer, acc);
        BroadcastControl(wire::MemberAdded{info, nextSeq}, info.seq);
    }

    // A member reconnecting after the host it had was lost. Only a member this machine waits for
    // gets back in, and only with the secret its verifier proves: nobody takes another member's
    // place, comes back while still connected, or brings in a member the session never admitted.
    // Its own view of its player wins, within the rules: the player's id is nobody else's, and a
    // player the session has no seat for is refused.
    void HostOnRejoin(ENetPeer* peer, const wire::Rejoin& rj) {
        Member* m = FindMember(rj.seq);
        if (!m || rj.seq == mySeq || !m->awaitingRejoin ||
            !SecretMatches(rj.secret, m->info.verifier))
            return Refuse(peer, Error::InvalidPlayer);
        if (rj.player) {
            const Member* owner = FindPlayer(rj.player->id);
            if (owner && owner != m) return Refuse(peer, Error::InvalidPlayer);
            if (!m->info.player && CurrentPlayers() >= desc.maxPlayers)
                return Refuse(peer, Error::SessionFull);
        }
        pending.erase(peer);
        m->peer = peer;
        m->awaitingRejoin = false;
        m->info.ip = IpOf(peer->address);
        m->info.port = peer->address.port;
        // This machine has seen the secret: the member gets a new one.
        const wire::Secret next = NewSecret();
        m->info.verifier = VerifierOf(next);
        if (m->info.player != rj.player) {
            if (m->info.player) {
                const wire::PlayerInfo old = *m->info.player;
                m->info.player.reset();
                QueuePlayerEvent(kSysPlayerDestroyed, old);
                BroadcastControl(wire::PlayerRemoved{old.id}, rj.seq);
            }
            if (rj.player) {
                m->info.player = rj.player;
                if (rj.player->id >= nextId) nextId = rj.player->id + 1;
                QueuePlayerEvent(kSysPlayerCreated, *rj.player);
            }
        }
        BroadcastControl(wire::MemberAdded{m->info, nextSeq}, rj.seq);
        if (m->info.player)
            BroadcastControl(wire::PlayerAdded{rj.seq, *m->info.player, nextId}, rj.seq);
        SendPacket(peer, wire::RejoinAccept{MakeRoster(), next});
        for (const auto& bytes : m->outbox)
            SendBytes(peer, bytes, true);
        m->outbox.clear();
    }

    // One player per member, and never more players than the session's limit.
    void HostOnCreatePlayer(Member& m, const wire::CreatePlayer& req) {
        if (m.info.player || CurrentPlayers() >= desc.maxPlayers) {
            SendPacket(m.peer, wire::CreatePlayerReply{0});
            return;
        }
        wire::PlayerInfo p{AllocatePlayerId(), FitName(req.friendly), FitName(req.formal)};
        m.info.player = p;
        SendPacket(m.peer, wire::CreatePlayerReply{p.id});
        BroadcastControl(wire::PlayerAdded{m.info.seq, p, nextId}, m.info.seq);
        QueuePlayerEvent(kSysPlayerCreated, p);
    }

    void HostOnDestroyPlayer(Member& m, uint32_t id) {
        if (!m.info.player || m.info.player->id != id) return;
        const wire::PlayerInfo p = *m.info.player;
        m.info.player.reset();
        BroadcastControl(wire::PlayerRemoved{p.id}, m.info.seq);
        QueuePlayerEvent(kSysPlayerDestroyed, p);
    }

    // Delivers a Data datagram (bytes = header + body) sent by member senderSeq.
    void HostRoute(uint32_t senderSeq, uint32_t from, uint32_t to,
                   std::span<const uint8_t> datagram, bool guaranteed) {
        const auto body = datagram.subspan(wire::kDataHeaderBytes);
        const uint32_t me = MyPlayerId();
        if (to == 0 || to == me) {
            if (me != 0 && from != me) QueueLocal(from, me, body);
            if (to != 0) return;
        }
        ENetPacket* packet = nullptr;
        for (Member& m : members) {
            if (m.info.seq == mySeq || m.info.seq == senderSeq || !m.info.player) continue;
            if (to != 0 && m.info.player->id != to) continue;
            if (m.peer) {
                if (!packet) {
                    packet = enet_packet_create(datagram.data(), datagram.size(),
                                                guaranteed ? ENET_PACKET_FLAG_RELIABLE
                                                           : ENET_PACKET_FLAG_UNSEQUENCED);
                    if (!packet) return;
                }
                enet_peer_send(m.peer, guaranteed ? kReliableChannel : kUnreliableChannel, packet);
            } else if (guaranteed && m.awaitingRejoin && m.outbox.size() < kMaxOutbox) {
                m.outbox.emplace_back(datagram.begin(), datagram.end());
            }
        }
        if (packet && packet->referenceCount == 0) enet_packet_destroy(packet);
    }

    // Host: a member left or vanished; everyone else forgets it and its player.
    void HostRemoveMember(uint32_t seq) {
        Member* m = FindMember(seq);
        if (!m || seq == mySeq) return;
        const std::optional<wire::PlayerInfo> p = m->info.player;
        members.erase(members.begin() + (m - members.data()));
        BroadcastControl(wire::MemberRemoved{seq}, seq);
        if (p) QueuePlayerEvent(kSysPlayerDestroyed, *p);
    }

    void HostOnReceive(ENetPeer* peer, const ENetPacket* packet, uint8_t channel) {
        const std::span<const uint8_t> bytes(packet->data, packet->dataLength);
        const std::optional<wire::Packet> p = wire::Decode(bytes);
        if (!p) return;
        if (pending.count(peer)) {
            if (auto* j = std::get_if<wire::JoinRequest>(&*p))
                HostOnJoin(peer, *j);
            else if (auto* r = std::get_if<wire::Rejoin>(&*p))
                HostOnRejoin(peer, *r);
            return;
        }
        Member* m = FindByPeer(peer);
        if (!m) return;
        if (auto* c = std::get_if<wire::CreatePlayer>(&*p))
            HostOnCreatePlayer(*m, *c);
        else if (auto* d = std::get_if<wire::DestroyPlayer>(&*p))
            HostOnDestroyPlayer(*m, d->id);
        else if (auto* data = std::get_if<wire::Data>(&*p)) {
            // A member speaks only for its own player.
            if (!m->info.player || data->from != m->info.player->id) return;
            if (data->to != 0 && !FindPlayer(data->to)) return;
            HostRoute(m->info.seq, data->from, data->to, bytes, channel == kReliableChannel);
        }
    }

    void HostOnDisconnect(ENetPeer* peer) {
        pending.erase(peer);
        if (Member* m = FindByPeer(peer)) HostRemoveMember(m->info.seq);
    }

    void BecomeHost() {
        role = Role::Host;
        hostSeq = mySeq;
        hostPeer = nullptr;
        const auto deadline = Clock::now() + kRejoinGrace;
        for (Member& m : members) {
            if (m.info.seq == mySeq) continue;
            m.peer = nullptr;
            m.awaitingRejoin = true;
            m.rejoinDeadline = deadline;
        }
        OpenDiscovery();
        QueueBecameHost();
        // Members that reached us before we noticed the host was gone.
        std::vector<std::pair<ENetPeer*, wire::Rejoin>> early;
        for (auto& [peer, pp] : pending)
            if (pp.rejoin) early.emplace_back(peer, *pp.rejoin);
        for (auto& [peer, rj] : early)
            HostOnRejoin(peer, rj);
        answered.notify_all();
    }

    // ---- 5. Client side ------------------------------------------------------------------------

    void LoadRoster(const wire::Roster& r, uint32_t senderIp) {
        hostSeq = r.hostSeq;
        nextSeq = r.nextSeq;
        nextId = r.nextId;
        for (const wire::MemberInfo& info : r.members) {
            Member m;
            m.info = info;
            if (m.info.ip == 0) m.info.ip = senderIp;
            InsertMember(std::move(m));
        }
    }

    // Replaces the roster with the new host's, raising events for every difference.
    void MergeRoster(const wire::Roster& r, uint32_t senderIp) {
        const uint32_t me = MyPlayerId();
        std::vector<Member> old = std::move(members);
        members.clear();
        LoadRoster(r, senderIp);
        for (const Member& o : old) {
            if (o.info.seq == mySeq) continue;
            const Member* n = FindMember(o.info.seq);
            if (o.info.player && (!n || n->info.player != o.info.player))
                QueuePlayerEvent(kSysPlayerDestroyed, *o.info.player);
        }
        for (const Member& n : members) {
            if (n.info.seq == mySeq || !n.info.player || n.info.player->id == me) continue;
            auto o = std::find_if(old.begin(), old.end(),
                                  [&](const Member& x) { return x.info.seq == n.info.seq; });
            if (o == old.end() || o->info.player != n.info.player)
                QueuePlayerEvent(kSysPlayerCreated, *n.info.player);
        }
        // Our own entry is ours to describe.
        auto mine = std::find_if(old.begin(), old.end(),
                                 [&](const Member& x) { return x.info.seq == mySeq; });
        if (Member* self = FindMember(mySeq); self && mine != old.end())
            self->info.player = mine->info.player;
        else if (mine != old.end())
            InsertMember(*mine);
    }

    void ClientRemoveMember(uint32_t seq) {
        Member* m = FindMember(seq);
        if (!m || seq == mySeq) return;
        const std::optional<wire::PlayerInfo> p = m->info.player;
        members.erase(members.begin() + (m - members.data()));
        if (p) QueuePlayerEvent(kSysPlayerDestroyed, *p);
    }

    void ClientOnReceive(ENetPeer* peer, const ENetPacket* packet) {
        const std::optional<wire::Packet> p =
            wire::Decode(std::span<const uint8_t>(packet->data, packet->dataLength));
        if (!p) return;
        if (peer != hostPeer) {
            // Someone reconnecting to us as the new host before we noticed; keep it for later.
            auto it = pending.find(peer);
            if (it != pending.end())
                if (auto* r = std::get_if<wire::Rejoin>(&*p)) it->second.rejoin = *r;
            return;
        }
        const uint32_t senderIp = IpOf(peer->address);
        if (joinState == JoinState::Waiting) {
            if (auto* acc = std::get_if<wire::JoinAccept>(&*p)) {
                mySeq = acc->yourSeq;
                mySecret = acc->secret;
                desc.instance = acc->instance;
                desc.maxPlayers = acc->maxPlayers;
                desc.flags = acc->flags;
                desc.name = acc->name;
                members.clear();
                LoadRoster(acc->roster, senderIp);
                if (!FindMember(mySeq)) {
                    Member self;
                    self.info.seq = mySeq;
                    InsertMember(std::move(self));
                }
                role = Role::Client;
                joinState = JoinState::Accepted;
            } else if (auto* ref = std::get_if<wire::JoinRefuse>(&*p)) {
                joinState = JoinState::Refused;
                joinError = static_cast<Error>(ref->reason);
                if (joinError == Error::Ok) joinError = Error::NoSuchSession;
            }
            answered.notify_all();
            return;
        }
        if (role == Role::Migrating) {
            if (std::holds_alternative<wire::JoinRefuse>(*p)) {
                LoseSession(); // the new host does not take us back
            } else if (auto* acc = std::get_if<wire::RejoinAccept>(&*p)) {
                mySecret = acc->secret;
                MergeRoster(acc->roster, senderIp);
                role = Role::Client;
                for (const auto& bytes : clientOutbox)
                    SendBytes(hostPeer, bytes, true);
                clientOutbox.clear();
                answered.notify_all();
            }
            return;
        }
        if (role != Role::Client) return;
        std::visit(
            [&](const auto& v) {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, wire::Data>) {
                    const uint32_t me = MyPlayerId();
                    if (me != 0 && v.from != me && (v.to == 0 || v.to == me))
                        QueueLocal(v.from, me, v.body);
                } else if constexpr (std::is_same_v<T, wire::CreatePlayerReply>) {
                    if (creating && !createAnswer) {
                        createAnswer = v.id;
                        if (v.id != 0 && FindMember(mySeq)) {
                            creating->id = v.id;
                            Me().info.player = *creating;
                        }
                        answered.notify_all();
                    }
                } else if constexpr (std::is_same_v<T, wire::PlayerAdded>) {
                    nextId = std::max(nextId, v.nextId);
                    Member* m = FindMember(v.seq);
                    if (!m || v.seq == mySeq || m->info.player == v.player) return;
                    if (m->info.player) QueuePlayerEvent(kSysPlayerDestroyed, *m->info.player);
                    m->info.player = v.player;
                    QueuePlayerEvent(kSysPlayerCreated, v.player);
                } else if constexpr (std::is_same_v<T, wire::PlayerRemoved>) {
                    Member* m = FindPlayer(v.id);
                    if (!m || m->info.seq == mySeq) return;
                    const wire::PlayerInfo old = *m->info.player;
                    m->info.player.reset();
                    QueuePlayerEvent(kSysPlayerDestroyed, old);
                } else if constexpr (std::is_same_v<T, wire::MemberAdded>) {
                    nextSeq = std::max(nextSeq, v.nextSeq);
                    if (v.member.seq == mySeq) return;
                    if (Member* m = FindMember(v.member.seq)) {
                        m->info.ip = v.member.ip;
                        m->info.port = v.member.port;
                    } else {
                        Member m2;
                        m2.info = v.member;
                        m2.info.player.reset(); // players arrive with PlayerAdded
                        InsertMember(std::move(m2));
                    }
                } else if constexpr (std::is_same_v<T, wire::MemberRemoved>) {
                    ClientRemoveMember(v.seq);
                }
            },
            *p);
    }

    // The connection to the host (or to the candidate host) is gone.
    void ClientOnHostLost() {
        if (joinState == JoinState::Waiting || joinState == JoinState::Refused) {
            if (joinState == JoinState::Waiting) joinError = Error::NoSuchSession;
            joinState = JoinState::Refused;
            hostPeer = nullptr;
            answered.notify_all();
            return;
        }
        if (hostPeer) enet_peer_reset(hostPeer);
        hostPeer = nullptr;
        ClientRemoveMember(hostSeq);
        // Without host migration the session ends with its host.
        if (!(desc.flags & kSessionMigrateHost)) return LoseSession();
        ElectHost();
    }

    // This machine is out of the session: every other player is destroyed for it, and nothing
    // more is sent or received.
    void LoseSession() {
        if (hostPeer) enet_peer_reset(hostPeer);
        hostPeer = nullptr;
        std::vector<uint32_t> others;
        for (const Member& m : members)
            if (m.info.seq != mySeq) others.push_back(m.info.seq);
        for (uint32_t s : others)
            ClientRemoveMember(s);
        role = Role::Lost;
        answered.notify_all();
    }

    // The member that joined earliest becomes host; everyone computes the same answer.
    void ElectHost() {
        if (members.empty()) { // cannot happen once joined: the roster holds us
            role = Role::Lost;
            return;
        }
        const Member& first = members.front();
        if (first.info.seq == mySeq) {
            BecomeHost();
            return;
        }
        role = Role::Migrating;
        hostSeq = first.info.seq;
        ENetAddress a = ToEnet(first.info.ip, first.info.port);
        hostPeer = enet_host_connect(host, &a, kChannelCount, 0);
        if (hostPeer) ConfigurePeer(hostPeer);
        migrateDeadline = Clock::now() + kRejoinTimeout;
    }

    void ClientOnConnect(ENetPeer* peer) {
        if (peer == hostPeer) {
            if (joinState == JoinState::Waiting)
                SendPacket(peer, wire::JoinRequest{desc.application, desc.password});
            else if (role == Role::Migrating) {
                const Member* me = FindMember(mySeq);
                SendPacket(peer,
                           wire::Rejoin{mySecret, mySeq, me ? me->info.player : std::nullopt});
            }
            return;
        }
        ConfigurePeer(peer);
        pending[peer] = PendingPeer{Clock::now(), std::nullopt};
    }

    // ---- 3. Pump ------------------------------------------------------------------------------

    void HandleEvent(const ENetEvent& ev) {
        switch (ev.type) {
        case ENET_EVENT_TYPE_CONNECT:
            if (role == Role::Host)
                HostOnConnect(ev.peer);
            else
                ClientOnConnect(ev.peer);
            break;
        case ENET_EVENT_TYPE_RECEIVE:
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

    void CheckTimers() {
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

    // A connected peer that acknowledged nothing for peerTimeoutMaxMs is gone. ENet's own rule
    // waits for a resend time-out first, which a loaded machine stretches to seconds more.
    // Both sides ping every kPingIntervalMs, so a live peer answers several times a second.
    bool Silent(const ENetPeer& p) const {
        return p.state == ENET_PEER_STATE_CONNECTED && p.lastReceiveTime != 0 &&
               ENET_TIME_DIFFERENCE(host->serviceTime, p.lastReceiveTime) > cfg.peerTimeoutMaxMs;
    }

    void PumpOnce() {
        ENetEvent ev;
        for (int i = 0; i < kMaxEventsPerRound && host && enet_host_service(host, &ev, 0) > 0; ++i)
            HandleEvent(ev);
        AnswerEnumerations();
        CheckTimers();
        if (host) enet_host_flush(host);
    }

    void PumpLoop() {
        while (!stopPump.load()) {
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

    // ---- 6. Discovery -------------------------------------------------------------------------

    void OpenDiscovery() {
        if (discovery != ENET_SOCKET_NULL) return;
        for (int i = 0; i < cfg.discoveryPortCount; ++i) {
            ENetSocket s = enet_socket_create(ENET_SOCKET_TYPE_DATAGRAM);
            if (s == ENET_SOCKET_NULL) return;
            ENetAddress a{ENET_HOST_ANY, static_cast<enet_uint16>(cfg.discoveryPort + i)};
            if (enet_socket_bind(s, &a) == 0) {
                enet_socket_set_option(s, ENET_SOCKOPT_NONBLOCK, 1);
                discovery = s;
                return;
            }
            enet_socket_destroy(s);
        }
        // No free port: the session runs but cannot be found by enumeration.
    }

    void CloseDiscovery() {
        if (discovery != ENET_SOCKET_NULL) enet_socket_destroy(discovery);
        discovery = ENET_SOCKET_NULL;
    }

    int CurrentPlayers() const {
        int n = 0;
        for (const Member& m : members)
            if (m.info.player) ++n;
        return n;
    }

    void AnswerEnumerations() {
        if (discovery == ENET_SOCKET_NULL) return;
        uint8_t buf[wire::kMaxDiscoveryBytes];
        for (int i = 0; i < 64; ++i) {
            ENetAddress from;
            ENetBuffer b{buf, sizeof buf};
            const int n = enet_socket_receive(discovery, &from, &b, 1);
            if (n <= 0) break;
            const auto req = wire::DecodeEnumRequest(std::span<const uint8_t>(buf, size_t(n)));
            if (!req || role != Role::Host || req->application != desc.application) continue;
            wire::EnumReply rep;
            rep.nonce = req->nonce;
            rep.application = desc.application;
            rep.instance = desc.instance;
            rep.sessionPort = host->address.port;
            rep.maxPlayers = static_cast<uint8_t>(desc.maxPlayers);
            rep.currentPlayers = static_cast<uint8_t>(std::min(CurrentPlayers(), desc.maxPlayers));
            rep.flags = static_cast<uint8_t>((desc.password.empty() ? 0 : 1) |
                                             ((desc.flags & kSessionMigrateHost) ? 2 : 0));
            rep.name = desc.name;
            std::vector<uint8_t> out;
            wire::EncodeEnumReply(rep, out);
            if (out.size() > static_cast<size_t>(n)) continue; // no more bytes out than in
            ENetBuffer ob{out.data(), out.size()};
            enet_socket_send(discovery, &from, &ob, 1);
        }
    }

    // ---- Lifecycle ----------------------------------------------------------------------------

    Error CreateEnetHost() {
        std::call_once(gEnetInit, [] { enet_initialize(); });
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

    void StartPump() {
        stopPump = false;
        pump = std::thread([this] { PumpLoop(); });
    }
    void StopPump() {
        stopPump = true;
        if (pump.joinable()) pump.join();
    }

    // Tears the session down. Called without the pump running.
    void Teardown() {
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
};

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

// ---------------------------------------------------------------------------------------------
// 7. Public API
// ---------------------------------------------------------------------------------------------

Service::Service(const ServiceConfig& config) : impl_(std::make_unique<Impl>()) {
    impl_->cfg = config;
    if (impl_->cfg.discoveryPort == 0) impl_->cfg.discoveryPort = kDefaultDiscoveryPort;
    if (impl_->cfg.discoveryPortCount <= 0)
        impl_->cfg.discoveryPortCount = kDefaultDiscoveryPortCount;
}

Service::~Service() {
    Close();
}

std::vector<ProviderInfo> Service::Providers() {
    return {{ProviderKind::Lan, "Local network (UDP)"},
            {ProviderKind::Internet, "Internet (one host by address)"}};
}

Error Service::Initialize(ProviderKind provider, const Address& target) {
    Close();
    std::lock_guard lock(impl_->mutex);
    impl_->provider = provider;
    impl_->target = target;
    if (impl_->target.host.empty()) {
        if (provider == ProviderKind::Internet) return Error::InvalidParam;
        impl_->target.host = kBroadcastHost;
    }
    if (impl_->target.port == 0) impl_->target.port = impl_->cfg.discoveryPort;
    impl_->initialized = true;
    return Error::Ok;
}

Error Service::EnumSessions(const SessionDesc& filter, int timeoutMs, uint32_t flags,
                            std::vector<SessionDesc>& out) {
    out.clear();
    Address target;
    int portCount;
    {
        std::lock_guard lock(impl_->mutex);
        if (!impl_->initialized) return Error::NotInitialized;
        target = impl_->target;
        // An explicit port other than the range start asks that one port only.
        portCount = target.port == impl_->cfg.discoveryPort ? impl_->cfg.discoveryPortCount : 1;
    }
    std::call_once(gEnetInit, [] { enet_initialize(); });
    ENetAddress to;
    if (enet_address_set_host(&to, target.host.c_str()) != 0) return Error::InvalidParam;
    ENetSocket s = enet_socket_create(ENET_SOCKET_TYPE_DATAGRAM);
    if (s == ENET_SOCKET_NULL) return Error::NetworkFailure;
    enet_socket_set_option(s, ENET_SOCKOPT_NONBLOCK, 1);
    if (to.host == ENET_HOST_BROADCAST) enet_socket_set_option(s, ENET_SOCKOPT_BROADCAST, 1);

    const uint32_t nonce = static_cast<uint32_t>(RandomU64());
    std::vector<uint8_t> request;
    wire::EncodeEnumRequest(wire::EnumRequest{filter.application, nonce,
                                              static_cast<uint16_t>(wire::kEnumRequestBytes)},
                            request);
    auto askAll = [&] {
        for (int i = 0; i < portCount; ++i) {
            to.port = static_cast<enet_uint16>(target.port + i);
            ENetBuffer b{request.data(), request.size()};
            enet_socket_send(s, &to, &b, 1);
        }
    };
    const auto timeout = timeoutMs > 0 ? milliseconds(timeoutMs) : kDefaultEnumTimeout;
    const auto start = Clock::now();
    const auto deadline = start + timeout;
    auto nextAsk = start;
    uint8_t buf[wire::kMaxDiscoveryBytes];
    while (Clock::now() < deadline) {
        if (Clock::now() >= nextAsk) {
            askAll(); // asked again now and then: datagrams may be lost
            nextAsk += milliseconds(250);
        }
        const auto left =
            std::chrono::duration_cast<milliseconds>(std::min(deadline, nextAsk) - Clock::now());
        enet_uint32 cond = ENET_SOCKET_WAIT_RECEIVE;
        if (enet_socket_wait(s, &cond,
                             static_cast<enet_uint32>(std::max<int64_t>(left.count(), 1))) != 0)
            break;
        for (;;) {
            ENetAddress from;
            ENetBuffer b{buf, sizeof buf};
            const int n = enet_socket_receive(s, &from, &b, 1);
            if (n <= 0) break;
            const auto rep = wire::DecodeEnumReply(std::span<const uint8_t>(buf, size_t(n)));
            if (!rep || rep->nonce != nonce || rep->application != filter.application) continue;
            if ((flags & kEnumAvailable) && rep->currentPlayers >= rep->maxPlayers) continue;
            const bool seen = std::any_of(out.begin(), out.end(), [&](const SessionDesc& d) {
                return d.instance == rep->instance;
            });
            if (seen) continue;
            SessionDesc d;
            d.application = rep->application;
            d.maxPlayers = rep->maxPlayers;
            d.currentPlayers = rep->currentPlayers;
            d.name = rep->name;
            d.flags = (rep->flags & 2) ? kSessionMigrateHost : 0;
            d.passwordProtected = (rep->flags & 1) != 0;
            char ip[64] = {0};
            enet_address_get_host_ip(&from, ip, sizeof ip);
            d.hostAddress = Address{ip, rep->sessionPort};
            d.instance = rep->instance;
            out.push_back(std::move(d));
        }
    }
    enet_socket_destroy(s);
    return Error::Ok;
}

Error Service::Open(const SessionDesc& desc, OpenMode mode) {
    Impl& s = *impl_;
    std::unique_lock lock(s.mutex);
    if (s.role != Role::Closed) return Error::AlreadyOpen;
    if (desc.application.IsNull() || desc.password.size() > kMaxNameBytes)
        return Error::InvalidParam;
    if (mode == OpenMode::Create) {
        if (desc.maxPlayers < 1 || desc.maxPlayers > kMaxPlayersLimit) return Error::InvalidParam;
        if (Error e = s.CreateEnetHost(); e != Error::Ok) return e;
        s.desc = desc;
        s.desc.name = FitName(desc.name);
        s.desc.instance = RandomU64();
        s.mySeq = 0;
        s.hostSeq = 0;
        s.nextSeq = 1;
        s.nextId = 1 + static_cast<uint32_t>(RandomU64() % 0x3FFFFFFF);
        Member me;
        me.info.seq = 0;
        me.info.port = s.host->address.port;
        s.members.push_back(std::move(me));
        s.role = Role::Host;
        s.OpenDiscovery();
        s.StartPump();
        return Error::Ok;
    }
    ENetAddress a;
    if (desc.hostAddress.host.empty() || desc.hostAddress.port == 0 ||
        enet_address_set_host(&a, desc.hostAddress.host.c_str()) != 0)
        return Error::InvalidParam;
    a.port = desc.hostAddress.port;
    if (Error e = s.CreateEnetHost(); e != Error::Ok) return e;
    s.desc = desc;
    s.role = Role::Client;
    s.joinState = Impl::JoinState::Waiting;
    s.hostPeer = enet_host_connect(s.host, &a, kChannelCount, 0);
    if (!s.hostPeer) {
        s.Teardown();
        return Error::NetworkFailure;
    }
    s.ConfigurePeer(s.hostPeer);
    s.StartPump();
    const bool done = s.answered.wait_for(lock, milliseconds(s.cfg.answerTimeoutMs),
                                          [&] { return s.joinState != Impl::JoinState::Waiting; });
    if (done && s.joinState == Impl::JoinState::Accepted) {
        s.joinState = Impl::JoinState::Idle;
        return Error::Ok;
    }
    const Error e = done ? s.joinError : Error::Timeout;
    lock.unlock();
    s.StopPump();
    lock.lock();
    s.Teardown();
    return e;
}

void Service::Close() {
    Impl& s = *impl_;
    s.StopPump();
    std::lock_guard lock(s.mutex);
    if (s.role != Role::Closed) s.Teardown();
}

bool Service::IsOpen() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->role == Role::Host || impl_->role == Role::Client ||
           impl_->role == Role::Migrating;
}

SessionDesc Service::Description() const {
    std::lock_guard lock(impl_->mutex);
    SessionDesc d = impl_->desc;
    d.currentPlayers = impl_->CurrentPlayers();
    return d;
}

Error Service::CreatePlayer(std::string_view friendlyName, std::string_view formalName,
                            uint32_t& id) {
    Impl& s = *impl_;
    std::unique_lock lock(s.mutex);
    id = 0;
    if (s.role != Role::Host && s.role != Role::Client) return Error::NotOpen;
    if (s.MyPlayerId() != 0) return Error::PlayerExists;
    wire::PlayerInfo p{0, FitName(friendlyName), FitName(formalName)};
    if (s.role == Role::Host) {
        p.id = s.AllocatePlayerId();
        s.Me().info.player = p;
        s.BroadcastControl(wire::PlayerAdded{s.mySeq, p, s.nextId}, s.mySeq);
        enet_host_flush(s.host);
        id = p.id;
        return Error::Ok;
    }
    s.creating = p;
    s.createAnswer.reset();
    s.SendPacket(s.hostPeer, wire::CreatePlayer{p.friendly, p.formal});
    enet_host_flush(s.host);
    const bool done = s.answered.wait_for(lock, milliseconds(s.cfg.answerTimeoutMs), [&] {
        return s.createAnswer.has_value() || (s.role != Role::Client && s.role != Role::Host);
    });
    s.creating.reset();
    if (!done || !s.createAnswer) return Error::Timeout;
    if (*s.createAnswer == 0) return Error::PlayerExists;
    id = *s.createAnswer; // the pump thread has put the player into the roster
    return Error::Ok;
}

Error Service::DestroyPlayer(uint32_t id) {
    Impl& s = *impl_;
    std::lock_guard lock(s.mutex);
    if (s.role == Role::Closed) return Error::NotOpen;
    if (id == 0 || s.MyPlayerId() != id) return Error::InvalidPlayer;
    s.Me().info.player.reset();
    if (s.role == Role::Host) {
        s.BroadcastControl(wire::PlayerRemoved{id}, s.mySeq);
    } else if (s.role == Role::Client) {
        s.SendPacket(s.hostPeer, wire::DestroyPlayer{id});
    }
    if (s.host) enet_host_flush(s.host);
    return Error::Ok;
}

uint32_t Service::LocalPlayerId() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->MyPlayerId();
}

int Service::PlayerCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->CurrentPlayers();
}

uint32_t Service::PlayerIdByIndex(int index) const {
    std::lock_guard lock(impl_->mutex);
    int n = 0;
    for (const Member& m : impl_->members)
        if (m.info.player && ++n == index) return m.info.player->id;
    return 0;
}

bool Service::GetFriendlyName(uint32_t id, std::string& out) const {
    std::lock_guard lock(impl_->mutex);
    const Member* m = id ? impl_->FindPlayer(id) : nullptr;
    if (!m) return false;
    out = m->info.player->friendly;
    return true;
}

bool Service::GetFormalName(uint32_t id, std::string& out) const {
    std::lock_guard lock(impl_->mutex);
    const Member* m = id ? impl_->FindPlayer(id) : nullptr;
    if (!m) return false;
    out = m->info.player->formal;
    return true;
}

bool Service::IsHost() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->role == Role::Host;
}

uint32_t Service::HostPlayerId() const {
    std::lock_guard lock(impl_->mutex);
    const Impl& s = *impl_;
    if (s.role != Role::Host && s.role != Role::Client) return 0;
    for (const Member& m : s.members)
        if (m.info.seq == s.hostSeq && m.info.player) return m.info.player->id;
    return 0;
}

Error Service::Send(uint32_t from, uint32_t to, bool guaranteed, const Message& body) {
    Impl& s = *impl_;
    std::lock_guard lock(s.mutex);
    if (s.role != Role::Host && s.role != Role::Client && s.role != Role::Migrating)
        return Error::NotOpen;
    if (!body.Valid() || body.Size() > Message::kMaxBytes) return Error::MessageTooLarge;
    const uint32_t me = s.MyPlayerId();
    if (from == 0 || from != me) return Error::InvalidPlayer;
    if (to != 0 && !s.FindPlayer(to)) return Error::InvalidPlayer;
    if (to == me) {
        s.QueueLocal(from, me, body.Body());
        return Error::Ok;
    }
    const size_t total = wire::kDataHeaderBytes + body.Size();
    if (s.role == Role::Host) {
        s.scratch.resize(total);
        wire::EncodeDataHeader(from, to, s.scratch.data());
        std::copy(body.Body().begin(), body.Body().end(),
                  s.scratch.begin() + wire::kDataHeaderBytes);
        s.HostRoute(s.mySeq, from, to, s.scratch, guaranteed);
    } else if (s.role == Role::Client) {
        ENetPacket* packet = enet_packet_create(
            nullptr, total, guaranteed ? ENET_PACKET_FLAG_RELIABLE : ENET_PACKET_FLAG_UNSEQUENCED);
        if (!packet) return Error::NetworkFailure;
        wire::EncodeDataHeader(from, to, packet->data);
        std::copy(body.Body().begin(), body.Body().end(), packet->data + wire::kDataHeaderBytes);
        if (enet_peer_send(s.hostPeer, guaranteed ? kReliableChannel : kUnreliableChannel,
                           packet) != 0)
            enet_packet_destroy(packet);
    } else if (guaranteed && s.clientOutbox.size() < kMaxOutbox) {
        // Reconnecting to a new host: guaranteed messages leave once we are back.
        std::vector<uint8_t> bytes(total);
        wire::EncodeDataHeader(from, to, bytes.data());
        std::copy(body.Body().begin(), body.Body().end(), bytes.begin() + wire::kDataHeaderBytes);
        s.clientOutbox.push_back(std::move(bytes));
    }
    enet_host_flush(s.host);
    return Error::Ok;
}

uint32_t Service::WaitingCount() const {
    std::lock_guard lock(impl_->mutex);
    return static_cast<uint32_t>(impl_->queue.size());
}

bool Service::Receive(uint32_t& from, uint32_t& to, Message& body) {
    Impl& s = *impl_;
    std::lock_guard lock(s.mutex);
    if (s.queue.empty()) return false;
    Queued& q = s.queue.front();
    from = q.from;
    to = q.to;
    std::vector<uint8_t> old = std::move(body.MutableBody());
    body.Clear();
    body.MutableBody() = std::move(q.body);
    old.clear();
    if (s.spareBodies.size() < 64) s.spareBodies.push_back(std::move(old));
    s.queue.pop_front();
    return true;
}

} // namespace session

// platform/session/service_host.cpp — the host side of a session: admission of connections,
// joins and rejoins, players, relaying of messages, departures, and taking over as host.
#include "platform/session/service_local.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace session {

using namespace detail;

namespace {

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

} // namespace

// Connection attempts. ENet gives a peer slot to every handshake it receives and tells us only
// once the handshake completes, so the limits on unadmitted connections are kept here, before
// ENet reads an attempt: when the attempt's address or the whole host is at its limit, the
// oldest unadmitted connection (of that address, else of all) makes room.
bool Service::Impl::IsUnadmitted(const ENetPeer& p) const {
    if (p.state == ENET_PEER_STATE_DISCONNECTED || &p == hostPeer) return false;
    for (const Member& m : members)
        if (m.peer == &p) return false;
    return true;
}

void Service::Impl::TrackUnadmitted() {
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
void Service::Impl::ScreenConnectAttempt(const ENetAddress& from) {
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

void Service::Impl::Evict(ENetPeer* p) {
    pending.erase(p);
    unadmitted.erase(p);
    enet_peer_reset(p);
}

void Service::Impl::HostOnConnect(ENetPeer* peer) {
    ConfigurePeer(peer);
    pending[peer] = PendingPeer{Clock::now(), std::nullopt};
}

void Service::Impl::Refuse(ENetPeer* peer, Error reason) {
    SendPacket(peer, wire::JoinRefuse{static_cast<uint8_t>(reason)});
    enet_peer_disconnect_later(peer, 0);
    pending.erase(peer);
}

// A new machine asks in. The session's limit counts entries (machines and stand-ins), so players
// never exceed it. Machines alone decide whether there is room: a seat held by a stand-in goes
// to the joiner.
void Service::Impl::HostOnJoin(ENetPeer* peer, const wire::JoinRequest& req) {
    if (req.application != desc.application) return Refuse(peer, Error::WrongGuid);
    if (!desc.password.empty() && req.password != desc.password)
        return Refuse(peer, Error::WrongPassword);
    if (Machines() >= static_cast<size_t>(desc.maxPlayers)) return Refuse(peer, Error::SessionFull);
    while (members.size() >= static_cast<size_t>(desc.maxPlayers) && HostGiveStandInSeat()) {
    }
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
void Service::Impl::HostOnRejoin(ENetPeer* peer, const wire::Rejoin& rj) {
    Member* m = FindMember(rj.seq);
    if (!m || rj.seq == mySeq || !m->awaitingRejoin || !SecretMatches(rj.secret, m->info.verifier))
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
void Service::Impl::HostOnCreatePlayer(Member& m, const wire::CreatePlayer& req) {
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

void Service::Impl::HostOnDestroyPlayer(Member& m, uint32_t id) {
    if (!m.info.player || m.info.player->id != id) return;
    const wire::PlayerInfo p = *m.info.player;
    m.info.player.reset();
    BroadcastControl(wire::PlayerRemoved{p.id}, m.info.seq);
    QueuePlayerEvent(kSysPlayerDestroyed, p);
}

// Delivers a Data datagram (bytes = header + body) sent by member senderSeq. A message to one of
// this machine's players (its own or a stand-in) waits in the local queue; a broadcast from
// another machine waits there once, addressed to this machine's own player (0 when it has none
// but stand-ins); a broadcast from this machine never comes back to it.
void Service::Impl::HostRoute(uint32_t senderSeq, uint32_t from, uint32_t to,
                              std::span<const uint8_t> datagram, bool guaranteed) {
    const auto body = datagram.subspan(wire::kDataHeaderBytes);
    if (to != 0) {
        const Member* target = FindPlayer(to);
        if (!target) return;
        if (target->info.seq == mySeq || target->info.standIn) {
            QueueLocal(from, to, body);
            return;
        }
    } else if (senderSeq != mySeq) {
        const uint32_t me = MyPlayerId();
        const bool standIns = std::any_of(members.begin(), members.end(),
                                          [](const Member& m) { return m.info.standIn; });
        if (me != 0 || standIns) QueueLocal(from, me, body);
    }
    ENetPacket* packet = nullptr;
    for (Member& m : members) {
        if (m.info.seq == mySeq || m.info.seq == senderSeq || m.info.standIn || !m.info.player)
            continue;
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
void Service::Impl::HostRemoveMember(uint32_t seq) {
    Member* m = FindMember(seq);
    if (!m || seq == mySeq) return;
    const std::optional<wire::PlayerInfo> p = m->info.player;
    members.erase(members.begin() + (m - members.data()));
    BroadcastControl(wire::MemberRemoved{seq}, seq);
    if (p) QueuePlayerEvent(kSysPlayerDestroyed, *p);
}

// Stand-ins: more players of this machine, each in an entry of its own (wire::MemberInfo),
// announced to the members like a joiner that already has its player. Returns the new player's
// id, 0 when every seat is taken.
uint32_t Service::Impl::HostAddStandIn(std::string_view friendly, std::string_view formal) {
    if (members.size() >= static_cast<size_t>(desc.maxPlayers)) return 0;
    Member m;
    m.info.seq = nextSeq++;
    m.info.standIn = true;
    m.info.player = wire::PlayerInfo{AllocatePlayerId(), FitName(friendly), FitName(formal)};
    const wire::MemberInfo info = m.info;
    InsertMember(std::move(m));
    BroadcastControl(wire::MemberAdded{info, nextSeq}, mySeq);
    return info.player->id;
}

// A joiner takes the seat of the newest stand-in: it is destroyed for everyone, this machine's
// game included (it learns which of its computer players left from the event).
bool Service::Impl::HostGiveStandInSeat() {
    for (auto it = members.rbegin(); it != members.rend(); ++it)
        if (it->info.standIn) {
            HostRemoveMember(it->info.seq);
            return true;
        }
    return false;
}

void Service::Impl::HostOnReceive(ENetPeer* peer, const ENetPacket* packet, uint8_t channel) {
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

void Service::Impl::HostOnDisconnect(ENetPeer* peer) {
    pending.erase(peer);
    if (Member* m = FindByPeer(peer)) HostRemoveMember(m->info.seq);
}

void Service::Impl::BecomeHost() {
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

} // namespace session

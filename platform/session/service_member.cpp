// platform/session/service_member.cpp — the member side of a session: answers to joining,
// roster updates from the host, host loss, election of the next host and reconnecting to it.
#include "platform/session/service_local.h"

#include <algorithm>
#include <type_traits>
#include <variant>

namespace session {

using namespace detail;

void Service::Impl::LoadRoster(const wire::Roster& r, uint32_t senderIp) {
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
void Service::Impl::MergeRoster(const wire::Roster& r, uint32_t senderIp) {
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
    auto mine =
        std::find_if(old.begin(), old.end(), [&](const Member& x) { return x.info.seq == mySeq; });
    if (Member* self = FindMember(mySeq); self && mine != old.end())
        self->info.player = mine->info.player;
    else if (mine != old.end())
        InsertMember(*mine);
}

void Service::Impl::ClientRemoveMember(uint32_t seq) {
    Member* m = FindMember(seq);
    if (!m || seq == mySeq) return;
    const std::optional<wire::PlayerInfo> p = m->info.player;
    members.erase(members.begin() + (m - members.data()));
    if (p) QueuePlayerEvent(kSysPlayerDestroyed, *p);
}

// The host that created the stand-ins is gone: they go with it, for this machine's game too.
void Service::Impl::ClientDropStandIns() {
    std::vector<uint32_t> seqs;
    for (const Member& m : members)
        if (m.info.standIn) seqs.push_back(m.info.seq);
    for (uint32_t s : seqs)
        ClientRemoveMember(s);
}

void Service::Impl::ClientOnReceive(ENetPeer* peer, const ENetPacket* packet) {
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
    if (joinState == JoinState::Waiting)
        ClientOnJoinAnswer(*p, senderIp);
    else if (role == Role::Migrating)
        ClientOnRejoinAnswer(*p, senderIp);
    else if (role == Role::Client)
        ClientOnControl(*p);
}

// The host's answer to our join request: accepted with the roster, or refused with a reason.
void Service::Impl::ClientOnJoinAnswer(const wire::Packet& p, uint32_t senderIp) {
    if (auto* acc = std::get_if<wire::JoinAccept>(&p)) {
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
    } else if (auto* ref = std::get_if<wire::JoinRefuse>(&p)) {
        joinState = JoinState::Refused;
        joinError = static_cast<Error>(ref->reason);
        if (joinError == Error::Ok) joinError = Error::NoSuchSession;
    }
    answered.notify_all();
}

// The elected host's answer to our rejoin: back in with its roster, or out of the session.
void Service::Impl::ClientOnRejoinAnswer(const wire::Packet& p, uint32_t senderIp) {
    if (std::holds_alternative<wire::JoinRefuse>(p)) {
        LoseSession(); // the new host does not take us back
    } else if (auto* acc = std::get_if<wire::RejoinAccept>(&p)) {
        mySecret = acc->secret;
        MergeRoster(acc->roster, senderIp);
        role = Role::Client;
        for (const auto& bytes : clientOutbox)
            SendBytes(hostPeer, bytes, true);
        clientOutbox.clear();
        answered.notify_all();
    }
}

// A control datagram or a message from the host while we are a member of its session.
void Service::Impl::ClientOnControl(const wire::Packet& p) {
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
                if (m->info.standIn) return ClientRemoveMember(m->info.seq);
                const wire::PlayerInfo old = *m->info.player;
                m->info.player.reset();
                QueuePlayerEvent(kSysPlayerDestroyed, old);
            } else if constexpr (std::is_same_v<T, wire::MemberAdded>) {
                nextSeq = std::max(nextSeq, v.nextSeq);
                if (v.member.seq == mySeq) return;
                if (v.member.standIn) {
                    // One more player of the host's machine, with its player from the start.
                    if (FindMember(v.member.seq) || FindPlayer(v.member.player->id)) return;
                    Member m2;
                    m2.info = v.member;
                    nextId = std::max(nextId, v.member.player->id + 1);
                    InsertMember(std::move(m2));
                    QueuePlayerEvent(kSysPlayerCreated, *v.member.player);
                } else if (Member* m = FindMember(v.member.seq)) {
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
        p);
}

// A join whose connection failed before the host answered (every resend of a handshake lost on
// a lossy link, or the host dropping a handshake that took too long) connects again while the
// join's answer time-out leaves room for a whole attempt (a peer time-out), so that a host that
// is not there is still reported as unreachable before the time-out; a host that refused the
// join has answered and is not asked again. False when no connection can be started.
bool Service::Impl::RetryJoin() {
    if (Clock::now() + milliseconds(cfg.peerTimeoutMaxMs) >= joinDeadline) return false;
    if (hostPeer && hostPeer->state != ENET_PEER_STATE_DISCONNECTED) enet_peer_reset(hostPeer);
    hostPeer = enet_host_connect(host, &joinAddress, kChannelCount, 0);
    if (!hostPeer) return false;
    ConfigurePeer(hostPeer);
    return true;
}

// The connection to the host (or to the candidate host) is gone.
void Service::Impl::ClientOnHostLost() {
    if (joinState == JoinState::Waiting && RetryJoin()) return;
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
    ClientDropStandIns();
    // Without host migration the session ends with its host.
    if (!(desc.flags & kSessionMigrateHost)) return LoseSession();
    ElectHost();
}

// This machine is out of the session: every other player is destroyed for it, and nothing
// more is sent or received.
void Service::Impl::LoseSession() {
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
void Service::Impl::ElectHost() {
    // Only a machine can host (stand-ins went with the host that created them).
    const auto firstMachine = std::find_if(members.begin(), members.end(),
                                           [](const Member& m) { return !m.info.standIn; });
    if (firstMachine == members.end()) { // cannot happen once joined: the roster holds us
        role = Role::Lost;
        return;
    }
    const Member& first = *firstMachine;
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

void Service::Impl::ClientOnConnect(ENetPeer* peer) {
    if (peer == hostPeer) {
        if (joinState == JoinState::Waiting)
            SendPacket(peer, wire::JoinRequest{desc.application, desc.password});
        else if (role == Role::Migrating) {
            const Member* me = FindMember(mySeq);
            SendPacket(peer, wire::Rejoin{mySecret, mySeq, me ? me->info.player : std::nullopt});
        }
        return;
    }
    ConfigurePeer(peer);
    pending[peer] = PendingPeer{Clock::now(), std::nullopt};
}

} // namespace session

// platform/session/service.cpp — the public API of the session service (session.h).
// The session state and its topics live in service_local.h and the service_*.cpp files.
#include "platform/session/service_local.h"

#include <algorithm>

namespace session {

namespace detail {

// `text` cut to at most kMaxNameBytes bytes, never inside a UTF-8 character.
std::string FitName(std::string_view text) {
    if (text.size() <= kMaxNameBytes) return std::string(text);
    size_t n = kMaxNameBytes;
    while (n > 0 && (static_cast<uint8_t>(text[n]) & 0xC0) == 0x80)
        --n;
    return std::string(text.substr(0, n));
}

} // namespace detail

using namespace detail;

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
    s.joinAddress = a;
    s.joinDeadline = Clock::now() + milliseconds(s.cfg.answerTimeoutMs);
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

Error Service::CreateStandInPlayer(std::string_view friendlyName, std::string_view formalName,
                                   uint32_t& id) {
    Impl& s = *impl_;
    std::lock_guard lock(s.mutex);
    id = 0;
    if (s.role == Role::Closed || s.role == Role::Lost) return Error::NotOpen;
    if (s.role != Role::Host) return Error::InvalidPlayer;
    id = s.HostAddStandIn(friendlyName, formalName);
    if (id == 0) return Error::SessionFull;
    enet_host_flush(s.host);
    return Error::Ok;
}

bool Service::IsStandIn(uint32_t id) const {
    std::lock_guard lock(impl_->mutex);
    return impl_->IsStandIn(id);
}

Error Service::DestroyPlayer(uint32_t id) {
    Impl& s = *impl_;
    std::lock_guard lock(s.mutex);
    if (s.role == Role::Closed) return Error::NotOpen;
    if (s.role == Role::Host && s.IsStandIn(id)) {
        const uint32_t seq = s.FindPlayer(id)->info.seq;
        s.members.erase(std::find_if(s.members.begin(), s.members.end(),
                                     [&](const Member& m) { return m.info.seq == seq; }));
        s.BroadcastControl(wire::MemberRemoved{seq}, s.mySeq);
        enet_host_flush(s.host);
        return Error::Ok;
    }
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
    // The host's stand-ins are local players of its machine.
    const bool local = from != 0 && (from == me || (s.role == Role::Host && s.IsStandIn(from)));
    if (!local) return Error::InvalidPlayer;
    if (to != 0 && !s.FindPlayer(to)) return Error::InvalidPlayer;
    if (to != 0 && to == me && s.role != Role::Host) {
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
    if (impl_->queue.empty()) impl_->ServiceNow();
    return static_cast<uint32_t>(impl_->queue.size());
}

bool Service::Receive(uint32_t& from, uint32_t& to, Message& body) {
    Impl& s = *impl_;
    std::lock_guard lock(s.mutex);
    if (s.queue.empty()) s.ServiceNow();
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

Service::Traffic Service::TrafficSoFar() const {
    std::lock_guard lock(impl_->mutex);
    impl_->CountTraffic();
    return impl_->traffic;
}

} // namespace session

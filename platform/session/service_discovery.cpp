// platform/session/service_discovery.cpp — finding sessions: a host answers enumeration
// requests on its discovery port; Service::EnumSessions asks and gathers the answers.
#include "platform/session/service_local.h"

#include <algorithm>

namespace session {

using namespace detail;

void Service::Impl::OpenDiscovery() {
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

void Service::Impl::CloseDiscovery() {
    if (discovery != ENET_SOCKET_NULL) enet_socket_destroy(discovery);
    discovery = ENET_SOCKET_NULL;
}

void Service::Impl::AnswerEnumerations() {
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
        // Every seat taken, but some by stand-ins: a joiner still gets in.
        const bool standInSeat = members.size() >= static_cast<size_t>(desc.maxPlayers) &&
                                 Machines() < static_cast<size_t>(desc.maxPlayers);
        rep.flags = static_cast<uint8_t>((desc.password.empty() ? 0 : 1) |
                                         ((desc.flags & kSessionMigrateHost) ? 2 : 0) |
                                         (standInSeat ? wire::kEnumStandInSeat : 0));
        rep.name = desc.name;
        std::vector<uint8_t> out;
        wire::EncodeEnumReply(rep, out);
        if (out.size() > static_cast<size_t>(n)) continue; // no more bytes out than in
        ENetBuffer ob{out.data(), out.size()};
        enet_socket_send(discovery, &from, &ob, 1);
    }
}

int Service::Impl::CurrentPlayers() const {
    int n = 0;
    for (const Member& m : members)
        if (m.info.player) ++n;
    return n;
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
    InitEnetOnce();
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
            if ((flags & kEnumAvailable) && rep->currentPlayers >= rep->maxPlayers &&
                !(rep->flags & wire::kEnumStandInSeat))
                continue;
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

} // namespace session

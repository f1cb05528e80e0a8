// A lossy link between two game processes on loopback: a UDP relay that stands between a
// joiner and the session it joins and throws away a share of the session datagrams either way.
//
// The joiner looks for sessions on the relay's discovery port; the relay asks the host's
// discovery port and answers with the session's port replaced by its own, so the joiner's
// connection goes through the relay. Every session datagram from the joiner goes out to the
// host from a socket of the relay's own (one per joiner address), and the host's answers come
// back the same way; each is dropped with probability `loss`. Discovery itself is not dropped.
#pragma once

#include "tests/support/loopback_udp.h"

#include "platform/session/wire.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <span>
#include <stdexcept>
#include <thread>
#include <vector>

namespace nettest {

class LossyRelay {
public:
    // Relays discovery from 127.0.0.1:`discoveryPort` to the host's 127.0.0.1:`hostDiscovery`.
    LossyRelay(uint16_t discoveryPort, uint16_t hostDiscovery, double loss, uint32_t seed)
        : hostDiscovery_(hostDiscovery), loss_(loss), random_(seed) {
        discovery_ = testsupport::BindLoopbackUdp(discoveryPort);
        game_ = testsupport::BindLoopbackUdp(0);
        toHostDiscovery_ = testsupport::BindLoopbackUdp(0);
        thread_ = std::thread([this] { Run(); });
    }
    ~LossyRelay() {
        stop_ = true;
        thread_.join();
        for (auto& [address, upstream] : upstreams_)
            ::close(upstream);
        ::close(discovery_);
        ::close(game_);
        ::close(toHostDiscovery_);
    }
    LossyRelay(const LossyRelay&) = delete;
    LossyRelay& operator=(const LossyRelay&) = delete;

    // Session datagrams passed on and thrown away, both ways together.
    uint64_t Passed() const { return passed_; }
    uint64_t Dropped() const { return dropped_; }

private:
    static uint64_t Key(const sockaddr_in& a) {
        return (uint64_t(a.sin_addr.s_addr) << 16) | a.sin_port;
    }

    bool Lose() {
        std::uniform_real_distribution<double> u(0.0, 1.0);
        const bool lost = u(random_) < loss_;
        (lost ? dropped_ : passed_) += 1;
        return lost;
    }

    void Run() {
        std::vector<uint8_t> buf(65536);
        while (!stop_) {
            std::vector<pollfd> fds = {
                {discovery_, POLLIN, 0}, {toHostDiscovery_, POLLIN, 0}, {game_, POLLIN, 0}};
            std::vector<sockaddr_in> clients;
            for (auto& [key, upstream] : upstreams_) {
                fds.push_back({upstream, POLLIN, 0});
                clients.push_back(clientOf_[key]);
            }
            if (::poll(fds.data(), fds.size(), 20) <= 0) continue;
            sockaddr_in from{};
            socklen_t n = sizeof from;
            // A request from the joiner goes to the host's discovery port.
            if (fds[0].revents & POLLIN) {
                const ssize_t got = ::recvfrom(discovery_, buf.data(), buf.size(), 0,
                                               reinterpret_cast<sockaddr*>(&from), &n);
                if (got > 0) {
                    asker_ = from;
                    sockaddr_in to = testsupport::LoopbackAddress(hostDiscovery_);
                    ::sendto(toHostDiscovery_, buf.data(), size_t(got), 0,
                             reinterpret_cast<sockaddr*>(&to), sizeof to);
                }
            }
            // The host's reply names the relay's port instead of the session's.
            if (fds[1].revents & POLLIN) {
                n = sizeof from;
                const ssize_t got = ::recvfrom(toHostDiscovery_, buf.data(), buf.size(), 0,
                                               reinterpret_cast<sockaddr*>(&from), &n);
                if (got > 0) {
                    if (auto reply = session::wire::DecodeEnumReply(
                            std::span<const uint8_t>(buf.data(), size_t(got)))) {
                        hostSession_ = reply->sessionPort;
                        reply->sessionPort = testsupport::PortOf(game_);
                        std::vector<uint8_t> out;
                        session::wire::EncodeEnumReply(*reply, out);
                        ::sendto(discovery_, out.data(), out.size(), 0,
                                 reinterpret_cast<sockaddr*>(&asker_), sizeof asker_);
                    }
                }
            }
            // The joiner's session datagrams, each joiner through an upstream socket of its own.
            if ((fds[2].revents & POLLIN) && hostSession_ != 0) {
                n = sizeof from;
                const ssize_t got = ::recvfrom(game_, buf.data(), buf.size(), 0,
                                               reinterpret_cast<sockaddr*>(&from), &n);
                if (got > 0) {
                    const uint64_t key = Key(from);
                    if (!upstreams_.count(key)) {
                        upstreams_[key] = testsupport::BindLoopbackUdp(0);
                        clientOf_[key] = from;
                    }
                    sockaddr_in to = testsupport::LoopbackAddress(hostSession_);
                    if (!Lose())
                        ::sendto(upstreams_[key], buf.data(), size_t(got), 0,
                                 reinterpret_cast<sockaddr*>(&to), sizeof to);
                }
            }
            // The host's session datagrams back to their joiner.
            for (size_t i = 3; i < fds.size(); ++i) {
                if (!(fds[i].revents & POLLIN)) continue;
                n = sizeof from;
                const ssize_t got = ::recvfrom(fds[i].fd, buf.data(), buf.size(), 0,
                                               reinterpret_cast<sockaddr*>(&from), &n);
                if (got > 0 && !Lose())
                    ::sendto(game_, buf.data(), size_t(got), 0,
                             reinterpret_cast<const sockaddr*>(&clients[i - 3]),
                             sizeof clients[i - 3]);
            }
        }
    }

    uint16_t hostDiscovery_;
    double loss_;
    std::mt19937 random_;
    int discovery_ = -1, game_ = -1, toHostDiscovery_ = -1;
    sockaddr_in asker_{};
    uint16_t hostSession_ = 0;
    std::map<uint64_t, int> upstreams_;
    std::map<uint64_t, sockaddr_in> clientOf_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> passed_{0}, dropped_{0};
    std::thread thread_; // last: starts once everything above exists
};

} // namespace nettest

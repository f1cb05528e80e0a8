// A link between one joiner and a session's host that, once armed, loses exactly the ENet
// acknowledgements the joiner sends: a UDP relay on loopback that passes every other command
// both ways. The host then waits in vain for its guaranteed datagrams to be confirmed while
// everything the joiner says still reaches it, which a lossy link on a busy machine can do for
// seconds on end.
#pragma once

#include "tests/support/loopback_udp.h"

#include <enet/enet.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace sessiontest {

class AckThief {
public:
    explicit AckThief(uint16_t hostPort) : host_(testsupport::LoopbackAddress(hostPort)) {
        listen_ = testsupport::BindLoopbackUdp(0);
        upstream_ = testsupport::BindLoopbackUdp(0);
        thread_ = std::thread([this] { Run(); });
    }
    ~AckThief() {
        stop_ = true;
        thread_.join();
        ::close(listen_);
        ::close(upstream_);
    }
    AckThief(const AckThief&) = delete;
    AckThief& operator=(const AckThief&) = delete;

    // Where the joiner connects instead of the host.
    std::string Address() const {
        return "127.0.0.1:" + std::to_string(testsupport::PortOf(listen_));
    }
    void Arm(bool on) { armed_ = on; }
    uint64_t Stolen() const { return stolen_; }

private:
    static uint16_t Read16(const uint8_t* at) {
        uint16_t v;
        std::memcpy(&v, at, sizeof v);
        return ntohs(v);
    }

    // The length of the command at `c`, its data included; 0 when it cannot be read.
    static size_t CommandLength(const uint8_t* c, size_t left) {
        const uint8_t kind = c[0] & ENET_PROTOCOL_COMMAND_MASK;
        size_t length = enet_protocol_command_size(kind);
        if (length == 0 || length > left) return 0;
        switch (kind) {
        case ENET_PROTOCOL_COMMAND_SEND_RELIABLE:
            length += Read16(c + offsetof(ENetProtocolSendReliable, dataLength));
            break;
        case ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE:
            length += Read16(c + offsetof(ENetProtocolSendUnreliable, dataLength));
            break;
        case ENET_PROTOCOL_COMMAND_SEND_UNSEQUENCED:
            length += Read16(c + offsetof(ENetProtocolSendUnsequenced, dataLength));
            break;
        case ENET_PROTOCOL_COMMAND_SEND_FRAGMENT:
        case ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE_FRAGMENT:
            length += Read16(c + offsetof(ENetProtocolSendFragment, dataLength));
            break;
        default:
            break;
        }
        return length <= left ? length : 0;
    }

    // Takes the acknowledgements out of datagram `d` in place; returns its new length, 0 when
    // nothing else was in it. A datagram it cannot read passes unchanged.
    size_t Strip(uint8_t* d, size_t n) {
        if (n < 2) return n;
        const uint16_t peerField = Read16(d);
        if (peerField & ENET_PROTOCOL_HEADER_FLAG_COMPRESSED) return n;
        const size_t header = (peerField & ENET_PROTOCOL_HEADER_FLAG_SENT_TIME) ? 4 : 2;
        std::vector<uint8_t> kept(d, d + std::min(header, n));
        size_t stolen = 0;
        for (size_t at = header; at < n;) {
            const size_t length = CommandLength(d + at, n - at);
            if (length == 0) return n;
            if ((d[at] & ENET_PROTOCOL_COMMAND_MASK) == ENET_PROTOCOL_COMMAND_ACKNOWLEDGE)
                ++stolen;
            else
                kept.insert(kept.end(), d + at, d + at + length);
            at += length;
        }
        stolen_ += stolen;
        if (kept.size() <= header) return 0;
        std::memcpy(d, kept.data(), kept.size());
        return kept.size();
    }

    void Run() {
        std::vector<uint8_t> buf(65536);
        sockaddr_in joiner{};
        bool known = false;
        while (!stop_) {
            pollfd fds[2] = {{listen_, POLLIN, 0}, {upstream_, POLLIN, 0}};
            if (::poll(fds, 2, 20) <= 0) continue;
            if (fds[0].revents & POLLIN) {
                sockaddr_in from{};
                socklen_t n = sizeof from;
                const ssize_t got = ::recvfrom(listen_, buf.data(), buf.size(), 0,
                                               reinterpret_cast<sockaddr*>(&from), &n);
                size_t length = 0;
                if (got > 0) {
                    joiner = from;
                    known = true;
                    length = armed_ ? Strip(buf.data(), size_t(got)) : size_t(got);
                }
                if (length > 0)
                    ::sendto(upstream_, buf.data(), length, 0,
                             reinterpret_cast<const sockaddr*>(&host_), sizeof host_);
            }
            if (fds[1].revents & POLLIN) {
                const ssize_t got = ::recv(upstream_, buf.data(), buf.size(), 0);
                if (got > 0 && known)
                    ::sendto(listen_, buf.data(), size_t(got), 0,
                             reinterpret_cast<const sockaddr*>(&joiner), sizeof joiner);
            }
        }
    }

    sockaddr_in host_;
    int listen_ = -1, upstream_ = -1;
    std::atomic<bool> armed_{false}, stop_{false};
    std::atomic<uint64_t> stolen_{0};
    std::thread thread_; // last: starts once everything above exists
};

} // namespace sessiontest

// tests/support/loopback_udp.h — datagram sockets on loopback for the relays that tests put
// between game processes (lossy links and the like).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>

namespace testsupport {

inline sockaddr_in LoopbackAddress(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// A UDP socket bound to 127.0.0.1:`port` (0: any free port); throws when the port is taken.
inline int BindLoopbackUdp(uint16_t port) {
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = LoopbackAddress(port);
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        if (s >= 0) ::close(s);
        throw std::runtime_error("relay: cannot bind loopback port " + std::to_string(port));
    }
    return s;
}

inline uint16_t PortOf(int socket) {
    sockaddr_in a{};
    socklen_t n = sizeof a;
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&a), &n);
    return ntohs(a.sin_port);
}

} // namespace testsupport

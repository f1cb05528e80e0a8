// tests/support/discovery_port.h — the first port of a session discovery range that is free
// now, for tests that host sessions on loopback: the port the kernel just gave out for a
// datagram socket, moved down when the range would run past the last port. Tests running in
// parallel take different ranges this way and do not see each other's sessions.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace testsupport {

inline uint16_t FreshDiscoveryPort() {
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    ::close(s);
    const int port = ntohs(a.sin_port);
    return uint16_t(port > 65000 ? 40000 + port % 20000 : port);
}

} // namespace testsupport

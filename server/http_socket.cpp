// server/http_socket.cpp — the HTTP front's addresses and its listening socket.
//
// Index
//   1. Addresses
//   2. The listening socket
#include "server/http_local.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace server {

// =============================================================================================
// 1. Addresses
// =============================================================================================

std::string AddressText(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address == nullptr) return "?";
    if (address->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                  sizeof text);
    } else if (address->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        if (IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr))
            inet_ntop(AF_INET, &v6->sin6_addr.s6_addr[12], text, sizeof text);
        else
            inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    } else {
        return "?";
    }
    return text;
}

// The canonical text of a numeric address, or "" when `text` is not one.
std::string CanonicalAddress(std::string_view text) {
    const std::string s(text);
    sockaddr_in6 v6{};
    sockaddr_in v4{};
    if (inet_pton(AF_INET, s.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        return AddressText(reinterpret_cast<const sockaddr*>(&v4));
    }
    if (inet_pton(AF_INET6, s.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        return AddressText(reinterpret_cast<const sockaddr*>(&v6));
    }
    return "";
}

// =============================================================================================
// 2. The listening socket
// =============================================================================================

int BindExclusive(const std::string& bind, int port, unsigned backlog, int& bound) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* found = nullptr;
    if (getaddrinfo(bind.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 ||
        found == nullptr)
        throw StartError("not a numeric address to bind: " + bind);
    const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        freeaddrinfo(found);
        throw StartError(std::string("cannot create a socket: ") + std::strerror(errno));
    }
    // SO_REUSEADDR lets a restarted server bind while old connections linger; unlike
    // SO_REUSEPORT it never lets a second process listen on the same port.
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const int bindResult = ::bind(fd, found->ai_addr, found->ai_addrlen);
    const int bindError = errno;
    freeaddrinfo(found);
    if (bindResult != 0) {
        ::close(fd);
        if (bindError == EADDRINUSE)
            throw StartError("port " + std::to_string(port) + " on " + bind +
                             " is already in use (is another server running there?)");
        throw StartError("cannot bind " + bind + ":" + std::to_string(port) + ": " +
                         std::strerror(bindError));
    }
    if (::listen(fd, int(std::max(backlog, 1u))) != 0) {
        const int error = errno;
        ::close(fd);
        throw StartError(std::string("cannot listen: ") + std::strerror(error));
    }
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    bound = address.ss_family == AF_INET6
                ? ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port)
                : ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    return fd;
}

} // namespace server

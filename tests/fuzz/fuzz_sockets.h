// Plain loopback sockets for the fuzz targets that play a server or a
// client. Every wait is bounded by poll().
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzsupport {

// A listening socket on 127.0.0.1 with a free port; -1 on failure.
inline int listen_loopback(uint16_t* port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 16) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(s);
        return -1;
    }
    *port = ntohs(a.sin_port);
    return s;
}

inline int connect_loopback(uint16_t port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(s);
        return -1;
    }
    const int one = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return s;
}

inline bool wait_for(int s, short events, int timeout_ms) {
    pollfd p{s, events, 0};
    int r;
    do {
        r = ::poll(&p, 1, timeout_ms);
    } while (r < 0 && errno == EINTR);
    return r > 0;
}

// Sends everything; false when the peer is gone or the wait runs out.
inline bool send_all(int s, const void* data, std::size_t n, int timeout_ms) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        if (!wait_for(s, POLLOUT, timeout_ms)) return false;
        const ssize_t w = ::send(s, p, n, MSG_NOSIGNAL);
        if (w < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

enum class RecvResult { Ok, Closed, TimedOut };

// Receives exactly n bytes.
inline RecvResult recv_exact(int s, void* data, std::size_t n, int timeout_ms) {
    char* p = static_cast<char*>(data);
    while (n > 0) {
        if (!wait_for(s, POLLIN, timeout_ms)) return RecvResult::TimedOut;
        const ssize_t r = ::recv(s, p, n, 0);
        if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (r <= 0) return RecvResult::Closed;
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return RecvResult::Ok;
}

// Reads and drops everything until the peer closes; false when it does not
// close within the wait.
inline bool drain_until_closed(int s, int timeout_ms) {
    char sink[16384];
    for (;;) {
        if (!wait_for(s, POLLIN, timeout_ms)) return false;
        const ssize_t r = ::recv(s, sink, sizeof sink, 0);
        if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (r <= 0) return true;
    }
}

}  // namespace fuzzsupport

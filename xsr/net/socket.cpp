#include "xsr/net/socket.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

#ifdef _WIN32
// Winsock2: WSAStartup once, closesocket, ioctlsocket, WSASend, select.
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>
#endif

namespace xsrnet {

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

namespace {

#ifdef _WIN32
bool would_block() {
    const int e = WSAGetLastError();
    return e == WSAEWOULDBLOCK || e == WSAEINPROGRESS;
}
bool interrupted() { return WSAGetLastError() == WSAEINTR; }
#else
bool would_block() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINPROGRESS; }
bool interrupted() { return errno == EINTR; }
#endif

// Waits until the socket is readable (or writable) or the deadline passes.
Io wait_ready(Socket s, bool for_write, int64_t deadline) {
    for (;;) {
        // A deadline already passed still gets one check without waiting.
        int64_t left = deadline - now_ms();
        if (left < 0) left = 0;
        const int wait = left > 1000000 ? 1000000 : static_cast<int>(left);
#ifdef _WIN32
        fd_set set, err;
        FD_ZERO(&set);
        FD_ZERO(&err);
        FD_SET(s, &set);
        FD_SET(s, &err);
        timeval tv;
        tv.tv_sec = wait / 1000;
        tv.tv_usec = (wait % 1000) * 1000;
        const int r = select(0, for_write ? nullptr : &set, for_write ? &set : nullptr, &err, &tv);
        if (r == SOCKET_ERROR) {
            if (interrupted()) continue;
            return Io::Failed;
        }
        if (r > 0) return Io::Ok;  // ready, or an error that the next call reports
        if (left == 0) return Io::TimedOut;
#else
        pollfd p{};
        p.fd = s;
        p.events = for_write ? POLLOUT : POLLIN;
        const int r = ::poll(&p, 1, wait);
        if (r < 0) {
            if (interrupted()) continue;
            return Io::Failed;
        }
        if (r > 0) return Io::Ok;  // ready, or POLLERR/POLLHUP reported by the next call
        if (left == 0) return Io::TimedOut;
#endif
    }
}

}  // namespace

bool startup() {
#ifdef _WIN32
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        WSADATA d;
        ok = WSAStartup(MAKEWORD(2, 2), &d) == 0;
    });
    return ok;
#else
    return true;
#endif
}

Resolve resolve(const char* host, int port, std::vector<Endpoint>* out) {
    out->clear();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    char service[16];
    std::snprintf(service, sizeof service, "%d", port);
    addrinfo* res = nullptr;
    if (getaddrinfo(host, service, &hints, &res) != 0 || !res) return Resolve::NotFound;
    for (addrinfo* a = res; a; a = a->ai_next) {
        if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
        if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
        Endpoint ep;
        std::memset(&ep.addr, 0, sizeof ep.addr);
        std::memcpy(&ep.addr, a->ai_addr, a->ai_addrlen);
        ep.len = static_cast<int>(a->ai_addrlen);
        ep.family = a->ai_family;
        out->push_back(ep);
    }
    freeaddrinfo(res);
    return out->empty() ? Resolve::NotFound : Resolve::Ok;
}

void set_nonblocking(Socket s) {
#ifdef _WIN32
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
#else
    const int fl = fcntl(s, F_GETFL, 0);
    if (fl >= 0) fcntl(s, F_SETFL, fl | O_NONBLOCK);
#endif
}

void set_nodelay(Socket s) {
    int on = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

void set_keepalive(Socket s) {
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
}

Socket open_socket(int family) {
#ifdef _WIN32
    Socket s = ::socket(family, SOCK_STREAM, IPPROTO_TCP);
#else
    Socket s = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
#endif
    if (s == kNoSocket) return kNoSocket;
    set_nonblocking(s);
    set_nodelay(s);
    return s;
}

Io connect_socket(Socket s, const Endpoint& ep, int64_t deadline) {
    int r = ::connect(s, reinterpret_cast<const sockaddr*>(&ep.addr), ep.len);
    if (r != 0) {
        if (!would_block()) return Io::Failed;
        const Io w = wait_ready(s, true, deadline);
        if (w != Io::Ok) return w;
        int err = 0;
#ifdef _WIN32
        int len = sizeof err;
#else
        socklen_t len = sizeof err;
#endif
        if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0 || err != 0)
            return Io::Failed;
    }
    return Io::Ok;
}

Io connect_to(const Endpoint& ep, int64_t deadline, Socket* out) {
    *out = kNoSocket;
    const Socket s = open_socket(ep.family);
    if (s == kNoSocket) return Io::Failed;
    const Io r = connect_socket(s, ep, deadline);
    if (r != Io::Ok) {
        close_socket(s);
        return r;
    }
    *out = s;
    return Io::Ok;
}

Io send_all(Socket s, const Slice* slices, std::size_t count, int64_t deadline) {
    constexpr std::size_t kMaxSlices = 8;
    if (count > kMaxSlices) return Io::Failed;
    // Local copy of the slices, advanced as bytes go out.
    Slice left[kMaxSlices];
    std::size_t first = 0;
    for (std::size_t i = 0; i < count; ++i) left[i] = slices[i];
    for (;;) {
        while (first < count && left[first].n == 0) ++first;
        if (first == count) return Io::Ok;
        std::size_t sent = 0;
#ifdef _WIN32
        WSABUF bufs[kMaxSlices];
        DWORD n = 0;
        for (std::size_t i = first; i < count; ++i) {
            bufs[n].buf = const_cast<char*>(static_cast<const char*>(left[i].p));
            bufs[n].len = static_cast<ULONG>(left[i].n);
            ++n;
        }
        DWORD done = 0;
        if (WSASend(s, bufs, n, &done, 0, nullptr, nullptr) == SOCKET_ERROR) {
            if (interrupted()) continue;
            if (!would_block()) return Io::Failed;
            const Io w = wait_ready(s, true, deadline);
            if (w != Io::Ok) return w;
            continue;
        }
        sent = done;
#else
        iovec iov[kMaxSlices];
        int n = 0;
        for (std::size_t i = first; i < count; ++i) {
            iov[n].iov_base = const_cast<void*>(left[i].p);
            iov[n].iov_len = left[i].n;
            ++n;
        }
        msghdr m{};
        m.msg_iov = iov;
        m.msg_iovlen = static_cast<decltype(m.msg_iovlen)>(n);
        const ssize_t r = ::sendmsg(s, &m, MSG_NOSIGNAL);
        if (r < 0) {
            if (interrupted()) continue;
            if (!would_block()) return Io::Failed;
            const Io w = wait_ready(s, true, deadline);
            if (w != Io::Ok) return w;
            continue;
        }
        sent = static_cast<std::size_t>(r);
#endif
        while (sent > 0 && first < count) {
            const std::size_t k = sent < left[first].n ? sent : left[first].n;
            left[first].p = static_cast<const unsigned char*>(left[first].p) + k;
            left[first].n -= k;
            sent -= k;
            if (left[first].n == 0) ++first;
        }
    }
}

Io recv_some(Socket s, void* p, std::size_t n, std::size_t* got, int64_t deadline) {
    *got = 0;
    if (n == 0) return Io::Ok;
    // Wait first: an answer is hardly ever there the moment the request left.
    for (;;) {
        const Io w = wait_ready(s, false, deadline);
        if (w != Io::Ok) return w;
#ifdef _WIN32
        const int want = n > 0x40000000 ? 0x40000000 : static_cast<int>(n);
        const int r = ::recv(s, static_cast<char*>(p), want, 0);
        if (r == SOCKET_ERROR) {
            if (interrupted() || would_block()) continue;
            return Io::Failed;
        }
#else
        const ssize_t r = ::recv(s, p, n, 0);
        if (r < 0) {
            if (interrupted() || would_block()) continue;
            return Io::Failed;
        }
#endif
        if (r == 0) return Io::Closed;
        *got = static_cast<std::size_t>(r);
        return Io::Ok;
    }
}

Io recv_exact(Socket s, void* p, std::size_t n, int64_t deadline) {
    unsigned char* at = static_cast<unsigned char*>(p);
    while (n > 0) {
        std::size_t got = 0;
        const Io r = recv_some(s, at, n, &got, deadline);
        if (r != Io::Ok) return r;
        at += got;
        n -= got;
    }
    return Io::Ok;
}

bool peer_gone(Socket s) {
    const Io w = wait_ready(s, false, now_ms());
    // Not readable right now: nothing arrived, the peer is there.
    if (w == Io::TimedOut) return false;
    if (w != Io::Ok) return true;
    char c;
#ifdef _WIN32
    const int r = ::recv(s, &c, 1, MSG_PEEK);
    if (r == SOCKET_ERROR) return !would_block();
#else
    const ssize_t r = ::recv(s, &c, 1, MSG_PEEK);
    if (r < 0) return !(would_block() || interrupted());
#endif
    // Readable with data on an idle socket is a frame nobody asked for; the
    // connection is no longer usable either way.
    return true;
}

void shutdown_socket(Socket s) {
#ifdef _WIN32
    ::shutdown(s, SD_BOTH);
#else
    ::shutdown(s, SHUT_RDWR);
#endif
}

void close_socket(Socket s) {
    if (s == kNoSocket) return;
#ifdef _WIN32
    ::closesocket(s);
#else
    ::close(s);
#endif
}

void reset_socket(Socket s) {
    linger l{};
    l.l_onoff = 1;
    l.l_linger = 0;
    setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
    close_socket(s);
}

}  // namespace xsrnet

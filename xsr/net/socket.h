// Small portable socket layer: name resolution, connect with a time limit,
// gathered sends and receives with a deadline, and the check whether an idle
// socket's peer is gone. POSIX sockets here, Winsock2 under _WIN32 (the only
// place that knows the difference). Sockets are non-blocking; every wait is
// bounded by a deadline on the monotonic millisecond clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <sys/socket.h>
#endif

namespace xsrnet {

#ifdef _WIN32
using Socket = SOCKET;
const Socket kNoSocket = INVALID_SOCKET;
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
#endif

// Milliseconds of a monotonic clock.
int64_t now_ms();

// Once per process (WSAStartup under Windows); false when sockets are not
// available.
bool startup();

enum class Io {
    Ok,
    Closed,    // orderly end of stream from the peer
    Failed,    // reset, unreachable, or another socket error
    TimedOut,  // the deadline passed
};

struct Endpoint {
    sockaddr_storage addr;
    int len = 0;
    int family = 0;
};

enum class Resolve { Ok, NotFound };
// Every address of host (name or numeric, IPv4 and IPv6) for a TCP port.
Resolve resolve(const char* host, int port, std::vector<Endpoint>* out);

// Connects to one endpoint within the deadline; the new socket is
// non-blocking with TCP_NODELAY set.
Io connect_to(const Endpoint& ep, int64_t deadline, Socket* out);
// The same in two steps, for an owner that must be able to shut the socket
// down while it connects: a new non-blocking TCP_NODELAY socket for the
// family (kNoSocket on failure), then its connect within the deadline. The
// socket stays open either way; its owner closes it.
Socket open_socket(int family);
Io connect_socket(Socket s, const Endpoint& ep, int64_t deadline);

struct Slice {
    const void* p;
    std::size_t n;
};
// Sends all bytes of the slices, in order, before the deadline.
Io send_all(Socket s, const Slice* slices, std::size_t count, int64_t deadline);
// Receives between 1 and n bytes before the deadline; *got says how many.
Io recv_some(Socket s, void* p, std::size_t n, std::size_t* got, int64_t deadline);
// Receives exactly n bytes before the deadline.
Io recv_exact(Socket s, void* p, std::size_t n, int64_t deadline);

// For a socket on which no answer is outstanding: true when the peer has
// closed or reset it (readable with no data, or an error pending).
bool peer_gone(Socket s);

// Ends both directions so that a thread waiting on the socket wakes; the
// socket itself stays open until close_socket.
void shutdown_socket(Socket s);
void close_socket(Socket s);
// Closes with a reset instead of an orderly end.
void reset_socket(Socket s);

void set_nonblocking(Socket s);
void set_nodelay(Socket s);
void set_keepalive(Socket s);

}  // namespace xsrnet

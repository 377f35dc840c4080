// xsr-sim: start and stop, the accept loop and the limits on connections.
#include "sim/server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "sim/server_parts.h"

namespace xsrsim {

using namespace xsrproto;
using xsrnet::Io;
using xsrnet::Socket;

Server::Server(const Config& cfg)
    : cfg_(cfg),
      modules_(types_),
      held_bytes_(std::make_shared<HeldBytes>(cfg.max_held_bytes, cfg.max_held_session_bytes)) {
    register_builtin_types(types_);
}

Server::~Server() { stop(); }

// --- start and stop ----------------------------------------------------------

namespace {

bool bind_one(const std::string& addr, uint16_t port, Socket* out, uint16_t* bound_port, int* err) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST;
    addrinfo* res = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(addr.c_str(), service.c_str(), &hints, &res) != 0 || !res) {
        *err = EINVAL;
        return false;
    }
    const int s = ::socket(res->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        *err = errno;
        freeaddrinfo(res);
        return false;
    }
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (res->ai_family == AF_INET6) setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (::bind(s, res->ai_addr, res->ai_addrlen) != 0 || ::listen(s, 128) != 0) {
        *err = errno;
        ::close(s);
        freeaddrinfo(res);
        return false;
    }
    freeaddrinfo(res);
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    getsockname(s, reinterpret_cast<sockaddr*>(&ss), &len);
    *bound_port = ntohs(ss.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port
                                                 : reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
    xsrnet::set_nonblocking(s);
    *out = s;
    return true;
}

}  // namespace

bool Server::start(uint16_t port, std::string* error) {
    // The hosted modules every server starts with; the config file adds to
    // them or replaces them by name.
    const std::vector<ModuleEntry> builtin = {
        {"Echo", "echo", true, "1.0.0.0", ""},
        {"Script", "script", true, "1.0.0.0", ""},
        {"Ident", "ident", true, "1.0.0.0", ""},
        {"Sim", "sim", true, "1.0.0.0", ""},
    };
    for (const auto& m : builtin) modules_.configure(m);
    for (const auto& m : cfg_.modules) {
        if (modules_.configure(m) != 0) {
            *error = "module " + m.name + ": no hosted module type '" + m.type + "'";
            return false;
        }
    }
    clusters_.load(cfg_.clusters);

    const bool defaults = cfg_.binds.empty();
    const std::vector<std::string> addrs =
        defaults ? std::vector<std::string>{"127.0.0.1", "::1"} : cfg_.binds;
    // With port 0 the first address picks the port and the others must get
    // the same one; when another process holds it there, try again.
    for (int attempt = 0; attempt < 20; ++attempt) {
        std::vector<Socket> got;
        std::vector<std::string> names;
        uint16_t chosen = port;
        bool retry = false;
        std::string why;
        for (std::size_t i = 0; i < addrs.size(); ++i) {
            Socket s;
            uint16_t p = 0;
            int err = 0;
            if (!bind_one(addrs[i], chosen, &s, &p, &err)) {
                const bool optional = defaults && i > 0 &&
                                      (err == EADDRNOTAVAIL || err == EAFNOSUPPORT || err == EINVAL);
                if (optional) continue;
                if (port == 0 && i > 0 && err == EADDRINUSE) {
                    retry = true;
                } else {
                    why = "cannot listen on " + addrs[i] + " port " + std::to_string(chosen) + ": " +
                          std::strerror(err);
                }
                break;
            }
            chosen = p;
            got.push_back(s);
            names.push_back(addrs[i]);
        }
        if (got.size() == addrs.size() || (defaults && !got.empty() && !retry && why.empty())) {
            listeners_ = got;
            bound_ = names;
            port_ = chosen;
            break;
        }
        for (Socket s : got) ::close(s);
        if (!retry) {
            *error = why.empty() ? "cannot listen" : why;
            return false;
        }
    }
    if (listeners_.empty()) {
        *error = "no free port on every address";
        return false;
    }
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = "pipe failed";
        return false;
    }
    if (cfg_.name.empty()) cfg_.name = "xsr-sim:" + std::to_string(port_);
    for (uint32_t i = 0; i < cfg_.workers; ++i) workers_.emplace_back([this] { worker_loop(); });
    acceptor_ = std::thread([this] { accept_loop(); });
    started_ = true;
    return true;
}

void Server::stop() {
    std::lock_guard<std::mutex> once(stop_mu_);
    if (stopping_.exchange(true)) return;
    if (wake_[1] >= 0) {
        const char c = 1;
        (void)!::write(wake_[1], &c, 1);
    }
    if (acceptor_.joinable()) acceptor_.join();
    // Module calls end first: a connection may be waiting for one.
    {
        std::lock_guard<std::mutex> g(pool_mu_);
        pool_stop_ = true;
        for (auto& j : running_) j->cancel.cancel();
        for (auto& j : queue_) {
            j->cancel.cancel();
            j->finish(ModuleAnswer{kErrShutdown, {}, 0, Fault::None, 0});
        }
        queue_.clear();
    }
    pool_cv_.notify_all();
    for (auto& w : workers_) w.join();
    workers_.clear();
    {
        std::lock_guard<std::mutex> g(conn_mu_);
        for (auto& c : conns_) {
            c->cancel.cancel();
            if (!c->done) xsrnet::shutdown_socket(c->s);
        }
    }
    gate_cv_.notify_all();
    reap_connections(true);
    for (Socket s : listeners_) ::close(s);
    listeners_.clear();
    for (int& fd : wake_) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    // Sessions whose sockets are all gone were ended by their connections.
    std::lock_guard<std::mutex> g(sess_mu_);
    sessions_.clear();
}

void Server::reap_connections(bool all) {
    std::list<std::unique_ptr<Connection>> finished;
    {
        std::lock_guard<std::mutex> g(conn_mu_);
        for (auto it = conns_.begin(); it != conns_.end();) {
            if (all || (*it)->done) {
                finished.push_back(std::move(*it));
                it = conns_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& c : finished)
        if (c->thread.joinable()) c->thread.join();
}

void Server::accept_loop() {
    std::vector<pollfd> fds;
    for (Socket s : listeners_) fds.push_back(pollfd{s, POLLIN, 0});
    fds.push_back(pollfd{wake_[0], POLLIN, 0});
    while (!stopping_) {
        for (auto& p : fds) p.revents = 0;
        const int r = ::poll(fds.data(), fds.size(), 1000);
        reap_connections(false);
        end_idle_connections();
        end_late_logins();
        if (r <= 0) continue;
        if (fds.back().revents) break;
        for (std::size_t i = 0; i + 1 < fds.size(); ++i) {
            if (!(fds[i].revents & POLLIN)) continue;
            const int s = ::accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (s < 0) {
                // Out of descriptors: the pending connection stays queued;
                // wait a little instead of spinning on it.
                if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                    ::poll(nullptr, 0, 20);
                continue;
            }
            xsrnet::set_nodelay(s);
            xsrnet::set_keepalive(s);
            std::lock_guard<std::mutex> g(conn_mu_);
            // Sockets that have not logged in have a pool of their own, apart
            // from the logged-in ones: a full pool makes room by ending its
            // oldest socket, so that connects that never log in can neither
            // take the logged-in clients' places nor keep new logins out
            // for long (a client logs in at once after its connect).
            Connection* oldest = nullptr;
            std::size_t pending = 0;
            for (auto& p : conns_) {
                if (p->done || p->closing || p->logged_in) continue;
                if (!oldest) oldest = p.get();
                ++pending;
            }
            if (oldest && pending >= cfg_.max_pending_logins) end_socket_locked(*oldest);
            conns_.push_back(std::make_unique<Connection>());
            Connection* c = conns_.back().get();
            c->s = s;
            c->connected_at = clock_ms();
            try {
                c->thread = std::thread([this, c] { serve(c); });
            } catch (...) {
                ::close(s);
                conns_.pop_back();
            }
        }
    }
}

int64_t Server::clock_ms() const { return cfg_.clock_ms ? cfg_.clock_ms() : xsrnet::now_ms(); }

// Its thread wakes with the socket ended and closes it.
void Server::end_socket_locked(Connection& c) {
    c.closing = true;
    xsrnet::shutdown_socket(c.s);
}

std::size_t Server::end_idle_connections() {
    if (cfg_.idle_timeout_ms == 0) return 0;
    const int64_t now = clock_ms();
    std::size_t ended = 0;
    std::lock_guard<std::mutex> g(conn_mu_);
    for (auto& c : conns_) {
        if (c->done || !c->waiting || now - c->idle_since < static_cast<int64_t>(cfg_.idle_timeout_ms)) continue;
        c->waiting = false;
        end_socket_locked(*c);
        ++ended;
    }
    return ended;
}

std::size_t Server::end_late_logins() {
    const int64_t now = clock_ms();
    std::size_t ended = 0;
    std::lock_guard<std::mutex> g(conn_mu_);
    for (auto& c : conns_) {
        if (c->done || c->closing || c->logged_in ||
            now - c->connected_at < static_cast<int64_t>(cfg_.login_limit_ms))
            continue;
        end_socket_locked(*c);
        ++ended;
    }
    return ended;
}

// A login or attach moves the socket from the pending pool to the logged-in
// sockets, when there is room for it there.
bool Server::admit_login(Connection* c) {
    std::lock_guard<std::mutex> g(conn_mu_);
    if (c->closing) return false;
    std::size_t logged_in = 0;
    for (const auto& p : conns_)
        if (!p->done && !p->closing && p->logged_in) ++logged_in;
    if (logged_in >= cfg_.max_connections) return false;
    c->logged_in = true;
    return true;
}

}  // namespace xsrsim

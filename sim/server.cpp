#include "sim/server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

#include "sim/delivery.h"

namespace xsrsim {

using namespace xsrproto;
using xsrnet::Io;
using xsrnet::Socket;

namespace {

constexpr int64_t kIdleWait = int64_t(1) << 40;  // idle between frames: until the peer or stop ends it
constexpr std::size_t kReadChunk = 1u << 20;     // a large frame's buffer grows as its bytes arrive
constexpr std::size_t kLogLimit = 1000;
constexpr std::size_t kKeptFrame = 64 * 1024;    // a larger frame's buffer is let go once it is served

}  // namespace

// One module call that runs on a worker thread.
struct Server::Job {
    ModuleCall call;
    std::shared_ptr<Module> module;
    CancelToken cancel;
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;
    std::shared_ptr<const ModuleAnswer> answer;
    int64_t done_at = 0;

    void finish(ModuleAnswer a) {
        auto shared = std::make_shared<const ModuleAnswer>(std::move(a));
        {
            std::lock_guard<std::mutex> g(mu);
            answer = std::move(shared);
            done = true;
            done_at = xsrnet::now_ms();
        }
        cv.notify_all();
    }
    bool wait_done(uint32_t ms) {
        std::unique_lock<std::mutex> g(mu);
        return cv.wait_for(g, std::chrono::milliseconds(ms), [this] { return done; });
    }
    bool is_done(std::shared_ptr<const ModuleAnswer>* a, int64_t* at) {
        std::lock_guard<std::mutex> g(mu);
        if (done) {
            *a = answer;
            *at = done_at;
        }
        return done;
    }
};

struct Server::Session {
    uint32_t id = 0;
    unsigned char token[kTokenSize] = {};
    std::string user;
    std::mutex mu;  // tickets
    std::map<Ticket, TicketEntry> tickets;
    int32_t next_ticket = 1;
    int64_t last_sweep = 0;
    int sockets = 0;  // under sess_mu_
};

struct Server::Connection {
    Socket s = xsrnet::kNoSocket;
    std::thread thread;
    std::atomic<bool> done{false};
    bool reset_on_close = false;
    CancelToken cancel;  // inline module calls
    std::shared_ptr<Session> session;
    Bytes frame;
    // For the idle limit: logged in and waiting for a request since
    // idle_since (server clock); a socket that is reading or serving a
    // request is not idle.
    std::atomic<bool> waiting{false};
    std::atomic<int64_t> idle_since{0};
    std::atomic<std::size_t> frame_room{0};  // the frame buffer's capacity, for stats
};

// An answer frame to write: bytes [off, off+len) of `bytes`, which are part
// of an answer of `whole` bytes (0: just these).
struct Server::Outgoing {
    int32_t result = 0;
    Ticket part_ticket;
    std::shared_ptr<const Bytes> bytes;
    std::size_t off = 0, len = 0, whole = 0;
    Fault fault = Fault::None;
    uint32_t cut_at = 0;

    static Outgoing code(int32_t rc) {
        Outgoing o;
        o.result = rc;
        return o;
    }
    static Outgoing own(int32_t rc, Bytes b) {
        Outgoing o;
        o.result = rc;
        o.len = b.size();
        o.bytes = std::make_shared<const Bytes>(std::move(b));
        return o;
    }
};

Server::Server(const Config& cfg) : cfg_(cfg), modules_(types_) {
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
            if (conns_.size() >= cfg_.max_connections) {
                const auto f = encode_fault(0, kErrBusy);
                xsrnet::Slice sl{f.data(), f.size()};
                xsrnet::send_all(s, &sl, 1, xsrnet::now_ms() + 100);
                ::close(s);
                continue;
            }
            conns_.push_back(std::make_unique<Connection>());
            Connection* c = conns_.back().get();
            c->s = s;
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

std::size_t Server::end_idle_connections() {
    if (cfg_.idle_timeout_ms == 0) return 0;
    const int64_t now = clock_ms();
    std::size_t ended = 0;
    std::lock_guard<std::mutex> g(conn_mu_);
    for (auto& c : conns_) {
        if (c->done || !c->waiting || now - c->idle_since < static_cast<int64_t>(cfg_.idle_timeout_ms)) continue;
        // Its thread wakes with the socket ended and closes it.
        c->waiting = false;
        xsrnet::shutdown_socket(c->s);
        ++ended;
    }
    return ended;
}

// --- framing -----------------------------------------------------------------

namespace {

enum class Read { Ok, Gone, Bad };

// Reads one frame into buf (the bytes after the prefix). Its first byte must
// come within first_ms, the whole frame within limit_ms of that.
Read read_frame(Socket s, Bytes& buf, uint32_t max_frame, int64_t first_ms, uint32_t limit_ms,
                Head* head, int32_t* fault) {
    unsigned char prefix[kPrefixSize];
    std::size_t got = 0;
    if (xsrnet::recv_some(s, prefix, sizeof prefix, &got, xsrnet::now_ms() + first_ms) != Io::Ok)
        return Read::Gone;
    const int64_t deadline = xsrnet::now_ms() + limit_ms;
    if (xsrnet::recv_exact(s, prefix + got, sizeof prefix - got, deadline) != Io::Ok) return Read::Gone;
    const uint32_t len = get_u32(prefix);
    if (!frame_length_ok(len, max_frame)) {
        *fault = len > max_frame ? kErrTooLarge : kErrProtocol;
        return Read::Bad;
    }
    buf.clear();
    while (buf.size() < len) {
        const std::size_t at = buf.size();
        const std::size_t step = std::min<std::size_t>(len - at, kReadChunk);
        buf.resize(at + step);
        if (xsrnet::recv_exact(s, buf.data() + at, step, deadline) != Io::Ok) return Read::Gone;
    }
    if (decode_head(buf.data(), buf.size(), head) != HeadStatus::Ok) {
        *fault = kErrProtocol;
        return Read::Bad;
    }
    return Read::Ok;
}

bool send_bytes(Socket s, const Bytes& b, uint32_t limit_ms) {
    xsrnet::Slice sl{b.data(), b.size()};
    return xsrnet::send_all(s, &sl, 1, xsrnet::now_ms() + limit_ms) == Io::Ok;
}

// Sends a fault frame before the socket closes. The peer may still be
// sending the refused frame (one longer than the server accepts is refused
// after its prefix): closing with unread bytes would reset the connection
// and the peer could lose the fault, so the sending side ends first and what
// arrives is dropped until the peer closes, the frame limit passes, or the
// largest frame's worth of bytes has gone by.
void send_fault_and_drain(Socket s, uint32_t request_id, int32_t code, uint32_t limit_ms) {
    if (!send_bytes(s, encode_fault(request_id, code), limit_ms)) return;
    ::shutdown(s, SHUT_WR);
    const int64_t deadline = xsrnet::now_ms() + limit_ms;
    unsigned char sink[16384];
    uint64_t dropped = 0;
    std::size_t got = 0;
    while (dropped <= uint64_t{kMaxFrame} + kPrefixSize &&
           xsrnet::recv_some(s, sink, sizeof sink, &got, deadline) == Io::Ok)
        dropped += got;
}

}  // namespace

bool Server::handshake(Connection* c) {
    Head head;
    int32_t fault = 0;
    // The login (or probe) must come within the frame limit of the connect.
    const Read r = read_frame(c->s, c->frame, kMaxSmallFrame, cfg_.frame_limit_ms, cfg_.frame_limit_ms,
                              &head, &fault);
    if (r == Read::Gone) return false;
    if (r == Read::Bad) {
        send_fault_and_drain(c->s, 0, fault, cfg_.frame_limit_ms);
        return false;
    }
    const unsigned char* p = c->frame.data() + kHeadSize;
    const std::size_t n = c->frame.size() - kHeadSize;
    Welcome w;
    switch (head.kind) {
        case kProbe:
            send_bytes(c->s, encode_welcome(head.request_id, w), cfg_.frame_limit_ms);
            return false;  // a probe ends there
        case kLogin: {
            LoginFields f;
            if (!decode_login(p, n, &f)) break;
            const std::vector<UserEntry> defaults{{"admin", "admin"}};
            const auto& users = cfg_.users.empty() ? defaults : cfg_.users;
            bool ok = false;
            for (const auto& u : users)
                if (iequals(u.name, f.user) && u.password == f.password) ok = true;
            if (!ok) {
                w.result = kErrLogin;
                send_bytes(c->s, encode_welcome(head.request_id, w), cfg_.frame_limit_ms);
                return false;
            }
            auto s = std::make_shared<Session>();
            s->user = f.user;
            static thread_local std::mt19937_64 rng{std::random_device{}()};
            for (std::size_t i = 0; i < kTokenSize; ++i) s->token[i] = static_cast<unsigned char>(rng());
            {
                std::lock_guard<std::mutex> g(sess_mu_);
                s->id = next_session_++;
                s->sockets = 1;
                sessions_[s->id] = s;
            }
            c->session = s;
            w.session = s->id;
            std::memcpy(w.token, s->token, kTokenSize);
            c->idle_since = clock_ms();
            c->waiting = true;
            return send_bytes(c->s, encode_welcome(head.request_id, w), cfg_.frame_limit_ms);
        }
        case kAttach: {
            uint32_t id = 0;
            unsigned char token[kTokenSize];
            if (!decode_attach(p, n, &id, token)) break;
            {
                std::lock_guard<std::mutex> g(sess_mu_);
                auto it = sessions_.find(id);
                if (it != sessions_.end() && std::memcmp(it->second->token, token, kTokenSize) == 0) {
                    c->session = it->second;
                    ++c->session->sockets;
                }
            }
            if (!c->session) {
                w.result = kErrLogin;
                send_bytes(c->s, encode_welcome(head.request_id, w), cfg_.frame_limit_ms);
                return false;
            }
            w.session = id;
            std::memcpy(w.token, token, kTokenSize);
            c->idle_since = clock_ms();
            c->waiting = true;
            return send_bytes(c->s, encode_welcome(head.request_id, w), cfg_.frame_limit_ms);
        }
        default:
            break;
    }
    send_bytes(c->s, encode_fault(head.request_id, kErrProtocol), cfg_.frame_limit_ms);
    return false;
}

void Server::serve(Connection* c) {
    try {
        serve_frames(c);
    } catch (...) {
        // Out of memory or a failing module: this socket ends, the server
        // goes on.
        send_bytes(c->s, encode_fault(0, kErrResources), cfg_.frame_limit_ms);
    }
    end_connection(c);
}

void Server::serve_frames(Connection* c) {
    if (handshake(c)) {
        for (;;) {
            Head head;
            int32_t fault = 0;
            // Between frames a logged-in socket waits until the idle limit
            // (end_idle_connections), stop or its peer ends the wait. It
            // became idle at its login or when its last answer was ready.
            const Read r = read_frame(c->s, c->frame, cfg_.max_request, kIdleWait, cfg_.frame_limit_ms,
                                      &head, &fault);
            c->waiting = false;
            if (r == Read::Gone) break;
            CommandView cmd;
            if (r == Read::Bad || head.kind != kCommand ||
                !decode_command(c->frame.data() + kHeadSize, c->frame.size() - kHeadSize, &cmd)) {
                send_fault_and_drain(c->s, r == Read::Ok ? head.request_id : 0,
                                     r == Read::Bad ? fault : kErrProtocol, cfg_.frame_limit_ms);
                break;
            }
            ++requests_;
            Outgoing out = dispatch(*c->session, cmd, *c);
            // The request is served: a large frame's buffer is not kept for
            // the rest of the connection's life.
            if (c->frame.capacity() > kKeptFrame) Bytes().swap(c->frame);
            c->frame_room = c->frame.capacity();
            // Idle from here: the answer's send has the frame limit of its
            // own, and a client that has its answer finds the socket waiting.
            c->idle_since = clock_ms();
            c->waiting = true;

            AnswerFixed fixed;
            fixed.result = out.result;
            fixed.part_ticket = out.part_ticket;
            fixed.answer_len = static_cast<uint32_t>(out.len);
            fixed.whole_len = static_cast<uint32_t>(
                std::min<std::size_t>(std::max(out.whole, out.len), UINT32_MAX));
            unsigned char lead[kAnswerLead];
            encode_answer_lead(lead, head.request_id, fixed);
            const unsigned char* data = out.bytes ? out.bytes->data() + out.off : nullptr;
            if (out.fault == Fault::None) {
                xsrnet::Slice sl[2] = {{lead, sizeof lead}, {data, out.len}};
                if (xsrnet::send_all(c->s, sl, 2, xsrnet::now_ms() + cfg_.frame_limit_ms) != Io::Ok) break;
                continue;
            }
            if (out.fault == Fault::Cut) {
                // The frame's first cut_at bytes, then the socket ends.
                Bytes whole(lead, lead + sizeof lead);
                if (data) whole.insert(whole.end(), data, data + out.len);
                whole.resize(std::min<std::size_t>(whole.size(), out.cut_at));
                send_bytes(c->s, whole, cfg_.frame_limit_ms);
            } else if (out.fault == Fault::Reset) {
                c->reset_on_close = true;
            } else {
                // Stall: never answer; wait until the client gives up or the
                // server stops, discarding whatever arrives.
                unsigned char sink[4096];
                std::size_t got = 0;
                while (xsrnet::recv_some(c->s, sink, sizeof sink, &got, xsrnet::now_ms() + kIdleWait) ==
                       Io::Ok) {
                }
            }
            break;
        }
    }
}

void Server::end_connection(Connection* c) {
    if (c->session) {
        std::shared_ptr<Session> s = c->session;
        bool last = false;
        {
            std::lock_guard<std::mutex> g(sess_mu_);
            last = --s->sockets == 0;
            if (last) sessions_.erase(s->id);
        }
        if (last) {
            // The session's pending work ends with it.
            std::lock_guard<std::mutex> g(s->mu);
            for (auto& t : s->tickets)
                if (t.second.job) t.second.job->cancel.cancel();
            s->tickets.clear();
        }
        c->session.reset();
    }
    if (c->reset_on_close)
        xsrnet::reset_socket(c->s);
    else
        xsrnet::close_socket(c->s);
    c->done = true;
}

// --- commands ----------------------------------------------------------------

Server::Outgoing Server::dispatch(Session& s, const CommandView& cmd, Connection& c) {
    using Fn = Outgoing (Server::*)(Session&, const CommandView&, Connection&);
    static const std::map<uint16_t, Fn> table = {
        {1, &Server::cmd_action},        {2, &Server::cmd_message},
        {3, &Server::cmd_message},       {4, &Server::cmd_poll},
        {5, &Server::cmd_ticket},        {6, &Server::cmd_module_list},
        {7, &Server::cmd_module_info},   {8, &Server::cmd_version},
        {9, &Server::cmd_text},          {11, &Server::cmd_cluster_add},
        {12, &Server::cmd_cluster_delete}, {13, &Server::cmd_cluster_description},
    };
    if (cmd.capacity < 0) return Outgoing::code(kErrRequest);
    if (cmd.header.constant != kHeaderConstant) return Outgoing::code(kErrCommand);
    auto it = table.find(cmd.header.code);
    if (it == table.end()) return Outgoing::code(kErrCommand);
    {
        std::lock_guard<std::mutex> g(s.mu);
        sweep_locked(s);
    }
    return (this->*(it->second))(s, cmd, c);
}

uint32_t Server::part_size_of(const ModuleAnswer& a) const {
    return a.part_size > 0 ? a.part_size : cfg_.part_size;
}

Ticket Server::new_ticket_locked(Session& s, TicketEntry e) {
    Ticket t{static_cast<int32_t>(s.id), s.next_ticket++};
    if (s.next_ticket <= 0) s.next_ticket = 1;
    s.tickets[t] = std::move(e);
    return t;
}

void Server::sweep_locked(Session& s) {
    const int64_t now = xsrnet::now_ms();
    if (now - s.last_sweep < 1000) return;
    s.last_sweep = now;
    for (auto it = s.tickets.begin(); it != s.tickets.end();) {
        TicketEntry& e = it->second;
        if (!e.answer && e.job) e.job->is_done(&e.answer, &e.ready_at);
        if (e.answer && now - e.ready_at > static_cast<int64_t>(cfg_.ticket_ttl_ms))
            it = s.tickets.erase(it);
        else
            ++it;
    }
}

Server::Outgoing Server::pending_locked(Session& s, const Ticket& t, int32_t capacity) {
    if (capacity < static_cast<int32_t>(kTicketSize)) {
        // No room for the ticket: the answer could never be fetched.
        auto it = s.tickets.find(t);
        if (it != s.tickets.end()) {
            if (it->second.job) it->second.job->cancel.cancel();
            s.tickets.erase(it);
        }
        return Outgoing::code(kErrOverflow);
    }
    Bytes b(kTicketSize);
    put_ticket(b.data(), t);
    return Outgoing::own(kPending, std::move(b));
}

Server::Outgoing Server::deliver_ticket_locked(Session& s, const Ticket& t, int32_t capacity) {
    auto it = s.tickets.find(t);
    if (it == s.tickets.end()) return Outgoing::code(kErrTicket);
    TicketEntry& e = it->second;
    if (!e.answer && !(e.job && e.job->is_done(&e.answer, &e.ready_at))) return pending_locked(s, t, capacity);
    const ModuleAnswer& a = *e.answer;
    const Chunk ch = next_chunk(a.bytes.size() - e.offset, part_size_of(a), static_cast<std::size_t>(capacity));
    Outgoing o;
    o.bytes = std::shared_ptr<const Bytes>(e.answer, &e.answer->bytes);
    o.off = e.offset;
    o.len = ch.len;
    o.whole = a.bytes.size();
    if (e.offset == 0) {
        o.fault = a.fault;
        o.cut_at = a.cut_at;
    }
    switch (ch.step) {
        case Step::Whole:
            o.result = a.result;
            s.tickets.erase(it);
            break;
        case Step::Part:
            o.result = kPart;
            o.part_ticket = t;
            e.offset += ch.len;
            break;
        case Step::Overflow:
            // The rest is dropped; the caller learns the whole length and
            // asks again with room for it.
            o.result = kTooLong;
            s.tickets.erase(it);
            break;
    }
    return o;
}

Server::Outgoing Server::deliver_first(Session& s, std::shared_ptr<const ModuleAnswer> a,
                                       int32_t capacity, bool async) {
    const std::size_t size = a->bytes.size();
    if (size > part_size_of(*a)) {
        // Parts are fetched by ticket: an asynchronous sender gets the ticket
        // first (pending), a synchronous one its first part at once.
        std::lock_guard<std::mutex> g(s.mu);
        TicketEntry e;
        e.async = async;
        e.answer = a;
        e.ready_at = xsrnet::now_ms();
        const Ticket t = new_ticket_locked(s, std::move(e));
        return async ? pending_locked(s, t, capacity) : deliver_ticket_locked(s, t, capacity);
    }
    const Chunk ch = next_chunk(size, part_size_of(*a), static_cast<std::size_t>(capacity));
    Outgoing o;
    o.result = ch.step == Step::Whole ? a->result : kTooLong;
    o.bytes = std::shared_ptr<const Bytes>(a, &a->bytes);
    o.len = ch.len;
    o.whole = size;
    o.fault = a->fault;
    o.cut_at = a->cut_at;
    return o;
}

namespace {

// module NUL, [target NUL], NUL, [payload]
bool parse_message(const unsigned char* p, std::size_t n, bool payload_follows, std::string* module,
                   std::string* target, const unsigned char** payload, std::size_t* payload_len) {
    BodyReader r(p, n);
    if (!r.cstr(module, 4096)) return false;
    if (!r.cstr(target, 4096)) return false;
    if (!target->empty()) {
        std::string empty;
        if (!r.cstr(&empty, 0)) return false;
    }
    r.rest(payload, payload_len);
    return payload_follows || *payload_len == 0;
}

}  // namespace

Server::Outgoing Server::cmd_message(Session& s, const CommandView& cmd, Connection& c) {
    const bool async = cmd.header.code == 3;
    ModuleCall call;
    const unsigned char* payload = nullptr;
    std::size_t payload_len = 0;
    if (!parse_message(cmd.body, cmd.body_len, !async, &call.module, &call.target, &payload, &payload_len))
        return Outgoing::code(kErrRequest);
    if (async) {
        payload = cmd.body2;
        payload_len = cmd.body2_len;
    }
    std::shared_ptr<Module> module;
    const int32_t rc = modules_.resolve(call.module, &module, nullptr);
    if (rc != 0) return Outgoing::code(rc);
    call.code = cmd.header.code;
    call.payload.assign(payload, payload + payload_len);
    call.user = s.user;
    call.capacity = cmd.capacity;

    if (module->quick(call)) {
        auto a = std::make_shared<const ModuleAnswer>(module->call(call, c.cancel, *this));
        return deliver_first(s, std::move(a), cmd.capacity, async);
    }
    auto job = std::make_shared<Job>();
    job->call = std::move(call);
    job->module = std::move(module);
    if (!submit(job)) return Outgoing::code(kErrBusy);
    if (job->wait_done(cfg_.pending_after_ms)) {
        std::shared_ptr<const ModuleAnswer> a;
        int64_t at = 0;
        job->is_done(&a, &at);
        return deliver_first(s, std::move(a), cmd.capacity, async);
    }
    std::lock_guard<std::mutex> g(s.mu);
    TicketEntry e;
    e.async = async;
    e.job = job;
    const Ticket t = new_ticket_locked(s, std::move(e));
    return pending_locked(s, t, cmd.capacity);
}

namespace {
bool ticket_body(const CommandView& cmd, Ticket* t) {
    if (cmd.body_len != kTicketSize) return false;
    *t = get_ticket(cmd.body);
    // A poll right after a first part carries no ticket of its own.
    if (t->zero()) *t = cmd.part_ticket;
    return true;
}
}  // namespace

Server::Outgoing Server::cmd_poll(Session& s, const CommandView& cmd, Connection&) {
    Ticket t;
    if (!ticket_body(cmd, &t)) return Outgoing::code(kErrRequest);
    std::lock_guard<std::mutex> g(s.mu);
    return deliver_ticket_locked(s, t, cmd.capacity);
}

Server::Outgoing Server::cmd_ticket(Session& s, const CommandView& cmd, Connection&) {
    Ticket t;
    if (!ticket_body(cmd, &t)) return Outgoing::code(kErrRequest);
    std::lock_guard<std::mutex> g(s.mu);
    auto it = s.tickets.find(t);
    if (it == s.tickets.end()) return Outgoing::code(kErrTicket);
    if (it->second.async) return deliver_ticket_locked(s, t, cmd.capacity);
    // A synchronous request's ticket is only ever polled with code 4; code 5
    // on it is the cancel at the end of a time limit.
    if (it->second.job) it->second.job->cancel.cancel();
    s.tickets.erase(it);
    ++cancelled_;
    return Outgoing::code(0);
}

namespace {
Bytes text_bytes(const std::string& s) {
    Bytes b(s.begin(), s.end());
    b.push_back(0);
    return b;
}
}  // namespace

Server::Outgoing Server::cmd_module_list(Session& s, const CommandView& cmd, Connection&) {
    auto a = std::make_shared<ModuleAnswer>();
    a->bytes = text_bytes(modules_.list_text());
    return deliver_first(s, std::move(a), cmd.capacity, false);
}

Server::Outgoing Server::cmd_module_info(Session& s, const CommandView& cmd, Connection&) {
    BodyReader r(cmd.body, cmd.body_len);
    // name NUL, then either the closing NUL alone, or the second name (an
    // empty one too) with its NUL and the closing NUL.
    std::string name, second, empty;
    if (!r.cstr(&name, 4096) || !r.cstr(&second, 4096) || name.empty()) return Outgoing::code(kErrRequest);
    if (!r.at_end() && (!r.cstr(&empty, 0) || !r.at_end())) return Outgoing::code(kErrRequest);
    std::string text;
    const int32_t rc = modules_.info_text(name, second, &text);
    if (rc != 0) return Outgoing::code(rc);
    auto a = std::make_shared<ModuleAnswer>();
    a->bytes = text_bytes(text);
    return deliver_first(s, std::move(a), cmd.capacity, false);
}

Server::Outgoing Server::cmd_version(Session& s, const CommandView& cmd, Connection&) {
    auto a = std::make_shared<ModuleAnswer>();
    a->bytes = text_bytes(cfg_.version_text);
    return deliver_first(s, std::move(a), cmd.capacity, false);
}

Server::Outgoing Server::cmd_action(Session&, const CommandView& cmd, Connection&) {
    ActionDocument d;
    if (!parse_action_document(std::string(cmd.body, cmd.body + cmd.body_len), &d))
        return Outgoing::code(kErrStatement);
    return Outgoing::code(d.start ? modules_.start(d.module, d.has_version, d.version)
                                  : modules_.stop(d.module, d.has_version, d.version));
}

Server::Outgoing Server::cmd_text(Session& s, const CommandView& cmd, Connection&) {
    const std::string text(cmd.body, cmd.body + cmd.body_len);
    TextCommand t;
    int32_t rc = kErrStatement;
    if (text.find('\0') == std::string::npos && parse_text_command(text, &t)) {
        switch (t.kind) {
            case TextKind::Register:
                rc = modules_.register_module(t.reg);
                break;
            case TextKind::Unregister:
                rc = modules_.unregister(t.reg.module, t.reg.has_version, t.reg.version);
                break;
            case TextKind::ModuleStatement: {
                std::shared_ptr<Module> m;
                rc = modules_.resolve(t.module, &m, nullptr);
                break;
            }
            case TextKind::Statement:
                rc = 0;
                break;
        }
    }
    {
        std::lock_guard<std::mutex> g(log_mu_);
        log_.push_back(std::to_string(rc) + "\t" + s.user + "\t" + text);
        if (log_.size() > kLogLimit) log_.pop_front();
    }
    return Outgoing::code(rc);
}

Server::Outgoing Server::cmd_cluster_add(Session&, const CommandView& cmd, Connection&) {
    return Outgoing::code(clusters_.add(cmd.body, cmd.body_len));
}

Server::Outgoing Server::cmd_cluster_delete(Session&, const CommandView& cmd, Connection&) {
    return Outgoing::code(clusters_.remove(cmd.body, cmd.body_len));
}

Server::Outgoing Server::cmd_cluster_description(Session& s, const CommandView& cmd, Connection&) {
    auto a = std::make_shared<ModuleAnswer>();
    a->bytes = clusters_.encode();
    return deliver_first(s, std::move(a), cmd.capacity, false);
}

// --- worker pool -------------------------------------------------------------

bool Server::submit(const std::shared_ptr<Job>& job) {
    {
        std::lock_guard<std::mutex> g(pool_mu_);
        if (pool_stop_ || queue_.size() + running_.size() >= cfg_.max_jobs) return false;
        queue_.push_back(job);
    }
    pool_cv_.notify_one();
    return true;
}

void Server::worker_loop() {
    for (;;) {
        std::shared_ptr<Job> job;
        std::list<std::shared_ptr<Job>>::iterator slot;
        {
            std::unique_lock<std::mutex> g(pool_mu_);
            pool_cv_.wait(g, [this] { return pool_stop_ || !queue_.empty(); });
            if (pool_stop_) return;
            job = queue_.front();
            queue_.pop_front();
            slot = running_.insert(running_.end(), job);
        }
        ModuleAnswer a;
        if (job->cancel.cancelled()) {
            a.result = kErrShutdown;
        } else {
            try {
                a = job->module->call(job->call, job->cancel, *this);
            } catch (...) {
                a = ModuleAnswer();
                a.result = kErrResources;
            }
        }
        job->finish(std::move(a));
        std::lock_guard<std::mutex> g(pool_mu_);
        running_.erase(slot);
    }
}

// --- ServerView ----------------------------------------------------------------

std::string Server::server_name() const { return cfg_.name; }

std::string Server::statement_log() const {
    std::lock_guard<std::mutex> g(log_mu_);
    std::string s;
    for (const auto& l : log_) s += l + "\n";
    return s;
}

void Server::clear_statement_log() {
    std::lock_guard<std::mutex> g(log_mu_);
    log_.clear();
}

std::string Server::stats() const {
    std::size_t sessions = 0, sockets = 0, tickets = 0, frame_bytes = 0;
    {
        std::lock_guard<std::mutex> g(conn_mu_);
        for (const auto& c : conns_) frame_bytes += c->frame_room;
    }
    std::vector<std::shared_ptr<Session>> list;
    {
        std::lock_guard<std::mutex> g(sess_mu_);
        sessions = sessions_.size();
        for (const auto& s : sessions_) {
            sockets += static_cast<std::size_t>(s.second->sockets);
            list.push_back(s.second);
        }
    }
    for (const auto& s : list) {
        std::lock_guard<std::mutex> g(s->mu);
        tickets += s->tickets.size();
    }
    return "sessions=" + std::to_string(sessions) + "\nsockets=" + std::to_string(sockets) +
           "\ntickets=" + std::to_string(tickets) + "\ncancelled=" + std::to_string(cancelled_.load()) +
           "\nrequests=" + std::to_string(requests_.load()) + "\nheld=" + std::to_string(held_.load()) +
           "\nframe_bytes=" + std::to_string(frame_bytes) + "\n";
}

bool Server::hold_gate(const std::string& name, const CancelToken& cancel, uint32_t max_ms) {
    struct Count {
        std::atomic<uint64_t>& n;
        explicit Count(std::atomic<uint64_t>& c) : n(c) { ++n; }
        ~Count() { --n; }
    } count(held_);
    std::unique_lock<std::mutex> g(gate_mu_);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(max_ms);
    while (!gates_[name]) {
        if (cancel.cancelled() || stopping_) return false;
        // Slices, so that a cancel (which does not signal this condition)
        // is seen promptly.
        if (gate_cv_.wait_until(g, std::min(until, std::chrono::steady_clock::now() +
                                                       std::chrono::milliseconds(20))) ==
                std::cv_status::timeout &&
            std::chrono::steady_clock::now() >= until)
            return gates_[name];
    }
    return true;
}

void Server::release_gate(const std::string& name) {
    {
        std::lock_guard<std::mutex> g(gate_mu_);
        gates_[name] = true;
    }
    gate_cv_.notify_all();
}

}  // namespace xsrsim

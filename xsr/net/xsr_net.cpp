// The networked XSRClient: the five XSR_ functions over TCP, speaking the
// protocol of docs/protocol.md.
//
// A connection handle stands for one login session on the server. Each
// handle keeps a small pool of sockets: a call takes an idle socket (or
// opens one more and attaches it to the session with the session's token),
// sends its request, waits for its answer and gives the socket back. So
// calls on one handle from several threads run side by side and a slow one
// holds up nobody, and a round trip costs one send and one receive. Every
// wait is bounded: connect and handshake by the connect limit, each request
// by the I/O limit. A socket that fails (closed, reset, stalled, malformed
// frame) marks the whole handle lost: XSR_IsValidCon then reports 0 and
// every later call fails fast until XSR_CloseConn.
//
// Limits come from the environment when a connection is opened (or a server
// probed): XSR_NET_CONNECT_TIMEOUT_MS (default 5000) and
// XSR_NET_IO_TIMEOUT_MS (default 45000, the time-out hint callers pass).
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <unordered_map>
#include <vector>

#include "xsr/net/socket.h"
#include "xsr/proto/wire.h"
#include "xsr/xsrclient.h"

namespace {

using namespace xsrproto;
using xsrnet::Io;
using xsrnet::Socket;

constexpr std::size_t kStagingSize = 4096;
constexpr std::size_t kMaxSocketsPerHandle = 64;

struct Limits {
    int32_t connect_ms = 5000;
    int32_t io_ms = 45000;
};

int32_t env_ms(const char* name, int32_t def) {
    const char* v = std::getenv(name);
    if (!v || !*v) return def;
    char* end = nullptr;
    const long n = std::strtol(v, &end, 10);
    if (*end || n <= 0 || n > 86400000) return def;
    return static_cast<int32_t>(n);
}

Limits read_limits() {
    Limits l;
    l.connect_ms = env_ms("XSR_NET_CONNECT_TIMEOUT_MS", l.connect_ms);
    l.io_ms = env_ms("XSR_NET_IO_TIMEOUT_MS", l.io_ms);
    return l;
}

// One socket of a connection, with the staging area that takes the start of
// each answer frame.
struct Channel {
    Socket s = xsrnet::kNoSocket;
    uint32_t next_request = 1;
    unsigned char staging[kStagingSize];

    ~Channel() { xsrnet::close_socket(s); }
};

struct Conn {
    xsrnet::Endpoint endpoint;  // where the login went; more sockets go there too
    Limits limits;
    uint32_t session = 0;
    unsigned char token[kTokenSize] = {};

    std::mutex mu;
    std::condition_variable idle_cv;
    std::vector<std::unique_ptr<Channel>> idle;
    std::vector<Channel*> busy;  // sockets in use, shut down by XSR_CloseConn
    std::size_t sockets = 0;     // idle + busy + being opened
    bool closed = false;
    std::atomic<bool> lost{false};
    // The ticket of the latest first part per thread: the poll that follows
    // a first part carries ticket (0, 0) and this one goes with it.
    std::map<std::thread::id, Ticket> part_tickets;
};

struct Table {
    std::mutex mu;
    std::unordered_map<int32_t, std::shared_ptr<Conn>> conns;
    int32_t next = 1;
};

// Never destroyed: calls may still arrive while the process exits.
Table& table() {
    static Table* t = new Table();
    return *t;
}

std::shared_ptr<Conn> find(int32_t handle) {
    Table& t = table();
    std::lock_guard<std::mutex> g(t.mu);
    auto it = t.conns.find(handle);
    return it == t.conns.end() ? nullptr : it->second;
}

int32_t io_code(Io r) {
    switch (r) {
        case Io::Ok: return 0;
        case Io::TimedOut: return kErrTimeout;
        case Io::Closed:
        case Io::Failed: break;
    }
    return kErrLost;
}

// Connects to the first endpoint of host:port that accepts.
int32_t dial(const char* host, int32_t port, int64_t deadline, std::unique_ptr<Channel>* out,
             xsrnet::Endpoint* used) {
    if (!xsrnet::startup()) return kErrResources;
    std::vector<xsrnet::Endpoint> eps;
    if (xsrnet::resolve(host, port, &eps) != xsrnet::Resolve::Ok) return kErrResolve;
    bool timed_out = false;
    for (const auto& ep : eps) {
        Socket s;
        const Io r = xsrnet::connect_to(ep, deadline, &s);
        if (r == Io::Ok) {
            std::unique_ptr<Channel> ch(new (std::nothrow) Channel());
            if (!ch) {
                xsrnet::close_socket(s);
                return kErrResources;
            }
            ch->s = s;
            *out = std::move(ch);
            if (used) *used = ep;
            return 0;
        }
        if (r == Io::TimedOut) {
            timed_out = true;
            break;
        }
    }
    return timed_out ? kErrConnectTimeout : kErrConnect;
}

// Sends a handshake frame and reads the welcome (or the fault) back.
int32_t handshake(Channel& ch, const std::vector<unsigned char>& frame, int64_t deadline, Welcome* w) {
    xsrnet::Slice sl{frame.data(), frame.size()};
    Io r = xsrnet::send_all(ch.s, &sl, 1, deadline);
    if (r != Io::Ok) return r == Io::TimedOut ? kErrConnectTimeout : kErrLost;
    unsigned char buf[kPrefixSize + kMaxSmallFrame];
    r = xsrnet::recv_exact(ch.s, buf, kPrefixSize, deadline);
    if (r != Io::Ok) return r == Io::TimedOut ? kErrConnectTimeout : kErrLost;
    const uint32_t len = get_u32(buf);
    if (!frame_length_ok(len, kMaxSmallFrame)) return kErrProtocol;
    r = xsrnet::recv_exact(ch.s, buf + kPrefixSize, len, deadline);
    if (r != Io::Ok) return r == Io::TimedOut ? kErrConnectTimeout : kErrLost;
    Head head;
    if (decode_head(buf + kPrefixSize, len, &head) != HeadStatus::Ok) return kErrProtocol;
    const unsigned char* p = buf + kPrefixSize + kHeadSize;
    const std::size_t n = len - kHeadSize;
    if (head.kind == kFault) {
        int32_t code = 0;
        return decode_fault(p, n, &code) && code < 0 ? code : kErrProtocol;
    }
    if (head.kind != kWelcome || head.request_id != get_u32(frame.data() + kPrefixSize + 4) ||
        !decode_welcome(p, n, w))
        return kErrProtocol;
    // A welcome accepts (0) or refuses with a negative code; anything else
    // would reach the caller as neither.
    if (w->result > 0) return kErrProtocol;
    return 0;
}

// Connects one more socket of the session and attaches it with the
// session's token.
int32_t attach(Conn& c, Channel& ch) {
    const int64_t deadline = xsrnet::now_ms() + c.limits.connect_ms;
    const Io r = xsrnet::connect_socket(ch.s, c.endpoint, deadline);
    if (r != Io::Ok) return r == Io::TimedOut ? kErrConnectTimeout : kErrLost;
    Welcome w;
    const int32_t rc = handshake(ch, encode_attach(ch.next_request++, c.session, c.token), deadline, &w);
    if (rc != 0) return rc;
    return w.result;
}

void unlist_busy(Conn& c, Channel* ch) {
    for (auto it = c.busy.begin(); it != c.busy.end(); ++it) {
        if (*it == ch) {
            c.busy.erase(it);
            return;
        }
    }
}

// Takes an idle socket of the connection, or opens another one.
int32_t acquire(Conn& c, int64_t deadline, std::unique_ptr<Channel>* out) {
    {
        std::unique_lock<std::mutex> g(c.mu);
        for (;;) {
            if (c.closed) return kErrClosed;
            if (c.lost) return kErrLost;
            if (!c.idle.empty()) {
                *out = std::move(c.idle.back());
                c.idle.pop_back();
                c.busy.push_back(out->get());
                return 0;
            }
            if (c.sockets < kMaxSocketsPerHandle) break;
            if (c.idle_cv.wait_until(g, std::chrono::steady_clock::now() +
                                            std::chrono::milliseconds(deadline - xsrnet::now_ms())) ==
                    std::cv_status::timeout &&
                c.idle.empty())
                return kErrTimeout;
        }
        ++c.sockets;
    }
    // The new socket is among the busy ones from before its connect, so
    // that XSR_CloseConn ends its connect or handshake as it ends the calls
    // waiting for answers.
    std::unique_ptr<Channel> ch(new (std::nothrow) Channel());
    int32_t rc = ch ? 0 : kErrResources;
    if (rc == 0) {
        ch->s = xsrnet::open_socket(c.endpoint.family);
        if (ch->s == xsrnet::kNoSocket) rc = kErrResources;
    }
    bool listed = false;
    if (rc == 0) {
        std::lock_guard<std::mutex> g(c.mu);
        if (!c.closed) {
            c.busy.push_back(ch.get());
            listed = true;
        }
    }
    if (listed) rc = attach(c, *ch);
    std::lock_guard<std::mutex> g(c.mu);
    if (rc != 0 || c.closed) {
        if (listed) unlist_busy(c, ch.get());
        --c.sockets;
        // The socket closes once the lock is left (ch outlives g).
        if (c.closed) return kErrClosed;
        if (rc != kErrBusy) c.lost = true;
        return rc;
    }
    *out = std::move(ch);
    return 0;
}

// Gives a socket back: to the idle pool when it is still good, else closed.
void release(Conn& c, std::unique_ptr<Channel> ch, bool good) {
    std::unique_ptr<Channel> drop;
    {
        std::lock_guard<std::mutex> g(c.mu);
        unlist_busy(c, ch.get());
        if (good && !c.closed && !c.lost) {
            c.idle.push_back(std::move(ch));
        } else {
            --c.sockets;
            drop = std::move(ch);
        }
    }
    c.idle_cv.notify_one();
}

// Receives the answer to request `rid`: the answer bytes go straight to
// `answer`, never more than `capacity` of them.
int32_t receive_answer(Channel& ch, uint32_t rid, unsigned char* answer, int32_t capacity,
                       int64_t deadline, AnswerFixed* out) {
    std::size_t have = 0;
    uint32_t len = 0;
    while (have < kPrefixSize + kHeadSize) {
        std::size_t got = 0;
        const Io r = xsrnet::recv_some(ch.s, ch.staging + have, kStagingSize - have, &got, deadline);
        if (r != Io::Ok) return io_code(r);
        const bool had_prefix = have >= kPrefixSize;
        have += got;
        // A length no frame can have ends the wait at once.
        if (!had_prefix && have >= kPrefixSize) {
            len = get_u32(ch.staging);
            if (!frame_length_ok(len, kMaxFrame)) return kErrProtocol;
        }
    }
    Head head;
    if (decode_head(ch.staging + kPrefixSize, len, &head) != HeadStatus::Ok) return kErrProtocol;
    const std::size_t total = kPrefixSize + static_cast<std::size_t>(len);
    // Bytes past this frame were never asked for.
    if (have > total) return kErrProtocol;
    // An answer names its request; a fault names the refused request, or 0
    // when the server could not tell which one it was (a frame it could not
    // read, a request that failed inside the server).
    if (head.request_id != rid && !(head.kind == kFault && head.request_id == 0)) return kErrProtocol;
    if (head.kind == kFault) {
        if (total > kStagingSize) return kErrProtocol;
        const Io r = xsrnet::recv_exact(ch.s, ch.staging + have, total - have, deadline);
        if (r != Io::Ok) return io_code(r);
        int32_t code = 0;
        return decode_fault(ch.staging + kPrefixSize + kHeadSize, len - kHeadSize, &code) && code < 0
                   ? code
                   : kErrProtocol;
    }
    if (head.kind != kAnswer || len < kHeadSize + kAnswerFixed) return kErrProtocol;
    if (len - kHeadSize - kAnswerFixed > static_cast<uint32_t>(capacity)) return kErrProtocol;
    if (have < kAnswerLead) {
        const Io r = xsrnet::recv_exact(ch.s, ch.staging + have, kAnswerLead - have, deadline);
        if (r != Io::Ok) return io_code(r);
        have = kAnswerLead;
    }
    if (!decode_answer_fixed(ch.staging + kPrefixSize + kHeadSize, len - kHeadSize, out))
        return kErrProtocol;
    const std::size_t staged = have - kAnswerLead;
    if (staged) std::memcpy(answer, ch.staging + kAnswerLead, staged);
    const std::size_t rest = out->answer_len - staged;
    if (rest) {
        const Io r = xsrnet::recv_exact(ch.s, answer + staged, rest, deadline);
        if (r != Io::Ok) return io_code(r);
    }
    return 0;
}

// Closes every idle socket of a lost connection.
void mark_lost(Conn& c) {
    std::vector<std::unique_ptr<Channel>> drop;
    std::lock_guard<std::mutex> g(c.mu);
    c.lost = true;
    c.sockets -= c.idle.size();
    drop.swap(c.idle);
    c.idle_cv.notify_all();
}

int32_t command(int32_t handle, int32_t timeout_hint, unsigned char* answer, int32_t capacity,
                int32_t* answer_len, const unsigned char* header, const unsigned char* body,
                int32_t body_len, const unsigned char* body2, int32_t body2_len) {
    std::shared_ptr<Conn> c = find(handle);
    if (!c) return kErrHandle;
    if (c->lost) return kErrLost;

    const CommandHeader h = decode_header(header);
    Ticket part;
    {
        std::lock_guard<std::mutex> g(c->mu);
        if (!c->part_tickets.empty()) {
            auto it = c->part_tickets.find(std::this_thread::get_id());
            if (it != c->part_tickets.end()) {
                if (h.code == 4) part = it->second;
                c->part_tickets.erase(it);
            }
        }
    }

    int32_t limit = c->limits.io_ms;
    if (timeout_hint > 0 && timeout_hint < limit) limit = timeout_hint;
    const int64_t deadline = xsrnet::now_ms() + limit;

    std::unique_ptr<Channel> ch;
    int32_t rc = acquire(*c, deadline, &ch);
    if (rc != 0) return rc;

    const uint32_t rid = ch->next_request++;
    unsigned char lead[kCommandLead];
    unsigned char mid[4];
    if (!encode_command_lead(lead, rid, header, capacity, part, static_cast<std::size_t>(body_len),
                             static_cast<std::size_t>(body2_len))) {
        release(*c, std::move(ch), true);
        return kErrTooLarge;
    }
    put_u32(mid, static_cast<uint32_t>(body2_len));
    const xsrnet::Slice slices[4] = {{lead, sizeof lead},
                                     {body, static_cast<std::size_t>(body_len)},
                                     {mid, sizeof mid},
                                     {body2, static_cast<std::size_t>(body2_len)}};
    Io io = xsrnet::send_all(ch->s, slices, 4, deadline);
    AnswerFixed a;
    rc = io == Io::Ok ? receive_answer(*ch, rid, answer, capacity, deadline, &a) : io_code(io);
    if (rc != 0) {
        bool closed;
        {
            std::lock_guard<std::mutex> g(c->mu);
            closed = c->closed;
        }
        release(*c, std::move(ch), false);
        if (closed) return kErrClosed;
        mark_lost(*c);
        return rc;
    }
    release(*c, std::move(ch), true);
    if (a.result == kPart && !a.part_ticket.zero()) {
        std::lock_guard<std::mutex> g(c->mu);
        c->part_tickets[std::this_thread::get_id()] = a.part_ticket;
    }
    // A cut answer reports the whole answer's length, so that the caller can
    // offer room for all of it; every other result the bytes written.
    const uint32_t reported = a.result == kTooLong ? a.whole_len : a.answer_len;
    *answer_len = reported > static_cast<uint32_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(reported);
    return a.result;
}

}  // namespace

extern "C" {

XSR_API int32_t XSR_CALL XSR_OpenConn(const char* server, int32_t port, XSR_Login* login,
                                      int32_t* handle) {
    try {
        if (!server || !*server || port <= 0 || port > 65535 || !login || !handle) return kErrArgument;
        unsigned char record[kLoginSize];
        std::memcpy(record, login, kLoginSize);
        auto c = std::make_shared<Conn>();
        c->limits = read_limits();
        const int64_t deadline = xsrnet::now_ms() + c->limits.connect_ms;
        std::unique_ptr<Channel> ch;
        int32_t rc = dial(server, port, deadline, &ch, &c->endpoint);
        if (rc != 0) return rc;
        Welcome w;
        rc = handshake(*ch, encode_login(ch->next_request++, record), deadline, &w);
        if (rc != 0) return rc;
        if (w.result != 0) return w.result;
        c->session = w.session;
        std::memcpy(c->token, w.token, kTokenSize);
        c->idle.push_back(std::move(ch));
        c->sockets = 1;

        Table& t = table();
        std::lock_guard<std::mutex> g(t.mu);
        int32_t h = t.next;
        while (h <= 0 || t.conns.count(h)) h = (h <= 0 || h == INT32_MAX) ? 1 : h + 1;
        t.next = h == INT32_MAX ? 1 : h + 1;
        t.conns[h] = std::move(c);
        *handle = h;
        return 0;
    } catch (...) {
        return kErrResources;
    }
}

XSR_API int32_t XSR_CALL XSR_CloseConn(int32_t handle) {
    try {
        std::shared_ptr<Conn> c;
        {
            Table& t = table();
            std::lock_guard<std::mutex> g(t.mu);
            auto it = t.conns.find(handle);
            if (it == t.conns.end()) return kErrHandle;
            c = std::move(it->second);
            t.conns.erase(it);
        }
        std::vector<std::unique_ptr<Channel>> drop;
        {
            std::lock_guard<std::mutex> g(c->mu);
            c->closed = true;
            // Calls still waiting wake up and give their sockets back closed.
            for (Channel* b : c->busy) xsrnet::shutdown_socket(b->s);
            c->sockets -= c->idle.size();
            drop.swap(c->idle);
        }
        c->idle_cv.notify_all();
        return 0;
    } catch (...) {
        return kErrResources;
    }
}

XSR_API int32_t XSR_CALL XSR_IsValidCon(int32_t handle) {
    try {
        std::shared_ptr<Conn> c = find(handle);
        if (!c || c->lost) return 0;
        bool gone = false;
        {
            std::lock_guard<std::mutex> g(c->mu);
            if (c->closed) return 0;
            // An idle socket that is readable has been closed by the peer (the
            // server never speaks unasked).
            for (const auto& ch : c->idle)
                if (xsrnet::peer_gone(ch->s)) gone = true;
        }
        if (gone) {
            mark_lost(*c);
            return 0;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

XSR_API int32_t XSR_CALL XSR_CheckServer(const char* server, int32_t port) {
    try {
        if (!server || !*server || port <= 0 || port > 65535) return kErrArgument;
        const Limits l = read_limits();
        const int64_t deadline = xsrnet::now_ms() + l.connect_ms;
        std::unique_ptr<Channel> ch;
        int32_t rc = dial(server, port, deadline, &ch, nullptr);
        if (rc != 0) return rc;
        Welcome w;
        rc = handshake(*ch, encode_probe(ch->next_request++), deadline, &w);
        return rc != 0 ? rc : w.result;
    } catch (...) {
        return kErrResources;
    }
}

XSR_API int32_t XSR_CALL XSR_CommandEx(int32_t handle, int32_t magic, int32_t reserved1,
                                       int32_t timeout_hint, void* answer, int32_t* answer_len,
                                       const void* header, int32_t header_len, int32_t reserved2,
                                       const void* body, int32_t body_len, int32_t reserved3,
                                       const void* body2, int32_t body2_len) {
    (void)reserved1;
    (void)reserved2;
    (void)reserved3;
    const int32_t capacity = answer_len ? *answer_len : 0;
    if (answer_len) *answer_len = 0;
    try {
        // The calling contract: the fixed constants, a 16-byte header with
        // the constant 501, lengths that are not negative and pointers for
        // every positive length.
        if (magic != kCallMagic || header_len != static_cast<int32_t>(kHeaderSize) || !header ||
            capacity < 0 || (capacity > 0 && !answer) || body_len < 0 || (body_len > 0 && !body) ||
            body2_len < 0 || (body2_len > 0 && !body2))
            return kErrArgument;
        const auto* hdr = static_cast<const unsigned char*>(header);
        if (get_u16(hdr + 2) != kHeaderConstant) return kErrArgument;
        int32_t got = 0;
        const int32_t rc = command(handle, timeout_hint, static_cast<unsigned char*>(answer), capacity,
                                   &got, hdr, static_cast<const unsigned char*>(body), body_len,
                                   static_cast<const unsigned char*>(body2), body2_len);
        if (answer_len) *answer_len = got;
        return rc;
    } catch (...) {
        return kErrResources;
    }
}

}  // extern "C"

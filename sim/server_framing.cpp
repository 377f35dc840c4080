// xsr-sim: reading frames, the login, and serving one socket.
#include <cstring>
#include <random>
#include <sys/socket.h>

#include "sim/server.h"
#include "sim/server_parts.h"

namespace xsrsim {

using namespace xsrproto;
using xsrnet::Io;
using xsrnet::Socket;

// --- framing -----------------------------------------------------------------

namespace {

constexpr int64_t kIdleWait = int64_t(1) << 40;  // idle between frames: until the peer or stop ends it
constexpr std::size_t kReadChunk = 1u << 20;     // a large frame's buffer grows as its bytes arrive
constexpr std::size_t kKeptFrame = 64 * 1024;    // a larger frame's buffer is let go once it is served

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
    // A login or attach needs room among the logged-in sockets.
    if ((head.kind == kLogin || head.kind == kAttach) && !admit_login(c)) {
        send_bytes(c->s, encode_fault(head.request_id, kErrBusy), cfg_.frame_limit_ms);
        return false;
    }
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
            s->held = held_bytes_->open_account();
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
    // Closed under the lock under which the server's sweeps end sockets, so
    // that they never reach a descriptor that is closed (and maybe reused).
    std::lock_guard<std::mutex> g(conn_mu_);
    if (c->reset_on_close)
        xsrnet::reset_socket(c->s);
    else
        xsrnet::close_socket(c->s);
    c->done = true;
}

}  // namespace xsrsim

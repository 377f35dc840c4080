// The parts of xsr-sim's Server that its source files share: a module call
// on the worker pool, a session with its tickets, a connection, and an answer
// frame on its way out.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/server.h"

namespace xsrsim {

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
    // Set once the answer is held for a ticket: its bytes count against the
    // session's and the server's bounds from then on.
    std::shared_ptr<HeldAccount> account;
    HeldCharge charge;

    void finish(ModuleAnswer a) {
        auto shared = std::make_shared<const ModuleAnswer>(std::move(a));
        {
            std::lock_guard<std::mutex> g(mu);
            answer = std::move(shared);
            done = true;
            done_at = xsrnet::now_ms();
            charge_locked();
        }
        cv.notify_all();
    }
    // The answer (now or once it comes) is held for a ticket of the
    // account's session.
    void hold_for(std::shared_ptr<HeldAccount> a) {
        std::lock_guard<std::mutex> g(mu);
        account = std::move(a);
        if (done) charge_locked();
    }
    // An answer over the bounds is let go: the ticket answers
    // kErrHeldLimit instead.
    void charge_locked() {
        if (!account || !answer) return;
        if (account->pool->take(account, answer->bytes.size(), &charge)) return;
        ModuleAnswer refused;
        refused.result = xsrproto::kErrHeldLimit;
        answer = std::make_shared<const ModuleAnswer>(std::move(refused));
    }
    bool wait_done(uint32_t ms) {
        std::unique_lock<std::mutex> g(mu);
        return cv.wait_for(g, std::chrono::milliseconds(ms), [this] { return done; });
    }
    // The answer once done; its charge goes to *held, which from then on
    // stands for it (the ticket gives the bytes back when it goes, whoever
    // still refers to the job).
    bool is_done(std::shared_ptr<const ModuleAnswer>* a, int64_t* at, HeldCharge* held = nullptr) {
        std::lock_guard<std::mutex> g(mu);
        if (done) {
            *a = answer;
            *at = done_at;
            if (held) *held = std::move(charge);
        }
        return done;
    }
};

struct Server::Session {
    uint32_t id = 0;
    unsigned char token[xsrproto::kTokenSize] = {};
    std::string user;
    std::shared_ptr<HeldAccount> held;  // the bytes its tickets hold
    std::mutex mu;  // tickets
    std::map<xsrproto::Ticket, TicketEntry> tickets;
    int32_t next_ticket = 1;
    int64_t last_sweep = 0;
    int sockets = 0;  // under sess_mu_
};

struct Server::Connection {
    xsrnet::Socket s = xsrnet::kNoSocket;
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
    // Under conn_mu_. Until it logs in, a socket is in the pool of pending
    // logins (max_pending_logins, login_limit_ms from connected_at on the
    // server clock); from its login it counts against max_connections. One
    // that the server ends (closing) counts in neither.
    bool logged_in = false;
    bool closing = false;
    int64_t connected_at = 0;
};

// An answer frame to write: bytes [off, off+len) of `bytes`, which are part
// of an answer of `whole` bytes (0: just these).
struct Server::Outgoing {
    int32_t result = 0;
    xsrproto::Ticket part_ticket;
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

}  // namespace xsrsim

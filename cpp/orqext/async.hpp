// orqext/async.hpp - asynchronous module messages with one callback per
// request.
//
// The library has one asynchronous callback for the whole process. The first
// send_async installs the layer's dispatcher as that callback; it routes each
// answer by request id to the std::function given with the request. Request
// ids are chosen by the dispatcher (1 .. INT32_MAX, never two alike among
// pending requests), so independent parts of a program each use their own
// async_requester without knowing of each other.
//
// Threads: the callback of an answer runs on the library's worker thread,
// which holds the library's queue lock for its whole pass over the queue,
// server calls and callbacks included. So a callback delays every other
// answer and every send_async/cancel of other threads until it returns: keep
// it short, hand longer work to a thread of your own. A callback may call
// send_async and cancel (the lock is re-entrant), and may destroy its own
// requester. A "cancelled" callback runs on the thread that called cancel,
// cancel_all or the destructor.
//
// Every request that send_async accepted gets its callback exactly once:
// with the answer (or the failure the worker met), or with
// std::errc::operation_canceled when it is cancelled, its requester is
// destroyed first, or the orqext::connection it went out on is closed
// (close(), assignment, destructor) before its answer came, or with
// errc::timeout_cancelled when async_options::time_limit passed first. A
// send_async that fails calls nothing back. The form
// without a callback returns a std::future<std::string> made ready the same
// way. The library's worker passes over its queue every 200 ms.
//
// While the dispatcher is installed, do not install another callback with
// ORQExt_SetAsyncFunc: the layer installs its own again on each send, and
// answers to ids it did not hand out are dropped.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "orqext/connection.hpp"

namespace orqext {

using request_id = int32_t;

struct async_reply {
    request_id id = 0;
    // The Result code the worker met (0, or a non-negative status word, on
    // success); for a cancelled request, the cancel's Result code (what the
    // server said to the cancel: information, never a failure).
    int32_t result = 0;
    // Empty on success; the Result code on failure;
    // std::errc::operation_canceled when cancelled.
    std::error_code error;
    std::string answer;

    bool cancelled() const noexcept { return error == std::errc::operation_canceled; }
};
using async_callback = std::function<void(async_reply)>;

struct async_options {
    std::string_view target;  // empty: none
    // Room for the answer (at least 128 bytes are offered). A longer answer
    // reaches the callback as errc::answer_too_long with its leading part;
    // it is not asked for again.
    int32_t answer_capacity = 64 * 1024;
    // No answer within this long after send_async: the request is cancelled
    // in the library (a pending answer is cancelled on the server, and an
    // answer the worker is delivering just then is dropped) and ends with
    // errc::timeout_cancelled (-1113), as a synchronous send with a time limit
    // and cancel_on_timeout does. None: no limit. A negative limit is refused
    // (errc::bad_argument naming "time_limit") before anything is sent.
    std::optional<std::chrono::milliseconds> time_limit;
};

// The clock the time limits of asynchronous requests run on:
// std::chrono::steady_clock unless the requester is given another (a test's).
class async_clock {
public:
    using time_point = std::chrono::steady_clock::time_point;
    virtual ~async_clock() = default;
    virtual time_point now() = 0;
    // Waits on cv with lk held, as std::condition_variable::wait_until does:
    // returns once now() has reached deadline (time_point::max(): never) or
    // cv was notified, and may return early.
    virtual void wait_until(std::unique_lock<std::mutex>& lk, std::condition_variable& cv,
                            time_point deadline) = 0;
};

namespace detail {

class steady_async_clock final : public async_clock {
public:
    time_point now() override { return std::chrono::steady_clock::now(); }
    void wait_until(std::unique_lock<std::mutex>& lk, std::condition_variable& cv, time_point deadline) override {
        if (deadline == time_point::max())
            cv.wait(lk);
        else
            cv.wait_until(lk, deadline);
    }
    // Never destroyed: a requester's timer may outlive static destruction.
    static async_clock& instance() {
        static steady_async_clock* c = new steady_async_clock();
        return *c;
    }
};

// The time limits of one requester's requests, ended by its timer thread.
struct async_deadlines {
    std::mutex m;
    std::condition_variable cv;
    std::multimap<async_clock::time_point, int32_t> due;  // deadline -> request id
    bool started = false;
    bool stop = false;

    void forget(int32_t id) {
        std::lock_guard<std::mutex> g(m);
        for (auto it = due.begin(); it != due.end();) it = it->second == id ? due.erase(it) : std::next(it);
    }
};

struct async_owner {
    std::vector<std::thread::id> running_on;  // threads inside its callbacks
    bool closing = false;
    std::size_t pending = 0;
};

class async_dispatcher {
public:
    // Never destroyed: the worker may call back while the process exits.
    static async_dispatcher& instance() {
        static async_dispatcher* d = new async_dispatcher();
        return *d;
    }

    std::shared_ptr<async_owner> attach() {
        auto o = std::make_shared<async_owner>();
        std::lock_guard<std::mutex> g(m_);
        ++owners_;
        return o;
    }

    // Enters a request on a connection's handle; 0 when the owner is closing.
    request_id reserve(const std::shared_ptr<async_owner>& o, async_callback cb, int32_t handle) {
        std::lock_guard<std::mutex> g(m_);
        if (o->closing) return 0;
        do {
            last_ = last_ >= INT32_MAX ? 1 : last_ + 1;
        } while (pending_.count(last_) != 0);
        pending_.emplace(last_, entry{o, std::move(cb), handle});
        ++o->pending;
        closing_hook().store(&closing);
        // Installed again on every send: an unload and load of the library
        // in between forgets it.
        ORQExt_SetAsyncFunc(&trampoline, nullptr);
        return last_;
    }

    // Takes the request out when it belongs to the owner (any owner when o is
    // null); false when it is no longer pending.
    bool take(request_id id, const async_owner* o, async_callback* cb) {
        std::lock_guard<std::mutex> g(m_);
        return take_locked(id, o, cb, nullptr);
    }

    // Takes out every pending request of the owner; with for_good, the owner
    // accepts no new ones.
    std::vector<std::pair<request_id, async_callback>> take_all(const std::shared_ptr<async_owner>& o,
                                                                bool for_good) {
        std::vector<std::pair<request_id, async_callback>> out;
        std::lock_guard<std::mutex> g(m_);
        if (for_good) o->closing = true;
        for (auto it = pending_.begin(); it != pending_.end();) {
            if (it->second.owner == o) {
                out.emplace_back(it->first, std::move(it->second.cb));
                it = pending_.erase(it);
                --o->pending;
            } else {
                ++it;
            }
        }
        return out;
    }

    // Runs cb with the owner counted as busy on this thread.
    void deliver(const std::shared_ptr<async_owner>& o, const async_callback& cb, async_reply reply) {
        const auto self = std::this_thread::get_id();
        {
            std::lock_guard<std::mutex> g(m_);
            o->running_on.push_back(self);
        }
        try {
            if (cb) cb(std::move(reply));
        } catch (...) {
            // A callback's exception must not reach the worker or the C API.
        }
        std::lock_guard<std::mutex> g(m_);
        for (auto it = o->running_on.begin(); it != o->running_on.end(); ++it)
            if (*it == self) {
                o->running_on.erase(it);
                break;
            }
        cv_.notify_all();
    }

    // Waits until no other thread runs a callback of the owner, then lets the
    // owner go; the last one removes the library's callback so its worker
    // ends.
    void detach(const std::shared_ptr<async_owner>& o) {
        const auto self = std::this_thread::get_id();
        std::unique_lock<std::mutex> lk(m_);
        cv_.wait(lk, [&] {
            for (auto id : o->running_on)
                if (id != self) return false;
            return true;
        });
        if (--owners_ == 0 && pending_.empty()) {
            ORQExtAsyncCallback previous = nullptr;
            ORQExt_SetAsyncFunc(nullptr, &previous);
            if (previous != nullptr && previous != &trampoline)
                ORQExt_SetAsyncFunc(previous, nullptr);  // not ours: put it back
        }
    }

    // True while the request is pending for the owner.
    bool holds(request_id id, const async_owner* o) {
        std::lock_guard<std::mutex> g(m_);
        auto it = pending_.find(id);
        return it != pending_.end() && it->second.owner.get() == o;
    }

    std::size_t pending(const async_owner& o) {
        std::lock_guard<std::mutex> g(m_);
        return o.pending;
    }

    // Cancels a taken request: out of the library's queue (-4122 when the
    // worker has it in hand: its answer finds no entry and is dropped), and
    // its callback told std::errc::operation_canceled on this thread.
    void finish_cancelled(const std::shared_ptr<async_owner>& o, request_id id, const async_callback& cb) noexcept {
        finish(o, id, cb, std::make_error_code(std::errc::operation_canceled));
    }

    // Ends a taken request whose time limit passed: cancelled as above, its
    // callback told errc::timeout_cancelled on this thread.
    void finish_timed_out(const std::shared_ptr<async_owner>& o, request_id id, const async_callback& cb) noexcept {
        finish(o, id, cb, make_error_code(errc::timeout_cancelled));
    }

private:
    void finish(const std::shared_ptr<async_owner>& o, request_id id, const async_callback& cb,
                std::error_code why) noexcept {
        async_reply reply;
        reply.id = id;
        const int32_t rc = ORQExt_CancelAsync(0, id);
        reply.result = why == std::errc::operation_canceled ? rc : static_cast<int32_t>(why.value());
        reply.error = why;
        deliver(o, cb, std::move(reply));
    }

    struct entry {
        std::shared_ptr<async_owner> owner;
        async_callback cb;
        int32_t handle = 0;
    };

    // A connection is about to close its handle: the requests still pending
    // on it end as cancelled (the library would answer them with the closed
    // handle's failure).
    static void closing(int32_t handle) noexcept {
        async_dispatcher& d = instance();
        std::vector<std::pair<request_id, entry>> taken;
        {
            std::lock_guard<std::mutex> g(d.m_);
            for (auto it = d.pending_.begin(); it != d.pending_.end();) {
                if (it->second.handle == handle) {
                    --it->second.owner->pending;
                    taken.emplace_back(it->first, std::move(it->second));
                    it = d.pending_.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (const auto& t : taken) d.finish_cancelled(t.second.owner, t.first, t.second.cb);
    }

    bool take_locked(request_id id, const async_owner* o, async_callback* cb,
                     std::shared_ptr<async_owner>* owner) {
        auto it = pending_.find(id);
        if (it == pending_.end() || (o != nullptr && it->second.owner.get() != o)) return false;
        *cb = std::move(it->second.cb);
        --it->second.owner->pending;
        if (owner) *owner = std::move(it->second.owner);
        pending_.erase(it);
        return true;
    }

    static void ORQEXT_CALL trampoline(int32_t id, int32_t result, const void* answer,
                                       int32_t length) noexcept {
        async_dispatcher& d = instance();
        try {
            async_callback cb;
            std::shared_ptr<async_owner> owner;
            {
                std::lock_guard<std::mutex> g(d.m_);
                if (!d.take_locked(id, nullptr, &cb, &owner)) return;  // cancelled, or not ours
            }
            async_reply reply;
            reply.id = id;
            reply.result = result;
            if (result < 0) reply.error = make_error_code(result);
            try {
                if (answer != nullptr && length > 0)
                    reply.answer.assign(static_cast<const char*>(answer), static_cast<std::size_t>(length));
            } catch (...) {
                reply.error = std::make_error_code(std::errc::not_enough_memory);
            }
            d.deliver(owner, cb, std::move(reply));
        } catch (...) {
        }
    }

    std::mutex m_;
    std::condition_variable cv_;
    std::unordered_map<request_id, entry> pending_;
    request_id last_ = 0;
    std::size_t owners_ = 0;
};

}  // namespace detail

// One party's asynchronous requests. Not copyable or movable (callbacks may
// be running for it); hold it in a std::unique_ptr to pass it around.
class async_requester {
public:
    async_requester() : async_requester(detail::steady_async_clock::instance()) {}
    // Time limits run on `clock`, which must outlive the requester.
    explicit async_requester(async_clock& clock)
        : owner_(detail::async_dispatcher::instance().attach()), clock_(&clock) {}
    async_requester(const async_requester&) = delete;
    async_requester& operator=(const async_requester&) = delete;

    // Every request still pending is cancelled and its callback told so
    // (std::errc::operation_canceled) on this thread; then the destructor
    // waits until callbacks of this requester running on other threads have
    // returned. It may run inside one of its own callbacks.
    ~async_requester() {
        cancel_taken(detail::async_dispatcher::instance().take_all(owner_, true));
        detail::async_dispatcher::instance().detach(owner_);
        stop_timer();
    }

    // Queues payload for module on c; the callback receives the answer.
    // Returns the request id (0 with ec set on failure; the callback is then
    // never called). The callback may run before send_async returns.
    request_id send_async(const connection& c, std::string_view module, std::string_view payload,
                          const async_options& options, async_callback callback,
                          std::error_code& ec) noexcept {
        ec.clear();
        auto& d = detail::async_dispatcher::instance();
        const request_id id = detail::guard(ec, [&]() -> request_id {
            detail::cstrings s;
            const int32_t h = c.call_handle();
            const char* m = s(module, "module");
            const char* t = options.target.empty() ? nullptr : s(options.target);
            const int32_t n = detail::size32(payload.size());
            const std::optional<async_clock::time_point> due = deadline(options);
            // Whatever ends the request first takes its deadline out.
            if (due) callback = [st = deadlines_, cb = std::move(callback)](async_reply r) {
                st->forget(r.id);
                if (cb) cb(std::move(r));
            };
            const request_id rid = d.reserve(owner_, std::move(callback), h);
            if (rid == 0) {
                ec = std::make_error_code(std::errc::operation_canceled);
                return 0;
            }
            const int32_t rc = ORQExt_AsyncSendMessage(h, m, t, payload.data(), n, rid,
                                                       options.answer_capacity);
            if (rc < 0) {
                async_callback dropped;
                d.take(rid, owner_.get(), &dropped);
                ec = make_error_code(rc);
                return 0;
            }
            if (due) {
                try {
                    arm(rid, *due);
                } catch (...) {
                    // No timer (no thread to be had): the request is taken back
                    // unanswered, so the failed send calls nothing back.
                    async_callback dropped;
                    if (d.take(rid, owner_.get(), &dropped)) ORQExt_CancelAsync(0, rid);
                    throw;
                }
            }
            return rid;
        });
        return ec ? 0 : id;
    }
    request_id send_async(const connection& c, std::string_view module, std::string_view payload,
                          const async_options& options, async_callback callback) {
        std::error_code ec;
        request_id id = send_async(c, module, payload, options, std::move(callback), ec);
        return detail::or_throw("ORQExt_AsyncSendMessage", ec, id);
    }
    request_id send_async(const connection& c, std::string_view module, std::string_view payload,
                          async_callback callback, std::error_code& ec) noexcept {
        return send_async(c, module, payload, async_options{}, std::move(callback), ec);
    }
    request_id send_async(const connection& c, std::string_view module, std::string_view payload,
                          async_callback callback) {
        return send_async(c, module, payload, async_options{}, std::move(callback));
    }

    // The same request with its answer in a std::future, made ready exactly
    // once: with the answer; with an orqext::error holding the failure the
    // worker met; with a std::system_error of std::errc::operation_canceled
    // when the request is cancelled (cancel(*id), cancel_all, or the
    // requester's destructor). *id, when given, receives the request id.
    // A failed send throws orqext::error (the future is never made).
    std::future<std::string> send_async(const connection& c, std::string_view module,
                                        std::string_view payload,
                                        const async_options& options = async_options{},
                                        request_id* id = nullptr) {
        auto promise = std::make_shared<std::promise<std::string>>();
        std::future<std::string> answer = promise->get_future();
        const request_id rid = send_async(c, module, payload, options, [promise](async_reply r) {
            if (!r.error)
                promise->set_value(std::move(r.answer));
            else if (r.cancelled())
                promise->set_exception(std::make_exception_ptr(
                    std::system_error(r.error, "orqext::async_requester::cancel")));
            else
                promise->set_exception(std::make_exception_ptr(error(r.error, "ORQExt_AsyncSendMessage")));
        });
        if (id) *id = rid;
        return answer;
    }

    // Cancels a pending request of this requester (docs/design.md,
    // "Cancelling an asynchronous request"): it leaves the library's queue,
    // a cancel goes to the server, and its callback is told
    // std::errc::operation_canceled on this thread; the cancel's Result code
    // is the reply's result. The server's answer to the cancel is no failure
    // of it: a request not sent yet has no ticket there, and the server
    // refuses that cancel. False when it is not pending (answered, being
    // answered, or cancelled already): nothing happens then. Neither
    // overload fails; ec is cleared (the convention's overload).
    bool cancel(request_id id, std::error_code& ec) noexcept {
        ec.clear();
        return cancel(id);
    }
    bool cancel(request_id id) noexcept {
        auto& d = detail::async_dispatcher::instance();
        async_callback cb;
        if (!d.take(id, owner_.get(), &cb)) return false;
        finish_cancelled(id, cb);
        return true;
    }

    // Cancels every pending request of this requester; the number cancelled.
    std::size_t cancel_all() noexcept {
        return cancel_taken(detail::async_dispatcher::instance().take_all(owner_, false));
    }

    // Requests sent and not yet called back.
    std::size_t pending() const noexcept { return detail::async_dispatcher::instance().pending(*owner_); }

private:
    // The moment the request's time limit passes; none without a limit (or
    // with one beyond what the clock can count).
    std::optional<async_clock::time_point> deadline(const async_options& options) {
        if (!options.time_limit) return std::nullopt;
        if (options.time_limit->count() < 0) throw detail::refused_argument{"time_limit"};
        const async_clock::time_point now = clock_->now();
        const auto room = std::chrono::duration_cast<std::chrono::milliseconds>(async_clock::time_point::max() - now);
        if (*options.time_limit >= room) return std::nullopt;
        return now + *options.time_limit;
    }

    // Enters the deadline of a sent request (unless it has ended already: its
    // callback took the deadline out before it was in) and starts the timer
    // thread with the first one.
    void arm(request_id id, async_clock::time_point due) {
        std::lock_guard<std::mutex> g(deadlines_->m);
        if (!detail::async_dispatcher::instance().holds(id, owner_.get())) return;
        deadlines_->due.emplace(due, id);
        if (!deadlines_->started) {
            timer_ = std::thread(&async_requester::run_timer, deadlines_, owner_, clock_);
            deadlines_->started = true;
        }
        deadlines_->cv.notify_all();
    }

    // The timer thread: ends each request whose deadline has passed. It holds
    // what it uses, so it may outlive a requester destroyed in a callback it
    // runs.
    static void run_timer(std::shared_ptr<detail::async_deadlines> st, std::shared_ptr<detail::async_owner> owner,
                          async_clock* clock) {
        auto& d = detail::async_dispatcher::instance();
        std::unique_lock<std::mutex> lk(st->m);
        while (!st->stop) {
            const async_clock::time_point next = st->due.empty() ? async_clock::time_point::max() : st->due.begin()->first;
            if (next == async_clock::time_point::max() || clock->now() < next) {
                clock->wait_until(lk, st->cv, next);
                continue;
            }
            const request_id id = st->due.begin()->second;
            st->due.erase(st->due.begin());
            lk.unlock();
            async_callback cb;
            if (d.take(id, owner.get(), &cb)) d.finish_timed_out(owner, id, cb);
            lk.lock();
        }
    }

    void stop_timer() noexcept {
        {
            std::lock_guard<std::mutex> g(deadlines_->m);
            deadlines_->stop = true;
        }
        deadlines_->cv.notify_all();
        if (!timer_.joinable()) return;
        if (timer_.get_id() == std::this_thread::get_id())
            timer_.detach();  // destroyed in a callback of the timer itself: it ends on its own
        else
            timer_.join();
    }

    void finish_cancelled(request_id id, const async_callback& cb) noexcept {
        detail::async_dispatcher::instance().finish_cancelled(owner_, id, cb);
    }
    std::size_t cancel_taken(const std::vector<std::pair<request_id, async_callback>>& taken) noexcept {
        for (const auto& t : taken) finish_cancelled(t.first, t.second);
        return taken.size();
    }

    std::shared_ptr<detail::async_owner> owner_;
    async_clock* clock_;
    std::shared_ptr<detail::async_deadlines> deadlines_ = std::make_shared<detail::async_deadlines>();
    std::thread timer_;
};

}  // namespace orqext

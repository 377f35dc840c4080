// Asynchronous module messages: the queue of requests, the one worker thread
// that sends them, polls for their answers and hands each answer to the
// application's callback, and the exports ORQExt_SetAsyncFunc,
// ORQExt_AsyncSendMessage and ORQExt_CancelAsync.
//
// Everything the worker touches lives in one State object, shared by the
// library and the running worker through a reference count. A worker that is
// given up on at unload (it did not come back from a server call or from the
// callback in time) keeps its State, the queue lock included, alive until it
// lets go, so it never touches destroyed objects; once stopped it never calls
// back.
#include "modules/async.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/bytes.h"
#include "core/exchange.h"
#include "core/guard.h"
#include "core/result.h"
#include "core/xsr_call.h"
#include "exports/orqext.h"
#include "platform/platform.h"

namespace orq::async {

namespace {

constexpr uint32_t kCycleMs = 200;
constexpr int32_t kIdleEndMs = 180000;
constexpr uint32_t kUnloadWaitMs = 3000;
constexpr uint32_t kUnloadSliceMs = 20;
constexpr uint32_t kUnloadGraceMs = 1;
constexpr uint32_t kLockSliceMs = 50;
constexpr int32_t kMaxAnswerCapacity = 268435456;
constexpr int32_t kMinAnswerBuffer = 128;
constexpr int32_t kTerminatedExitCode = ORQEXT_WORKER_TERMINATED_EXIT_CODE;

using Callback = ORQExtAsyncCallback;

// A zeroed answer buffer. calloc lets large buffers (up to 256 MiB) start as
// untouched zero pages, so a generous capacity costs memory only as far as an
// answer fills it.
class AnswerBuffer {
public:
    AnswerBuffer() = default;
    AnswerBuffer(const AnswerBuffer&) = delete;
    AnswerBuffer& operator=(const AnswerBuffer&) = delete;
    ~AnswerBuffer() { std::free(p_); }
    void allocate(int32_t n) {
        p_ = static_cast<unsigned char*>(std::calloc(static_cast<std::size_t>(n), 1));
        if (!p_) throw std::bad_alloc();
        n_ = n;
    }
    unsigned char* data() { return p_; }
    int32_t size() const { return n_; }

private:
    unsigned char* p_ = nullptr;
    int32_t n_ = 0;
};

struct Request {
    int32_t handle = 0;
    int32_t id = 0;
    // (-1, -1) until an answer comes back pending.
    int32_t ticket[2] = {-1, -1};
    // The message went out and its answer is under way: later steps poll.
    bool sent = false;
    // Being processed by the worker (its call or its callback runs); a cancel
    // from inside that call or callback does not take it away.
    bool in_hand = false;
    // Order of queueing; a pass handles the requests queued before it began.
    uint64_t serial = 0;
    // Module name NUL, [target NUL], NUL: the first body of the send.
    std::vector<unsigned char> names;
    std::vector<unsigned char> payload;
    AnswerBuffer answer;
    int32_t received = 0;
};

struct State {
    std::atomic<int> refs{1};
    platform::Lock queue_lock;  // re-entrant: the callback may queue and cancel
    std::list<std::unique_ptr<Request>> queue;  // under queue_lock
    uint64_t last_serial = 0;                   // under queue_lock
    std::atomic<Callback> callback{nullptr};
    std::atomic<platform::ThreadHandle*> worker{nullptr};
    // Set once at unload: the worker ends as soon as it regains control, and
    // no new worker is started.
    std::atomic<bool> stop{false};
    // The worker is inside XSR_CommandEx or the callback, where it may stay
    // for as long as the server or the application takes.
    std::atomic<bool> in_call{false};
    // The worker was given up on at unload and may still hold queue_lock.
    bool given_up = false;
};

std::atomic<State*> g_state{nullptr};
platform::Lock* g_worker_lock = nullptr;

std::atomic<uint32_t> g_started{0};
std::atomic<uint32_t> g_alive{0};
std::atomic<uint32_t> g_given_up{0};
// The thread of the latest worker (no thread-local storage: the library may be
// loaded with dlopen, where dynamic TLS costs every thread).
std::atomic<std::thread::id> g_worker_thread{};

void release(State* s) {
    if (s->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete s;
}

// Unlocks the queue lock at scope exit (the worker takes it with bounded
// attempts, so platform::Guard does not fit).
struct Unlock {
    platform::Lock& l;
    ~Unlock() { l.unlock(); }
};

// The worker takes the queue lock in bounded slices so that a stop request
// reaches it even while another thread holds the lock. False: stopped.
bool lock_queue(State& s) {
    while (!s.queue_lock.try_lock_for(kLockSliceMs))
        if (s.stop.load()) return false;
    if (s.stop.load()) {
        s.queue_lock.unlock();
        return false;
    }
    return true;
}

// Queue lock held. The worker clears the handle itself when it ends, so a
// sender that queues after this point finds no worker and starts a new one.
void end_locked(State& s) {
    if (platform::ThreadHandle* h = s.worker.exchange(nullptr)) platform::thread_close(h);
}

enum class Outcome { kOpen, kFinished, kStopped };

// One XSR_CommandEx call for the request, then the callback when the answer
// is complete or the call failed.
Outcome process(State& s, Request& r) {
    const Callback cb = s.callback.load();
    if (!cb) return Outcome::kFinished;

    const int32_t offered = r.answer.size() - r.received;
    unsigned char* at = r.answer.data() + r.received;
    int32_t len = offered;
    int32_t rc;
    s.in_call.store(true);
    if (!r.sent) {
        rc = command_ex(r.handle, kCmdAsyncMessage, -1, 0, at, &len, r.names.data(),
                        static_cast<int32_t>(r.names.size()), r.payload.data(),
                        static_cast<int32_t>(r.payload.size()));
    } else {
        unsigned char body[8];
        put_le32(body, r.ticket[0]);
        put_le32(body + 4, r.ticket[1]);
        rc = command_ex(r.handle, kCmdTicket, 32639, 0, at, &len, body, 8);
    }
    s.in_call.store(false);
    if (s.stop.load()) return Outcome::kStopped;

    len = clamp_received(len, offered);
    if (rc == kRcPending) {
        // The first 8 bytes of a pending answer are its ticket.
        r.ticket[0] = offered >= 8 ? get_le32(at) : 0;
        r.ticket[1] = offered >= 8 ? get_le32(at + 4) : 0;
        r.sent = true;
        return Outcome::kOpen;
    }
    if (rc == kRcPart) {
        // More follows: the rest is polled for (never sent again, which would
        // run the message twice and overwrite the part received).
        r.received += len;
        r.sent = true;
        return Outcome::kOpen;
    }
    r.received += len;
    s.in_call.store(true);
    try {
        cb(r.id, rc, r.answer.data(), r.received);
    } catch (...) {
        // The callback is C code by contract; anything thrown ends there.
    }
    s.in_call.store(false);
    return Outcome::kFinished;
}

// Queue lock held. Handles each request queued before the pass began once,
// in queue order. The callback may queue (appended behind the pass) and
// cancel (any request but the one in hand), so the next position is taken
// only after the callback has returned.
void run_pass(State& s) {
    const uint64_t last = s.queue.back()->serial;
    auto it = s.queue.begin();
    while (it != s.queue.end() && (*it)->serial <= last) {
        if (s.stop.load()) return;
        Request& r = **it;
        r.in_hand = true;
        const Outcome o = process(s, r);
        r.in_hand = false;
        if (o == Outcome::kStopped) return;
        auto next = std::next(it);
        if (o == Outcome::kFinished) s.queue.erase(it);
        it = next;
    }
}

void run_worker(State& s) {
    uint32_t idle_since = platform::tick_ms();
    for (;;) {
        platform::sleep_ms(kCycleMs);
        if (s.stop.load()) return;
        if (!lock_queue(s)) return;
        Unlock unlock{s.queue_lock};
        if (!s.callback.load()) {
            // The callback was removed: drop everything silently and end.
            s.queue.clear();
            end_locked(s);
            return;
        }
        if (s.queue.empty()) {
            // Signed difference of ticks, so the counter's wrap is harmless.
            if (static_cast<int32_t>(platform::tick_ms() - idle_since) > kIdleEndMs) {
                end_locked(s);
                return;
            }
            continue;
        }
        idle_since = platform::tick_ms();
        run_pass(s);
        if (s.stop.load()) return;
    }
}

void worker_main(void* arg) {
    State* s = static_cast<State*>(arg);
    const std::thread::id self = std::this_thread::get_id();
    g_worker_thread.store(self);
    try {
        run_worker(*s);
    } catch (...) {
        // Nothing in a pass throws; if something did, the worker ends and a
        // later send starts a new one.
        if (s->queue_lock.try_lock_for(0)) {
            end_locked(*s);
            s->queue_lock.unlock();
        }
    }
    std::thread::id expected = self;
    g_worker_thread.compare_exchange_strong(expected, std::thread::id());
    release(s);
    g_alive.fetch_sub(1);
}

// Queue lock held. Starts the worker when there is none. False when no worker
// can run (unload has begun, or the thread could not be started).
bool ensure_worker(State& s) {
    platform::Guard g(*g_worker_lock);
    if (s.worker.load()) return true;
    if (s.stop.load()) return false;
    s.refs.fetch_add(1);
    g_alive.fetch_add(1);
    platform::ThreadHandle* h = platform::thread_start(worker_main, &s);
    if (!h) {
        g_alive.fetch_sub(1);
        s.refs.fetch_sub(1);  // the library still holds its own reference
        return false;
    }
    g_started.fetch_add(1);
    s.worker.store(h);
    return true;
}

// Waits for the worker for at most kUnloadWaitMs, in slices. While the worker
// is inside a server call or the callback, most of each slice is spent in the
// library's sleep (the clock tests drive), after a short direct wait; while
// it runs its own code it ends within a moment of the stop request and is
// waited for directly. Either way the slices add up to kUnloadWaitMs.
bool wait_for_worker(State& s, platform::ThreadHandle* h) {
    // Unload on the worker's own thread (from its callback) cannot wait for
    // itself; the worker stops once the callback returns.
    if (platform::thread_is_current(h)) return false;
    for (uint32_t waited = 0; waited < kUnloadWaitMs; waited += kUnloadSliceMs) {
        if (s.in_call.load()) {
            if (platform::thread_wait(h, kUnloadGraceMs)) return true;
            platform::sleep_ms(kUnloadSliceMs - kUnloadGraceMs);
        } else if (platform::thread_wait(h, kUnloadSliceMs)) {
            return true;
        }
    }
    return platform::thread_wait(h, 0);
}

Request* first_cancellable(State& s, int32_t id, std::list<std::unique_ptr<Request>>::iterator* pos) {
    for (auto it = s.queue.begin(); it != s.queue.end(); ++it) {
        if ((*it)->id == id && !(*it)->in_hand) {
            *pos = it;
            return it->get();
        }
    }
    return nullptr;
}

int32_t set_callback(Callback cb, Callback* previous) {
    State* s = g_state.load();
    Callback old = s ? s->callback.exchange(cb) : nullptr;
    if (previous) *previous = old;
    return kOk;
}

int32_t send_async(int32_t conn, const char* module, const char* target, const void* payload,
                   int32_t payload_len, int32_t request_id, int32_t answer_capacity) {
    if (!module || !*module || payload_len <= 0 || !payload ||
        answer_capacity > kMaxAnswerCapacity)
        return kBadArgument;
    State* s = g_state.load();
    if (!s || !s->callback.load()) return kNoCallback;

    auto r = std::make_unique<Request>();
    r->handle = conn;
    r->id = request_id;
    const std::string m(module);
    r->names.assign(m.begin(), m.end());
    r->names.push_back(0);
    if (target && *target) {
        const std::string t(target);
        r->names.insert(r->names.end(), t.begin(), t.end());
        r->names.push_back(0);
    }
    r->names.push_back(0);
    const auto* p = static_cast<const unsigned char*>(payload);
    r->payload.assign(p, p + payload_len);
    r->answer.allocate(std::max(answer_capacity, kMinAnswerBuffer));

    platform::Guard g(s->queue_lock);
    if (!s->callback.load() || s->stop.load()) return kNoCallback;
    r->serial = ++s->last_serial;
    s->queue.push_back(std::move(r));
    if (!ensure_worker(*s)) {
        s->queue.pop_back();
        return s->stop.load() ? kNoCallback : kBadArgument;
    }
    return static_cast<int32_t>(s->queue.size());
}

int32_t cancel_async(int32_t request_id) {
    State* s = g_state.load();
    if (!s) return kNoRequest;
    std::unique_ptr<Request> r;
    {
        platform::Guard g(s->queue_lock);
        std::list<std::unique_ptr<Request>>::iterator pos;
        if (!first_cancellable(*s, request_id, &pos)) return kNoRequest;
        r = std::move(*pos);
        s->queue.erase(pos);
    }
    // Out of the queue, the worker can no longer reach it: the cancel goes
    // out without the queue lock, so other senders need not wait for it.
    return cancel_ticket(r->handle, r->ticket);
}

}  // namespace

void create_queue() { g_state.store(new State()); }

void create_worker_lock() { g_worker_lock = new platform::Lock(); }

void stop_worker() {
    State* s = g_state.load();
    if (!s || !g_worker_lock) return;
    platform::ThreadHandle* h;
    {
        // The worker lock is not held during the wait: a callback that sends
        // while the worker is being stopped must not block on it.
        platform::Guard g(*g_worker_lock);
        s->stop.store(true);
        h = s->worker.exchange(nullptr);
    }
    if (!h) return;
    if (!wait_for_worker(*s, h)) {
        // A thread ended where it stood no longer counts as alive; one left
        // to end by itself counts until it does.
        if (platform::thread_terminate(h, kTerminatedExitCode)) g_alive.fetch_sub(1);
        s->given_up = true;
        g_given_up.fetch_add(1);
    }
    platform::thread_close(h);
}

void clear_queue_and_callback() {
    State* s = g_state.load();
    if (!s) return;
    // A worker given up on may be stuck in a server call while it holds the
    // queue lock: then one attempt only, and the clear is skipped when it
    // fails. Its requests are freed with the State when the worker lets go
    // of it, and a stopped worker never calls back.
    const uint32_t wait = s->given_up ? 0 : kUnloadWaitMs;
    if (s->queue_lock.try_lock_for(wait)) {
        // A request in hand belongs to a pass still running on this thread
        // (unload from the callback); it leaves the queue with that pass.
        s->queue.remove_if([](const std::unique_ptr<Request>& r) { return !r->in_hand; });
        s->queue_lock.unlock();
    }
    s->callback.store(nullptr);
}

void destroy_worker_lock() {
    delete g_worker_lock;
    g_worker_lock = nullptr;
}

void destroy_queue() {
    if (State* s = g_state.exchange(nullptr)) release(s);
}

int32_t queued_count() {
    State* s = g_state.load();
    if (!s) return 0;
    platform::Guard g(s->queue_lock);
    return static_cast<int32_t>(s->queue.size());
}

bool worker_running() {
    State* s = g_state.load();
    return s && s->worker.load() != nullptr;
}

bool stop_requested() {
    State* s = g_state.load();
    return !s || s->stop.load();
}

bool on_worker_thread() { return g_worker_thread.load() == std::this_thread::get_id(); }
uint32_t workers_started() { return g_started.load(); }
uint32_t workers_alive() { return g_alive.load(); }
uint32_t workers_given_up() { return g_given_up.load(); }

}  // namespace orq::async

using namespace orq;

extern "C" {

ORQEXT_API int32_t ORQEXT_CALL ORQExt_SetAsyncFunc(ORQExtAsyncCallback callback,
                                                   ORQExtAsyncCallback* previous) {
    return async::set_callback(callback, previous);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_AsyncSendMessage(int32_t conn, const char* module,
                                                       const char* target, const void* payload,
                                                       int32_t payload_len, int32_t request_id,
                                                       int32_t answer_capacity) {
    return orq::guarded([&]() ORQ_ALWAYS_INLINE {
        return async::send_async(conn, module, target, payload, payload_len, request_id,
                                 answer_capacity);
    });
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_CancelAsync(int32_t /*unused*/, int32_t request_id) {
    return orq::guarded([&]() ORQ_ALWAYS_INLINE { return async::cancel_async(request_id); });
}

}  // extern "C"

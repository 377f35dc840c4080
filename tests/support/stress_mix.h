// A mix of calls from many threads at once, shared by the stress tests over
// the scripted double and over xsr-sim: messages on a shared and on each
// thread's own handle, time-limited messages with cancel, asynchronous
// messages and their cancels, cluster reloads and node reads, connect and
// disconnect of extra handles, and callback installs and removals. It uses
// the exports only. Every message carries content of its own (its thread,
// its number, its handle) and the server under test echoes it: each answer,
// the callbacks' included, must be its own request's. What it checks when
// it ends:
//  - every asynchronous request accepted was answered to a callback at most
//    once, never both answered and cancelled, and answered or cancelled
//    unless a callback removal (which drops the queue) ended after its send;
//  - every thread finished within the bound (no deadlock);
//  - every handle it opened was closed again (the caller checks the
//    sockets or the double's handles).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "exports/orqext.h"

namespace stress {

struct Target {
    std::string server;
    int32_t port = 0;
    const char* module = nullptr;       // answers at once
    const char* slow_module = nullptr;  // answers later than the time limit
    std::string slow_payload;
    int32_t slow_limit_ms = 0;          // time limit of the slow messages
    int slow_every = 1;                 // one slow message in this many time-limited ones
    int threads = 8;
    int calls_per_thread = 10000;
    std::chrono::seconds bound{600};    // the whole run; beyond it a thread is stuck
};

// Everything the callbacks and the threads write down.
struct Book {
    std::mutex m;
    std::condition_variable cv;
    std::map<int32_t, int> answered;            // id -> callbacks
    std::map<int32_t, uint64_t> accepted;       // id -> removals done before the send
    std::map<int32_t, bool> cancelled;
    uint64_t removals = 0;
    std::vector<std::string> wrong;  // callbacks with another request's answer
    std::size_t echoed = 0;          // callbacks with a successful answer
};

// The content of each message: unique per request.
inline std::string message_content(const char* kind, int thread, int call, int32_t conn) {
    return std::string(kind) + " " + std::to_string(thread) + "/" + std::to_string(call) + " on " +
           std::to_string(conn);
}
inline std::string async_content(int32_t id) { return "async " + std::to_string(id); }

inline Book*& book_slot() {
    static Book* b = nullptr;
    return b;
}
// Held by a callback for as long as it uses the book, and by Mix while it
// sets or clears the slot: removing the callback does not wait for one the
// library's worker is running, so the book must not go before it is done.
inline std::mutex& book_slot_mutex() {
    static std::mutex m;
    return m;
}

inline void note_answer(int32_t id, int32_t result, const void* answer, int32_t len) {
    std::lock_guard<std::mutex> slot(book_slot_mutex());
    Book* b = book_slot();
    if (!b) return;
    const std::string got =
        answer && len > 0 ? std::string(static_cast<const char*>(answer), static_cast<std::size_t>(len)) : "";
    std::lock_guard<std::mutex> g(b->m);
    ++b->answered[id];
    // A failure (the request's handle closed before it was sent, say)
    // carries no answer to check.
    if (result == 0) ++b->echoed;
    if (result == 0 && got != async_content(id) && b->wrong.size() < 20)
        b->wrong.push_back("request " + std::to_string(id) + ": result " + std::to_string(result) +
                           ", answer \"" + got + "\"");
    b->cv.notify_all();
}
inline void ORQEXT_CALL callback_a(int32_t id, int32_t rc, const void* a, int32_t n) { note_answer(id, rc, a, n); }
inline void ORQEXT_CALL callback_b(int32_t id, int32_t rc, const void* a, int32_t n) { note_answer(id, rc, a, n); }

class Mix {
public:
    explicit Mix(const Target& t) : t_(t) {
        std::lock_guard<std::mutex> slot(book_slot_mutex());
        book_slot() = &book_;
    }
    ~Mix() {
        ORQExt_SetAsyncFunc(nullptr, nullptr);
        std::lock_guard<std::mutex> slot(book_slot_mutex());
        book_slot() = nullptr;
    }

    void run() {
        int32_t status = 1;
        shared_ = ORQExt_Connect(t_.server.c_str(), t_.port, "admin", "admin", &status);
        ASSERT_EQ(status, 0);
        ORQExt_SetAsyncFunc(callback_a, nullptr);

        std::atomic<int> finished{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < t_.threads; ++i)
            threads.emplace_back([this, i, &finished] {
                worker(i);
                ++finished;
                done_cv_.notify_all();
            });
        {
            std::unique_lock<std::mutex> lk(done_m_);
            const bool all = done_cv_.wait_for(lk, t_.bound, [&] { return finished == t_.threads; });
            if (!all) {
                ADD_FAILURE() << "threads still running after the bound: a call is stuck";
                std::abort();  // stuck threads cannot be joined
            }
        }
        for (auto& th : threads) th.join();

        // Requests accepted since the last removal are answered or were
        // cancelled: wait for them (bounded) with a callback installed.
        ORQExt_SetAsyncFunc(callback_a, nullptr);
        std::unique_lock<std::mutex> lk(book_.m);
        const bool settled = book_.cv.wait_for(lk, t_.bound, [&] {
            for (const auto& [id, removals] : book_.accepted)
                if (removals == book_.removals && !book_.answered.count(id) && !book_.cancelled.count(id))
                    return false;
            return true;
        });
        EXPECT_TRUE(settled) << "asynchronous requests never answered";
        std::size_t answered = 0;
        for (const auto& [id, n] : book_.answered) {
            EXPECT_EQ(n, 1) << "request " << id << " answered " << n << " times";
            EXPECT_TRUE(book_.accepted.count(id)) << "callback for request " << id << " never accepted";
            EXPECT_FALSE(book_.cancelled.count(id)) << "request " << id << " answered and cancelled";
            ++answered;
        }
        EXPECT_GT(answered, 0u);
        for (const std::string& w : book_.wrong) ADD_FAILURE() << "asynchronous answer not its own: " << w;
        EXPECT_GT(book_.echoed, 0u) << "no asynchronous answer to check";
        EXPECT_GT(book_.accepted.size(), static_cast<std::size_t>(t_.threads));
        lk.unlock();

        ORQExt_SetAsyncFunc(nullptr, nullptr);
        EXPECT_EQ(ORQExt_DisConnect(shared_), 0);
    }

private:
    void worker(int index) {
        std::mt19937 rng(static_cast<uint32_t>(1234 + index));
        int32_t status = 1;
        int32_t own = ORQExt_Connect(t_.server.c_str(), t_.port, "admin", "admin", &status);
        EXPECT_EQ(status, 0);
        std::vector<int32_t> sent;
        int limited = 0;
        char answer[256];
        for (int i = 0; i < t_.calls_per_thread; ++i) {
            const int32_t conn = rng() % 2 ? shared_ : own;
            int32_t len = sizeof answer;
            switch (rng() % 10) {
                case 0:
                case 1: {
                    const std::string p = message_content("message", index, i, conn);
                    const int32_t rc = ORQExt_SendMessage(conn, t_.module, nullptr, p.data(),
                                                          static_cast<int32_t>(p.size()), answer, &len);
                    EXPECT_EQ(rc, 0) << "message";
                    expect_echo(p, rc, answer, len);
                    break;
                }
                case 2: {
                    const bool slow = ++limited % t_.slow_every == 0;
                    const std::string p =
                        slow ? t_.slow_payload : message_content("time-limited", index, i, conn);
                    const int32_t rc = ORQExt_SendMessageTimeOut(
                        conn, slow ? t_.slow_module : t_.module, nullptr, p.data(),
                        static_cast<int32_t>(p.size()), answer, &len, slow ? t_.slow_limit_ms : 60000, 1);
                    EXPECT_EQ(rc, slow ? -1113 : 0) << "time-limited message";
                    if (!slow) expect_echo(p, rc, answer, len);
                    break;
                }
                case 3:
                case 4: {
                    const int32_t id = (index + 1) * 1000000 + i;
                    uint64_t removals;
                    {
                        std::lock_guard<std::mutex> g(book_.m);
                        removals = book_.removals;
                    }
                    const std::string p = async_content(id);
                    const int32_t rc = ORQExt_AsyncSendMessage(conn, t_.module, nullptr, p.data(),
                                                               static_cast<int32_t>(p.size()), id, 64);
                    if (rc > 0) {
                        std::lock_guard<std::mutex> g(book_.m);
                        book_.accepted[id] = removals;
                        sent.push_back(id);
                    } else {
                        EXPECT_EQ(rc, -4120) << "asynchronous send";  // only without a callback
                    }
                    break;
                }
                case 5:
                    if (!sent.empty()) {
                        const int32_t id = sent[rng() % sent.size()];
                        const int32_t rc = ORQExt_CancelAsync(0, id);
                        // Any other result is the server's answer to the
                        // cancel: the request was taken off the queue.
                        if (rc != -4122) {
                            std::lock_guard<std::mutex> g(book_.m);
                            book_.cancelled[id] = true;
                        }
                    }
                    break;
                case 6: {
                    EXPECT_EQ(ORQExt_UpdateCluster(shared_), 0);
                    EXPECT_GE(ORQExt_GetClusterCount(shared_), 0);
                    ClusterInfo c[2];
                    int32_t n = 2;
                    if (ORQExt_GetClusterInfo(shared_, c, &n) > 0) {
                        NodeInfo nodes[2];
                        int32_t k = 2;
                        EXPECT_GE(ORQExt_GetNodeInfo(shared_, &c[0], nodes, &k), 0);
                    }
                    break;
                }
                case 7: {
                    int32_t st = 1;
                    const int32_t extra =
                        ORQExt_Connect(t_.server.c_str(), t_.port, "admin", "admin", &st);
                    EXPECT_EQ(st, 0);
                    if (st == 0) {
                        EXPECT_EQ(ORQExt_DisConnect(extra), 0);
                    }
                    break;
                }
                case 8:
                    if (rng() % 64 == 0) {
                        // A removal drops the queue without calling back. It
                        // is counted once done: a request accepted before
                        // the count moved may have been dropped by it.
                        ORQExt_SetAsyncFunc(nullptr, nullptr);
                        {
                            std::lock_guard<std::mutex> g(book_.m);
                            ++book_.removals;
                            book_.cv.notify_all();
                        }
                        ORQExt_SetAsyncFunc(callback_a, nullptr);
                    } else {
                        ORQExt_SetAsyncFunc(rng() % 2 ? callback_a : callback_b, nullptr);
                    }
                    break;
                default:
                    EXPECT_NE(ORQExt_IsConnect(conn), 0);
                    break;
            }
        }
        EXPECT_EQ(ORQExt_DisConnect(own), 0);
    }

    // The answer to a message is its own content, echoed; a few mismatches
    // are reported, not ten thousand.
    void expect_echo(const std::string& sent, int32_t rc, const char* answer, int32_t len) {
        if (rc != 0) return;
        const std::string got(answer, static_cast<std::size_t>(len < 0 ? 0 : len));
        if (got != sent && wrong_sync_.fetch_add(1) < 20)
            ADD_FAILURE() << "answer to \"" << sent << "\" was \"" << got << "\"";
    }

    Target t_;
    Book book_;
    std::atomic<int> wrong_sync_{0};
    int32_t shared_ = 0;
    std::mutex done_m_;
    std::condition_variable done_cv_;
};

}  // namespace stress

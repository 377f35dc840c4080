// Asynchronous messages from several threads at once: senders and cancellers
// race the worker while callbacks queue and cancel more. Also run under
// ThreadSanitizer.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/unit/modules/async_support.h"

using namespace xsrdouble;
using namespace modules_test;

namespace {

constexpr int kThreads = 4;
constexpr int kPerThread = 120;
constexpr int32_t kChild = 1000000;
// Polls offer the whole answer buffer (no parts here); cancels offer 256.
constexpr int32_t kCapacity = 500;

std::string payload_of(int32_t id) { return le32(id); }

int32_t id_in(const std::string& bytes) {
    if (bytes.size() < 4) return -1;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    return static_cast<int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) |
                                (static_cast<uint32_t>(p[3]) << 24));
}

// Every message is pending first, with the request's id as its ticket; the
// poll answers with that id, so a callback shows whose answer buffer it got.
Reply serve(const Call& c) {
    if (c.code() == 3) return pending(id_in(c.body2), 77);
    if (c.code() == 5 && c.capacity != 256) return ok("ans:" + std::to_string(id_in(c.body)));
    return ok("");  // a cancel
}

class AsyncConcurrencyTest : public AsyncTest {
protected:
    void SetUp() override {
        AsyncTest::SetUp();
        clock_.free_run();
        set_handler(serve);
    }

    struct Book {
        std::mutex m;
        std::set<int32_t> accepted;
        std::map<int32_t, int> cancelled;
    };

    static void note_send(Book& b, int32_t id, int32_t rc) {
        if (rc > 0) {
            std::lock_guard<std::mutex> g(b.m);
            b.accepted.insert(id);
        } else {
            ADD_FAILURE() << "send " << id << " gave " << rc;
        }
    }
    static void note_cancel(Book& b, int32_t id, int32_t rc) {
        if (rc == -4122) return;
        EXPECT_EQ(rc, 0) << "cancel of " << id;
        std::lock_guard<std::mutex> g(b.m);
        ++b.cancelled[id];
    }
    int32_t send_id(int32_t id) { return send(id, payload_of(id), kCapacity); }
};

TEST_F(AsyncConcurrencyTest, EveryRequestIsAnsweredOrCancelledExactlyOnce) {
    Book book;
    recorder().hook = [&](int32_t id) {
        // Inside the worker's pass: queue a child now and then, and cancel a
        // neighbour that may or may not be queued.
        if (id < kChild && id % 5 == 0) note_send(book, id + kChild, send_id(id + kChild));
        if (id % 10 == 0) note_cancel(book, id + 1, ORQExt_CancelAsync(0, id + 1));
    };

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 1; i <= kPerThread; ++i) {
                const int32_t id = (t + 1) * 10000 + i;
                note_send(book, id, send_id(id));
                if (i % 3 == 0) note_cancel(book, id - 1, ORQExt_CancelAsync(0, id - 1));
                if (i % 7 == 0) std::this_thread::yield();
            }
        });
    }
    for (auto& th : threads) th.join();
    ASSERT_TRUE(eventually([] { return orq::async::queued_count() == 0; }, std::chrono::seconds(120)));

    std::map<int32_t, int> answered;
    for (const Answer& a : answers()) {
        ++answered[a.id];
        EXPECT_EQ(a.result, 0);
        EXPECT_EQ(a.bytes, "ans:" + std::to_string(a.id)) << "answer of another request";
    }
    std::lock_guard<std::mutex> g(book.m);
    EXPECT_GT(book.accepted.size(), static_cast<std::size_t>(kThreads * kPerThread));
    for (int32_t id : book.accepted) {
        const int outcomes = answered[id] + book.cancelled[id];
        EXPECT_EQ(outcomes, 1) << "request " << id;
    }
    for (const auto& [id, n] : answered) EXPECT_TRUE(book.accepted.count(id)) << id;
}

TEST_F(AsyncConcurrencyTest, CallbackSwappedWhileSendingNeverAnswersTwice) {
    std::atomic<bool> done{false};
    std::mutex m;
    std::set<int32_t> accepted;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads - 1; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 1; i <= kPerThread; ++i) {
                const int32_t id = (t + 1) * 10000 + i;
                const int32_t rc = send_id(id);
                EXPECT_TRUE(rc > 0 || rc == -4120) << rc;
                if (rc > 0) {
                    std::lock_guard<std::mutex> g(m);
                    accepted.insert(id);
                }
            }
        });
    }
    std::thread swapper([&] {
        for (int i = 0; !done.load(); ++i) {
            ORQExt_SetAsyncFunc(i % 2 ? record : nullptr, nullptr);
            std::this_thread::yield();
        }
    });
    for (auto& th : threads) th.join();
    done = true;
    swapper.join();

    // With the callback installed for good, a last batch must be answered:
    // the swaps left the queue and the worker in working order, and the
    // checks below have answers to look at.
    constexpr int32_t kLast = 900000, kLastCount = 20;
    ASSERT_EQ(ORQExt_SetAsyncFunc(record, nullptr), 0);
    for (int32_t id = kLast; id < kLast + kLastCount; ++id) {
        ASSERT_GT(send_id(id), 0) << id;
        std::lock_guard<std::mutex> g(m);
        accepted.insert(id);
    }
    ASSERT_TRUE(eventually([] { return orq::async::queued_count() == 0; }, std::chrono::seconds(120)));

    // Removing the callback for good drops whatever is left and ends the worker.
    ORQExt_SetAsyncFunc(nullptr, nullptr);
    ASSERT_TRUE(eventually([] { return !orq::async::worker_running(); }, std::chrono::seconds(120)));
    EXPECT_EQ(orq::async::queued_count(), 0);
    std::map<int32_t, int> answered;
    for (const Answer& a : answers()) ++answered[a.id];
    for (int32_t id = kLast; id < kLast + kLastCount; ++id) EXPECT_EQ(answered[id], 1) << "last batch, " << id;
    std::lock_guard<std::mutex> g(m);
    for (const auto& [id, n] : answered) {
        EXPECT_EQ(n, 1) << id;
        EXPECT_TRUE(accepted.count(id)) << id;
    }
}

}  // namespace

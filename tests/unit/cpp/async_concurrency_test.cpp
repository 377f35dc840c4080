// The C++ layer's asynchronous dispatcher under load: several threads, each
// with its own requester, send and cancel while the worker runs free and
// callbacks send more; every accepted request is called back exactly once,
// with its own answer or as cancelled. Also run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/unit/cpp/async_support.h"

using namespace xsrdouble;
using namespace cpp_async_test;

namespace {

// Payloads ending in '0' stay pending until cancelled; the rest are answered
// at once with their payload.
Reply serve(const Call& c) {
    if (c.code() == 3) {
        if (!c.body2.empty() && c.body2.back() == '0') return pending(1, 1);
        return ok("ans:" + c.body2);
    }
    if (c.code() == 5 && c.capacity != 256) return pending(1, 1);
    return ok("");
}

class CppAsyncLoadConcurrencyTest : public CppAsyncTest {
protected:
    void SetUp() override {
        CppAsyncTest::SetUp();
        clock_.free_run();
        set_handler(serve);
    }
};

TEST_F(CppAsyncLoadConcurrencyTest, EveryRequestIsCalledBackExactlyOnce) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 60;
    struct Party {
        Book book;
        std::vector<std::pair<orqext::request_id, std::string>> sent;
        std::unique_ptr<orqext::async_requester> requester = std::make_unique<orqext::async_requester>();
    };
    std::vector<Party> parties(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            Party& p = parties[static_cast<std::size_t>(t)];
            for (int i = 1; i <= kPerThread; ++i) {
                const std::string payload = std::to_string(t) + ":" + std::to_string(i);
                auto& req = *p.requester;
                const auto id = req.send_async(conn_, "M", payload, [&p, &req, this, payload](orqext::async_reply r) {
                    p.book.note()(r);
                    // Now and then a callback sends one more on the worker.
                    if (payload.back() == '5' && payload.find('+') == std::string::npos) {
                        const std::string more = payload + "+";
                        const auto child = req.send_async(conn_, "M", more, p.book.note());
                        if (child != 0) p.book.note()(orqext::async_reply{-child, 0, {}, more});
                    }
                });
                ASSERT_NE(id, 0);
                p.sent.emplace_back(id, payload);
                if (i % 7 == 0) p.requester->cancel(p.sent[static_cast<std::size_t>(i / 2)].first);
            }
        });
    }
    for (auto& th : threads) th.join();
    // The ones still pending on the server are cancelled by the teardown.
    for (auto& p : parties) p.requester.reset();

    for (auto& p : parties) {
        for (const auto& s : p.sent) {
            const auto got = p.book.only(s.first);
            if (got.cancelled()) continue;
            EXPECT_EQ(got.answer, "ans:" + s.second);
        }
        // Children: each recorded under -id when sent, and called back once.
        std::lock_guard<std::mutex> g(p.book.m);
        for (const auto& e : p.book.got) {
            if (e.first >= 0) continue;
            auto it = p.book.got.find(-e.first);
            ASSERT_NE(it, p.book.got.end());
            ASSERT_EQ(it->second.size(), 1u);
            if (!it->second[0].cancelled()) {
                EXPECT_EQ(it->second[0].answer, "ans:" + e.second[0].answer);
            }
        }
    }
}

}  // namespace

// Shared pieces of the C++ layer's asynchronous tests: a book of what each
// callback received, and the fixture (the worker's cycles in the test's hand).
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "orqext.hpp"
#include "tests/unit/modules/async_support.h"

namespace cpp_async_test {

// What the callbacks of one party received, by request id.
struct Book {
    std::mutex m;
    std::map<orqext::request_id, std::vector<orqext::async_reply>> got;

    orqext::async_callback note() {
        return [this](orqext::async_reply r) {
            std::lock_guard<std::mutex> g(m);
            got[r.id].push_back(std::move(r));
        };
    }
    std::size_t calls(orqext::request_id id) {
        std::lock_guard<std::mutex> g(m);
        auto it = got.find(id);
        return it == got.end() ? 0 : it->second.size();
    }
    orqext::async_reply only(orqext::request_id id) {
        std::lock_guard<std::mutex> g(m);
        auto it = got.find(id);
        if (it == got.end() || it->second.size() != 1) {
            ADD_FAILURE() << "request " << id << " called back "
                          << (it == got.end() ? 0 : it->second.size()) << " times";
            return {};
        }
        return it->second[0];
    }
    std::size_t total() {
        std::lock_guard<std::mutex> g(m);
        std::size_t n = 0;
        for (auto& e : got) n += e.second.size();
        return n;
    }
};

// The payload's own bytes come back, after "ans:".
inline xsrdouble::Reply echo_first_send(const xsrdouble::Call& c) {
    if (c.code() == 3) return xsrdouble::ok("ans:" + c.body2);
    return xsrdouble::ok("");
}

// The cancel the library sends for a request the server never saw: its
// ticket is (-1, -1).
inline bool is_cancel_without_ticket(const xsrdouble::Call& c) {
    static const std::string no_ticket(8, '\xff');
    return c.code() == 5 && c.capacity == 256 && c.body == no_ticket;
}

// Every message stays pending (its ticket: 7, 7); cancels of that ticket
// succeed, a cancel without a ticket is refused as xsr-sim refuses it.
inline xsrdouble::Reply always_pending(const xsrdouble::Call& c) {
    if (c.code() == 3 || c.code() == 4) return xsrdouble::pending(7, 7);
    if (is_cancel_without_ticket(c)) return xsrdouble::fail(-20103);
    if (c.code() == 5 && c.capacity != 256) return xsrdouble::pending(7, 7);
    return xsrdouble::ok("");
}

// The clock of the layer's time limits in the test's hand: time moves only
// with advance(), which wakes the requester's timer to look again; waits()
// counts the timer's waits, so a test knows the timer has looked.
class FakeAsyncClock final : public orqext::async_clock {
public:
    time_point now() override {
        std::lock_guard<std::mutex> g(m_);
        return now_;
    }
    void wait_until(std::unique_lock<std::mutex>& lk, std::condition_variable& cv, time_point deadline) override {
        {
            std::lock_guard<std::mutex> g(m_);
            ++waits_;
            waiter_ = lk.mutex();
            waiter_cv_ = &cv;
            if (now_ >= deadline) return;
        }
        cv.wait(lk);  // advance() notifies under the waiter's lock: no wake-up is lost
        std::lock_guard<std::mutex> g(m_);
        waiter_ = nullptr;  // the timer may end now: its lock is not touched again
        waiter_cv_ = nullptr;
    }
    void advance(std::chrono::milliseconds d) {
        std::mutex* wm = nullptr;
        std::condition_variable* wc = nullptr;
        {
            std::lock_guard<std::mutex> g(m_);
            now_ += d;
            wm = waiter_;
            wc = waiter_cv_;
        }
        if (wm != nullptr) {
            std::lock_guard<std::mutex> g(*wm);
            wc->notify_all();
        }
    }
    // Advances, then waits (bounded) until the timer has looked at the new time
    // and waits again.
    bool advance_and_settle(std::chrono::milliseconds d) {
        const uint64_t before = waits();
        advance(d);
        return modules_test::eventually([&] { return waits() > before; });
    }
    uint64_t waits() {
        std::lock_guard<std::mutex> g(m_);
        return waits_;
    }

private:
    std::mutex m_;
    time_point now_{std::chrono::hours(1)};
    uint64_t waits_ = 0;
    std::mutex* waiter_ = nullptr;
    std::condition_variable* waiter_cv_ = nullptr;
};

class CppAsyncTest : public modules_test::AsyncTest {
protected:
    void SetUp() override {
        AsyncTest::SetUp();
        conn_ = orqext::connection::adopt(7);  // the double takes any handle
    }
    void TearDown() override {
        conn_.release();
        AsyncTest::TearDown();
    }
    static std::size_t cancels() {
        std::size_t n = 0;
        for (const auto& c : xsrdouble::calls_of(xsrdouble::Fn::Command))
            if (c.code() == 5 && c.capacity == 256) ++n;
        return n;
    }
    orqext::connection conn_;
};

}  // namespace cpp_async_test

// A test clock that hands the asynchronous worker its cycles one by one.
//
// The worker's 200 ms sleep parks it until the test grants a cycle or the
// unload stops the worker; cycles() returns once the worker has finished that
// pass and parked again (or ended), so every check runs between two passes. Sleeps on other threads (the
// unload's bounded wait) and, after free_run(), the worker's too, return at
// once and only move the clock on. Real time is used only to bound waits for
// thread progress.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "modules/async.h"
#include "platform/platform.h"

namespace modules_test {

class WorkerClock {
public:
    explicit WorkerClock(uint32_t start = 0xFFFFF000u) {
        S& s = st();
        std::lock_guard<std::mutex> g(s.m);
        s.now = start;
        s.grants = 0;
        s.parks = 0;
        s.parked = false;
        s.free = false;
        s.other_sleeps = 0;
        orq::platform::set_clock_for_tests(&tick, &sleep);
    }
    ~WorkerClock() {
        free_run();
        orq::platform::set_clock_for_tests(nullptr, nullptr);
    }

    // Waits until the worker is parked in its cycle sleep.
    bool wait_parked() {
        S& s = st();
        std::unique_lock<std::mutex> lk(s.m);
        return s.cv.wait_for(lk, kBound, [&] { return s.parked; });
    }

    // Lets the worker run n cycles. True when each cycle ended with the worker
    // parked again or ended; false when the worker did not get there in time
    // (a stuck worker).
    bool cycles(int n = 1) {
        S& s = st();
        std::unique_lock<std::mutex> lk(s.m);
        for (int i = 0; i < n; ++i) {
            if (!poll(lk, [&] { return s.parked || !orq::async::worker_running(); })) return false;
            if (!s.parked) return true;  // the worker has ended
            const uint64_t before = s.parks;
            s.grants = 1;
            s.cv.notify_all();
            // Between two passes the worker either parks again or ends.
            if (!poll(lk, [&] {
                    return s.parks > before ||
                           (s.grants == 0 && !s.parked && !orq::async::worker_running());
                }))
                return false;
        }
        return true;
    }

    // Releases one cycle without waiting for its end (the worker may block in
    // it).
    void release_one() {
        S& s = st();
        std::lock_guard<std::mutex> g(s.m);
        s.grants = 1;
        s.cv.notify_all();
    }

    // From now on no sleep waits for the test.
    void free_run() {
        S& s = st();
        std::lock_guard<std::mutex> g(s.m);
        s.free = true;
        s.cv.notify_all();
    }

    void advance(uint32_t ms) {
        std::lock_guard<std::mutex> g(st().m);
        st().now += ms;
    }
    uint32_t now() const {
        std::lock_guard<std::mutex> g(st().m);
        return st().now;
    }
    // Sleeps taken by threads other than the worker.
    uint32_t other_sleeps() const {
        std::lock_guard<std::mutex> g(st().m);
        return st().other_sleeps;
    }

    static constexpr std::chrono::seconds kBound{20};

private:
    struct S {
        std::mutex m;
        std::condition_variable cv;
        uint32_t now = 0;
        int grants = 0;
        uint64_t parks = 0;
        bool parked = false;
        bool free = false;
        uint32_t other_sleeps = 0;
    };
    // Never destroyed: a worker may still sleep while the process exits.
    static S& st() {
        static S* s = new S();
        return *s;
    }
    // Waits for pred, looking again every few milliseconds too: the end of a
    // worker is not signalled through the clock.
    template <class P>
    static bool poll(std::unique_lock<std::mutex>& lk, P pred) {
        const auto deadline = std::chrono::steady_clock::now() + kBound;
        while (!pred()) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            st().cv.wait_for(lk, std::chrono::milliseconds(2));
        }
        return true;
    }
    static uint32_t tick() {
        std::lock_guard<std::mutex> g(st().m);
        return st().now;
    }
    static void sleep(uint32_t ms) {
        S& s = st();
        std::unique_lock<std::mutex> lk(s.m);
        if (!orq::async::on_worker_thread()) {
            s.now += ms;
            ++s.other_sleeps;
            return;
        }
        if (!s.free) {
            s.parked = true;
            ++s.parks;
            s.cv.notify_all();
            // A parked worker is let go when the unload asks it to stop,
            // which is not signalled here: look again now and then.
            while (!(s.grants > 0 || s.free || orq::async::stop_requested()))
                s.cv.wait_for(lk, std::chrono::milliseconds(2));
            if (s.grants > 0) --s.grants;
            s.parked = false;
            s.cv.notify_all();
        }
        s.now += ms;
    }
};

}  // namespace modules_test

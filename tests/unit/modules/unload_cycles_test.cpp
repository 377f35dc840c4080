// One hundred load and unload cycles of the library's state, each with its
// asynchronous worker either busy (every answer queues the next request) or
// stuck in a server call that does not return. Each unload returns: a busy
// worker ends by itself, a stuck one is given up on (POSIX) or terminated
// (Windows) once the unload's bounded wait has passed. The unload's waits
// run on the fake clock, so the bound is checked in clock time. No worker
// thread outlives its cycle except the stuck ones, which end once their
// calls return (on Windows they are gone at once).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "core/lifecycle.h"
#include "exports/orqext.h"
#include "modules/async.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fixture.h"
#include "xsr/double/xsr_double.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <tlhelp32.h>
#endif

using namespace xsrdouble;

namespace {

constexpr int kCycles = 100;
// The unload waits at most this long for a worker inside a server call.
constexpr uint32_t kUnloadBoundMs = 3000;

#if defined(_WIN32)
int process_threads() {
    const DWORD pid = GetCurrentProcessId();
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 e;
    e.dwSize = sizeof e;
    int n = 0;
    for (BOOL more = Thread32First(snap, &e); more; more = Thread32Next(snap, &e))
        if (e.th32OwnerProcessID == pid) ++n;
    CloseHandle(snap);
    return n;
}
#endif

// Server calls that hold until released; counts the arrivals.
struct Hold {
    std::mutex m;
    std::condition_variable cv;
    int arrived = 0;
    bool open = false;
};
Hold& hold() {
    static Hold* h = new Hold();  // stuck workers may return after the test
    return *h;
}

std::atomic<int> g_answers{0};
std::atomic<int32_t> g_next_id{1};

// Every answer queues the next request: the worker never runs dry.
void ORQEXT_CALL requeue(int32_t, int32_t, const void*, int32_t) {
    g_answers.fetch_add(1);
    ORQExt_AsyncSendMessage(7, "M", nullptr, "p", 1, g_next_id.fetch_add(1), 0);
}
void ORQEXT_CALL ignore(int32_t, int32_t, const void*, int32_t) {}

template <class P>
bool within_seconds(int seconds, P pred) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::yield();
    }
    return true;
}

class UnloadCyclesTest : public testing_support::LibraryTest {
protected:
    void TearDown() override {
        orq::lifecycle::unload();
        orq::lifecycle::load();
        LibraryTest::TearDown();
    }
    testing_support::FakeClock clock_;
};

TEST_F(UnloadCyclesTest, BusyWorkerEndsAtEachUnload) {
    set_handler([](const Call&) { return ok("answer"); });
    const uint32_t given_up = orq::async::workers_given_up();
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SCOPED_TRACE(cycle);
        g_answers = 0;
        ASSERT_EQ(ORQExt_SetAsyncFunc(requeue, nullptr), 0);
        ASSERT_EQ(ORQExt_AsyncSendMessage(7, "M", nullptr, "p", 1, g_next_id.fetch_add(1), 0), 1);
        ASSERT_TRUE(within_seconds(20, [] { return g_answers.load() >= 3; })) << "the worker is busy";
        orq::lifecycle::unload();
        EXPECT_FALSE(orq::async::worker_running());
        orq::lifecycle::load();
    }
    EXPECT_EQ(orq::async::workers_given_up(), given_up) << "a busy worker ends by itself";
    EXPECT_TRUE(within_seconds(20, [] { return orq::async::workers_alive() == 0; }));
}

TEST_F(UnloadCyclesTest, StuckWorkerIsLetGoWithinTheBoundAtEachUnload) {
#if defined(_WIN32)
    const int threads_before = process_threads();
#endif
    set_handler([](const Call&) {
        Hold& h = hold();
        std::unique_lock<std::mutex> lk(h.m);
        ++h.arrived;
        h.cv.notify_all();
        h.cv.wait_for(lk, std::chrono::seconds(120), [&] { return h.open; });
        return ok("late");
    });
    const uint32_t given_up = orq::async::workers_given_up();
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SCOPED_TRACE(cycle);
        ASSERT_EQ(ORQExt_SetAsyncFunc(ignore, nullptr), 0);
        ASSERT_EQ(ORQExt_AsyncSendMessage(7, "M", nullptr, "p", 1, cycle, 0), 1);
        {
            Hold& h = hold();
            std::unique_lock<std::mutex> lk(h.m);
            ASSERT_TRUE(h.cv.wait_for(lk, std::chrono::seconds(20), [&] { return h.arrived > cycle; }))
                << "the worker is inside the server call";
        }
        const uint32_t start = clock_.now();
        orq::lifecycle::unload();
        const uint32_t waited = clock_.now() - start;
        // Most of each slice is the library's sleep (on the fake clock), the
        // rest a short direct wait for the thread.
        EXPECT_GT(waited, kUnloadBoundMs / 2) << "the worker was waited for";
        EXPECT_LE(waited, kUnloadBoundMs) << "the wait kept to its bound";
        EXPECT_EQ(orq::async::workers_given_up(), given_up + static_cast<uint32_t>(cycle) + 1);
        orq::lifecycle::load();
    }
    {
        Hold& h = hold();
        std::lock_guard<std::mutex> lk(h.m);
        h.open = true;
        h.cv.notify_all();
    }
#if defined(_WIN32)
    // Terminated at the unload: none of them is left.
    EXPECT_EQ(process_threads(), threads_before);
#else
    // Given up on: each ends once its call returns.
    EXPECT_TRUE(within_seconds(60, [] { return orq::async::workers_alive() == 0; }));
#endif
}

}  // namespace

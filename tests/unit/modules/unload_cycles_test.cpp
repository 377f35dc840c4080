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

// Server calls that hold until released; counts the arrivals. Plain atomics
// and sleeps only: on Windows the stuck thread is terminated where it waits,
// and a lock or condition variable it held would stay taken.
std::atomic<int> g_arrived{0};
std::atomic<bool> g_released{false};

Reply held_call(const Call&) {
    g_arrived.fetch_add(1);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!g_released.load() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return ok("late");
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
    int threads_after_first = 0;
#endif
    set_handler(held_call);
    const uint32_t given_up = orq::async::workers_given_up();
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SCOPED_TRACE(cycle);
        ASSERT_EQ(ORQExt_SetAsyncFunc(ignore, nullptr), 0);
        ASSERT_EQ(ORQExt_AsyncSendMessage(7, "M", nullptr, "p", 1, cycle, 0), 1);
        ASSERT_TRUE(within_seconds(20, [cycle] { return g_arrived.load() > cycle; }))
            << "the worker is inside the server call";
        const uint32_t start = clock_.now();
        orq::lifecycle::unload();
        const uint32_t waited = clock_.now() - start;
        // Most of each slice is the library's sleep (on the fake clock), the
        // rest a short direct wait for the thread.
        EXPECT_GT(waited, kUnloadBoundMs / 2) << "the worker was waited for";
        EXPECT_LE(waited, kUnloadBoundMs) << "the wait kept to its bound";
        EXPECT_EQ(orq::async::workers_given_up(), given_up + static_cast<uint32_t>(cycle) + 1);
        orq::lifecycle::load();
#if defined(_WIN32)
        // Terminated at the unload: the process has as many threads after
        // each cycle as after the first (which may start the runtime's own).
        const int threads = process_threads();
        if (cycle == 0) threads_after_first = threads;
        EXPECT_EQ(threads, threads_after_first) << "a worker thread was left behind";
#endif
    }
    g_released = true;
#if !defined(_WIN32)
    // Given up on: each ends once its call returns.
    EXPECT_TRUE(within_seconds(60, [] { return orq::async::workers_alive() == 0; }));
#endif
}

}  // namespace

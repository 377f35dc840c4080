#include "tests/support/fake_clock.h"

#include <thread>

namespace testing_support {

namespace {
std::atomic<uint32_t> g_now{0};
std::atomic<uint32_t> g_sleeps{0};
std::atomic<uint64_t> g_slept{0};

uint32_t fake_tick() { return g_now.load(); }
void fake_sleep(uint32_t ms) {
    g_sleeps.fetch_add(1);
    g_slept.fetch_add(ms);
    g_now.fetch_add(ms);
    std::this_thread::yield();
}
}  // namespace

FakeClock::FakeClock(uint32_t start) {
    g_now = start;
    g_sleeps = 0;
    g_slept = 0;
    orq::platform::set_clock_for_tests(fake_tick, fake_sleep);
}
FakeClock::~FakeClock() { orq::platform::set_clock_for_tests(nullptr, nullptr); }
void FakeClock::advance(uint32_t ms) { g_now.fetch_add(ms); }
uint32_t FakeClock::now() const { return g_now.load(); }
uint32_t FakeClock::sleeps() const { return g_sleeps.load(); }
uint64_t FakeClock::slept_ms() const { return g_slept.load(); }

}  // namespace testing_support

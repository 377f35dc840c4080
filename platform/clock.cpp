// The tick and the sleep the library uses: the platform's own, or the ones a
// test installed.
#include <atomic>

#include "platform/platform.h"

namespace orq::platform {

namespace {
std::atomic<TickFn> g_tick{nullptr};
std::atomic<SleepFn> g_sleep{nullptr};
}  // namespace

uint32_t tick_ms() {
    TickFn f = g_tick.load(std::memory_order_acquire);
    return f ? f() : real_tick_ms();
}

void sleep_ms(uint32_t ms) {
    SleepFn f = g_sleep.load(std::memory_order_acquire);
    if (f)
        f(ms);
    else
        real_sleep_ms(ms);
}

void set_clock_for_tests(TickFn tick, SleepFn sleep) {
    g_tick.store(tick, std::memory_order_release);
    g_sleep.store(sleep, std::memory_order_release);
}

}  // namespace orq::platform

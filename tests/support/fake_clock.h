// A clock for tests: the tick counter only moves when the library sleeps (or
// the test advances it), so waits of any length run instantly.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace testing_support {

class FakeClock {
public:
    // Installs the fake clock, starting at `start` (near the 32-bit wrap by
    // default, so every test also covers the tick counter's wrap).
    explicit FakeClock(uint32_t start = 0xFFFFF000u);
    ~FakeClock();
    void advance(uint32_t ms);
    uint32_t now() const;
    // Number of sleeps and their total length since installation.
    uint32_t sleeps() const;
    uint64_t slept_ms() const;
};

}  // namespace testing_support

// The mixed-call stress over the library's objects and the scripted double:
// eight threads, ten thousand calls each. Run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "tests/support/fake_clock.h"
#include "tests/support/fixture.h"
#include "tests/support/stress_mix.h"
#include "xsr/double/xsr_double.h"

using namespace xsrdouble;

namespace {

constexpr int32_t kSlowTicket = -1;

std::string description() {
    // One cluster "Other" (no module of that name is called) with one node.
    std::string d = le32(0) + le32(1) + cstr("Other") + cstr("t") + cstr("a") + cstr("b") + le32(1);
    return d + cstr("10.0.0.1") + le32(7300) + cstr("admin") + cstr("admin") + cstr("x");
}

// Messages to "Slow" stay pending (their polls too); asynchronous messages
// come back pending now and then; everything else answers at once.
Reply serve(const Call& c) {
    switch (c.code()) {
        case 2:
            if (c.body.compare(0, 5, std::string("Slow\0", 5)) == 0) return pending(kSlowTicket, 1);
            return ok("pong");
        case 3: {
            // Every other asynchronous message is polled for.
            static std::atomic<unsigned> n{0};
            return n.fetch_add(1) % 2 ? pending(7, 7) : ok("pong");
        }
        case 4:
            if (c.body.size() >= 4 && c.body.compare(0, 4, le32(kSlowTicket)) == 0)
                return pending(kSlowTicket, 1);
            return ok("pong");
        case 13:
            return ok(description());
        default:
            return ok("");
    }
}

class StressConcurrencyTest : public testing_support::LibraryTest {
protected:
    void TearDown() override {
        // The unload stops the worker before the clock goes away.
        orq::lifecycle::unload();
        orq::lifecycle::load();
        LibraryTest::TearDown();
    }
    testing_support::FakeClock clock_;  // polls and time limits in fake time
};

TEST_F(StressConcurrencyTest, MixedCallsOnSharedAndOwnHandlesOverTheDouble) {
    set_handler(serve);
    // Server, port, quick module; slow module, its payload, the time limit
    // and one slow message in four time-limited ones.
    const stress::Target t{"srv", 7300, "M", "Slow", "x", 1000, 4};
    {
        stress::Mix mix(t);
        mix.run();
    }
    EXPECT_TRUE(open_handles().empty()) << open_handles().size() << " handles left open";
}

}  // namespace

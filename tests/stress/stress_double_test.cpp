// The mixed-call stress over the library's objects and the scripted double:
// eight threads, ten thousand calls each. Run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <mutex>
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

// Messages to "Slow" stay pending (their polls too); every other message is
// answered with its own payload (echoed), asynchronous ones every other time
// after a poll for a ticket of their own.
std::string payload_of(const Call& c) {
    // module NUL NUL payload (the mix sends no target)
    const std::size_t nul = c.body.find('\0');
    return nul == std::string::npos ? std::string() : c.body.substr(nul + 2);
}

int32_t first_int32(const std::string& b) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[static_cast<std::size_t>(i)]);
    return static_cast<int32_t>(v);
}

Reply serve(const Call& c) {
    static std::mutex m;
    static std::map<int32_t, std::string> waiting;  // ticket -> payload
    static int32_t next_ticket = 1;
    switch (c.code()) {
        case 2:
            if (c.body.compare(0, 5, std::string("Slow\0", 5)) == 0) return pending(kSlowTicket, 1);
            return ok(payload_of(c));
        case 3: {
            std::lock_guard<std::mutex> g(m);
            if (next_ticket % 2) {
                const int32_t t = next_ticket++;
                waiting[t] = c.body2;
                return pending(t, t);
            }
            ++next_ticket;
            return ok(c.body2);
        }
        case 4:
            if (c.body.size() >= 4 && c.body.compare(0, 4, le32(kSlowTicket)) == 0)
                return pending(kSlowTicket, 1);
            return ok("");
        case 5: {
            // An asynchronous request's poll (or cancel) by its ticket.
            std::lock_guard<std::mutex> g(m);
            auto it = c.body.size() >= 4 ? waiting.find(first_int32(c.body)) : waiting.end();
            if (it == waiting.end()) return ok("");
            const std::string p = it->second;
            waiting.erase(it);
            return ok(p);
        }
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

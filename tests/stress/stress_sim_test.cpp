// The mixed-call stress over the built library, the networked XSRClient and
// an xsr-sim process: eight threads, ten thousand calls each. Run under
// ThreadSanitizer as well. No socket of the process is left open once every
// handle is closed.
#include <dirent.h>
#include <gtest/gtest.h>

#include "tests/e2e/fixture.h"
#include "tests/support/stress_mix.h"

namespace {

int open_descriptors() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

class StressSimConcurrencyTest : public e2e::SimTest {
protected:
    std::string config() override {
        return "cluster Other t a b\n"
               "node Other t 10.0.0.1 7300 admin admin x\n";
    }
};

TEST_F(StressSimConcurrencyTest, MixedCallsOnSharedAndOwnHandlesOverTheNetwork) {
    const int before = open_descriptors();
    // A slow answer: the first poll, 200 ms on, finds the 50 ms limit passed
    // (one in 200 time-limited messages).
    const stress::Target t{"127.0.0.1", sim_.port(), "Echo", "Script", "delay=2000", 50, 200};
    {
        stress::Mix mix(t);
        mix.run();
    }
    EXPECT_EQ(open_descriptors(), before) << "sockets left open";
}

}  // namespace

// xsr-sim on a shared machine: a logged-in socket that sends nothing for
// longer than the idle limit is closed (the test drives the server's clock,
// so nothing here waits for time to pass), a limit of 0 keeps every socket,
// and the buffer of a large request is let go once it is served.
#include <cstdlib>
#include <string>

#include "tests/e2e/sim_in_process.h"

namespace {

using namespace sim_in_process;

class SimIdle : public Fixture {
protected:
    void start(uint32_t idle_ms) {
        xsrsim::Config cfg;
        cfg.idle_timeout_ms = idle_ms;
        cfg.part_size = 16 * 1024 * 1024;  // a large answer comes whole
        Fixture::start(cfg);
    }
};

TEST_F(SimIdle, ASocketIdleLongerThanTheLimitIsClosedOthersStay) {
    start(60000);
    const int32_t idle = open_conn(server_->port());
    const int32_t busy = open_conn(server_->port());
    EXPECT_EQ(message(busy, "Echo", "x"), 0);
    now() += 50000;
    EXPECT_EQ(message(busy, "Echo", "x"), 0) << "active at 50 s";
    EXPECT_EQ(server_->end_idle_connections(), 0u) << "nobody idle for 60 s yet";
    now() += 20000;  // 70 s: the first socket idle since 0, the second since 50 s
    EXPECT_EQ(server_->end_idle_connections(), 1u);
    EXPECT_NE(message(idle, "Echo", "x"), 0) << "the idle socket is closed";
    EXPECT_EQ(message(busy, "Echo", "x"), 0) << "the active one is served";
    now() += 61000;
    EXPECT_EQ(server_->end_idle_connections(), 1u);
    EXPECT_NE(message(busy, "Echo", "x"), 0);
    XSR_CloseConn(idle);
    XSR_CloseConn(busy);
}

TEST_F(SimIdle, ALimitOfZeroKeepsEverySocket) {
    start(0);
    const int32_t h = open_conn(server_->port());
    now() += int64_t(30) * 24 * 3600 * 1000;
    EXPECT_EQ(server_->end_idle_connections(), 0u);
    EXPECT_EQ(message(h, "Echo", "x"), 0);
    XSR_CloseConn(h);
}

TEST_F(SimIdle, TheBufferOfALargeRequestIsLetGoOnceServed) {
    start(0);
    const int32_t h = open_conn(server_->port());
    const std::string large(4 * 1024 * 1024, 'L');
    std::string answer;
    ASSERT_EQ(message(h, "Echo", large, &answer, static_cast<int32_t>(large.size()) + 16), 0);
    EXPECT_EQ(answer, large);
    const std::string room = stat_of(*server_, "frame_bytes");
    EXPECT_LE(std::strtoull(room.c_str(), nullptr, 10), 64u * 1024) << room;
    XSR_CloseConn(h);
}

}  // namespace

// xsr-sim on a shared machine: a logged-in socket that sends nothing for
// longer than the idle limit is closed (the test drives the server's clock,
// so nothing here waits for time to pass), a limit of 0 keeps every socket,
// and the buffer of a large request is let go once it is served.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

#include "sim/server.h"
#include "xsr/xsrclient.h"

namespace {

std::atomic<int64_t> g_now{1000000};
int64_t test_clock() { return g_now.load(); }

const std::string kHeader("\x02\x00\xf5\x01\xff\xff\xff\xff\x10\x00\x00\x00\xff\xff\xff\xff", 16);

int32_t open_conn(uint16_t port) {
    XSR_Login login{};
    std::strcpy(login.user, "admin");
    std::strcpy(login.password, "admin");
    int32_t h = 0;
    EXPECT_EQ(XSR_OpenConn("127.0.0.1", port, &login, &h), 0);
    return h;
}

// A module message; the answer's bytes in *answer.
int32_t message(int32_t h, const std::string& module, const std::string& payload, std::string* answer = nullptr,
                int32_t cap = 4096) {
    const std::string body = module + std::string(2, '\0') + payload;
    std::string buf(static_cast<std::size_t>(cap), '\0');
    int32_t len = cap;
    const int32_t rc = XSR_CommandEx(h, 32639, 0, 45000, &buf[0], &len, kHeader.data(), 16, 0, body.data(),
                                     static_cast<int32_t>(body.size()), 0, nullptr, 0);
    if (answer) *answer = buf.substr(0, static_cast<std::size_t>(len > 0 && len <= cap ? len : 0));
    return rc;
}

std::string stat_of(int32_t h, const std::string& key) {
    std::string stats;
    EXPECT_EQ(message(h, "Sim", "stats", &stats), 0);
    const auto at = stats.find(key + "=");
    if (at == std::string::npos) return "(no " + key + ")";
    return stats.substr(at + key.size() + 1, stats.find('\n', at) - at - key.size() - 1);
}

class SimIdle : public ::testing::Test {
protected:
    void start(uint32_t idle_ms) {
        xsrsim::Config cfg;
        cfg.idle_timeout_ms = idle_ms;
        cfg.clock_ms = test_clock;
        cfg.part_size = 16 * 1024 * 1024;  // a large answer comes whole
        server_.reset(new xsrsim::Server(cfg));
        std::string error;
        ASSERT_TRUE(server_->start(0, &error)) << error;
    }
    void TearDown() override {
        if (server_) server_->stop();
    }
    std::unique_ptr<xsrsim::Server> server_;
};

TEST_F(SimIdle, ASocketIdleLongerThanTheLimitIsClosedOthersStay) {
    start(60000);
    const int32_t idle = open_conn(server_->port());
    const int32_t busy = open_conn(server_->port());
    EXPECT_EQ(message(busy, "Echo", "x"), 0);
    g_now += 50000;
    EXPECT_EQ(message(busy, "Echo", "x"), 0) << "active at 50 s";
    EXPECT_EQ(server_->end_idle_connections(), 0u) << "nobody idle for 60 s yet";
    g_now += 20000;  // 70 s: the first socket idle since 0, the second since 50 s
    EXPECT_EQ(server_->end_idle_connections(), 1u);
    EXPECT_NE(message(idle, "Echo", "x"), 0) << "the idle socket is closed";
    EXPECT_EQ(message(busy, "Echo", "x"), 0) << "the active one is served";
    g_now += 61000;
    EXPECT_EQ(server_->end_idle_connections(), 1u);
    EXPECT_NE(message(busy, "Echo", "x"), 0);
    XSR_CloseConn(idle);
    XSR_CloseConn(busy);
}

TEST_F(SimIdle, ALimitOfZeroKeepsEverySocket) {
    start(0);
    const int32_t h = open_conn(server_->port());
    g_now += int64_t(30) * 24 * 3600 * 1000;
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
    const std::string room = stat_of(h, "frame_bytes");
    EXPECT_LE(std::strtoull(room.c_str(), nullptr, 10), 64u * 1024) << room;
    XSR_CloseConn(h);
}

}  // namespace

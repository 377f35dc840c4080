// xsr-sim run inside the test program, on a clock the test drives (so that
// no test waits for a limit to pass), spoken to through the networked
// XSRClient's calls.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "sim/server.h"
#include "xsr/proto/wire.h"
#include "xsr/xsrclient.h"

namespace sim_in_process {

inline std::atomic<int64_t>& now() {
    static std::atomic<int64_t> t{1000000};
    return t;
}
inline int64_t test_clock() { return now().load(); }

inline int32_t open_conn(uint16_t port, int32_t* rc = nullptr) {
    XSR_Login login{};
    std::strcpy(login.user, "admin");
    std::strcpy(login.password, "admin");
    int32_t h = 0;
    const int32_t r = XSR_OpenConn("127.0.0.1", port, &login, &h);
    if (rc)
        *rc = r;
    else
        EXPECT_EQ(r, 0);
    return h;
}

// One command of the given code with its body (and, for code 3, the
// payload as the second body); the answer's bytes in *answer.
inline int32_t command(int32_t h, uint16_t code, const std::string& body, const std::string& body2,
                       std::string* answer = nullptr, int32_t cap = 4096) {
    unsigned char header[xsrproto::kHeaderSize];
    xsrproto::encode_header(header, xsrproto::CommandHeader{code, xsrproto::kHeaderConstant, -1, cap, -1});
    std::string buf(static_cast<std::size_t>(cap), '\0');
    int32_t len = cap;
    const int32_t rc = XSR_CommandEx(h, xsrproto::kCallMagic, 0, 45000, &buf[0], &len, header, 16, 0, body.data(),
                                     static_cast<int32_t>(body.size()), 0, body2.data(),
                                     static_cast<int32_t>(body2.size()));
    if (answer) *answer = buf.substr(0, static_cast<std::size_t>(len > 0 && len <= cap ? len : 0));
    return rc;
}

// A module message (code 2); the answer's bytes in *answer.
inline int32_t message(int32_t h, const std::string& module, const std::string& payload,
                       std::string* answer = nullptr, int32_t cap = 4096) {
    return command(h, 2, module + std::string(2, '\0') + payload, std::string(), answer, cap);
}

// A value of the server's stats, as text.
inline std::string stat_of(const xsrsim::Server& server, const std::string& key) {
    const std::string stats = server.stats();
    const auto at = stats.find(key + "=");
    if (at == std::string::npos) return "(no " + key + ")";
    return stats.substr(at + key.size() + 1, stats.find('\n', at) - at - key.size() - 1);
}

class Fixture : public ::testing::Test {
protected:
    // Starts the server with cfg, on the test's clock.
    void start(xsrsim::Config cfg) {
        cfg.clock_ms = test_clock;
        server_.reset(new xsrsim::Server(cfg));
        std::string error;
        ASSERT_TRUE(server_->start(0, &error)) << error;
    }
    void TearDown() override {
        if (server_) server_->stop();
    }
    std::unique_ptr<xsrsim::Server> server_;
};

}  // namespace sim_in_process

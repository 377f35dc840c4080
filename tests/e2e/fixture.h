// Fixture of the end-to-end tests: one xsr-sim per test (its config given
// by the test), connections through the library's exports, and the server's
// own view of itself through its "Sim" module. Each test ends by stopping
// the server and requiring a clean exit (no crash, no sanitizer report).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "exports/orqext.h"
#include "tests/e2e/sim_process.h"
#include "xsr/proto/wire.h"

namespace e2e {

// Limits of the networked XSRClient, read when a connection is opened.
inline void set_limits(int connect_ms, int io_ms) {
    setenv("XSR_NET_CONNECT_TIMEOUT_MS", std::to_string(connect_ms).c_str(), 1);
    setenv("XSR_NET_IO_TIMEOUT_MS", std::to_string(io_ms).c_str(), 1);
}

// The bytes the scriptable module answers with: 'a' + i % 26.
inline std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
    return s;
}

class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        set_limits(5000, 20000);
        ASSERT_TRUE(sim_.start(config())) << sim_.error();
    }
    void TearDown() override {
        for (int32_t h : conns_) ORQExt_DisConnect(h);
        conns_.clear();
        if (sim_.running()) {
            EXPECT_EQ(sim_.stop(), 0) << "xsr-sim did not stop cleanly";
        }
    }
    virtual std::string config() { return std::string(); }

    int32_t connect(const char* user = "admin", const char* pass = "admin", const char* host = "127.0.0.1") {
        int32_t status = 1;
        const int32_t h = ORQExt_Connect(host, sim_.port(), user, pass, &status);
        EXPECT_EQ(status, 0) << host;
        if (status == 0) conns_.push_back(h);
        return h;
    }
    void disconnect(int32_t h) {
        EXPECT_EQ(ORQExt_DisConnect(h), 0);
        for (auto it = conns_.begin(); it != conns_.end(); ++it)
            if (*it == h) {
                conns_.erase(it);
                break;
            }
    }

    // Sends a payload to a module; the answer as a string, the result in *rc.
    std::string send(int32_t h, const char* module, const std::string& payload, int32_t* rc,
                     int32_t capacity = 1 << 20) {
        std::string answer(static_cast<std::size_t>(capacity), '\0');
        int32_t len = capacity;
        *rc = ORQExt_SendMessage(h, module, nullptr, payload.data(), static_cast<int32_t>(payload.size()),
                                 &answer[0], &len);
        answer.resize(len >= 0 && len <= capacity ? static_cast<std::size_t>(len) : 0);
        return answer;
    }

    // The server's counters (module "Sim", "stats") on its own connection.
    std::map<std::string, long> stats() {
        std::map<std::string, long> m;
        int32_t status = 1;
        const int32_t h = ORQExt_Connect("127.0.0.1", sim_.port(), "admin", "admin", &status);
        if (status != 0) return m;
        int32_t rc = 0;
        const std::string text = send(h, "Sim", "stats", &rc);
        ORQExt_DisConnect(h);
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            const auto eq = line.find('=');
            if (eq != std::string::npos) m[line.substr(0, eq)] = std::atol(line.c_str() + eq + 1);
        }
        return m;
    }
    std::string statements(int32_t h) {
        int32_t rc = 0;
        return send(h, "Sim", "statements", &rc);
    }

    SimProcess sim_;
    std::vector<int32_t> conns_;
};

}  // namespace e2e

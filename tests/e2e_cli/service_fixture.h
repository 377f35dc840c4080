// Fixture of the service-module tests: one xsr-sim per test with the four
// simulated service modules started, and a connection to it.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "sim/modules/service_frame.h"
#include "tests/e2e/fixture.h"

namespace e2ecli {

// Codes of the simulated service modules, as documented in
// docs/sim-modules.md. Written out here, not taken from the server's own
// constants, so that a code the server changes or swaps fails the tests.
constexpr int32_t kModFrame = -20201;     // malformed remote call frame
constexpr int32_t kModFunction = -20202;  // unknown remote function or engine selector
constexpr int32_t kModNotFound = -20203;  // no such dictionary, domain, handle, run or topic
constexpr int32_t kModExists = -20204;    // a name exists already
constexpr int32_t kModValue = -20205;     // an argument out of range
constexpr int32_t kModState = -20206;     // the engine or object is not in the needed state

inline const char* service_modules_config() {
    return "module KExt_NLPE KExt_NLPE\n"
           "module KExt_ARA KExt_ARA\n"
           "module KExt_KWFS KExt_KWFS\n"
           "module KExt_STM KExt_STM\n";
}

class ServiceTest : public e2e::SimTest {
protected:
    std::string config() override { return service_modules_config(); }
    void SetUp() override {
        e2e::SimTest::SetUp();
        if (!HasFatalFailure()) conn_ = connect();
    }
    int32_t conn_ = 0;
};

// A remote call frame built by hand: [selector], "r!" NUL, name NUL, args.
class RawFrame {
public:
    RawFrame(int32_t selector, const std::string& name) {
        i32(selector);
        head(name);
    }
    explicit RawFrame(const std::string& name) { head(name); }
    RawFrame& i32(int32_t v) {
        for (int i = 0; i < 4; ++i) b_.push_back(static_cast<char>(static_cast<uint32_t>(v) >> (8 * i)));
        return *this;
    }
    RawFrame& u8(uint8_t v) {
        b_.push_back(static_cast<char>(v));
        return *this;
    }
    RawFrame& str(const std::string& s) {
        b_ += s;
        b_.push_back('\0');
        return *this;
    }
    RawFrame& raw(const std::string& s) {
        b_ += s;
        return *this;
    }
    const std::string& bytes() const { return b_; }

private:
    void head(const std::string& name) {
        b_ += std::string("r!\0", 3);
        str(name);
    }
    std::string b_;
};

// Sends a raw payload to a module; the result, and the answer in *answer.
inline int32_t send_raw(int32_t conn, const char* module, const std::string& payload, std::string* answer = nullptr) {
    std::string buf(4096, '\0');
    int32_t len = static_cast<int32_t>(buf.size());
    const int32_t rc = ORQExt_SendMessage(conn, module, nullptr, payload.data(), static_cast<int32_t>(payload.size()),
                                          &buf[0], &len);
    if (answer) *answer = buf.substr(0, len > 0 && len <= 4096 ? static_cast<std::size_t>(len) : 0);
    return rc;
}

}  // namespace e2ecli

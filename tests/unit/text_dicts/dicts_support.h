// Helpers for the association dictionary, aptitude, extraction and topic
// tests: expected frames, the frame a call sent, and buffers with guard bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "exports/orqext.h"
#include "tests/support/fixture.h"
#include "xsr/double/xsr_double.h"

namespace dicts_test {

using xsrdouble::cstr;
using xsrdouble::le32;

constexpr int32_t kConn = 77;
constexpr char kGuard = 'z';

// A call made on a connection handle, with buffers of its own.
using Invoke = std::function<int32_t(int32_t)>;

// The frame header of a remote function of "KExt_NLPE".
inline std::string head(int32_t selector, const char* name) {
    return le32(selector) + std::string("r!\0", 3) + cstr(name);
}
inline std::string byte(unsigned char b) { return std::string(1, static_cast<char>(b)); }
inline std::string nul() { return std::string(1, '\0'); }

// The module messages sent with command code 2 so far.
inline std::vector<xsrdouble::Call> module_messages() {
    std::vector<xsrdouble::Call> out;
    for (const xsrdouble::Call& c : xsrdouble::calls_of(xsrdouble::Fn::Command))
        if (c.code() == 2) out.push_back(c);
    return out;
}

// The frame carried by a module message to "KExt_NLPE" (no target).
inline std::string frame_of(const xsrdouble::Call& c) {
    const std::string prefix("KExt_NLPE\0\0", 11);
    EXPECT_EQ(c.body.substr(0, prefix.size()), prefix);
    return c.body.size() < prefix.size() ? std::string() : c.body.substr(prefix.size());
}

// A counted text reply: int32 length, then the bytes.
inline std::string counted(const std::string& text) {
    return le32(static_cast<int32_t>(text.size())) + text;
}

// A caller buffer of `cap` bytes followed by guard bytes, all set to kGuard.
struct Guarded {
    explicit Guarded(int32_t cap, std::size_t guard = 16)
        : bytes(static_cast<std::size_t>(cap > 0 ? cap : 0) + guard, kGuard) {}
    char* data() { return bytes.data(); }
    // What the buffer should hold: `stored` at the start, the rest untouched.
    std::string expect(const std::string& stored) const {
        return stored + std::string(bytes.size() - stored.size(), kGuard);
    }
    std::string str() const { return std::string(bytes.begin(), bytes.end()); }
    std::vector<char> bytes;
};

class DictsTest : public testing_support::LibraryTest {};

}  // namespace dicts_test

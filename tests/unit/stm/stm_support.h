// Shared pieces of the semantic text mining tests: the fixture, expected
// frame bytes and a sample item list.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "exports/orqext.h"
#include "tests/support/fixture.h"
#include "xsr/double/xsr_double.h"

namespace stm_test {

using xsrdouble::cstr;
using xsrdouble::le32;

// A connection handle without a registry record: clustering stays off, so
// the message goes out on this handle.
constexpr int32_t kConn = 77;

using Stub = std::function<int32_t()>;

class StmTest : public testing_support::LibraryTest {
protected:
    // The module messages (command code 2) sent so far.
    static std::vector<xsrdouble::Call> module_messages() {
        std::vector<xsrdouble::Call> out;
        for (const auto& c : xsrdouble::calls_of(xsrdouble::Fn::Command))
            if (c.code() == 2) out.push_back(c);
        return out;
    }
};

// The bytes of a module message to "KExt_STM" carrying `frame`.
inline std::string stm_message(const std::string& frame) {
    return std::string("KExt_STM\0\0", 10) + frame;
}

// "r!" NUL, remote name, NUL: the start of every frame (no engine selector).
inline std::string head(const char* remote) { return std::string("r!\0", 3) + cstr(remote); }

inline std::string u8(unsigned v) { return std::string(1, static_cast<char>(v)); }

// Four items covering the encoding: a length shorter than the text, a length
// of 0 (up to the NUL), a length that takes an inner NUL, a negative length
// on an empty text.
inline const StmTextItem* sample_items() {
    static const StmTextItem items[] = {
        {7, 3, "abcdef"}, {8, 0, "abc"}, {9, 4, "a\0bc"}, {-1, -5, ""}};
    return items;
}
constexpr int32_t kSampleCount = 4;
inline std::string sample_list() {
    return le32(7) + le32(3) + std::string("abc\0", 4) +     //
           le32(8) + le32(3) + std::string("abc\0", 4) +     //
           le32(9) + le32(4) + std::string("a\0bc\0", 5) +   //
           le32(-1) + le32(0) + std::string("\0", 1);
}

}  // namespace stm_test

// Helpers for the text engine tests: expected frame bytes and the one module
// message a call sent.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "xsr/double/xsr_double.h"

namespace text_tests {

using xsrdouble::cstr;
using xsrdouble::le32;

// "r!" NUL and the remote name with its NUL: the head of a frame without an
// engine selector.
inline std::string head(const char* remote) { return std::string("r!\0", 3) + cstr(remote); }
// The head of a "KExt_NLPE" frame: engine selector first.
inline std::string head(int32_t engine, const char* remote) { return le32(engine) + head(remote); }
inline std::string byte(unsigned v) { return std::string(1, static_cast<char>(v)); }
inline std::string nul() { return std::string(1, '\0'); }
inline std::string le16(int v) {
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
}

// The bytes of a module message without target carrying `frame`.
inline std::string message(const char* module, const std::string& frame) {
    return cstr(module) + nul() + frame;
}

// The module messages (command code 2) sent since the last reset.
inline std::vector<xsrdouble::Call> module_messages() {
    std::vector<xsrdouble::Call> out;
    for (const xsrdouble::Call& c : xsrdouble::calls_of(xsrdouble::Fn::Command))
        if (c.code() == 2) out.push_back(c);
    return out;
}

}  // namespace text_tests

// orqext/result_text.hpp - the text of a Result code, from the one table
// orqext_results.h. Throws nothing and needs no exception support: usable in
// programs built without exceptions.
#pragma once

#include <cstdint>
#include <string>

#include "orqext_results.h"

namespace orqext {

// Meaning of a Result code from the table; nullptr for a code the table does
// not list. Never throws, allocates nothing.
inline const char* result_meaning(int32_t code) noexcept { return orqext_result_meaning(code); }

// Constant name of a Result code ("ORQEXT_E_TIMEOUT"); nullptr when unlisted.
inline const char* result_name(int32_t code) noexcept { return orqext_result_name(code); }

// "-1112 ORQEXT_E_TIMEOUT: no complete answer within the time limit"; a
// code the table does not list reads "-77 unknown Result code", a positive
// one "5 status word of the server". Usable without exceptions.
inline std::string result_message(int32_t code) {
    std::string s = std::to_string(code);
    if (const char* name = result_name(code)) {
        s += ' ';
        s += name;
        s += ": ";
        s += result_meaning(code);
    } else if (code > 0) {
        s += " status word of the server";
    } else {
        s += " unknown Result code";
    }
    return s;
}

}  // namespace orqext

// Keeps C++ exceptions from crossing the C boundary of the exports.
#pragma once

#include <cstdint>

#include "core/result.h"

namespace orq {

// Runs the body of an export. The only exception the library's code can meet
// is a failed allocation while a request is being built, before anything is
// sent; it is reported as -1100.
template <class F>
int32_t guarded(F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return kBadArgument;
    }
}

}  // namespace orq

// Keeps C++ exceptions from crossing the C boundary of the exports.
#pragma once

#include <cstdint>

#include "core/bytes.h"
#include "core/result.h"

namespace orq {

// Runs the body of an export. The only exception the library's code can meet
// is a failed allocation while a request is being built, before anything is
// sent; it is reported as -1100.
//
// Inlined with its body into the export (write the body as
// `[&]() ORQ_ALWAYS_INLINE { ... }` where the call is on a hot path): the
// arguments then stay where they are instead of being packed for a call.
template <class F>
ORQ_ALWAYS_INLINE inline int32_t guarded(F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return kBadArgument;
    }
}

}  // namespace orq

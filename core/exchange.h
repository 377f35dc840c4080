// The synchronous request/answer routine: sends one request, polls pending
// answers every 200 ms, collects answers that come in parts, applies the
// optional time limit and cancel, and copies the answer out.
#pragma once

#include <cstdint>

#include "core/xsr_call.h"

namespace orq {

constexpr uint32_t kPollIntervalMs = 200;

// Answers to a caller's capacity below this are received into a zeroed local
// area of this size and copied out.
constexpr int32_t kLocalAreaSize = 128;

// The whole routine (see exchange below).
int32_t exchange_general(int32_t handle, uint16_t code, const void* body, int32_t body_len,
                         void* answer, int32_t* answer_len, int32_t time_limit_ms, int32_t cancel);
// The rest of an exchange without a time limit whose first call went
// straight into the caller's buffer `area` of `cap` bytes (cap >= 128) and
// gave rc with len bytes reported.
int32_t exchange_continue(int32_t handle, unsigned char* area, int32_t cap, int32_t* answer_len,
                          int32_t rc, int32_t len);

// answer and answer_len may both be null (the answer is dropped). *answer_len
// is the capacity on entry and the answer's length on return. An answer
// longer than the capacity (0 included) gives -1107: the buffer holds its
// leading bytes and *answer_len the whole answer's length, also when it came
// in parts. time_limit_ms below 0 means no limit; cancel == 1 cancels a
// pending answer at the time-out. A negative capacity, or a positive
// capacity without a buffer, gives -1100 and sends nothing.
//
// Inlined into the message paths: with no time limit and a buffer of at least
// 128 bytes, an answer that comes whole in the first call is done here, and
// anything else continues in exchange_continue without a second request.
ORQ_ALWAYS_INLINE inline int32_t exchange(int32_t handle, uint16_t code, const void* body,
                                          int32_t body_len, void* answer, int32_t* answer_len,
                                          int32_t time_limit_ms, int32_t cancel) {
    if (time_limit_ms < 0 && answer && answer_len && *answer_len >= kLocalAreaSize &&
        body_len >= 0 && (body || body_len == 0)) {
        unsigned char* const area = static_cast<unsigned char*>(answer);
        const int32_t cap = *answer_len;
        area[0] = 0;
        int32_t len = cap;
        const int32_t rc = command_ex(handle, code, -1, cap, area, &len, body, body_len);
        if (rc == 0 && len >= 0 && len <= cap) {
            *answer_len = len;
            return 0;
        }
        return exchange_continue(handle, area, cap, answer_len, rc, len);
    }
    return exchange_general(handle, code, body, body_len, answer, answer_len, time_limit_ms, cancel);
}

// Cancels a pending answer by its ticket; the server's answer is dropped.
int32_t cancel_ticket(int32_t handle, const int32_t ticket[2]);

}  // namespace orq

// The synchronous request/answer routine: sends one request, polls pending
// answers every 200 ms, collects answers that come in parts, applies the
// optional time limit and cancel, and copies the answer out.
#pragma once

#include <cstdint>
#include <cstring>

#include "core/bytes.h"
#include "core/result.h"
#include "core/xsr_call.h"

namespace orq {

constexpr uint32_t kPollIntervalMs = 200;

// Answers to a caller's capacity below this are received into a zeroed local
// area of this size and copied out.
constexpr int32_t kLocalAreaSize = 128;

// The first address from p on that is aligned to kLocalAreaSize, so that an
// answer received there never straddles a page (read right after it was
// written, across a page it costs a small message more than half again).
// Areas on the stack are aligned by hand, from kLocalAreaSize - 1 spare
// bytes: an aligned object would make its function realign the whole stack
// frame on every call (about 10 instructions of a small message).
ORQ_ALWAYS_INLINE inline unsigned char* align_to_local_area(unsigned char* p) {
    constexpr std::uintptr_t mask = kLocalAreaSize - 1;
    return reinterpret_cast<unsigned char*>((reinterpret_cast<std::uintptr_t>(p) + mask) & ~mask);
}

// The whole routine (see exchange below).
int32_t exchange_general(int32_t handle, uint16_t code, const void* body, int32_t body_len,
                         void* answer, int32_t* answer_len, int32_t time_limit_ms, int32_t cancel);
// The rest of an exchange without a time limit whose first call gave rc with
// len bytes reported. `area` of `cap` bytes received it: the caller's buffer
// (direct, cap >= 128), or else the zeroed local area of 128 bytes that is
// copied out to `answer` (capacity *answer_len).
int32_t exchange_continue(int32_t handle, unsigned char* area, int32_t cap, bool direct,
                          void* answer, int32_t* answer_len, int32_t rc, int32_t len);

// answer and answer_len may both be null (the answer is dropped). *answer_len
// is the capacity on entry and the answer's length on return. An answer
// longer than the capacity (0 included) gives -1107: the buffer holds its
// leading bytes and *answer_len the whole answer's length, also when it came
// in parts. time_limit_ms below 0 means no limit; cancel == 1 cancels a
// pending answer at the time-out. A negative capacity, or a positive
// capacity without a buffer, gives -1100 and sends nothing.
//
// Inlined into the message paths: with no time limit, an answer that comes
// whole in the first call is done here, and anything else continues in
// exchange_continue without a second request. An answer received in the
// local area is copied out with the short moves of copy_bytes (at most 128
// bytes).
ORQ_ALWAYS_INLINE inline int32_t exchange(int32_t handle, uint16_t code, const void* body,
                                          int32_t body_len, void* answer, int32_t* answer_len,
                                          int32_t time_limit_ms, int32_t cancel) {
    if (time_limit_ms < 0 && answer_len && body_len >= 0 && (body || body_len == 0)) {
        const int32_t caller_cap = *answer_len;
        if (caller_cap >= kLocalAreaSize && answer) {
            unsigned char* const area = static_cast<unsigned char*>(answer);
            area[0] = 0;
            int32_t len = caller_cap;
            const int32_t rc = command_ex(handle, code, -1, caller_cap, area, &len, body, body_len);
            if (rc == 0 && len >= 0 && len <= caller_cap) {
                *answer_len = len;
                return 0;
            }
            return exchange_continue(handle, area, caller_cap, true, answer, answer_len, rc, len);
        }
        if (caller_cap >= 0 && (answer || caller_cap == 0)) {
            unsigned char local_bytes[2 * kLocalAreaSize - 1];
            unsigned char* const local = align_to_local_area(local_bytes);
            zero_128(local);
            int32_t len = kLocalAreaSize;
            const int32_t rc = command_ex(handle, code, -1, kLocalAreaSize, local, &len, body, body_len);
            if (rc == 0 && len >= 0 && len <= kLocalAreaSize) {
                // An answer longer than the caller's capacity is -1107 with
                // its whole length (a capacity of 0 asks for that length).
                if (len > 0 && caller_cap > 0)
                    copy_bytes(static_cast<unsigned char*>(answer), local,
                               static_cast<std::size_t>(len < caller_cap ? len : caller_cap));
                *answer_len = len;
                return len > caller_cap ? kAnswerTooLong : 0;
            }
            return exchange_continue(handle, local, kLocalAreaSize, false, answer, answer_len, rc, len);
        }
    }
    return exchange_general(handle, code, body, body_len, answer, answer_len, time_limit_ms, cancel);
}

// The rest of exchange_in_area when its first call did not bring the whole
// answer: continues as exchange() would from its local area.
int32_t exchange_in_area_continue(int32_t handle, unsigned char* area, int32_t* answer_len,
                                  int32_t rc, int32_t len);

// exchange() without a time limit into a reply area the library owns, whose
// first 128 bytes (at least) are writable and zero whatever its capacity
// *answer_len: an answer to a capacity below 128 is received in place rather
// than in the local area and copied out. Results, lengths and the bytes
// within the capacity are exactly those of exchange(); bytes an answer brings
// past the capacity stay in the area's spare room, where nothing reads them.
ORQ_ALWAYS_INLINE inline int32_t exchange_in_area(int32_t handle, uint16_t code, const void* body,
                                                  int32_t body_len, unsigned char* area,
                                                  int32_t* answer_len) {
    const int32_t capacity = *answer_len;
    if (capacity >= kLocalAreaSize || capacity < 0 || body_len < 0 || (body_len > 0 && !body))
        return exchange(handle, code, body, body_len, area, answer_len, -1, 0);
    int32_t len = kLocalAreaSize;
    const int32_t rc = command_ex(handle, code, -1, kLocalAreaSize, area, &len, body, body_len);
    if (rc == 0 && len >= 0 && len <= kLocalAreaSize) {
        // Within the capacity: the answer's bytes, then zeros (as copied out
        // of the local area into a zeroed area).
        if (len < capacity) zero_bytes(area + len, static_cast<std::size_t>(capacity - len));
        *answer_len = len;
        return len > capacity ? kAnswerTooLong : 0;
    }
    return exchange_in_area_continue(handle, area, answer_len, rc, len);
}

// Cancels a pending answer by its ticket; the server's answer is dropped.
int32_t cancel_ticket(int32_t handle, const int32_t ticket[2]);

}  // namespace orq

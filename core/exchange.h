// The synchronous request/answer routine: sends one request, polls pending
// answers every 200 ms, collects answers that come in parts, applies the
// optional time limit and cancel, and copies the answer out.
#pragma once

#include <cstdint>

namespace orq {

constexpr uint32_t kPollIntervalMs = 200;

// answer and answer_len may both be null (the answer is dropped). *answer_len
// is the capacity on entry and the answer's length on return. An answer
// longer than the capacity (0 included) gives -1107: the buffer holds its
// leading bytes and *answer_len the whole answer's length, also when it came
// in parts. time_limit_ms below 0 means no limit; cancel == 1 cancels a
// pending answer at the time-out. A negative capacity, or a positive
// capacity without a buffer, gives -1100 and sends nothing.
int32_t exchange(int32_t handle, uint16_t code, const void* body, int32_t body_len,
                 void* answer, int32_t* answer_len, int32_t time_limit_ms, int32_t cancel);

// Cancels a pending answer by its ticket; the server's answer is dropped.
int32_t cancel_ticket(int32_t handle, const int32_t ticket[2]);

}  // namespace orq

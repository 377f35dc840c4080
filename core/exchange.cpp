#include "core/exchange.h"

#include <cstring>

#include "core/bytes.h"
#include "core/result.h"
#include "core/xsr_call.h"
#include "platform/platform.h"

namespace orq {

namespace {

// What one call delivered: the bytes it wrote at the write position (never
// more than offered) and the answer length to report. An answer that did not
// fit comes back as -1107 with the leading bytes that fit and the whole
// answer's length (from its first byte, earlier parts included), which is
// passed on so that the caller can size a buffer that holds it. A complete
// answer reported longer than the room offered was cut as well.
struct Delivered {
    int32_t bytes;
    int32_t length;
};

Delivered delivered(int32_t* rc, int32_t returned, int32_t offered, int32_t before) {
    const int32_t bytes = clamp_received(returned, offered);
    const int32_t held = before + bytes;
    if (*rc == kAnswerTooLong) return {bytes, returned > held ? returned : held};
    if (*rc == 0 && returned > offered) *rc = kAnswerTooLong;
    return {bytes, held};
}

// The receive area of one exchange and the time limit it runs under.
struct Area {
    unsigned char* at;
    int32_t cap;
    bool direct;  // the caller's own buffer (else the local area, copied out)
};
struct Limit {
    bool on;
    uint32_t start;
    int32_t ms;
    int32_t cancel;
};

// Everything after the first XSR_CommandEx of an exchange: pending answers,
// parts, the time limit, and the copy-out of the local area.
int32_t after_first(int32_t handle, Area a, void* answer, int32_t* answer_len, int32_t rc,
                    int32_t len, Limit limit);

}  // namespace

int32_t cancel_ticket(int32_t handle, const int32_t ticket[2]) {
    unsigned char body[8];
    put_le32(body, ticket[0]);
    put_le32(body + 4, ticket[1]);
    unsigned char sink[256] = {};
    int32_t len = 256;
    return command_ex(handle, kCmdTicket, 32639, 0, sink, &len, body, 8);
}

int32_t exchange_general(int32_t handle, uint16_t code, const void* body, int32_t body_len,
                         void* answer, int32_t* answer_len, int32_t time_limit_ms, int32_t cancel) {
    const int32_t caller_cap = answer_len ? *answer_len : 0;
    if (caller_cap < 0 || (caller_cap > 0 && answer == nullptr) || body_len < 0 ||
        (body_len > 0 && body == nullptr))
        return kBadArgument;

    // Receive area: the caller's buffer when it offers at least 128 bytes,
    // otherwise a zeroed local one of 128.
    unsigned char local[kLocalAreaSize];
    const bool direct = answer_len && caller_cap >= kLocalAreaSize;
    if (!direct) std::memset(local, 0, sizeof local);
    unsigned char* area = direct ? static_cast<unsigned char*>(answer) : local;
    const int32_t cap = direct ? caller_cap : kLocalAreaSize;
    area[0] = 0;

    // The start time matters only to a time limit; without one the clock is
    // not read at all.
    const bool limited = time_limit_ms >= 0;
    const uint32_t start = limited ? platform::tick_ms() : 0;

    int32_t len = cap;
    const int32_t rc = command_ex(handle, code, -1, cap, area, &len, body, body_len);
    return after_first(handle, Area{area, cap, direct}, answer, answer_len, rc, len,
                       Limit{limited, start, time_limit_ms, cancel});
}

int32_t exchange_continue(int32_t handle, unsigned char* area, int32_t cap, bool direct,
                          void* answer, int32_t* answer_len, int32_t rc, int32_t len) {
    return after_first(handle, Area{area, cap, direct}, answer, answer_len, rc, len,
                       Limit{false, 0, -1, 0});
}

int32_t exchange_in_area_continue(int32_t handle, unsigned char* area, int32_t* answer_len,
                                  int32_t rc, int32_t len) {
    // The state exchange() would be in: the first answer in its local area,
    // the caller's area still zero within its capacity.
    unsigned char local[kLocalAreaSize];
    std::memcpy(local, area, sizeof local);
    if (*answer_len > 0) std::memset(area, 0, static_cast<std::size_t>(*answer_len));
    return exchange_continue(handle, local, kLocalAreaSize, false, area, answer_len, rc, len);
}

namespace {

int32_t after_first(int32_t handle, Area a, void* answer, int32_t* answer_len, int32_t rc,
                    int32_t len, Limit limit) {
    unsigned char* const area = a.at;
    const int32_t cap = a.cap;
    const bool direct = a.direct;
    const int32_t caller_cap = answer_len ? *answer_len : 0;
    const unsigned char* local = area;
    const bool limited = limit.on;
    const uint32_t start = limit.start;
    const int32_t time_limit_ms = limit.ms;
    const int32_t cancel = limit.cancel;
    int32_t total = 0;
    int32_t ticket[2] = {0, 0};
    const Delivered first = delivered(&rc, len, cap, 0);
    len = first.bytes;
    int32_t answer_length = first.length;

    if (rc > 0) {
        // A positive status word passes through; nothing is copied out.
        if (answer_len) *answer_len = answer_length;
        return rc;
    }
    if (rc != 0 && rc != kRcPending && rc != kRcPart) {
        if (!direct && answer_len && caller_cap > 0)
            std::memcpy(answer, local, static_cast<std::size_t>(len < caller_cap ? len : caller_cap));
        if (answer_len) *answer_len = answer_length;
        return rc;
    }
    if (rc == 0) total = len;

    while (rc == kRcPending || rc == kRcPart) {
        const int32_t room = cap - total;
        unsigned char* at = area + total;
        if (rc == kRcPending) {
            // The first 8 bytes of the pending answer are its ticket.
            int32_t got[2] = {0, 0};
            if (room >= 8) {
                got[0] = get_le32(at);
                got[1] = get_le32(at + 4);
            }
            if (limited && static_cast<uint32_t>(platform::tick_ms() - start) >=
                               static_cast<uint32_t>(time_limit_ms)) {
                if (cancel == 1) {
                    cancel_ticket(handle, got);
                    rc = kTimeoutCancelled;
                } else {
                    rc = kTimeout;
                }
                answer_length = 0;
                break;
            }
            ticket[0] = got[0];
            ticket[1] = got[1];
            const int32_t used = len > 8 ? len : 8;
            std::memset(at, 0, static_cast<std::size_t>(used < room ? used : room));
            platform::sleep_ms(kPollIntervalMs);
        } else {
            total += len;
        }

        unsigned char tbody[8];
        put_le32(tbody, ticket[0]);
        put_le32(tbody + 4, ticket[1]);
        const int32_t offer = cap - total;
        len = offer;
        rc = command_ex(handle, kCmdPoll, -1, 0, area + total, &len, tbody, 8);
        const Delivered got = delivered(&rc, len, offer, total);
        len = got.bytes;
        answer_length = len;
        if (rc == 0 || rc == kAnswerTooLong) {
            total += len;
            answer_length = got.length;
        }
    }

    // Copy-out from the local area. An answer longer than the caller's
    // capacity is -1107 with its whole length, a capacity of 0 included (that
    // is how a caller asks for the size it needs).
    if (!direct && answer_len) {
        const int32_t n = total < caller_cap ? total : caller_cap;
        if (n > 0) std::memcpy(answer, local, static_cast<std::size_t>(n));
        if (caller_cap < total && rc == 0) rc = kAnswerTooLong;
    }
    if (answer_len) *answer_len = answer_length;
    return rc;
}

}  // namespace

}  // namespace orq

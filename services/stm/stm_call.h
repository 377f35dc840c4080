// Shared pieces of the "KExt_STM" service calls: argument checks that keep
// every read inside the caller's memory, the encoders of the text item list
// and the option records, and the senders. Every stub checks its arguments,
// builds a frame without engine selector and sends it through these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>

#include "core/guard.h"
#include "core/message.h"
#include "core/result.h"
#include "exports/orqext.h"

namespace orq::stm {

// ---- checks -------------------------------------------------------------

// A caller's reply area: buffer and length pointer given, capacity >= 0.
inline bool reply_area_ok(const void* out, const int32_t* length) {
    return out && length && *length >= 0;
}
// The same with a capacity above 0 (calls whose capacity must be positive).
inline bool reply_area_positive(const void* out, const int32_t* length) {
    return out && length && *length > 0;
}

// A text item list that can be read and encoded: a count of 0 or less reads
// nothing; otherwise items is not null, every text is not null, and the
// encoded list fits a message (at most INT32_MAX bytes). Each text is
// measured. For calls that put a text of the caller's before the list, so
// that the list is refused before that text could move the frame to the heap.
bool items_sendable(const StmTextItem* items, int32_t count);

// A string that is given and not empty.
inline bool filled(const char* s) { return s && *s; }

// ---- encoders -----------------------------------------------------------

// The text item list: per item id, byte count n, exactly n bytes, one NUL;
// n is `length` when positive (the text is read that far and no further),
// else the bytes up to the NUL. Writes nothing for a count of 0 or less.
// Checks the list as items_sendable does, in the same pass: false when it
// is refused, before any heap allocation; the frame must not be sent then.
[[nodiscard]] bool put_items(Frame& f, const StmTextItem* items, int32_t count);
// value as int32, then flag as one byte.
void put_option_pair(Frame& f, const StmOptionPair& o);
// value1, value2 as int32, then flag as one byte.
void put_classifier_options(Frame& f, const StmClassifierOptions& o);
// flag as one byte, then value1, value2 as int32.
void put_vsm_options(Frame& f, const StmVsmOptions& o);

// Decimal text of at most n bytes: leading white space, an optional sign,
// digits up to the first non-digit; 0 without digits; saturated to int32.
int32_t parse_decimal(const unsigned char* p, std::size_t n);

// ---- senders (module "KExt_STM", no target, no time limit) ---------------

// No reply area.
ORQ_ALWAYS_INLINE inline int32_t send(int32_t conn, const Frame& f) {
    return send_frame(conn, kModStm, f, nullptr, nullptr);
}
// The caller's buffer and length pointer as the reply area.
ORQ_ALWAYS_INLINE inline int32_t send_to_caller(int32_t conn, const Frame& f, void* out,
                                                int32_t* length) {
    return send_frame(conn, kModStm, f, out, length);
}
// Appends the capacity (*length), the count and the item list, then sends
// with the caller's reply area; -1100 with nothing sent when put_items
// refuses the list. The other arguments are checked by the caller.
ORQ_ALWAYS_INLINE inline int32_t send_items_to_caller(int32_t conn, Frame& f, void* out,
                                                      int32_t* length, const StmTextItem* items,
                                                      int32_t count) {
    f.i32(*length).i32(count);
    if (!put_items(f, items, count)) return kBadArgument;
    return send_to_caller(conn, f, out, length);
}

// Shapes shared by stubs that differ only in their remote name and checks.
int32_t call_plain(int32_t conn, const char* remote);
int32_t call_handle(int32_t conn, const char* remote, int32_t handle);

}  // namespace orq::stm

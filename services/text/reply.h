// Shared pieces of the text analysis service calls: the remote functions as
// data, frame building from typed arguments, the exception guard of the
// exports, sends with and without a reply area, and the bounded reply
// decoders. Every decoder reads only the bytes the exchange reported as
// received (never past the reply area) and writes only within the capacities
// the caller gave.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/bytes.h"
#include "core/guard.h"
#include "core/message.h"
#include "core/result.h"
#include "core/text_scan.h"

namespace orq::text {

// Engine selectors of the engines inside "KExt_NLPE".
constexpr int32_t kEngineDict = 0;         // dictionary and segmentation
constexpr int32_t kEngineAssoc = 1;        // association dictionaries
constexpr int32_t kEngineEztc = 2;         // EZTC classifier
constexpr int32_t kEngineCla = 3;          // classifier
constexpr int32_t kEngineExtract = 4;      // word extraction
constexpr int32_t kEngineAptitude = 5;     // aptitude search
constexpr int32_t kEngineClassNoLabel = 6; // unlabelled clustering
constexpr int32_t kEngineBsm = 7;          // BSM classifier
constexpr int32_t kEngineTopic = 8;        // topic lists

// A reply whose lengths cannot be honoured within the caller's capacities or
// the bytes received.
constexpr int32_t kBadReply = kAnswerTooLong;

// One remote function: the module it lives in, the engine selector that opens
// its frame (only for "KExt_NLPE") and its remote name.
// The opening bytes of its module message are worked out when the library is
// built.
struct Remote {
    const char* module;
    bool has_selector;
    int32_t selector;
    const char* name;
    CallHead head;  // the module message's opening bytes
};
constexpr Remote nlpe(int32_t selector, const char* name) {
    return Remote{kModNlpe, true, selector, name, make_call_head(kModNlpe, true, selector, name)};
}
constexpr Remote unselected(const char* module, const char* name) {
    return Remote{module, false, 0, name, make_call_head(module, false, 0, name)};
}

// Typed frame arguments, appended in the order they are listed.
struct Str { const char* s; };         // bytes and NUL; nothing for null
struct StrOrEmpty { const char* s; };  // bytes and NUL; a single NUL for null
struct I32 { int32_t v; };
struct Byte { uint8_t v; };
inline Str str(const char* s) { return Str{s}; }
inline StrOrEmpty str_or_empty(const char* s) { return StrOrEmpty{s}; }
inline I32 i32(int32_t v) { return I32{v}; }
inline Byte byte(uint8_t v) { return Byte{v}; }

// Each argument is measured once, then the whole group is written at once
// when it fits the frame's current size (the common case: one room check,
// no per-field bookkeeping), or appended field by field when it does not.
struct Piece {  // a string's n bytes and its NUL; nothing at all when s is null
    const char* s;
    std::size_t n;
};
inline Piece measure(Str a) { return a.s ? Piece{a.s, text_length(a.s)} : Piece{nullptr, 0}; }
inline Piece measure(StrOrEmpty a) { return a.s ? Piece{a.s, text_length(a.s)} : Piece{"", 0}; }
inline I32 measure(I32 a) { return a; }
inline Byte measure(Byte a) { return a; }

inline std::size_t size_of(const Piece& p) { return p.s ? p.n + 1 : 0; }
inline std::size_t size_of(I32) { return 4; }
inline std::size_t size_of(Byte) { return 1; }

ORQ_ALWAYS_INLINE inline unsigned char* put(unsigned char* at, const Piece& p) {
    if (!p.s) return at;
    copy_bytes(at, p.s, p.n);
    at[p.n] = 0;
    return at + p.n + 1;
}
inline unsigned char* put(unsigned char* at, I32 a) {
    put_le32(at, a.v);
    return at + 4;
}
inline unsigned char* put(unsigned char* at, Byte a) {
    *at = a.v;
    return at + 1;
}

inline void append(Frame& f, const Piece& p) {
    if (p.s) f.counted(p.s, p.n);
}
inline void append(Frame& f, I32 a) { f.i32(a.v); }
inline void append(Frame& f, Byte a) { f.byte(a.v); }

template <class... M>
ORQ_ALWAYS_INLINE inline void append_measured(Frame& f, const M&... m) {
    const std::size_t n = (std::size_t{0} + ... + size_of(m));
    if (unsigned char* at = f.place(n)) {
        ((at = put(at, m)), ...);
        return;
    }
    (append(f, m), ...);
}

// The frame header of `r` (selector, "r!" NUL, remote name NUL).
ORQ_ALWAYS_INLINE inline Frame open_frame(const Remote& r) {
    return Frame(r.head);
}
template <class... A>
ORQ_ALWAYS_INLINE inline void append_all(Frame& f, const A&... args) {
    append_measured(f, measure(args)...);
}
template <class... A>
ORQ_ALWAYS_INLINE inline Frame build(const Remote& r, const A&... args) {
    Frame f = open_frame(r);
    append_all(f, args...);
    return f;
}

// The same arguments composed into a SmallMessage after r's opening bytes,
// each text measured while it is copied. The bytes every argument takes
// whatever its text (numbers, and the NUL of each text) are set aside first,
// so that only the texts are checked against the room: `end` is where the
// texts' bytes must stop, and moves on by each fixed field written. False
// when they do not fit (the message is then unusable and the call builds a
// Frame instead).
inline constexpr std::size_t fixed_size(Str) { return 1; }
inline constexpr std::size_t fixed_size(StrOrEmpty) { return 1; }
inline constexpr std::size_t fixed_size(I32) { return 4; }
inline constexpr std::size_t fixed_size(Byte) { return 1; }

ORQ_ALWAYS_INLINE inline bool put_small(unsigned char*& at, unsigned char*& end, const char* s) {
    std::size_t n;
    // copy_text leaves room for the NUL: n < end - at, and the NUL was set aside.
    if (!copy_text(at, s, static_cast<std::size_t>(end - at), &n)) return false;
    at[n] = 0;
    at += n + 1;
    end += 1;
    return true;
}
ORQ_ALWAYS_INLINE inline bool put_small(unsigned char*& at, unsigned char*& end, Str a) {
    if (a.s) return put_small(at, end, a.s);
    end += 1;  // nothing at all for a null text
    return true;
}
ORQ_ALWAYS_INLINE inline bool put_small(unsigned char*& at, unsigned char*& end, StrOrEmpty a) {
    return put_small(at, end, a.s ? a.s : "");
}
ORQ_ALWAYS_INLINE inline bool put_small(unsigned char*& at, unsigned char*& end, I32 a) {
    at = put(at, a);
    end += 4;
    return true;
}
ORQ_ALWAYS_INLINE inline bool put_small(unsigned char*& at, unsigned char*& end, Byte a) {
    at = put(at, a);
    end += 1;
    return true;
}
template <class... A>
ORQ_ALWAYS_INLINE inline bool compose(SmallMessage& m, const Remote& r, const A&... args) {
    constexpr std::size_t fixed = (std::size_t{0} + ... + fixed_size(A{}));
    static_assert(CallHead::kMax + fixed < SmallMessage::kSize, "the fixed part fits");
    copy_bytes(m.bytes, r.head.bytes, r.head.len);
    unsigned char* at = m.bytes + r.head.len;
    unsigned char* end = m.bytes + SmallMessage::kSize - fixed;
    if (!(put_small(at, end, args) && ...)) return false;
    m.used = static_cast<std::size_t>(at - m.bytes);
    return true;
}

// Sends a frame and drops the reply (no reply buffer, no length).
int32_t send_only(int32_t conn, const Remote& r, const Frame& f);

// The whole of a call without a reply: build the frame from the arguments,
// send it, return the module message's result.
template <class... A>
int32_t call(int32_t conn, const Remote& r, const A&... args) noexcept {
    return guarded([&]() ORQ_ALWAYS_INLINE { return send_only(conn, r, build(r, args...)); });
}

// True when [offset, offset + len) lies inside the first `received` bytes.
inline bool within(int32_t received, uint64_t offset, uint64_t len) {
    return offset <= static_cast<uint64_t>(received) &&
           len <= static_cast<uint64_t>(received) - offset;
}

// A zero-filled reply area and the number of bytes the exchange reported for
// it (never more than the area's size).
struct Reply {
    ReplyArea area;
    int32_t received = 0;

    const unsigned char* data() const { return area.data(); }
    // True when [offset, offset + len) lies inside the bytes received.
    bool has(uint64_t offset, uint64_t len) const { return within(received, offset, len); }
    // The int32 at `offset`, or false when those four bytes were not received.
    bool int32_at(uint64_t offset, int32_t* v) const {
        if (!has(offset, 4)) return false;
        *v = get_le32(area.data() + offset);
        return true;
    }
};

// Allocates a reply area of `size` bytes (computed by the caller in 64 bits),
// sends the frame with it as reply buffer and its size as capacity, and
// returns the module message's result. A size below 0, above INT32_MAX or
// that cannot be allocated gives -1100 and nothing is sent.
ORQ_ALWAYS_INLINE inline int32_t send_with_area(int32_t conn, const Remote& r, const Frame& f, int64_t size, Reply* reply,
                                               ReplyArea::Zero zero = ReplyArea::Zero::All) {
    if (!reply->area.allocate(size, zero)) return kBadArgument;
    return send_frame_area(conn, r.module, f, reply->area, &reply->received);
}

// --- Bounded decoders -----------------------------------------------------

// Segmentation reply: int32 count, count int32 entries, count int16 entries.
// Copies the entries into items and marks (each of `capacity` entries) and
// returns count. A reply shorter than its count field carries no entries
// (count 0, as the zero-filled area reads). A negative count, a count above
// capacity, or entries past the bytes received give kBadReply and leave both
// arrays untouched.
ORQ_ALWAYS_INLINE inline int32_t decode_segmentation(const Reply& reply, int32_t capacity, int32_t* items, int16_t* marks) {
    // The count comes from the zero-filled area whatever number of bytes
    // came: a reply of 01 00 announces one entry (and then lacks it).
    const int32_t count = get_le32(reply.data());
    if (count < 0 || count > capacity) return kBadReply;
    if (count == 0) return 0;
    const uint64_t k = static_cast<uint64_t>(count);
    if (!reply.has(4, 6 * k)) return kBadReply;
    const unsigned char* p = reply.data() + 4;
    get_le_array(p, items, static_cast<std::size_t>(k));
    get_le_array(p + 4 * k, marks, static_cast<std::size_t>(k));
    return count;
}

// The checks of the segmentation calls: -1100 when text is null or empty,
// items is null, capacity is negative, or capacity is 0 while marks are
// wanted (no reply area to decode); 0 when the call may go ahead.
inline int32_t check_segmentation(const char* text, const int32_t* items, int32_t capacity,
                           const int16_t* marks) {
    if (!text || !*text || !items || capacity < 0 || (marks && capacity == 0)) return kBadArgument;
    return kOk;
}

// The segmentation call shared by the segmentation engines, from the frame's
// arguments (the caller has checked them with check_segmentation). Without
// marks the reply goes straight into items with a capacity of 4 x capacity
// bytes and the module message's result is returned; with marks a 6 x
// capacity area is decoded and a non-negative result gives the count.
// Capacities whose area would not fit an int32 give -1100 and nothing is
// sent.
//
// With marks and arguments that fit a SmallMessage (a text of up to about a
// KiB) the message is composed on the stack and sent by send_small, whatever
// the capacity; larger arguments are built in a Frame. Either way the answer
// is received in a ReplyArea of 6 x capacity bytes (on the stack up to its
// inline size) and decoded from there: both send the same bytes with the
// same capacity and decode the same count and entries received.

// The Frame path (and the calls without marks), out of line so that the
// common case keeps a small stack frame.
template <class... A>
ORQ_NOINLINE int32_t segmentation_in_frame(int32_t conn, const Remote& r, int32_t* items,
                                           int32_t capacity, int16_t* marks, A... args) noexcept {
    return guarded([&]() ORQ_ALWAYS_INLINE {
        const Frame f = build(r, args...);
        if (!marks) {
            // The exchange writes the reply straight into items.
            const int64_t bytes = 4 * static_cast<int64_t>(capacity);
            if (capacity < 0 || bytes > INT32_MAX) return kBadArgument;
            int32_t len = static_cast<int32_t>(bytes);
            return send_frame(conn, r.module, f, items, &len);
        }
        if (capacity <= 0) return kBadArgument;
        Reply reply;
        // The decoder reads the count at the start and entries received.
        const int32_t rc = send_with_area(conn, r, f, 6 * static_cast<int64_t>(capacity), &reply,
                                          ReplyArea::Zero::Head);
        if (rc < 0) return rc;
        return decode_segmentation(reply, capacity, items, marks);
    });
}

template <class... A>
ORQ_ALWAYS_INLINE inline int32_t segmentation(int32_t conn, const Remote& r, int32_t* items,
                                              int32_t capacity, int16_t* marks, A... args) noexcept {
    if (marks && capacity > 0) {
        SmallMessage m;
        if (compose(m, r, args...)) {
            Reply reply;
            // send_small zeroes what the decoder may read past the answer.
            if (!reply.area.allocate(6 * static_cast<int64_t>(capacity), ReplyArea::Zero::None))
                return kBadArgument;
            const int32_t rc = send_small(conn, r.module, m, reply.area.data(), reply.area.size(),
                                          &reply.received);
            if (rc < 0) return rc;
            return decode_segmentation(reply, capacity, items, marks);
        }
    }
    return segmentation_in_frame(conn, r, items, capacity, marks, args...);
}

// Copies `n` bytes from `offset` of the reply; the range has been checked.
void copy_from(const Reply& reply, uint64_t offset, void* out, int32_t n);

}  // namespace orq::text

// --- Counted texts delivered through an in/out length ---------------------
// (association dictionaries, aptitude search)

namespace orq::text {

// What a counted text longer than the caller's capacity does.
enum class Overlong {
    Cut,     // cut to the capacity; the length receives the bytes stored; 0
    Report,  // the leading capacity bytes are stored, the length receives the
             // text's own length and the result is -1107
};

// A counted text found in a reply and checked, not yet delivered.
struct CountedText {
    int32_t announced = 0;  // the reply's own length field
    int32_t take = 0;       // bytes to copy: the smaller of announced and capacity
    uint64_t at = 0;        // offset of the text's first byte
};

// Finds the int32 length at `offset` and the text after it. A reply too short
// to hold a length field at offset 0 reads as an empty text (the zero-filled
// area); a later length field must have been received. False when the length
// is negative or the bytes to copy run past the bytes received.
bool locate_text(const Reply& reply, uint64_t offset, int32_t cap, CountedText* t);

// Copies t.take bytes into buffer and stores the length as `mode` says.
// Returns 0, or -1107 for an over-long text under Overlong::Report.
int32_t deliver_text(const Reply& reply, const CountedText& t, Overlong mode, void* buffer,
                     int32_t* length);

}  // namespace orq::text

#include "services/stm/stm_call.h"

#include <climits>
#include <cstddef>
#include <cstring>

#include "core/text_scan.h"

namespace orq::stm {

// Offsets of the records as the server module reads them (natural
// alignment); the header checks their sizes.
static_assert(offsetof(StmOptionPair, flag) == 4, "StmOptionPair.flag");
static_assert(offsetof(StmClassifierOptions, value2) == 4, "StmClassifierOptions.value2");
static_assert(offsetof(StmClassifierOptions, flag) == 8, "StmClassifierOptions.flag");
static_assert(offsetof(StmVsmOptions, value1) == 4, "StmVsmOptions.value1");
static_assert(offsetof(StmVsmOptions, value2) == 8, "StmVsmOptions.value2");
static_assert(offsetof(StmClusterShutdownArgs, value4) == 12, "StmClusterShutdownArgs.value4");
static_assert(offsetof(StmClusterShutdownArgs, name) == 16, "StmClusterShutdownArgs.name");
static_assert(offsetof(StmTextItem, length) == 4, "StmTextItem.length");

namespace {

// Bytes of text an item sends: `length` when positive, else up to the NUL.
std::size_t item_text_bytes(const StmTextItem& it) {
    return it.length > 0 ? static_cast<std::size_t>(it.length) : std::strlen(it.text);
}

// Bytes of an item besides its text: id, byte count, NUL.
constexpr std::size_t kItemFrame = 4 + 4 + 1;

// Lengths that the check of a list's remainder keeps for its encoding;
// texts past them are measured again when encoded.
constexpr int32_t kKept = 64;

// Items [from, count) checked as items_sendable checks a list, after `total`
// bytes of the list's encoding. 64-bit arithmetic keeps the sum exact on
// 32-bit builds; a text whose `length` says how many bytes to take is not
// read. kept (when not null) gets the first kKept lengths, *sum (when not
// null) the bytes of the list's encoding from `from` on.
bool check_from(const StmTextItem* items, int32_t from, int32_t count, uint64_t total,
                std::size_t* kept, uint64_t* sum = nullptr) {
    const uint64_t before = total;
    for (int32_t i = from; i < count; ++i) {
        if (!items[i].text) return false;
        const std::size_t n = item_text_bytes(items[i]);
        if (kept && i - from < kKept) kept[i - from] = n;
        total += kItemFrame + static_cast<uint64_t>(n);
        if (total > static_cast<uint64_t>(INT32_MAX)) return false;
    }
    if (sum) *sum = total - before;
    return true;
}

// The part of a list that does not fit the frame's free tail: items from
// `from` on, after `written` bytes of items written at the tail and not yet
// counted in. The rest is checked, every text measured, before anything can
// allocate; then the written bytes join the frame, storage for the rest is
// set aside at once (one copy of what the frame holds) and the rest is
// written at the new tail and counted in, as the first part was.
ORQ_NOINLINE bool put_rest(Frame& f, const StmTextItem* items, int32_t from, int32_t count,
                           std::size_t written) {
    std::size_t kept[kKept];
    uint64_t rest = 0;
    if (!check_from(items, from, count, written, kept, &rest)) return false;
    f.commit(written);
    f.reserve(static_cast<std::size_t>(rest));
    std::size_t room;
    unsigned char* at = f.tail(&room);  // room >= rest
    for (int32_t i = from; i < count; ++i) {
        const StmTextItem& it = items[i];
        const std::size_t n = i - from < kKept ? kept[i - from] : item_text_bytes(it);
        put_le32(at, it.id);
        put_le32(at + 4, static_cast<int32_t>(n));
        std::memcpy(at + 8, it.text, n);
        at[8 + n] = 0;
        at += kItemFrame + n;
    }
    f.commit(static_cast<std::size_t>(rest));
    return true;
}

}  // namespace

bool items_sendable(const StmTextItem* items, int32_t count) {
    if (count <= 0) return true;
    if (!items) return false;
    return check_from(items, 0, count, 0, nullptr);
}

// One pass over the items while they fit the frame's free tail (the inline
// area of a small frame): each text is checked, measured and copied at
// once, one pointer walks the tail and the whole list is counted in at the
// end. A list whose encoding stays in the tail is far below INT32_MAX.
bool put_items(Frame& f, const StmTextItem* items, int32_t count) {
    if (count <= 0) return true;
    if (!items) return false;
    std::size_t room;
    unsigned char* const start = f.tail(&room);
    unsigned char* const end = start + room;
    unsigned char* at = start;
    const StmTextItem* const last = items + count;
    const StmTextItem* it = items;
    do {
        const char* const text = it->text;
        if (!text) return false;
        // The text and its NUL go after the id and the byte count.
        const std::size_t left = static_cast<std::size_t>(end - at);
        if (left < kItemFrame) break;
        const std::size_t text_room = left - 8;
        std::size_t n;
        if (it->length > 0) {
            n = static_cast<std::size_t>(it->length);
            if (n >= text_room) break;
            copy_bytes(at + 8, text, n);
        } else {
            // A long text goes to put_rest, measured once and copied once.
            if (!copy_short_text(at + 8, text, text_room, &n)) break;
        }
        put_le32(at, it->id);
        put_le32(at + 4, static_cast<int32_t>(n));
        at[8 + n] = 0;
        at += kItemFrame + n;
    } while (++it != last);
    if (it != last)
        return put_rest(f, items, static_cast<int32_t>(it - items), count,
                        static_cast<std::size_t>(at - start));
    f.commit(static_cast<std::size_t>(at - start));
    return true;
}

void put_option_pair(Frame& f, const StmOptionPair& o) { f.i32(o.value).byte(o.flag); }

void put_classifier_options(Frame& f, const StmClassifierOptions& o) {
    f.i32(o.value1).i32(o.value2).byte(o.flag);
}

void put_vsm_options(Frame& f, const StmVsmOptions& o) {
    f.byte(o.flag).i32(o.value1).i32(o.value2);
}

int32_t parse_decimal(const unsigned char* p, std::size_t n) {
    std::size_t i = 0;
    while (i < n && (p[i] == ' ' || (p[i] >= '\t' && p[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < n && (p[i] == '+' || p[i] == '-')) negative = p[i++] == '-';
    // The magnitude stops growing one past INT32_MAX, enough for INT32_MIN.
    const int64_t cap = static_cast<int64_t>(INT32_MAX) + 1;
    int64_t v = 0;
    for (; i < n && p[i] >= '0' && p[i] <= '9'; ++i) {
        v = v * 10 + (p[i] - '0');
        if (v > cap) v = cap;
    }
    if (negative) return static_cast<int32_t>(-v);
    return v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v);
}

int32_t call_plain(int32_t conn, const char* remote) {
    return guarded([&]() ORQ_ALWAYS_INLINE { return send(conn, Frame(remote)); });
}

int32_t call_handle(int32_t conn, const char* remote, int32_t handle) {
    return guarded([&]() ORQ_ALWAYS_INLINE {
        Frame f(remote);
        f.i32(handle);
        return send(conn, f);
    });
}

}  // namespace orq::stm

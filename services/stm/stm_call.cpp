#include "services/stm/stm_call.h"

#include <climits>
#include <cstddef>
#include <cstring>

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

}  // namespace

bool reply_area_ok(const void* out, const int32_t* length) {
    return out && length && *length >= 0;
}

bool reply_area_positive(const void* out, const int32_t* length) {
    return out && length && *length > 0;
}

bool ItemList::check(const StmTextItem* items, int32_t count) {
    items_ = items;
    count_ = count;
    if (count <= 0) return true;
    if (!items) return false;
    // A list that could not be sent in one message is refused before any
    // allocation; 64-bit arithmetic keeps the sum exact on 32-bit builds.
    uint64_t total = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (!items[i].text) return false;
        const std::size_t n = item_text_bytes(items[i]);
        if (i < kKept) kept_[i] = n;
        total += 4 + 4 + static_cast<uint64_t>(n) + 1;
        if (total > static_cast<uint64_t>(INT32_MAX)) return false;
    }
    return true;
}

std::size_t ItemList::text_bytes(int32_t i) const {
    return i < kKept ? kept_[i] : item_text_bytes(items_[i]);
}

void put_items(Frame& f, const ItemList& list) {
    const StmTextItem* items = list.items();
    for (int32_t i = 0; i < list.count(); ++i) {
        const StmTextItem& it = items[i];
        const std::size_t n = list.text_bytes(i);
        if (unsigned char* at = f.place(4 + 4 + n + 1)) {
            put_le32(at, it.id);
            put_le32(at + 4, static_cast<int32_t>(n));
            copy_bytes(at + 8, it.text, n);
            at[8 + n] = 0;
        } else {
            f.i32(it.id).i32(static_cast<int32_t>(n)).block(it.text, n).byte(0);
        }
    }
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

int32_t send(int32_t conn, const Frame& f) { return send_frame(conn, kModStm, f, nullptr, nullptr); }

int32_t send_to_caller(int32_t conn, const Frame& f, void* out, int32_t* length) {
    return send_frame(conn, kModStm, f, out, length);
}

int32_t send_items_to_caller(int32_t conn, Frame& f, void* out, int32_t* length,
                             const ItemList& list) {
    f.i32(*length).i32(list.count());
    put_items(f, list);
    return send_to_caller(conn, f, out, length);
}

int32_t call_plain(int32_t conn, const char* remote) {
    return guarded([&] { return send(conn, Frame(remote)); });
}

int32_t call_handle(int32_t conn, const char* remote, int32_t handle) {
    return guarded([&] {
        Frame f(remote);
        f.i32(handle);
        return send(conn, f);
    });
}

}  // namespace orq::stm

// Module messages (command code 2) and the remote call frame that service
// calls carry in them.
#pragma once

#include <cstddef>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "core/bytes.h"
#include "core/exchange.h"
#include "core/registry.h"
#include "core/result.h"
#include "core/text_scan.h"

namespace orq {

// The routing step: the handle the message goes out on (*out), or -1203
// when clustering is on for conn and no node serves the module; -1100 when
// the handle's registry record cannot be made (allocation failure). A
// handle known to the registry without clustering goes out as it is,
// without a call.
int32_t route_slow(int32_t conn, const char* module, int32_t* out) noexcept;
ORQ_ALWAYS_INLINE inline int32_t route(int32_t conn, const char* module, int32_t* out) noexcept {
    *out = conn;
    if (registry::known_unclustered(conn)) return kOk;
    return route_slow(conn, module, out);
}

// Messages up to this size are built on the stack.
constexpr std::size_t kStackMessage = 4096;

// send_built for a message larger than kStackMessage: built on the heap.
int32_t send_built_large(int32_t handle, const char* module, std::size_t m, const char* target,
                         std::size_t t, const void* payload, std::size_t payload_len,
                         void* answer, int32_t* answer_len, int32_t time_limit_ms,
                         int32_t cancel) noexcept;

// Builds module name NUL, [target NUL], NUL, payload and sends it on a handle
// that has already been routed. The module name is measured while it is
// copied (a call to strlen costs more than the rest of its handling), the
// target (rare) is measured once. Inlined into the message path, where every
// call layer shows next to a fast XSRClient.
ORQ_ALWAYS_INLINE inline int32_t send_built(int32_t handle, const char* module, const char* target,
                                            const void* payload, std::size_t payload_len,
                                            void* answer, int32_t* answer_len,
                                            int32_t time_limit_ms, int32_t cancel) noexcept {
    unsigned char buffer[16 + kStackMessage];  // 16 in front: see copy_text_in_block
    unsigned char* const msg = buffer + 16;
    std::size_t m = 0;
    bool name_in_place = false;
    if (module) {
        name_in_place = copy_text_in_block(msg, module, &m) ||
                        copy_text(msg, module, kStackMessage, &m);
        if (!name_in_place) m = std::strlen(module);
        ++m;
    }
    const std::size_t t = target ? std::strlen(target) + 1 : 0;
    const uint64_t total = static_cast<uint64_t>(m) + t + 1 + payload_len;
    if (total > static_cast<uint64_t>(INT32_MAX)) return kBadArgument;
    if (total > kStackMessage)
        return send_built_large(handle, module, m, target, t, payload, payload_len, answer,
                                answer_len, time_limit_ms, cancel);
    unsigned char* at = msg;
    if (m) {
        if (!name_in_place) std::memcpy(at, module, m - 1);  // rare: a name near 4 KiB
        at[m - 1] = 0;
    }
    at += m;
    if (t) {  // rare: a target
        std::memcpy(at, target, t);
        at += t;
    }
    *at++ = 0;
    copy_bytes(at, payload, payload_len);
    return exchange(handle, kCmdModuleMessage, msg, static_cast<int32_t>(total), answer, answer_len,
                    time_limit_ms, cancel);
}

// Sends module name NUL, [target NUL], NUL, payload with command code 2,
// routed to a cluster node when clustering is on for the connection. The
// last four arguments go to the Command exchange unchanged. A failed
// allocation (the handle's registry record, a message too large to copy)
// gives -1100 with nothing sent.
ORQ_ALWAYS_INLINE inline int32_t send_module_message(int32_t conn, const char* module,
                                                     const char* target, const void* payload,
                                                     std::size_t payload_len, void* answer,
                                                     int32_t* answer_len, int32_t time_limit_ms,
                                                     int32_t cancel) noexcept {
    int32_t handle;
    const int32_t rc = route(conn, module, &handle);
    if (rc != kOk) return rc;
    return send_built(handle, module, target, payload, payload_len, answer, answer_len,
                      time_limit_ms, cancel);
}

// The opening bytes of a remote call's module message, worked out when the
// library is built: module NUL NUL, [engine selector int32], "r!" NUL,
// remote name NUL.
struct CallHead {
    static constexpr std::size_t kMax = 96;
    unsigned char bytes[kMax];
    std::size_t len;
};
constexpr CallHead make_call_head(const char* module, bool has_selector, int32_t selector,
                                  const char* name) {
    CallHead h{};
    std::size_t n = 0;
    auto add = [&h, &n](unsigned char c) {
        if (n == CallHead::kMax) throw "remote call head too long";  // stops the build
        h.bytes[n++] = c;
    };
    for (const char* c = module; *c; ++c) add(static_cast<unsigned char>(*c));
    add(0);
    add(0);
    if (has_selector) {
        const uint32_t u = static_cast<uint32_t>(selector);
        for (int i = 0; i < 4; ++i) add(static_cast<unsigned char>(u >> (8 * i)));
    }
    add('r');
    add('!');
    add(0);
    for (const char* c = name; *c; ++c) add(static_cast<unsigned char>(*c));
    add(0);
    h.len = n;
    return h;
}

// Remote call frame: [engine selector int32], "r!" NUL, remote name NUL, then
// the arguments in the order the calls append them.
class Frame {
public:
    // A frame that is already a whole module message: it opens with `head`
    // (module name included), so sending puts nothing in front of it.
    ORQ_ALWAYS_INLINE explicit Frame(const CallHead& head) : buf_(kHeadroom), has_module_(true) {
        if (unsigned char* at = buf_.place(head.len))  // a fresh buffer has room
            copy_bytes(at, head.bytes, head.len);
        else
            buf_.append_block(head.bytes, head.len);
    }
    // A frame without engine selector ("KExt_ARA", "KExt_KWFS", "KExt_STM").
    explicit Frame(const char* remote_name) : buf_(kHeadroom) {
        start(remote_name, std::strlen(remote_name));
    }
    // A frame with an engine selector ("KExt_NLPE").
    Frame(int32_t engine_selector, const char* remote_name) : buf_(kHeadroom) {
        if (unsigned char* at = buf_.place(4))
            put_le32(at, engine_selector);
        else
            buf_.append_int32(engine_selector);
        start(remote_name, std::strlen(remote_name));
    }

    // String with its NUL; a null string adds nothing at all.
    Frame& str(const char* s) {
        buf_.append_string(s);
        return *this;
    }
    // String with its NUL; a null string adds a single NUL.
    Frame& str_or_empty(const char* s) {
        if (s)
            buf_.append_string(s);
        else
            buf_.append_byte(0);
        return *this;
    }
    // A string of n bytes (n known to the caller) and its NUL.
    Frame& counted(const char* s, std::size_t n) {
        buf_.append_counted(s, n);
        return *this;
    }
    Frame& i32(int32_t v) {
        buf_.append_int32(v);
        return *this;
    }
    Frame& byte(uint8_t v) {
        buf_.append_byte(v);
        return *this;
    }
    Frame& block(const void* p, std::size_t n) {
        buf_.append_block(p, n);
        return *this;
    }
    // A group of fields written at once when it fits (see ByteBuffer::place).
    unsigned char* place(std::size_t n) { return buf_.place(n); }

    const ByteBuffer& buffer() const { return buf_; }
    // Opened with a CallHead: already a whole module message.
    bool has_module() const { return has_module_; }

    // Puts "module NUL NUL" in front of the frame (n: the name's length),
    // making it a whole module message without copying the frame; false when
    // the name does not fit the headroom. Sending consumes a frame this way:
    // a frame is sent once.
    bool prefix_module(const char* module, std::size_t n) const {
        if (n > kHeadroom - 2) return false;
        unsigned char head[kHeadroom];
        copy_bytes(head, module, n);
        head[n] = 0;
        head[n + 1] = 0;
        return buf_.prepend(head, n + 2);
    }

    // Room in front of the frame for the module name and its two NULs.
    static constexpr std::size_t kHeadroom = 32;

    // The free bytes after the frame, written in place and then counted in
    // (see ByteBuffer::tail and ByteBuffer::commit).
    unsigned char* tail(std::size_t* room) { return buf_.tail(room); }
    void commit(std::size_t n) { buf_.commit(n); }
    // Storage for n more bytes set aside at once (see ByteBuffer::reserve).
    void reserve(std::size_t n) { buf_.reserve(n); }

private:
    // "r!" NUL, the remote name and its NUL, placed at once when they fit
    // the fresh buffer (a name of up to about a KiB).
    ORQ_ALWAYS_INLINE void start(const char* remote_name, std::size_t n) {
        if (unsigned char* at = buf_.place(3 + n + 1)) {
            at[0] = 'r';
            at[1] = '!';
            at[2] = 0;
            copy_bytes(at + 3, remote_name, n);
            at[3 + n] = 0;
            return;
        }
        buf_.append_byte('r');
        buf_.append_byte('!');
        buf_.append_byte(0);
        buf_.append_counted(remote_name, n);
    }
    mutable ByteBuffer buf_;  // mutable: the module name is put in front when sent
    bool has_module_ = false;  // opened with a CallHead
};

// A whole module message of up to kSize bytes composed on the stack, for the
// calls whose arguments are a few texts and numbers: no Frame bookkeeping.
// The caller writes bytes[0, used); calls whose arguments do not fit use a
// Frame.
struct SmallMessage {
    static constexpr std::size_t kSize = 4096;
    unsigned char bytes[kSize];
    std::size_t used = 0;
};

// Sends a composed message to `module` with no target, time limit or cancel,
// and receives the answer in `area` for a capacity of `capacity` bytes; the
// area holds the larger of capacity and kLocalAreaSize bytes. What is sent
// and the results are those of exchange() with that capacity: a capacity
// below kLocalAreaSize offers the local area's size (the area then takes its
// place, as in exchange_in_area), a larger one itself. *received gets the
// answer's length bounded to [0, capacity]. Of the area only the bytes
// received count: past them the first four read as zeros (so a count field
// reads as the bytes that came, then zeros), and the rest may hold anything,
// bytes the client library wrote beyond the length it reported among them.
ORQ_ALWAYS_INLINE inline int32_t send_small(int32_t conn, const char* module,
                                            const SmallMessage& m, unsigned char* area,
                                            int32_t capacity, int32_t* received) {
    if (capacity < 0) return kBadArgument;
    int32_t handle;
    int32_t rc = route(conn, module, &handle);
    if (rc != kOk) return rc;
    const bool local = capacity < kLocalAreaSize;
    const int32_t offer = local ? kLocalAreaSize : capacity;
    if (local)
        zero_128(area);
    else
        area[0] = 0;
    int32_t len = offer;
    rc = command_ex(handle, kCmdModuleMessage, -1, offer, area, &len, m.bytes,
                    static_cast<int32_t>(m.used));
    // A count field past the bytes received reads as zeros.
    auto received_up_to = [area, received](int32_t n) {
        if (n < 4) zero_bytes(area + n, static_cast<std::size_t>(4 - n));
        *received = n;
    };
    if (rc == 0 && len >= 0 && len <= offer) {
        // The whole answer in the first call: the common case, done here.
        if (len > capacity) {
            received_up_to(capacity);
            return kAnswerTooLong;
        }
        received_up_to(len);
        return 0;
    }
    // Pending, in parts, a failure or a status word: on as the exchange goes.
    int32_t got = capacity;
    if (local)
        rc = exchange_in_area_continue(handle, area, &got, rc, len);
    else
        rc = exchange_continue(handle, area, capacity, true, area, &got, rc, len);
    received_up_to(got < 0 ? 0 : (got > capacity ? capacity : got));
    return rc;
}

// send_frame past routing, for the rare shapes: a module name that does not
// fit the headroom, or none.
int32_t send_frame_slow(int32_t handle, const char* module, const Frame& frame, void* reply,
                        int32_t* reply_len);

// Sends a frame to a module with no target, no time limit and no cancel.
// reply and reply_len may be null (the reply is dropped).
// The frame is turned into the module message in place (see prefix_module),
// unless it was opened with a CallHead and is one already.
ORQ_ALWAYS_INLINE inline int32_t send_frame(int32_t conn, const char* module, const Frame& frame,
                                            void* reply, int32_t* reply_len) {
    int32_t handle;
    const int32_t rc = route(conn, module, &handle);
    if (rc != kOk) return rc;
    if (frame.has_module() || (module && frame.prefix_module(module, std::strlen(module)))) {
        const ByteBuffer& b = frame.buffer();
        if (b.used() > static_cast<std::size_t>(INT32_MAX)) return kBadArgument;
        return exchange(handle, kCmdModuleMessage, b.content(), static_cast<int32_t>(b.used()),
                        reply, reply_len, -1, 0);
    }
    return send_frame_slow(handle, module, frame, reply, reply_len);
}

// Module names of the service families.
inline constexpr const char kModNlpe[] = "KExt_NLPE";
inline constexpr const char kModAra[] = "KExt_ARA";
inline constexpr const char kModKwfs[] = "KExt_KWFS";
inline constexpr const char kModStm[] = "KExt_STM";

}  // namespace orq

namespace orq {

// A zero-filled reply area for service calls that decode their reply. Its
// size comes from caller capacities, so it is computed in 64 bits and refused
// when it does not fit an int32 or cannot be allocated. Areas of up to
// kInlineSize bytes live inside the object (no heap allocation): 8 KiB, the
// 6 x capacity bytes of a segmentation call sized to a text of a KiB (an
// allocation and its release cost such a call more than the rest of its
// work). One smaller than the exchange's local area has that area's 128
// bytes zeroed, so that the answer is received in place (see
// exchange_in_area).
class ReplyArea {
public:
    static constexpr std::size_t kInlineSize = 8192;

    // How much of the area is zeroed: all of it; only its first
    // kLocalAreaSize bytes (all of a smaller one), for decoders that read a
    // count at the start and nothing past the bytes received; or none (the
    // sender zeroes what it needs, see send_small).
    enum class Zero { All, Head, None };

    ReplyArea() : data_(align_to_local_area(inline_bytes_)) {}
    ReplyArea(const ReplyArea&) = delete;
    ReplyArea& operator=(const ReplyArea&) = delete;

    // False when size is negative, above INT32_MAX or cannot be allocated.
    bool allocate(int64_t size, Zero zero = Zero::All) {
        if (size < 0 || size > INT32_MAX) return false;
        const std::size_t n = static_cast<std::size_t>(size);
        unsigned char* p = align_to_local_area(inline_bytes_);
        if (n > kInlineSize) {
            p = allocate_large(n);
            if (!p) return false;
        } else {
            heap_.reset();
        }
        static_assert(kLocalAreaSize == 128, "the area zeroed for in-place answers");
        if (zero == Zero::None) {
        } else if (n <= static_cast<std::size_t>(kLocalAreaSize) || zero == Zero::Head) {
            zero_128(p);  // a heap area holds 128 bytes at least
        } else {
            std::memset(p, 0, n);
        }
        size_ = static_cast<int32_t>(n);
        data_ = p;
        return true;
    }
    unsigned char* data() { return data_; }
    const unsigned char* data() const { return data_; }
    int32_t size() const { return size_; }

private:
    // Heap storage of n bytes (not zeroed), or null when it cannot be had.
    unsigned char* allocate_large(std::size_t n);

    // Its first kInlineSize bytes from the local area's alignment on (see
    // align_to_local_area): an answer received in place never straddles a
    // page (across a page it costs a small call a third more).
    unsigned char inline_bytes_[kInlineSize + kLocalAreaSize - 1];
    std::unique_ptr<unsigned char[]> heap_;  // areas larger than kInlineSize
    unsigned char* data_;                    // the inline bytes or heap_'s
    int32_t size_ = 0;
};

// Sends a frame with `area` as the reply buffer (capacity = its size). On
// return *received holds the length the exchange reported, bounded to
// [0, area size]: decoders never look past it.
ORQ_ALWAYS_INLINE inline int32_t send_frame_area(int32_t conn, const char* module,
                                                 const Frame& frame, ReplyArea& area,
                                                 int32_t* received) {
    int32_t handle;
    int32_t rc = route(conn, module, &handle);
    if (rc != kOk) return rc;
    int32_t len = area.size();
    if (frame.has_module() || (module && frame.prefix_module(module, std::strlen(module)))) {
        const ByteBuffer& b = frame.buffer();
        if (b.used() > static_cast<std::size_t>(INT32_MAX)) return kBadArgument;
        rc = exchange_in_area(handle, kCmdModuleMessage, b.content(), static_cast<int32_t>(b.used()),
                              area.data(), &len);
    } else {
        rc = send_frame_slow(handle, module, frame, area.size() ? area.data() : nullptr, &len);
    }
    if (len < 0) len = 0;
    if (len > area.size()) len = area.size();
    *received = len;
    return rc;
}

}  // namespace orq

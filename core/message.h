// Module messages (command code 2) and the remote call frame that service
// calls carry in them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/bytes.h"

namespace orq {

// Sends module name NUL, [target NUL], NUL, payload with command code 2,
// routed to a cluster node when clustering is on for the connection. The
// last four arguments go to the Command exchange unchanged. A failed
// allocation (the handle's registry record, a message too large to copy)
// gives -1100 with nothing sent.
int32_t send_module_message(int32_t conn, const char* module, const char* target,
                            const void* payload, std::size_t payload_len, void* answer,
                            int32_t* answer_len, int32_t time_limit_ms, int32_t cancel) noexcept;

// Remote call frame: [engine selector int32], "r!" NUL, remote name NUL, then
// the arguments in the order the calls append them.
class Frame {
public:
    // A frame without engine selector ("KExt_ARA", "KExt_KWFS", "KExt_STM").
    explicit Frame(const char* remote_name) : buf_(kHeadroom) { start(remote_name); }
    // A frame with an engine selector ("KExt_NLPE").
    Frame(int32_t engine_selector, const char* remote_name) : buf_(kHeadroom) {
        buf_.append_int32(engine_selector);
        start(remote_name);
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

    // Puts "module NUL NUL" in front of the frame, making it a whole module
    // message without copying the frame; false when the name does not fit
    // the headroom. Sending consumes a frame this way: a frame is sent once.
    bool prefix_module(const char* module) const;

    // Room in front of the frame for the module name and its two NULs.
    static constexpr std::size_t kHeadroom = 32;

    // The free bytes after the frame, written in place and then counted in
    // (see ByteBuffer::tail and ByteBuffer::commit).
    unsigned char* tail(std::size_t* room) { return buf_.tail(room); }
    void commit(std::size_t n) { buf_.commit(n); }

private:
    void start(const char* remote_name) {
        buf_.append_byte('r');
        buf_.append_byte('!');
        buf_.append_byte(0);
        buf_.append_string(remote_name);
    }
    mutable ByteBuffer buf_;  // mutable: the module name is put in front when sent
};

// Sends a frame to a module with no target, no time limit and no cancel.
// reply and reply_len may be null (the reply is dropped).
// The frame is turned into the module message in place (see prefix_module).
int32_t send_frame(int32_t conn, const char* module, const Frame& frame, void* reply,
                   int32_t* reply_len);

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
// kInlineSize bytes live inside the object (no heap allocation).
class ReplyArea {
public:
    static constexpr std::size_t kInlineSize = 4096;

    ReplyArea() = default;
    ReplyArea(const ReplyArea&) = delete;
    ReplyArea& operator=(const ReplyArea&) = delete;

    // False when size is negative, above INT32_MAX or cannot be allocated.
    bool allocate(int64_t size);
    unsigned char* data() { return heap_.empty() ? inline_ : heap_.data(); }
    const unsigned char* data() const { return heap_.empty() ? inline_ : heap_.data(); }
    int32_t size() const { return size_; }

private:
    unsigned char inline_[kInlineSize];
    std::vector<unsigned char> heap_;  // areas larger than kInlineSize
    int32_t size_ = 0;
};

// Sends a frame with `area` as the reply buffer (capacity = its size). On
// return *received holds the length the exchange reported, bounded to
// [0, area size]: decoders never look past it.
int32_t send_frame_area(int32_t conn, const char* module, const Frame& frame, ReplyArea& area,
                        int32_t* received);

}  // namespace orq

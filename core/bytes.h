// Byte buffer in which requests are assembled, little-endian helpers, and a
// bounded reader for replies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "core/inline.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orq {

// Little-endian fields. On a little-endian host each is one plain load or
// store of the native integer.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define ORQ_NATIVE_LITTLE_ENDIAN 1
#endif

inline void put_le32(unsigned char* p, int32_t v) {
#if ORQ_NATIVE_LITTLE_ENDIAN
    std::memcpy(p, &v, 4);
#else
    uint32_t u = static_cast<uint32_t>(v);
    p[0] = static_cast<unsigned char>(u);
    p[1] = static_cast<unsigned char>(u >> 8);
    p[2] = static_cast<unsigned char>(u >> 16);
    p[3] = static_cast<unsigned char>(u >> 24);
#endif
}
inline void put_le16(unsigned char* p, uint16_t v) {
#if ORQ_NATIVE_LITTLE_ENDIAN
    std::memcpy(p, &v, 2);
#else
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
#endif
}
inline int32_t get_le32(const unsigned char* p) {
#if ORQ_NATIVE_LITTLE_ENDIAN
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
#else
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                                (static_cast<uint32_t>(p[2]) << 16) |
                                (static_cast<uint32_t>(p[3]) << 24));
#endif
}
inline int16_t get_le16(const unsigned char* p) {
#if ORQ_NATIVE_LITTLE_ENDIAN
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
#else
    return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
#endif
}

// memcpy for the short pieces of a request and a reply (names, small texts
// and payloads, decoded entries of up to 128 bytes): a few fixed-size moves
// instead of a library call, which costs a small message about a tenth of
// its time (docs/design.md). The compiler is told nothing of the objects the
// pointers point into, so that it does not warn about the moves of the
// branches a short object never takes (a string literal's, say: "offset 16
// is out of the bounds [0, 3]"). Unoptimized builds (the sanitized ones)
// call memcpy.
ORQ_ALWAYS_INLINE inline void copy_bytes(unsigned char* to, const void* from, std::size_t n) {
#if !defined(__OPTIMIZE__)
    if (n) std::memcpy(to, from, n);
#else
    const unsigned char* f = static_cast<const unsigned char*>(from);
    ORQ_OPAQUE(f);
    ORQ_OPAQUE(to);
    // Pairs of moves that overlap in the middle; the short cases first.
    if (n <= 16) {
        if (n >= 8) {
            std::memcpy(to, f, 8);
            std::memcpy(to + n - 8, f + n - 8, 8);
        } else if (n >= 4) {
            std::memcpy(to, f, 4);
            std::memcpy(to + n - 4, f + n - 4, 4);
        } else if (n) {  // 1 to 3 bytes: first, middle, last
            to[0] = f[0];
            to[n / 2] = f[n / 2];
            to[n - 1] = f[n - 1];
        }
    } else if (n <= 128) {
        // Whole 16-byte moves, then one that ends at n (overlapping the last).
        std::memcpy(to, f, 16);
        if (n > 32) {
            std::memcpy(to + 16, f + 16, 16);
            if (n > 48) std::memcpy(to + 32, f + 32, 16);
            if (n > 64) {
                std::memcpy(to + 48, f + 48, 16);
                if (n > 80) std::memcpy(to + 64, f + 64, 16);
                if (n > 96) std::memcpy(to + 80, f + 80, 16);
                if (n > 112) std::memcpy(to + 96, f + 96, 16);
            }
        }
        std::memcpy(to + n - 16, f + n - 16, 16);
    } else {
        std::memcpy(to, f, n);
    }
#endif
}

// memset to zero, for the few bytes an answer leaves short of a count
// field or a small capacity (0 with a null pointer does nothing).
ORQ_ALWAYS_INLINE inline void zero_bytes(unsigned char* to, std::size_t n) {
    if (n) std::memset(to, 0, n);
}

// n little-endian values of T (int16_t or int32_t) from p into out.
template <class T>
ORQ_ALWAYS_INLINE inline void get_le_array(const unsigned char* p, T* out, std::size_t n) {
    static_assert(sizeof(T) == 2 || sizeof(T) == 4, "int16_t or int32_t");
#if ORQ_NATIVE_LITTLE_ENDIAN
    copy_bytes(reinterpret_cast<unsigned char*>(out), p, sizeof(T) * n);
#else
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<T>(sizeof(T) == 4 ? get_le32(p + 4 * i) : get_le16(p + 2 * i));
#endif
}

// Zeroes 128 bytes with plain vector stores (a fixed-size memset of this size
// becomes a string instruction, slow to start).
ORQ_ALWAYS_INLINE inline void zero_128(unsigned char* p) {
#if defined(__SSE2__)
    // Written out: the compiler turns a loop of these back into the memset.
    const __m128i z = _mm_setzero_si128();
    __m128i* q = reinterpret_cast<__m128i*>(p);
    _mm_storeu_si128(q, z);
    _mm_storeu_si128(q + 1, z);
    _mm_storeu_si128(q + 2, z);
    _mm_storeu_si128(q + 3, z);
    _mm_storeu_si128(q + 4, z);
    _mm_storeu_si128(q + 5, z);
    _mm_storeu_si128(q + 6, z);
    _mm_storeu_si128(q + 7, z);
#else
    std::memset(p, 0, 128);
#endif
}

// Growable request area. `size` bytes are allocated and zero past `used`;
// only the first `used` bytes are sent. Growth steps are fixed: +128 for a
// byte or an int32, +n+128 for a string of n bytes with its NUL, +n+256 for a
// raw block of n bytes.
//
// The first kInlineSize bytes (headroom included) live inside the object, so
// a request of up to 16 KiB is built without a heap allocation; a larger
// one moves to the heap, whose storage at least doubles when it grows (a
// frame of many texts is copied a few times, not once per text) and is never
// filled with zeros in advance: the spare bytes past `used` are zero-filled
// only when data() is asked for them. content() gives the `used` bytes that
// are sent, without touching the rest.
class ByteBuffer {
public:
    static constexpr std::size_t kInitialSize = 1024;
    static constexpr std::size_t kInlineSize = 16384;

    ByteBuffer() : ByteBuffer(0) {}
    // A buffer with `headroom` spare bytes in front of its start, so that a
    // short header can later be put before the content without a copy.
    explicit ByteBuffer(std::size_t headroom)
        : base_(inline_), head_(headroom), end_(headroom + kInitialSize), zeroed_(headroom) {
        if (end_ > kInlineSize) move_to_heap();
    }
    ByteBuffer(const ByteBuffer& o)
        : base_(inline_), head_(o.head_), end_(o.end_), used_(o.used_), zeroed_(o.head_ + o.used_) {
        if (o.heap_) {
            heap_.reset(new unsigned char[o.heap_size_]);
            heap_size_ = o.heap_size_;
            base_ = heap_.get();
        }
        if (used_) std::memcpy(base_ + head_, o.base_ + o.head_, used_);
    }
    ByteBuffer& operator=(const ByteBuffer&) = delete;

    void append_byte(uint8_t b) {
        *room(1, 128) = b;
        used_ += 1;
    }
    void append_int32(int32_t v) {
        put_le32(room(4, 128), v);
        used_ += 4;
    }
    // The string's bytes and its NUL; a null string adds nothing at all.
    void append_string(const char* s) {
        if (!s) return;
        append_counted(s, std::strlen(s));
    }
    // A string whose length n (without its NUL) the caller already knows:
    // its n bytes and a NUL, grown as append_string grows.
    void append_counted(const char* s, std::size_t n) {
        unsigned char* at = room(n + 1, n + 1 + 128);
        copy_bytes(at, s, n);
        at[n] = 0;
        used_ += n + 1;
    }
    void append_block(const void* p, std::size_t n) {
        unsigned char* at = room(n, n + 256);
        copy_bytes(at, p, n);
        used_ += n;
    }
    // Where the next n bytes go when they fit the current size, so that a
    // group of fields is written at once: the caller writes all n bytes and
    // the content grows by n. nullptr (nothing changed) when they do not fit;
    // the fields are then appended one by one, with their growth steps. (When
    // they fit, none of those appends would have grown the buffer.)
    unsigned char* place(std::size_t n) {
        if (used_ + n > end_ - head_) return nullptr;
        unsigned char* at = base_ + head_ + used_;
        used_ += n;
        return at;
    }
    // Storage for at least n more bytes of content at tail(), so that
    // writing them there copies the content to a larger area at most this
    // once. The size and the growth steps stay as they are.
    void reserve(std::size_t n) {
        std::size_t need = head_ + used_ + n;
        if (need < end_) need = end_;
        if (need > (heap_ ? heap_size_ : kInlineSize)) move_to_heap(need);
    }
    // The free bytes after the content that can be written without a heap
    // allocation: up to the end of the inline area while the content is
    // inline, up to the end of the heap storage otherwise. *room gets their
    // count. What is written there becomes content only through commit(), so
    // a writer may stop halfway and leave the content as it was.
    unsigned char* tail(std::size_t* room) {
        const std::size_t limit = heap_ ? heap_size_ : kInlineSize;
        *room = limit - head_ - used_;
        if (zeroed_ > head_ + used_) zeroed_ = head_ + used_;  // the tail may be written
        return base_ + head_ + used_;
    }
    // The first n bytes at tail() (n no more than its room) join the content.
    void commit(std::size_t n) {
        used_ += n;
        if (head_ + used_ > end_) end_ = head_ + used_;
    }
    // Puts n bytes in front of the content; false (nothing changed) when the
    // headroom left is too small.
    bool prepend(const void* p, std::size_t n) {
        if (n > head_) return false;
        head_ -= n;
        copy_bytes(base_ + head_, p, n);
        used_ += n;
        return true;
    }

    // The whole area of size() bytes, zero past used().
    const unsigned char* data() const {
        const std::size_t from = zeroed_ > head_ + used_ ? zeroed_ : head_ + used_;
        if (from < end_) std::memset(base_ + from, 0, end_ - from);
        zeroed_ = end_;
        return base_ + head_;
    }
    // The used() bytes of content, as they are sent.
    const unsigned char* content() const { return base_ + head_; }
    std::size_t used() const { return used_; }
    std::size_t size() const { return end_ - head_; }

private:
    // Where n more bytes go, after growing by `growth` when they do not fit.
    ORQ_ALWAYS_INLINE unsigned char* room(std::size_t n, std::size_t growth) {
        if (used_ + n > end_ - head_) grow(growth);
        return base_ + head_ + used_;
    }
    ORQ_NOINLINE void grow(std::size_t growth) {
        end_ += growth;
        if (end_ > (heap_ ? heap_size_ : kInlineSize)) move_to_heap(end_);
    }
    // Heap storage of at least `need` bytes (and of end_), at least twice the
    // storage before, with the content copied over; nothing else is written.
    void move_to_heap(std::size_t need = 0) {
        std::size_t n = heap_ ? 2 * heap_size_ : 2 * kInlineSize;
        if (n < need) n = need;
        if (n < end_) n = end_;
        std::unique_ptr<unsigned char[]> bigger(new unsigned char[n]);
        if (used_) std::memcpy(bigger.get() + head_, base_ + head_, used_);
        heap_ = std::move(bigger);
        heap_size_ = n;
        base_ = heap_.get();
        if (zeroed_ > head_ + used_) zeroed_ = head_ + used_;  // the new storage is not zeroed
    }

    unsigned char inline_[kInlineSize];
    std::unique_ptr<unsigned char[]> heap_;  // null while the content is inline
    std::size_t heap_size_ = 0;              // bytes at heap_
    unsigned char* base_;                    // inline_ or heap_'s bytes
    std::size_t head_;            // offset of the content's first byte
    std::size_t end_;             // offset one past the area's last byte
    std::size_t used_ = 0;
    mutable std::size_t zeroed_;  // bytes from here to end_ may not be zero yet
};

// Reads little-endian fields from a reply without ever passing its end.
// Every read returns false (and reads nothing) when the bytes are not there.
class Reader {
public:
    Reader(const void* p, std::size_t n) : p_(static_cast<const unsigned char*>(p)), n_(n) {}

    std::size_t remaining() const { return n_ - pos_; }
    std::size_t position() const { return pos_; }
    const unsigned char* here() const { return p_ + pos_; }

    bool skip(std::size_t k) {
        if (k > remaining()) return false;
        pos_ += k;
        return true;
    }
    bool int32(int32_t* v) {
        if (remaining() < 4) return false;
        *v = get_le32(p_ + pos_);
        pos_ += 4;
        return true;
    }
    bool int16(int16_t* v) {
        if (remaining() < 2) return false;
        *v = get_le16(p_ + pos_);
        pos_ += 2;
        return true;
    }
    bool byte(uint8_t* v) {
        if (remaining() < 1) return false;
        *v = p_[pos_++];
        return true;
    }
    bool bytes(void* out, std::size_t k) {
        if (k > remaining()) return false;
        if (k) std::memcpy(out, p_ + pos_, k);
        pos_ += k;
        return true;
    }
    // A NUL-terminated string into a fixed field of `field_size` bytes
    // (NUL included). False when no NUL comes before the end of the data or
    // when the string does not fit the field; nothing is consumed then.
    bool cstring(char* field, std::size_t field_size) {
        const void* nul = std::memchr(p_ + pos_, 0, remaining());
        if (!nul) return false;
        std::size_t len = static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - (p_ + pos_));
        if (len + 1 > field_size) return false;
        std::memcpy(field, p_ + pos_, len + 1);
        pos_ += len + 1;
        return true;
    }

private:
    const unsigned char* p_;
    std::size_t n_;
    std::size_t pos_ = 0;
};

}  // namespace orq

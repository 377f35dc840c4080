// Byte buffer in which requests are assembled, little-endian helpers, and a
// bounded reader for replies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace orq {

inline void put_le32(unsigned char* p, int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    p[0] = static_cast<unsigned char>(u);
    p[1] = static_cast<unsigned char>(u >> 8);
    p[2] = static_cast<unsigned char>(u >> 16);
    p[3] = static_cast<unsigned char>(u >> 24);
}
inline void put_le16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
inline int32_t get_le32(const unsigned char* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                                (static_cast<uint32_t>(p[2]) << 16) |
                                (static_cast<uint32_t>(p[3]) << 24));
}
inline int16_t get_le16(const unsigned char* p) {
    return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}

// Growable request area. `size` bytes are allocated and zero past `used`;
// only the first `used` bytes are sent. Growth steps are fixed: +128 for a
// byte or an int32, +n+128 for a string of n bytes with its NUL, +n+256 for a
// raw block of n bytes.
class ByteBuffer {
public:
    static constexpr std::size_t kInitialSize = 1024;

    ByteBuffer() : data_(kInitialSize, 0) {}
    // A buffer with `headroom` spare bytes in front of its start, so that a
    // short header can later be put before the content without a copy.
    explicit ByteBuffer(std::size_t headroom) : data_(headroom + kInitialSize, 0), head_(headroom) {}

    void append_byte(uint8_t b) {
        reserve_for(1, 128);
        data_[head_ + used_++] = b;
    }
    void append_int32(int32_t v) {
        reserve_for(4, 128);
        put_le32(&data_[head_ + used_], v);
        used_ += 4;
    }
    // The string's bytes and its NUL; a null string adds nothing at all.
    void append_string(const char* s) {
        if (!s) return;
        std::size_t n = std::strlen(s) + 1;
        reserve_for(n, n + 128);
        std::memcpy(&data_[head_ + used_], s, n);
        used_ += n;
    }
    void append_block(const void* p, std::size_t n) {
        reserve_for(n, n + 256);
        if (n) std::memcpy(&data_[head_ + used_], p, n);
        used_ += n;
    }
    // Puts n bytes in front of the content; false (nothing changed) when the
    // headroom left is too small.
    bool prepend(const void* p, std::size_t n) {
        if (n > head_) return false;
        head_ -= n;
        if (n) std::memcpy(&data_[head_], p, n);
        used_ += n;
        return true;
    }

    const unsigned char* data() const { return data_.data() + head_; }
    std::size_t used() const { return used_; }
    std::size_t size() const { return data_.size() - head_; }

private:
    void reserve_for(std::size_t n, std::size_t growth) {
        if (used_ + n > size()) data_.resize(data_.size() + growth, 0);
    }
    std::vector<unsigned char> data_;
    std::size_t head_ = 0;
    std::size_t used_ = 0;
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

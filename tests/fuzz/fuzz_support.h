// Shared pieces of the fuzz targets: a front-to-back reader over the input
// (so that seed files are easy to write by hand), caller buffers fenced by
// guard bytes, and a check that stops the run with a message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#define ORQ_FUZZ_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define ORQ_FUZZ_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#endif
#endif
#ifndef ORQ_FUZZ_POISON
#define ORQ_FUZZ_POISON(p, n) ((void)(p), (void)(n))
#define ORQ_FUZZ_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace fuzzsupport {

// Ends the run (libFuzzer keeps the input as a crash) when a property fails.
#define FUZZ_CHECK(cond, ...)                                                       \
    do {                                                                            \
        if (!(cond)) {                                                              \
            std::fprintf(stderr, "%s:%d: check failed: %s: ", __FILE__, __LINE__, #cond); \
            std::fprintf(stderr, __VA_ARGS__);                                      \
            std::fprintf(stderr, "\n");                                             \
            std::abort();                                                           \
        }                                                                           \
    } while (0)

// Reads the input from the front; past the end every read gives zeros.
class Input {
public:
    Input(const uint8_t* p, std::size_t n) : p_(p), n_(n) {}
    std::size_t left() const { return n_ - pos_; }
    uint8_t u8() { return pos_ < n_ ? p_[pos_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
    uint32_t u32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(u8()) << (8 * i);
        return v;
    }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    // A block of up to `max` bytes: u16 length, then the bytes.
    std::string block(std::size_t max) {
        std::size_t n = u16();
        if (n > max) n = max;
        if (n > left()) n = left();
        std::string s(reinterpret_cast<const char*>(p_ + pos_), n);
        pos_ += n;
        return s;
    }
    std::string rest() {
        std::string s(reinterpret_cast<const char*>(p_ + pos_), n_ - pos_);
        pos_ = n_;
        return s;
    }

private:
    const uint8_t* p_;
    std::size_t n_;
    std::size_t pos_ = 0;
};

// A caller buffer of `size` bytes with guard bytes on both sides. Under
// AddressSanitizer the guards are poisoned, so a stray write is reported at
// the instruction that makes it; the pattern check catches it otherwise.
class Fenced {
public:
    static constexpr std::size_t kGuard = 64;
    static constexpr unsigned char kPattern = 0xA5;
    explicit Fenced(std::size_t size, unsigned char fill = 0x5A)
        : size_(size), mem_(size + 2 * kGuard, kPattern) {
        std::memset(mem_.data() + kGuard, fill, size);
        ORQ_FUZZ_POISON(mem_.data(), kGuard);
        ORQ_FUZZ_POISON(mem_.data() + kGuard + size, kGuard);
    }
    ~Fenced() { unpoison(); }
    Fenced(const Fenced&) = delete;
    Fenced& operator=(const Fenced&) = delete;

    unsigned char* data() { return mem_.data() + kGuard; }
    std::size_t size() const { return size_; }
    template <class T>
    T* as() { return reinterpret_cast<T*>(data()); }
    // True when both guards still hold their pattern.
    bool intact() {
        unpoison();
        for (std::size_t i = 0; i < kGuard; ++i)
            if (mem_[i] != kPattern || mem_[kGuard + size_ + i] != kPattern) return false;
        return true;
    }

private:
    void unpoison() { ORQ_FUZZ_UNPOISON(mem_.data(), mem_.size()); }
    std::size_t size_;
    std::vector<unsigned char> mem_;
};

// An int32 in-out value (a length or a count) behind guards.
class FencedInt {
public:
    explicit FencedInt(int32_t v) : f_(sizeof(int32_t)) { set(v); }
    int32_t* ptr() { return f_.as<int32_t>(); }
    int32_t get() { int32_t v; std::memcpy(&v, f_.data(), sizeof v); return v; }
    void set(int32_t v) { std::memcpy(f_.data(), &v, sizeof v); }
    bool intact() { return f_.intact(); }

private:
    Fenced f_;
};

}  // namespace fuzzsupport

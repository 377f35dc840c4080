// Measuring the caller's NUL-terminated texts (module names, the arguments
// of the text services, the texts of an STM item list) without a library
// call, on the per-call paths.
//
// The scans read more than the text: whole aligned blocks of 16 bytes with
// SSE2, whole aligned machine words without it (the 32-bit Windows DLL,
// other processors). That is safe because memory is made readable a page at
// a time and an aligned block or word never crosses a page: whenever the
// text's NUL is readable, so is the aligned block or word that holds it, and
// no scan reads past that one. The bytes read past the NUL are never used.
//
// What the language and the tools see is another matter, and each scan
// deals with it where it starts:
//  - The compiler may know the object a text lies in (a string literal) and
//    warn about, or draw conclusions from, a read past its end: an empty asm
//    statement at the start of each scan tells it nothing of the pointer.
//  - AddressSanitizer and ThreadSanitizer would report the reads past the
//    NUL. Their builds run the same scans (so that the sanitized tests and
//    the fuzz targets cover the code that ships), out of line and with the
//    checks off in the scans alone: ORQ_SCAN.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/bytes.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define ORQ_TEXT_SCAN_SSE2 1
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORQ_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ORQ_SANITIZED 1
#endif
#endif

// On each scan: inlined; in sanitized builds out of line with the
// sanitizers' checks off (a function without them inlined into one with
// them would be checked after all).
#if defined(ORQ_SANITIZED)
#define ORQ_SCAN __attribute__((noinline, no_sanitize("address", "thread")))
#else
#define ORQ_SCAN ORQ_ALWAYS_INLINE
#endif


namespace orq {

#if ORQ_TEXT_SCAN_SSE2
// The 16-byte blocks: the offset of p in its aligned block, where that block
// starts, the block at an aligned address, and a bit for each of its zero
// bytes.
ORQ_ALWAYS_INLINE inline unsigned block_offset(const char* p) {
    return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p) & 15);
}
ORQ_ALWAYS_INLINE inline const char* block_start(const char* p) {
    return reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(p) & ~std::uintptr_t{15});
}
ORQ_ALWAYS_INLINE inline __m128i load_block(const char* aligned) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(aligned));
}
ORQ_ALWAYS_INLINE inline unsigned nul_bits(__m128i v) {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())));
}
#endif

// The offset of the first NUL of s, looked for a machine word at a time:
// byte by byte up to the first aligned word, then aligned words only;
// `limit` or more when there is none before `limit`.
ORQ_SCAN inline std::size_t find_nul_words(const char* s, std::size_t limit) {
    using Word = std::size_t;
    constexpr Word kOnes = ~Word{0} / 0xFF;  // 0x01 in every byte
    constexpr Word kHighs = kOnes << 7;      // 0x80 in every byte
    ORQ_OPAQUE(s);
    std::size_t i = 0;
    for (; (reinterpret_cast<std::uintptr_t>(s + i) & (sizeof(Word) - 1)) != 0; ++i)
        if (i == limit || s[i] == 0) return i;
    for (;; i += sizeof(Word)) {  // s + i is aligned
        if (i >= limit) return i;
        Word w;
        std::memcpy(&w, s + i, sizeof w);
        if ((w - kOnes) & ~w & kHighs) break;  // w holds a zero byte
    }
    while (s[i] != 0) ++i;
    return i;
}

// strlen, a machine word at a time.
ORQ_ALWAYS_INLINE inline std::size_t text_length_words(const char* s) {
    return find_nul_words(s, ~std::size_t{0});
}

// strlen without a library call for the short texts: 16-byte blocks with
// SSE2, machine words otherwise. The NUL is looked for aligned block by
// aligned block, the first block's bytes before s masked off. A text longer
// than a few blocks is measured on by the library's strlen (wider vectors, a
// quarter of the instructions on a long text), from an aligned block of the
// text.
ORQ_SCAN inline std::size_t text_length(const char* s) {
#if ORQ_TEXT_SCAN_SSE2
    ORQ_OPAQUE(s);
    const unsigned skip = block_offset(s);
    const char* block = block_start(s);
    unsigned nul = nul_bits(load_block(block)) >> skip;
    if (nul) return static_cast<unsigned>(__builtin_ctz(nul));
    for (int i = 0; i < 7; ++i) {
        block += 16;
        nul = nul_bits(load_block(block));
        if (nul) return static_cast<std::size_t>(block - s) + static_cast<unsigned>(__builtin_ctz(nul));
    }
    block += 16;
    return static_cast<std::size_t>(block - s) + std::strlen(block);
#else
    return text_length_words(s);
#endif
}

// copy_text a machine word at a time: the text is measured, then copied.
ORQ_ALWAYS_INLINE inline bool copy_text_words(unsigned char* to, const char* s, std::size_t room,
                                              std::size_t* n) {
    const std::size_t i = find_nul_words(s, room);
    if (i >= room) return false;
    *n = i;
    copy_bytes(to, s, i);
    return true;
}

// Measures a NUL-terminated text while copying it: the bytes of s before its
// NUL go to `to`, where `room` bytes may be written, and *n gets their count
// when it is below room (to[*n] is left for the caller's NUL). False when
// the text was not copied: it has room bytes or more, or is too close to
// them for the block-wise copy. Bytes of `to` past *n may be overwritten,
// up to `room`.
//
// With SSE2, the one unaligned read, of the text's first 16 bytes, is made
// only once the first aligned block is known to hold no NUL (it then reaches
// no further than the second); every later block is read aligned and stored
// whole, the last one no further than `room`.
//
// A short text (a module name) copied as the aligned block that holds its
// start: when that block holds the NUL too, it is stored whole at
// to - (the text's offset in the block), so that the text and its NUL lie at
// `to`, and *n gets the text's length. `to` needs 15 writable bytes in front
// and 16 from it on; the bytes around the text are the block's. False (and
// nothing written) otherwise, and always without SSE2.
ORQ_SCAN inline bool copy_text_in_block(unsigned char* to, const char* s, std::size_t* n) {
#if ORQ_TEXT_SCAN_SSE2
    ORQ_OPAQUE(s);
    const unsigned skip = block_offset(s);
    const __m128i block = load_block(block_start(s));
    const unsigned nul = nul_bits(block) >> skip;
    if (!nul) return false;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to - skip), block);
    *n = static_cast<unsigned>(__builtin_ctz(nul));
    return true;
#else
    (void)to, (void)s, (void)n;
    return false;
#endif
}

// kWhole false: copy_short_text below.
template <bool kWhole>
ORQ_SCAN inline bool copy_text_blocks(unsigned char* to, const char* s, std::size_t room,
                                      std::size_t* n) {
#if ORQ_TEXT_SCAN_SSE2
    if (room >= 16) {
        ORQ_OPAQUE(s);
        const unsigned skip = block_offset(s);  // bytes of the first aligned block before s
        unsigned nul = nul_bits(load_block(block_start(s))) >> skip;
        if (nul) {
            *n = static_cast<unsigned>(__builtin_ctz(nul));
            copy_bytes(to, s, *n);
            return true;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(s)));
        const std::size_t last = room - 16;  // the last offset a block may be stored at
        std::size_t off = 16 - skip;         // s + off is aligned
        // Seven blocks at most here: the last one this loop stores.
        const std::size_t until = off + 6 * 16 < last ? off + 6 * 16 : last;
        for (; off <= until; off += 16) {
            const __m128i v = load_block(s + off);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + off), v);
            nul = nul_bits(v);
            if (nul) {
                *n = off + static_cast<unsigned>(__builtin_ctz(nul));
                return true;
            }
        }
        // A long text: measured on and copied by the library (wider vectors,
        // a quarter of the instructions), never past the room.
        if (off > last || !kWhole) return false;
        const std::size_t k = strnlen(s + off, room - off);
        if (k == room - off) return false;
        std::memcpy(to + off, s + off, k);
        *n = off + k;
        return true;
    }
    // Less room than a block: measured by the library, up to the room.
    *n = strnlen(s, room);
    if (*n == room) return false;
    std::memcpy(to, s, *n);
    return true;
#else
    return copy_text_words(to, s, room, n);  // measures before it copies anyway
#endif
}
ORQ_ALWAYS_INLINE inline bool copy_text(unsigned char* to, const char* s, std::size_t room,
                                        std::size_t* n) {
    return copy_text_blocks<true>(to, s, room, n);
}

// copy_text that copies short texts only: a text the blocks do not finish
// (longer than 112 to 128 bytes, as it is aligned) is not copied either,
// whatever the room. For a caller that measures long texts with strlen and
// copies them once their room is set aside, so that none is measured twice.
ORQ_ALWAYS_INLINE inline bool copy_short_text(unsigned char* to, const char* s, std::size_t room,
                                              std::size_t* n) {
    return copy_text_blocks<false>(to, s, room, n);
}

}  // namespace orq

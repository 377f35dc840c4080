// For the few small functions on the per-call paths that the compiler would
// otherwise leave as calls, and for the rare paths kept out of them.
#pragma once

#if defined(__GNUC__)
#define ORQ_ALWAYS_INLINE __attribute__((always_inline))
#define ORQ_NOINLINE __attribute__((noinline))
#else
#define ORQ_ALWAYS_INLINE
#define ORQ_NOINLINE
#endif

// The compiler is told nothing of the object p points into: it neither warns
// about nor draws conclusions from the moves of a branch that a short object
// could not take (see copy_bytes), or a read past a text's NUL that stays in
// its aligned block (core/text_scan.h).
#if defined(__GNUC__)
#define ORQ_OPAQUE(p) asm("" : "+r"(p))
#else
#define ORQ_OPAQUE(p) ((void)0)
#endif

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

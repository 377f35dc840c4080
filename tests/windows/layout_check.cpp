// C++ side of layout_check.c: the 32-bit layout checks of orqext.h are active.
#include "exports/orqext.h"

#if !defined(UINTPTR_MAX) || UINTPTR_MAX != 0xFFFFFFFFu
#error "orqext.h: the 32-bit record layout checks are not active in this build"
#endif

extern "C" {
int orqext_layout_checked_in_cpp = 1;
}

/* The record layout checks in orqext.h that hold only where pointers are 32
 * bits wide are guarded by UINTPTR_MAX. This file makes sure the guard is
 * true in the Windows build, for C (here) and C++ (layout_check.cpp), so the
 * checks cannot silently switch off. */
#include "exports/orqext.h"

#if !defined(UINTPTR_MAX) || UINTPTR_MAX != 0xFFFFFFFFu
#error "orqext.h: the 32-bit record layout checks are not active in this build"
#endif

/* One definition so that the translation unit is not empty. */
int orqext_layout_checked_in_c = 1;

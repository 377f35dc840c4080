/* Included by layout_check.c and layout_check.cpp after orqext.h, so the
 * same checks run in C and in C++.
 *
 * The record layout checks in orqext.h cover 4-byte and 8-byte pointers and
 * pick their values by UINTPTR_MAX. Here the Windows build makes sure it is
 * one of the two (32-bit Windows: 4-byte pointers; 64-bit Windows: 8-byte),
 * so the header's checks cannot silently switch off. And `long` has 32 bits
 * on both (ILP32, LLP64): the records use int32_t, never long, and the
 * library's number parsing takes long's width into account. */
#ifndef ORQ_TESTS_WINDOWS_LAYOUT_CHECK_H
#define ORQ_TESTS_WINDOWS_LAYOUT_CHECK_H

#include <limits.h>

#if !defined(_WIN32)
#error "layout_check: built for a target that is not Windows"
#endif

#if defined(_WIN64)
#if !defined(UINTPTR_MAX) || UINTPTR_MAX != 0xFFFFFFFFFFFFFFFFu
#error "orqext.h: the 64-bit record layout checks are not active in this build"
#endif
#else
#if !defined(UINTPTR_MAX) || UINTPTR_MAX != 0xFFFFFFFFu
#error "orqext.h: the 32-bit record layout checks are not active in this build"
#endif
#endif

#if LONG_MAX != 0x7FFFFFFFL
#error "long is not 32 bits wide on this Windows target"
#endif

/* The login record ORQExtClient hands to XSR_OpenConn is the server
 * library's: the same 112 bytes on both targets. */
#include "xsr/xsrclient.h"
#ifdef __cplusplus
#define ORQ_XSR_LAYOUT(tag, cond) static_assert(cond, "XSR_Login layout: " #tag)
#else
#define ORQ_XSR_LAYOUT(tag, cond) typedef char orq_xsr_layout_##tag[(cond) ? 1 : -1]
#endif
ORQ_XSR_LAYOUT(size, sizeof(XSR_Login) == 112);
ORQ_XSR_LAYOUT(user, offsetof(XSR_Login, user) == 0);
ORQ_XSR_LAYOUT(password, offsetof(XSR_Login, password) == 64);
ORQ_XSR_LAYOUT(server, offsetof(XSR_Login, server) == 96);
#undef ORQ_XSR_LAYOUT

#endif

/* The records of orqext.h and the login record of xsrclient.h measured at
 * run time: sizes, array strides and field offsets taken from objects of
 * this build, against the layouts for 4-byte and 8-byte pointers written out
 * here, apart from the header's own build-time checks. Included by
 * layout_run.c and layout_run.cpp, so that C and C++ callers are both
 * checked; in the 32-bit Linux build they run as 32-bit code under the
 * emulator.
 *
 *   layout_run_c WIDTH, layout_run_cpp WIDTH
 *
 * WIDTH is the build's pointer width in bytes (4 or 8): a program built for
 * another width fails instead of checking the other table. Exit 0 when
 * every value matches, 1 (with each mismatch on standard error) otherwise. */
#ifndef ORQ_TESTS_LAYOUT_RECORD_LAYOUT_H
#define ORQ_TESTS_LAYOUT_RECORD_LAYOUT_H

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "exports/orqext.h"
#include "xsr/xsrclient.h"

static int orq_layout_width;
static int orq_layout_checked;
static int orq_layout_failed;

static void orq_layout_expect(const char* what, size_t measured, size_t with4, size_t with8) {
    const size_t want = orq_layout_width == 4 ? with4 : with8;
    ++orq_layout_checked;
    if (measured != want) {
        fprintf(stderr, "%s: %u bytes, expected %u with %d-byte pointers\n", what, (unsigned)measured,
                (unsigned)want, orq_layout_width);
        ++orq_layout_failed;
    }
}

/* The size of a record and the distance between two records of an array. */
#define ORQ_RECORD(T, with4, with8)                                                                \
    do {                                                                                           \
        T two_[2];                                                                                 \
        memset(two_, 0, sizeof two_);                                                              \
        orq_layout_expect("sizeof " #T, sizeof(T), with4, with8);                                  \
        orq_layout_expect(#T " array stride", (size_t)((const char*)&two_[1] - (const char*)&two_[0]), \
                          with4, with8);                                                           \
    } while (0)
/* The offset of a field, from the field's address in a record. */
#define ORQ_FIELD(T, field, with4, with8)                                                          \
    do {                                                                                           \
        T one_;                                                                                    \
        memset(&one_, 0, sizeof one_);                                                             \
        orq_layout_expect(#T "." #field, (size_t)((const char*)&one_.field - (const char*)&one_),  \
                          with4, with8);                                                           \
    } while (0)

static int orq_layout_run(const char* language, int argc, char** argv) {
    const int width = argc == 2 ? atoi(argv[1]) : 0;
    if (width != 4 && width != 8) {
        fprintf(stderr, "usage: layout_run_%s 4|8 (the build's pointer width)\n", language);
        return 2;
    }
    if (sizeof(void*) != (size_t)width) {
        fprintf(stderr, "built with %u-byte pointers, the build says %d\n", (unsigned)sizeof(void*), width);
        return 1;
    }
    orq_layout_width = width;

    /* Alike on every platform. */
    ORQ_RECORD(ClusterInfo, 432, 432);
    ORQ_FIELD(ClusterInfo, name, 0, 0);
    ORQ_FIELD(ClusterInfo, tag, 256, 256);
    ORQ_FIELD(ClusterInfo, attr_a, 272, 272);
    ORQ_FIELD(ClusterInfo, attr_b, 304, 304);
    ORQ_RECORD(NodeInfo, 344, 344);
    ORQ_FIELD(NodeInfo, server, 0, 0);
    ORQ_FIELD(NodeInfo, port, 20, 20);
    ORQ_FIELD(NodeInfo, user, 24, 24);
    ORQ_FIELD(NodeInfo, pass, 152, 152);
    ORQ_FIELD(NodeInfo, attr, 216, 216);
    ORQ_RECORD(StmOptionPair, 8, 8);
    ORQ_FIELD(StmOptionPair, value, 0, 0);
    ORQ_FIELD(StmOptionPair, flag, 4, 4);
    ORQ_RECORD(StmClassifierOptions, 12, 12);
    ORQ_FIELD(StmClassifierOptions, value1, 0, 0);
    ORQ_FIELD(StmClassifierOptions, value2, 4, 4);
    ORQ_FIELD(StmClassifierOptions, flag, 8, 8);
    ORQ_RECORD(StmClusterShutdownArgs, 272, 272);
    ORQ_FIELD(StmClusterShutdownArgs, value1, 0, 0);
    ORQ_FIELD(StmClusterShutdownArgs, value2, 4, 4);
    ORQ_FIELD(StmClusterShutdownArgs, value3, 8, 8);
    ORQ_FIELD(StmClusterShutdownArgs, value4, 12, 12);
    ORQ_FIELD(StmClusterShutdownArgs, name, 16, 16);
    ORQ_RECORD(StmVsmOptions, 12, 12);
    ORQ_FIELD(StmVsmOptions, flag, 0, 0);
    ORQ_FIELD(StmVsmOptions, value1, 4, 4);
    ORQ_FIELD(StmVsmOptions, value2, 8, 8);
    ORQ_RECORD(XSR_Login, 112, 112);
    ORQ_FIELD(XSR_Login, user, 0, 0);
    ORQ_FIELD(XSR_Login, password, 64, 64);
    ORQ_FIELD(XSR_Login, server, 96, 96);

    /* With pointers: these follow the pointer width. */
    ORQ_RECORD(KwfsItem, 12, 24);
    ORQ_FIELD(KwfsItem, text1, 0, 0);
    ORQ_FIELD(KwfsItem, value, 4, 8);
    ORQ_FIELD(KwfsItem, text2, 8, 16);
    ORQ_RECORD(KwfsOptions, 8, 16);
    ORQ_FIELD(KwfsOptions, value, 0, 0);
    ORQ_FIELD(KwfsOptions, text, 4, 8);
    ORQ_RECORD(StmTextItem, 12, 16);
    ORQ_FIELD(StmTextItem, id, 0, 0);
    ORQ_FIELD(StmTextItem, length, 4, 4);
    ORQ_FIELD(StmTextItem, text, 8, 8);
    ORQ_RECORD(EztcTextFields, 24, 48);
    ORQ_FIELD(EztcTextFields, text1, 0, 0);
    ORQ_FIELD(EztcTextFields, text2, 4, 8);
    ORQ_FIELD(EztcTextFields, text3, 8, 16);
    ORQ_FIELD(EztcTextFields, text4, 12, 24);
    ORQ_FIELD(EztcTextFields, text5, 16, 32);
    ORQ_FIELD(EztcTextFields, text6, 20, 40);
    ORQ_RECORD(BsmTextFields, 32, 64);
    ORQ_FIELD(BsmTextFields, text1, 0, 0);
    ORQ_FIELD(BsmTextFields, text2, 4, 8);
    ORQ_FIELD(BsmTextFields, text3, 8, 16);
    ORQ_FIELD(BsmTextFields, text4, 12, 24);
    ORQ_FIELD(BsmTextFields, text5, 16, 32);
    ORQ_FIELD(BsmTextFields, text6, 20, 40);
    ORQ_FIELD(BsmTextFields, text7, 24, 48);
    ORQ_FIELD(BsmTextFields, text8, 28, 56);

    printf("record layouts (%s, %d-byte pointers): %d values checked, %d wrong\n", language, width,
           orq_layout_checked, orq_layout_failed);
    return orq_layout_failed == 0 ? 0 : 1;
}

#endif

// Exports met by a failed allocation: the failure is reported as -1100 and
// nothing is sent; no C++ exception reaches the caller.
//
// This executable's global operator new fails on request for the calling
// thread only (the replacement serves the whole program, so it stays a plain
// malloc otherwise).
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "exports/orqext.h"
#include "tests/support/fixture.h"

namespace {
thread_local bool t_fail_allocations = false;
thread_local int t_fail_next = 0;  // fail this many allocations from now on
}  // namespace

void* test_allocate(std::size_t n) {
    if (t_fail_allocations) throw std::bad_alloc();
    if (t_fail_next > 0) {
        --t_fail_next;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}

#include "tests/support/replaced_new.h"

using namespace xsrdouble;

namespace {

// Makes every allocation on this thread fail while it lives.
struct NoMemory {
    NoMemory() { t_fail_allocations = true; }
    ~NoMemory() { t_fail_allocations = false; }
};

using AllocFailureTest = testing_support::LibraryTest;

// Each call allocates before it sends anything: the message path creates the
// handle's registry record, ExecSql copies the connect string.
TEST_F(AllocFailureTest, MessagesAndStatementsReportMinus1100AndSendNothing) {
    char answer[8];
    int32_t len = sizeof answer;
    struct Case {
        const char* what;
        int32_t (*call)(char*, int32_t*);
    };
    const Case cases[] = {
        {"SendMessage",
         [](char* a, int32_t* l) { return ORQExt_SendMessage(5, "M", nullptr, "x", 1, a, l); }},
        {"SendMessageTimeOut",
         [](char* a, int32_t* l) {
             return ORQExt_SendMessageTimeOut(6, "M", nullptr, "x", 1, a, l, 10, 1);
         }},
        {"ExecSql",
         [](char*, int32_t*) { return ORQExt_ExecSql("server=h;port=1;user=u;pass=p", "s"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int32_t rc = 0;
        bool escaped = false;
        {
            NoMemory no_memory;
            try {
                rc = c.call(answer, &len);
            } catch (...) {
                escaped = true;
            }
        }
        EXPECT_FALSE(escaped) << "an exception crossed the export";
        if (!escaped) {
            EXPECT_EQ(rc, -1100);
        }
        EXPECT_EQ(len, static_cast<int32_t>(sizeof answer)) << "the length is left alone";
    }
    EXPECT_TRUE(calls().empty()) << "nothing was opened or sent";

    // With memory back, the same calls go through.
    EXPECT_EQ(ORQExt_SendMessage(5, "M", nullptr, "x", 1, answer, &len), 0);
    EXPECT_EQ(ORQExt_ExecSql("server=h;port=1;user=u;pass=p", "s"), 0);
    EXPECT_EQ(count(Fn::Command), 2u);
}

// The connection is open on the server when registering it fails: it must be
// closed again rather than left open and unknown to the library.
TEST_F(AllocFailureTest, ConnectClosesAConnectionItCannotRegister) {
    set_after_open([] { t_fail_next = 1; });  // the registry's allocation fails
    int32_t status = 0;
    int32_t handle = 7;
    bool escaped = false;
    try {
        handle = ORQExt_Connect("srv", 7300, "u", "p", &status);
    } catch (...) {
        escaped = true;
    }
    set_after_open(nullptr);
    t_fail_next = 0;
    ASSERT_FALSE(escaped) << "an exception crossed the export";
    EXPECT_EQ(status, -1100);
    EXPECT_EQ(handle, 0);
    ASSERT_EQ(count(Fn::Open), 1u);
    auto closes = calls_of(Fn::Close);
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(closes[0].handle, calls_of(Fn::Open)[0].handle);
    EXPECT_TRUE(open_handles().empty());
    EXPECT_EQ(orq::registry::count(), 0);
}

}  // namespace

// Exports met by a failed allocation: the failure is reported as -1100 and
// nothing is sent; no C++ exception reaches the caller. And every export
// family with its Nth allocation failed, for every N the call makes.
//
// This executable's global operator new fails on request for the calling
// thread only (the replacement serves the whole program, so it stays a plain
// malloc otherwise). Allocations inside the XSRClient double are never
// failed: they are the test's, not the library's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>

#include "core/bytes.h"
#include "core/lifecycle.h"
#include "core/message.h"
#include "exports/orqext.h"
#include "tests/support/fixture.h"

namespace {
thread_local bool t_fail_allocations = false;
thread_local int t_fail_next = 0;  // fail this many allocations from now on
thread_local int t_in_double = 0;  // inside an XSR_ function of the double
thread_local int t_fail_at = 0;    // fail the allocation with this number (0: none)
thread_local int t_counted = 0;    // allocations numbered since armed
}  // namespace

void* test_allocate(std::size_t n) {
    if (t_in_double == 0) {
        if (t_fail_allocations) throw std::bad_alloc();
        if (t_fail_next > 0) {
            --t_fail_next;
            throw std::bad_alloc();
        }
        if (t_fail_at > 0 && ++t_counted == t_fail_at) throw std::bad_alloc();
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

// --- every export family, the Nth allocation failed -------------------------
//
// Small requests and replies are built and received without the heap, so
// each row that would otherwise allocate nothing sends an input over the
// inline areas (kLong) or offers a reply area over them: its message is then built on the heap
// (send_built_large), its frame moves to the heap and grows there
// (ByteBuffer), its reply area is allocated (ReplyArea). Every row has
// allocations of its own to fail and a successful normal result.

void enter_double() { ++t_in_double; }
void leave_double() { --t_in_double; }

std::string description() {
    std::string d = le32(0) + le32(1) + cstr("C") + cstr("t") + cstr("a") + cstr("b") + le32(1);
    return d + cstr("10.0.0.1") + le32(7300) + cstr("admin") + cstr("admin") + cstr("x");
}

// Over what requests and reply areas keep off the heap: a frame's inline
// bytes (the largest), the stack-built message and reply area.
static_assert(orq::ByteBuffer::kInlineSize >= orq::kStackMessage &&
                  orq::ByteBuffer::kInlineSize >= orq::ReplyArea::kInlineSize,
              "kLong is sized to the largest inline area");
const std::string kLong(orq::ByteBuffer::kInlineSize + 1000, 'w');
constexpr int32_t kLongCapacity = 5000;  // 6 x 5000 bytes of a segmentation area

// The reply the double gives every call but the cluster description.
std::string g_reply;

Reply serve(const Call& c) {
    if (c.code() == 13) return ok(description());
    return ok(g_reply);
}

void ORQEXT_CALL ignore_answer(int32_t, int32_t, const void*, int32_t) {}

// A count, two int32 entries and two int16 ones: a segmentation reply, and
// an answer that any message or module call takes.
const std::string kDefaultReply = le32(2) + le32(4) + "abcdefgh";

struct FamilyCase {
    const char* what;
    std::function<int32_t(int32_t conn)> call;
    std::string reply = kDefaultReply;
    // The normal result varies from call to call (a count of queued requests).
    bool any_non_negative = false;
    // The cluster list's reload reports a failed allocation as a description
    // it could not use (-1107) rather than -1100.
    bool reloads_cluster = false;
};

ClusterInfo cluster_key() {
    ClusterInfo c;
    std::memset(&c, 0, sizeof c);
    std::strcpy(c.name, "C");
    std::strcpy(c.tag, "t");
    return c;
}

const FamilyCase kFamilies[] = {
    // Calls that allocate nothing whatever their input (the server status,
    // a statement on a connection, the module list) share a row with one
    // that does.
    {"connect, server status and disconnect", [](int32_t) {
         int32_t st = 1;
         const int32_t h = ORQExt_Connect("srv", 7300, "u", "p", &st);
         if (st != 0) return st;
         const int32_t status = ORQExt_GetServerStatus("srv", 7300);
         if (ORQExt_DisConnect(h) != 0) return -1;
         return status;
     }},
    {"message over 4 KiB", [](int32_t c) {
         char a[64];
         int32_t n = sizeof a;
         return ORQExt_SendMessage(c, "M", "T", kLong.data(), static_cast<int32_t>(kLong.size()), a, &n);
     }},
    {"time-limited message over 4 KiB", [](int32_t c) {
         char a[300];
         int32_t n = sizeof a;
         return ORQExt_SendMessageTimeOut(c, "M", nullptr, kLong.data(),
                                          static_cast<int32_t>(kLong.size()), a, &n, 1000, 1);
     }},
    {"statement with connect string, then on a connection", [](int32_t c) {
         const int32_t rc = ORQExt_ExecSql("server=h;port=1;user=u;pass=p", "use ext M x");
         return rc != 0 ? rc : ORQExt_ExecSql2(c, "use ext M x");
     }},
    {"module registration", [](int32_t c) {
         return ORQExt_RegExtMod(c, "M", "1.0", 1, "file", "param", "desc", "deps");
     }},
    {"module start", [](int32_t c) { return ORQExt_LoadExtMod(c, "M", "1.0"); }},
    {"information on a long module name, and the module list", [](int32_t c) {
         char a[200];
         int32_t n = sizeof a;
         const int32_t rc = ORQExt_GetModInfo(c, kLong.c_str(), "S", a, &n);
         n = sizeof a;
         return rc != 0 ? rc : ORQExt_GetModInfos(c, a, &n);
     }},
    {"statement process", [](int32_t c) { return ORQExt_QuerySqlProcess(c, "use ext M cmd go k='v' text"); }},
    {"asynchronous message and cancel", [](int32_t c) {
         ORQExt_SetAsyncFunc(ignore_answer, nullptr);
         const int32_t rc = ORQExt_AsyncSendMessage(c, "M", nullptr, "x", 1, 42, 16);
         ORQExt_CancelAsync(0, 42);
         return rc;
     }, kDefaultReply, true},
    {"cluster switch and reads", [](int32_t c) {
         int32_t rc = ORQExt_EnableCluster(c, 1);
         if (rc != 0) return rc;
         ClusterInfo out[2];
         int32_t n = 2;
         rc = ORQExt_GetClusterInfo(c, out, &n);
         if (rc < 0) return rc;
         const ClusterInfo key = cluster_key();
         NodeInfo nodes[2];
         int32_t k = 2;
         const int32_t nodes_rc = ORQExt_GetNodeInfo(c, &key, nodes, &k);
         ORQExt_EnableCluster(c, 0);
         return nodes_rc < 0 ? nodes_rc : rc * 10 + nodes_rc;
     }, kDefaultReply, false, true},
    {"cluster edits", [](int32_t c) {
         const ClusterInfo key = cluster_key();
         NodeInfo node;
         std::memset(&node, 0, sizeof node);
         std::strcpy(node.server, "10.0.0.2");
         node.port = 7301;
         std::strcpy(node.user, "u");
         const int32_t rc = ORQExt_AddClusterInfo(c, &key, &node, 1);
         return rc != 0 ? rc : ORQExt_DelClusterInfo(c, &key, "why");
     }, kDefaultReply, false, true},
    {"text: segmentation of a long text into a large area", [](int32_t c) {
         static int32_t items[kLongCapacity];
         static int16_t marks[kLongCapacity];
         return ORQExt_NLPE_WordSect(c, kLong.c_str(), items, kLongCapacity, 0, 0, marks, 0, 0, 0);
     }},
    {"text: association search of a long text into a large area", [](int32_t c) {
         static char a[kLongCapacity];
         int32_t la = sizeof a, lb = 0;
         return ORQExt_AR_Search(c, kLong.c_str(), a, &la, nullptr, &lb);
     }, le32(2) + "ab"},
    {"text: keyword frequencies of two long texts", [](int32_t c) {
         const KwfsItem items[2] = {{kLong.c_str(), 1, kLong.c_str()}, {nullptr, 2, nullptr}};
         const KwfsOptions o = {3, "o"};
         return ORQExt_KWFS_Frequency(c, items, 2, &o, 5);
     }},
    {"text: classification of long fields into a large area", [](int32_t c) {
         const char* const f[7] = {kLong.c_str(), "2", "3", "4", "5", "6", "7"};
         static char a[kLongCapacity], b[16];
         int32_t la = sizeof a, lb = sizeof b, vc = 0, va = 0;
         uint8_t vb = 0;
         return ORQExt_CLA_GetClassifyResult(c, 1, f, a, &la, b, &lb, &vc, &vb, &va, 0);
     }, le32(2) + le32(4) + le32(7) + std::string(1, '\x01') + le32(9) + "ab" + "cdef"},
    {"stm: domain with a long name", [](int32_t c) {
         return ORQExt_STM_CreateDomain(c, kLong.c_str(), "a", nullptr, "c", 1);
     }},
    {"stm: classifier of a long text", [](int32_t c) {
         const StmTextItem items[1] = {{1, 0, kLong.c_str()}};
         const StmClassifierOptions o = {1, 2, 1};
         char a[64];
         int32_t n = sizeof a;
         return ORQExt_STM_TextClassifier_Do(c, 3, a, &n, items, 1, &o);
     }},
};

class AllocFailureFamiliesTest : public testing_support::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        set_call_hooks(enter_double, leave_double);
        set_handler(serve);
    }
    void TearDown() override {
        set_call_hooks(nullptr, nullptr);
        // The unload stops a worker the asynchronous case started.
        orq::lifecycle::unload();
        orq::lifecycle::load();
        LibraryTest::TearDown();
    }
};

TEST_F(AllocFailureFamiliesTest, EveryAllocationOfEveryFamilyMayFail) {
    const int32_t conn = connect();
    // Far more than any row makes: a row still allocating here never ends.
    constexpr int kCap = 500;
    for (const FamilyCase& k : kFamilies) {
        SCOPED_TRACE(k.what);
        g_reply = k.reply;
        const int32_t normal = k.call(conn);
        ASSERT_GE(normal, 0) << "the row's normal result is a success";
        int failed_points = 0;
        bool ended = false;
        for (int n = 1; n <= kCap && !ended; ++n) {
            t_counted = 0;
            t_fail_at = n;
            int32_t rc = 0;
            bool escaped = false;
            try {
                rc = k.call(conn);
            } catch (...) {
                escaped = true;
            }
            const bool reached = t_counted >= n;
            t_fail_at = 0;
            ASSERT_FALSE(escaped) << "an exception crossed the export (allocation " << n << ")";
            if (!reached) {
                // The call made fewer than n allocations: it ran untouched.
                EXPECT_TRUE(k.any_non_negative ? rc >= 0 : rc == normal) << rc;
                ended = true;
                break;
            }
            ++failed_points;
            // A count of queued requests may be any; otherwise the normal
            // result (an allocation the call can do without) or the failure.
            if (!k.any_non_negative) {
                const bool failure = rc == -1100 || (k.reloads_cluster && rc == -1107);
                EXPECT_TRUE(failure || rc == normal) << "allocation " << n << ": " << rc;
            }
        }
        EXPECT_TRUE(ended) << "still allocating after " << kCap << " failed allocations";
        EXPECT_GT(failed_points, 0) << "no allocation of this row was failed";
        // And the library works as before.
        const int32_t after = k.call(conn);
        EXPECT_TRUE(k.any_non_negative ? after >= 0 : after == normal) << after;
    }
}

}  // namespace

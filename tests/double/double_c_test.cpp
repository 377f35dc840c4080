// libXSRClientDouble through its C interface, with ORQExtClient loaded over
// it the way an application's test program has it: scripted answers reach
// the library's callers in order, the calls are recorded as sent, read-back
// keeps to its buffer contract, reset forgets everything.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "orqext.h"
#include "xsrclient_double.h"
#include "tests/support/temp_path.h"

namespace {

class DoubleC : public ::testing::Test {
protected:
    void SetUp() override {
        XSRDouble_Reset();
        int32_t status = -1;
        conn_ = ORQExt_Connect("host", 7300, "u", "p", &status);
        ASSERT_EQ(status, 0);
    }
    void TearDown() override { ORQExt_DisConnect(conn_); }

    // ORQExt_SendMessage to module "M" with payload; the answer as text.
    int32_t send(const std::string& payload, std::string* answer, int32_t capacity = 256) {
        std::string buf(static_cast<std::size_t>(capacity), '\0');
        int32_t len = capacity;
        const int32_t rc = ORQExt_SendMessage(conn_, "M", nullptr, payload.data(),
                                              static_cast<int32_t>(payload.size()), &buf[0], &len);
        // On -1107 the length is the whole answer's; the buffer holds its head.
        answer->assign(buf.data(), static_cast<std::size_t>(len < 0 ? 0 : len < capacity ? len : capacity));
        return rc;
    }

    static std::string body(int32_t index) {
        int32_t len = 0;  // asks the length
        const int32_t rc = XSRDouble_CommandBody(index, nullptr, &len);
        EXPECT_EQ(rc, len > 0 ? XSRDOUBLE_E_TOO_SMALL : XSRDOUBLE_OK);
        std::string b(static_cast<std::size_t>(len), '\0');
        EXPECT_EQ(XSRDouble_CommandBody(index, &b[0], &len), XSRDOUBLE_OK);
        return b;
    }

    int32_t conn_ = 0;
};

TEST_F(DoubleC, ScriptedSequencesReachTheCaller) {
    struct Case {
        const char* name;
        void (*script)();
        int32_t rc;
        std::string answer;
        std::vector<int32_t> codes;  // the command codes sent, in order
    } cases[] = {
        {"complete answer", [] { XSRDouble_QueueAnswer(0, "pong", 4); }, 0, "pong", {2}},
        {"empty queue: success, no bytes", [] {}, 0, "", {2}},
        {"failure with bytes", [] { XSRDouble_QueueAnswer(-20101, "why", 3); }, -20101, "why", {2}},
        {"status word", [] { XSRDouble_QueueAnswer(5, nullptr, 0); }, 5, "", {2}},
        {"pending, then the answer",
         [] {
             XSRDouble_QueuePending(3, 4);
             XSRDouble_QueueAnswer(0, "late", 4);
         },
         0, "late", {2, 4}},
        {"two parts and the last",
         [] {
             XSRDouble_QueuePart("ab", 2);
             XSRDouble_QueuePart("cd", 2);
             XSRDouble_QueueAnswer(0, "e", 1);
         },
         0, "abcde", {2, 4, 4}},
        {"pending, then a failure",
         [] {
             XSRDouble_QueuePending(1, 2);
             XSRDouble_QueueAnswer(-20003, nullptr, 0);
         },
         -20003, "", {2, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ORQExt_DisConnect(conn_);
        XSRDouble_Reset();
        int32_t status = -1;
        conn_ = ORQExt_Connect("host", 7300, "u", "p", &status);
        ASSERT_EQ(status, 0);
        c.script();
        std::string answer;
        EXPECT_EQ(send("ping", &answer), c.rc);
        if (c.rc >= 0) {
            EXPECT_EQ(answer, c.answer);
        }
        EXPECT_EQ(XSRDouble_QueuedCount(), 0);
        ASSERT_EQ(XSRDouble_CommandCount(), static_cast<int32_t>(c.codes.size()));
        for (std::size_t i = 0; i < c.codes.size(); ++i) {
            EXPECT_EQ(XSRDouble_CommandCode(static_cast<int32_t>(i)), c.codes[i]) << i;
            EXPECT_EQ(XSRDouble_CommandHandle(static_cast<int32_t>(i)), conn_) << i;
        }
        EXPECT_EQ(body(0), std::string("M\0\0ping", 7));
    }
}

TEST_F(DoubleC, PollCarriesTheQueuedTicket) {
    XSRDouble_QueuePending(0x01020304, -2);
    XSRDouble_QueueAnswer(0, "x", 1);
    std::string answer;
    ASSERT_EQ(send("p", &answer), 0);
    EXPECT_EQ(body(1), std::string("\x04\x03\x02\x01\xfe\xff\xff\xff", 8));
}

TEST_F(DoubleC, AnswerIsCutToTheCapacityOffered) {
    XSRDouble_QueueAnswer(0, "0123456789", 10);
    std::string answer;
    // The library offers at least 128 bytes; a caller's buffer of 4 then
    // gets the leading part and -1107.
    EXPECT_EQ(send("p", &answer, 4), ORQEXT_E_ANSWER_TOO_LONG);
    EXPECT_EQ(answer, "0123");
}

TEST_F(DoubleC, HeaderReadBackKeepsToTheBufferContract) {
    std::string answer;
    ASSERT_EQ(send("p", &answer), 0);
    int32_t len = 0;
    EXPECT_EQ(XSRDouble_CommandHeader(0, nullptr, &len), XSRDOUBLE_E_TOO_SMALL);
    EXPECT_EQ(len, 16);
    char small[15];
    len = sizeof small;
    EXPECT_EQ(XSRDouble_CommandHeader(0, small, &len), XSRDOUBLE_E_TOO_SMALL);
    EXPECT_EQ(len, 16);
    unsigned char h[32];
    len = sizeof h;
    ASSERT_EQ(XSRDouble_CommandHeader(0, h, &len), XSRDOUBLE_OK);
    ASSERT_EQ(len, 16);
    EXPECT_EQ(h[0] | (h[1] << 8), XSRDouble_CommandCode(0));

    struct Bad {
        int32_t index;
        void* buf;
        int32_t len;
        int32_t rc;
    } bad[] = {
        {1, h, 32, XSRDOUBLE_E_NO_CALL},
        {-1, h, 32, XSRDOUBLE_E_NO_CALL},
        {0, h, -1, XSRDOUBLE_E_ARGUMENT},
        {0, nullptr, 32, XSRDOUBLE_E_ARGUMENT},
    };
    for (const Bad& b : bad) {
        int32_t l = b.len;
        EXPECT_EQ(XSRDouble_CommandHeader(b.index, b.buf, &l), b.rc) << b.index << " " << b.len;
        EXPECT_EQ(XSRDouble_CommandBody(b.index, b.buf, &l), b.rc) << b.index << " " << b.len;
    }
    EXPECT_EQ(XSRDouble_CommandHeader(0, h, nullptr), XSRDOUBLE_E_ARGUMENT);
    EXPECT_EQ(XSRDouble_CommandCode(1), XSRDOUBLE_E_NO_CALL);
    EXPECT_EQ(XSRDouble_CommandHandle(-1), XSRDOUBLE_E_NO_CALL);
}

TEST_F(DoubleC, QueueingRefusesBytesItCannotRead) {
    EXPECT_EQ(XSRDouble_QueueAnswer(0, nullptr, 3), XSRDOUBLE_E_ARGUMENT);
    EXPECT_EQ(XSRDouble_QueueAnswer(0, "x", -1), XSRDOUBLE_E_ARGUMENT);
    EXPECT_EQ(XSRDouble_QueuePart(nullptr, 1), XSRDOUBLE_E_ARGUMENT);
    EXPECT_EQ(XSRDouble_SetOpenResult(nullptr, -1), XSRDOUBLE_E_ARGUMENT);
    EXPECT_EQ(XSRDouble_QueuedCount(), 0);
}

TEST_F(DoubleC, ResetForgetsCallsQueueAndSettings) {
    std::string answer;
    ASSERT_EQ(send("p", &answer), 0);
    XSRDouble_QueueAnswer(0, "left", 4);
    ASSERT_EQ(XSRDouble_SetOpenResult("refused", -20002), XSRDOUBLE_OK);
    int32_t status = 0;
    ORQExt_Connect("refused", 1, "u", "p", &status);
    EXPECT_EQ(status, -20002);

    ORQExt_DisConnect(conn_);
    XSRDouble_Reset();
    EXPECT_EQ(XSRDouble_CommandCount(), 0);
    EXPECT_EQ(XSRDouble_QueuedCount(), 0);
    status = -1;
    conn_ = ORQExt_Connect("refused", 1, "u", "p", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(conn_, 1001);  // handles start again
}

// A run written as a trace (docs/trace.md) from what the double recorded,
// then replayed: the recorded answer comes back for the same request, a
// changed request fails with -20013, a missing trace is refused.
TEST_F(DoubleC, ReplaysATraceOfARecordedRun) {
    XSRDouble_QueueAnswer(0, "pong", 4);
    std::string answer;
    ASSERT_EQ(send("ping", &answer), 0);
    auto hex = [](const std::string& b) {
        static const char* d = "0123456789abcdef";
        std::string h;
        for (unsigned char c : b) h += std::string{d[c >> 4], d[c & 15]};
        return h;
    };
    std::string header(16, '\0');
    int32_t hlen = 16;
    ASSERT_EQ(XSRDouble_CommandHeader(0, &header[0], &hlen), XSRDOUBLE_OK);
    const std::string head = " pid=1 tid=1 t=0 us=0 ";
    const std::string trace =
        "XT1 open seq=1" + head + "rc=0 srv=host port=7300 user=u lsrv=host h=1001\n"
        "XT1 command seq=2" + head + "rc=0 h=1001 magic=32639 hint=45000 cap=256 len=4 hdr=" + hex(header) +
        " body=" + hex(body(0)) + " nobody2=1 ans=" + hex("pong") + "\n"
        "XT1 close seq=3" + head + "rc=0 h=1001\n";
    const std::string path = testing_support::temp_path("double_c_", "replay.xt");
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(trace.data(), 1, trace.size(), f);
    std::fclose(f);

    ORQExt_DisConnect(conn_);
    XSRDouble_Reset();
    ASSERT_EQ(XSRDouble_Replay(path.c_str(), 0), XSRDOUBLE_OK);
    int32_t status = -1;
    conn_ = ORQExt_Connect("host", 7300, "u", "p", &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(send("ping", &answer), 0);
    EXPECT_EQ(answer, "pong");
    testing::internal::CaptureStderr();
    EXPECT_EQ(send("ping", &answer), -20013) << "recorded once, answered once";
    EXPECT_NE(testing::internal::GetCapturedStderr().find("\"ping\""), std::string::npos);
    std::remove(path.c_str());

    EXPECT_EQ(XSRDouble_Replay(nullptr, 0), XSRDOUBLE_E_ARGUMENT);
    testing::internal::CaptureStderr();
    EXPECT_EQ(XSRDouble_Replay(path.c_str(), 1), XSRDOUBLE_E_ARGUMENT) << "the trace is gone";
    EXPECT_NE(testing::internal::GetCapturedStderr().find(path), std::string::npos);
}

TEST(DoubleCLevel, LoadedLibraryMatchesTheHeader) {
    EXPECT_EQ(XSRDouble_ApiLevel(), XSRDOUBLE_API_LEVEL);
}

}  // namespace

// Replies of the semantic text mining calls: the domain handle of
// OpenDomain, the decimal answer of the information filter, replies copied
// into the caller's buffer, routing failures, and calls from many threads.
#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/registry.h"
#include "tests/unit/stm/stm_support.h"

using namespace stm_test;
using namespace xsrdouble;

namespace {

struct ReplyCase {
    const char* what;
    Reply reply;
    int32_t expect;
};

TEST_F(StmTest, OpenDomainReadsTheHandleFromAFourByteArea) {
    const ReplyCase cases[] = {
        {"handle 7", ok(std::string("\x07\0\0\0", 4)), 7},
        {"high bytes", ok(std::string("\x01\x02\x03\x04", 4)), 0x04030201},
        {"short reply, rest stays zero", ok(std::string("\x01\x02", 2)), 0x0201},
        {"empty reply", ok(""), 0},
        {"longer than four bytes", ok(std::string("\x07\0\0\0\0", 5)), -1107},
        {"positive status copies nothing", Reply{5, std::string("\x07\0\0\0", 4), -1}, 0},
        {"failure", fail(-2001, std::string("\x07\0\0\0", 4)), -2001},
    };
    for (const ReplyCase& k : cases) {
        SCOPED_TRACE(k.what);
        reset();
        push(k.reply);
        EXPECT_EQ(ORQExt_STM_OpenDomain(kConn, "dom"), k.expect);
        EXPECT_EQ(module_messages().size(), 1u);
    }
}

TEST_F(StmTest, InfoFilterReturnsTheDecimalReply) {
    const std::string hundred_digits(100, '7');
    const ReplyCase cases[] = {
        {"42", ok("42"), 42},
        {"x", ok("x"), 0},
        {"empty", ok(""), 0},
        {"negative", ok("-17"), -17},
        {"blanks, sign, trailing text", ok(" \t\n+8 apples"), 8},
        {"digits after NUL are not read", ok(std::string("12\0" "34", 5)), 12},
        {"int32 minimum", ok("-2147483648"), INT32_MIN},
        {"too large saturates", ok("99999999999"), INT32_MAX},
        {"too small saturates", ok("-99999999999"), INT32_MIN},
        {"fills the whole area", ok(hundred_digits), INT32_MAX},
        {"longer than the area", ok(hundred_digits + "1"), -1107},
        {"positive status copies nothing", Reply{4, "77", -1}, 0},
        {"failure", fail(-2001, "42"), -2001},
    };
    StmTextItem item{1, 0, "text"};
    for (const ReplyCase& k : cases) {
        SCOPED_TRACE(k.what);
        reset();
        push(k.reply);
        EXPECT_EQ(ORQExt_STM_InfoFilter_Do(kConn, 3, &item, 1), k.expect);
        EXPECT_EQ(module_messages().size(), 1u);
    }
}

// Every call with a caller's reply area: the reply lands in the buffer and
// the length variable says how long it was; a small buffer takes the
// leading bytes and the call gives -1107.
TEST_F(StmTest, RepliesLandInTheCallersBuffer) {
    using AreaStub = std::function<int32_t(char*, int32_t*)>;
    StmTextItem item{1, 0, "t"};
    StmClassifierOptions copt{0, 0, 0};
    StmOptionPair pair{0, 0};
    StmVsmOptions vsm{0, 0, 0};
    const std::pair<const char*, AreaStub> stubs[] = {
        {"GetDomainNameList", [](char* b, int32_t* l) { return ORQExt_STM_GetDomainNameList(kConn, b, l, 0); }},
        {"GetDomainName", [](char* b, int32_t* l) { return ORQExt_STM_GetDomainName(kConn, 1, b, l); }},
        {"TextClassifier_Do", [&](char* b, int32_t* l) { return ORQExt_STM_TextClassifier_Do(kConn, 1, b, l, &item, 1, &copt); }},
        {"KeyWordExtractor_Do", [&](char* b, int32_t* l) { return ORQExt_STM_KeyWordExtractor_Do(kConn, 1, b, l, &item, 1, &pair); }},
        {"AbstractExtractor_Do", [&](char* b, int32_t* l) { return ORQExt_STM_AbstractExtractor_Do(kConn, 1, "t", b, l, &pair, &item, 1); }},
        {"VSMGenerator_Do", [&](char* b, int32_t* l) { return ORQExt_STM_VSMGenerator_Do(kConn, 1, b, l, &item, 1, &vsm); }},
        {"VSMGenerator_GetResult", [&](char* b, int32_t* l) { return ORQExt_STM_VSMGenerator_GetResult(kConn, 1, b, l, "t", &vsm); }},
        {"Abstractor_Do", [&](char* b, int32_t* l) { return ORQExt_STM_Abstractor_Do(kConn, "t", b, l, &pair, &item, 1); }},
    };
    const std::string answer = "0123456789";
    for (const auto& s : stubs) {
        SCOPED_TRACE(s.first);
        // Fits: whole answer, length 10.
        reset();
        push(ok(answer));
        char big[200];
        std::memset(big, '-', sizeof big);
        int32_t len = sizeof big;
        EXPECT_EQ(s.second(big, &len), 0);
        EXPECT_EQ(len, 10);
        EXPECT_EQ(std::string(big, 11), answer + "-");
        auto cs = module_messages();
        ASSERT_EQ(cs.size(), 1u);
        EXPECT_EQ(cs[0].capacity, 200) << "a large buffer receives directly";

        // Too small: leading bytes, -1107, the whole length.
        reset();
        push(ok(answer));
        char small[5];
        std::memset(small, '-', sizeof small);
        len = sizeof small;
        EXPECT_EQ(s.second(small, &len), -1107);
        EXPECT_EQ(std::string(small, 5), "01234");
        EXPECT_EQ(len, 10);
    }
}

// Clustering on and no node serving "KExt_STM": nothing is sent and the
// routing failure comes back unchanged, also from the decoding calls.
TEST_F(StmTest, RoutingFailureIsReturnedUnchanged) {
    orq::settings::set_cluster_enable(true);
    StmTextItem item{1, 0, "t"};
    EXPECT_EQ(ORQExt_STM_OpenDomain(kConn, "dom"), -1203);
    EXPECT_EQ(ORQExt_STM_InfoFilter_Do(kConn, 1, &item, 1), -1203);
    EXPECT_EQ(ORQExt_STM_Similarity_Analyst(kConn, "a", "b"), -1203);
    EXPECT_TRUE(module_messages().empty());
}

// The stubs share no state: frames built on many threads at once each carry
// their own arguments.
TEST_F(StmTest, ConcurrencyFramesFromManyThreadsStayIntact) {
    constexpr int kThreads = 4;
    constexpr int kCalls = 25;
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            const std::string text(300 + t, static_cast<char>('a' + t));
            StmTextItem item{t, 0, text.c_str()};
            StmVsmOptions vsm{static_cast<uint8_t>(t), t, -t};
            for (int i = 0; i < kCalls; ++i) {
                char out[32];
                int32_t len = sizeof out;
                if (ORQExt_STM_VSMGenerator_Do(kConn, t, out, &len, &item, 1, &vsm) != 0) ++failures[t];
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << t;

    std::vector<int> seen(kThreads, 0);
    for (const Call& c : module_messages()) {
        // The thread is told by the handle, the first argument.
        const std::size_t at = stm_message(head("STM_VSMModel_Generator_Do")).size();
        ASSERT_GE(c.body.size(), at + 4);
        const int t = static_cast<unsigned char>(c.body[at]);
        ASSERT_EQ(c.body.substr(at + 1, 3), std::string(3, '\0'));
        ASSERT_LT(t, kThreads);
        const std::string text(300 + t, static_cast<char>('a' + t));
        EXPECT_EQ(c.body, stm_message(head("STM_VSMModel_Generator_Do") + le32(t) + u8(t) + le32(t) + le32(-t) +
                                      le32(32) + le32(1) + le32(t) + le32(300 + t) + text + u8(0)));
        ++seen[t];
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(seen[t], kCalls) << t;
}

}  // namespace

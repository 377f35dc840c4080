// Argument checks of the semantic text mining exports: -1100 with nothing
// sent, and item texts read exactly as far as their length or NUL says.
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/unit/stm/stm_support.h"

using namespace stm_test;
using namespace xsrdouble;

namespace {

struct Bad {
    const char* what;
    Stub call;
};

TEST_F(StmTest, UnusableArgumentsGiveMinus1100AndSendNothing) {
    char out[64];
    int32_t cap = sizeof out;
    int32_t zero = 0;
    int32_t negative = -1;
    const StmTextItem* items = sample_items();
    const StmTextItem null_text[] = {{1, 0, "ok"}, {2, 3, nullptr}};
    const StmTextItem null_text_no_length[] = {{2, 0, nullptr}};
    // Lengths that add up past what one message can carry; their texts are
    // never read because the length says how many bytes to take.
    const StmTextItem too_long[] = {{1, INT32_MAX, "x"}};
    StmClassifierOptions copt{1, 2, 3};
    StmOptionPair pair{1, 0};
    StmVsmOptions vsm{0, 1, 2};
    StmClusterShutdownArgs empty_name{1, 2, 3, 4, ""};
    StmClusterShutdownArgs unterminated{1, 2, 3, 4, {}};
    std::memset(unterminated.name, 'u', sizeof unterminated.name);

    const Bad cases[] = {
        // domains
        {"CreateDomain null name", [&] { return ORQExt_STM_CreateDomain(kConn, nullptr, "a", "b", "c", 1); }},
        {"DeleteDomain null", [&] { return ORQExt_STM_DeleteDomain(kConn, nullptr); }},
        {"GetDomainNameList null buffer", [&] { return ORQExt_STM_GetDomainNameList(kConn, nullptr, &cap, 0); }},
        {"GetDomainNameList null length", [&] { return ORQExt_STM_GetDomainNameList(kConn, out, nullptr, 0); }},
        {"GetDomainNameList capacity 0", [&] { return ORQExt_STM_GetDomainNameList(kConn, out, &zero, 1); }},
        {"GetDomainNameList capacity -1", [&] { return ORQExt_STM_GetDomainNameList(kConn, out, &negative, 1); }},
        {"OpenDomain null", [&] { return ORQExt_STM_OpenDomain(kConn, nullptr); }},
        {"OpenDomain empty", [&] { return ORQExt_STM_OpenDomain(kConn, ""); }},
        {"CloseDomain null", [&] { return ORQExt_STM_CloseDomain(kConn, nullptr); }},
        {"CloseDomain empty", [&] { return ORQExt_STM_CloseDomain(kConn, ""); }},
        {"GetDomainName null buffer", [&] { return ORQExt_STM_GetDomainName(kConn, 1, nullptr, &cap); }},
        {"GetDomainName null length", [&] { return ORQExt_STM_GetDomainName(kConn, 1, out, nullptr); }},
        {"GetDomainName capacity 0", [&] { return ORQExt_STM_GetDomainName(kConn, 1, out, &zero); }},
        {"GetDomainName capacity -1", [&] { return ORQExt_STM_GetDomainName(kConn, 1, out, &negative); }},
        {"GetDomainHandle null", [&] { return ORQExt_STM_GetDomainHandle(kConn, nullptr); }},
        {"GetDomainHandle empty", [&] { return ORQExt_STM_GetDomainHandle(kConn, ""); }},

        // text classifier
        {"TextClassifier_Init value -1", [&] { return ORQExt_STM_TextClassifier_Init(kConn, 1, -1); }},
        {"TextClassifier_Do null items, count 0", [&] { return ORQExt_STM_TextClassifier_Do(kConn, 1, out, &cap, nullptr, 0, &copt); }},
        {"TextClassifier_Do count -1", [&] { return ORQExt_STM_TextClassifier_Do(kConn, 1, out, &cap, items, -1, &copt); }},
        {"TextClassifier_Do null options", [&] { return ORQExt_STM_TextClassifier_Do(kConn, 1, out, &cap, items, 1, nullptr); }},
        {"TextClassifier_Do null out", [&] { return ORQExt_STM_TextClassifier_Do(kConn, 1, nullptr, &cap, items, 1, &copt); }},
        {"TextClassifier_Do null length", [&] { return ORQExt_STM_TextClassifier_Do(kConn, 1, out, nullptr, items, 1, &copt); }},
        {"TextClassifier_Do capacity -1", [&] { return ORQExt_STM_TextClassifier_Do(kConn, 1, out, &negative, items, 1, &copt); }},
        {"TextClassifier_Do null item text", [&] { return ORQExt_STM_TextClassifier_Do(kConn, 1, out, &cap, null_text, 2, &copt); }},
        {"TextClassifier_Do list too long", [&] { return ORQExt_STM_TextClassifier_Do(kConn, 1, out, &cap, too_long, 1, &copt); }},

        // information filter
        {"InfoFilter_Init null", [&] { return ORQExt_STM_InfoFilter_Init(kConn, 1, nullptr); }},
        {"InfoFilter_Init empty", [&] { return ORQExt_STM_InfoFilter_Init(kConn, 1, ""); }},
        {"InfoFilter_Do null items", [&] { return ORQExt_STM_InfoFilter_Do(kConn, 1, nullptr, 1); }},
        {"InfoFilter_Do count 0", [&] { return ORQExt_STM_InfoFilter_Do(kConn, 1, items, 0); }},
        {"InfoFilter_Do count -3", [&] { return ORQExt_STM_InfoFilter_Do(kConn, 1, items, -3); }},
        {"InfoFilter_Do null item text", [&] { return ORQExt_STM_InfoFilter_Do(kConn, 1, null_text_no_length, 1); }},

        // text clusterer
        {"TextCluster_ShutDown null args", [&] { return ORQExt_STM_TextCluster_ShutDown(kConn, 1, nullptr); }},
        {"TextCluster_ShutDown empty name", [&] { return ORQExt_STM_TextCluster_ShutDown(kConn, 1, &empty_name); }},
        {"TextCluster_ShutDown unterminated name", [&] { return ORQExt_STM_TextCluster_ShutDown(kConn, 1, &unterminated); }},
        {"TextCluster_Do null items", [&] { return ORQExt_STM_TextCluster_Do(kConn, 1, nullptr, 0, "t"); }},
        {"TextCluster_Do count -1", [&] { return ORQExt_STM_TextCluster_Do(kConn, 1, items, -1, "t"); }},
        {"TextCluster_Do null text", [&] { return ORQExt_STM_TextCluster_Do(kConn, 1, items, 1, nullptr); }},
        {"TextCluster_Do null item text", [&] { return ORQExt_STM_TextCluster_Do(kConn, 1, null_text, 2, "t"); }},

        // keyword extractor
        {"KeyWordExtractor_Do null items", [&] { return ORQExt_STM_KeyWordExtractor_Do(kConn, 1, out, &cap, nullptr, 1, &pair); }},
        {"KeyWordExtractor_Do count 0", [&] { return ORQExt_STM_KeyWordExtractor_Do(kConn, 1, out, &cap, items, 0, &pair); }},
        {"KeyWordExtractor_Do null options", [&] { return ORQExt_STM_KeyWordExtractor_Do(kConn, 1, out, &cap, items, 1, nullptr); }},
        {"KeyWordExtractor_Do null out", [&] { return ORQExt_STM_KeyWordExtractor_Do(kConn, 1, nullptr, &cap, items, 1, &pair); }},
        {"KeyWordExtractor_Do null length", [&] { return ORQExt_STM_KeyWordExtractor_Do(kConn, 1, out, nullptr, items, 1, &pair); }},
        {"KeyWordExtractor_Do null item text", [&] { return ORQExt_STM_KeyWordExtractor_Do(kConn, 1, out, &cap, null_text, 2, &pair); }},

        // abstract extractor
        {"AbstractExtractor_Do null text", [&] { return ORQExt_STM_AbstractExtractor_Do(kConn, 1, nullptr, out, &cap, &pair, items, 1); }},
        {"AbstractExtractor_Do null options", [&] { return ORQExt_STM_AbstractExtractor_Do(kConn, 1, "t", out, &cap, nullptr, items, 1); }},
        {"AbstractExtractor_Do null out", [&] { return ORQExt_STM_AbstractExtractor_Do(kConn, 1, "t", nullptr, &cap, &pair, items, 1); }},
        {"AbstractExtractor_Do null length", [&] { return ORQExt_STM_AbstractExtractor_Do(kConn, 1, "t", out, nullptr, &pair, items, 1); }},
        {"AbstractExtractor_Do capacity -1", [&] { return ORQExt_STM_AbstractExtractor_Do(kConn, 1, "t", out, &negative, &pair, items, 1); }},
        {"AbstractExtractor_Do null items, count 1", [&] { return ORQExt_STM_AbstractExtractor_Do(kConn, 1, "t", out, &cap, &pair, nullptr, 1); }},
        {"AbstractExtractor_Do null item text", [&] { return ORQExt_STM_AbstractExtractor_Do(kConn, 1, "t", out, &cap, &pair, null_text, 2); }},

        // VSM model generator
        {"VSMGenerator_Do null items", [&] { return ORQExt_STM_VSMGenerator_Do(kConn, 1, out, &cap, nullptr, 1, &vsm); }},
        {"VSMGenerator_Do count 0", [&] { return ORQExt_STM_VSMGenerator_Do(kConn, 1, out, &cap, items, 0, &vsm); }},
        {"VSMGenerator_Do null options", [&] { return ORQExt_STM_VSMGenerator_Do(kConn, 1, out, &cap, items, 1, nullptr); }},
        {"VSMGenerator_Do null out", [&] { return ORQExt_STM_VSMGenerator_Do(kConn, 1, nullptr, &cap, items, 1, &vsm); }},
        {"VSMGenerator_Do null length", [&] { return ORQExt_STM_VSMGenerator_Do(kConn, 1, out, nullptr, items, 1, &vsm); }},
        {"VSMGenerator_Do null item text", [&] { return ORQExt_STM_VSMGenerator_Do(kConn, 1, out, &cap, null_text, 2, &vsm); }},
        {"VSMGenerator_GetResult null options", [&] { return ORQExt_STM_VSMGenerator_GetResult(kConn, 1, out, &cap, "t", nullptr); }},
        {"VSMGenerator_GetResult null out", [&] { return ORQExt_STM_VSMGenerator_GetResult(kConn, 1, nullptr, &cap, "t", &vsm); }},
        {"VSMGenerator_GetResult null text", [&] { return ORQExt_STM_VSMGenerator_GetResult(kConn, 1, out, &cap, nullptr, &vsm); }},
        {"VSMGenerator_GetResult null length", [&] { return ORQExt_STM_VSMGenerator_GetResult(kConn, 1, out, nullptr, "t", &vsm); }},
        {"VSMGenerator_GetResult capacity -1", [&] { return ORQExt_STM_VSMGenerator_GetResult(kConn, 1, out, &negative, "t", &vsm); }},

        // abstractor
        {"Abstractor_Do null text", [&] { return ORQExt_STM_Abstractor_Do(kConn, nullptr, out, &cap, &pair, items, 1); }},
        {"Abstractor_Do null options", [&] { return ORQExt_STM_Abstractor_Do(kConn, "t", out, &cap, nullptr, items, 1); }},
        {"Abstractor_Do null out", [&] { return ORQExt_STM_Abstractor_Do(kConn, "t", nullptr, &cap, &pair, items, 1); }},
        {"Abstractor_Do null length", [&] { return ORQExt_STM_Abstractor_Do(kConn, "t", out, nullptr, &pair, items, 1); }},
        {"Abstractor_Do null items, count 2", [&] { return ORQExt_STM_Abstractor_Do(kConn, "t", out, &cap, &pair, nullptr, 2); }},
        {"Abstractor_Do list too long", [&] { return ORQExt_STM_Abstractor_Do(kConn, "t", out, &cap, &pair, too_long, 1); }},

        // similarity
        {"Similarity_Analyst empty first", [&] { return ORQExt_STM_Similarity_Analyst(kConn, "", "b"); }},
        {"Similarity_Analyst null first", [&] { return ORQExt_STM_Similarity_Analyst(kConn, nullptr, "b"); }},
        {"Similarity_Analyst empty second", [&] { return ORQExt_STM_Similarity_Analyst(kConn, "a", ""); }},
        {"Similarity_Analyst null second", [&] { return ORQExt_STM_Similarity_Analyst(kConn, "a", nullptr); }},
    };
    for (const Bad& b : cases) {
        SCOPED_TRACE(b.what);
        reset();
        EXPECT_EQ(b.call(), -1100);
        EXPECT_EQ(count(Fn::Command), 0u);
        EXPECT_EQ(cap, static_cast<int32_t>(sizeof out)) << "the length variable is left alone";
    }
}

// Item texts in exactly-sized heap blocks: reading one byte too many is an
// AddressSanitizer report.
TEST_F(StmTest, ItemTextsAreReadOnlyUpToTheirLengthOrNul) {
    std::unique_ptr<char[]> no_nul(new char[3]{'a', 'b', 'c'});
    std::unique_ptr<char[]> inner_nul(new char[5]{'x', 'y', '\0', 'z', 'w'});
    std::unique_ptr<char[]> empty(new char[1]{'\0'});
    const StmTextItem items[] = {{1, 3, no_nul.get()}, {2, 0, inner_nul.get()}, {3, 2, no_nul.get()},
                                 {4, 0, empty.get()}};
    char out[16];
    int32_t len = sizeof out;
    StmOptionPair pair{0, 0};
    ASSERT_EQ(ORQExt_STM_KeyWordExtractor_Do(kConn, 5, out, &len, items, 4, &pair), 0);
    auto cs = module_messages();
    ASSERT_EQ(cs.size(), 1u);
    const std::string list = le32(1) + le32(3) + std::string("abc\0", 4) +  //
                             le32(2) + le32(2) + std::string("xy\0", 3) +   //
                             le32(3) + le32(2) + std::string("ab\0", 3) +   //
                             le32(4) + le32(0) + std::string("\0", 1);
    EXPECT_EQ(cs[0].body, stm_message(head("STM_KeyWordExtractor_Do") + le32(5) + le32(0) + u8(0) +
                                      le32(16) + le32(4) + list));
}

// Only the first `count` items are read, however many the array holds.
TEST_F(StmTest, OnlyCountItemsAreEncoded) {
    const StmTextItem items[] = {{1, 0, "a"}, {2, 0, nullptr}};
    EXPECT_EQ(ORQExt_STM_TextCluster_Do(kConn, 0, items, 1, "t"), 0);
    auto cs = module_messages();
    ASSERT_EQ(cs.size(), 1u);
    EXPECT_EQ(cs[0].body, stm_message(head("STM_TextCluster_Do") + le32(0) + cstr("t") + le32(1) + le32(1) +
                                      le32(1) + std::string("a\0", 2)));
}

}  // namespace

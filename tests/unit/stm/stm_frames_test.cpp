// Golden frames of every semantic text mining export, and the passing on of
// the server's status words.
#include <cstring>
#include <string>
#include <vector>

#include "tests/unit/stm/stm_support.h"

using namespace stm_test;
using namespace xsrdouble;

namespace {

struct Golden {
    const char* what;
    Stub call;
    std::string frame;
    bool decodes = false;  // the reply is decoded into the result
};

// Calls with a reply area use `buf`, whose capacity (64) is sent in the frame.
class StmFrames : public StmTest {
protected:
    char buf[64] = {};
    int32_t len = sizeof buf;
    std::string big_text = std::string(5000, 'k');

    StmTextItem big_item{42, 0, big_text.c_str()};
    StmClassifierOptions classifier{10, 11, 1};
    StmOptionPair pair{3, 0xff};
    StmOptionPair pair6{6, 1};
    StmVsmOptions vsm{1, 2, 3};
    StmClusterShutdownArgs cluster{1, 2, 3, 4, "grp"};
    StmClusterShutdownArgs cluster_full{-1, 0, 0, 5, {}};

    void SetUp() override {
        StmTest::SetUp();
        std::memset(cluster_full.name, 'n', sizeof cluster_full.name - 1);
    }

    // A member: the cases' calls run after cases() has returned.
    const StmTextItem* items = sample_items();

    std::vector<Golden> cases() {
        const std::string list = sample_list();
        const std::string cap = le32(64);
        return {
            // engine and knowledge domains
            {"Initialize", [&] { return ORQExt_STM_Initialize(kConn); },
             std::string("r!\0STM_Initialize\0", 18)},
            {"ShutDown", [&] { return ORQExt_STM_ShutDown(kConn); }, head("STM_ShutDown")},
            {"IsInitialized", [&] { return ORQExt_STM_IsInitialized(kConn); },
             head("STM_Is_Initialized")},
            {"CreateDomain", [&] { return ORQExt_STM_CreateDomain(kConn, "dom", "t2", nullptr, "t4", 5); },
             head("STM_Create_Knowledge_Domain") + cstr("dom") + cstr("t2") + u8(0) + cstr("t4") + le32(5)},
            {"CreateDomain empty", [&] { return ORQExt_STM_CreateDomain(kConn, "", nullptr, nullptr, nullptr, -1); },
             head("STM_Create_Knowledge_Domain") + std::string(4, '\0') + le32(-1)},
            {"DeleteDomain", [&] { return ORQExt_STM_DeleteDomain(kConn, "dom"); },
             head("STM_Delete_Knowledge_Domain") + cstr("dom")},
            {"DeleteDomain empty", [&] { return ORQExt_STM_DeleteDomain(kConn, ""); },
             head("STM_Delete_Knowledge_Domain") + u8(0)},
            {"GetDomainNameList 1", [&] { return ORQExt_STM_GetDomainNameList(kConn, buf, &len, 1); },
             head("STM_List_Knowledge_Domain") + cap + le32(1)},
            {"GetDomainNameList 0", [&] { return ORQExt_STM_GetDomainNameList(kConn, buf, &len, 0); },
             head("STM_List_Knowledge_Domain") + cap + le32(0)},
            {"GetDomainNameList 5", [&] { return ORQExt_STM_GetDomainNameList(kConn, buf, &len, 5); },
             head("STM_List_Knowledge_Domain") + cap + le32(0)},
            {"GetDomainNameList -1", [&] { return ORQExt_STM_GetDomainNameList(kConn, buf, &len, -1); },
             head("STM_List_Knowledge_Domain") + cap + le32(0)},
            {"OpenDomain", [&] { return ORQExt_STM_OpenDomain(kConn, "dom"); },
             head("STM_Open_Knowledge_Domain") + cstr("dom"), true},
            {"CloseDomain", [&] { return ORQExt_STM_CloseDomain(kConn, "dom"); },
             head("STM_Close_Knowledge_Domain") + cstr("dom")},
            {"GetDomainName", [&] { return ORQExt_STM_GetDomainName(kConn, 3, buf, &len); },
             head("STM_Get_Knowledge_Domain_Name") + le32(3) + cap},
            {"GetDomainHandle", [&] { return ORQExt_STM_GetDomainHandle(kConn, "dom"); },
             head("STM_Get_Knowledge_Domain_Handle") + cstr("dom")},

            // text classifier
            {"TextClassifier_Init", [&] { return ORQExt_STM_TextClassifier_Init(kConn, 2, 0); },
             head("STM_TextClassifier_Initialize") + le32(2) + le32(0)},
            {"TextClassifier_ShutDown", [&] { return ORQExt_STM_TextClassifier_ShutDown(kConn, 2); },
             head("STM_TextClassifier_ShutDown") + le32(2)},
            {"TextClassifier_Do", [&] { return ORQExt_STM_TextClassifier_Do(kConn, 2, buf, &len, items, kSampleCount, &classifier); },
             head("STM_TextClassifier_Do") + le32(2) + le32(10) + le32(11) + u8(1) + cap + le32(4) + list},
            {"TextClassifier_Do count 0", [&] { return ORQExt_STM_TextClassifier_Do(kConn, 2, buf, &len, items, 0, &classifier); },
             head("STM_TextClassifier_Do") + le32(2) + le32(10) + le32(11) + u8(1) + cap + le32(0)},

            // information filter
            {"InfoFilter_Init", [&] { return ORQExt_STM_InfoFilter_Init(kConn, 2, "cfg"); },
             head("STM_InfoFilter_Initialize") + le32(2) + cstr("cfg")},
            {"InfoFilter_ShutDown", [&] { return ORQExt_STM_InfoFilter_ShutDown(kConn, 2); },
             head("STM_InfoFilter_ShutDown") + le32(2)},
            {"InfoFilter_Do", [&] { return ORQExt_STM_InfoFilter_Do(kConn, 2, items, kSampleCount); },
             head("STM_InfoFilter_Do") + le32(2) + le32(4) + list, true},

            // text clusterer
            {"TextCluster_Init", [&] { return ORQExt_STM_TextCluster_Init(kConn, 1); },
             std::string("r!\0STM_TextCluster_Initialize\0\x01\0\0\0", 34)},
            {"TextCluster_ShutDown", [&] { return ORQExt_STM_TextCluster_ShutDown(kConn, 2, &cluster); },
             head("STM_TextCluster_ShutDown") + le32(2) + le32(1) + le32(2) + le32(3) + le32(4) + cstr("grp")},
            {"TextCluster_ShutDown full name", [&] { return ORQExt_STM_TextCluster_ShutDown(kConn, 2, &cluster_full); },
             head("STM_TextCluster_ShutDown") + le32(2) + le32(-1) + le32(0) + le32(0) + le32(5) +
                 std::string(ORQEXT_STM_CLUSTER_NAME_SIZE - 1, 'n') + u8(0)},
            {"TextCluster_Do", [&] { return ORQExt_STM_TextCluster_Do(kConn, 2, items, kSampleCount, "opt"); },
             head("STM_TextCluster_Do") + le32(2) + cstr("opt") + le32(4) + list},
            {"TextCluster_Do count 0", [&] { return ORQExt_STM_TextCluster_Do(kConn, 2, items, 0, ""); },
             head("STM_TextCluster_Do") + le32(2) + u8(0) + le32(0)},

            // keyword extractor
            {"KeyWordExtractor_Init", [&] { return ORQExt_STM_KeyWordExtractor_Init(kConn, 2, -7); },
             head("STM_KeyWordExtractor_Initialize") + le32(2) + le32(-7)},
            {"KeyWordExtractor_ShutDown", [&] { return ORQExt_STM_KeyWordExtractor_ShutDown(kConn, 2); },
             head("STM_KeyWordExtractor_ShutDown") + le32(2)},
            {"KeyWordExtractor_Do", [&] { return ORQExt_STM_KeyWordExtractor_Do(kConn, 2, buf, &len, items, kSampleCount, &pair); },
             head("STM_KeyWordExtractor_Do") + le32(2) + le32(3) + u8(0xff) + cap + le32(4) + list},
            {"KeyWordExtractor_Do large item", [&] { return ORQExt_STM_KeyWordExtractor_Do(kConn, 2, buf, &len, &big_item, 1, &pair); },
             head("STM_KeyWordExtractor_Do") + le32(2) + le32(3) + u8(0xff) + cap + le32(1) + le32(42) +
                 le32(5000) + big_text + u8(0)},

            // abstract extractor
            {"AbstractExtractor_Initialize", [&] { return ORQExt_STM_AbstractExtractor_Initialize(kConn, 4); },
             head("STM_AbstractExtractor_Initialize") + le32(4)},
            {"AbstractExtractor_ShutDown", [&] { return ORQExt_STM_AbstractExtractor_ShutDown(kConn, 4); },
             head("STM_AbstractExtractor_ShutDown") + le32(4)},
            {"AbstractExtractor_Do", [&] { return ORQExt_STM_AbstractExtractor_Do(kConn, 4, "txt", buf, &len, &pair6, items, kSampleCount); },
             head("STM_AbstractExtractor_Do") + le32(4) + cstr("txt") + le32(6) + u8(1) + cap + le32(4) + list},
            {"AbstractExtractor_Do empty, count 0", [&] { return ORQExt_STM_AbstractExtractor_Do(kConn, 4, "", buf, &len, &pair6, nullptr, 0); },
             head("STM_AbstractExtractor_Do") + le32(4) + u8(0) + le32(6) + u8(1) + cap + le32(0)},
            {"AbstractExtractor_Do count -2", [&] { return ORQExt_STM_AbstractExtractor_Do(kConn, 4, "t", buf, &len, &pair6, nullptr, -2); },
             head("STM_AbstractExtractor_Do") + le32(4) + cstr("t") + le32(6) + u8(1) + cap + le32(-2)},

            // VSM model generator
            {"VSMGenerator_Init", [&] { return ORQExt_STM_VSMGenerator_Init(kConn, 9); },
             head("STM_VSMModel_Generator_Initialize") + le32(9)},
            {"VSMGenerator_ShutDown", [&] { return ORQExt_STM_VSMGenerator_ShutDown(kConn, 9); },
             head("STM_VSMModel_Generator_ShutDown") + le32(9)},
            {"VSMGenerator_Do", [&] { return ORQExt_STM_VSMGenerator_Do(kConn, 9, buf, &len, items, kSampleCount, &vsm); },
             head("STM_VSMModel_Generator_Do") + le32(9) + u8(1) + le32(2) + le32(3) + cap + le32(4) + list},
            {"VSMGenerator_GetResult", [&] { return ORQExt_STM_VSMGenerator_GetResult(kConn, 9, buf, &len, "q", &vsm); },
             head("STM_VSMModel_GetResult") +
                 std::string("\x09\0\0\0" "\x01" "\x02\0\0\0" "\x03\0\0\0" "\x40\0\0\0" "q\0", 19)},
            {"VSMGenerator_GetResult empty text", [&] { return ORQExt_STM_VSMGenerator_GetResult(kConn, 9, buf, &len, "", &vsm); },
             head("STM_VSMModel_GetResult") + le32(9) + u8(1) + le32(2) + le32(3) + cap + u8(0)},

            // abstractor
            {"Abstractor_Init", [&] { return ORQExt_STM_Abstractor_Init(kConn); },
             std::string("r!\0KAbstractor_Initialize\0", 26)},
            {"Abstractor_ShutDown", [&] { return ORQExt_STM_Abstractor_ShutDown(kConn); },
             head("KAbstractor_ShutDown")},
            {"Abstractor_Do", [&] { return ORQExt_STM_Abstractor_Do(kConn, "txt", buf, &len, &pair6, items, kSampleCount); },
             head("KAbstractor_Do") + cstr("txt") + le32(6) + u8(1) + cap + le32(4) + list},
            {"Abstractor_Do count 0", [&] { return ORQExt_STM_Abstractor_Do(kConn, "txt", buf, &len, &pair6, items, 0); },
             head("KAbstractor_Do") + cstr("txt") + le32(6) + u8(1) + cap + le32(0)},

            // similarity
            {"Similarity_Initialize", [&] { return ORQExt_STM_Similarity_Initialize(kConn); },
             head("Similarity_Initialize")},
            {"Similarity_ShutDown", [&] { return ORQExt_STM_Similarity_ShutDown(kConn); },
             head("Similarity_ShutDown")},
            {"Similarity_Analyst", [&] { return ORQExt_STM_Similarity_Analyst(kConn, "one", "two"); },
             head("Similarity_Analyst") + cstr("one") + cstr("two")},
        };
    }
};

TEST_F(StmFrames, EveryExportSendsItsFrameToTheModule) {
    for (const Golden& g : cases()) {
        SCOPED_TRACE(g.what);
        reset();
        len = sizeof buf;
        EXPECT_EQ(g.call(), 0);
        auto cs = module_messages();
        ASSERT_EQ(cs.size(), 1u);
        EXPECT_EQ(cs[0].handle, kConn);
        EXPECT_EQ(cs[0].body, stm_message(g.frame));
    }
}

TEST_F(StmFrames, StatusWordsPassThroughExceptWhereTheReplyIsDecoded) {
    // A positive status copies nothing out, so the two decoding calls read
    // their zero area; every other call returns the status itself. Failures
    // come back unchanged everywhere.
    for (const Golden& g : cases()) {
        SCOPED_TRACE(g.what);
        for (int32_t status : {3, 0x7fffffff, -2001}) {
            reset();
            len = sizeof buf;
            push(Reply{status, "9", -1});
            const int32_t expect = (status > 0 && g.decodes) ? 0 : status;
            EXPECT_EQ(g.call(), expect) << status;
        }
    }
}

}  // namespace

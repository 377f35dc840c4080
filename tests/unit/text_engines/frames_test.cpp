// Every export of the association-rule, keyword frequency, dictionary and
// segmentation, clustering/classifier and EZTC/BSM families: the exact module
// message each call sends, the reply capacity it offers, and the routing
// failure when clustering is on and no node serves the module.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "tests/unit/text_engines/text_support.h"

using namespace text_tests;

namespace {

constexpr int32_t kNoCapacityCheck = -1;

struct Golden {
    const char* what;
    std::function<int32_t(int32_t conn)> call;
    const char* module;
    std::string frame;
    int32_t capacity;  // capacity offered to XSR_CommandEx, or kNoCapacityCheck
};

class TextFramesTest : public testing_support::LibraryTest {
protected:
    // Buffers the calls write into; the frames depend only on their sizes.
    int32_t items[64] = {};
    int16_t marks[64] = {};
    char bufA[256] = {}, bufB[256] = {};
    int32_t lenA = 0, lenB = 0, valueA = 0, valueC = 0;
    uint8_t valueB = 0, flag = 0;

    std::vector<Golden> cases() {
        const KwfsItem two[] = {{"k1", 10, "v1"}, {nullptr, -2, nullptr}};
        const KwfsOptions opts{9, "opt"};
        const KwfsOptions bare{0, nullptr};
        return {
            // Association-rule analysis: no selector, null strings send nothing.
            {"ARA begin", [](int32_t c) { return ORQExt_ARA_Stat_AssociatedFreq_Begin(c, "a.txt"); },
             "KExt_ARA", head("ARA_Stat_AssociatedFreq_Begin") + cstr("a.txt"), kNoCapacityCheck},
            {"ARA freq", [](int32_t c) { return ORQExt_ARA_Stat_AssociatedFreq(c, "x", "yz", 0x01020304, 0xAB); },
             "KExt_ARA", head("ARA_Stat_AssociatedFreq") + cstr("x") + cstr("yz") + le32(0x01020304) + byte(0xAB),
             kNoCapacityCheck},
            {"ARA freq, both strings null",
             [](int32_t c) { return ORQExt_ARA_Stat_AssociatedFreq(c, nullptr, nullptr, -1, 1); },
             "KExt_ARA", head("ARA_Stat_AssociatedFreq") + le32(-1) + byte(1), kNoCapacityCheck},
            {"ARA end", [](int32_t c) { return ORQExt_ARA_Stat_AssociatedFreq_End(c); }, "KExt_ARA",
             std::string("r!\0ARA_Stat_AssociatedFreq_End\0", 31), kNoCapacityCheck},
            {"ARA merge", [](int32_t c) { return ORQExt_ARA_MulMergeFile(c, "in", "out"); }, "KExt_ARA",
             head("ARA_MulMergeFile") + cstr("in") + cstr("out"), kNoCapacityCheck},
            {"ARA filtrate, textB null", [](int32_t c) { return ORQExt_ARA_Filtrate(c, "a", nullptr, 3); },
             "KExt_ARA", std::string("r!\0ARA_Filtrate\0\x61\x00\x03\x00\x00\x00", 22), kNoCapacityCheck},
            {"ARA support, textA null", [](int32_t c) { return ORQExt_ARA_GetWordSupportRec(c, nullptr, "b"); },
             "KExt_ARA", head("ARA_GetWordSupportRec") + cstr("b"), kNoCapacityCheck},

            // Keyword frequency: text1 null sends nothing, text2 null one NUL.
            {"KWFS associated, one bare item",
             [](int32_t c) {
                 const KwfsItem one{nullptr, 5, nullptr};
                 const KwfsOptions o{0, nullptr};
                 return ORQExt_KWFS_Associated(c, &one, 1, &o);
             },
             "KExt_KWFS", head("KWFS_Associated") + le32(1) + le32(5) + nul() + le32(0), kNoCapacityCheck},
            {"KWFS frequency, two items",
             [two, opts](int32_t c) { return ORQExt_KWFS_Frequency(c, two, 2, &opts, 77); }, "KExt_KWFS",
             head("KWFS_Frequency") + le32(2) + cstr("k1") + le32(10) + cstr("v1") + le32(-2) + nul() +
                 le32(9) + cstr("opt") + le32(77),
             kNoCapacityCheck},
            {"KWFS frequency, count 0, list not read",
             [bare](int32_t c) { return ORQExt_KWFS_Frequency(c, nullptr, 0, &bare, -4); }, "KExt_KWFS",
             head("KWFS_Frequency") + le32(0) + le32(0) + le32(-4), kNoCapacityCheck},
            {"KWFS associated, negative count, list not read",
             [opts](int32_t c) { return ORQExt_KWFS_Associated(c, nullptr, -3, &opts); }, "KExt_KWFS",
             head("KWFS_Associated") + le32(-3) + le32(9) + cstr("opt"), kNoCapacityCheck},

            // Dictionary and segmentation, engine 0.
            {"NLPE load, null text: 4 + 3 + 14 bytes", [](int32_t c) { return ORQExt_NLPE_DictLoad(c, nullptr); },
             "KExt_NLPE", std::string("\0\0\0\0r!\0NLPE_DictLoad\0", 21), kNoCapacityCheck},
            {"NLPE load", [](int32_t c) { return ORQExt_NLPE_DictLoad(c, "d"); }, "KExt_NLPE",
             head(0, "NLPE_DictLoad") + cstr("d"), kNoCapacityCheck},
            {"NLPE unload 7", [](int32_t c) { return ORQExt_NLPE_DictUnload(c, 7); }, "KExt_NLPE",
             head(0, "NLPE_DictUnload") + std::string("\x07\x00\x00\x00", 4), kNoCapacityCheck},
            {"NLPE import", [](int32_t c) { return ORQExt_NLPE_DictImport(c, "f.dic"); }, "KExt_NLPE",
             head(0, "NLPE_DictImport") + cstr("f.dic"), kNoCapacityCheck},
            {"NLPE search, null text", [](int32_t c) { return ORQExt_NLPE_DictSearch(c, nullptr); }, "KExt_NLPE",
             head(0, "NLPE_DictSearch"), kNoCapacityCheck},
            {"NLPE get handle", [](int32_t c) { return ORQExt_NLPE_GetHandle(c, "h"); }, "KExt_NLPE",
             head(0, "NLPE_DictGetHandle") + cstr("h"), kNoCapacityCheck},
            {"NLPE delete handle, sent untested", [](int32_t c) { return ORQExt_NLPE_DeleteHandle(c, -5); },
             "KExt_NLPE", head(0, "NLPE_DictDeleteHandle") + le32(-5), kNoCapacityCheck},
            {"NLPE segmentation without marks: into items, 4 x capacity",
             [this](int32_t c) { return ORQExt_NLPE_WordSect(c, "txt", items, 40, 1, 2, nullptr, 3, 4, 5); },
             "KExt_NLPE",
             head(0, "NLPE_WordSect") + cstr("txt") + le32(40) + le32(1) + le32(2) + le32(3) + byte(4) + byte(5) +
                 byte(0),
             160},
            {"NLPE segmentation with marks: optC after optB, 6 x capacity",
             [this](int32_t c) { return ORQExt_NLPE_WordSect(c, "t", items, 30, -1, -2, marks, -3, 0xFE, 0); },
             "KExt_NLPE",
             head(0, "NLPE_WordSect") + cstr("t") + le32(30) + le32(-1) + le32(-2) + le32(-3) + byte(0xFE) +
                 byte(0) + byte(1),
             180},

            // Unlabelled clustering, engine 6; classifier, engine 3.
            {"ClassNoLabel init, null text sends one NUL",
             [](int32_t c) { return ORQExt_ClassNoLabel_Init(c, nullptr); }, "KExt_NLPE",
             head(6, "ClassNoLabel_Init") + nul(), kNoCapacityCheck},
            {"ClassNoLabel init", [](int32_t c) { return ORQExt_ClassNoLabel_Init(c, "cfg"); }, "KExt_NLPE",
             head(6, "ClassNoLabel_Init") + cstr("cfg"), kNoCapacityCheck},
            {"ClassNoLabel get class: caller's buffer and capacity",
             [this](int32_t c) {
                 lenA = 200;
                 return ORQExt_ClassNoLabel_GetClass(c, "doc", bufA, &lenA);
             },
             "KExt_NLPE", head(6, "ClassNoLabel_GetClass") + cstr("doc"), 200},
            {"ClassNoLabel free", [](int32_t c) { return ORQExt_ClassNoLabel_Free(c); }, "KExt_NLPE",
             head(6, "ClassNoLabel_Free"), kNoCapacityCheck},
            {"CLA set path, null text sends nothing", [](int32_t c) { return ORQExt_CLA_SetPath(c, nullptr); },
             "KExt_NLPE", head(3, "CLA_SetPath"), kNoCapacityCheck},
            {"CLA set path", [](int32_t c) { return ORQExt_CLA_SetPath(c, "/p"); }, "KExt_NLPE",
             head(3, "CLA_SetPath") + cstr("/p"), kNoCapacityCheck},
            {"CLA classify: values go A, B, C; null field moves the rest up",
             [this](int32_t c) {
                 const char* fields[7] = {"f1", "f2", nullptr, "", "f5", "f6", "f7"};
                 lenA = 100;
                 lenB = 60;
                 valueA = 0x11223344;
                 valueB = 0x55;
                 valueC = -7;
                 return ORQExt_CLA_GetClassifyResult(c, 12, fields, bufA, &lenA, bufB, &lenB, &valueC, &valueB,
                                                     &valueA, 99);
             },
             "KExt_NLPE",
             head(3, "CLA_GetClassifyResult") + le32(12) + cstr("f1") + cstr("f2") + nul() + cstr("f5") +
                 cstr("f6") + cstr("f7") + le32(100) + le32(60) + le32(99) + le32(0x11223344) + byte(0x55) +
                 le32(-7),
             170},
            {"CLA free dict", [](int32_t c) { return ORQExt_CLA_FreeDict(c); }, "KExt_NLPE",
             head(3, "CLA_FreeDict"), kNoCapacityCheck},

            // EZTC, engine 2; BSM, engine 7.
            {"EZTC set path: exactly 20 bytes", [](int32_t c) { return ORQExt_EZTC_SetPath(c); }, "KExt_NLPE",
             std::string("\x02\x00\x00\x00r!\0EZTC_SetPath\0", 20), kNoCapacityCheck},
            {"EZTC classify: ints before texts, null text3 as empty string",
             [this](int32_t c) {
                 const EztcTextFields t{"a", "b", nullptr, "d", "e", "f"};
                 lenA = 200;
                 return ORQExt_EZTC_GetTxtClassify(c, 1, 2, &t, 3, bufA, &lenA, 0x80);
             },
             "KExt_NLPE",
             head(2, "EZTC_GetTxtClassify") + le32(1) + le32(2) + cstr("a") + cstr("b") + nul() + cstr("d") +
                 cstr("e") + cstr("f") + le32(3) + le32(200) + byte(0x80),
             205},
            {"EZTC free dict", [](int32_t c) { return ORQExt_EZTC_FreeDict(c); }, "KExt_NLPE",
             head(2, "EZTC_FreeDict"), kNoCapacityCheck},
            {"BSM init", [](int32_t c) { return ORQExt_BSM_Word_Init(c); }, "KExt_NLPE", head(7, "BSM_Word_Init"),
             kNoCapacityCheck},
            {"BSM classify: texts before ints, remote name BSM_GetTxtClassify",
             [this](int32_t c) {
                 const BsmTextFields t{"1", nullptr, "3", "4", "5", "6", "7", nullptr};
                 lenA = 100;
                 lenB = 50;
                 flag = 3;
                 return ORQExt_BSM_GetClassifyResult(c, -1, 2, &t, bufA, &lenA, bufB, &lenB, &flag);
             },
             "KExt_NLPE",
             head(7, "BSM_GetTxtClassify") + cstr("1") + nul() + cstr("3") + cstr("4") + cstr("5") + cstr("6") +
                 cstr("7") + nul() + le32(-1) + le32(2) + le32(100) + le32(50) + byte(3),
             406},
            {"BSM free dict", [](int32_t c) { return ORQExt_BSM_FreeDict(c); }, "KExt_NLPE",
             head(7, "BSM_FreeDict"), kNoCapacityCheck},
        };
    }
};

TEST_F(TextFramesTest, EachCallSendsItsExactFrame) {
    const int32_t conn = connect();
    for (const Golden& g : cases()) {
        SCOPED_TRACE(g.what);
        xsrdouble::reset();
        g.call(conn);
        const auto sent = module_messages();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].handle, conn);
        EXPECT_EQ(sent[0].body, message(g.module, g.frame));
        if (g.capacity != kNoCapacityCheck) {
            EXPECT_EQ(sent[0].capacity, g.capacity);
        }
    }
}

TEST_F(TextFramesTest, CallsWithoutReplyAreaReturnTheServerStatusUnchanged) {
    const int32_t conn = connect();
    const int32_t statuses[] = {0, 1, 42, -5, -1107};
    for (const Golden& g : cases()) {
        if (g.capacity != kNoCapacityCheck) continue;
        for (int32_t status : statuses) {
            SCOPED_TRACE(std::string(g.what) + " / " + std::to_string(status));
            xsrdouble::reset();
            xsrdouble::push(status < 0 ? xsrdouble::fail(status) : xsrdouble::Reply{status, "", -1});
            EXPECT_EQ(g.call(conn), status);
        }
    }
}

TEST_F(TextFramesTest, ClusteringOnWithoutANodeGivesNoNodeAndSendsNothing) {
    orq::settings::set_cluster_enable(true);
    const int32_t foreign = 4242;  // no record yet: it gets one with clustering on
    for (const Golden& g : cases()) {
        SCOPED_TRACE(g.what);
        xsrdouble::reset();
        EXPECT_EQ(g.call(foreign), -1203);
        EXPECT_EQ(xsrdouble::count(xsrdouble::Fn::Command), 0u);
    }
}

}  // namespace

// The frames sent by the association dictionary, aptitude, extraction and
// topic calls, byte for byte; the argument checks that refuse a call before
// anything is sent; routing refusal with clustering on.
#include <climits>

#include "core/registry.h"
#include "tests/unit/text_dicts/dicts_support.h"

using namespace dicts_test;
using namespace xsrdouble;

namespace {

struct Golden {
    const char* what;
    Invoke call;
    std::string frame;
};

const char* const kFields[6] = {"f1", "f2", nullptr, "", "f5", "f6"};

std::vector<Golden> golden_frames() {
    return {
        // Association dictionaries, engine 1.
        {"AR_Initial", [](int32_t c) { return ORQExt_AR_Initial(c); }, head(1, "AR_Initial")},
        {"AR_Dict_Create all three",
         [](int32_t c) { return ORQExt_AR_Dict_Create(c, "a", "bb", "c"); },
         head(1, "AR_Dict_Create") + cstr("a") + cstr("bb") + cstr("c")},
        {"AR_Dict_Create textB null: A and C back to back",
         [](int32_t c) { return ORQExt_AR_Dict_Create(c, "a", nullptr, "c"); },
         head(1, "AR_Dict_Create") + cstr("a") + cstr("c")},
        {"AR_Dict_Create all null",
         [](int32_t c) { return ORQExt_AR_Dict_Create(c, nullptr, nullptr, nullptr); },
         head(1, "AR_Dict_Create")},
        {"AR_Dict_Delete empty: a single NUL",
         [](int32_t c) { return ORQExt_AR_Dict_Delete(c, ""); }, head(1, "AR_Dict_Delete") + nul()},
        {"AR_Dict_Delete null: nothing",
         [](int32_t c) { return ORQExt_AR_Dict_Delete(c, nullptr); }, head(1, "AR_Dict_Delete")},
        {"AR_GetAllDictName capacity",
         [](int32_t c) {
             char b[8];
             int32_t n = 8;
             return ORQExt_AR_GetAllDictName(c, b, &n);
         },
         head(1, "AR_Get_AllDictName") + le32(8)},
        {"AR_IsDictExist", [](int32_t c) { return ORQExt_AR_IsDictExist(c, "d"); },
         head(1, "AR_Is_DictExist") + cstr("d")},
        {"AR_IsDictExist null", [](int32_t c) { return ORQExt_AR_IsDictExist(c, nullptr); },
         head(1, "AR_Is_DictExist")},
        {"AR_Search text, capacity A, capacity B",
         [](int32_t c) {
             char a[100], b[50];
             int32_t na = 100, nb = 50;
             return ORQExt_AR_Search(c, "query", a, &na, b, &nb);
         },
         head(1, "AR_Search") + cstr("query") + le32(100) + le32(50)},
        {"AR_Search negative capacity B sent unchanged",
         [](int32_t c) {
             char a[100];
             int32_t na = 100, nb = -3;
             return ORQExt_AR_Search(c, "q", a, &na, nullptr, &nb);
         },
         head(1, "AR_Search") + cstr("q") + le32(100) + le32(-3)},
        {"AR_Dict_Load", [](int32_t c) { return ORQExt_AR_Dict_Load(c, "dict"); },
         head(1, "AR_Dict_Load") + cstr("dict")},
        {"AR_Dict_Unload", [](int32_t c) { return ORQExt_AR_Dict_Unload(c, "dict"); },
         head(1, "AR_Dict_Unload") + cstr("dict")},
        {"AR_Dict_Import", [](int32_t c) { return ORQExt_AR_Dict_Import(c, "dict"); },
         head(1, "AR_Dict_Import") + cstr("dict")},
        {"AR_GetAllDictNameLoaded capacity 0",
         [](int32_t c) {
             char b[1];
             int32_t n = 0;
             return ORQExt_AR_GetAllDictNameLoaded(c, b, &n);
         },
         head(1, "AR_Get_AllDictNameLoaded") + le32(0)},
        {"AR_GetCategoryName capacity 0",
         [](int32_t c) {
             char b[1];
             int32_t n = 0;
             return ORQExt_AR_GetCategoryName(c, b, &n);
         },
         head(1, "AR_Get_InforName") + le32(0)},

        // Aptitude, engine 5.
        {"Aptitude_Search empty text is sent",
         [](int32_t c) {
             char b[16];
             int32_t n = 16;
             return ORQExt_Aptitude_Search(c, "", b, &n);
         },
         head(5, "Aptitude_Search") + nul() + le32(16)},
        {"Aptitude_Init", [](int32_t c) { return ORQExt_Aptitude_Init(c); },
         head(5, "Aptitude_Init")},
        {"Aptitude_UnInit", [](int32_t c) { return ORQExt_Aptitude_UnInit(c); },
         head(5, "Aptitude_UnInit")},
        {"Aptitude_WordSect without marks ends with flagA and 0",
         [](int32_t c) {
             int32_t items[40];
             return ORQExt_Aptitude_WordSect(c, "txt", items, 40, 11, -12, nullptr, 13, 0xAB);
         },
         head(5, "Aptitude_WordSect") + cstr("txt") + le32(40) + le32(11) + le32(-12) + le32(13) +
             byte(0xAB) + byte(0)},
        {"Aptitude_WordSect with marks ends with flagA and 1",
         [](int32_t c) {
             int32_t items[4];
             int16_t marks[4];
             return ORQExt_Aptitude_WordSect(c, "t", items, 4, 1, 2, marks, 3, 0);
         },
         head(5, "Aptitude_WordSect") + cstr("t") + le32(4) + le32(1) + le32(2) + le32(3) +
             byte(0) + byte(1)},

        // Word extraction, engine 4.
        {"ExtractWord_Initial mode 2", [](int32_t c) { return ORQExt_ExtractWord_Initial(c, 2); },
         head(4, "Extract_Word_Initial") + std::string("\x02\x00\x00\x00", 4)},
        {"ExtractWord_Direct: six fields, a null one moves the rest up",
         [](int32_t c) {
             std::vector<unsigned char> e(3 * 528);
             int32_t n = 3;
             return ORQExt_ExtractWord_Direct(c, kFields, e.data(), &n, 1, 0x5A);
         },
         head(4, "Extract_Word_Direct") + cstr("f1") + cstr("f2") + nul() + cstr("f5") +
             cstr("f6") + le32(3) + le32(1) + byte(0x5A)},
        {"ExtractWord_DirectNormal sends any mode",
         [](int32_t c) {
             std::vector<unsigned char> e(528);
             int32_t n = 1;
             return ORQExt_ExtractWord_DirectNormal(c, kFields, e.data(), &n, 7, 1);
         },
         head(4, "Extract_Word_DirectNormal") + cstr("f1") + cstr("f2") + nul() + cstr("f5") +
             cstr("f6") + le32(1) + le32(7) + byte(1)},
        {"ExtractWord_FreeDict", [](int32_t c) { return ORQExt_ExtractWord_FreeDict(c); },
         head(4, "Extract_Word_FreeDict")},

        // Topic lists and exports, engine 8.
        {"TOP_List capacity then value",
         [](int32_t c) {
             char b[64];
             return ORQExt_TOP_List(c, b, 64, 3);
         },
         head(8, "TOP_List") + le32(64) + le32(3)},
        {"TOP_List null buffer still sends its capacity",
         [](int32_t c) { return ORQExt_TOP_List(c, nullptr, 500, -1); },
         head(8, "TOP_List") + le32(500) + le32(-1)},
        {"TOP_Init null: ends after the name", [](int32_t c) { return ORQExt_TOP_Init(c, nullptr); },
         head(8, "TOP_Init")},
        {"TOP_Init empty: one more NUL", [](int32_t c) { return ORQExt_TOP_Init(c, ""); },
         head(8, "TOP_Init") + nul()},
        {"TOP_GetItem",
         [](int32_t c) {
             char b[32];
             int32_t n = 32;
             return ORQExt_TOP_GetItem(c, "one", "two", b, &n);
         },
         head(8, "TOP_GetItem") + cstr("one") + cstr("two") + le32(32)},
        {"TOP_GetItem capacity -1 is sent",
         [](int32_t c) {
             char b[4];
             int32_t n = -1;
             return ORQExt_TOP_GetItem(c, "one", "two", b, &n);
         },
         head(8, "TOP_GetItem") + cstr("one") + cstr("two") + le32(-1)},
        {"TOP_UnInit", [](int32_t c) { return ORQExt_TOP_UnInit(c, "u"); },
         head(8, "TOP_UnInit") + cstr("u")},
        {"ExportSqlToFile: text 1, text 2, value, empty text 3",
         [](int32_t c) { return ORQExt_ExportSqlToFile(c, "select 1", "/tmp/x", 5, ""); },
         head(8, "ExportSqlToFile") + cstr("select 1") + cstr("/tmp/x") + le32(5) + nul()},
        {"MakeTopDict with two empty texts",
         [](int32_t c) { return ORQExt_MakeTopDict(c, "", ""); },
         std::string("\x08\x00\x00\x00r!\0MakeTopDict\0\0\0", 4 + 3 + 12 + 2)},
    };
}

using TextDictsFrames = DictsTest;

TEST_F(TextDictsFrames, EveryCallSendsItsFrameByteForByte) {
    for (const Golden& g : golden_frames()) {
        SCOPED_TRACE(g.what);
        reset();
        g.call(kConn);
        const auto sent = module_messages();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].handle, kConn);
        EXPECT_EQ(frame_of(sent[0]), g.frame);
    }
}

TEST_F(TextDictsFrames, CallsWithoutReplyReturnTheServerStatusUnchanged) {
    const struct {
        const char* what;
        Invoke call;
    } calls[] = {
        {"AR_Initial", [](int32_t c) { return ORQExt_AR_Initial(c); }},
        {"AR_IsDictExist", [](int32_t c) { return ORQExt_AR_IsDictExist(c, "d"); }},
        {"AR_Dict_Load", [](int32_t c) { return ORQExt_AR_Dict_Load(c, "d"); }},
        {"Aptitude_Init", [](int32_t c) { return ORQExt_Aptitude_Init(c); }},
        {"ExtractWord_Initial", [](int32_t c) { return ORQExt_ExtractWord_Initial(c, 1); }},
        {"TOP_Init", [](int32_t c) { return ORQExt_TOP_Init(c, "x"); }},
        {"MakeTopDict", [](int32_t c) { return ORQExt_MakeTopDict(c, "a", "b"); }},
    };
    for (int32_t status : {0, 1, 42, -5, -1203}) {
        for (const auto& k : calls) {
            SCOPED_TRACE(std::string(k.what) + " status " + std::to_string(status));
            reset();
            push(Reply{status, "ignored", -1});
            EXPECT_EQ(k.call(kConn), status);
        }
    }
}

// A length variable holding v (one per process; each call sets it anew).
int32_t* len(int32_t v) {
    static int32_t n;
    n = v;
    return &n;
}

struct Refused {
    const char* what;
    Invoke call;
};

std::vector<Refused> refused_calls() {
    static char buf[64];
    static int32_t items[8];
    static int16_t marks[8];
    static std::vector<unsigned char> entries(8 * 528);
    return {
        {"AR_GetAllDictName null buffer",
         [](int32_t c) { return ORQExt_AR_GetAllDictName(c, nullptr, len(8)); }},
        {"AR_GetAllDictName null length",
         [](int32_t c) { return ORQExt_AR_GetAllDictName(c, buf, nullptr); }},
        {"AR_GetAllDictName capacity 0",
         [](int32_t c) { return ORQExt_AR_GetAllDictName(c, buf, len(0)); }},
        {"AR_GetAllDictName capacity -1",
         [](int32_t c) { return ORQExt_AR_GetAllDictName(c, buf, len(-1)); }},
        {"AR_GetAllDictName area above INT32_MAX",
         [](int32_t c) { return ORQExt_AR_GetAllDictName(c, buf, len(INT32_MAX - 4)); }},
        {"AR_GetAllDictNameLoaded null buffer",
         [](int32_t c) { return ORQExt_AR_GetAllDictNameLoaded(c, nullptr, len(0)); }},
        {"AR_GetAllDictNameLoaded null length",
         [](int32_t c) { return ORQExt_AR_GetAllDictNameLoaded(c, buf, nullptr); }},
        {"AR_GetAllDictNameLoaded capacity -1",
         [](int32_t c) { return ORQExt_AR_GetAllDictNameLoaded(c, buf, len(-1)); }},
        {"AR_GetCategoryName null buffer",
         [](int32_t c) { return ORQExt_AR_GetCategoryName(c, nullptr, len(4)); }},
        {"AR_GetCategoryName capacity INT32_MIN",
         [](int32_t c) { return ORQExt_AR_GetCategoryName(c, buf, len(INT32_MIN)); }},
        {"AR_GetCategoryName area above INT32_MAX",
         [](int32_t c) { return ORQExt_AR_GetCategoryName(c, buf, len(INT32_MAX)); }},
        {"AR_Search null text",
         [](int32_t c) { return ORQExt_AR_Search(c, nullptr, buf, len(8), buf, len(8)); }},
        {"AR_Search empty text",
         [](int32_t c) { return ORQExt_AR_Search(c, "", buf, len(8), buf, len(8)); }},
        {"AR_Search null buffer A",
         [](int32_t c) { return ORQExt_AR_Search(c, "t", nullptr, len(8), buf, len(0)); }},
        {"AR_Search null length A",
         [](int32_t c) { return ORQExt_AR_Search(c, "t", buf, nullptr, buf, len(0)); }},
        {"AR_Search null length B",
         [](int32_t c) { return ORQExt_AR_Search(c, "t", buf, len(8), buf, nullptr); }},
        {"AR_Search capacity A 0", [](int32_t c) {
             int32_t a = 0, b = 0;
             return ORQExt_AR_Search(c, "t", buf, &a, buf, &b);
         }},
        {"AR_Search capacity A -1", [](int32_t c) {
             int32_t a = -1, b = 0;
             return ORQExt_AR_Search(c, "t", buf, &a, buf, &b);
         }},
        {"AR_Search null buffer B with capacity B", [](int32_t c) {
             int32_t a = 8, b = 5;
             return ORQExt_AR_Search(c, "t", buf, &a, nullptr, &b);
         }},
        {"AR_Search area above INT32_MAX", [](int32_t c) {
             int32_t a = INT32_MAX - 10, b = 100;
             return ORQExt_AR_Search(c, "t", buf, &a, buf, &b);
         }},
        {"AR_Dict_Load null", [](int32_t c) { return ORQExt_AR_Dict_Load(c, nullptr); }},
        {"AR_Dict_Load empty", [](int32_t c) { return ORQExt_AR_Dict_Load(c, ""); }},
        {"AR_Dict_Unload null", [](int32_t c) { return ORQExt_AR_Dict_Unload(c, nullptr); }},
        {"AR_Dict_Unload empty", [](int32_t c) { return ORQExt_AR_Dict_Unload(c, ""); }},
        {"AR_Dict_Import null", [](int32_t c) { return ORQExt_AR_Dict_Import(c, nullptr); }},
        {"AR_Dict_Import empty", [](int32_t c) { return ORQExt_AR_Dict_Import(c, ""); }},

        {"Aptitude_Search null text",
         [](int32_t c) { return ORQExt_Aptitude_Search(c, nullptr, buf, len(8)); }},
        {"Aptitude_Search null buffer",
         [](int32_t c) { return ORQExt_Aptitude_Search(c, "t", nullptr, len(8)); }},
        {"Aptitude_Search null length",
         [](int32_t c) { return ORQExt_Aptitude_Search(c, "t", buf, nullptr); }},
        {"Aptitude_Search capacity -1",
         [](int32_t c) { return ORQExt_Aptitude_Search(c, "t", buf, len(-1)); }},
        {"Aptitude_Search area above INT32_MAX",
         [](int32_t c) { return ORQExt_Aptitude_Search(c, "t", buf, len(INT32_MAX - 2)); }},
        {"Aptitude_WordSect null text",
         [](int32_t c) { return ORQExt_Aptitude_WordSect(c, nullptr, items, 8, 0, 0, marks, 0, 0); }},
        {"Aptitude_WordSect empty text",
         [](int32_t c) { return ORQExt_Aptitude_WordSect(c, "", items, 8, 0, 0, marks, 0, 0); }},
        {"Aptitude_WordSect null items",
         [](int32_t c) { return ORQExt_Aptitude_WordSect(c, "t", nullptr, 8, 0, 0, marks, 0, 0); }},
        {"Aptitude_WordSect capacity -1 without marks",
         [](int32_t c) { return ORQExt_Aptitude_WordSect(c, "t", items, -1, 0, 0, nullptr, 0, 0); }},
        {"Aptitude_WordSect capacity 0 with marks",
         [](int32_t c) { return ORQExt_Aptitude_WordSect(c, "t", items, 0, 0, 0, marks, 0, 0); }},
        {"Aptitude_WordSect 4 x capacity above INT32_MAX",
         [](int32_t c) {
             return ORQExt_Aptitude_WordSect(c, "t", items, INT32_MAX / 4 + 1, 0, 0, nullptr, 0, 0);
         }},
        {"Aptitude_WordSect 6 x capacity above INT32_MAX",
         [](int32_t c) {
             return ORQExt_Aptitude_WordSect(c, "t", items, INT32_MAX / 6 + 1, 0, 0, marks, 0, 0);
         }},

        {"ExtractWord_Initial mode 0", [](int32_t c) { return ORQExt_ExtractWord_Initial(c, 0); }},
        {"ExtractWord_Initial mode 3", [](int32_t c) { return ORQExt_ExtractWord_Initial(c, 3); }},
        {"ExtractWord_Initial mode -1", [](int32_t c) { return ORQExt_ExtractWord_Initial(c, -1); }},
        {"ExtractWord_Direct null fields",
         [](int32_t c) { return ORQExt_ExtractWord_Direct(c, nullptr, entries.data(), len(8), 1, 0); }},
        {"ExtractWord_Direct null entries",
         [](int32_t c) { return ORQExt_ExtractWord_Direct(c, kFields, nullptr, len(8), 1, 0); }},
        {"ExtractWord_Direct null count",
         [](int32_t c) { return ORQExt_ExtractWord_Direct(c, kFields, entries.data(), nullptr, 1, 0); }},
        {"ExtractWord_Direct capacity 0",
         [](int32_t c) { return ORQExt_ExtractWord_Direct(c, kFields, entries.data(), len(0), 1, 0); }},
        {"ExtractWord_Direct capacity -1",
         [](int32_t c) { return ORQExt_ExtractWord_Direct(c, kFields, entries.data(), len(-1), 2, 0); }},
        {"ExtractWord_Direct mode 0",
         [](int32_t c) { return ORQExt_ExtractWord_Direct(c, kFields, entries.data(), len(8), 0, 0); }},
        {"ExtractWord_Direct mode 7",
         [](int32_t c) { return ORQExt_ExtractWord_Direct(c, kFields, entries.data(), len(8), 7, 0); }},
        {"ExtractWord_Direct area above INT32_MAX",
         [](int32_t c) {
             return ORQExt_ExtractWord_Direct(c, kFields, entries.data(), len(INT32_MAX / 528 + 1), 1, 0);
         }},
        {"ExtractWord_DirectNormal null fields",
         [](int32_t c) { return ORQExt_ExtractWord_DirectNormal(c, nullptr, entries.data(), len(8), 7, 0); }},
        {"ExtractWord_DirectNormal null entries",
         [](int32_t c) { return ORQExt_ExtractWord_DirectNormal(c, kFields, nullptr, len(8), 7, 0); }},
        {"ExtractWord_DirectNormal null count",
         [](int32_t c) { return ORQExt_ExtractWord_DirectNormal(c, kFields, entries.data(), nullptr, 7, 0); }},
        {"ExtractWord_DirectNormal capacity 0",
         [](int32_t c) { return ORQExt_ExtractWord_DirectNormal(c, kFields, entries.data(), len(0), 7, 0); }},
        {"ExtractWord_DirectNormal capacity INT32_MAX",
         [](int32_t c) {
             return ORQExt_ExtractWord_DirectNormal(c, kFields, entries.data(), len(INT32_MAX), 7, 0);
         }},

        {"TOP_GetItem null text 1",
         [](int32_t c) { return ORQExt_TOP_GetItem(c, nullptr, "b", buf, len(8)); }},
        {"TOP_GetItem empty text 1",
         [](int32_t c) { return ORQExt_TOP_GetItem(c, "", "b", buf, len(8)); }},
        {"TOP_GetItem null text 2",
         [](int32_t c) { return ORQExt_TOP_GetItem(c, "a", nullptr, buf, len(8)); }},
        {"TOP_GetItem empty text 2",
         [](int32_t c) { return ORQExt_TOP_GetItem(c, "a", "", buf, len(8)); }},
        {"TOP_GetItem null length",
         [](int32_t c) { return ORQExt_TOP_GetItem(c, "a", "b", buf, nullptr); }},
        {"TOP_GetItem capacity 0",
         [](int32_t c) { return ORQExt_TOP_GetItem(c, "a", "b", buf, len(0)); }},
        {"TOP_GetItem null buffer with a capacity",
         [](int32_t c) { return ORQExt_TOP_GetItem(c, "a", "b", nullptr, len(8)); }},
        {"ExportSqlToFile null text 1",
         [](int32_t c) { return ORQExt_ExportSqlToFile(c, nullptr, "b", 1, "c"); }},
        {"ExportSqlToFile null text 2",
         [](int32_t c) { return ORQExt_ExportSqlToFile(c, "a", nullptr, 1, "c"); }},
        {"ExportSqlToFile null text 3",
         [](int32_t c) { return ORQExt_ExportSqlToFile(c, "a", "b", 1, nullptr); }},
        {"ExportSqlToFile value 0",
         [](int32_t c) { return ORQExt_ExportSqlToFile(c, "a", "b", 0, "c"); }},
        {"MakeTopDict null text 1", [](int32_t c) { return ORQExt_MakeTopDict(c, nullptr, "b"); }},
        {"MakeTopDict null text 2", [](int32_t c) { return ORQExt_MakeTopDict(c, "a", nullptr); }},
    };
}

TEST_F(TextDictsFrames, RefusedArgumentsGiveMinus1100AndSendNothing) {
    for (const Refused& k : refused_calls()) {
        SCOPED_TRACE(k.what);
        reset();
        EXPECT_EQ(k.call(kConn), -1100);
        EXPECT_EQ(count(Fn::Command), 0u);
    }
}

TEST_F(TextDictsFrames, RefusalsLeaveTheCallersVariablesAlone) {
    Guarded b(8);
    int32_t n = 0;
    EXPECT_EQ(ORQExt_AR_GetAllDictName(kConn, b.data(), &n), -1100);
    EXPECT_EQ(n, 0);
    int32_t a = 8, nb = 5;
    EXPECT_EQ(ORQExt_AR_Search(kConn, "t", b.data(), &a, nullptr, &nb), -1100);
    EXPECT_EQ(a, 8);
    EXPECT_EQ(nb, 5);
    int32_t cnt = INT32_MAX;
    EXPECT_EQ(ORQExt_ExtractWord_DirectNormal(kConn, kFields, b.data(), &cnt, 1, 0), -1100);
    EXPECT_EQ(cnt, INT32_MAX);
    EXPECT_EQ(b.str(), b.expect(""));
}

// With clustering on for the connection and no node hosting "KExt_NLPE",
// every call that passes its checks is refused by routing.
TEST_F(TextDictsFrames, ClusteringWithoutANodeGivesMinus1203ForEveryCall) {
    orq::settings::set_cluster_enable(true);
    int32_t conn = 4321;  // unknown handle: its record takes the setting
    for (const Golden& g : golden_frames()) {
        SCOPED_TRACE(g.what);
        reset();
        EXPECT_EQ(g.call(conn), -1203);
        EXPECT_TRUE(module_messages().empty());
    }
}

}  // namespace

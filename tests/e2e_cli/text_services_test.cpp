// The text analysis exports ("KExt_NLPE", "KExt_ARA", "KExt_KWFS") end to end
// against the simulated modules: each family's decoded replies and status
// words are checked against what the module computes from the texts sent.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e_cli/service_fixture.h"

namespace e2ecli {
namespace {

using TextServices = ServiceTest;

// ---- association-rule analysis (KExt_ARA) --------------------------------

TEST_F(TextServices, AssociationRunsCountPairsSupportAndFilter) {
    EXPECT_EQ(ORQExt_ARA_Stat_AssociatedFreq(conn_, "apple", "cherry", 1, 0), kModState) << "no run is open";
    ASSERT_EQ(ORQExt_ARA_Stat_AssociatedFreq_Begin(conn_, "r1"), 0);
    // apple->cherry and banana->cherry, and (flag 1) the reverse pairs: 4.
    EXPECT_EQ(ORQExt_ARA_Stat_AssociatedFreq(conn_, "Apple banana", "cherry", 2, 1), 4);
    // apple->cherry once more; apple->apple is no pair.
    EXPECT_EQ(ORQExt_ARA_Stat_AssociatedFreq(conn_, "apple", "cherry apple", 1, 0), 4);
    EXPECT_EQ(ORQExt_ARA_Stat_AssociatedFreq_End(conn_), 4);
    EXPECT_EQ(ORQExt_ARA_Stat_AssociatedFreq_End(conn_), kModState);
    // Counts: apple->cherry 3, cherry->apple 2, banana->cherry 2, cherry->banana 2.
    EXPECT_EQ(ORQExt_ARA_GetWordSupportRec(conn_, "r1", "cherry"), 9);
    EXPECT_EQ(ORQExt_ARA_GetWordSupportRec(conn_, "r1", "apple"), 5);
    EXPECT_EQ(ORQExt_ARA_GetWordSupportRec(conn_, "r9", "apple"), kModNotFound);
    EXPECT_EQ(ORQExt_ARA_MulMergeFile(conn_, "r1", "r2"), 4);
    EXPECT_EQ(ORQExt_ARA_MulMergeFile(conn_, "r1", "r2"), 4) << "merging again adds counts, not pairs";
    EXPECT_EQ(ORQExt_ARA_GetWordSupportRec(conn_, "r2", "banana"), 8);
    // Pairs of r1 counted at least 3 that hold apple: apple->cherry.
    EXPECT_EQ(ORQExt_ARA_Filtrate(conn_, "r1", "apple", 3), 1);
    EXPECT_EQ(ORQExt_ARA_GetWordSupportRec(conn_, "r1", "cherry"), 3);
}

// ---- keyword frequency statistics (KExt_KWFS) ------------------------------

TEST_F(TextServices, KeywordFrequenciesAndAssociations) {
    const KwfsItem items[2] = {{"The cat chased the dog", 1, "title"}, {"A cat slept", 2, nullptr}};
    // Counts without stop words: cat 1 + 2, chased 1, dog 1, slept 2.
    struct Case {
        int32_t min;
        const char* skip;
        int32_t number;
        int32_t expected;
    } cases[] = {
        {0, nullptr, 0, 4},
        {2, nullptr, 0, 2},          // cat 3, slept 2
        {3, nullptr, 0, 1},          // cat
        {0, "dog chased", 0, 2},     // the options text leaves words out
        {0, nullptr, 1, 1},          // at most `number`
    };
    for (const Case& c : cases) {
        KwfsOptions o{c.min, c.skip};
        EXPECT_EQ(ORQExt_KWFS_Frequency(conn_, items, 2, &o, c.number), c.expected)
            << "min " << c.min << " skip " << (c.skip ? c.skip : "-") << " number " << c.number;
    }
    KwfsOptions none{0, nullptr};
    EXPECT_EQ(ORQExt_KWFS_Frequency(conn_, items, 0, &none, 0), 0);
    // Words that share an item with "cat": chased 1, dog 1, slept 2.
    KwfsOptions cat{0, "cat"}, cat2{2, "Cat"}, dog{0, "dog"};
    EXPECT_EQ(ORQExt_KWFS_Associated(conn_, items, 2, &cat), 3);
    EXPECT_EQ(ORQExt_KWFS_Associated(conn_, items, 2, &cat2), 1);
    EXPECT_EQ(ORQExt_KWFS_Associated(conn_, items, 2, &dog), 2);
    EXPECT_EQ(ORQExt_KWFS_Associated(conn_, items, 2, &none), kModValue) << "no keyword named";
}

// ---- dictionaries and segmentation (engine 0) ------------------------------

TEST_F(TextServices, DictionariesImportLoadSearchAndHandles) {
    EXPECT_EQ(ORQExt_NLPE_DictLoad(conn_, "places"), kModNotFound);
    EXPECT_EQ(ORQExt_NLPE_DictImport(conn_, "places: New York, Paris"), 2);
    EXPECT_EQ(ORQExt_NLPE_DictImport(conn_, "places: paris, Rome"), 1) << "paris is there already";
    EXPECT_EQ(ORQExt_NLPE_DictImport(conn_, "no colon"), kModValue);
    EXPECT_EQ(ORQExt_NLPE_DictSearch(conn_, "paris"), 0) << "not loaded yet";
    EXPECT_EQ(ORQExt_NLPE_DictLoad(conn_, "places"), 3);
    EXPECT_EQ(ORQExt_NLPE_DictSearch(conn_, "PARIS"), 1);
    EXPECT_EQ(ORQExt_NLPE_DictSearch(conn_, "london"), 0);
    const int32_t h = ORQExt_NLPE_GetHandle(conn_, "places");
    ASSERT_GT(h, 0);
    EXPECT_NE(ORQExt_NLPE_GetHandle(conn_, "places"), h) << "each call gives a new handle";
    EXPECT_EQ(ORQExt_NLPE_GetHandle(conn_, "nope"), kModNotFound);
    EXPECT_EQ(ORQExt_NLPE_DictUnload(conn_, h), 0);
    EXPECT_EQ(ORQExt_NLPE_DictSearch(conn_, "paris"), 0);
    EXPECT_EQ(ORQExt_NLPE_DeleteHandle(conn_, h), 0);
    EXPECT_EQ(ORQExt_NLPE_DeleteHandle(conn_, h), kModNotFound);
    EXPECT_EQ(ORQExt_NLPE_DictUnload(conn_, h), kModNotFound);
}

TEST_F(TextServices, SegmentationGivesOffsetsAndLengthsOfWordsAndCharacters) {
    const std::string text = "Hello, \xE4\xB8\x96\xE7\x95\x8C! ok";  // two 3-byte characters
    int32_t items[8];
    int16_t marks[8];
    std::fill(items, items + 8, -7);
    ASSERT_EQ(ORQExt_NLPE_WordSect(conn_, text.c_str(), items, 8, 0, 0, marks, 0, 0, 0), 4);
    EXPECT_EQ(std::vector<int32_t>(items, items + 5), (std::vector<int32_t>{0, 7, 10, 15, -7}));
    EXPECT_EQ(std::vector<int16_t>(marks, marks + 4), (std::vector<int16_t>{5, 3, 3, 2}));

    // capacity - 1 entries fit the client's area.
    std::fill(items, items + 8, -7);
    EXPECT_EQ(ORQExt_NLPE_WordSect(conn_, text.c_str(), items, 3, 0, 0, marks, 0, 0, 0), 2);
    EXPECT_EQ(items[2], -7);

    // Without marks the reply lands in items as it is: the count, then the offsets.
    std::fill(items, items + 8, -7);
    EXPECT_EQ(ORQExt_NLPE_WordSect(conn_, text.c_str(), items, 8, 0, 0, nullptr, 0, 0, 0), 0);
    EXPECT_EQ(std::vector<int32_t>(items, items + 6), (std::vector<int32_t>{4, 0, 7, 10, 15, -7}));

    // A malformed multi-byte sequence is no word; a loaded dictionary keeps
    // its words whole, in any letter case.
    EXPECT_EQ(ORQExt_NLPE_WordSect(conn_, "a\xE4\xB8", items, 8, 0, 0, marks, 0, 0, 0), 1);
    ASSERT_EQ(ORQExt_NLPE_DictImport(conn_, "d: new york, \xE4\xB8\x96\xE7\x95\x8C"), 2);
    ASSERT_EQ(ORQExt_NLPE_DictLoad(conn_, "d"), 2);
    ASSERT_EQ(ORQExt_NLPE_WordSect(conn_, text.c_str(), items, 8, 0, 0, marks, 0, 0, 0), 3);
    EXPECT_EQ(marks[1], 6);
    ASSERT_EQ(ORQExt_NLPE_WordSect(conn_, "NEW YORK newyork", items, 8, 0, 0, marks, 0, 0, 0), 2);
    EXPECT_EQ(std::vector<int16_t>(marks, marks + 2), (std::vector<int16_t>{8, 7}));
}

// ---- unlabelled clustering (engine 6) and classifier (engine 3) -----------

TEST_F(TextServices, ClassifierDecodesCategoryScoresAndValues) {
    const char* fields[7] = {"The team scored a late goal", "fans cheered the players", nullptr, nullptr,
                             nullptr, nullptr, nullptr};
    char a[64], b[64];
    int32_t la = sizeof a, lb = sizeof b, va = -1, vc = -1;
    uint8_t vb = 9;
    EXPECT_EQ(ORQExt_CLA_GetClassifyResult(conn_, 0, fields, a, &la, b, &lb, &vc, &vb, &va, 0), kModState)
        << "before CLA_SetPath";
    EXPECT_EQ(va, -1);
    ASSERT_EQ(ORQExt_CLA_SetPath(conn_, nullptr), 0);
    ASSERT_EQ(ORQExt_CLA_GetClassifyResult(conn_, 0, fields, a, &la, b, &lb, &vc, &vb, &va, 0), 0);
    // team, goal and players (player + s) are sports words; 10 words in all.
    EXPECT_STREQ(a, "sports");
    EXPECT_EQ(la, 6);
    EXPECT_STREQ(b, "sports=3");
    EXPECT_EQ(lb, 8);
    EXPECT_EQ(va, 3);
    EXPECT_EQ(vb, 1);
    EXPECT_EQ(vc, 10);

    // A text longer than its buffer is cut to capacity - 1 and a NUL.
    la = 5;
    lb = sizeof b;
    ASSERT_EQ(ORQExt_CLA_GetClassifyResult(conn_, 0, fields, a, &la, b, &lb, &vc, &vb, &va, 0), 0);
    EXPECT_STREQ(a, "spor");
    EXPECT_EQ(la, 4);
    EXPECT_STREQ(b, "sports=3");
}

TEST_F(TextServices, UnlabelledClassesFollowTheMostFrequentWord) {
    char buf[64];
    int32_t len = sizeof buf;
    EXPECT_EQ(ORQExt_ClassNoLabel_GetClass(conn_, "stock", buf, &len), kModState) << "before Init";
    ASSERT_EQ(ORQExt_ClassNoLabel_Init(conn_, nullptr), 0);
    struct Case {
        const char* text;
        const char* cls;
    } cases[] = {
        {"stock market stock", "1 stock"},
        {"market market stock", "2 market"},
        {"Stock stock", "1 stock"},
        {"the market, the market", "2 market"},
    };
    for (const Case& c : cases) {
        len = sizeof buf;
        ASSERT_EQ(ORQExt_ClassNoLabel_GetClass(conn_, c.text, buf, &len), 0) << c.text;
        EXPECT_EQ(std::string(buf, static_cast<std::size_t>(len)), c.cls) << c.text;
    }
    len = sizeof buf;
    EXPECT_EQ(ORQExt_ClassNoLabel_GetClass(conn_, "the and of", buf, &len), kModValue) << "only stop words";
    ASSERT_EQ(ORQExt_ClassNoLabel_Free(conn_), 0);
}

// ---- association dictionaries (engine 1) -----------------------------------

TEST_F(TextServices, AssociationDictionariesListSearchAndCut) {
    ASSERT_EQ(ORQExt_AR_Initial(conn_), 0);
    EXPECT_EQ(ORQExt_AR_Dict_Create(conn_, "colors", "palette", "red=warm,fire; blue = cold"), 2);
    EXPECT_EQ(ORQExt_AR_Dict_Create(conn_, "colors", "x", ""), kModExists);
    EXPECT_EQ(ORQExt_AR_IsDictExist(conn_, "colors"), 1);
    EXPECT_EQ(ORQExt_AR_IsDictExist(conn_, "shapes"), 0);

    char buf[64], bufB[64];
    int32_t len = sizeof buf, lenB = sizeof bufB;
    ASSERT_EQ(ORQExt_AR_GetAllDictName(conn_, buf, &len), 0);
    EXPECT_EQ(std::string(buf, static_cast<std::size_t>(len)), "colors\n");
    len = sizeof buf;
    ASSERT_EQ(ORQExt_AR_GetAllDictNameLoaded(conn_, buf, &len), 0);
    EXPECT_EQ(len, 0);

    const char* text = "Red sky, blue sea and red sun";
    len = sizeof buf;
    ASSERT_EQ(ORQExt_AR_Search(conn_, text, buf, &len, bufB, &lenB), 0);
    EXPECT_EQ(len, 0) << "the dictionary is not loaded";
    ASSERT_EQ(ORQExt_AR_Dict_Load(conn_, "colors"), 0);
    len = sizeof buf;
    lenB = sizeof bufB;
    ASSERT_EQ(ORQExt_AR_Search(conn_, text, buf, &len, bufB, &lenB), 0);
    EXPECT_EQ(std::string(buf, static_cast<std::size_t>(len)), "red=warm,fire\nblue=cold\n");
    EXPECT_EQ(std::string(bufB, static_cast<std::size_t>(lenB)), "palette\n");

    len = sizeof buf;
    ASSERT_EQ(ORQExt_AR_GetCategoryName(conn_, buf, &len), 0);
    EXPECT_EQ(std::string(buf, static_cast<std::size_t>(len)), "palette\n");
    // Cut to the capacity, or the leading bytes with the whole length and -1107.
    len = 3;
    ASSERT_EQ(ORQExt_AR_GetAllDictName(conn_, buf, &len), 0);
    EXPECT_EQ(std::string(buf, 3), "col");
    EXPECT_EQ(len, 3);
    len = 3;
    EXPECT_EQ(ORQExt_AR_GetAllDictNameLoaded(conn_, buf, &len), -1107);
    EXPECT_EQ(std::string(buf, 3), "col");
    EXPECT_EQ(len, 7);

    EXPECT_EQ(ORQExt_AR_Dict_Import(conn_, "colors:green=calm"), 1);
    EXPECT_EQ(ORQExt_AR_Dict_Import(conn_, "shapes:x=y"), kModNotFound);
    len = sizeof buf;
    lenB = 0;  // result B not wanted
    ASSERT_EQ(ORQExt_AR_Search(conn_, "GREEN", buf, &len, bufB, &lenB), 0);
    EXPECT_EQ(std::string(buf, static_cast<std::size_t>(len)), "green=calm\n");
    ASSERT_EQ(ORQExt_AR_Dict_Unload(conn_, "colors"), 0);
    EXPECT_EQ(ORQExt_AR_Dict_Delete(conn_, "colors"), 0);
    EXPECT_EQ(ORQExt_AR_Dict_Delete(conn_, "colors"), kModNotFound);
}

// ---- aptitude search and word extraction (engines 5 and 4) ----------------

TEST_F(TextServices, AptitudeSearchFindsDictionaryWordsByPrefix) {
    char buf[64];
    int32_t len = sizeof buf;
    EXPECT_EQ(ORQExt_Aptitude_Search(conn_, "new", buf, &len), kModState) << "before Aptitude_Init";
    ASSERT_EQ(ORQExt_Aptitude_Init(conn_), 0);
    ASSERT_EQ(ORQExt_NLPE_DictImport(conn_, "w: newton, new york, apple"), 3);
    ASSERT_EQ(ORQExt_NLPE_DictLoad(conn_, "w"), 3);
    len = sizeof buf;
    ASSERT_EQ(ORQExt_Aptitude_Search(conn_, "NEW", buf, &len), 0);
    EXPECT_EQ(std::string(buf, static_cast<std::size_t>(len)), "new york\nnewton\n");
    len = 4;
    EXPECT_EQ(ORQExt_Aptitude_Search(conn_, "new", buf, &len), -1107);
    EXPECT_EQ(len, 16);
    EXPECT_EQ(std::string(buf, 4), "new ");

    int32_t items[4];
    int16_t marks[4];
    EXPECT_EQ(ORQExt_Aptitude_WordSect(conn_, "apple pie", items, 4, 0, 0, marks, 0, 0), 2);
    EXPECT_EQ(marks[0], 5);
    ASSERT_EQ(ORQExt_Aptitude_UnInit(conn_), 0);
    EXPECT_EQ(ORQExt_Aptitude_WordSect(conn_, "apple pie", items, 4, 0, 0, marks, 0, 0), kModState);
}

struct Entry {
    std::string word;
    int32_t count, offset, field, length;
};

std::vector<Entry> entries_of(const std::vector<unsigned char>& raw, int32_t n) {
    std::vector<Entry> out;
    for (int32_t i = 0; i < n; ++i) {
        const unsigned char* e = raw.data() + static_cast<std::size_t>(i) * ORQEXT_EXTRACT_ENTRY_SIZE;
        int32_t v[4];
        std::memcpy(v, e + 512, sizeof v);
        out.push_back({std::string(reinterpret_cast<const char*>(e), strnlen(reinterpret_cast<const char*>(e), 512)),
                       v[0], v[1], v[2], v[3]});
    }
    return out;
}

TEST_F(TextServices, WordExtractionCountsDistinctWords) {
    const char* fields[6] = {"Cat cat dog", "the Cat", nullptr, nullptr, nullptr, nullptr};
    std::vector<unsigned char> raw(10 * ORQEXT_EXTRACT_ENTRY_SIZE);
    int32_t count = 10;
    EXPECT_EQ(ORQExt_ExtractWord_Direct(conn_, fields, raw.data(), &count, 1, 0), kModState) << "before Initial";
    ASSERT_EQ(ORQExt_ExtractWord_Initial(conn_, 2), 0);

    // Direct keeps the letter case; flag 1 leaves stop words out; mode 2 orders by count.
    ASSERT_EQ(ORQExt_ExtractWord_Direct(conn_, fields, raw.data(), &count, 2, 1), 0);
    ASSERT_EQ(count, 3);
    std::vector<Entry> e = entries_of(raw, count);
    EXPECT_EQ(e[0].word, "Cat");
    EXPECT_EQ(e[0].count, 2);
    EXPECT_EQ(e[0].offset, 0);
    EXPECT_EQ(e[0].field, 0);
    EXPECT_EQ(e[0].length, 3);
    EXPECT_EQ(e[1].word, "cat");
    EXPECT_EQ(e[2].word, "dog");
    EXPECT_EQ(e[2].offset, 8);

    // DirectNormal lowers the case; mode 1 keeps the order of appearance.
    count = 10;
    ASSERT_EQ(ORQExt_ExtractWord_DirectNormal(conn_, fields, raw.data(), &count, 1, 0), 0);
    e = entries_of(raw, count);
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].word, "cat");
    EXPECT_EQ(e[0].count, 3);
    EXPECT_EQ(e[2].word, "the");
    EXPECT_EQ(e[2].field, 1);

    // More words than room: the first ones, the capacity kept, -1107.
    count = 2;
    EXPECT_EQ(ORQExt_ExtractWord_DirectNormal(conn_, fields, raw.data(), &count, 1, 0), -1107);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(entries_of(raw, 2)[1].word, "dog");
    ASSERT_EQ(ORQExt_ExtractWord_FreeDict(conn_), 0);
}

// ---- EZTC (engine 2) and BSM (engine 7) ------------------------------------

TEST_F(TextServices, EztcAndBsmClassify) {
    const EztcTextFields ef{"new software for the cloud", "data network", nullptr, nullptr, nullptr, nullptr};
    char buf[64];
    int32_t len = sizeof buf;
    EXPECT_EQ(ORQExt_EZTC_GetTxtClassify(conn_, 0, 0, &ef, 0, buf, &len, 0), kModState);
    ASSERT_EQ(ORQExt_EZTC_SetPath(conn_), 0);
    len = sizeof buf;
    ASSERT_EQ(ORQExt_EZTC_GetTxtClassify(conn_, 0, 0, &ef, 0, buf, &len, 0), 0);
    EXPECT_EQ(std::string(buf, static_cast<std::size_t>(len)), "technology");
    len = 4;
    ASSERT_EQ(ORQExt_EZTC_GetTxtClassify(conn_, 0, 0, &ef, 0, buf, &len, 0), 0);
    EXPECT_EQ(std::string(buf, static_cast<std::size_t>(len)), "tech");

    BsmTextFields bf{};
    bf.text1 = "The doctor saw a patient";
    char b1[32], b2[32];
    int32_t l1 = sizeof b1, l2 = sizeof b2;
    uint8_t flag = 7;
    EXPECT_EQ(ORQExt_BSM_GetClassifyResult(conn_, 0, 0, &bf, b1, &l1, b2, &l2, &flag), kModState);
    ASSERT_EQ(ORQExt_BSM_Word_Init(conn_), 0);
    ASSERT_EQ(ORQExt_BSM_GetClassifyResult(conn_, 0, 0, &bf, b1, &l1, b2, &l2, &flag), 0);
    EXPECT_EQ(std::string(b1, static_cast<std::size_t>(l1)), "health");
    EXPECT_EQ(std::string(b2, static_cast<std::size_t>(l2)), "health=2");
    EXPECT_EQ(flag, 1);
    bf.text1 = "hello there";
    l1 = sizeof b1;
    l2 = sizeof b2;
    ASSERT_EQ(ORQExt_BSM_GetClassifyResult(conn_, 0, 0, &bf, b1, &l1, b2, &l2, &flag), 0);
    EXPECT_EQ(std::string(b1, static_cast<std::size_t>(l1)), "unclassified");
    EXPECT_EQ(l2, 0);
    EXPECT_EQ(flag, 0);
}

// ---- topic lists (engine 8) ------------------------------------------------

TEST_F(TextServices, TopicDictionariesListAndItems) {
    ASSERT_EQ(ORQExt_TOP_Init(conn_, "session"), 0);
    EXPECT_EQ(ORQExt_MakeTopDict(conn_, "animals", "The cat and the dog and a bird"), 3);
    EXPECT_EQ(ORQExt_MakeTopDict(conn_, "", "x"), kModValue);
    char list[64];
    std::memset(list, 'x', sizeof list);
    ASSERT_EQ(ORQExt_TOP_List(conn_, list, sizeof list, 0), 0);
    EXPECT_STREQ(list, "animals\t3\n") << "the list ends with a NUL";
    char item[64];
    int32_t len = sizeof item;
    ASSERT_EQ(ORQExt_TOP_GetItem(conn_, "animals", "a dog chased the cat and a fish", item, &len), 0);
    EXPECT_EQ(std::string(item, static_cast<std::size_t>(len)), "dog\ncat\n");
    len = sizeof item;
    EXPECT_EQ(ORQExt_TOP_GetItem(conn_, "plants", "a dog", item, &len), kModNotFound);
    EXPECT_EQ(ORQExt_ExportSqlToFile(conn_, "select 1", "out.csv", 1, ","), 0);
    EXPECT_EQ(ORQExt_TOP_UnInit(conn_, nullptr), 0);
}

// Several threads on one connection: every answer is the one its own call
// computes (the module's state is guarded, calls do not mix).
TEST_F(TextServices, ServiceConcurrencyAnswersStayPerCall) {
    ASSERT_EQ(ORQExt_NLPE_DictImport(conn_, "base: alpha"), 1);
    std::vector<std::thread> threads;
    std::vector<int> bad(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const std::string word = "w" + std::to_string(t);
            const std::string text = std::string(static_cast<std::size_t>(t + 1), 'x') + " " + word;
            for (int i = 0; i < 25; ++i) {
                int32_t items[8];
                int16_t marks[8];
                if (ORQExt_NLPE_WordSect(conn_, text.c_str(), items, 8, 0, 0, marks, 0, 0, 0) != 2 ||
                    items[1] != t + 2 || marks[0] != t + 1)
                    ++bad[static_cast<std::size_t>(t)];
                if (ORQExt_NLPE_DictImport(conn_, ("d" + word + ": " + word + std::to_string(i)).c_str()) != 1)
                    ++bad[static_cast<std::size_t>(t)];
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(bad, std::vector<int>(4, 0));
    for (int t = 0; t < 4; ++t) EXPECT_EQ(ORQExt_NLPE_DictLoad(conn_, ("dw" + std::to_string(t)).c_str()), 25);
}

}  // namespace
}  // namespace e2ecli

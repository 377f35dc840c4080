// Argument checks of the text engine calls: every refused call returns -1100
// and sends nothing; the edge values that are allowed do send.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <vector>

#include "tests/support/fixture.h"
#include "tests/unit/text_engines/text_support.h"

using namespace text_tests;

namespace {

struct Check {
    const char* what;
    std::function<int32_t(int32_t conn)> call;
};

class TextChecksTest : public testing_support::LibraryTest {
protected:
    int32_t items[8] = {};
    int16_t marks[8] = {};
    char a[16] = {}, b[16] = {};
    int32_t lenA = 16, lenB = 16, valueA = 0, valueC = 0;
    uint8_t valueB = 0, flag = 0;
    const char* fields7[7] = {"1", "2", "3", "4", "5", "6", "7"};
    EztcTextFields eztc{};
    BsmTextFields bsm{};
    KwfsOptions options{0, nullptr};

    int32_t cla(int32_t conn, const char* const* f, char* ra, int32_t* la, char* rb, int32_t* lb, int32_t* vc,
                uint8_t* vb, int32_t* va) {
        return ORQExt_CLA_GetClassifyResult(conn, 0, f, ra, la, rb, lb, vc, vb, va, 0);
    }
    int32_t eztc_call(int32_t conn, const EztcTextFields* f, char* buf, int32_t* len) {
        return ORQExt_EZTC_GetTxtClassify(conn, 0, 0, f, 0, buf, len, 0);
    }
    int32_t bsm_call(int32_t conn, const BsmTextFields* f, char* b1, int32_t* l1, char* b2, int32_t* l2,
                     uint8_t* fl) {
        return ORQExt_BSM_GetClassifyResult(conn, 0, 0, f, b1, l1, b2, l2, fl);
    }
};

TEST_F(TextChecksTest, RefusedArgumentsGiveBadArgumentAndSendNothing) {
    const std::vector<Check> refused = {
        // Segmentation.
        {"segmentation, null text", [&](int32_t c) { return ORQExt_NLPE_WordSect(c, nullptr, items, 8, 0, 0, marks, 0, 0, 0); }},
        {"segmentation, empty text", [&](int32_t c) { return ORQExt_NLPE_WordSect(c, "", items, 8, 0, 0, marks, 0, 0, 0); }},
        {"segmentation, null items", [&](int32_t c) { return ORQExt_NLPE_WordSect(c, "t", nullptr, 8, 0, 0, marks, 0, 0, 0); }},
        {"segmentation, capacity 0 with marks", [&](int32_t c) { return ORQExt_NLPE_WordSect(c, "t", items, 0, 0, 0, marks, 0, 0, 0); }},
        {"segmentation, negative capacity with marks", [&](int32_t c) { return ORQExt_NLPE_WordSect(c, "t", items, -3, 0, 0, marks, 0, 0, 0); }},
        {"segmentation, negative capacity without marks", [&](int32_t c) { return ORQExt_NLPE_WordSect(c, "t", items, -1, 0, 0, nullptr, 0, 0, 0); }},
        {"segmentation, 6 x capacity beyond int32", [&](int32_t c) { return ORQExt_NLPE_WordSect(c, "t", items, 400000000, 0, 0, marks, 0, 0, 0); }},
        {"segmentation, 4 x capacity beyond int32", [&](int32_t c) { return ORQExt_NLPE_WordSect(c, "t", items, INT32_MAX, 0, 0, nullptr, 0, 0, 0); }},
        // Keyword frequency.
        {"frequency, null options", [&](int32_t c) { return ORQExt_KWFS_Frequency(c, nullptr, 0, nullptr, 0); }},
        {"associated, null options", [&](int32_t c) { return ORQExt_KWFS_Associated(c, nullptr, 0, nullptr); }},
        {"frequency, null list with items", [&](int32_t c) { return ORQExt_KWFS_Frequency(c, nullptr, 1, &options, 0); }},
        {"associated, null list with items", [&](int32_t c) { return ORQExt_KWFS_Associated(c, nullptr, 2, &options); }},
        // Class query.
        {"class, null text", [&](int32_t c) { return ORQExt_ClassNoLabel_GetClass(c, nullptr, a, &lenA); }},
        {"class, empty text", [&](int32_t c) { return ORQExt_ClassNoLabel_GetClass(c, "", a, &lenA); }},
        {"class, negative capacity", [&](int32_t c) { int32_t n = -1; return ORQExt_ClassNoLabel_GetClass(c, "t", a, &n); }},
        {"class, capacity without buffer", [&](int32_t c) { return ORQExt_ClassNoLabel_GetClass(c, "t", nullptr, &lenA); }},
        // Classification.
        {"classify, null fields", [&](int32_t c) { return cla(c, nullptr, a, &lenA, b, &lenB, &valueC, &valueB, &valueA); }},
        {"classify, null resultA", [&](int32_t c) { return cla(c, fields7, nullptr, &lenA, b, &lenB, &valueC, &valueB, &valueA); }},
        {"classify, null resultB", [&](int32_t c) { return cla(c, fields7, a, &lenA, nullptr, &lenB, &valueC, &valueB, &valueA); }},
        {"classify, null resultALen", [&](int32_t c) { return cla(c, fields7, a, nullptr, b, &lenB, &valueC, &valueB, &valueA); }},
        {"classify, null resultBLen", [&](int32_t c) { return cla(c, fields7, a, &lenA, b, nullptr, &valueC, &valueB, &valueA); }},
        {"classify, null valueC", [&](int32_t c) { return cla(c, fields7, a, &lenA, b, &lenB, nullptr, &valueB, &valueA); }},
        {"classify, null valueB", [&](int32_t c) { return cla(c, fields7, a, &lenA, b, &lenB, &valueC, nullptr, &valueA); }},
        {"classify, null valueA", [&](int32_t c) { return cla(c, fields7, a, &lenA, b, &lenB, &valueC, &valueB, nullptr); }},
        {"classify, capacity A 0", [&](int32_t c) { int32_t n = 0; return cla(c, fields7, a, &n, b, &lenB, &valueC, &valueB, &valueA); }},
        {"classify, capacity B 0", [&](int32_t c) { int32_t n = 0; return cla(c, fields7, a, &lenA, b, &n, &valueC, &valueB, &valueA); }},
        {"classify, negative capacity A", [&](int32_t c) { int32_t n = -5; return cla(c, fields7, a, &n, b, &lenB, &valueC, &valueB, &valueA); }},
        {"classify, area beyond int32", [&](int32_t c) {
             int32_t x = INT32_MAX, y = INT32_MAX;
             return cla(c, fields7, a, &x, b, &y, &valueC, &valueB, &valueA);
         }},
        // EZTC.
        {"eztc, null buffer", [&](int32_t c) { return eztc_call(c, &eztc, nullptr, &lenA); }},
        {"eztc, null fields", [&](int32_t c) { return eztc_call(c, nullptr, a, &lenA); }},
        {"eztc, null length", [&](int32_t c) { return eztc_call(c, &eztc, a, nullptr); }},
        {"eztc, negative capacity", [&](int32_t c) { int32_t n = -1; return eztc_call(c, &eztc, a, &n); }},
        {"eztc, area beyond int32", [&](int32_t c) { int32_t n = INT32_MAX; return eztc_call(c, &eztc, a, &n); }},
        // BSM.
        {"bsm, null buffer 1", [&](int32_t c) { return bsm_call(c, &bsm, nullptr, &lenA, b, &lenB, &flag); }},
        {"bsm, null fields", [&](int32_t c) { return bsm_call(c, nullptr, a, &lenA, b, &lenB, &flag); }},
        {"bsm, null length 1", [&](int32_t c) { return bsm_call(c, &bsm, a, nullptr, b, &lenB, &flag); }},
        {"bsm, null length 2", [&](int32_t c) { return bsm_call(c, &bsm, a, &lenA, b, nullptr, &flag); }},
        {"bsm, null flag", [&](int32_t c) { return bsm_call(c, &bsm, a, &lenA, b, &lenB, nullptr); }},
        {"bsm, negative capacity 1", [&](int32_t c) { int32_t n = -1; return bsm_call(c, &bsm, a, &n, b, &lenB, &flag); }},
        {"bsm, negative capacity 2", [&](int32_t c) { int32_t n = -1; return bsm_call(c, &bsm, a, &lenA, b, &n, &flag); }},
        {"bsm, capacity 2 without buffer 2", [&](int32_t c) { return bsm_call(c, &bsm, a, &lenA, nullptr, &lenB, &flag); }},
        {"bsm, area beyond int32", [&](int32_t c) {
             int32_t x = INT32_MAX - 100, y = 100;
             return bsm_call(c, &bsm, a, &x, b, &y, &flag);
         }},
    };
    // The checks come before routing: with clustering on and no node the
    // answer is still -1100.
    for (bool clustered : {false, true}) {
        orq::settings::set_cluster_enable(clustered);
        const int32_t conn = clustered ? 4343 : connect();
        for (const Check& k : refused) {
            SCOPED_TRACE(std::string(k.what) + (clustered ? " (clustered)" : ""));
            xsrdouble::reset();
            lenA = lenB = 16;
            EXPECT_EQ(k.call(conn), -1100);
            EXPECT_EQ(xsrdouble::count(xsrdouble::Fn::Command), 0u);
            EXPECT_EQ(lenA, 16);
            EXPECT_EQ(lenB, 16);
        }
    }
}

TEST_F(TextChecksTest, EdgeValuesThatAreAllowedAreSent) {
    const std::vector<Check> allowed = {
        {"segmentation, capacity 0 without marks", [&](int32_t c) { return ORQExt_NLPE_WordSect(c, "t", items, 0, 0, 0, nullptr, 0, 0, 0); }},
        {"frequency, count 0 and no list", [&](int32_t c) { return ORQExt_KWFS_Frequency(c, nullptr, 0, &options, 0); }},
        {"associated, negative count and no list", [&](int32_t c) { return ORQExt_KWFS_Associated(c, nullptr, -1, &options); }},
        {"class, no length", [&](int32_t c) { return ORQExt_ClassNoLabel_GetClass(c, "t", nullptr, nullptr); }},
        {"class, capacity 0 without buffer", [&](int32_t c) { int32_t n = 0; return ORQExt_ClassNoLabel_GetClass(c, "t", nullptr, &n); }},
        {"classify, capacities of 1", [&](int32_t c) { int32_t x = 1, y = 1; return cla(c, fields7, a, &x, b, &y, &valueC, &valueB, &valueA); }},
        {"classify, null strings among the fields", [&](int32_t c) {
             const char* none[7] = {};
             return cla(c, none, a, &lenA, b, &lenB, &valueC, &valueB, &valueA);
         }},
        {"eztc, capacity 0", [&](int32_t c) { int32_t n = 0; return eztc_call(c, &eztc, a, &n); }},
        {"bsm, no second buffer with capacity 0", [&](int32_t c) { int32_t n = 0; return bsm_call(c, &bsm, a, &lenA, nullptr, &n, &flag); }},
        {"bsm, capacity 1 of 0", [&](int32_t c) { int32_t n = 0; return bsm_call(c, &bsm, a, &n, b, &lenB, &flag); }},
        // Calls that check nothing send even null strings (as empty fields).
        {"merge files, null names", [&](int32_t c) { return ORQExt_ARA_MulMergeFile(c, nullptr, nullptr); }},
        {"dictionary handle, null name", [&](int32_t c) { return ORQExt_NLPE_GetHandle(c, nullptr); }},
        {"classifier path, null path", [&](int32_t c) { return ORQExt_CLA_SetPath(c, nullptr); }},
    };
    const int32_t conn = connect();
    for (const Check& k : allowed) {
        SCOPED_TRACE(k.what);
        xsrdouble::reset();
        EXPECT_NE(k.call(conn), -1100);
        EXPECT_EQ(module_messages().size(), 1u) << "exactly one message sent";
    }
}

// The smallest accepted capacities: EZTC with capacity 0 has a 5-byte area
// that holds an empty answer; the classification area (capA + capB + 10) holds
// the 17-byte fixed part only from capA + capB = 7 on.
TEST_F(TextChecksTest, SmallestAreasDecodeEmptyAnswers) {
    const int32_t conn = connect();
    char buf[4] = {'z', 'z', 'z', 'z'};
    int32_t n = 0;
    xsrdouble::push(xsrdouble::ok(le32(0)));
    EXPECT_EQ(eztc_call(conn, &eztc, buf, &n), 0);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(buf[0], 'z');

    const std::string empty_texts = le32(0) + le32(0) + le32(4) + byte(5) + le32(6);
    struct {
        int32_t capA, capB, rc;
    } cases[] = {{1, 1, -1107}, {3, 3, -1107}, {4, 3, 0}, {1, 6, 0}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.capA * 100 + k.capB);
        xsrdouble::reset();
        xsrdouble::push(xsrdouble::ok(empty_texts));
        int32_t x = k.capA, y = k.capB;
        valueA = 0;
        a[0] = 'z';
        EXPECT_EQ(cla(conn, fields7, a, &x, b, &y, &valueC, &valueB, &valueA), k.rc);
        EXPECT_EQ(x, k.rc == 0 ? 0 : k.capA);
        EXPECT_EQ(valueA, k.rc == 0 ? 4 : 0);
        EXPECT_EQ(a[0], k.rc == 0 ? '\0' : 'z');
    }
}

}  // namespace

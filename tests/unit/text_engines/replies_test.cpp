// The reply decoders of the segmentation, classification, EZTC and BSM calls
// and the pass-through of the class query, against scripted replies: normal
// replies, cuts, replies too long for the area, negative lengths, lengths
// past the bytes received and non-zero statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "tests/unit/text_engines/text_support.h"

using namespace text_tests;
using xsrdouble::Reply;

namespace {

constexpr int32_t kItemSentinel = 0x5A5A5A5A;
constexpr int16_t kMarkSentinel = 0x5A5A;
constexpr char kFill = 'z';

Reply answer(const std::string& bytes) { return xsrdouble::ok(bytes); }
Reply status(int32_t rc, const std::string& bytes = std::string()) { return Reply{rc, bytes, -1}; }
// A reply whose bytes are written but whose reported length is `reported`.
Reply reported(const std::string& bytes, int32_t reported) { return Reply{0, bytes, reported}; }

// --- Segmentation ----------------------------------------------------------

std::string segmentation(int32_t count, const std::vector<int32_t>& items,
                         const std::vector<int16_t>& marks) {
    std::string s = le32(count);
    for (int32_t v : items) s += le32(v);
    for (int16_t v : marks) s += le16(v);
    return s;
}

struct SegCase {
    const char* what;
    int32_t capacity;
    Reply reply;
    int32_t rc;
    std::vector<int32_t> items;  // expected leading entries; the rest keep the sentinel
    std::vector<int16_t> marks;
    std::vector<Reply> then = {};  // the replies to the calls that follow a pending answer or a part
};

// The module message of NLPE_WordSect with marks for `text`, options 0.
std::string wordsect_message(const std::string& text, int32_t capacity) {
    return message("KExt_NLPE", head(0, "NLPE_WordSect") + cstr(text.c_str()) + le32(capacity) + le32(0) +
                                    le32(0) + le32(0) + byte(0) + byte(0) + byte(1));
}

// A text of n bytes, no NUL.
std::string words(std::size_t n) {
    std::string s(n, ' ');
    for (std::size_t i = 0; i < n; ++i)
        if (i % 6 != 5) s[i] = static_cast<char>('a' + i % 26);
    return s;
}

class TextRepliesTest : public testing_support::LibraryTest {};

TEST_F(TextRepliesTest, SegmentationWithMarksDecodesWithinCapacityAndReceivedBytes) {
    const SegCase cases[] = {
        {"three entries", 5, answer(segmentation(3, {10, -20, 30}, {1, -2, 3})), 3, {10, -20, 30}, {1, -2, 3}},
        {"capacity - 1 entries fill the area", 5, answer(segmentation(4, {1, 2, 3, 4}, {5, 6, 7, 8})), 4,
         {1, 2, 3, 4}, {5, 6, 7, 8}},
        {"the 30-byte area takes a 30-byte reply", 5,
         answer(segmentation(4, {1, 2, 3, 4}, {5, 6, 7, 8}) + "!!"), 4, {1, 2, 3, 4}, {5, 6, 7, 8}},
        {"count 0", 5, answer(segmentation(0, {}, {})), 0, {}, {}},
        {"empty reply reads count 0", 5, answer(""), 0, {}, {}},
        // The count is read from the zero-filled area however few bytes came:
        // 01 00 announces one entry, whose bytes were never received.
        {"reply shorter than the count", 5, answer("\x01\x00"), -1107, {}, {}},
        {"a zero count in fewer than four bytes", 5, answer(std::string("\x00\x00", 2)), 0, {}, {}},
        {"capacity entries do not fit the area", 5,
         answer(segmentation(5, {1, 2, 3, 4, 5}, {1, 2, 3, 4, 5})), -1107, {}, {}},
        {"count = capacity, entries cut off", 5, answer(segmentation(5, {1, 2, 3, 4, 5}, {1, 2, 3})), -1107, {}, {}},
        {"negative count", 5, answer(segmentation(-1, {1}, {1})), -1107, {}, {}},
        {"huge count", 5, answer(segmentation(0x7FFFFFFF, {1, 2}, {1, 2})), -1107, {}, {}},
        {"entries past the received bytes", 5,
         answer(segmentation(3, {1, 2, 3}, {1, 2, 3}).substr(0, 21)), -1107, {}, {}},
        {"reported length shorter than the entries", 5,
         reported(segmentation(3, {1, 2, 3}, {1, 2, 3}), 10), -1107, {}, {}},
        // A client library that writes past the length it reports: what it
        // wrote past it is not read, not even in the count field.
        {"reported length inside the count: the rest of the count reads as zeros", 5,
         reported(le32(0x0300) + le32(1) + le32(2) + le32(3), 1), 0, {}, {}},
        {"reported length of nothing", 5, reported(segmentation(2, {1, 2}, {3, 4}), 0), 0, {}, {}},
        {"failure code returned, arrays untouched", 5, xsrdouble::fail(-77, segmentation(1, {9}, {9})), -77, {}, {}},
        {"positive status, small area: nothing copied, count 0", 5,
         status(7, segmentation(2, {1, 2}, {3, 4})), 0, {}, {}},
        {"positive status, direct area: the count is returned", 25,
         status(7, segmentation(2, {1, 2}, {3, 4})), 2, {1, 2}, {3, 4}},
        {"the 126-byte area of capacity 21 takes 20 entries", 21,
         answer(segmentation(20, std::vector<int32_t>(20, -7), std::vector<int16_t>(20, 9))), 20,
         std::vector<int32_t>(20, -7), std::vector<int16_t>(20, 9)},
        {"pending, then the whole answer", 5, xsrdouble::pending(1, 2), 2, {7, 8}, {9, 10},
         {answer(segmentation(2, {7, 8}, {9, 10}))}},
        {"pending, then a failure: arrays untouched", 5, xsrdouble::pending(1, 2), -31, {}, {},
         {xsrdouble::fail(-31, segmentation(2, {7, 8}, {9, 10}))}},
        {"an answer in two parts", 5, xsrdouble::part(segmentation(2, {7, 8}, {9, 10}).substr(0, 7)), 2,
         {7, 8}, {9, 10}, {answer(segmentation(2, {7, 8}, {9, 10}).substr(7))}},
        {"parts longer than the area", 5, xsrdouble::part(segmentation(4, {1, 2, 3, 4}, {1, 2, 3, 4})), -1107,
         {}, {}, {answer(std::string(20, 'x'))}},
    };
    // The same replies through both ways a call is sent: a text short enough
    // to be composed on the stack, and one long enough to need a frame of its
    // own.
    const int32_t conn = connect();
    for (const std::string& text : {std::string("text"), words(5000)}) {
        for (const SegCase& k : cases) {
            SCOPED_TRACE(testing::Message() << k.what << ", text of " << text.size() << " bytes");
            xsrdouble::reset();
            xsrdouble::push(k.reply);
            for (const Reply& r : k.then) xsrdouble::push(r);
            std::vector<int32_t> items(32, kItemSentinel);
            std::vector<int16_t> marks(32, kMarkSentinel);
            EXPECT_EQ(ORQExt_NLPE_WordSect(conn, text.c_str(), items.data(), k.capacity, 0, 0, marks.data(), 0,
                                           0, 0),
                      k.rc);
            for (std::size_t i = 0; i < items.size(); ++i) {
                EXPECT_EQ(items[i], i < k.items.size() ? k.items[i] : kItemSentinel) << "item " << i;
                EXPECT_EQ(marks[i], i < k.marks.size() ? k.marks[i] : kMarkSentinel) << "mark " << i;
            }
            const std::vector<xsrdouble::Call> sent = module_messages();
            ASSERT_FALSE(sent.empty());
            EXPECT_EQ(sent[0].body, wordsect_message(text, k.capacity));
            EXPECT_EQ(sent[0].capacity, std::max(128, 6 * k.capacity));
        }
    }
}

// Texts of every length around the most a message composed on the stack
// holds (4 KiB, and far beyond it), with capacities whose answer is received
// in the exchange's local area (up to 21 entries), in the reply area on the
// stack (up to 8 KiB: 700 entries take 4,200 bytes) and on the heap (1,400
// entries, 8,400 bytes): each call sends exactly its message and decodes its
// answer, whichever way it went.
TEST_F(TextRepliesTest, SegmentationSendsTheWholeTextWhateverItsLength) {
    const int32_t conn = connect();
    std::vector<std::size_t> lengths = {1, 15, 16, 17, 43, 500, 1000, 70000};
    for (std::size_t n = 4002; n <= 4082; ++n) lengths.push_back(n);
    for (const int32_t capacity : {2, 21, 22, 64, 700, 1400}) {
        for (const std::size_t n : lengths) {
            SCOPED_TRACE(testing::Message() << "text of " << n << " bytes, capacity " << capacity);
            const std::string text = words(n);
            // As many entries as the capacity's area holds (its count comes first).
            const int32_t count = capacity - 1;
            std::vector<int32_t> want_items;
            std::vector<int16_t> want_marks;
            for (int32_t i = 0; i < count; ++i) {
                want_items.push_back(static_cast<int32_t>(n) + i);
                want_marks.push_back(static_cast<int16_t>(-i));
            }
            xsrdouble::reset();
            xsrdouble::push(answer(segmentation(count, want_items, want_marks)));
            std::vector<int32_t> items(static_cast<std::size_t>(capacity) + 3, kItemSentinel);
            std::vector<int16_t> marks(static_cast<std::size_t>(capacity) + 3, kMarkSentinel);
            ASSERT_EQ(ORQExt_NLPE_WordSect(conn, text.c_str(), items.data(), capacity, 0, 0, marks.data(), 0, 0,
                                           0),
                      count);
            for (std::size_t i = 0; i < items.size(); ++i) {
                EXPECT_EQ(items[i], i < want_items.size() ? want_items[i] : kItemSentinel) << "item " << i;
                EXPECT_EQ(marks[i], i < want_marks.size() ? want_marks[i] : kMarkSentinel) << "mark " << i;
            }
            const std::vector<xsrdouble::Call> sent = module_messages();
            ASSERT_EQ(sent.size(), 1u);
            ASSERT_EQ(sent[0].body, wordsect_message(text, capacity));
        }
    }
}

TEST_F(TextRepliesTest, SegmentationWithoutMarksReceivesStraightIntoItems) {
    const int32_t conn = connect();
    std::vector<int32_t> items(8, kItemSentinel);

    xsrdouble::push(status(9, le32(1) + le32(2)));
    EXPECT_EQ(ORQExt_NLPE_WordSect(conn, "t", items.data(), 4, 0, 0, nullptr, 0, 0, 0), 9);
    EXPECT_EQ(items[0], kItemSentinel);  // small area: nothing copied with a status word

    xsrdouble::push(answer(le32(1) + le32(2) + le32(3)));
    EXPECT_EQ(ORQExt_NLPE_WordSect(conn, "t", items.data(), 2, 0, 0, nullptr, 0, 0, 0), -1107);
    EXPECT_EQ(items[0], 1);
    EXPECT_EQ(items[1], 2);
    EXPECT_EQ(items[2], kItemSentinel);  // 4 x capacity bytes, no more

    xsrdouble::push(answer(le32(-4)));
    EXPECT_EQ(ORQExt_NLPE_WordSect(conn, "t", items.data(), 2, 0, 0, nullptr, 0, 0, 0), 0);
    EXPECT_EQ(items[0], -4);
}

// --- Classification ----------------------------------------------------------

std::string classification(int32_t lenA, int32_t lenB, int32_t valueA, uint8_t valueB, int32_t valueC,
                           const std::string& texts) {
    return le32(lenA) + le32(lenB) + le32(valueA) + byte(valueB) + le32(valueC) + texts;
}

struct ClaCase {
    const char* what;
    int32_t capA, capB;
    Reply reply;
    int32_t rc;
    bool decoded;
    std::string textA, textB;  // expected buffer contents, NUL included
    int32_t valueA;
    uint8_t valueB;
    int32_t valueC;
};

TEST_F(TextRepliesTest, ClassificationCutsTextsAndRefusesInconsistentLengths) {
    const ClaCase cases[] = {
        {"normal", 10, 10, answer(classification(3, 2, 5, 6, 0x01020304, "abcde")), 0, true,
         std::string("abc\0", 4), std::string("de\0", 3), 5, 6, 0x01020304},
        {"text A cut, text B after the whole of text A", 5, 20,
         answer(classification(12, 3, -1, 0xFF, -2, "abcdefghijklxyz")), 0, true, std::string("abcd\0", 5),
         std::string("xyz\0", 4), -1, 0xFF, -2},
        {"text B cut", 10, 3, answer(classification(1, 5, 0, 0, 0, "a12345")), 0, true, std::string("a\0", 2),
         std::string("12\0", 3), 0, 0, 0},
        {"text B cut, its tail not received", 10, 3, answer(classification(1, 500, 0, 0, 0, "a12")), 0, true,
         std::string("a\0", 2), std::string("12\0", 3), 0, 0, 0},
        {"empty texts", 4, 4, answer(classification(0, 0, 8, 9, 10, "")), 0, true, std::string(1, '\0'),
         std::string(1, '\0'), 8, 9, 10},
        {"positive status", 10, 10, status(1, classification(1, 1, 1, 1, 1, "ab")), 1, false, "", "", 0, 0, 0},
        {"failure code", 10, 10, xsrdouble::fail(-9, classification(1, 1, 1, 1, 1, "ab")), -9, false, "", "", 0,
         0, 0},
        {"a reply of exactly the 50-byte area", 20, 20,
         answer(classification(19, 14, 1, 2, 3, std::string(19, 'A') + std::string(14, 'B'))), 0, true,
         std::string(19, 'A') + std::string(1, '\0'), std::string(14, 'B') + std::string(1, '\0'), 1, 2, 3},
        {"reply longer than the 50-byte area", 20, 20,
         answer(classification(20, 20, 1, 1, 1, std::string(40, 'x'))), -1107, false, "", "", 0, 0, 0},
        {"negative lenA", 10, 10, answer(classification(-1, 1, 1, 1, 1, "ab")), -1107, false, "", "", 0, 0, 0},
        {"negative lenB", 10, 10, answer(classification(1, -3, 1, 1, 1, "ab")), -1107, false, "", "", 0, 0, 0},
        {"text A past the received bytes", 10, 10, answer(classification(8, 0, 1, 1, 1, "abc")), -1107, false,
         "", "", 0, 0, 0},
        {"huge lenA", 10, 10, answer(classification(0x7FFFFFFF, 0, 1, 1, 1, "abcdefghij")), -1107, false, "", "",
         0, 0, 0},
        {"text B past the received bytes", 10, 10, answer(classification(1, 4, 1, 1, 1, "a12")), -1107, false, "",
         "", 0, 0, 0},
        {"reported length cuts text A", 10, 10, reported(classification(3, 0, 1, 1, 1, "abc"), 18), -1107, false,
         "", "", 0, 0, 0},
        {"reply shorter than its fixed part", 10, 10, answer(classification(0, 0, 1, 1, 1, "").substr(0, 16)),
         -1107, false, "", "", 0, 0, 0},
    };
    const int32_t conn = connect();
    const char* fields[7] = {"1", "2", "3", "4", "5", "6", "7"};
    for (const ClaCase& k : cases) {
        SCOPED_TRACE(k.what);
        xsrdouble::reset();
        xsrdouble::push(k.reply);
        std::string a(32, kFill), b(32, kFill);
        int32_t lenA = k.capA, lenB = k.capB, valueA = -1111, valueC = -2222;
        uint8_t valueB = 0xEE;
        EXPECT_EQ(ORQExt_CLA_GetClassifyResult(conn, 0, fields, &a[0], &lenA, &b[0], &lenB, &valueC, &valueB,
                                               &valueA, 0),
                  k.rc);
        if (!k.decoded) {
            EXPECT_EQ(a, std::string(32, kFill));
            EXPECT_EQ(b, std::string(32, kFill));
            EXPECT_EQ(lenA, k.capA);
            EXPECT_EQ(lenB, k.capB);
            EXPECT_EQ(valueA, -1111);
            EXPECT_EQ(valueB, 0xEE);
            EXPECT_EQ(valueC, -2222);
            continue;
        }
        EXPECT_EQ(a, k.textA + std::string(32 - k.textA.size(), kFill));
        EXPECT_EQ(b, k.textB + std::string(32 - k.textB.size(), kFill));
        EXPECT_EQ(lenA, static_cast<int32_t>(k.textA.size()) - 1);
        EXPECT_EQ(lenB, static_cast<int32_t>(k.textB.size()) - 1);
        EXPECT_EQ(valueA, k.valueA);
        EXPECT_EQ(valueB, k.valueB);
        EXPECT_EQ(valueC, k.valueC);
    }
}

// --- EZTC --------------------------------------------------------------------

struct EztcCase {
    const char* what;
    Reply reply;
    int32_t rc;
    int32_t length;     // expected length variable
    std::string bytes;  // expected leading buffer bytes; the rest keep the fill
};

TEST_F(TextRepliesTest, EztcCutsTheAnswerToTheCapacity) {
    constexpr int32_t kCap = 10;  // reply area of 15 bytes
    const EztcCase cases[] = {
        {"short answer", answer(le32(4) + "abcd"), 0, 4, "abcd"},
        {"announced 25 in a 15-byte reply: cut to 10", answer(le32(25) + "0123456789X"), 0, 10, "0123456789"},
        {"exactly the capacity", answer(le32(10) + "0123456789"), 0, 10, "0123456789"},
        {"empty answer", answer(le32(0)), 0, 0, ""},
        {"empty reply reads L 0", answer(""), 0, 0, ""},
        {"negative L", answer(le32(-1) + "abc"), -1107, kCap, ""},
        {"answer past the received bytes", answer(le32(8) + "abcde"), -1107, kCap, ""},
        {"reported length shorter than the answer", reported(le32(10) + "0123456789", 6), -1107, kCap, ""},
        {"reply longer than the area", answer(le32(12) + "0123456789AB"), -1107, kCap, ""},
        {"positive status", status(3, le32(2) + "ab"), 3, kCap, ""},
        {"failure code", xsrdouble::fail(-1203), -1203, kCap, ""},
    };
    const int32_t conn = connect();
    const EztcTextFields fields{"1", "2", "3", "4", "5", "6"};
    for (const EztcCase& k : cases) {
        SCOPED_TRACE(k.what);
        xsrdouble::reset();
        xsrdouble::push(k.reply);
        std::string buf(16, kFill);
        int32_t length = kCap;
        EXPECT_EQ(ORQExt_EZTC_GetTxtClassify(conn, 0, 0, &fields, 0, &buf[0], &length, 0), k.rc);
        EXPECT_EQ(length, k.length);
        EXPECT_EQ(buf, k.bytes + std::string(16 - k.bytes.size(), kFill));
    }
}

// --- BSM ---------------------------------------------------------------------

std::string bsm(int32_t len1, const std::string& t1, int32_t len2, const std::string& t2, int32_t f) {
    return le32(0x7777) + le32(len1) + t1 + le32(len2) + t2 + le32(f);
}

struct BsmCase {
    const char* what;
    Reply reply;
    int32_t rc;
    bool decoded;
    int32_t length1, length2;
    std::string bytes1, bytes2;
    uint8_t flag;
};

TEST_F(TextRepliesTest, BsmDeliversBothAnswersWithinTheirCapacities) {
    constexpr int32_t kCap1 = 8, kCap2 = 6;
    const BsmCase cases[] = {
        {"normal, F 5 sets the flag", answer(bsm(3, "abc", 2, "de", 5)), 0, true, 3, 2, "abc", "de", 1},
        {"F 0 clears the flag", answer(bsm(1, "a", 1, "b", 0)), 0, true, 1, 1, "a", "b", 0},
        {"empty answers", answer(bsm(0, "", 0, "", -1)), 0, true, 0, 0, "", "", 1},
        {"first answer over its capacity: cut, length tells, -1107", answer(bsm(10, "0123456789", 2, "de", 1)),
         -1107, true, 10, 2, "01234567", "de", 1},
        {"second answer over its capacity", answer(bsm(1, "a", 7, "ABCDEFG", 0)), -1107, true, 1, 7, "a", "ABCDEF",
         0},
        {"negative L1", answer(bsm(-1, "", 0, "", 1)), -1107, false, 0, 0, "", "", 0},
        {"negative L2", answer(bsm(0, "", -2, "", 1)), -1107, false, 0, 0, "", "", 0},
        {"L1 past the received bytes", answer(bsm(100, "abc", 0, "", 1)), -1107, false, 0, 0, "", "", 0},
        {"F not received", answer(bsm(1, "a", 1, "b", 1).substr(0, 16)), -1107, false, 0, 0, "", "", 0},
        {"reply shorter than L1", answer(le32(0) + "\x01"), -1107, false, 0, 0, "", "", 0},
        {"reported length cuts the second answer", reported(bsm(1, "a", 2, "bc", 1), 14), -1107, false, 0, 0, "",
         "", 0},
        {"positive status", status(2, bsm(1, "a", 1, "b", 1)), 2, false, 0, 0, "", "", 0},
        {"failure code", xsrdouble::fail(-4100), -4100, false, 0, 0, "", "", 0},
    };
    const int32_t conn = connect();
    const BsmTextFields fields{"1", "2", "3", "4", "5", "6", "7", "8"};
    for (const BsmCase& k : cases) {
        SCOPED_TRACE(k.what);
        xsrdouble::reset();
        xsrdouble::push(k.reply);
        std::string b1(16, kFill), b2(16, kFill);
        int32_t length1 = kCap1, length2 = kCap2;
        uint8_t flag = 0xEE;
        EXPECT_EQ(ORQExt_BSM_GetClassifyResult(conn, 0, 0, &fields, &b1[0], &length1, &b2[0], &length2, &flag),
                  k.rc);
        if (!k.decoded) {
            EXPECT_EQ(length1, kCap1);
            EXPECT_EQ(length2, kCap2);
            EXPECT_EQ(flag, 0xEE);
            EXPECT_EQ(b1, std::string(16, kFill));
            EXPECT_EQ(b2, std::string(16, kFill));
            continue;
        }
        EXPECT_EQ(length1, k.length1);
        EXPECT_EQ(length2, k.length2);
        EXPECT_EQ(flag, k.flag);
        EXPECT_EQ(b1, k.bytes1 + std::string(16 - k.bytes1.size(), kFill));
        EXPECT_EQ(b2, k.bytes2 + std::string(16 - k.bytes2.size(), kFill));
    }
}

TEST_F(TextRepliesTest, BsmWithoutSecondBufferAcceptsOnlyAnEmptySecondAnswer) {
    const int32_t conn = connect();
    const BsmTextFields fields{};
    char b1[8] = {};
    int32_t length1 = 8, length2 = 0;
    uint8_t flag = 0;

    xsrdouble::push(answer(bsm(2, "ab", 0, "", 1)));
    EXPECT_EQ(ORQExt_BSM_GetClassifyResult(conn, 0, 0, &fields, b1, &length1, nullptr, &length2, &flag), 0);
    EXPECT_EQ(length2, 0);
    EXPECT_EQ(flag, 1);

    length1 = 8;
    xsrdouble::push(answer(bsm(2, "ab", 3, "xyz", 1)));
    EXPECT_EQ(ORQExt_BSM_GetClassifyResult(conn, 0, 0, &fields, b1, &length1, nullptr, &length2, &flag), -1107);
    EXPECT_EQ(length2, 3);  // nothing written to the missing buffer; the length tells
}

// --- Class query: the caller's buffer is the reply buffer ------------------------

TEST_F(TextRepliesTest, ClassQueryHandsTheCallersBufferToTheExchange) {
    const int32_t conn = connect();
    struct Case {
        const char* what;
        int32_t capacity;
        Reply reply;
        int32_t rc;
        int32_t length;
        std::string bytes;
    } cases[] = {
        {"fits", 20, answer("class-7"), 0, 7, "class-7"},
        {"cut to a small capacity", 4, answer("class-7"), -1107, 7, "clas"},
        {"positive status: nothing copied", 20, status(5, "xx"), 5, 2, ""},
        {"direct buffer", 200, answer("c"), 0, 1, "c"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        xsrdouble::reset();
        xsrdouble::push(k.reply);
        std::string buf(256, kFill);
        int32_t length = k.capacity;
        EXPECT_EQ(ORQExt_ClassNoLabel_GetClass(conn, "doc", &buf[0], &length), k.rc);
        EXPECT_EQ(length, k.length);
        EXPECT_EQ(buf.substr(0, k.bytes.size() + 1), k.bytes + std::string(1, kFill));
    }
    // Without a length the reply is dropped.
    xsrdouble::reset();
    xsrdouble::push(answer("dropped"));
    std::string buf(8, kFill);
    EXPECT_EQ(ORQExt_ClassNoLabel_GetClass(conn, "doc", &buf[0], nullptr), 0);
    EXPECT_EQ(buf, std::string(8, kFill));
}

}  // namespace

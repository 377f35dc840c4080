// Reply decoding of the association dictionary, aptitude, extraction and
// topic calls: normal replies, cuts, over-long and negative lengths, lengths
// past the bytes received, statuses returned without decoding; and the sizes
// of the reply areas.
#include <climits>

#include "tests/unit/text_dicts/dicts_support.h"

using namespace dicts_test;
using namespace xsrdouble;

namespace {

using TextDictsReplies = DictsTest;

// ---------------------------------------------------------------------------
// Name lists

using NameListFn = int32_t(ORQEXT_CALL*)(int32_t, char*, int32_t*);

struct NameListExport {
    const char* name;
    NameListFn fn;
    bool cut;  // a longer list is cut to the capacity (else: -1107 with its length)
};

const NameListExport kNameLists[] = {
    {"AR_GetAllDictName", ORQExt_AR_GetAllDictName, true},
    {"AR_GetAllDictNameLoaded", ORQExt_AR_GetAllDictNameLoaded, false},
    {"AR_GetCategoryName", ORQExt_AR_GetCategoryName, false},
};

struct NameCase {
    const char* what;
    int32_t cap;
    Reply reply;
    int32_t rc;
    int32_t length;      // the length variable afterwards
    std::string stored;  // the buffer's leading bytes afterwards; the rest untouched
};

const NameCase kNameCases[] = {
    {"L 3 into 10: 3 bytes, the rest untouched", 10, ok(counted("abc")), 0, 3, "abc"},
    {"exactly the capacity", 6, ok(counted("abcdef")), 0, 6, "abcdef"},
    {"L 0", 10, ok(counted("")), 0, 0, ""},
    {"empty reply reads as L 0", 10, ok(""), 0, 0, ""},
    {"large capacity, direct area", 300, ok(counted(std::string(250, 'n'))), 0, 250,
     std::string(250, 'n')},
    {"negative L", 10, ok(le32(-1) + "abcdef"), -1107, 10, ""},
    {"L INT32_MIN", 10, ok(le32(INT32_MIN)), -1107, 10, ""},
    {"L past the bytes received", 10, ok(le32(6) + "ab"), -1107, 10, ""},
    {"positive status: nothing decoded", 10, Reply{5, counted("abc"), -1}, 5, 10, ""},
    {"failure returned unchanged", 10, fail(-77, counted("abc")), -77, 10, ""},
    {"reply longer than the small area: exchange's -1107", 8, ok(counted(std::string(20, 'x'))),
     -1107, 8, ""},
};

TEST_F(TextDictsReplies, NameListsDecodeWithinCapacityAndReceivedBytes) {
    for (const NameListExport& e : kNameLists) {
        for (const NameCase& k : kNameCases) {
            SCOPED_TRACE(std::string(e.name) + ": " + k.what);
            reset();
            push(k.reply);
            Guarded b(k.cap);
            int32_t length = k.cap;
            EXPECT_EQ(e.fn(kConn, b.data(), &length), k.rc);
            EXPECT_EQ(length, k.length);
            EXPECT_EQ(b.str(), b.expect(k.stored));
        }
    }
}

// A list longer than the capacity that still fits the area (capacity + 5):
// cut silently by AR_GetAllDictName, reported by the other two.
TEST_F(TextDictsReplies, NameListsLongerThanTheCapacity) {
    struct Over {
        int32_t cap;
        std::string reply;
    };
    const Over overs[] = {
        // L 12 announced, 9 bytes carried: the 13-byte area holds it.
        {8, le32(12) + "ABCDEFGHI"},
        {8, counted("ABCDEFGHI")},
        {200, counted(std::string(201, 'A'))},
    };
    for (const NameListExport& e : kNameLists) {
        for (const Over& o : overs) {
            SCOPED_TRACE(std::string(e.name) + " cap " + std::to_string(o.cap));
            reset();
            push(ok(o.reply));
            Guarded b(o.cap);
            int32_t length = o.cap;
            const int32_t announced = static_cast<int32_t>(o.reply[0] & 0xFF) |
                                      (static_cast<int32_t>(o.reply[1] & 0xFF) << 8);
            EXPECT_EQ(e.fn(kConn, b.data(), &length), e.cut ? 0 : -1107);
            EXPECT_EQ(length, e.cut ? o.cap : announced);
            EXPECT_EQ(b.str(), b.expect(o.reply.substr(4, static_cast<std::size_t>(o.cap))));
        }
    }
}

// ---------------------------------------------------------------------------
// AR_Search

struct SearchCase {
    const char* what;
    int32_t capA, capB;
    Reply reply;
    int32_t rc;
    int32_t lenA, lenB;
    std::string storedA, storedB;
};

const SearchCase kSearchCases[] = {
    {"part A only when capacity B is 0", 10, 0, ok(counted("abc") + counted("zz")), 0, 3, 0, "abc",
     ""},
    {"negative capacity B: part B not read", 10, -4, ok(counted("abc")), 0, 3, -4, "abc", ""},
    {"both parts", 10, 10, ok(counted("abc") + counted("de")), 0, 3, 2, "abc", "de"},
    {"empty parts", 10, 10, ok(counted("") + counted("")), 0, 0, 0, "", ""},
    {"part B found after all of the reply's own part A", 4, 10,
     ok(counted("abcdef") + counted("gh")), -1107, 6, 2, "abcd", "gh"},
    {"part B longer than capacity B", 10, 2, ok(counted("a") + counted("bcd")), -1107, 1, 3, "a",
     "bc"},
    {"part B missing", 10, 10, ok(counted("abc")), -1107, 10, 10, "", ""},
    {"negative LA", 10, 10, ok(le32(-3) + counted("de")), -1107, 10, 10, "", ""},
    {"negative LB: neither part delivered", 10, 10, ok(counted("abc") + le32(-1)), -1107, 10, 10,
     "", ""},
    {"LA past the bytes received", 10, 0, ok(le32(8) + "abc"), -1107, 10, 0, "", ""},
    {"LB past the bytes received", 10, 10, ok(counted("abc") + le32(9) + "de"), -1107, 10, 10, "",
     ""},
    {"LA INT32_MAX", 10, 10, ok(le32(INT32_MAX) + counted("de")), -1107, 10, 10, "", ""},
    {"positive status: nothing decoded", 10, 10, Reply{1, counted("abc") + counted("de"), -1}, 1,
     10, 10, "", ""},
    {"failure returned unchanged", 10, 10, fail(-1203), -1203, 10, 10, "", ""},
};

TEST_F(TextDictsReplies, SearchDecodesBothPartsOrNothing) {
    for (const SearchCase& k : kSearchCases) {
        SCOPED_TRACE(k.what);
        reset();
        push(k.reply);
        Guarded a(k.capA), b(k.capB);
        int32_t lenA = k.capA, lenB = k.capB;
        EXPECT_EQ(ORQExt_AR_Search(kConn, "q", a.data(), &lenA, b.data(), &lenB), k.rc);
        EXPECT_EQ(lenA, k.lenA);
        EXPECT_EQ(lenB, k.lenB);
        EXPECT_EQ(a.str(), a.expect(k.storedA));
        EXPECT_EQ(b.str(), b.expect(k.storedB));
    }
}

// ---------------------------------------------------------------------------
// Aptitude_Search

struct AptCase {
    const char* what;
    int32_t cap;
    Reply reply;
    int32_t rc;
    int32_t length;
    std::string stored;
};

const AptCase kAptCases[] = {
    {"normal", 10, ok(counted("word")), 0, 4, "word"},
    {"capacity 0, empty text", 0, ok(counted("")), 0, 0, ""},
    {"longer than the capacity: leading bytes and the full length", 3, ok(counted("word")), -1107,
     4, "wor"},
    {"server -1107 with 4 bytes announces the length", 10, fail(-1107, le32(500)), -1107, 500, ""},
    {"same through a direct area", 200, fail(-1107, le32(5000)), -1107, 5000, ""},
    {"server -1107 with more than 4 bytes", 10, fail(-1107, le32(500) + "ab"), -1107, 10, ""},
    {"server -1107 announcing a negative length", 10, fail(-1107, le32(-2)), -1107, 10, ""},
    {"other failure with 4 bytes", 10, fail(-1203, le32(500)), -1203, 10, ""},
    {"negative L", 10, ok(le32(-1) + "word"), -1107, 10, ""},
    {"L past the bytes received", 10, ok(le32(9) + "word"), -1107, 10, ""},
    {"positive status: nothing decoded", 10, Reply{3, counted("word"), -1}, 3, 10, ""},
};

TEST_F(TextDictsReplies, AptitudeSearchDecodesAndReportsAnnouncedLengths) {
    for (const AptCase& k : kAptCases) {
        SCOPED_TRACE(k.what);
        reset();
        push(k.reply);
        Guarded b(k.cap);
        int32_t length = k.cap;
        EXPECT_EQ(ORQExt_Aptitude_Search(kConn, "t", b.data(), &length), k.rc);
        EXPECT_EQ(length, k.length);
        EXPECT_EQ(b.str(), b.expect(k.stored));
    }
}

// ---------------------------------------------------------------------------
// Extraction

constexpr std::size_t kEntry = ORQEXT_EXTRACT_ENTRY_SIZE;
const char* const kSix[6] = {"a", "b", "c", "d", "e", "f"};

// n as announced, then `carried` entries, entry i filled with 'A' + i.
std::string extraction_reply(int32_t n, int carried) {
    std::string r = le32(n);
    for (int i = 0; i < carried; ++i) r += std::string(kEntry, static_cast<char>('A' + i));
    return r;
}

struct ExtractCase {
    const char* what;
    int32_t cap;
    Reply reply;
    int32_t rc;
    int32_t count;
    int filled;  // entries holding 'A' + i
    int zeroed;  // entries after those that hold zero bytes
};

const ExtractCase kExtractCases[] = {
    {"n 4 of capacity 10", 10, ok(extraction_reply(4, 4)), 0, 4, 4, 0},
    {"n 12 above capacity 10: first 10 and -1107", 10, ok(extraction_reply(12, 10)), -1107, 10, 10,
     0},
    {"n equal to the capacity", 3, ok(extraction_reply(3, 3)), 0, 3, 3, 0},
    {"entries the reply left out come out zero", 10, ok(extraction_reply(3, 1)), 0, 3, 1, 2},
    {"n INT32_MAX: capacity entries and -1107", 2, ok(extraction_reply(INT32_MAX, 1)), -1107, 2, 1,
     1},
    {"n 0", 10, ok(extraction_reply(0, 0)), 0, 0, 0, 0},
    {"empty reply reads as n 0", 10, ok(""), 0, 0, 0, 0},
    // A reply shorter than its count: the count is read from the zero-filled
    // area all the same.
    {"reply 94 00 reads as n 148", 2, ok(std::string("\x94\x00", 2)), -1107, 2, 0, 2},
    {"reply 02 reads as n 2", 10, ok(std::string("\x02", 1)), 0, 2, 0, 2},
    {"reply 05 00 00 reads as n 5", 10, ok(std::string("\x05\x00\x00", 3)), 0, 5, 0, 5},
    {"negative n: nothing copied", 10, ok(extraction_reply(-1, 2)), -1107, 10, 0, 0},
    {"n INT32_MIN", 10, ok(extraction_reply(INT32_MIN, 0)), -1107, 10, 0, 0},
    {"positive status: nothing decoded", 10, Reply{2, extraction_reply(2, 2), -1}, 2, 10, 0, 0},
    {"failure returned unchanged", 10, fail(-1112), -1112, 10, 0, 0},
};

TEST_F(TextDictsReplies, ExtractionCopiesWholeEntriesUpToTheCapacity) {
    using ExtractFn = int32_t(ORQEXT_CALL*)(int32_t, const char* const*, void*, int32_t*, int32_t, uint8_t);
    const ExtractFn fns[] = {ORQExt_ExtractWord_Direct, ORQExt_ExtractWord_DirectNormal};
    for (ExtractFn fn : fns) {
        for (const ExtractCase& k : kExtractCases) {
            SCOPED_TRACE(std::string(fn == fns[0] ? "Direct: " : "DirectNormal: ") + k.what);
            reset();
            push(k.reply);
            // One guard entry past the capacity.
            std::vector<unsigned char> e((static_cast<std::size_t>(k.cap) + 1) * kEntry, 0xEE);
            int32_t count = k.cap;
            EXPECT_EQ(fn(kConn, kSix, e.data(), &count, 1, 0), k.rc);
            EXPECT_EQ(count, k.count);
            for (int32_t i = 0; i <= k.cap; ++i) {
                const unsigned char want = i < k.filled ? static_cast<unsigned char>('A' + i)
                                           : i < k.filled + k.zeroed ? 0
                                                                     : 0xEE;
                const std::vector<unsigned char> entry(e.begin() + i * kEntry,
                                                       e.begin() + (i + 1) * kEntry);
                ASSERT_EQ(entry, std::vector<unsigned char>(kEntry, want)) << "entry " << i;
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Aptitude_WordSect: the segmentation reply through the shared decoder

TEST_F(TextDictsReplies, AptitudeWordSectFillsItemsAndMarksAndReturnsTheCount) {
    struct Seg {
        const char* what;
        int32_t cap;
        bool with_marks;
        Reply reply;
        int32_t rc;
        int entries;  // leading entries written
    };
    const std::string three = le32(3) + le32(10) + le32(20) + le32(30) +
                              std::string("\x01\x00\x02\x00\xFF\xFF", 6);
    const Seg cases[] = {
        {"count 3 with marks", 8, true, ok(three), 3, 3},
        {"without marks: straight into items, status returned", 8, false, ok(le32(10) + le32(20)),
         0, 2},
        {"count above what the reply carries", 8, true, ok(le32(5) + le32(1)), -1107, 0},
        {"negative count", 8, true, ok(le32(-1)), -1107, 0},
        {"positive status, small area: nothing copied, count 0", 8, true, Reply{7, three, -1}, 0, 0},
        {"failure: arrays untouched", 8, true, fail(-77, three), -77, 0},
    };
    for (const Seg& k : cases) {
        SCOPED_TRACE(k.what);
        reset();
        push(k.reply);
        std::vector<int32_t> items(static_cast<std::size_t>(k.cap), -9);
        std::vector<int16_t> marks(static_cast<std::size_t>(k.cap), -9);
        EXPECT_EQ(ORQExt_Aptitude_WordSect(kConn, "text", items.data(), k.cap, 0, 0,
                                           k.with_marks ? marks.data() : nullptr, 0, 0),
                  k.rc);
        const int32_t want_items[] = {10, 20, 30};
        const int16_t want_marks[] = {1, 2, -1};
        for (int i = 0; i < k.cap; ++i) {
            EXPECT_EQ(items[i], i < k.entries ? want_items[i] : -9) << "item " << i;
            const bool marked = k.with_marks && i < k.entries;
            EXPECT_EQ(marks[i], marked ? want_marks[i] : -9) << "mark " << i;
        }
    }
}

// ---------------------------------------------------------------------------
// Topic lists

TEST_F(TextDictsReplies, TopicRepliesGoStraightIntoTheCallersBuffer) {
    struct Top {
        const char* what;
        int32_t cap;
        bool with_buffer;
        Reply reply;
        int32_t rc;
        int32_t length;  // GetItem's length variable afterwards
        std::string stored;
    };
    const Top cases[] = {
        {"fits", 16, true, ok("topic"), 0, 5, "topic"},
        {"longer than a small buffer: leading bytes and -1107", 4, true, ok("topics"), -1107, 6,
         "topi"},
        {"positive status: nothing copied", 16, true, Reply{4, "topic", -1}, 4, 5, ""},
        {"failure returned unchanged", 16, true, fail(-1203), -1203, 0, ""},
    };
    for (const Top& k : cases) {
        SCOPED_TRACE(k.what);
        reset();
        push(k.reply);
        Guarded list(k.cap);
        EXPECT_EQ(ORQExt_TOP_List(kConn, list.data(), k.cap, 0), k.rc);
        EXPECT_EQ(list.str(), list.expect(k.stored));

        reset();
        push(k.reply);
        Guarded item(k.cap);
        int32_t length = k.cap;
        EXPECT_EQ(ORQExt_TOP_GetItem(kConn, "a", "b", item.data(), &length), k.rc);
        EXPECT_EQ(length, k.length);
        EXPECT_EQ(item.str(), item.expect(k.stored));
    }
}

TEST_F(TextDictsReplies, TopicCallsNeverWriteThroughANullOrUnsizedBuffer) {
    // TOP_List without a buffer: sent, its result returned, the reply dropped.
    push(Reply{3, std::string(300, 'r'), -1});
    EXPECT_EQ(ORQExt_TOP_List(kConn, nullptr, 200, 0), 3);
    EXPECT_EQ(module_messages().size(), 1u);

    // A negative capacity: sent as it is, nothing received into the buffer.
    Guarded b(0);
    reset();
    push(ok("reply"));
    EXPECT_EQ(ORQExt_TOP_List(kConn, b.data(), -5, 0), 0);
    reset();
    push(ok("reply"));
    int32_t length = -1;
    EXPECT_EQ(ORQExt_TOP_GetItem(kConn, "a", "b", b.data(), &length), 0);
    EXPECT_EQ(length, -1);
    EXPECT_EQ(b.str(), b.expect(""));
    EXPECT_EQ(module_messages().size(), 1u);
}

// ---------------------------------------------------------------------------
// Reply area sizes. An area of 128 bytes or more is offered to the server as
// the capacity; a smaller one is received through the exchange's 128-byte
// area, so its size shows as the longest reply accepted without -1107.

struct AreaCase {
    const char* what;
    int64_t area;
    Invoke call;
};

std::vector<AreaCase> area_cases() {
    auto names = [](NameListFn fn, int32_t cap) {
        return [fn, cap](int32_t c) {
            Guarded b(cap);
            int32_t n = cap;
            return fn(c, b.data(), &n);
        };
    };
    auto search = [](int32_t capA, int32_t capB) {
        return [capA, capB](int32_t c) {
            Guarded a(capA), b(capB);
            int32_t na = capA, nb = capB;
            return ORQExt_AR_Search(c, "q", a.data(), &na, b.data(), &nb);
        };
    };
    auto apt = [](int32_t cap) {
        return [cap](int32_t c) {
            Guarded b(cap);
            int32_t n = cap;
            return ORQExt_Aptitude_Search(c, "q", b.data(), &n);
        };
    };
    auto extract = [](int32_t cap) {
        return [cap](int32_t c) {
            std::vector<unsigned char> e(static_cast<std::size_t>(cap) * kEntry);
            int32_t n = cap;
            return ORQExt_ExtractWord_Direct(c, kSix, e.data(), &n, 2, 0);
        };
    };
    auto wordsect = [](int32_t cap, bool with_marks) {
        return [cap, with_marks](int32_t c) {
            std::vector<int32_t> items(static_cast<std::size_t>(cap));
            std::vector<int16_t> marks(static_cast<std::size_t>(cap));
            return ORQExt_Aptitude_WordSect(c, "q", items.data(), cap, 0, 0,
                                            with_marks ? marks.data() : nullptr, 0, 0);
        };
    };
    return {
        {"AR_GetAllDictName 8: 8 + 5", 13, names(ORQExt_AR_GetAllDictName, 8)},
        {"AR_GetAllDictName 200: 200 + 5", 205, names(ORQExt_AR_GetAllDictName, 200)},
        {"AR_GetAllDictNameLoaded 0: 5", 5, names(ORQExt_AR_GetAllDictNameLoaded, 0)},
        {"AR_GetCategoryName 0: 5", 5, names(ORQExt_AR_GetCategoryName, 0)},
        {"AR_GetCategoryName 1000: 1005", 1005, names(ORQExt_AR_GetCategoryName, 1000)},
        {"AR_Search 100 and 0: 105", 105, search(100, 0)},
        {"AR_Search 100 and -7: 105", 105, search(100, -7)},
        {"AR_Search 100 and 50: 159", 159, search(100, 50)},
        {"AR_Search 1 and 1: 11", 11, search(1, 1)},
        {"Aptitude_Search 0: 5", 5, apt(0)},
        {"Aptitude_Search 300: 305", 305, apt(300)},
        {"Extraction 10: 10 x 528 + 5", 5285, extract(10)},
        {"Extraction 1: 533", 533, extract(1)},
        {"Aptitude_WordSect 30 with marks: 6 x 30", 180, wordsect(30, true)},
        {"Aptitude_WordSect 10 with marks: 6 x 10", 60, wordsect(10, true)},
        {"Aptitude_WordSect 40 without marks: 4 x 40", 160, wordsect(40, false)},
    };
}

TEST_F(TextDictsReplies, ReplyAreasHaveTheirExactSizes) {
    for (const AreaCase& k : area_cases()) {
        SCOPED_TRACE(k.what);
        if (k.area >= 128) {
            reset();
            k.call(kConn);
            const auto sent = module_messages();
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_EQ(sent[0].capacity, k.area);
        } else {
            // Zero bytes read as empty texts, no entries: a reply that fits
            // decodes without error.
            reset();
            push(ok(std::string(static_cast<std::size_t>(k.area), '\0')));
            EXPECT_EQ(k.call(kConn), 0) << "a reply of the area's size fits";
            reset();
            push(ok(std::string(static_cast<std::size_t>(k.area) + 1, '\0')));
            EXPECT_EQ(k.call(kConn), -1107) << "one byte more does not";
        }
    }
}

}  // namespace

// Text item lists of every size and shape: lists around the size a frame
// holds without a heap allocation and far beyond it, texts that end at the
// last readable byte before an unreadable page, and lists refused part way
// through. Every list is compared with its encoding built here byte by byte.
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "tests/support/guarded_page.h"
#include "tests/unit/stm/stm_support.h"

using namespace stm_test;
using namespace xsrdouble;

namespace {

// An item whose text lives in `bytes`: with `length` 0 the text is read up
// to its NUL, so bytes must hold one; with a positive length exactly that
// many bytes are sent.
struct Item {
    int32_t id;
    int32_t length;
    std::string bytes;
};

// What the server module reads for one item: id, byte count n, n bytes, NUL.
std::string encoded(int32_t id, const std::string& text) {
    return le32(id) + le32(static_cast<int32_t>(text.size())) + text + stm_test::u8(0);
}

std::string sent_text(const Item& it) {
    return it.length > 0 ? it.bytes.substr(0, static_cast<std::size_t>(it.length))
                         : std::string(it.bytes.c_str());
}

std::string encoded(const std::vector<Item>& items) {
    std::string out;
    for (const Item& it : items) out += encoded(it.id, sent_text(it));
    return out;
}

std::vector<StmTextItem> views(const std::vector<Item>& items) {
    std::vector<StmTextItem> out;
    for (const Item& it : items) out.push_back(StmTextItem{it.id, it.length, it.bytes.c_str()});
    return out;
}

// A NUL-terminated text of n bytes, varied so that a misplaced byte shows.
std::string text_of(std::size_t n, char salt = 'a') {
    std::string s(n, ' ');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(salt + i % 23);
    return s;
}

// The two list-sending shapes: an export that checks the list while it is
// encoded (the classifier) and one that checks it before a text of the
// caller's goes into the frame (the clusterer).
struct Shape {
    const char* what;
    int32_t (*call)(const StmTextItem* items, int32_t count);
    std::string (*frame)(int32_t count, const std::string& list);
};

char g_out[64];

const Shape kShapes[] = {
    {"TextClassifier_Do",
     [](const StmTextItem* items, int32_t count) {
         static const StmClassifierOptions options{5, 7, 1};
         int32_t len = sizeof g_out;
         return ORQExt_STM_TextClassifier_Do(kConn, 9, g_out, &len, items, count, &options);
     },
     [](int32_t count, const std::string& list) {
         return head("STM_TextClassifier_Do") + le32(9) + le32(5) + le32(7) + stm_test::u8(1) +
                le32(sizeof g_out) + le32(count) + list;
     }},
    {"TextCluster_Do",
     [](const StmTextItem* items, int32_t count) {
         return ORQExt_STM_TextCluster_Do(kConn, 3, items, count, "opt");
     },
     [](int32_t count, const std::string& list) {
         return head("STM_TextCluster_Do") + le32(3) + cstr("opt") + le32(count) + list;
     }},
};

class StmItemLists : public StmTest {
protected:
    // Sends the list through every shape and compares the frames.
    void expect_sent(const StmTextItem* items, int32_t count, const std::string& list) {
        for (const Shape& s : kShapes) {
            SCOPED_TRACE(s.what);
            reset();
            ASSERT_EQ(s.call(items, count), 0);
            const auto cs = module_messages();
            ASSERT_EQ(cs.size(), 1u);
            EXPECT_TRUE(cs[0].body == stm_message(s.frame(count, list)))
                << "frame of " << cs[0].body.size() << " bytes differs";
        }
    }
    void expect_sent(const std::vector<Item>& items) {
        const std::vector<StmTextItem> v = views(items);
        expect_sent(v.data(), static_cast<int32_t>(v.size()), encoded(items));
    }
};

struct ListCase {
    const char* what;
    std::vector<Item> items;
};

// A frame keeps its first kInlineSize bytes (its headroom included) inside
// the object. The lists below end on every byte from well under that size
// to well over it, with texts measured up to the NUL and texts of a given
// length.
TEST_F(StmItemLists, ListsAroundAndBeyondTheInlineSizeAreSentWhole) {
    std::vector<ListCase> cases;
    constexpr std::size_t kInline = orq::ByteBuffer::kInlineSize;
    for (std::size_t n = kInline - 146; n <= kInline - 36; ++n) {
        cases.push_back({"one text up to its NUL", {{1, 0, text_of(n)}}});
        cases.push_back({"a text of given length with NULs inside",
                         {{2, static_cast<int32_t>(n), std::string(n / 2, '\0') + text_of(n - n / 2) + "tail"}}});
        cases.push_back({"a short text, then a long one", {{3, 0, text_of(40, 'A')}, {4, 0, text_of(n - 60)}}});
        cases.push_back({"a long text, then short ones",
                         {{5, 0, text_of(n - 80)}, {6, 0, text_of(30, 'K')}, {7, 3, "xyz"}, {8, 0, ""}}});
    }
    // Texts around the longest the block-wise copy takes (112 to 128 bytes,
    // as they are aligned), between short ones, in a list that fits: a
    // longer one is measured and copied by the part that sets room aside.
    for (std::size_t n = 100; n <= 140; ++n)
        cases.push_back({"a text around the block-wise copy's reach between short ones",
                         {{10, 0, "a"}, {11, 0, text_of(n)}, {12, 0, text_of(n + 1, 'B')}, {13, 0, "b"}}});
    std::vector<Item> many;  // more items than fit, and a heap-sized list
    for (int32_t i = 0; i < 300; ++i)
        many.push_back({i, i % 3 == 0 ? 17 : 0, text_of(static_cast<std::size_t>(i % 97) + 17, 'c')});
    cases.push_back({"300 items, 20 KiB", many});
    cases.push_back({"one text of 70 KiB", {{9, 0, text_of(70000)}}});
    cases.push_back({"items of 16 bytes and more", {{1, 0, text_of(15)}, {2, 0, text_of(16)}, {3, 0, text_of(17)},
                                                    {4, 0, text_of(31)}, {5, 0, text_of(32)}, {6, 0, text_of(33)}}});
    for (const ListCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.what << ", " << encoded(c.items).size() << " bytes");
        expect_sent(c.items);
        if (HasFatalFailure()) return;
    }
}


TEST_F(StmItemLists, TextsEndingAtAnUnreadablePageAreReadNoFurther) {
    testing_support::GuardedPage page;
    ASSERT_TRUE(page.ok());
    // Lengths 0 to 70 put the text's start on every offset of a 16-byte
    // block, and its NUL in the first block read or in a later one.
    for (std::size_t n = 0; n <= 70; ++n) {
        SCOPED_TRACE(testing::Message() << "text of " << n << " bytes");
        const std::string text = text_of(n);
        {
            SCOPED_TRACE("NUL as the page's last byte");
            const StmTextItem items[] = {{1, 0, "before"}, {2, 0, page.at_end(text + std::string(1, '\0'))},
                                         {3, 0, "after"}};
            expect_sent(items, 3, encoded(1, "before") + encoded(2, text) + encoded(3, "after"));
        }
        if (n == 0) continue;
        {
            SCOPED_TRACE("given length, no NUL, last byte at the page end");
            const StmTextItem items[] = {{4, static_cast<int32_t>(n), page.at_end(text)}, {5, 0, "after"}};
            expect_sent(items, 2, encoded(4, text) + encoded(5, "after"));
        }
        {
            SCOPED_TRACE("given length over NULs, last byte at the page end");
            std::string with_nuls = text;
            for (std::size_t i = 0; i < n; i += 3) with_nuls[i] = '\0';
            const StmTextItem items[] = {{6, static_cast<int32_t>(n), page.at_end(with_nuls)}};
            expect_sent(items, 1, encoded(6, with_nuls));
        }
    }
}

// A NUL as the first byte sends an empty text, wherever it sits in its block.
TEST_F(StmItemLists, ANulAsFirstByteSendsAnEmptyText) {
    alignas(16) char block[48];
    std::memset(block, 'z', sizeof block);
    for (std::size_t at = 0; at < 32; ++at) {
        SCOPED_TRACE(testing::Message() << "NUL at offset " << at);
        block[at] = '\0';
        const StmTextItem items[] = {{1, 0, block + at}, {2, 0, "x"}};
        expect_sent(items, 2, encoded(1, "") + encoded(2, "x"));
        block[at] = 'z';
    }
}

// A list refused part way through sends nothing and gives -1100, whether the
// refusal comes among the items that fit the frame or after the list has
// outgrown it, for every export that sends a list.
TEST_F(StmItemLists, ListsRefusedPartWayThroughSendNothing) {
    const std::string big = text_of(6000);
    const StmTextItem null_second[] = {{1, 0, "a"}, {2, 0, nullptr}, {3, 0, "c"}};
    const StmTextItem null_after_big[] = {{1, 0, "a"}, {2, 0, big.c_str()}, {3, 0, "c"}, {4, 2, nullptr}};
    const StmTextItem too_long_after_short[] = {{1, 0, "a"}, {2, 0, "b"}, {3, INT32_MAX - 20, "x"}};
    const StmTextItem too_long_in_sum[] = {{1, INT32_MAX / 2, "x"}, {2, INT32_MAX / 2, "y"}, {3, 0, "z"}};
    struct Bad {
        const char* what;
        const StmTextItem* items;
        int32_t count;
    };
    const Bad lists[] = {
        {"null text among fitting items", null_second, 3},
        {"null text after the list outgrew the frame", null_after_big, 4},
        {"too long after items that fit", too_long_after_short, 3},
        {"too long only in sum", too_long_in_sum, 3},
    };
    char out[64];
    int32_t cap = sizeof out;
    const StmClassifierOptions copt{1, 2, 3};
    const StmOptionPair pair{1, 0};
    const StmVsmOptions vsm{0, 1, 2};
    using Send = int32_t (*)(const Bad&, char*, int32_t*, const StmClassifierOptions&, const StmOptionPair&,
                             const StmVsmOptions&);
    const struct {
        const char* what;
        Send send;
    } exports[] = {
        {"TextClassifier_Do", [](const Bad& b, char* o, int32_t* c, const StmClassifierOptions& co, const StmOptionPair&,
                                 const StmVsmOptions&) { return ORQExt_STM_TextClassifier_Do(kConn, 1, o, c, b.items, b.count, &co); }},
        {"InfoFilter_Do", [](const Bad& b, char*, int32_t*, const StmClassifierOptions&, const StmOptionPair&,
                             const StmVsmOptions&) { return ORQExt_STM_InfoFilter_Do(kConn, 1, b.items, b.count); }},
        {"TextCluster_Do", [](const Bad& b, char*, int32_t*, const StmClassifierOptions&, const StmOptionPair&,
                              const StmVsmOptions&) { return ORQExt_STM_TextCluster_Do(kConn, 1, b.items, b.count, "t"); }},
        {"KeyWordExtractor_Do", [](const Bad& b, char* o, int32_t* c, const StmClassifierOptions&, const StmOptionPair& p,
                                   const StmVsmOptions&) { return ORQExt_STM_KeyWordExtractor_Do(kConn, 1, o, c, b.items, b.count, &p); }},
        {"AbstractExtractor_Do", [](const Bad& b, char* o, int32_t* c, const StmClassifierOptions&, const StmOptionPair& p,
                                    const StmVsmOptions&) { return ORQExt_STM_AbstractExtractor_Do(kConn, 1, "t", o, c, &p, b.items, b.count); }},
        {"VSMGenerator_Do", [](const Bad& b, char* o, int32_t* c, const StmClassifierOptions&, const StmOptionPair&,
                               const StmVsmOptions& v) { return ORQExt_STM_VSMGenerator_Do(kConn, 1, o, c, b.items, b.count, &v); }},
        {"Abstractor_Do", [](const Bad& b, char* o, int32_t* c, const StmClassifierOptions&, const StmOptionPair& p,
                             const StmVsmOptions&) { return ORQExt_STM_Abstractor_Do(kConn, "t", o, c, &p, b.items, b.count); }},
    };
    for (const auto& e : exports) {
        for (const Bad& b : lists) {
            SCOPED_TRACE(testing::Message() << e.what << ": " << b.what);
            reset();
            EXPECT_EQ(e.send(b, out, &cap, copt, pair, vsm), -1100);
            EXPECT_EQ(count(Fn::Command), 0u);
            EXPECT_EQ(cap, static_cast<int32_t>(sizeof out));
        }
    }
}

}  // namespace

// Every export that hands its caller's buffer to the command exchange, with
// answers that do not fit: a capacity of 0 (how a caller asks for the size it
// needs), a small buffer received through the local area, a large one
// received directly, and answers that come in parts. An answer that does not
// fit is -1107 with its leading bytes and, where the export has a length
// pointer, the whole answer's length; never success.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/fixture.h"

using namespace xsrdouble;

namespace {

class AnswerLengthTest : public testing_support::LibraryTest {};

// An export called with `buf` and the capacity in *len (bytes). Exports with
// a length pointer get len itself; the others get the capacity by value.
using ReadCall = std::function<int32_t(int32_t conn, char* buf, int32_t* len)>;

struct Export {
    const char* name;
    ReadCall call;
    bool reports_length;  // the length pointer receives the answer's length
    int32_t unit;         // bytes per unit of the capacity argument
};

const StmTextItem kItems[] = {{1, 4, "text"}};
const StmOptionPair kPair = {3, 1};
const StmClassifierOptions kClassifier = {1, 2, 0};
const StmVsmOptions kVsm = {0, 1, 2};

// Segmentation without marks: the items array is the receive area, its
// capacity counted in int32 entries.
int32_t word_sect(bool aptitude, int32_t conn, char* buf, int32_t bytes) {
    auto* items = reinterpret_cast<int32_t*>(buf);
    return aptitude ? ORQExt_Aptitude_WordSect(conn, "text", items, bytes / 4, 0, 0, nullptr, 0, 0)
                    : ORQExt_NLPE_WordSect(conn, "text", items, bytes / 4, 0, 0, nullptr, 0, 0, 0);
}

std::vector<Export> exports_under_test() {
    return {
        {"SendMessage",
         [](int32_t c, char* b, int32_t* n) { return ORQExt_SendMessage(c, "Mod", nullptr, "p", 1, b, n); },
         true, 1},
        {"SendMessageTimeOut",
         [](int32_t c, char* b, int32_t* n) {
             return ORQExt_SendMessageTimeOut(c, "Mod", nullptr, "p", 1, b, n, -1, 0);
         },
         true, 1},
        {"GetModInfo",
         [](int32_t c, char* b, int32_t* n) { return ORQExt_GetModInfo(c, "Mod", nullptr, b, n); }, true, 1},
        {"ClassNoLabel_GetClass",
         [](int32_t c, char* b, int32_t* n) { return ORQExt_ClassNoLabel_GetClass(c, "text", b, n); }, true,
         1},
        {"STM_TextClassifier_Do",
         [](int32_t c, char* b, int32_t* n) {
             return ORQExt_STM_TextClassifier_Do(c, 1, b, n, kItems, 1, &kClassifier);
         },
         true, 1},
        {"STM_KeyWordExtractor_Do",
         [](int32_t c, char* b, int32_t* n) {
             return ORQExt_STM_KeyWordExtractor_Do(c, 1, b, n, kItems, 1, &kPair);
         },
         true, 1},
        {"STM_AbstractExtractor_Do",
         [](int32_t c, char* b, int32_t* n) {
             return ORQExt_STM_AbstractExtractor_Do(c, 1, "text", b, n, &kPair, kItems, 1);
         },
         true, 1},
        {"STM_VSMGenerator_Do",
         [](int32_t c, char* b, int32_t* n) { return ORQExt_STM_VSMGenerator_Do(c, 1, b, n, kItems, 1, &kVsm); },
         true, 1},
        {"STM_VSMGenerator_GetResult",
         [](int32_t c, char* b, int32_t* n) {
             return ORQExt_STM_VSMGenerator_GetResult(c, 1, b, n, "text", &kVsm);
         },
         true, 1},
        {"STM_Abstractor_Do",
         [](int32_t c, char* b, int32_t* n) {
             return ORQExt_STM_Abstractor_Do(c, "text", b, n, &kPair, kItems, 1);
         },
         true, 1},
        {"NLPE_WordSect without marks", [](int32_t c, char* b, int32_t* n) { return word_sect(false, c, b, *n); },
         false, 4},
        {"Aptitude_WordSect without marks",
         [](int32_t c, char* b, int32_t* n) { return word_sect(true, c, b, *n); }, false, 4},
        {"TOP_List", [](int32_t c, char* b, int32_t* n) { return ORQExt_TOP_List(c, b, *n, 0); }, false, 1},
    };
}

struct Scenario {
    const char* what;
    int32_t capacity;  // bytes; a multiple of 4
    std::vector<Reply> replies;
    int32_t rc;
    int32_t len;     // the length afterwards, for exports that report it
    int32_t stored;  // leading bytes of the answer in the buffer
};

// The answer's bytes are 'a', 'b', ... in the order they are sent.
std::string answer_bytes(std::size_t from, std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (from + i) % 26);
    return s;
}

std::vector<Scenario> scenarios() {
    return {
        {"capacity 0 asks for the size", 0, {ok(answer_bytes(0, 55))}, -1107, 55, 0},
        {"capacity 0, empty answer", 0, {ok("")}, 0, 0, 0},
        {"capacity 0, answer in parts", 0, {part(answer_bytes(0, 40)), ok(answer_bytes(40, 15))}, -1107, 55,
         0},
        {"local area, answer that fits", 8, {ok(answer_bytes(0, 8))}, 0, 8, 8},
        {"local area, longer answer", 8, {ok(answer_bytes(0, 20))}, -1107, 20, 8},
        {"local area, cut by the XSRClient", 8, {too_long(answer_bytes(0, 128), 3000)}, -1107, 3000, 8},
        {"local area, cut after parts", 8,
         {part(answer_bytes(0, 100)), too_long(answer_bytes(100, 28), 500)}, -1107, 500, 8},
        {"direct, answer that fits", 200, {part(answer_bytes(0, 120)), ok(answer_bytes(120, 30))}, 0, 150,
         150},
        {"direct, cut by the XSRClient", 200, {too_long(answer_bytes(0, 200), 3000)}, -1107, 3000, 200},
        {"direct, cut after parts", 200,
         {part(answer_bytes(0, 120)), too_long(answer_bytes(120, 80), 3000)}, -1107, 3000, 200},
    };
}

TEST_F(AnswerLengthTest, AnswersThatDoNotFitAreReportedWithTheirWholeLength) {
    const int32_t conn = connect();
    constexpr char kGuard = 'z';
    for (const Export& e : exports_under_test()) {
        for (const Scenario& s : scenarios()) {
            SCOPED_TRACE(std::string(e.name) + ": " + s.what);
            reset();
            for (const Reply& r : s.replies) push(r);
            std::vector<char> buf(static_cast<std::size_t>(s.capacity) + 16, kGuard);
            int32_t len = s.capacity;
            EXPECT_EQ(e.call(conn, buf.data(), &len), s.rc);
            EXPECT_EQ(len, e.reports_length ? s.len : s.capacity);
            const std::string want = answer_bytes(0, static_cast<std::size_t>(s.stored));
            EXPECT_EQ(std::string(buf.data(), buf.size()),
                      want + std::string(buf.size() - want.size(), kGuard));
            // The capacity the first request offers: the local area under
            // 128 bytes, else the caller's own.
            const auto cs = calls_of(Fn::Command);
            ASSERT_EQ(cs.size(), s.replies.size());
            EXPECT_EQ(cs[0].capacity, s.capacity < 128 ? 128 : s.capacity / e.unit * e.unit);
        }
    }
}

}  // namespace

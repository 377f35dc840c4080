// The C++ layer over the scripted double: Result codes as error codes and
// exceptions, answers that size themselves, the RAII connection, and the
// conversions of typed records.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "orqext.hpp"
#include "tests/support/fixture.h"

using namespace xsrdouble;

namespace {

// --- Result codes ------------------------------------------------------------

TEST(CppResultCodes, EveryTableRowGivesItsMessageNameAndCondition) {
    struct Row {
        int32_t code;
        const char* name;
        const char* meaning;
    };
    const std::vector<Row> rows = {
#define ROW(code, name, source, meaning) {code, name, meaning},
        ORQEXT_RESULT_TABLE(ROW)
#undef ROW
    };
    ASSERT_GT(rows.size(), 40u);
    for (const Row& r : rows) {
        const std::string want = std::to_string(r.code) + " " + r.name + ": " + r.meaning;
        EXPECT_EQ(orqext::result_message(r.code), want);
        EXPECT_STREQ(orqext::result_meaning(r.code), r.meaning);
        EXPECT_STREQ(orqext::result_name(r.code), r.name);
        const std::error_code ec = orqext::make_error_code(r.code);
        // The error_code's message is the text alone; result_message adds the code.
        EXPECT_EQ(ec.message(), r.meaning);
        EXPECT_EQ(ec.category().name(), std::string("orqext"));
    }
}

TEST(CppResultCodes, UnlistedAndPositiveCodesStillRead) {
    EXPECT_EQ(orqext::result_meaning(-77), nullptr);
    EXPECT_EQ(orqext::result_message(-77), "-77 unknown Result code");
    EXPECT_EQ(orqext::result_message(5), "5 status word of the server");
    EXPECT_EQ(orqext::make_error_code(-77).message(), "unknown Result code");
    EXPECT_EQ(orqext::make_error_code(5).message(), "status word of the server");
}

TEST(CppResultCodes, CodesCompareWithPortableConditions) {
    struct Case {
        int32_t code;
        std::errc cond;
    };
    for (const Case& c : std::vector<Case>{{-1100, std::errc::invalid_argument},
                                           {-1107, std::errc::message_size},
                                           {-1112, std::errc::timed_out},
                                           {-1113, std::errc::timed_out},
                                           {-20007, std::errc::timed_out},
                                           {-20002, std::errc::connection_refused},
                                           {-20006, std::errc::connection_reset},
                                           {-20004, std::errc::permission_denied}}) {
        EXPECT_TRUE(orqext::make_error_code(c.code) == c.cond) << c.code;
    }
    EXPECT_FALSE(orqext::make_error_code(-4100) == std::errc::timed_out);
    EXPECT_EQ(std::error_code(orqext::errc::timeout), orqext::make_error_code(-1112));
}

TEST(CppResultCodes, ErrorNamesTheFunctionAndCarriesTheCode) {
    const orqext::error e(orqext::make_error_code(-1112), "ORQExt_SendMessageTimeOut");
    EXPECT_EQ(e.result(), -1112);
    EXPECT_EQ(std::string(e.what()),
              "ORQExt_SendMessageTimeOut: -1112 ORQEXT_E_TIMEOUT: no complete answer within the time limit");
    const orqext::error other(std::make_error_code(std::errc::not_enough_memory), "x");
    EXPECT_EQ(other.result(), 0);
}

// --- Calls over the double -----------------------------------------------------

class CppCallTest : public testing_support::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        conn_ = orqext::connection::adopt(connect());
    }
    void TearDown() override {
        conn_.close();
        LibraryTest::TearDown();
    }
    static std::size_t sent() { return count(Fn::Command); }
    orqext::connection conn_;
};

TEST_F(CppCallTest, FailuresThrowOrFillTheErrorCodeAndStatusWordsPass) {
    struct Case {
        Reply reply;
        int32_t want;  // the Result code; >= 0: no failure
    };
    for (const Case& k : std::vector<Case>{{fail(-20006), -20006},
                                           {fail(-20203), -20203},
                                           {Reply{7, "", -1}, 7},
                                           {ok(), 0}}) {
        push(k.reply);
        std::error_code ec;
        const int32_t got = orqext::text::nlpe_dict_load(conn_, "dict", ec);
        EXPECT_EQ(got, k.want);
        EXPECT_EQ(static_cast<bool>(ec), k.want < 0);
        if (k.want < 0) {
            EXPECT_EQ(ec, orqext::make_error_code(k.want));
        }

        push(k.reply);
        if (k.want < 0) {
            try {
                orqext::text::nlpe_dict_load(conn_, "dict");
                ADD_FAILURE() << "no exception for " << k.want;
            } catch (const orqext::error& e) {
                EXPECT_EQ(e.result(), k.want);
                EXPECT_NE(std::string(e.what()).find("ORQExt_NLPE_DictLoad: "), std::string::npos);
            }
        } else {
            EXPECT_EQ(orqext::text::nlpe_dict_load(conn_, "dict"), k.want);
        }
    }
}

TEST_F(CppCallTest, AnswersComeBackOwnedAndFailuresLeaveThemEmpty) {
    push(ok("the answer"));
    EXPECT_EQ(orqext::send(conn_, "Echo", "q"), "the answer");
    push(fail(-20101, "partial"));
    std::error_code ec;
    EXPECT_EQ(orqext::send(conn_, "Echo", "q", ec), "");
    EXPECT_EQ(ec, orqext::make_error_code(-20101));
    push(fail(-20101));
    EXPECT_THROW(orqext::send(conn_, "Echo", "q"), orqext::error);
}

TEST_F(CppCallTest, TextsWithANulInsideAreRefusedBeforeAnythingIsSent) {
    const std::string cut("dict\0more", 9);
    std::error_code ec;
    EXPECT_EQ(orqext::text::nlpe_dict_load(conn_, cut, ec), ORQEXT_E_BAD_ARGUMENT);
    EXPECT_EQ(ec, orqext::errc::bad_argument);
    EXPECT_EQ(orqext::send(conn_, cut, "payload", ec), "");
    EXPECT_EQ(ec, orqext::errc::bad_argument);
    EXPECT_THROW(orqext::stm::create_domain(conn_, "d", cut, "", "", 0), orqext::error);
    EXPECT_EQ(sent(), 0u);
    // A payload is bytes: NULs in it are sent.
    orqext::send(conn_, "Echo", cut);
    ASSERT_EQ(sent(), 1u);
    EXPECT_NE(calls_of(Fn::Command)[0].body.find(cut), std::string::npos);
}

// A refused text names its parameter in the exception, as the Python layer
// names it; a failure the library reports afterwards names none.
TEST_F(CppCallTest, ARefusedArgumentIsNamed) {
    const std::string cut("a\0b", 3);
    struct Case {
        std::function<void()> call;
        const char* name;
    };
    const std::vector<Case> cases = {
        {[&] { orqext::send(conn_, cut, "payload"); }, "module"},
        {[&] { orqext::send_to(conn_, "Echo", cut, "payload"); }, "target"},
        {[&] { orqext::text::nlpe_dict_load(conn_, cut); }, "name"},
        {[&] { orqext::text::nlpe_word_sect(conn_, cut); }, "text"},
        {[&] { orqext::exec_sql(conn_, cut); }, "statement"},
    };
    for (const Case& k : cases) {
        try {
            k.call();
            ADD_FAILURE() << k.name << ": no exception";
        } catch (const orqext::error& e) {
            EXPECT_EQ(e.result(), ORQEXT_E_BAD_ARGUMENT);
            EXPECT_EQ(e.argument(), k.name);
            EXPECT_NE(std::string(e.what()).find(std::string("argument '") + k.name + "'"), std::string::npos)
                << e.what();
        }
    }
    EXPECT_EQ(sent(), 0u);
    push(fail(ORQEXT_E_BAD_ARGUMENT));
    try {
        orqext::text::nlpe_dict_load(conn_, "dict");
        ADD_FAILURE() << "no exception";
    } catch (const orqext::error& e) {
        EXPECT_EQ(e.argument(), "");
    }
}

// --- Answers that size themselves --------------------------------------------

// The rule on its own, with a C call that answers from a script: each step
// is what the call reports for the capacity it was offered.
TEST(CppAnswerSizing, RetriesOnceWithExactlyTheReportedLength) {
    struct Step {
        int32_t rc;
        int32_t length;  // reported length (the answer's bytes are 'x')
    };
    struct Case {
        const char* what;
        orqext::answer_limits limits;
        std::vector<Step> steps;
        std::vector<int32_t> offered;  // capacities offered, in order
        int32_t want_rc;               // 0: an answer of want_len bytes
        int32_t want_len;
    };
    const std::vector<Case> cases = {
        {"fits", {64, 1000}, {{0, 10}}, {64}, 0, 10},
        {"fits exactly", {64, 1000}, {{0, 64}}, {64}, 0, 64},
        {"longer: once more", {64, 1000}, {{-1107, 300}, {0, 300}}, {64, 300}, 0, 300},
        {"shorter the second time", {64, 1000}, {{-1107, 300}, {0, 120}}, {64, 300}, 0, 120},
        {"longer again", {64, 1000}, {{-1107, 300}, {-1107, 301}}, {64, 300}, -1107, 0},
        {"at the maximum", {64, 300}, {{-1107, 300}, {0, 300}}, {64, 300}, 0, 300},
        {"over the maximum", {64, 299}, {{-1107, 300}}, {64}, -1107, 0},
        {"hostile length", {64, 64 << 20}, {{-1107, INT32_MAX}}, {64}, -1107, 0},
        {"no whole length", {64, 1000}, {{-1107, 64}}, {64}, -1107, 0},
        {"other failure", {64, 1000}, {{-20006, 0}}, {64}, -20006, 0},
        {"initial above maximum", {4096, 100}, {{0, 50}}, {100}, 0, 50},
    };
    for (const Case& k : cases) {
        std::vector<int32_t> offered;
        std::size_t i = 0;
        std::error_code ec;
        int32_t rc = 1;
        const std::string answer = orqext::detail::sized_answer(
            k.limits, ec,
            [&](orqext::detail::cstrings&, void* buf, int32_t* len) -> int32_t {
                offered.push_back(*len);
                if (i >= k.steps.size()) return -99;
                const Step st = k.steps[i++];
                const int32_t n = st.length < *len ? st.length : *len;
                for (int32_t b = 0; b < n; ++b) static_cast<char*>(buf)[b] = 'x';
                *len = st.length;
                return st.rc;
            },
            &rc);
        EXPECT_EQ(offered, k.offered) << k.what;
        EXPECT_EQ(rc, k.want_rc) << k.what;
        EXPECT_EQ(static_cast<bool>(ec), k.want_rc != 0) << k.what;
        EXPECT_EQ(answer, std::string(static_cast<std::size_t>(k.want_len), 'x')) << k.what;
    }
}

// Through the library: -1107 with the whole length, from the exchange (an
// answer it holds whole in its own area) or passed on from XSRClient.
TEST_F(CppCallTest, MessagesAskOnceMoreForTheWholeAnswer) {
    struct Case {
        const char* what;
        int32_t initial, maximum;
        std::vector<Reply> replies;  // one per request
        std::size_t want_sent;
        std::string want;  // the answer; empty: -1107
    };
    const std::string a100(100, 'a'), b120(120, 'b'), c16(16, 'c'), d5000(5000, 'd');
    const Reply too_long{-1107, std::string(256, 'd'), 5000};
    const std::vector<Case> cases = {
        {"fits", 16, 1000, {ok(c16)}, 1, c16},
        {"held whole by the exchange", 16, 1000, {ok(a100), ok(a100)}, 2, a100},
        {"longer again", 16, 1000, {ok(a100), ok(b120)}, 2, ""},
        {"over the maximum", 16, 99, {ok(a100)}, 1, ""},
        {"reported by XSRClient", 256, 1 << 20, {too_long, ok(d5000)}, 2, d5000},
        {"reported again", 256, 1 << 20, {too_long, Reply{-1107, d5000, 6000}}, 2, ""},
        {"reported over the maximum", 256, 4999, {too_long}, 1, ""},
    };
    for (const Case& k : cases) {
        reset();
        conn_.release();
        conn_ = orqext::connection::adopt(connect());
        conn_.set_limits({k.initial, k.maximum});
        for (const auto& r : k.replies) push(r);
        std::error_code ec;
        const std::string got = orqext::send(conn_, "Echo", "q", ec);
        EXPECT_EQ(sent(), k.want_sent) << k.what;
        if (!k.want.empty()) {
            EXPECT_FALSE(ec) << k.what;
            EXPECT_EQ(got, k.want) << k.what;
        } else {
            EXPECT_EQ(ec, orqext::errc::answer_too_long) << k.what;
            EXPECT_EQ(got, "") << k.what;
        }
        if (k.want_sent == 2) {
            const auto cmds = calls_of(Fn::Command);
            EXPECT_EQ(cmds[1].capacity, k.initial >= 128 ? 5000 : 128) << k.what << ": the second offer";
        }
    }
}

// --- The connection ------------------------------------------------------------

class CppConnectionTest : public testing_support::LibraryTest {};

TEST_F(CppConnectionTest, ClosesWhenItGoesOutOfScopeAndOnlyOnce) {
    {
        orqext::connection c("srv", 7300, "user", "pw");
        EXPECT_NE(c.handle(), 0);
        EXPECT_TRUE(c.alive());
        EXPECT_EQ(open_handles().size(), 1u);
        orqext::connection moved(std::move(c));
        EXPECT_EQ(c.handle(), 0);
        EXPECT_FALSE(c.alive());
        EXPECT_EQ(count(Fn::Close), 0u);
    }
    EXPECT_EQ(count(Fn::Close), 1u);
    EXPECT_TRUE(open_handles().empty());
}

// A moved-from (or closed) connection sends nothing: every kind of call fails
// with no_connection before the library is asked (it would pass handle 0 on).
TEST_F(CppConnectionTest, CallsOnAnEmptyConnectionSendNothing) {
    orqext::connection c("srv", 7300, "user", "pw");
    orqext::connection moved(std::move(c));
    orqext::connection closed("srv", 7300, "user", "pw");
    closed.close();
    for (const orqext::connection* empty : {&c, &closed}) {
        xsrdouble::reset();
        std::error_code ec;
        EXPECT_EQ(orqext::send(*empty, "Echo", "x", ec), "");
        EXPECT_EQ(ec, orqext::make_error_code(orqext::errc::no_connection));
        EXPECT_EQ(orqext::text::nlpe_dict_load(*empty, "dict", ec), ORQEXT_E_NO_CONNECTION);
        EXPECT_EQ(ec, orqext::make_error_code(orqext::errc::no_connection));
        EXPECT_TRUE(orqext::text::nlpe_word_sect(*empty, "two words", {}, ec).empty());
        EXPECT_EQ(ec, orqext::make_error_code(orqext::errc::no_connection));
        orqext::async_requester requests;
        EXPECT_EQ(requests.send_async(*empty, "Echo", "x", {}, [](orqext::async_reply) {}, ec), 0u);
        EXPECT_EQ(ec, orqext::make_error_code(orqext::errc::no_connection));
        try {
            orqext::send(*empty, "Echo", "x");
            ADD_FAILURE() << "no exception";
        } catch (const orqext::error& e) {
            EXPECT_EQ(e.result(), ORQEXT_E_NO_CONNECTION);
        }
        EXPECT_EQ(count(Fn::Command), 0u);
    }
    EXPECT_NE(moved.handle(), 0);
}

TEST_F(CppConnectionTest, AssigningClosesTheConnectionItReplaces) {
    orqext::connection a("srv", 7300, "user", "pw");
    orqext::connection b("srv", 7300, "user", "pw");
    const int32_t kept = b.handle();
    a = std::move(b);
    EXPECT_EQ(a.handle(), kept);
    EXPECT_EQ(count(Fn::Close), 1u);
    ASSERT_EQ(open_handles().size(), 1u);
    EXPECT_EQ(open_handles()[0], kept);
    a.close();
    a.close();  // empty: nothing more
    EXPECT_EQ(count(Fn::Close), 2u);
}

TEST_F(CppConnectionTest, ReleasedHandlesStayOpenAdoptedOnesAreClosed) {
    int32_t h = 0;
    {
        orqext::connection c("srv", 7300, "user", "pw");
        h = c.release();
    }
    EXPECT_EQ(count(Fn::Close), 0u);
    { auto c = orqext::connection::adopt(h); }
    EXPECT_EQ(count(Fn::Close), 1u);
    EXPECT_TRUE(open_handles().empty());
}

TEST_F(CppConnectionTest, AFailedOpenThrowsOrReportsAndLeavesNothingOpen) {
    set_open_result("down", -20002);
    try {
        orqext::connection c("down", 7300, "user", "pw");
        ADD_FAILURE() << "no exception";
    } catch (const orqext::error& e) {
        EXPECT_EQ(e.result(), -20002);
        EXPECT_TRUE(e.code() == std::errc::connection_refused);
    }
    std::error_code ec;
    orqext::connection c = orqext::connection::open("down", 7300, "user", "pw", ec);
    EXPECT_EQ(ec, orqext::make_error_code(-20002));
    EXPECT_FALSE(c);
    c = orqext::connection::open("srv", 0, "user", "pw", ec);
    EXPECT_EQ(ec, orqext::errc::bad_argument);
    EXPECT_TRUE(open_handles().empty());
}

TEST_F(CppConnectionTest, ServerProbeMapsItsResult) {
    set_check_result(-20002);
    std::error_code ec;
    EXPECT_EQ(orqext::server_status("srv", 7300, ec), -20002);
    EXPECT_EQ(ec, orqext::make_error_code(-20002));
    EXPECT_THROW(orqext::server_status("srv", 7300), orqext::error);
    set_check_result(0);
    EXPECT_EQ(orqext::server_status("srv", 7300), 0);
}

// --- Typed records ----------------------------------------------------------------

TEST(CppRecords, ClusterRecordsRoundTripAndOverlongFieldsAreRefusedNotCut) {
    const orqext::cluster::cluster_info ci{std::string(255, 'n'), "tag", "a", std::string(127, 'b')};
    EXPECT_EQ(orqext::cluster::detail::from_c(orqext::cluster::detail::to_c(ci)).attr_b, ci.attr_b);
    EXPECT_EQ(orqext::cluster::detail::from_c(orqext::cluster::detail::to_c(ci)).name, ci.name);
    const orqext::cluster::node_info ni{"127.0.0.1", 7301, "u", "p", "x"};
    const auto back = orqext::cluster::detail::from_c(orqext::cluster::detail::to_c(ni));
    EXPECT_EQ(back.server, ni.server);
    EXPECT_EQ(back.port, 7301);
    EXPECT_EQ(back.pass, "p");
    EXPECT_THROW(orqext::cluster::detail::to_c(orqext::cluster::cluster_info{"n", std::string(16, 't'), "", ""}),
                 orqext::detail::refused_argument);
    EXPECT_THROW(orqext::cluster::detail::to_c(orqext::cluster::node_info{std::string(20, '1'), 1, "u", "p", ""}),
                 orqext::detail::refused_argument);
    // A C record without a NUL is read within its array only.
    ClusterInfo raw;
    std::memset(&raw, 'z', sizeof raw);
    EXPECT_EQ(orqext::cluster::detail::from_c(raw).tag, std::string(16, 'z'));
}

TEST_F(CppCallTest, ClusterEditsWithOverlongNamesSendNothing) {
    std::error_code ec;
    orqext::cluster::add(conn_, {std::string(256, 'n'), "t", "", ""}, {}, ec);
    EXPECT_EQ(ec, orqext::errc::bad_argument);
    orqext::cluster::remove(conn_, "n", std::string(16, 't'), std::nullopt, ec);
    EXPECT_EQ(ec, orqext::errc::bad_argument);
    EXPECT_EQ(sent(), 0u);
}

TEST_F(CppCallTest, TextItemsGoWithTheirExactLengths) {
    const std::string with_nul("a\0b", 3);
    orqext::stm::info_filter(conn_, 4, {{1, with_nul}, {2, ""}});
    ASSERT_EQ(sent(), 1u);
    const std::string body = calls_of(Fn::Command)[0].body;
    // id, length, bytes, NUL for each item.
    EXPECT_NE(body.find(le32(1) + le32(3) + with_nul + std::string(1, '\0') + le32(2) + le32(0) +
                        std::string(1, '\0')),
              std::string::npos);
}

}  // namespace

namespace {

// Two answers at once (association search, BSM classification): each
// capacity is taken from its reported length, once.
TEST(CppAnswerSizing, TwoAnswersRetryOnceWithBothReportedLengths) {
    struct Step {
        int32_t rc, len_a, len_b;
    };
    struct Case {
        const char* what;
        orqext::answer_limits limits;
        std::vector<Step> steps;
        std::vector<std::pair<int32_t, int32_t>> offered;
        bool ok;
    };
    const std::vector<Case> cases = {
        {"fit", {64, 1000}, {{0, 3, 4}}, {{64, 64}}, true},
        {"first longer", {64, 1000}, {{-1107, 200, 4}, {0, 200, 4}}, {{64, 64}, {200, 64}}, true},
        {"second longer", {64, 1000}, {{-1107, 3, 90}, {0, 3, 90}}, {{64, 64}, {64, 90}}, true},
        {"both longer", {64, 1000}, {{-1107, 100, 90}, {0, 100, 90}}, {{64, 64}, {100, 90}}, true},
        {"longer again", {64, 1000}, {{-1107, 100, 4}, {-1107, 101, 4}}, {{64, 64}, {100, 64}}, false},
        {"over the maximum", {64, 99}, {{-1107, 3, 100}}, {{64, 64}}, false},
        {"no whole length", {64, 1000}, {{-1107, 64, 4}}, {{64, 64}}, false},
    };
    for (const Case& k : cases) {
        std::vector<std::pair<int32_t, int32_t>> offered;
        std::size_t i = 0;
        std::error_code ec;
        std::string a, b;
        const bool ok = orqext::text::detail::two_answers(
            k.limits, ec, a, b, [&](char* pa, int32_t* la, char* pb, int32_t* lb) -> int32_t {
                offered.emplace_back(*la, *lb);
                if (i >= k.steps.size()) return -99;
                const Step st = k.steps[i++];
                for (int32_t n = 0; n < st.len_a && n < *la; ++n) pa[n] = 'a';
                for (int32_t n = 0; n < st.len_b && n < *lb; ++n) pb[n] = 'b';
                *la = st.len_a;
                *lb = st.len_b;
                return st.rc;
            });
        EXPECT_EQ(offered, k.offered) << k.what;
        EXPECT_EQ(ok, k.ok) << k.what;
        EXPECT_EQ(static_cast<bool>(ec), !k.ok) << k.what;
        if (k.ok) {
            EXPECT_EQ(a, std::string(static_cast<std::size_t>(k.steps.back().len_a), 'a')) << k.what;
            EXPECT_EQ(b, std::string(static_cast<std::size_t>(k.steps.back().len_b), 'b')) << k.what;
        } else {
            EXPECT_EQ(ec, orqext::make_error_code(k.steps.back().rc)) << k.what;
            EXPECT_EQ(orqext::error(ec, "call").length(), std::max(k.steps.back().len_a, k.steps.back().len_b))
                << k.what << ": the longer whole length reported";
        }
    }
}

// Segmentation offers one entry per byte of the text and one more, and
// decodes the items and marks the library hands over.
TEST_F(CppCallTest, SegmentationOffersRoomForEveryByteAndDecodesEntries) {
    std::string reply = le32(2) + le32(0) + le32(3);
    reply += std::string("\x02\x00\x05\x00", 4);
    push(ok(reply));
    const auto segs = orqext::text::nlpe_word_sect(conn_, "to paris");
    ASSERT_EQ(segs.size(), 2u);
    EXPECT_EQ(segs[1].item, 3);
    EXPECT_EQ(segs[1].mark, 5);
    ASSERT_EQ(sent(), 1u);
    // The frame carries the capacity after the text and its NUL.
    EXPECT_NE(calls_of(Fn::Command)[0].body.find(std::string("to paris", 9) + le32(9)), std::string::npos);
}

TEST_F(CppCallTest, ExtractedEntriesAreReadFieldByField) {
    std::string entry(ORQEXT_EXTRACT_ENTRY_SIZE, '\0');
    entry.replace(0, 4, "rain");
    entry.replace(512, 16, le32(2) + le32(0) + le32(1) + le32(4));
    push(ok(le32(1) + entry));
    const auto words = orqext::text::extract_word_direct(conn_, {"Rain rain", "", "", "", "", ""}, 1, false);
    ASSERT_EQ(words.size(), 1u);
    EXPECT_EQ(words[0].word, "rain");
    EXPECT_EQ(words[0].count, 2);
    EXPECT_EQ(words[0].text_index, 1);
    EXPECT_EQ(words[0].length, 4);
    EXPECT_EQ(words[0].raw, entry);
}

}  // namespace

namespace {

TEST(CppTextAnswers, LinesFieldsAndTabRows) {
    const auto t = orqext::parse_text_answer(std::string("name=Echo\r\nstate=started\n\nplain\nx=\n\0", 36));
    EXPECT_EQ(t.lines, (std::vector<std::string>{"name=Echo", "state=started", "plain", "x="}));
    EXPECT_EQ(t.field("state"), std::optional<std::string>("started"));
    EXPECT_EQ(t.field("x"), std::optional<std::string>(""));
    EXPECT_EQ(t.field("plain"), std::nullopt);
    EXPECT_EQ(t.raw.back(), '\n');

    using Rows = std::vector<std::vector<std::string>>;
    struct Case {
        std::string in;
        Rows want;
    };
    for (const Case& k : std::vector<Case>{
             {"", {}},
             {"vote\t3\npoll\t2\n", {{"vote", "3"}, {"poll", "2"}}},
             {"1\tsports\t4", {{"1", "sports", "4"}}},
             {"a\t\tb\n\n", {{"a", "", "b"}}},
             {"tail\t\n", {{"tail", ""}}},
         }) {
        EXPECT_EQ(orqext::tab_rows(k.in), k.want) << k.in;
    }
}

}  // namespace

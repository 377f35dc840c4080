// The command exchange against the scripted XSRClient: the 14 arguments,
// headers, polling, parts, time limits, cancel and copy-out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/exchange.h"
#include "core/message.h"
#include "core/xsr_call.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fixture.h"

using namespace xsrdouble;
using testing_support::FakeClock;

namespace {

class ExchangeTest : public testing_support::LibraryTest {
protected:
    FakeClock clock;
};

void expect_header(const Call& c, uint16_t code, int32_t a, int32_t b) {
    ASSERT_EQ(c.header.size(), 16u);
    EXPECT_EQ(c.code(), code);
    EXPECT_EQ(static_cast<unsigned char>(c.header[2]) | (static_cast<unsigned char>(c.header[3]) << 8), 501);
    EXPECT_EQ(c.field_a(), a);
    EXPECT_EQ(c.field_b(), b);
    EXPECT_EQ(c.field_c(), -1);
}

TEST_F(ExchangeTest, FirstRequestCarriesTheFixedArgumentsAndHeader) {
    push(ok("answer"));
    char buf[200];
    int32_t len = sizeof buf;
    ASSERT_EQ(orq::exchange(42, 9, "body", 4, buf, &len, -1, 0), 0);
    EXPECT_EQ(len, 6);
    EXPECT_EQ(std::string(buf, 6), "answer");

    auto cs = calls_of(Fn::Command);
    ASSERT_EQ(cs.size(), 1u);
    const Call& c = cs[0];
    EXPECT_EQ(c.handle, 42);
    EXPECT_EQ(c.magic, 32639);
    EXPECT_EQ(c.reserved1, 0);
    EXPECT_EQ(c.timeout_hint, 45000);
    EXPECT_EQ(c.capacity, 200);
    EXPECT_EQ(c.header_len, 16);
    EXPECT_EQ(c.reserved2, 0);
    EXPECT_EQ(c.body, "body");
    EXPECT_EQ(c.body_len, 4);
    EXPECT_EQ(c.reserved3, 0);
    EXPECT_TRUE(c.body2_null);
    EXPECT_EQ(c.body2_len, 0);
    expect_header(c, 9, -1, 200);
}

// Small buffers go through the 128-byte local area.
struct SmallCase {
    int32_t capacity;
    std::size_t answer_bytes;
    int32_t rc;
    int32_t len;
    std::size_t copied;
};

TEST_F(ExchangeTest, SmallBuffersUseTheLocalAreaAndReportCuts) {
    const SmallCase cases[] = {
        {127, 127, 0, 127, 127},
        {10, 10, 0, 10, 10},
        {10, 11, -1107, 11, 10},
        {1, 100, -1107, 100, 1},
        // Capacity 0 asks for the size: -1107 with the length, nothing copied;
        // an empty answer fits.
        {0, 5, -1107, 5, 0},
        {0, 128, -1107, 128, 0},
        {0, 0, 0, 0, 0},
    };
    for (const SmallCase& k : cases) {
        SCOPED_TRACE(k.capacity);
        reset();
        push(ok(std::string(k.answer_bytes, 'a')));
        std::vector<char> buf(static_cast<std::size_t>(k.capacity) + 8, 'z');
        int32_t len = k.capacity;
        EXPECT_EQ(orq::exchange(1, 2, "x", 1, buf.data(), &len, -1, 0), k.rc);
        EXPECT_EQ(len, k.len);
        const auto cmds = calls_of(Fn::Command);
        ASSERT_EQ(cmds.size(), 1u);
        EXPECT_EQ(cmds[0].capacity, 128) << "local area is offered";
        for (std::size_t i = 0; i < buf.size(); ++i)
            EXPECT_EQ(buf[i], i < k.copied ? 'a' : 'z') << "byte " << i;
    }
}

TEST_F(ExchangeTest, CapacityZeroWithoutBufferGetsTheLength) {
    push(ok(std::string(55, 'a')));
    int32_t len = 0;
    EXPECT_EQ(orq::exchange(1, 2, "x", 1, nullptr, &len, -1, 0), -1107);
    EXPECT_EQ(len, 55);

    reset();
    push({part("abc"), ok("de")});
    len = 0;
    EXPECT_EQ(orq::exchange(1, 2, "x", 1, nullptr, &len, -1, 0), -1107);
    EXPECT_EQ(len, 5) << "parts count";

    reset();
    push(ok(""));
    len = 0;
    EXPECT_EQ(orq::exchange(1, 2, "x", 1, nullptr, &len, -1, 0), 0);
    EXPECT_EQ(len, 0);
}

// An answer that does not fit the room offered: the XSRClient delivers the
// leading bytes that fit, -1107 and the whole answer's length; the exchange
// passes that length on, through the local area too and after parts.
struct CutCase {
    const char* what;
    int32_t capacity;
    std::vector<Reply> replies;
    int32_t len;           // the length reported (rc is -1107)
    std::string stored;    // the caller's buffer's leading bytes
    int32_t last_offer;    // capacity offered by the last call
};

TEST_F(ExchangeTest, CutAnswersReportTheWholeLength) {
    const std::string a200(200, 'a'), b100(100, 'b');
    const CutCase cases[] = {
        {"direct, single answer", 200, {too_long(a200 + "rest", 3000)}, 3000, a200, 200},
        {"local area, single answer", 10, {too_long(std::string(128, 'a'), 3000)}, 3000,
         std::string(10, 'a'), 128},
        {"local area, capacity 0", 0, {too_long(std::string(128, 'a'), 500)}, 500, "", 128},
        {"direct, after a part", 200, {part(b100), too_long(a200, 3000)}, 3000,
         b100 + std::string(100, 'a'), 100},
        {"direct, after pending and parts", 200,
         {pending(4, 5), part(b100), part(std::string(60, 'c')), too_long(a200, 2000000)}, 2000000,
         b100 + std::string(60, 'c') + std::string(40, 'a'), 40},
        {"direct, nothing left to offer after parts", 200, {part(a200), too_long("", 3000)}, 3000,
         a200, 0},
        {"local area, after parts", 10,
         {part(std::string(50, 'p')), part(std::string(50, 'q')), too_long(a200, 300)}, 300,
         std::string(10, 'p'), 28},
        // Lengths a misbehaving XSRClient reports: never below what came (7
        // counts as bytes delivered, after the 100 of the part).
        {"whole length below the bytes held", 200, {part(b100), too_long(a200, 7)}, 107,
         b100 + std::string(100, 'a'), 100},
        {"complete answer longer than the room offered", 200, {Reply{0, a200, 5000}}, 200, a200, 200},
        {"last part longer than the room offered", 200, {part(b100), Reply{0, a200, 150}}, 200,
         b100 + std::string(100, 'a'), 100},
    };
    for (const CutCase& k : cases) {
        SCOPED_TRACE(k.what);
        reset();
        for (const Reply& r : k.replies) push(r);
        std::vector<char> buf(static_cast<std::size_t>(k.capacity) + 8, 'z');
        int32_t len = k.capacity;
        EXPECT_EQ(orq::exchange(1, 2, "x", 1, buf.data(), &len, -1, 0), -1107);
        EXPECT_EQ(len, k.len);
        EXPECT_EQ(std::string(buf.data(), buf.size()),
                  k.stored + std::string(buf.size() - k.stored.size(), 'z'));
        const auto cs = calls_of(Fn::Command);
        ASSERT_EQ(cs.size(), k.replies.size()) << "nothing after the cut";
        EXPECT_EQ(cs.back().capacity, k.last_offer);
    }
}

TEST_F(ExchangeTest, NoLengthPointerDropsTheAnswer) {
    push(ok(std::string(300, 'q')));
    char buf[4] = {'z', 'z', 'z', 'z'};
    EXPECT_EQ(orq::exchange(1, 2, "x", 1, buf, nullptr, -1, 0), 0);
    EXPECT_EQ(std::string(buf, 4), "zzzz");
    const auto cmds = calls_of(Fn::Command);
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].capacity, 128);
}

TEST_F(ExchangeTest, PendingAnswerIsPolledWithItsTicketEvery200ms) {
    push({pending(7, 8), pending(7, 8), ok("done")});
    char buf[256];
    int32_t len = sizeof buf;
    ASSERT_EQ(orq::exchange(5, 2, "m", 1, buf, &len, -1, 0), 0);
    EXPECT_EQ(len, 4);
    EXPECT_EQ(std::string(buf, 4), "done");
    auto cs = calls_of(Fn::Command);
    ASSERT_EQ(cs.size(), 3u);
    for (int i = 1; i < 3; ++i) {
        expect_header(cs[i], 4, -1, 0);
        EXPECT_EQ(cs[i].body, le32(7) + le32(8));
        EXPECT_EQ(cs[i].capacity, 256);
        EXPECT_EQ(cs[i].handle, 5);
    }
    EXPECT_EQ(clock.sleeps(), 2u);
    EXPECT_EQ(clock.slept_ms(), 400u);
}

TEST_F(ExchangeTest, PartsAreCollectedAndTheFirstPollCarriesTicketZero) {
    push({part("abc"), part("defg"), ok("hi")});
    char buf[256];
    int32_t len = sizeof buf;
    ASSERT_EQ(orq::exchange(5, 2, "m", 1, buf, &len, -1, 0), 0);
    EXPECT_EQ(len, 9);
    EXPECT_EQ(std::string(buf, 9), "abcdefghi");
    auto cs = calls_of(Fn::Command);
    ASSERT_EQ(cs.size(), 3u);
    EXPECT_EQ(cs[1].body, le32(0) + le32(0));
    EXPECT_EQ(cs[1].capacity, 256 - 3);
    EXPECT_EQ(cs[2].capacity, 256 - 7);
    EXPECT_EQ(clock.sleeps(), 0u) << "parts are polled at once";
}

TEST_F(ExchangeTest, PartsAfterPendingKeepTheTicket) {
    push({pending(1, 2), part("ab"), ok("cd")});
    char small[4];
    int32_t len = 4;
    ASSERT_EQ(orq::exchange(5, 2, "m", 1, small, &len, -1, 0), 0);
    EXPECT_EQ(len, 4);
    EXPECT_EQ(std::string(small, 4), "abcd");
    auto cs = calls_of(Fn::Command);
    ASSERT_EQ(cs.size(), 3u);
    EXPECT_EQ(cs[2].body, le32(1) + le32(2));
}

TEST_F(ExchangeTest, TimeLimitZeroWithCancelSendsOneCancel) {
    push(pending(11, 12));
    char buf[256];
    int32_t len = sizeof buf;
    EXPECT_EQ(orq::exchange(5, 2, "m", 1, buf, &len, 0, 1), -1113);
    EXPECT_EQ(len, 0);
    auto cs = calls_of(Fn::Command);
    ASSERT_EQ(cs.size(), 2u);
    expect_header(cs[1], 5, 32639, 0);
    EXPECT_EQ(cs[1].body, le32(11) + le32(12));
    EXPECT_EQ(cs[1].capacity, 256);
    EXPECT_EQ(clock.sleeps(), 0u);
}

TEST_F(ExchangeTest, TimeLimitWithoutCancelEndsAfterTheLimit) {
    set_handler([](const Call&) { return pending(3, 4); });
    char buf[256];
    int32_t len = sizeof buf;
    EXPECT_EQ(orq::exchange(5, 2, "m", 1, buf, &len, 1000, 0), -1112);
    EXPECT_EQ(len, 0);
    // 200 ms per poll: the limit is reached after five sleeps.
    EXPECT_EQ(clock.sleeps(), 5u);
    EXPECT_EQ(count(Fn::Command), 6u);
    for (const Call& c : calls_of(Fn::Command)) EXPECT_NE(c.code(), 5) << "no cancel without flag";
}

TEST_F(ExchangeTest, NoTimeLimitPollsUntilTheAnswer) {
    for (int i = 0; i < 50; ++i) push(pending(1, 1));
    push(ok("x"));
    int32_t len = 200;
    char buf[200];
    EXPECT_EQ(orq::exchange(5, 2, "m", 1, buf, &len, -1, 1), 0);
    EXPECT_EQ(clock.sleeps(), 50u);
}

TEST_F(ExchangeTest, PartsAreNeverTimedOut) {
    for (int i = 0; i < 20; ++i) push(part("p"));
    push(ok(""));
    clock.advance(100000);
    int32_t len = 200;
    char buf[200];
    EXPECT_EQ(orq::exchange(5, 2, "m", 1, buf, &len, 0, 1), 0);
    EXPECT_EQ(len, 20);
}

TEST_F(ExchangeTest, PositiveResultPassesThroughWithoutCopyOut) {
    push(Reply{5, "abcdef", -1});
    char buf[4] = {'z', 'z', 'z', 'z'};
    int32_t len = 4;
    EXPECT_EQ(orq::exchange(5, 2, "m", 1, buf, &len, -1, 0), 5);
    EXPECT_EQ(len, 6);
    EXPECT_EQ(std::string(buf, 4), "zzzz");
}

TEST_F(ExchangeTest, FailureOfTheFirstRequestCopiesWhatCame) {
    push(fail(-77, "error text"));
    char buf[5] = {};
    int32_t len = 5;
    EXPECT_EQ(orq::exchange(5, 2, "m", 1, buf, &len, -1, 0), -77);
    EXPECT_EQ(len, 10);
    EXPECT_EQ(std::string(buf, 5), "error");
}

TEST_F(ExchangeTest, PollFailureEndsTheExchange) {
    push({pending(1, 1), fail(-5)});
    int32_t len = 300;
    std::vector<char> buf(300);
    EXPECT_EQ(orq::exchange(5, 2, "m", 1, buf.data(), &len, -1, 0), -5);
    EXPECT_EQ(count(Fn::Command), 2u);
}

TEST_F(ExchangeTest, UnusableArgumentsSendNothing) {
    char buf[8];
    int32_t neg = -1;
    EXPECT_EQ(orq::exchange(5, 2, "m", 1, buf, &neg, -1, 0), -1100);
    int32_t cap = 8;
    EXPECT_EQ(orq::exchange(5, 2, "m", 1, nullptr, &cap, -1, 0), -1100);
    EXPECT_EQ(orq::exchange(5, 2, nullptr, 4, buf, &cap, -1, 0), -1100);
    EXPECT_EQ(orq::exchange(5, 2, "m", -1, buf, &cap, -1, 0), -1100);
    EXPECT_EQ(count(Fn::Command), 0u);
}

TEST_F(ExchangeTest, ReportedLengthBeyondTheOfferIsNotTrusted) {
    // A misbehaving XSRClient reports more than it was offered.
    push(Reply{0, "abcd", 100000});
    char small[4];
    int32_t len = 4;
    EXPECT_EQ(orq::exchange(5, 2, "m", 1, small, &len, -1, 0), -1107);
    EXPECT_EQ(len, 128);
    EXPECT_EQ(std::string(small, 4), "abcd");

    reset();
    push({part("ab"), Reply{-1108, "", 5000}, ok("")});
    std::vector<char> big(200);
    len = 200;
    EXPECT_EQ(orq::exchange(5, 2, "m", 1, big.data(), &len, -1, 0), 0);
    EXPECT_EQ(len, 200);
    auto cs = calls_of(Fn::Command);
    ASSERT_EQ(cs.size(), 3u);
    EXPECT_EQ(cs.back().capacity, 0) << "nothing left to offer";
}

TEST_F(ExchangeTest, CancelSendsTheTicketAndDropsTheAnswer) {
    push(ok(std::string(1000, 'x')));
    const int32_t ticket[2] = {-1, -1};
    EXPECT_EQ(orq::cancel_ticket(9, ticket), 0);
    auto cs = calls_of(Fn::Command);
    ASSERT_EQ(cs.size(), 1u);
    expect_header(cs[0], 5, 32639, 0);
    EXPECT_EQ(cs[0].body, le32(-1) + le32(-1));
    EXPECT_EQ(cs[0].capacity, 256);
}

// A reply area the library owns receives answers to capacities below the
// local area's size in place. Whatever the XSRClient does, the caller must not
// be able to tell the difference: same result, same length, same bytes within
// the capacity (zeros after the answer), same requests.
TEST_F(ExchangeTest, AreaOfTheLibraryReceivesSmallAnswersExactlyAsTheLocalArea) {
    struct Script {
        const char* what;
        std::vector<Reply> replies;
    };
    const std::string a60(60, 'a'), b200(200, 'b');
    const Script scripts[] = {
        {"empty answer", {ok("")}},
        {"short answer", {ok("abc")}},
        {"answer of 60 bytes", {ok(a60)}},
        {"answer filling the local area", {ok(std::string(128, 'c'))}},
        {"answer too long for the local area", {too_long(std::string(128, 'd'), 3000)}},
        {"parts", {part("ab"), part("cdef"), ok("gh")}},
        {"pending, then the answer", {pending(3, 4), ok(a60)}},
        {"pending, then a part, then too long", {pending(3, 4), part("xy"), too_long(b200, 900)}},
        {"failure with text", {fail(-77, "error text")}},
        {"positive status word", {Reply{5, "abcdef", -1}}},
        {"poll failure", {pending(1, 1), fail(-5)}},
        {"more written than reported", {Reply{0, "abcdefghij", 3}}},
        {"length reported beyond the offer", {Reply{0, "abcd", 100000}}},
        {"negative length reported", {Reply{0, "abcd", -9}}},
    };
    for (const int32_t capacity : {0, 1, 6, 59, 60, 61, 100, 127}) {
        for (const Script& s : scripts) {
            SCOPED_TRACE(std::string(s.what) + ", capacity " + std::to_string(capacity));
            reset();
            for (const Reply& r : s.replies) push(r);
            std::vector<unsigned char> plain(static_cast<std::size_t>(capacity) + 1, 0);
            int32_t plain_len = capacity;
            const int32_t plain_rc = orq::exchange(1, 2, "x", 1, capacity ? plain.data() : nullptr,
                                                   &plain_len, -1, 0);
            const std::vector<Call> plain_calls = calls_of(Fn::Command);

            reset();
            for (const Reply& r : s.replies) push(r);
            std::vector<unsigned char> area(200, 0);
            int32_t area_len = capacity;
            const int32_t area_rc = orq::exchange_in_area(1, 2, "x", 1, area.data(), &area_len);
            const std::vector<Call> area_calls = calls_of(Fn::Command);

            EXPECT_EQ(area_rc, plain_rc);
            EXPECT_EQ(area_len, plain_len);
            EXPECT_EQ(std::vector<unsigned char>(area.begin(), area.begin() + capacity),
                      std::vector<unsigned char>(plain.begin(), plain.begin() + capacity));
            ASSERT_EQ(area_calls.size(), plain_calls.size());
            for (std::size_t i = 0; i < area_calls.size(); ++i) {
                EXPECT_EQ(area_calls[i].header, plain_calls[i].header);
                EXPECT_EQ(area_calls[i].body, plain_calls[i].body);
                EXPECT_EQ(area_calls[i].capacity, plain_calls[i].capacity);
            }
        }
    }
}

// exchange() finishes the common case (no time limit, the whole answer in
// the first call) inline and hands everything else on; exchange_general is
// the whole routine, the one a time limit takes. Whatever the XSRClient does,
// the two must not differ: the same result, length, bytes (those past the
// capacity included, which neither may touch) and requests, with no time
// limit and with one far off.
// Scripted XSRClient behaviours for comparing the ways an answer is received:
// pending answers, parts, failures, status words, lengths beyond the offer,
// more bytes than reported.
struct Script {
    const char* what;
    std::vector<Reply> replies;
};
std::vector<Script> exchange_scripts() {
    auto text = [](std::size_t n, char c) {
        std::string t(n, c);
        for (std::size_t i = 0; i < n; ++i) t[i] = static_cast<char>(c + i % 23);
        return t;
    };
    return {
        {"empty answer", {ok("")}},
        {"short answer", {ok("abc")}},
        {"answer of 127 bytes", {ok(text(127, 'a'))}},
        {"answer of 128 bytes", {ok(text(128, 'b'))}},
        {"answer of 129 bytes", {ok(text(129, 'c'))}},
        {"answer of 4096 bytes", {ok(text(4096, 'd'))}},
        {"answer of 5000 bytes", {ok(text(5000, 'e'))}},
        {"too long for the room, whole length given", {too_long(text(6000, 'f'), 7000)}},
        {"parts", {part("ab"), part("cdef"), ok("gh")}},
        {"parts beyond the capacity", {part(text(100, 'g')), part(text(3000, 'h')), ok(text(2500, 'i'))}},
        {"pending, then the answer", {pending(3, 4), ok(text(60, 'j'))}},
        {"pending twice, then parts", {pending(5, 6), pending(5, 6), part("xy"), ok(text(200, 'k'))}},
        {"pending, then a part, then too long", {pending(3, 4), part("xy"), too_long(text(200, 'l'), 900)}},
        {"failure with text", {fail(-77, "error text")}},
        {"failure with a long text", {fail(-78, text(300, 'm'))}},
        {"positive status word", {Reply{5, "abcdef", -1}}},
        {"positive status word with a long answer", {Reply{1, text(200, 'n'), -1}}},
        {"poll failure", {pending(1, 1), fail(-5)}},
        {"part, then a failure", {part("abc"), fail(-9, "x")}},
        {"more written than reported", {Reply{0, "abcdefghij", 3}}},
        {"length reported beyond the offer", {Reply{0, "abcd", 100000}}},
        {"part reported beyond the offer", {part("ab"), Reply{-1108, "cd", 9000}, ok("")}},
        {"negative length reported", {Reply{0, "abcd", -9}}},
    };
}

TEST_F(ExchangeTest, InlinedAndGeneralExchangeAgreeOnEveryReplyAndCapacity) {
    const std::vector<Script> scripts = exchange_scripts();
    constexpr std::size_t kGuard = 32;
    constexpr unsigned char kGuardByte = 0xA5;
    constexpr int32_t kFarOff = 1000000000;  // ms: never reached
    struct Outcome {
        int32_t rc;
        int32_t len;
        std::vector<unsigned char> buffer;  // capacity, then the guard bytes
        std::vector<Call> calls;
    };
    for (const int32_t capacity : {0, 1, 127, 128, 129, 4096, 5000}) {
        for (const bool null_buffer : {false, true}) {
            if (null_buffer && capacity != 0) continue;
            for (const Script& s : scripts) {
                auto run = [&](bool general, int32_t limit) {
                    reset();
                    for (const Reply& r : s.replies) push(r);
                    Outcome o;
                    o.buffer.assign(static_cast<std::size_t>(capacity) + kGuard, kGuardByte);
                    o.len = capacity;
                    void* buf = null_buffer ? nullptr : o.buffer.data();
                    o.rc = general ? orq::exchange_general(1, 2, "x", 1, buf, &o.len, limit, 0)
                                   : orq::exchange(1, 2, "x", 1, buf, &o.len, limit, 0);
                    o.calls = calls_of(Fn::Command);
                    return o;
                };
                const Outcome inlined = run(false, -1);
                const struct {
                    const char* what;
                    Outcome o;
                } others[] = {{"general, no limit", run(true, -1)},
                              {"general, far-off limit", run(true, kFarOff)},
                              {"inlined entry, far-off limit", run(false, kFarOff)}};
                for (const auto& other : others) {
                    SCOPED_TRACE(std::string(s.what) + ", capacity " + std::to_string(capacity) +
                                 (null_buffer ? " without buffer" : "") + ": " + other.what);
                    EXPECT_EQ(other.o.rc, inlined.rc);
                    EXPECT_EQ(other.o.len, inlined.len);
                    EXPECT_EQ(other.o.buffer, inlined.buffer);
                    ASSERT_EQ(other.o.calls.size(), inlined.calls.size());
                    for (std::size_t i = 0; i < inlined.calls.size(); ++i) {
                        EXPECT_EQ(other.o.calls[i].header, inlined.calls[i].header);
                        EXPECT_EQ(other.o.calls[i].body, inlined.calls[i].body);
                        EXPECT_EQ(other.o.calls[i].capacity, inlined.calls[i].capacity);
                    }
                }
                // Neither path writes past the capacity.
                EXPECT_EQ(std::vector<unsigned char>(inlined.buffer.begin() + capacity, inlined.buffer.end()),
                          std::vector<unsigned char>(kGuard, kGuardByte))
                    << s.what << ", capacity " << capacity;
            }
        }
    }
}

// A segmentation call's message composed on the stack is sent by send_small,
// which finishes an answer that came whole within the capacity itself and
// hands everything else to the exchange's continuation (exchange_in_area's
// below the local area's size, the direct one from it on). Whatever the
// XSRClient does, it must agree with exchange() on the result, the length
// (bounded to the capacity), every byte received, a count field that reads
// as zeros past them, and the requests.
TEST_F(ExchangeTest, SmallSendsAgreeWithTheExchangeOnEveryReplyAndCapacity) {
    const int32_t conn = connect();
    orq::SmallMessage m;
    m.bytes[0] = 'x';
    m.used = 1;
    for (const int32_t capacity : {0, 1, 3, 4, 30, 126, 127, 128, 129, 300}) {
        for (const Script& s : exchange_scripts()) {
            SCOPED_TRACE(std::string(s.what) + ", capacity " + std::to_string(capacity));
            reset();
            for (const Reply& r : s.replies) push(r);
            // From the local area's size on, the area is the caller's buffer,
            // as in exchange(): bytes the client does not write keep what
            // was there, the same in both.
            const unsigned char fill = capacity < orq::kLocalAreaSize ? 0 : 0xA5;
            std::vector<unsigned char> buffer(static_cast<std::size_t>(capacity) + 1, fill);
            int32_t len = capacity;
            const int32_t rc = orq::exchange(conn, 2, "x", 1, buffer.data(), &len, -1, 0);
            const std::vector<Call> sent = calls_of(Fn::Command);

            reset();
            for (const Reply& r : s.replies) push(r);
            std::vector<unsigned char> area_bytes(
                static_cast<std::size_t>(std::max(capacity, orq::kLocalAreaSize)), 0xA5);
            unsigned char* const area = area_bytes.data();
            int32_t received = -1;
            EXPECT_EQ(orq::send_small(conn, "KExt_NLPE", m, area, capacity, &received), rc);
            EXPECT_EQ(received, len < 0 ? 0 : (len > capacity ? capacity : len));
            ASSERT_GE(received, 0);
            EXPECT_EQ(std::vector<unsigned char>(area, area + received),
                      std::vector<unsigned char>(buffer.begin(), buffer.begin() + received));
            for (int32_t i = received; i < 4; ++i) EXPECT_EQ(area[i], 0) << "count byte " << i;
            const std::vector<Call> small = calls_of(Fn::Command);
            ASSERT_EQ(small.size(), sent.size());
            for (std::size_t i = 0; i < sent.size(); ++i) {
                EXPECT_EQ(small[i].header, sent[i].header);
                EXPECT_EQ(small[i].body, sent[i].body);
                EXPECT_EQ(small[i].capacity, sent[i].capacity);
            }
        }
    }
}

}  // namespace

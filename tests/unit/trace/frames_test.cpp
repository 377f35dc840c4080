// Frame descriptions of what the library really sends: each call below goes
// through the library to the scripted double, and the request it made is
// read back as a trace record would be read by the trace tools.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/xsr_call.h"
#include "exports/orqext.h"
#include "tests/support/fixture.h"
#include "tests/unit/trace/trace_support.h"
#include "xsr/trace/frames.h"

using trace_test::record_of;
using xsrdouble::Call;

namespace {

class TraceFrames : public testing_support::LibraryTest {
protected:
    // The requests (commands) the call made, answered with replies in turn.
    std::vector<xsrtrace::Record> sent_by(const std::function<void(int32_t)>& call,
                                          std::initializer_list<xsrdouble::Reply> replies = {}) {
        const int32_t conn = connect();
        xsrdouble::reset();
        xsrdouble::push(replies);
        call(conn);
        std::vector<xsrtrace::Record> out;
        for (const Call& c : xsrdouble::calls_of(xsrdouble::Fn::Command)) out.push_back(record_of(c));
        return out;
    }
};

TEST_F(TraceFrames, CommandCodesOfEveryRequestKindHaveNames) {
    struct Case {
        const char* what;
        std::function<void(int32_t)> call;
        uint16_t code;
        const char* name;
    } cases[] = {
        {"module list", [](int32_t c) { char b[64]; int32_t n = 64; ORQExt_GetModInfos(c, b, &n); },
         orq::kCmdModuleList, "module list"},
        {"extension version", [](int32_t c) { char b[64]; int32_t n = 64; ORQExt_GetExtVersion(c, b, &n); },
         orq::kCmdExtVersion, "extension version"},
        {"module info", [](int32_t c) { char b[64]; int32_t n = 64; ORQExt_GetModInfo(c, "Echo", nullptr, b, &n); },
         orq::kCmdModuleInfo, "module info"},
        {"register", [](int32_t c) { ORQExt_RegExtMod(c, "M", nullptr, 0, nullptr, nullptr, nullptr, nullptr); },
         orq::kCmdText, "text"},
        {"start", [](int32_t c) { ORQExt_LoadExtMod(c, "M", nullptr); }, orq::kCmdAction, "action"},
        {"send", [](int32_t c) { char b[8]; int32_t n = 8; ORQExt_SendMessage(c, "Echo", nullptr, "x", 1, b, &n); },
         orq::kCmdModuleMessage, "module message"},
        {"cluster refresh", [](int32_t c) { ORQExt_UpdateCluster(c); }, orq::kCmdClusterDescription,
         "cluster description"},
    };
    for (const Case& c : cases) {
        const auto sent = sent_by(c.call);
        ASSERT_FALSE(sent.empty()) << c.what;
        EXPECT_EQ(sent[0].code(), c.code) << c.what;
        EXPECT_EQ(xsrtrace::command_name(sent[0].code()), c.name) << c.what;
    }
    EXPECT_EQ(xsrtrace::command_name(orq::kCmdAsyncMessage), "async message");
    EXPECT_EQ(xsrtrace::command_name(orq::kCmdPoll), "poll");
    EXPECT_EQ(xsrtrace::command_name(orq::kCmdTicket), "ticket");
    EXPECT_EQ(xsrtrace::command_name(orq::kCmdClusterAdd), "cluster add");
    EXPECT_EQ(xsrtrace::command_name(orq::kCmdClusterDel), "cluster delete");
    EXPECT_EQ(xsrtrace::command_name(77), "command 77");
}

TEST_F(TraceFrames, ModuleMessagesNameModuleTargetAndPayload) {
    struct Case {
        const char* target;
        std::string payload;
    } cases[] = {{nullptr, "hello"}, {"node-7", "hello"}, {nullptr, std::string("\0\1r!", 4)}};
    for (const Case& c : cases) {
        const auto sent = sent_by([&](int32_t conn) {
            char b[8];
            int32_t n = 8;
            ORQExt_SendMessage(conn, "Echo", c.target, c.payload.data(), static_cast<int32_t>(c.payload.size()), b, &n);
        });
        ASSERT_EQ(sent.size(), 1u);
        const xsrtrace::Message m = xsrtrace::read_message(sent[0]);
        EXPECT_TRUE(m.is_message);
        EXPECT_FALSE(m.malformed);
        EXPECT_FALSE(m.remote);
        EXPECT_EQ(m.module, "Echo");
        EXPECT_EQ(m.target, c.target ? c.target : "");
        EXPECT_EQ(m.payload, c.payload);
    }
}

TEST_F(TraceFrames, ServiceCallsNameEngineFunctionAndArguments) {
    struct Case {
        const char* what;
        std::function<void(int32_t)> call;
        const char* module;
        bool has_selector;
        int32_t selector;
        const char* function;
        const char* args;
    } cases[] = {
        {"NLPE dictionary load", [](int32_t c) { ORQExt_NLPE_DictLoad(c, "main.dic"); }, "KExt_NLPE", true, 0,
         "NLPE_DictLoad", "\"main.dic\""},
        {"NLPE dictionary unload", [](int32_t c) { ORQExt_NLPE_DictUnload(c, -7); }, "KExt_NLPE", true, 0,
         "NLPE_DictUnload", "-7"},
        {"ARA filter", [](int32_t c) { ORQExt_ARA_Filtrate(c, "a", "bb", 300); }, "KExt_ARA", false, 0,
         "ARA_Filtrate", "\"a\", \"bb\", 300"},
        {"ARA frequency with flag", [](int32_t c) { ORQExt_ARA_Stat_AssociatedFreq(c, "x", "y", 2, 1); }, "KExt_ARA",
         false, 0, "ARA_Stat_AssociatedFreq", "\"x\", \"y\", 2, byte 1"},
        {"STM start", [](int32_t c) { ORQExt_STM_Initialize(c); }, "KExt_STM", false, 0, nullptr, ""},
    };
    for (const Case& c : cases) {
        const auto sent = sent_by(c.call);
        ASSERT_FALSE(sent.empty()) << c.what;
        const xsrtrace::Message m = xsrtrace::read_message(sent[0]);
        EXPECT_FALSE(m.malformed) << c.what;
        EXPECT_TRUE(m.remote) << c.what;
        EXPECT_EQ(m.module, c.module) << c.what;
        EXPECT_EQ(m.has_selector, c.has_selector) << c.what;
        EXPECT_EQ(m.selector, c.selector) << c.what;
        if (c.function) EXPECT_EQ(m.function, c.function) << c.what;
        else EXPECT_FALSE(m.function.empty()) << c.what;
        EXPECT_EQ(xsrtrace::format_args(m.args), c.args) << c.what;
    }
}

TEST_F(TraceFrames, PollsCarryTheTicketOfThePendingAnswer) {
    const auto sent = sent_by(
        [](int32_t c) {
            char b[16];
            int32_t n = 16;
            EXPECT_EQ(ORQExt_SendMessage(c, "Echo", nullptr, "x", 1, b, &n), 0);
            EXPECT_EQ(std::string(b, n), "abcd");
        },
        {xsrdouble::pending(41, -3), xsrdouble::part("ab"), xsrdouble::ok("cd")});
    ASSERT_EQ(sent.size(), 3u);
    for (std::size_t i = 1; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i].code(), orq::kCmdPoll);
        int32_t t0 = 0, t1 = 0;
        ASSERT_TRUE(xsrtrace::read_ticket(sent[i].body, &t0, &t1));
        EXPECT_EQ(t0, 41);
        EXPECT_EQ(t1, -3);
        EXPECT_FALSE(xsrtrace::read_message(sent[i]).is_message);
    }
    int32_t t0 = 0, t1 = 0;
    EXPECT_FALSE(xsrtrace::read_ticket("short", &t0, &t1));
}

TEST_F(TraceFrames, CutOrStrangeBodiesAreMarkedNotOverrun) {
    struct Case {
        std::string body;
        bool malformed;
    } cases[] = {
        {"Echo", true},                                // no NUL after the module
        {std::string("Echo\0", 5), true},              // no second NUL
        {std::string("Echo\0tgt\0", 9), true},         // target without its closing NUL
        {std::string("Echo\0\0r!\0fn", 11), true},     // function name without its NUL
        {std::string("Echo\0\0\1\0\0\0r!", 12), false},  // too short for a selector frame: a payload
    };
    for (const Case& c : cases) {
        xsrtrace::Record r;
        r.header = std::string("\x02\x00", 2);
        r.body = c.body;
        const xsrtrace::Message m = xsrtrace::read_message(r);
        EXPECT_TRUE(m.is_message);
        EXPECT_EQ(m.malformed, c.malformed) << xsrtrace::to_hex(c.body);
    }
}

TEST(TraceShowBytes, TextInQuotesBinaryInHexLongOnesCut) {
    EXPECT_EQ(xsrtrace::show_bytes("hello"), "\"hello\"");
    EXPECT_EQ(xsrtrace::show_bytes(std::string("\x01\x02", 2)), "0102");
    EXPECT_EQ(xsrtrace::show_bytes(std::string(60, 'a'), 4), "\"aaaa\"... (60 bytes)");
    EXPECT_EQ(xsrtrace::show_bytes(""), "");
}

}  // namespace

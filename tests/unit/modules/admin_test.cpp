// Module administration against the scripted XSRClient: the exact command
// texts, the action document and its single direct request, and the queries.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "exports/orqext.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fixture.h"

using namespace xsrdouble;

namespace {

using AdminTest = testing_support::LibraryTest;

std::string header(uint16_t code, int32_t a, int32_t b) {
    std::string h;
    h += static_cast<char>(code & 0xFF);
    h += static_cast<char>(code >> 8);
    h += '\xF5';
    h += '\x01';
    return h + le32(a) + le32(b) + le32(-1);
}

void expect_fixed_arguments(const Call& c) {
    EXPECT_EQ(c.magic, 32639);
    EXPECT_EQ(c.reserved1, 0);
    EXPECT_EQ(c.timeout_hint, 45000);
    EXPECT_EQ(c.header_len, 16);
    EXPECT_EQ(c.reserved2, 0);
    EXPECT_EQ(c.reserved3, 0);
    EXPECT_TRUE(c.body2_null);
    EXPECT_EQ(c.body2_len, 0);
}

TEST_F(AdminTest, RegistrationTextsAreExact) {
    struct Case {
        const char* version;
        uint8_t autostart;
        const char* file_ref;
        const char* cmd_param;
        const char* desc;
        const char* depend;
        const char* text;
    };
    const Case cases[] = {
        {nullptr, 0, nullptr, nullptr, nullptr, nullptr, "use ext M cmd reg version=1.0.0.0"},
        {"", 0, "", "", "", "", "use ext M cmd reg version=1.0.0.0"},
        {"2.0", 1, "f.dll", nullptr, nullptr, nullptr,
         "use ext M cmd reg version=2.0 ModType=autostart FileRef='f.dll'"},
        {"3", 0, "a b.dll", "-x 'q'", "two words", "x.dll;y.dll",
         "use ext M cmd reg version=3 FileRef='a b.dll' CmdParam='-x 'q'' Desc='two words' "
         "DependFiles='x.dll;y.dll'"},
        {nullptr, 0x80, nullptr, nullptr, "d", nullptr,
         "use ext M cmd reg version=1.0.0.0 ModType=autostart Desc='d'"},
    };
    for (const Case& k : cases) {
        reset();
        EXPECT_EQ(ORQExt_RegExtMod(5, "M", k.version, k.autostart, k.file_ref, k.cmd_param, k.desc,
                                   k.depend),
                  0);
        auto cs = calls_of(Fn::Command);
        ASSERT_EQ(cs.size(), 1u) << k.text;
        EXPECT_EQ(cs[0].handle, 5);
        EXPECT_EQ(cs[0].header, header(9, -1, 128)) << "text command, no answer buffer";
        EXPECT_EQ(cs[0].body, k.text);
        EXPECT_EQ(cs[0].body_len, static_cast<int32_t>(std::strlen(k.text))) << "no NUL sent";
        expect_fixed_arguments(cs[0]);
    }
}

TEST_F(AdminTest, UnregistrationKeepsItsBlanks) {
    struct Case {
        const char* version;
        const char* text;
    };
    const Case cases[] = {
        {nullptr, "use ext Mod cmd unreg "},
        {"", "use ext Mod cmd unreg  version="},
        {"1.2", "use ext Mod cmd unreg  version=1.2"},
    };
    for (const Case& k : cases) {
        reset();
        EXPECT_EQ(ORQExt_UnRegExtMod(3, "Mod", k.version), 0);
        auto cs = calls_of(Fn::Command);
        ASSERT_EQ(cs.size(), 1u);
        EXPECT_EQ(cs[0].header, header(9, -1, 128));
        EXPECT_EQ(cs[0].body, k.text);
    }
}

TEST_F(AdminTest, TextCommandsPassTheExchangeResultAndRefuseBadArguments) {
    testing_support::FakeClock clock;
    push(fail(-1301));
    EXPECT_EQ(ORQExt_RegExtMod(5, "M", nullptr, 0, nullptr, nullptr, nullptr, nullptr), -1301);
    push(pending(1, 2));
    push(ok("x"));
    EXPECT_EQ(ORQExt_UnRegExtMod(5, "M", nullptr), 0) << "pending answers are polled";
    reset();
    EXPECT_EQ(ORQExt_RegExtMod(5, nullptr, nullptr, 0, nullptr, nullptr, nullptr, nullptr), -1100);
    EXPECT_EQ(ORQExt_RegExtMod(5, "", nullptr, 0, nullptr, nullptr, nullptr, nullptr), -1100);
    EXPECT_EQ(ORQExt_RegExtMod(0, "M", nullptr, 0, nullptr, nullptr, nullptr, nullptr), -1100);
    EXPECT_EQ(ORQExt_UnRegExtMod(5, nullptr, "1"), -1100);
    EXPECT_EQ(ORQExt_UnRegExtMod(5, "", "1"), -1100);
    EXPECT_EQ(ORQExt_UnRegExtMod(0, "M", "1"), -1100);
    EXPECT_EQ(count(Fn::Command), 0u);
}

TEST_F(AdminTest, StartAndStopSendTheActionDocumentInOneDirectRequest) {
    struct Case {
        bool start;
        const char* version;
        const char* doc;
    };
    const Case cases[] = {
        {true, nullptr, "<Module>KExt_X</Module><Action>Start</Action>"},
        {true, "", "<Module>KExt_X</Module><Action>Start</Action>"},
        {false, "1.0", "<Module>KExt_X</Module><Action>Stop</Action><Version>1.0</Version>"},
    };
    for (const Case& k : cases) {
        reset();
        const int32_t rc = k.start ? ORQExt_LoadExtMod(9, "KExt_X", k.version)
                                   : ORQExt_UnloadExtMod(9, "KExt_X", k.version);
        EXPECT_EQ(rc, 0);
        auto cs = calls_of(Fn::Command);
        ASSERT_EQ(cs.size(), 1u);
        EXPECT_EQ(cs[0].handle, 9);
        EXPECT_EQ(cs[0].header, header(1, 32639, 0));
        EXPECT_EQ(cs[0].body, k.doc);
        EXPECT_EQ(cs[0].body_len, static_cast<int32_t>(std::strlen(k.doc)));
        EXPECT_FALSE(cs[0].answer_null);
        EXPECT_EQ(cs[0].capacity, 256);
        expect_fixed_arguments(cs[0]);
    }
}

TEST_F(AdminTest, ActionResultsComeBackUnpolled) {
    // -9000 and -1108 are returned as they are: no poll follows.
    for (int32_t rc : {-9000, -1108, -7, 3}) {
        reset();
        push(Reply{rc, std::string(300, 'a'), 300});
        EXPECT_EQ(ORQExt_LoadExtMod(9, "M", nullptr), rc);
        EXPECT_EQ(count(Fn::Command), 1u);
    }
    reset();
    EXPECT_EQ(ORQExt_LoadExtMod(0, "M", nullptr), -1100);
    EXPECT_EQ(ORQExt_UnloadExtMod(9, nullptr, nullptr), -1100);
    EXPECT_EQ(ORQExt_UnloadExtMod(9, "", "1"), -1100);
    EXPECT_EQ(count(Fn::Command), 0u);
}

TEST_F(AdminTest, ModuleInfoBodyAndAnswer) {
    struct Case {
        const char* second;
        std::string body;
    };
    const Case cases[] = {
        {nullptr, std::string("Mod\0\0", 5)},
        {"", std::string("Mod\0\0\0", 6)},
        {"Sub", std::string("Mod\0Sub\0\0", 9)},
    };
    for (const Case& k : cases) {
        reset();
        push(ok("info-bytes"));
        char ans[200] = {};
        int32_t len = sizeof ans;
        EXPECT_EQ(ORQExt_GetModInfo(4, "Mod", k.second, ans, &len), 0);
        auto cs = calls_of(Fn::Command);
        ASSERT_EQ(cs.size(), 1u);
        EXPECT_EQ(cs[0].header, header(7, -1, 200));
        EXPECT_EQ(cs[0].body, k.body);
        EXPECT_EQ(cs[0].body_len, static_cast<int32_t>(k.body.size()));
        EXPECT_EQ(len, 10);
        EXPECT_EQ(std::string(ans, 10), "info-bytes");
    }
    reset();
    // Handle 0 is not refused here: the exchange decides.
    push(fail(-4100));
    int32_t len = 0;
    EXPECT_EQ(ORQExt_GetModInfo(0, "Mod", nullptr, nullptr, &len), -4100);
    EXPECT_EQ(count(Fn::Command), 1u);
    EXPECT_EQ(ORQExt_GetModInfo(4, nullptr, nullptr, nullptr, nullptr), -1100);
    EXPECT_EQ(ORQExt_GetModInfo(4, "", nullptr, nullptr, nullptr), -1100);
    EXPECT_EQ(count(Fn::Command), 1u);
}

TEST_F(AdminTest, ModuleListAndVersionQueries) {
    struct Case {
        int32_t(ORQEXT_CALL* fn)(int32_t, void*, int32_t*);
        uint16_t code;
    };
    const Case cases[] = {{ORQExt_GetModInfos, 6}, {ORQExt_GetExtVersion, 8}};
    for (const Case& k : cases) {
        reset();
        push(ok(std::string("raw\0bytes", 9)));
        char ans[16] = {};
        int32_t len = sizeof ans;
        EXPECT_EQ(k.fn(2, ans, &len), 0);
        auto cs = calls_of(Fn::Command);
        ASSERT_EQ(cs.size(), 1u);
        EXPECT_EQ(cs[0].header, header(k.code, -1, 128)) << "small buffer: local 128-byte area";
        EXPECT_EQ(cs[0].body_len, 0);
        EXPECT_EQ(len, 9);
        EXPECT_EQ(std::string(ans, 9), std::string("raw\0bytes", 9));

        reset();
        push(ok(std::string(20, 'z')));
        len = sizeof ans;
        EXPECT_EQ(k.fn(2, ans, &len), -1107) << "answer longer than the caller's buffer";
        EXPECT_EQ(len, 20);

        reset();
        int32_t zero = 0, negative = -1;
        EXPECT_EQ(k.fn(2, ans, &zero), -1100);
        EXPECT_EQ(k.fn(2, ans, &negative), -1100);
        EXPECT_EQ(k.fn(2, nullptr, &len), -1100);
        EXPECT_EQ(k.fn(2, ans, nullptr), -1100);
        EXPECT_EQ(count(Fn::Command), 0u);
    }
}

}  // namespace

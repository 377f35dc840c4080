// Byte buffer, module message, connections, application messages and
// statements against the scripted XSRClient.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "core/message.h"
#include "exports/orqext.h"
#include "modules/connect_string.h"
#include "platform/profile.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fixture.h"

using namespace xsrdouble;

namespace {

using CoreTest = testing_support::LibraryTest;

TEST(ByteBufferTest, GrowthStepsFollowTheFixedRules) {
    orq::ByteBuffer b;
    EXPECT_EQ(b.size(), 1024u);
    std::string s(1023, 'x');
    b.append_string(s.c_str());  // exactly fills 1024
    EXPECT_EQ(b.size(), 1024u);
    b.append_byte(1);
    EXPECT_EQ(b.size(), 1024u + 128u);
    b.append_int32(7);
    EXPECT_EQ(b.size(), 1024u + 128u);
    std::string t(200, 'y');
    b.append_string(t.c_str());  // 201 bytes do not fit in the 123 left
    EXPECT_EQ(b.size(), 1152u + 201u + 128u);
    std::vector<char> blk(500, 'z');
    b.append_block(blk.data(), blk.size());
    EXPECT_EQ(b.size(), 1481u + 500u + 256u);
    EXPECT_EQ(b.used(), 1024u + 1u + 4u + 201u + 500u);
    for (std::size_t i = b.used(); i < b.size(); ++i) ASSERT_EQ(b.data()[i], 0) << i;
    b.append_string(nullptr);
    EXPECT_EQ(b.used(), 1730u) << "a null string adds nothing";
}

// Past the inline area the buffer moves to storage on the heap that is
// not filled with zeros in advance: the content moves intact, the spare
// bytes still read as zeros, and storage set aside for the tail is written
// there and counted in without growing the size by the steps.
TEST(ByteBufferTest, ContentMovesToTheHeapIntactAndSpareBytesReadAsZeros) {
    orq::ByteBuffer b(32);
    std::string expect;
    for (int i = 0; i < 1000; ++i) {
        const std::string piece(static_cast<std::size_t>(i % 37), static_cast<char>('a' + i % 26));
        b.append_string(piece.c_str());
        b.append_int32(i);
        expect += piece + std::string(1, '\0') + std::string(reinterpret_cast<const char*>(&i), 4);
    }
    ASSERT_GT(b.used(), orq::ByteBuffer::kInlineSize);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.content()), b.used()), expect);
    for (std::size_t i = b.used(); i < b.size(); ++i) ASSERT_EQ(b.data()[i], 0) << i;

    const std::size_t before = b.size();
    b.reserve(20000);
    std::size_t room = 0;
    unsigned char* tail = b.tail(&room);
    ASSERT_GE(room, 20000u);
    std::memset(tail, 'q', 20000);
    b.commit(20000);
    expect += std::string(20000, 'q');
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.content()), b.used()), expect);
    EXPECT_EQ(b.size(), std::max(before, b.used())) << "the tail joins the content, no step";
    EXPECT_TRUE(b.prepend("hd", 2));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.content()), 2), "hd");
    const orq::ByteBuffer copy(b);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(copy.content()), copy.used()), "hd" + expect);
}

TEST(ReaderTest, NeverReadsPastTheData) {
    const unsigned char d[] = {1, 0, 0, 0, 'a', 'b', 0, 'c', 'd'};
    orq::Reader r(d, sizeof d);
    int32_t v = 0;
    ASSERT_TRUE(r.int32(&v));
    EXPECT_EQ(v, 1);
    char f2[2], f3[3];
    EXPECT_FALSE(r.cstring(f2, sizeof f2)) << "does not fit the field";
    ASSERT_TRUE(r.cstring(f3, sizeof f3));
    EXPECT_STREQ(f3, "ab");
    char f9[9];
    EXPECT_FALSE(r.cstring(f9, sizeof f9)) << "no NUL before the end";
    EXPECT_FALSE(r.int32(&v));
    EXPECT_EQ(r.remaining(), 2u);
}

// The short copies and fills of the per-call paths are ladders of fixed-size
// moves chosen by length: every length up to past the last rung, from and to
// every offset within a 16-byte block, must touch exactly [0, n) of the
// destination and carry exactly the source's bytes.
TEST(ShortMovesTest, EveryLengthCopiesAndZeroesExactlyItsBytes) {
    constexpr unsigned char kGuard = 0xC3;
    std::vector<unsigned char> src(256);
    for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<unsigned char>(i * 37 + 11);
    for (std::size_t n = 0; n <= 160; ++n) {
        for (std::size_t shift = 0; shift < 16; shift += 3) {
            SCOPED_TRACE(testing::Message() << n << " bytes at offset " << shift);
            std::vector<unsigned char> to(16 + 160 + 32, kGuard);
            orq::copy_bytes(to.data() + 16 + shift, src.data() + (15 - shift), n);
            for (std::size_t i = 0; i < to.size(); ++i) {
                const bool inside = i >= 16 + shift && i < 16 + shift + n;
                ASSERT_EQ(to[i], inside ? src[15 - shift + (i - 16 - shift)] : kGuard) << "byte " << i;
            }
            orq::zero_bytes(to.data() + 16 + shift, n);
            for (std::size_t i = 0; i < to.size(); ++i) {
                const bool inside = i >= 16 + shift && i < 16 + shift + n;
                ASSERT_EQ(to[i], inside ? 0 : kGuard) << "byte " << i << " after zeroing";
            }
        }
    }
    // Decoded entries: n little-endian values, nothing past them.
    const int32_t values[] = {1, -2, 0x7FFFFFFF, INT32_MIN, 0x01020304};
    unsigned char le[4 * 5 + 2 * 5];
    for (int i = 0; i < 5; ++i) {
        const uint32_t u = static_cast<uint32_t>(values[i]);
        for (int b = 0; b < 4; ++b) le[4 * i + b] = static_cast<unsigned char>(u >> (8 * b));
        le[20 + 2 * i] = static_cast<unsigned char>(u);
        le[20 + 2 * i + 1] = static_cast<unsigned char>(u >> 8);
    }
    int32_t items[6] = {9, 9, 9, 9, 9, 9};
    int16_t marks[6] = {9, 9, 9, 9, 9, 9};
    orq::get_le_array(le, items, 5);
    orq::get_le_array(le + 20, marks, 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(items[i], values[i]);
        EXPECT_EQ(marks[i], static_cast<int16_t>(values[i]));
    }
    EXPECT_EQ(items[5], 9);
    EXPECT_EQ(marks[5], 9);
}

TEST_F(CoreTest, ModuleMessageLayout) {
    struct Case {
        const char* module;
        const char* target;
        std::string payload;
        std::string expect;
    };
    const Case cases[] = {
        {"KExt_NLPE", nullptr, "abc", std::string("KExt_NLPE\0\0abc", 14)},
        {"M", "", "", std::string("M\0\0\0", 4)},
        {"M", "T", "p", std::string("M\0T\0\0p", 6)},
        {nullptr, nullptr, "p", std::string("\0p", 2)},
    };
    for (const Case& k : cases) {
        reset();
        char ans[200];
        int32_t len = sizeof ans;
        EXPECT_EQ(orq::send_module_message(5, k.module, k.target, k.payload.data(), k.payload.size(), ans,
                                           &len, -1, 0),
                  0);
        auto cs = calls_of(Fn::Command);
        ASSERT_EQ(cs.size(), 1u);
        EXPECT_EQ(cs[0].code(), 2);
        EXPECT_EQ(cs[0].body, k.expect);
        EXPECT_EQ(cs[0].handle, 5);
    }
}

// The module name is measured while it is copied into the message; names
// around the size of the stack message (4 KiB) take the other ways: measured
// first, or the heap. Each is sent exactly, whatever its place in memory
// (the name is copied to every offset within a 16-byte block).
TEST_F(CoreTest, ModuleNamesOfEveryLengthAroundTheStackMessageAreSentExactly) {
    for (const std::size_t n : {1u, 15u, 16u, 17u, 31u, 63u, 4078u, 4081u, 4084u, 4087u, 4089u,
                                4090u, 4091u, 4092u, 4093u, 4096u, 5000u}) {
        for (std::size_t shift = 0; shift < 16; ++shift) {
            SCOPED_TRACE("name of " + std::to_string(n) + " bytes at offset " + std::to_string(shift));
            // A letter of its own per case, so that no case can pass on what an
            // earlier one left in memory.
            const char letter = static_cast<char>('a' + (n + shift) % 26);
            std::string storage(shift, '#');
            storage += std::string(n, letter);
            storage += '\0';
            const char* module = storage.c_str() + shift;
            reset();
            EXPECT_EQ(orq::send_module_message(5, module, nullptr, "pay", 3, nullptr, nullptr, -1, 0), 0);
            auto cs = calls_of(Fn::Command);
            ASSERT_EQ(cs.size(), 1u);
            EXPECT_EQ(cs[0].body, std::string(n, letter) + std::string("\0\0pay", 5));
        }
    }
}

TEST_F(CoreTest, LargePayloadIsSentExactly) {
    std::string payload(5000, '\x01');
    EXPECT_EQ(orq::send_module_message(5, "M", nullptr, payload.data(), payload.size(), nullptr, nullptr, -1, 0), 0);
    auto cs = calls_of(Fn::Command);
    ASSERT_EQ(cs.size(), 1u);
    EXPECT_EQ(cs[0].body, std::string("M\0\0", 3) + payload);
}

TEST_F(CoreTest, FrameEncodesSelectorNameAndArguments) {
    orq::Frame f(0, "NLPE_DictLoad");
    f.str(nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(f.buffer().data()), f.buffer().used()),
              le32(0) + std::string("r!\0NLPE_DictLoad\0", 17));
    orq::Frame g("X");
    g.str("ab").str_or_empty(nullptr).i32(-2).byte(9);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(g.buffer().data()), g.buffer().used()),
              std::string("r!\0X\0ab\0\0", 9) + le32(-2) + "\x09");
}

TEST_F(CoreTest, SentFrameIsPrefixedWithTheModuleName) {
    const std::string long_name(40, 'M');  // longer than the frame's headroom
    for (const std::string& module : {std::string("KExt_NLPE"), long_name}) {
        reset();
        orq::Frame f(3, "F");
        f.i32(9);
        EXPECT_EQ(orq::send_frame(5, module.c_str(), f, nullptr, nullptr), 0);
        auto cs = calls_of(Fn::Command);
        ASSERT_EQ(cs.size(), 1u);
        EXPECT_EQ(cs[0].body, module + std::string("\0\0", 2) + le32(3) + std::string("r!\0F\0", 5) + le32(9));
    }
}

TEST_F(CoreTest, ConnectSendsTheLoginRecordAndRegisters) {
    int32_t status = 1;
    int32_t h = ORQExt_Connect("host1", 4000, "alice", "secret", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(h, 1001);
    auto opens = calls_of(Fn::Open);
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].server, "host1");
    EXPECT_EQ(opens[0].port, 4000);
    ASSERT_EQ(opens[0].login.size(), 112u);
    std::string expect(112, '\0');
    expect.replace(0, 5, "alice");
    expect.replace(64, 6, "secret");
    expect.replace(96, 5, "host1");
    EXPECT_EQ(opens[0].login, expect);
    EXPECT_EQ(orq::registry::count(), 1);
    EXPECT_EQ(ORQExt_DisConnect(h), 0);
    EXPECT_EQ(ORQExt_DisConnect(h), -4100);
    EXPECT_EQ(count(Fn::Close), 1u);
}

TEST_F(CoreTest, ConnectRejectsUnusableArgumentsWithoutOpening) {
    std::string u64(64, 'u'), p32(32, 'p'), s16(16, 's');
    std::string u63(63, 'u'), p31(31, 'p'), s15(15, 's');
    struct Case {
        const char* server;
        int32_t port;
        const char* user;
        const char* pass;
    };
    const Case bad[] = {
        {nullptr, 1, "u", "p"}, {"", 1, "u", "p"},          {"s", 0, "u", "p"},
        {"s", -5, "u", "p"},    {"s", 1, nullptr, "p"},      {"s", 1, "u", nullptr},
        {"s", 1, u64.c_str(), "p"}, {"s", 1, "u", p32.c_str()}, {s16.c_str(), 1, "u", "p"},
    };
    for (const Case& k : bad) {
        int32_t status = 0;
        EXPECT_EQ(ORQExt_Connect(k.server, k.port, k.user, k.pass, &status), 0);
        EXPECT_EQ(status, -1100);
    }
    EXPECT_EQ(count(Fn::Open), 0u);
    int32_t status = 1;
    int32_t h = ORQExt_Connect(s15.c_str(), 1, u63.c_str(), p31.c_str(), &status);
    EXPECT_EQ(status, 0) << "fields filled to their limit are accepted";
    EXPECT_NE(h, 0);
    EXPECT_NE(ORQExt_Connect("s", 1, "", "", nullptr), 0) << "status pointer is optional";
}

TEST_F(CoreTest, FailedOpenIsReturnedAndNotRegistered) {
    set_open_result("down", -30);
    int32_t status = 0;
    EXPECT_EQ(ORQExt_Connect("down", 1, "u", "p", &status), 0);
    EXPECT_EQ(status, -30);
    EXPECT_EQ(orq::registry::count(), 0);
}

TEST_F(CoreTest, IsConnectAndServerStatusPassResultsThrough) {
    set_valid(77, 5);
    EXPECT_EQ(ORQExt_IsConnect(77), 5);
    set_valid(78, 0);
    EXPECT_EQ(ORQExt_IsConnect(78), 0);
    set_check_result(-12);
    EXPECT_EQ(ORQExt_GetServerStatus("h", 1), -12);
    EXPECT_EQ(ORQExt_GetServerStatus("", 1), -1100);
    EXPECT_EQ(ORQExt_GetServerStatus(nullptr, 1), -1100);
    EXPECT_EQ(ORQExt_GetServerStatus("h", 0), -1100);
    EXPECT_EQ(count(Fn::Check), 1u);
}

TEST_F(CoreTest, SendMessageChecksAndPassesTheAnswer) {
    char ans[128];
    int32_t len = sizeof ans;
    EXPECT_EQ(ORQExt_SendMessage(1, "", nullptr, "x", 1, ans, &len), -1100);
    EXPECT_EQ(ORQExt_SendMessage(1, nullptr, nullptr, "x", 1, ans, &len), -1100);
    EXPECT_EQ(ORQExt_SendMessage(1, "M", nullptr, nullptr, 3, ans, &len), -1100);
    EXPECT_EQ(ORQExt_SendMessage(1, "M", nullptr, "x", -1, ans, &len), -1100);
    EXPECT_EQ(count(Fn::Command), 0u);

    push(ok("pong"));
    EXPECT_EQ(ORQExt_SendMessage(1, "M", "t", "ping", 4, ans, &len), 0);
    EXPECT_EQ(len, 4);
    EXPECT_EQ(std::string(ans, 4), "pong");
    const auto cmds = calls_of(Fn::Command);
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].body, std::string("M\0t\0\0ping", 9));
    EXPECT_EQ(ORQExt_SendMessage(1, "M", nullptr, nullptr, 0, nullptr, nullptr), 0);
}

TEST_F(CoreTest, SendMessageTimeOutWithoutCancelGivesTimeout) {
    testing_support::FakeClock clock;
    push(pending(1, 2));
    char ans[128];
    int32_t len = sizeof ans;
    EXPECT_EQ(ORQExt_SendMessageTimeOut(1, "M", nullptr, "x", 1, ans, &len, 0, 0), -1112);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(count(Fn::Command), 1u);
}

TEST(ConnectStringTest, KeysAreFoundAnywhereAndLowerCased) {
    struct Case {
        const char* cs;
        bool ok;
        const char* server;
        int32_t port;
        const char* user;
        const char* pass;
    };
    const Case cases[] = {
        {"Server=Host1;Port=4000;USER=Admin;pass=PW", true, "host1", 4000, "admin", "pw"},
        {"pass=a;user=b;port=1;server=c", true, "c", 1, "b", "a"},
        {"xserver=h; port= 12x;user=u;pass=", true, "h", 12, "u", ""},
        {"server=h;port=x;user=u;pass=p", true, "h", 0, "u", "p"},
        {"server=h;port=-3;user=u;pass=p", true, "h", -3, "u", "p"},
        {"server=h;port=99999999999;user=u;pass=p", true, "h", 0, "u", "p"},
        {"server=h;port=1;user=u", false, "", 0, "", ""},
        {"superuser=x;server=h;port=1;pass=p", true, "h", 1, "x", "p"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.cs);
        orq::ConnectParams p;
        ASSERT_EQ(orq::parse_connect_string(k.cs, &p), k.ok);
        if (!k.ok) continue;
        EXPECT_EQ(p.server, k.server);
        EXPECT_EQ(p.port, k.port);
        EXPECT_EQ(p.user, k.user);
        EXPECT_EQ(p.password, k.pass);
    }
}

TEST_F(CoreTest, ExecSqlOpensSendsAndClosesATemporaryConnection) {
    push(Reply{3, "", -1});
    EXPECT_EQ(ORQExt_ExecSql("Server=Host1;Port=4000;USER=Admin;pass=PW", "select 1"), 3);
    auto cs = calls();
    ASSERT_EQ(cs.size(), 3u);
    EXPECT_EQ(cs[0].fn, Fn::Open);
    EXPECT_EQ(cs[0].server, "host1");
    EXPECT_EQ(cs[0].login.substr(0, 6), std::string("admin\0", 6));
    EXPECT_EQ(cs[1].fn, Fn::Command);
    EXPECT_EQ(cs[1].code(), 9);
    EXPECT_EQ(cs[1].body, "select 1");
    EXPECT_EQ(cs[1].capacity, 128) << "the answer goes to the local area and is dropped";
    EXPECT_EQ(cs[2].fn, Fn::Close);
    EXPECT_EQ(cs[2].handle, cs[0].handle);
    EXPECT_EQ(orq::registry::count(), 0);
}

TEST_F(CoreTest, ExecSqlRefusesBadInputWithoutConnecting) {
    EXPECT_EQ(ORQExt_ExecSql("server=h;port=1;user=u", "s"), -1100);
    EXPECT_EQ(ORQExt_ExecSql("server=h;port=x;user=u;pass=p", "s"), -1100);
    EXPECT_EQ(ORQExt_ExecSql("", "s"), -1100);
    EXPECT_EQ(ORQExt_ExecSql("server=h;port=1;user=u;pass=p", ""), -1100);
    EXPECT_EQ(ORQExt_ExecSql(nullptr, "s"), -1100);
    EXPECT_EQ(calls().size(), 0u);
    set_open_result("h", -44);
    EXPECT_EQ(ORQExt_ExecSql("server=h;port=1;user=u;pass=p", "s"), -44);
    EXPECT_EQ(count(Fn::Command), 0u);
}

TEST_F(CoreTest, ExecSqlReturnsTheStatementResultWhenCloseFails) {
    set_close_result(-9);
    push(fail(-21));
    EXPECT_EQ(ORQExt_ExecSql("server=h;port=1;user=u;pass=p", "x"), -21);
    EXPECT_EQ(count(Fn::Close), 1u);
}

TEST_F(CoreTest, ExecSql2ChecksAndSendsTheStatementWithoutNul) {
    EXPECT_EQ(ORQExt_ExecSql2(0, "s"), -1100);
    EXPECT_EQ(ORQExt_ExecSql2(3, ""), -1100);
    EXPECT_EQ(ORQExt_ExecSql2(3, nullptr), -1100);
    EXPECT_EQ(count(Fn::Command), 0u);
    EXPECT_EQ(ORQExt_ExecSql2(3, "drop x"), 0);
    auto c = calls_of(Fn::Command).at(0);
    EXPECT_EQ(c.body, "drop x");
    EXPECT_EQ(c.body_len, 6);
    EXPECT_EQ(c.handle, 3);
}

TEST(SettingsTest, OnlyTrueInAnyLetterCaseTurnsClusteringOn) {
    struct Case {
        const char* v;
        bool on;
    };
    const Case cases[] = {{"true", true}, {"TRUE", true}, {"tRuE", true},  {"1", false},
                          {"yes", false}, {" true", false}, {"true ", false}, {"", false},
                          {"tru", false}, {"truex", false}};
    for (const Case& k : cases) EXPECT_EQ(orq::settings::parse_cluster_enable(k.v), k.on) << k.v;
}

TEST(SettingsTest, ProfileLookupFollowsPrivateProfileRules) {
    const std::string ini =
        "; comment\n[Other]\nClusterEnable=true\n[orqextclient]\r\n  clusterenable =  True  \r\n";
    std::string v;
    ASSERT_TRUE(orq::platform::profile_lookup(ini, "OrqExtClient", "ClusterEnable", &v));
    EXPECT_EQ(v, "True");
    EXPECT_FALSE(orq::platform::profile_lookup("[OrqExtClient]\n", "OrqExtClient", "ClusterEnable", &v));
    EXPECT_FALSE(orq::platform::profile_lookup("ClusterEnable=true\n", "OrqExtClient", "ClusterEnable", &v));
    ASSERT_TRUE(orq::platform::profile_lookup("[OrqExtClient]\nClusterEnable=\" true\"\n", "OrqExtClient",
                                              "ClusterEnable", &v));
    EXPECT_EQ(v, " true");
}

}  // namespace

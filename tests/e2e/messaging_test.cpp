// Module messages and statements end to end: answers of every size, answers
// in parts, pending answers fetched by polls, time limits with and without
// cancel, statements on a connection and through a connect string, and many
// threads on one handle.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "tests/e2e/fixture.h"

namespace e2e {
namespace {

using namespace xsrproto;

class MessagingTest : public SimTest {
protected:
    std::string config() override {
        return "part_size 1000\n"
               "pending_after_ms 20\n"
               "module Lazy echo registered\n";
    }
};

TEST_F(MessagingTest, EchoAnswersEverySizeUnchanged) {
    const int32_t h = connect();
    // Around the library's 128-byte local area, around the part size, and
    // one answer many parts long.
    for (std::size_t n : {1u, 127u, 128u, 999u, 1000u, 1001u, 70000u}) {
        const std::string payload = pattern(n);
        int32_t rc = -1;
        EXPECT_EQ(send(h, "Echo", payload, &rc), payload) << n;
        EXPECT_EQ(rc, 0) << n;
    }
}

TEST_F(MessagingTest, SmallBufferGetsTheLeadingBytesAndTheWholeLength) {
    const int32_t h = connect();
    const std::string payload = pattern(100);
    char buf[64 + 8];
    std::memset(buf, '#', sizeof buf);
    int32_t len = 64;
    EXPECT_EQ(ORQExt_SendMessage(h, "Echo", nullptr, payload.data(), 100, buf, &len), ORQEXT_E_ANSWER_TOO_LONG);
    EXPECT_EQ(len, 100);
    EXPECT_EQ(std::string(buf, 64), payload.substr(0, 64));
    EXPECT_EQ(std::string(buf + 64, 8), std::string(8, '#')) << "nothing written past the capacity";
}

TEST_F(MessagingTest, ModuleStatesAndResultsComeBackAsCodes) {
    const int32_t h = connect();
    struct Case {
        const char* module;
        const char* payload;
        int32_t want;
    };
    const Case cases[] = {
        {"NoSuchModule", "x", kErrUnknownModule},
        {"Lazy", "x", kErrNotStarted},
        {"echo", "x", 0},  // module names ignore letter case
        {"Script", "rc=-77", -77},
        {"Script", "rc=5 size=3", 5},  // a positive status word passes through
        {"Script", "bogus=1", kErrRequest},
    };
    for (const auto& c : cases) {
        int32_t rc = 1;
        send(h, c.module, c.payload, &rc);
        EXPECT_EQ(rc, c.want) << c.module << " " << c.payload;
    }
}

// An answer longer than the buffer gives -1107, its leading bytes and the
// whole answer's length, however it travels: whole or in parts, straight into
// the buffer or through the library's 128-byte local area, with parts
// already received or not. A second call with that length as the capacity
// gets the whole answer.
TEST_F(MessagingTest, AnswersInPartsArriveWholeOrCutAtTheCapacity) {
    const int32_t h = connect();
    struct Case {
        const char* script;
        std::size_t size;
        int32_t capacity;
        int32_t want;
    };
    const Case cases[] = {
        {"size=10000", 10000, 10000, 0},          // ten parts, exactly the capacity
        {"size=10000 part=64", 10000, 20000, 0},  // the module's own part size
        {"size=2500", 2500, 1 << 20, 0},          // a last part shorter than the others
        {"size=10000", 10000, 9999, ORQEXT_E_ANSWER_TOO_LONG},  // the tenth part does not fit
        {"size=600", 600, 500, ORQEXT_E_ANSWER_TOO_LONG},       // one piece longer than the buffer
        {"size=3000 part=500", 3000, 1000, ORQEXT_E_ANSWER_TOO_LONG},  // two parts came, no room left
        {"size=2000000 part=1048576", 2000000, 1500000, ORQEXT_E_ANSWER_TOO_LONG},
        {"size=3000", 3000, 50, ORQEXT_E_ANSWER_TOO_LONG},       // local area, cut by the server
        {"size=300 part=50", 300, 10, ORQEXT_E_ANSWER_TOO_LONG}, // local area, after parts
        {"size=100", 100, 10, ORQEXT_E_ANSWER_TOO_LONG},         // local area, the whole answer came
        {"size=3000", 3000, 0, ORQEXT_E_ANSWER_TOO_LONG},        // capacity 0 asks for the size
        {"size=100", 100, 0, ORQEXT_E_ANSWER_TOO_LONG},
        {"size=0", 0, 0, 0},                                     // an empty answer fits
    };
    const auto call = [h](const std::string& script, int32_t capacity, std::string* buf, int32_t* len) {
        buf->assign(static_cast<std::size_t>(capacity) + 16, '#');
        *len = capacity;
        return ORQExt_SendMessage(h, "Script", nullptr, script.data(), static_cast<int32_t>(script.size()),
                                  &(*buf)[0], len);
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.script) + " into " + std::to_string(c.capacity));
        std::string buf;
        int32_t len = 0;
        const int32_t rc = call(c.script, c.capacity, &buf, &len);
        EXPECT_EQ(rc, c.want);
        EXPECT_EQ(len, static_cast<int32_t>(c.size)) << "the whole answer's length";
        const std::size_t held = std::min(c.size, static_cast<std::size_t>(c.capacity));
        EXPECT_EQ(buf.substr(0, held), pattern(c.size).substr(0, held)) << "the leading bytes are delivered";
        EXPECT_EQ(buf.substr(static_cast<std::size_t>(c.capacity)), std::string(16, '#'))
            << "nothing past the capacity";
        if (rc == ORQEXT_E_ANSWER_TOO_LONG) {
            ASSERT_EQ(call(c.script, len, &buf, &len), 0) << "a second call with that capacity";
            EXPECT_EQ(len, static_cast<int32_t>(c.size));
            EXPECT_EQ(buf.substr(0, c.size), pattern(c.size));
        }
    }
    EXPECT_EQ(stats()["tickets"], 0) << "every parted answer was delivered or dropped";
}

TEST_F(MessagingTest, SlowAnswerComesBackPendingAndIsFetchedByPolls) {
    const int32_t h = connect();
    int32_t rc = -1;
    // Slower than the pending threshold, and in parts once it is there.
    EXPECT_EQ(send(h, "Script", "delay=300 size=4321", &rc), pattern(4321));
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(send(h, "Script", "delay=300 rc=-5", &rc), "");
    EXPECT_EQ(rc, -5);
}

TEST_F(MessagingTest, TimeLimitWithCancelDropsTheServersWork) {
    const int32_t h = connect();
    const std::string slow = "delay=60000 size=10";
    char buf[256];
    int32_t len = sizeof buf;
    EXPECT_EQ(ORQExt_SendMessageTimeOut(h, "Script", nullptr, slow.data(), static_cast<int32_t>(slow.size()),
                                        buf, &len, 300, 1),
              ORQEXT_E_TIMEOUT_CANCELLED);
    EXPECT_EQ(len, 0);
    auto st = stats();
    EXPECT_EQ(st["cancelled"], 1);
    EXPECT_EQ(st["tickets"], 0) << "the cancel took the pending answer off the server";

    len = sizeof buf;
    EXPECT_EQ(ORQExt_SendMessageTimeOut(h, "Script", nullptr, slow.data(), static_cast<int32_t>(slow.size()),
                                        buf, &len, 300, 0),
              ORQEXT_E_TIMEOUT);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(stats()["tickets"], 1) << "without cancel the answer stays pending on the server";

    // The connection serves on after both.
    int32_t rc = -1;
    EXPECT_EQ(send(h, "Echo", "still here", &rc), "still here");
    EXPECT_EQ(rc, 0);
}

TEST_F(MessagingTest, StatementsReachTheServerOnAConnectionAndThroughAConnectString) {
    const int32_t h = connect();
    EXPECT_EQ(ORQExt_ExecSql2(h, "select 1 from t"), 0);
    const std::string cs = "Server=LOCALHOST;Port=" + std::to_string(sim_.port()) + ";USER=Admin;pass=ADMIN";
    EXPECT_EQ(ORQExt_ExecSql(cs.c_str(), "insert into t values (2)"), 0);
    EXPECT_EQ(ORQExt_ExecSql2(h, "use ext NoSuchModule cmd run x"), kErrUnknownModule);
    EXPECT_EQ(ORQExt_ExecSql2(h, "use ext Lazy cmd run x"), kErrNotStarted);
    EXPECT_EQ(ORQExt_ExecSql2(h, "use ext Echo cmd reg FileRef='unclosed"), kErrStatement);

    const std::string log = statements(h);
    EXPECT_NE(log.find("0\tadmin\tselect 1 from t\n"), std::string::npos) << log;
    EXPECT_NE(log.find("0\tadmin\tinsert into t values (2)\n"), std::string::npos)
        << "the connect string's credentials arrive in lower case: " << log;

    const std::string wrong = "server=127.0.0.1;port=" + std::to_string(sim_.port()) + ";user=admin;pass=x";
    EXPECT_EQ(ORQExt_ExecSql(wrong.c_str(), "select 2"), kErrLogin);
    const std::string no_pass = "server=127.0.0.1;port=" + std::to_string(sim_.port()) + ";user=admin";
    EXPECT_EQ(ORQExt_ExecSql(no_pass.c_str(), "select 2"), ORQEXT_E_BAD_ARGUMENT);
    EXPECT_TRUE(eventually([&] { return stats()["sessions"] == 2; }))
        << "the temporary connections were closed (left: this test's and the stats query's)";
}

// Many threads on one handle: small round trips go on while another request
// on the same handle is held by the server at the transport level.
TEST_F(MessagingTest, ConcurrencyThreadsOnOneHandleDoNotWaitForAHeldRequest) {
    const int32_t h = connect();
    std::atomic<int32_t> held_rc{1};
    std::thread held([&] {
        int32_t rc = 1;
        char buf[256];
        int32_t len = sizeof buf;
        const std::string s = "hold=gate1 size=3";
        rc = ORQExt_SendMessage(h, "Script", nullptr, s.data(), static_cast<int32_t>(s.size()), buf, &len);
        held_rc = rc;
    });
    // The overlap is the point: the others start only once the server holds
    // the request.
    if (!eventually([&] { return stats()["held"] == 1; })) {
        int32_t rc = -1;
        send(h, "Script", "release=gate1", &rc);
        held.join();
        FAIL() << "the held request never reached the server";
    }
    constexpr int kThreads = 6, kRounds = 40;
    std::atomic<int> ok{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                const std::string p = "t" + std::to_string(t) + "-" + std::to_string(i) + pattern(i * 37);
                std::string buf(p.size() + 200, '\0');
                int32_t len = static_cast<int32_t>(buf.size());
                const int32_t rc = ORQExt_SendMessage(h, "Echo", nullptr, p.data(), static_cast<int32_t>(p.size()),
                                                      &buf[0], &len);
                if (rc == 0 && len == static_cast<int32_t>(p.size()) && buf.compare(0, p.size(), p) == 0) ++ok;
            }
        });
    }
    for (auto& w : workers) w.join();
    EXPECT_EQ(ok.load(), kThreads * kRounds);
    EXPECT_EQ(held_rc.load(), 1) << "the held request is still waiting while the others completed";
    EXPECT_EQ(stats()["held"], 1) << "and the server still holds it";
    int32_t rc = -1;
    send(h, "Script", "release=gate1", &rc);
    EXPECT_EQ(rc, 0);
    held.join();
    EXPECT_EQ(held_rc.load(), 0);
}

}  // namespace
}  // namespace e2e

// Replay by the scripted double: a run of the library against scripted
// answers is written as a trace, then the same run against the replayed
// trace must see the same results and bytes; changed requests are misses
// (-20013, shown with the next recorded request) unless the loose match
// allows them; requests of two threads on one handle find their own answers
// in whatever order they come.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/lifecycle.h"
#include "exports/orqext.h"
#include "tests/support/fixture.h"
#include "tests/unit/trace/trace_support.h"
#include "xsr/trace/secrets.h"

extern "C" int32_t xsr_double_replay(const char* trace_path, int32_t loose);

using trace_test::Scripted;
using trace_test::TempFile;
using xsrdouble::Reply;

namespace {

constexpr int32_t kNoMatch = -20013;

// What a run showed: results, lengths and answer bytes, one line each.
using Scenario = std::function<std::string(int32_t conn)>;

std::string send(int32_t conn, const char* module, const std::string& payload, int32_t capacity = 16) {
    std::string buf(static_cast<std::size_t>(capacity), '#');
    int32_t len = capacity;
    const int32_t rc = ORQExt_SendMessage(conn, module, nullptr, payload.data(), static_cast<int32_t>(payload.size()),
                                          &buf[0], &len);
    return "rc=" + std::to_string(rc) + " len=" + std::to_string(len) + " buf=" + buf + "\n";
}

class ReplayTest : public testing_support::LibraryTest {
protected:
    // Runs the scenario against scripted replies and writes the trace.
    std::string record(const Scenario& run, const std::vector<Reply>& replies) {
        Scripted script(replies);
        const int32_t conn = connect();
        std::string seen = run(conn);
        seen += "disconnect=" + std::to_string(ORQExt_DisConnect(conn)) + "\n";
        trace_.write(script.records());
        xsrdouble::set_handler(nullptr);
        return seen;
    }
    // Runs it again, with the library freshly loaded, against the replay.
    std::string replay(const Scenario& run, bool loose = false) {
        orq::lifecycle::unload();
        xsrdouble::reset();
        orq::lifecycle::load();
        xsrdouble::ReplayOptions o;
        o.loose = loose;
        std::string error;
        EXPECT_TRUE(xsrdouble::replay(trace_.path(), o, &error)) << error;
        int32_t status = 1;
        const int32_t conn = ORQExt_Connect("srv", 7300, "user", "pw", &status);
        EXPECT_EQ(status, 0);
        std::string seen = run(conn);
        seen += "disconnect=" + std::to_string(ORQExt_DisConnect(conn)) + "\n";
        return seen;
    }
    TempFile trace_{"replay.xt"};
};

TEST_F(ReplayTest, AReplayedRunSeesWhatTheRecordedRunSaw) {
    struct Case {
        const char* what;
        Scenario run;
        std::vector<Reply> replies;
    } cases[] = {
        {"plain answer", [](int32_t c) { return send(c, "Echo", "hello"); }, {xsrdouble::ok("olleh")}},
        {"answer longer than the buffer", [](int32_t c) { return send(c, "Echo", "x", 4); },
         {Reply{-1107, "abcdefgh", 8}}},
        {"pending, parts, then the rest",
         [](int32_t c) { return send(c, "Echo", "slow"); },
         {xsrdouble::pending(5, 6), xsrdouble::part("ab"), xsrdouble::part("cd"), xsrdouble::ok("ef")}},
        {"failure with bytes", [](int32_t c) { return send(c, "Echo", "x"); }, {xsrdouble::fail(-20102, "zz")}},
        {"service calls",
         [](int32_t c) {
             const int32_t load = ORQExt_NLPE_DictLoad(c, "a.dic");
             const int32_t filt = ORQExt_ARA_Filtrate(c, "a", "b", 3);
             return "load=" + std::to_string(load) + " filt=" + std::to_string(filt) + "\n";
         },
         {xsrdouble::ok(), xsrdouble::fail(-20205)}},
        {"the same request twice, answered in order",
         [](int32_t c) {
             std::string seen = send(c, "Echo", "same");
             return seen + send(c, "Echo", "same");
         },
         {xsrdouble::ok("first"), xsrdouble::ok("second")}},
        {"module list and status",
         [](int32_t c) {
             char b[32] = {};
             int32_t n = 32;
             const int32_t rc = ORQExt_GetModInfos(c, b, &n);
             return "list=" + std::to_string(rc) + " " + std::string(b, n > 0 ? n : 0) +
                    " alive=" + std::to_string(ORQExt_IsConnect(c)) + "\n";
         },
         {xsrdouble::ok("Echo\nKExt_ARA\n")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        xsrdouble::reset();
        const std::string recorded = record(c.run, c.replies);
        const std::string replayed = replay(c.run);
        EXPECT_EQ(replayed, recorded);
        EXPECT_TRUE(xsrdouble::replay_misses().empty());
        EXPECT_EQ(xsrdouble::replay_unused(), 0u) << "every recorded call was asked for";
    }
}

TEST_F(ReplayTest, AChangedRequestFailsAndShowsWhatWasRecordedNext) {
    record([](int32_t c) { return send(c, "Echo", "payload-1"); }, {xsrdouble::ok("answer")});
    testing::internal::CaptureStderr();
    const std::string seen = replay([](int32_t c) { return send(c, "Echo", "payload-2"); });
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(seen.find("rc=-20013"), std::string::npos) << seen;
    const auto misses = xsrdouble::replay_misses();
    ASSERT_EQ(misses.size(), 1u);
    for (const std::string& text : {misses[0], err}) {
        EXPECT_NE(text.find("module message"), std::string::npos) << text;
        EXPECT_NE(text.find("\"Echo"), std::string::npos) << text;
        EXPECT_NE(text.find("payload-2"), std::string::npos) << "the request asked for: " << text;
        EXPECT_NE(text.find("next recorded there"), std::string::npos) << text;
        EXPECT_NE(text.find("payload-1"), std::string::npos) << "the request recorded: " << text;
    }
    EXPECT_EQ(xsrdouble::replay_unused(), 1u) << "the recorded request is left";
}

TEST_F(ReplayTest, LooseMatchIgnoresTheBytesButNotModuleOrFunction) {
    struct Case {
        const char* what;
        Scenario recorded, replayed;
        bool matches;
    } cases[] = {
        {"other payload, same module", [](int32_t c) { return send(c, "Echo", "t=1"); },
         [](int32_t c) { return send(c, "Echo", "t=2"); }, true},
        {"other module", [](int32_t c) { return send(c, "Echo", "t=1"); },
         [](int32_t c) { return send(c, "Other", "t=1"); }, false},
        {"other argument, same remote function",
         [](int32_t c) { return std::to_string(ORQExt_NLPE_DictLoad(c, "a.dic")); },
         [](int32_t c) { return std::to_string(ORQExt_NLPE_DictLoad(c, "b.dic")); }, true},
        {"other remote function of the module",
         [](int32_t c) { return std::to_string(ORQExt_NLPE_DictLoad(c, "a.dic")); },
         [](int32_t c) { return std::to_string(ORQExt_NLPE_DictImport(c, "a.dic")); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        xsrdouble::reset();
        record(c.recorded, {xsrdouble::fail(-20301, "zz")});
        testing::internal::CaptureStderr();
        const std::string exact = replay(c.replayed, false);
        testing::internal::GetCapturedStderr();
        EXPECT_NE(exact.find(std::to_string(kNoMatch)), std::string::npos) << "exact match refuses it: " << exact;
        testing::internal::CaptureStderr();
        const std::string loose = replay(c.replayed, true);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(loose.find(std::to_string(kNoMatch)) == std::string::npos, c.matches) << loose;
        if (c.matches) {
            EXPECT_NE(loose.find("-20301"), std::string::npos) << "the recorded answer: " << loose;
        }
    }
}

TEST_F(ReplayTest, TheCEntryLoadsATraceOrSaysWhyNot) {
    record([](int32_t c) { return send(c, "Echo", "hi"); }, {xsrdouble::ok("yo")});
    xsrdouble::reset();
    EXPECT_EQ(xsr_double_replay(trace_.path().c_str(), 0), 0);
    int32_t handle = 0;
    XSR_Login login{};
    EXPECT_EQ(XSR_OpenConn("srv", 7300, &login, &handle), 0);
    EXPECT_EQ(handle, 1001) << "the recorded handle";
    EXPECT_EQ(XSR_OpenConn("srv", 7300, &login, &handle), kNoMatch) << "only one open was recorded";
    EXPECT_EQ(XSR_CheckServer("elsewhere", 1), kNoMatch);
    testing::internal::CaptureStderr();
    EXPECT_EQ(xsr_double_replay("/nonexistent/orq.xt", 0), -1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("/nonexistent/orq.xt"), std::string::npos);
    EXPECT_EQ(xsr_double_replay(nullptr, 0), -1);
}

// A trace recorded without secrets holds the node passwords masked: a
// cluster add matches whatever password the program sends now, and the
// description is handed to the program with its masked password.
TEST_F(ReplayTest, AMaskedClusterAddAndDescriptionReplay) {
    auto i32 = [](int32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
    auto z = [](const std::string& t) { return t + std::string(1, '\0'); };
    const std::string description = i32(1) + i32(1) + z("C") + z("t") + z("") + z("") + i32(1) + z("h1") +
                                    i32(7300) + z("admin") + z("s3cret") + z("");
    auto run_with = [](const char* password) {
        return [password](int32_t c) {
            ClusterInfo ci{};
            std::strcpy(ci.name, "C");
            std::strcpy(ci.tag, "t");
            NodeInfo n{};
            std::strcpy(n.server, "h1");
            n.port = 7300;
            std::strcpy(n.user, "admin");
            std::strcpy(n.pass, password);
            const int32_t add = ORQExt_AddClusterInfo(c, &ci, &n, 1);
            const int32_t update = ORQExt_UpdateCluster(c);
            NodeInfo got[2] = {};
            int32_t count = 2;
            const int32_t info = ORQExt_GetNodeInfo(c, &ci, got, &count);
            return "add=" + std::to_string(add) + " update=" + std::to_string(update) + " info=" +
                   std::to_string(info) + " pass=" + got[0].pass + "\n";
        };
    };
    Scripted script({xsrdouble::ok(), xsrdouble::ok(description), xsrdouble::ok(description),
                     xsrdouble::ok(description), xsrdouble::ok(description)});
    const int32_t conn = connect();
    const std::string recorded = run_with("s3cret")(conn);
    ORQExt_DisConnect(conn);
    ASSERT_NE(recorded.find("pass=s3cret"), std::string::npos) << recorded;
    // The trace as the recorder writes it without ORQ_XSR_TRACE_SECRETS.
    std::vector<xsrtrace::Record> records = script.records();
    for (xsrtrace::Record& r : records) {
        if (r.code() == 11) xsrtrace::mask_cluster_add(&r.body);
        if (r.code() == 13) {
            xsrtrace::PasswordFields f(xsrtrace::PasswordFields::Layout::ClusterDescription);
            f.mask(&r.answer[0], r.answer.size());
        }
    }
    trace_.write(records);
    xsrdouble::set_handler(nullptr);
    ASSERT_EQ(trace_.read().find(xsrtrace::to_hex("s3cret")), std::string::npos);

    const std::string replayed = replay(run_with("another password"));
    EXPECT_EQ(replayed, "add=0 update=0 info=1 pass=******\ndisconnect=0\n");
    EXPECT_TRUE(xsrdouble::replay_misses().empty());
}

// Sets an environment variable; an empty value removes it.
void set_variable(const char* name, const char* value) {
#if defined(_WIN32)
    _putenv_s(name, value);
#else
    if (*value) setenv(name, value, 1);
    else unsetenv(name);
#endif
}

// Paced replay waits for the recorded duration of each call, but never
// longer than the cap (1 s unless set), and says when it capped one.
TEST_F(ReplayTest, PacedReplayCapsEachPause) {
    record([](int32_t c) { return send(c, "Echo", "a") + send(c, "Echo", "b"); },
           {xsrdouble::ok("x"), xsrdouble::ok("y")});
    // The first call's duration crafted to an hour.
    std::string text = trace_.read();
    const auto at = text.find(" us=", text.find("XT1 command"));
    text.replace(at, text.find(' ', at + 1) - at, " us=3600000000");
    trace_.write(text);

    struct Case {
        const char* what;
        int64_t max_pause_us;
        std::vector<int64_t> pauses;
    } cases[] = {{"the default cap", xsrdouble::ReplayOptions().max_pause_us, {1000000, 0}},
                 {"a cap of 250 ms", 250000, {250000, 0}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        orq::lifecycle::unload();
        xsrdouble::reset();
        orq::lifecycle::load();
        std::vector<int64_t> pauses;
        xsrdouble::ReplayOptions o;
        o.paced = true;
        o.max_pause_us = c.max_pause_us;
        o.pause = [&](int64_t us) { pauses.push_back(us); };
        std::string error;
        ASSERT_TRUE(xsrdouble::replay(trace_.path(), o, &error)) << error;
        int32_t status = 1;
        const int32_t conn = ORQExt_Connect("srv", 7300, "user", "pw", &status);
        testing::internal::CaptureStderr();
        const std::string seen = send(conn, "Echo", "a") + send(conn, "Echo", "b");
        const std::string err = testing::internal::GetCapturedStderr();
        ORQExt_DisConnect(conn);
        EXPECT_NE(seen.find("buf=y"), std::string::npos) << seen;
        ASSERT_EQ(pauses.size(), 2u);
        EXPECT_EQ(pauses[0], c.pauses[0]);
        EXPECT_LT(pauses[1], 1000000) << "a normal duration is kept";
        EXPECT_NE(err.find("took 3600000000 us when recorded; its pause is capped at " +
                           std::to_string(c.max_pause_us) + " us"),
                  std::string::npos)
            << err;
    }
    // The cap from the environment.
    struct Env {
        const char* value;
        int64_t want;
        bool reported;
    } envs[] = {{"250", 250000, false}, {"0", 0, false}, {"soon", 1000000, true}, {"-5", 1000000, true}};
    for (const Env& e : envs) {
        SCOPED_TRACE(e.value);
        set_variable("XSR_DOUBLE_REPLAY_PACE_MAX_MS", e.value);
        testing::internal::CaptureStderr();
        const xsrdouble::ReplayOptions o = xsrdouble::replay_options_from_environment();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(o.max_pause_us, e.want);
        EXPECT_EQ(err.find("XSR_DOUBLE_REPLAY_PACE_MAX_MS") != std::string::npos, e.reported) << err;
    }
    set_variable("XSR_DOUBLE_REPLAY_PACE_MAX_MS", "");
}

// A damaged line of the trace is named when the replay loads it, so a test
// that misses its call is told why.
TEST_F(ReplayTest, DamagedLinesAreReportedWhenTheReplayLoads) {
    record([](int32_t c) { return send(c, "Echo", "a"); }, {xsrdouble::ok("x")});
    std::string text = trace_.read();
    const auto second = text.find('\n') + 1;
    text.insert(second, text.substr(second, 25));  // a torn copy of the next line, merged into it
    trace_.write(text);
    xsrdouble::reset();
    testing::internal::CaptureStderr();
    std::string error;
    EXPECT_TRUE(xsrdouble::replay(trace_.path(), xsrdouble::ReplayOptions(), &error)) << error;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(trace_.path() + ": line 2 is damaged: no complete record"), std::string::npos) << err;
    EXPECT_NE(err.find("record #2 of process 0 is missing"), std::string::npos) << err;
}

// Requests of two threads on one handle, recorded A then B, replayed B then
// A: each finds its own answer.
TEST_F(ReplayTest, ConcurrencyRequestsOfTwoThreadsInAnotherOrderThanRecorded) {
    record([](int32_t c) {
        std::string seen = send(c, "Echo", "from-A");  // A first, then B
        return seen + send(c, "Echo", "from-B");
    },
           {xsrdouble::ok("answer-A"), xsrdouble::ok("answer-B")});
    const std::string seen = replay([](int32_t c) {
        std::string a, b;
        std::thread([&] { b = send(c, "Echo", "from-B"); }).join();
        std::thread([&] { a = send(c, "Echo", "from-A"); }).join();
        return b + a;
    });
    EXPECT_EQ(seen, "rc=0 len=8 buf=answer-B########\nrc=0 len=8 buf=answer-A########\ndisconnect=0\n");
    EXPECT_TRUE(xsrdouble::replay_misses().empty());
}

// Two threads send on one connection at once; each finds its own recorded
// answer whichever comes first.
TEST_F(ReplayTest, ConcurrencyTwoThreadsOnOneHandleGetTheirOwnAnswers) {
    const auto both = [](int32_t c) {
        std::string seen = send(c, "Echo", "from-A");  // A first, then B
        return seen + send(c, "Echo", "from-B");
    };
    record(both, {xsrdouble::ok("answer-A"), xsrdouble::ok("answer-B")});
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        const std::string seen = replay([](int32_t c) {
            std::mutex m;
            std::condition_variable cv;
            bool go = false;
            std::string a, b;
            auto worker = [&](const char* payload, std::string* out) {
                {
                    std::unique_lock<std::mutex> g(m);
                    cv.wait(g, [&] { return go; });
                }
                *out = send(c, "Echo", payload);
            };
            std::thread tb(worker, "from-B", &b);
            std::thread ta(worker, "from-A", &a);
            {
                std::lock_guard<std::mutex> g(m);
                go = true;
            }
            cv.notify_all();
            ta.join();
            tb.join();
            return a + b;
        });
        EXPECT_NE(seen.find("rc=0 len=8 buf=answer-A"), std::string::npos) << seen;
        EXPECT_NE(seen.find("rc=0 len=8 buf=answer-B"), std::string::npos) << seen;
        EXPECT_TRUE(xsrdouble::replay_misses().empty());
    }
}

}  // namespace

// orqext trace show and trace stats: runs of orqext against xsr-sim recorded
// by the recording XSRClient are decoded frame kind by frame kind; names and
// bytes from a trace cannot drive the terminal; the statistics count calls,
// failures and latency percentiles; bad files give clear messages.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/e2e_cli/service_fixture.h"
#include "tests/e2e_cli/tool_run.h"
#include "tests/support/temp_path.h"
#include "xsr/trace/trace.h"

namespace e2ecli {
namespace {

std::string temp_path(const std::string& name) { return testing_support::temp_path("orqext_", name); }

// orqext programs started while it lives load the recording XSRClient, which
// forwards to the networked one and appends to the trace file. The
// variables it changes get their earlier values back.
class Recording {
public:
    explicit Recording(const std::string& trace) {
        set("LD_LIBRARY_PATH", ORQ_RECORDER_DIR);
        set("ORQ_XSR_REAL", ORQ_XSR_NET_PATH);
        set("ORQ_XSR_TRACE", trace);
    }
    ~Recording() {
        for (const auto& v : saved_) {
            if (v.had) setenv(v.name.c_str(), v.value.c_str(), 1);
            else unsetenv(v.name.c_str());
        }
    }

private:
    struct Saved {
        std::string name, value;
        bool had;
    };
    void set(const char* name, const std::string& value) {
        const char* old = std::getenv(name);
        saved_.push_back({name, old ? old : "", old != nullptr});
        setenv(name, value.c_str(), 1);
    }
    std::vector<Saved> saved_;
};

class TraceCli : public ServiceTest {
protected:
    void TearDown() override {
        std::remove(trace_.c_str());
        ServiceTest::TearDown();
    }
    ToolRun tool(std::vector<std::string> args) {
        args.push_back("--port");
        args.push_back(std::to_string(sim_.port()));
        return run_tool(args);
    }
    std::string trace_ = temp_path("run.xt");
};

TEST_F(TraceCli, ShowDecodesEveryFrameKindTheLibrarySends) {
    const std::string node = "127.0.0.1:" + std::to_string(sim_.port());
    struct Step {
        std::vector<std::string> args;
        int exit_code;
    } steps[] = {
        {{"status"}, 0},
        {{"module", "list"}, 0},
        {{"module", "info", "Echo"}, 0},
        {{"module", "version"}, 0},
        {{"module", "register", "Extra", "--file-ref", "echo"}, 0},
        {{"module", "start", "Extra"}, 0},
        {{"send", "Echo", "hello"}, 0},
        {{"send", "Script", "delay=200 size=10 part=4"}, 0},
        {{"send", "Script", "delay=5000", "--time-limit", "50", "--cancel"}, 4},
        {{"send", "Echo", "later", "--async"}, 0},
        {{"text", "segment", "two words"}, 0},
        {{"cluster", "add", "Echo", "--tag", "t1"}, 0},
        {{"cluster", "add", "Echo", "--tag", "t1", "--node", node + ":admin:n0de-secret"}, 0},
        {{"cluster", "show"}, 0},
        {{"cluster", "delete", "Echo", "--tag", "t1"}, 0},
    };
    {
        Recording on(trace_);
        for (const Step& s : steps) {
            const ToolRun r = tool(s.args);
            ASSERT_EQ(r.exit_code, s.exit_code) << s.args[0] << " " << s.args[1] << "\n" << r.err;
        }
    }
    const ToolRun show = run_tool({"trace", "show", trace_});
    ASSERT_EQ(show.exit_code, 0) << show.err;
    EXPECT_EQ(show.err, "");
    const std::vector<std::string> expected = {
        "check 127.0.0.1:" + std::to_string(sim_.port()) + " -> 0",
        "open 127.0.0.1:" + std::to_string(sim_.port()) + " as admin, handle ",
        "close handle ",
        " module list; answer ",
        " module info ",
        " extension version; answer ",
        " text \"use ext Extra cmd reg",
        " action ",
        " module message to Echo: \"hello\" (5 bytes); answer 5 bytes (room for ",
        " module message to Script: \"delay=200 size=10 part=4\"",
        "-9000 ORQEXT_E_PENDING",
        " poll ticket ",
        "-1108 ORQEXT_E_PART",
        " ticket ticket ",
        " async message to Echo: \"later\"",
        " module message to KExt_NLPE engine 0: NLPE_WordSect(\"two words\", ",
        " cluster add ",
        " cluster description; answer ",
        " cluster delete ",
        "-> 0 ORQEXT_OK: success",
    };
    for (const std::string& e : expected) EXPECT_TRUE(has(show.out, e)) << "missing: " << e << "\n" << show.out;

    const ToolRun json = run_tool({"trace", "show", trace_, "--json"});
    ASSERT_EQ(json.exit_code, 0) << json.err;
    for (const std::string& e : {std::string("\"function\": \"NLPE_WordSect\""), std::string("\"engine\": 0"),
                                 std::string("\"module\": \"Echo\""), std::string("\"command\": \"poll\""),
                                 std::string("\"ticket\": ["), std::string("\"meaning\": \"ORQEXT_E_PENDING: ")})
        EXPECT_TRUE(has(json.out, e)) << "missing: " << e;
    EXPECT_FALSE(has(json.out, "\"password\"")) << "the login password is not recorded by default";
    std::ifstream in(trace_, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(has(text, xsrtrace::to_hex("n0de-secret")))
        << "the node password of the cluster add and description, masked by default";
    EXPECT_TRUE(has(text, xsrtrace::to_hex(std::string("admin\0***********\0", 19))));
}

// The export opens in a timeline viewer: the JSON is checked against the
// trace by a script of its own (tests/e2e_cli/check_chrome_trace.py): a slice
// per call with its duration, result, meaning and bytes, a named track per
// process and thread, the pending and part answers of a synchronous message
// and of a cancelled one as exchanges, the asynchronous request as a flow.
TEST_F(TraceCli, ExportWritesATimelineThatHoldsWhatTheTraceHolds) {
    {
        Recording on(trace_);
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"send", "Echo", "hello"},
              std::vector<std::string>{"send", "Script", "delay=200 size=10 part=4"},
              std::vector<std::string>{"send", "Script", "delay=5000", "--time-limit", "50", "--cancel"},
              std::vector<std::string>{"send", "Script", "delay=300 size=3", "--async"}})
            tool(args);
    }
    const std::string json = temp_path("run.json");
    const ToolRun r = run_tool({"trace", "export", trace_, "--format", "chrome"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::ofstream(json, std::ios::binary) << r.out;
    const std::string check = std::string("python3 ") + CHROME_TRACE_CHECK + " " + trace_ + " " + json +
                              " --expect-exchanges 2 --expect-flows 1 >" + json + ".out 2>&1";
    const int rc = std::system(check.c_str());
    std::ifstream report(json + ".out");
    const std::string said((std::istreambuf_iterator<char>(report)), std::istreambuf_iterator<char>());
    EXPECT_EQ(rc, 0) << said << "\n" << r.out;
    EXPECT_TRUE(has(r.out, "\"name\":\"exchange: module message Script\"")) << r.out;
    EXPECT_TRUE(has(r.out, "\"meaning\":\"ORQEXT_E_PENDING: ")) << r.out;
    std::remove(json.c_str());
    std::remove((json + ".out").c_str());

    const ToolRun other = run_tool({"trace", "export", trace_, "--format", "svg"});
    EXPECT_EQ(other.exit_code, 2);
    EXPECT_TRUE(has(other.err, "--format: 'svg' is not known")) << other.err;
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

xsrtrace::Record command(uint64_t seq, const std::string& body, int32_t rc, int64_t us) {
    xsrtrace::Record r;
    r.fn = xsrtrace::Fn::Command;
    r.seq = seq;
    r.handle = 1;
    r.duration_us = us;
    r.result = rc;
    r.header = std::string("\x02\x00\xf5\x01", 4) + std::string(12, '\xff');
    r.body = body;
    r.capacity = 64;
    return r;
}

TEST_F(TraceCli, NamesAndBytesFromATraceCannotDriveTheTerminal) {
    xsrtrace::Record open;
    open.fn = xsrtrace::Fn::Open;
    open.server = "evil\x1b[2Jhost";
    open.user = "u\rser";
    std::string text = xsrtrace::encode(open);
    text += xsrtrace::encode(command(2, std::string("Mo\x1b]0;x\x07\0\0pay\x9b", 15), -20101, 3));
    write_file(trace_, text);
    for (const char* what : {"show", "stats"}) {
        const ToolRun r = run_tool({"trace", what, trace_});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        for (char c : r.out)
            EXPECT_FALSE((c >= 0 && c < 0x20 && c != '\n') || c == 0x7f) << what << ": raw byte " << int(c);
        EXPECT_TRUE(has(r.out, "\\x1b")) << r.out;
    }
    const ToolRun show = run_tool({"trace", "show", trace_});
    EXPECT_TRUE(has(show.out, "evil\\x1b[2Jhost")) << show.out;
    EXPECT_TRUE(has(show.out, "u\\rser")) << show.out;
}

// Each record shows the time of day (UTC) it started at, whatever its
// year: after 2038 a 32-bit time_t no longer holds the seconds since 1970.
TEST_F(TraceCli, ShowGivesTheTimeOfDayOfEveryRecord) {
    const struct {
        int64_t start_us;
        const char* shown;
    } cases[] = {
        {0, "#1 00:00:00.000000 "},
        {1796922620069309, "#2 17:10:20.069309 "},          // 2026-12-10
        {INT64_C(2209034096500000), "#3 12:34:56.500000 "},  // 2040-01-01, past 32-bit seconds
        {INT64_C(7273756798000001), "#4 23:59:58.000001 "},  // 2200-06-30
        {-1, "#5 23:59:59.999999 "},                          // a microsecond before 1970
    };
    std::string text;
    uint64_t seq = 0;
    for (const auto& c : cases) {
        xsrtrace::Record r = command(++seq, std::string("Echo\0\0x", 7), 0, 1);
        r.start_us = c.start_us;
        text += xsrtrace::encode(r);
    }
    write_file(trace_, text);
    const ToolRun show = run_tool({"trace", "show", trace_});
    ASSERT_EQ(show.exit_code, 0) << show.err;
    for (const auto& c : cases) EXPECT_TRUE(has(show.out, c.shown)) << c.shown << "\n" << show.out;
}

TEST_F(TraceCli, StatsCountCallsFailuresAndLatencyPercentiles) {
    std::string text;
    uint64_t seq = 0;
    const std::string echo("Echo\0\0x", 7);
    for (int us = 1; us <= 100; ++us) text += xsrtrace::encode(command(++seq, echo, us % 10 == 0 ? -20102 : 0, us));
    text += xsrtrace::encode(command(++seq, echo, -9000, 1000));  // a step, not a failure
    text += xsrtrace::encode(command(++seq, echo, -1108, 1000));
    const std::string nlpe = std::string("KExt_NLPE\0\0", 11) + std::string("\0\0\0\0r!\0NLPE_DictLoad\0a\0", 23);
    text += xsrtrace::encode(command(++seq, nlpe, -20202, 7));
    text += "not a record\n";
    write_file(trace_, text);

    const ToolRun r = run_tool({"trace", "stats", trace_, "--json"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(has(r.err, "line 104 is damaged: no trace record")) << r.err;
    EXPECT_TRUE(has(r.err, "1 damaged line(s) skipped")) << r.err;
    const std::string& o = r.out;
    EXPECT_TRUE(has(o, "\"records\": 103")) << o;
    EXPECT_TRUE(has(o, "\"skipped_lines\": 1")) << o;
    EXPECT_TRUE(has(o, "\"call\": \"module message Echo\",\n      \"calls\": 102,\n      \"errors\": 10,\n"
                       "      \"p50_us\": 51,\n      \"p90_us\": 92,\n      \"p99_us\": 1000,\n      \"max_us\": 1000"))
        << o;
    EXPECT_TRUE(has(o, "\"call\": \"module message KExt_NLPE NLPE_DictLoad\",\n      \"calls\": 1,\n"
                       "      \"errors\": 1"))
        << o;
    EXPECT_TRUE(has(o, "\"result\": -20102,\n      \"count\": 10")) << o;
    EXPECT_TRUE(has(o, "\"result\": -20202,\n      \"count\": 1")) << o;

    const ToolRun table = run_tool({"trace", "stats", trace_});
    ASSERT_EQ(table.exit_code, 0) << table.err;
    EXPECT_TRUE(has(table.out, "module message KExt_NLPE NLPE_DictLoad")) << table.out;
}

TEST_F(TraceCli, UnreadableOrEmptyTracesSaySo) {
    const ToolRun missing = run_tool({"trace", "show", "/nonexistent/orq.xt"});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_TRUE(has(missing.err, "cannot open /nonexistent/orq.xt")) << missing.err;
    const ToolRun missing_stats = run_tool({"trace", "stats", "/nonexistent/orq.xt", "--json"});
    EXPECT_EQ(missing_stats.exit_code, 1);
    EXPECT_EQ(missing_stats.out, "");

    // A file with no trace line at all, or only damaged ones, is no trace:
    // every trace command fails and says why.
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> said;
    } cases[] = {
        {"an empty file", "", {"holds no trace record"}},
        {"a file of other text", "hello\nworld\n", {"line 1 is damaged: no trace record", "holds no trace record"}},
        {"damaged lines only",
         std::string("XT9 open future\n") + xsrtrace::encode(command(1, "x", 0, 1)).substr(0, 20),
         {"line 1 is damaged: a record of another format version (XT9)", "line 2, the last, is cut short",
          "holds no trace record"}},
    };
    for (const Case& c : cases) {
        write_file(trace_, c.text);
        for (const char* what : {"show", "stats", "export"}) {
            SCOPED_TRACE(std::string(c.what) + ", trace " + what);
            const ToolRun r = run_tool({"trace", what, trace_});
            EXPECT_EQ(r.exit_code, 1) << r.err;
            EXPECT_EQ(r.out, "");
            for (const std::string& s : c.said) EXPECT_TRUE(has(r.err, s)) << r.err;
        }
    }

    const ToolRun usage = run_tool({"trace", "show"});
    EXPECT_EQ(usage.exit_code, 2);
    EXPECT_TRUE(has(usage.err, "'trace show' expects FILE")) << usage.err;
}

// Times that no clock gives (the extremes of 64 bits) make their line a
// damaged one, named on stderr, for every trace tool; the timeline of the
// other records keeps its times from the earliest start on.
TEST(TraceTools, TimesOutOfRangeMakeANamedDamagedLine) {
    const std::string trace = temp_path("times.xt");
    auto at = [](uint64_t seq, const std::string& t, const std::string& us) {
        return "XT1 close seq=" + std::to_string(seq) + " pid=5 tid=6 t=" + t + " us=" + us + " rc=0 h=1\n";
    };
    write_file(trace, at(1, "1000000", "5") + at(2, "9223372036854775807", "5") + at(3, "-9223372036854775808", "5") +
                          at(4, "1000010", "9223372036854775807") + at(5, "1000020", "-3") + at(6, "1000030", "7"));
    for (const char* what : {"show", "stats", "export"}) {
        SCOPED_TRACE(std::string("trace ") + what);
        const ToolRun r = run_tool({"trace", what, trace});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        for (int line = 2; line <= 5; ++line)
            EXPECT_TRUE(has(r.err, "line " + std::to_string(line) + " is damaged: a time out of range")) << r.err;
        EXPECT_TRUE(has(r.err, "4 damaged line(s) skipped")) << r.err;
        if (std::string(what) == "export") {
            EXPECT_TRUE(has(r.out, "\"records\":2,\"start_us\":1000000")) << r.out;
            EXPECT_FALSE(has(r.out, "\"ts\":-")) << r.out;
            EXPECT_TRUE(has(r.out, "\"ts\":30,\"dur\":7")) << r.out;
        }
    }
    std::remove(trace.c_str());
}

// show, stats and export read a trace record by record: a trace far larger
// than the memory they are given is read whole (the address space of each
// run is limited with ulimit -v, which sanitizers and the emulated 32-bit
// build cannot run under).
TEST(TraceTools, ALargeTraceIsReadInBoundedMemory) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer reserves more address space than the limit";
#else
    if (sizeof(void*) != 8) GTEST_SKIP() << "the emulator reserves more address space than the limit";
    const std::string trace = temp_path("large.xt");
    std::string chunk;
    uint64_t seq = 0;
    const std::string echo = std::string("Echo\0\0", 6) + std::string(100, 'x');
    while (chunk.size() < (std::size_t(1) << 20)) chunk += xsrtrace::encode(command(++seq, echo, 0, 9));
    {
        std::ofstream out(trace, std::ios::binary);
        for (int i = 0; i < 96; ++i) out << chunk;  // 96 MiB; the numbers repeat, which is no damage
    }
    constexpr int kLimitKiB = 160 * 1024;
    for (const char* what : {"show", "stats", "export"}) {
        SCOPED_TRACE(std::string("trace ") + what);
        const ToolRun r = run_program_with(
            "/bin/sh",
            {"-c", "ulimit -v " + std::to_string(kLimitKiB) + " && exec '" ORQEXT_PATH "' trace " + what + " '" +
                       trace + "' > /dev/null"},
            nullptr, {}, 120000);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.err, "");
    }
    std::remove(trace.c_str());
#endif
}

}  // namespace
}  // namespace e2ecli

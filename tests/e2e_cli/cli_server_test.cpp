// The orqext program against xsr-sim: each command's report (tables and
// --json), and failures of the server shown with their Result code and
// meaning and the exit code that goes with them.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/e2e_cli/service_fixture.h"
#include "tests/e2e_cli/tool_run.h"

namespace e2ecli {
namespace {

// The offset of the first byte sequence a terminal would act on (C0 controls
// other than newline and tab, DEL, C1 controls, direction overrides and
// isolates, bytes that are not UTF-8), or npos.
std::size_t raw_control_at(const std::string& t) {
    for (std::size_t i = 0; i < t.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(t[i]);
        if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F || c == 0xFF) return i;
        if (i + 1 < t.size() && c == 0xC2 && static_cast<unsigned char>(t[i + 1]) <= 0x9F) return i;
        if (i + 2 < t.size() && c == 0xE2) {
            const unsigned char b = static_cast<unsigned char>(t[i + 1]), d = static_cast<unsigned char>(t[i + 2]);
            if ((b == 0x80 && d >= 0xAA && d <= 0xAE) || (b == 0x81 && d >= 0xA6 && d <= 0xA9)) return i;
        }
    }
    return std::string::npos;
}

class CliServer : public ServiceTest {
protected:
    // orqext with the connection options of this test's server.
    ToolRun tool(std::vector<std::string> args) {
        args.push_back("--port");
        args.push_back(std::to_string(sim_.port()));
        return run_tool(args);
    }
};

TEST_F(CliServer, StatusAndConnectionFailures) {
    const ToolRun ok = tool({"status", "--json"});
    EXPECT_EQ(ok.exit_code, 0) << ok.err;
    EXPECT_TRUE(has(ok.out, "\"reachable\": true")) << ok.out;
    EXPECT_TRUE(has(ok.out, "\"result\": 0")) << ok.out;

    const ToolRun down = run_tool({"status", "--port", std::to_string(closed_port())});
    EXPECT_EQ(down.exit_code, 3) << down.out << down.err;
    EXPECT_TRUE(has(down.err, "-20002 XSR_E_CONNECT")) << down.err;
    EXPECT_TRUE(has(down.out, "reachable  no")) << down.out;

    // The probe sends no login record: a host name over its 15 characters is
    // probed (here one that resolves to nothing: a label over 63 characters,
    // which the resolver refuses without asking a name server), not refused.
    const ToolRun long_name = run_tool({"status", "--host", std::string(64, 'a') + ".invalid", "--port", "7"});
    EXPECT_EQ(long_name.exit_code, 3) << long_name.err;
    EXPECT_TRUE(has(long_name.err, "-2000")) << long_name.err;
    EXPECT_FALSE(has(long_name.err, "login record")) << long_name.err;

    const ToolRun login = tool({"module", "list", "--password", "wrong", "--json"});
    EXPECT_EQ(login.exit_code, 3);
    EXPECT_TRUE(has(login.err, "connect to 127.0.0.1:" + std::to_string(sim_.port()) + " as admin failed: -20004"))
        << login.err;
    EXPECT_TRUE(has(login.out, "\"result\": -20004")) << "--json reports the failure on stdout too:\n" << login.out;
}

// A host name longer than the login record's 15 characters is resolved and
// its IPv4 address logged in to; a name with none is refused naming the
// option and the limit. The names resolve without a name server: an IPv4
// address in hex parts, and a label over DNS's 63 characters, which the
// resolver refuses before sending a query.
TEST_F(CliServer, HostNamesLongerThanTheLoginRecordAreResolved) {
    const std::string port = std::to_string(sim_.port());
    const std::string long_name = "0x7f.0x00.0x00.0x01";  // 127.0.0.1, 19 characters
    const ToolRun by_option = tool({"send", "Echo", "far", "--host", long_name});
    EXPECT_EQ(by_option.exit_code, 0) << by_option.err;
    EXPECT_TRUE(has(by_option.out, "answer          far")) << by_option.out;
    const ToolRun by_string =
        run_tool({"send", "Echo", "far", "--connect", "server=" + long_name + ";port=" + port + ";user=admin;pass=admin"});
    EXPECT_EQ(by_string.exit_code, 0) << by_string.err;
    const ToolRun statement = run_tool(
        {"sql", "exec", "select 7", "--connect", "server=" + long_name + ";port=" + port + ";user=admin;pass=admin"});
    EXPECT_EQ(statement.exit_code, 0) << statement.err;

    const std::string none = std::string(64, 'a') + ".invalid";
    const struct {
        std::vector<std::string> args;
        std::string message;
    } refused[] = {
        {{"module", "list", "--host", none, "--json"}, "--host: '" + none + "'"},
        {{"module", "list", "--connect", "server=" + none + ";port=" + port + ";user=admin;pass=admin", "--json"},
         "server in --connect: '" + none + "'"},
        {{"sql", "exec", "select 8", "--connect", "server=" + none + ";port=" + port + ";user=admin;pass=admin", "--json"},
         "server in --connect: '" + none + "'"},
    };
    for (const auto& c : refused) {
        const ToolRun r = run_tool(c.args);
        EXPECT_EQ(r.exit_code, 3) << r.err;
        EXPECT_TRUE(has(r.err, c.message + " resolves to no IPv4 address; the login record holds 15 characters of "
                                           "the server name"))
            << r.err;
        EXPECT_TRUE(has(r.out, "\"result\": -20001")) << r.out;
    }
}

// Byte counts read as English: "1 byte", "2 bytes".
TEST_F(CliServer, AByteCountOfOneIsSingular) {
    const struct {
        std::string hex, shown;
    } cases[] = {{"01", "answer (1 byte):"}, {"01 02", "answer (2 bytes):"}};
    for (const auto& c : cases) {
        const ToolRun r = tool({"send", "Echo", "--hex-data", c.hex});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_TRUE(has(r.out, c.shown)) << r.out;
    }
}

TEST_F(CliServer, ModuleAdministration) {
    EXPECT_EQ(tool({"module", "register", "Echo2", "--file-ref", "echo", "--version", "1.5"}).exit_code, 0);
    const ToolRun info = tool({"module", "info", "Echo2", "--json"});
    EXPECT_EQ(info.exit_code, 0);
    EXPECT_TRUE(has(info.out, "\"state=registered\"")) << info.out;
    EXPECT_TRUE(has(info.out, "\"version=1.5\"")) << info.out;

    const ToolRun stopped = tool({"send", "Echo2", "hi"});
    EXPECT_EQ(stopped.exit_code, 1);
    EXPECT_TRUE(has(stopped.err, "message to Echo2 failed: -20102 SIM_E_NOT_STARTED")) << stopped.err;
    EXPECT_EQ(tool({"module", "start", "Echo2", "--version", "1.5"}).exit_code, 0);
    const ToolRun list = tool({"module", "list"});
    EXPECT_EQ(list.exit_code, 0);
    EXPECT_TRUE(has(list.out, "Echo2      1.5      started  echo")) << "tab-separated lines line up:\n" << list.out;
    EXPECT_TRUE(has(tool({"send", "Echo2", "hi"}).out, "answer          hi"));
    EXPECT_EQ(tool({"module", "stop", "Echo2"}).exit_code, 0);

    const ToolRun twice = tool({"module", "register", "Echo2", "--json"});
    EXPECT_EQ(twice.exit_code, 1);
    EXPECT_TRUE(has(twice.err, "register Echo2 failed: -20107 SIM_E_REGISTERED: the module is registered already"))
        << twice.err;
    EXPECT_TRUE(has(twice.out, "\"result\": -20107")) << twice.out;
    EXPECT_EQ(tool({"module", "unregister", "Echo2"}).exit_code, 0);
    EXPECT_TRUE(has(tool({"module", "unregister", "Echo2"}).err, "-20101 SIM_E_UNKNOWN_MODULE"));

    const ToolRun version = tool({"module", "version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_TRUE(has(version.out, "xsr-sim")) << version.out;
}

TEST_F(CliServer, SendShowsAnswersAsTextHexOrJson) {
    const ToolRun text = tool({"send", "Echo", "hello"});
    EXPECT_EQ(text.exit_code, 0) << text.err;
    EXPECT_TRUE(has(text.out, "answer          hello")) << text.out;
    EXPECT_TRUE(has(tool({"send", "Echo", "hello", "--hex"}).out, "68 65 6c 6c 6f"));
    const ToolRun json = tool({"send", "Echo", "hello", "--json"});
    EXPECT_TRUE(has(json.out, "\"answer\": {\"length\": 5, \"text\": \"hello\", \"hex\": \"68 65 6c 6c 6f\"}"))
        << json.out;

    // Bytes that are not text are dumped in hex; in JSON the hex is exact
    // and the text shows a byte that is not UTF-8 as U+FFFD, never as the
    // character U+00FF.
    const ToolRun bin = tool({"send", "Echo", "--hex-data", "00 ff 41"});
    EXPECT_TRUE(has(bin.out, "00000000  00 ff 41")) << bin.out;
    EXPECT_TRUE(has(tool({"send", "Echo", "--hex-data", "00ff41", "--json"}).out,
                    "{\"length\": 3, \"text\": \"\\u0000\\ufffdA\", \"hex\": \"00 ff 41\"}"));

    char path[] = "/tmp/orqext-payloadXXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::ofstream(path, std::ios::binary) << std::string("from\nfile", 9);
    const ToolRun file = tool({"send", "Echo", "--file", path, "--json"});
    std::remove(path);
    EXPECT_TRUE(has(file.out, "\"text\": \"from\\nfile\"")) << file.out;

    // A small buffer keeps the leading part and reports the whole length.
    const ToolRun cut = tool({"send", "Echo", "hello", "--capacity", "3", "--json"});
    EXPECT_EQ(cut.exit_code, 1);
    EXPECT_TRUE(has(cut.err, "-1107 ORQEXT_E_ANSWER_TOO_LONG")) << cut.err;
    EXPECT_TRUE(has(cut.out, "\"answer_length\": 5")) << cut.out;
    EXPECT_TRUE(has(cut.out, "\"text\": \"hel\"")) << cut.out;

    // A pending answer past the time limit, cancelled: exit code 4.
    const ToolRun slow = tool({"send", "Script", "delay=5000", "--time-limit", "50", "--cancel"});
    EXPECT_EQ(slow.exit_code, 4);
    EXPECT_TRUE(has(slow.err, "-1113 ORQEXT_E_TIMEOUT_CANCELLED")) << slow.err;

    const ToolRun async = tool({"send", "Script", "delay=300 size=4", "--async", "--request-id", "9", "--json"});
    EXPECT_EQ(async.exit_code, 0) << async.err;
    EXPECT_TRUE(has(async.out, "\"request_id\": 9")) << async.out;
    EXPECT_TRUE(has(async.out, "\"text\": \"abcd\"")) << async.out;

    // With clustering on and no cluster named Ident, no node serves it.
    // The routing fails before the exchange: the buffer holds no answer and
    // none is shown (the length still holds the capacity).
    for (const char* format : {"--hex", "--json"}) {
        const ToolRun routed = tool({"send", "Ident", "who", "--cluster", format});
        EXPECT_EQ(routed.exit_code, 1);
        EXPECT_TRUE(has(routed.err, "-1203 ORQEXT_E_NO_NODE")) << routed.err;
        EXPECT_FALSE(has(routed.out, "answer")) << format << ":\n" << routed.out.substr(0, 400);
        EXPECT_LT(routed.out.size(), 1000u) << format;
    }
    // A failure the server answers with still shows what arrived.
    const ToolRun failed = tool({"send", "Script", "rc=-5 size=3", "--json"});
    EXPECT_EQ(failed.exit_code, 1);
    EXPECT_TRUE(has(failed.out, "\"answer\": {\"length\": 3, \"text\": \"abc\"")) << failed.out;
}

// After -1107 the tool names the --capacity that holds the whole answer, and
// that capacity does.
TEST_F(CliServer, AnswerTooLongSaysWhichCapacityHoldsIt) {
    struct Case {
        std::vector<std::string> send;
        const char* capacity;
        int64_t whole;
    } cases[] = {
        {{"send", "Echo", "hello"}, "3", 5},
        {{"send", "Script", "size=100"}, "50", 100},
        {{"send", "Script", "size=127"}, "1", 127},
        // Past the local area, straight into the tool's buffer; and in parts.
        {{"send", "Script", "size=3000"}, "1000", 3000},
        {{"send", "Script", "size=3000 part=500"}, "1000", 3000},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.send;
        args.insert(args.end(), {"--capacity", c.capacity});
        const ToolRun cut = tool(args);
        const std::string whole = std::to_string(c.whole);
        EXPECT_EQ(cut.exit_code, 1) << c.send[2];
        EXPECT_TRUE(has(cut.err, "the whole answer is " + whole + " bytes; --capacity " + whole + " holds it"))
            << cut.err;
        args.push_back("--json");
        EXPECT_TRUE(has(tool(args).out, "\"capacity_needed\": " + whole)) << c.send[2];
        args.pop_back();
        args.back() = whole;
        const ToolRun fits = tool(args);
        EXPECT_EQ(fits.exit_code, 0) << c.send[2] << "\n" << fits.err;
        EXPECT_TRUE(has(fits.out, "answer_length   " + whole)) << fits.out;
        EXPECT_FALSE(has(fits.err, "capacity")) << fits.err;
    }
}

// Control characters and escape sequences in answers, module names and
// arguments reach the terminal escaped; JSON keeps the exact bytes.
TEST_F(CliServer, ControlCharactersAreShownEscaped) {
    struct Case {
        std::vector<std::string> args;
        const char* shown;  // on stdout, or on stderr when the call fails
    } cases[] = {
        {{"send", "Echo", "over\rwrite"}, "answer          over\\rwrite"},
        {{"send", "Echo", "csi\xC2\x9B" "2J"}, "answer          csi\\u009b2J"},
        {{"send", "Echo", "abc\xE2\x80\xAE" "fed"}, "answer          abc\\u202efed"},
        {{"send", "Echo", "two\nlines\r\n"}, "answer:\n  two\n  lines\\r\n"},
        {{"send", "Echo", "esc\x1b[31m"}, "65 73 63 1b 5b 33 31 6d"},
        {{"send", "No\x01ne\n", "x"}, "message to No\\x01ne\\n failed"},
        {{"send", "No\x01ne\n", "x"}, "the server has no module No\\x01ne\\n"},
        {{"send", "Echo", "x", "--target", "t\x1b]0;title\x07"}, "module          Echo"},
        {{"module", "register", "Evil\x1b[2J", "--file-ref", "echo"}, "module   Evil\\x1b[2J"},
        {{"module", "list"}, "Evil\\x1b[2J  1.0.0.0"},
        {{"module", "info", "Evil\x1b[2J"}, "name=Evil\\x1b[2J"},
    };
    for (const Case& c : cases) {
        const ToolRun r = tool(c.args);
        std::string line;
        for (const std::string& a : c.args) line += " [" + a + "]";
        EXPECT_TRUE(has(r.out + r.err, c.shown)) << line << "\nstdout:\n" << r.out << "stderr:\n" << r.err;
        EXPECT_EQ(raw_control_at(r.out), std::string::npos) << line << "\n" << r.out;
        EXPECT_EQ(raw_control_at(r.err), std::string::npos) << line << "\n" << r.err;
    }
    const ToolRun json = tool({"send", "Echo", "over\rwrite\x1b", "--json"});
    EXPECT_TRUE(has(json.out, "\"text\": \"over\\rwrite\\u001b\"")) << json.out;
}

TEST_F(CliServer, StatementsAndTheirProcess) {
    EXPECT_EQ(tool({"sql", "exec", "select 1"}).exit_code, 0);
    const ToolRun via = run_tool({"sql", "exec", "select 2", "--connect",
                                  "Server=127.0.0.1;Port=" + std::to_string(sim_.port()) + ";User=ADMIN;Pass=admin"});
    EXPECT_EQ(via.exit_code, 0) << via.err;
    const std::string log = statements(conn_);
    EXPECT_TRUE(has(log, "select 1")) << log;
    EXPECT_TRUE(has(log, "select 2")) << log;

    EXPECT_EQ(tool({"sql", "process", "use ext Echo cmd run select 3"}).exit_code, 0);
    const ToolRun bad = tool({"sql", "process", "select 1"});
    EXPECT_EQ(bad.exit_code, 1);
    EXPECT_TRUE(has(bad.err, "-3502 ORQEXT_E_BAD_STATEMENT: the statement is not well-formed")) << bad.err;
}

TEST_F(CliServer, ClusterAddShowSwitchAndDelete) {
    EXPECT_EQ(tool({"cluster", "add", "Ident", "--tag", "t", "--attr-a", "A"}).exit_code, 0);
    EXPECT_EQ(tool({"cluster", "add", "Ident", "--tag", "t", "--node", "127.0.0.1:7301:u:secret:first", "--node",
                    "[::1]:7302"})
                  .exit_code,
              0);
    const ToolRun show = tool({"cluster", "show", "--json"});
    EXPECT_EQ(show.exit_code, 0) << show.err;
    EXPECT_TRUE(has(show.out, "\"attr_a\": \"A\"")) << show.out;
    EXPECT_TRUE(has(show.out, "\"nodes\": 2")) << show.out;
    EXPECT_TRUE(has(show.out, "\"port\": 7301")) << show.out;
    EXPECT_TRUE(has(show.out, "\"server\": \"::1\"")) << show.out;
    EXPECT_TRUE(has(show.out, "\"pass\": \"***\"")) << show.out;
    EXPECT_TRUE(has(show.out, "\"attr\": \"first\"")) << show.out;
    EXPECT_TRUE(has(tool({"cluster", "show", "Ident", "--tag", "T", "--show-passwords"}).out, "secret"))
        << "name and tag match without regard to letter case";
    const ToolRun none = tool({"cluster", "show", "Other", "--tag", "t"});
    EXPECT_EQ(none.exit_code, 1);
    EXPECT_TRUE(has(none.err, "-4128 ORQEXT_E_NO_CLUSTER")) << none.err;

    const ToolRun on = tool({"cluster", "switch", "on", "--json"});
    EXPECT_EQ(on.exit_code, 0) << on.err;
    EXPECT_TRUE(has(on.out, "\"clustering\": true")) << on.out;
    EXPECT_TRUE(has(on.out, "\"clusters\": 1")) << on.out;

    EXPECT_EQ(tool({"cluster", "delete", "Ident", "--tag", "t"}).exit_code, 0);
    EXPECT_TRUE(has(tool({"cluster", "show"}).out, "clusters  (none)"));
}

TEST_F(CliServer, TextCommandsShowWhatTheModulesCompute) {
    const ToolRun seg = tool({"text", "segment", "Hello \xE4\xB8\x96\xE7\x95\x8C", "--json"});
    EXPECT_EQ(seg.exit_code, 0) << seg.err;
    EXPECT_TRUE(has(seg.out, "\"count\": 3")) << seg.out;
    EXPECT_TRUE(has(seg.out, "\"offset\": 9,\n      \"length\": 3,\n      \"word\": \"\xE7\x95\x8C\"")) << seg.out;
    const ToolRun table = tool({"text", "segment", "one two"});
    EXPECT_TRUE(has(table.out, "1      4       3       two")) << table.out;

    const ToolRun sim = tool({"text", "similarity", "a b", "a c"});
    EXPECT_EQ(sim.exit_code, 0);
    EXPECT_TRUE(has(sim.out, "similarity  500/1000\n")) << sim.out;
    EXPECT_TRUE(has(tool({"text", "similarity", "a b", "a c", "--json"}).out, "\"similarity\": 500\n")) << "JSON: the number";

    ASSERT_EQ(ORQExt_STM_CreateDomain(conn_, "markets", nullptr, nullptr, nullptr, 0), 0);
    ASSERT_EQ(ORQExt_STM_CreateDomain(conn_, "sports", nullptr, nullptr, nullptr, 0), 0);
    ASSERT_GT(ORQExt_STM_OpenDomain(conn_, "sports"), 0);
    EXPECT_TRUE(has(tool({"text", "domains", "--json"}).out, "\"domains\": [\n    \"markets\",\n    \"sports\"\n  ]"));
    EXPECT_TRUE(has(tool({"text", "domains", "--open", "--json"}).out, "\"domains\": [\n    \"sports\"\n  ]"));
    // The module cuts the list to the whole lines that fit: a small first
    // room is doubled until the list stops growing.
    ASSERT_EQ(ORQExt_STM_CreateDomain(conn_, "weather", nullptr, nullptr, nullptr, 0), 0);
    const ToolRun small = tool({"text", "domains", "--capacity", "16", "--json"});
    EXPECT_EQ(small.exit_code, 0) << small.err;
    EXPECT_TRUE(has(small.out, "\"domains\": [\n    \"markets\",\n    \"sports\",\n    \"weather\"\n  ]"))
        << small.out;

    // A server-side failure: the module is stopped.
    ASSERT_EQ(tool({"module", "stop", "KExt_STM"}).exit_code, 0);
    const ToolRun down = tool({"text", "domains"});
    EXPECT_EQ(down.exit_code, 1);
    EXPECT_TRUE(has(down.err, "knowledge domain list failed: -20102 SIM_E_NOT_STARTED: the module is registered but not started"))
        << down.err;
    EXPECT_TRUE(has(down.out, "result   -20102")) << down.out;
    EXPECT_TRUE(has(down.err, "the module KExt_STM is registered but not started; start it: orqext module start KExt_STM"))
        << down.err;
}

// Every --json report has one shape: "ok", "result" and "meaning" first,
// then the command's fields; a text that is not UTF-8 is given as bytes.
TEST_F(CliServer, EveryJsonReportHasOneShape) {
    struct Case {
        std::vector<std::string> args;
        int exit_code;
        std::string head;  // ok, result, meaning
        std::string field;  // a payload field after them
    };
    const std::string bad_name = "no\xff" "such";
    const std::vector<Case> cases = {
        {{"status"}, 0, "true,\n  \"result\": 0,\n  \"meaning\": \"success\"", "\"reachable\": true"},
        {{"module", "list"}, 0, "true,\n  \"result\": 0,", "\"lines\": ["},
        {{"codes"}, 0, "true,\n  \"result\": 0,\n  \"meaning\": \"success\"", "\"codes\": ["},
        {{"codes", "-1107"}, 0, "true,\n  \"result\": 0,", "\"name\": \"ORQEXT_E_ANSWER_TOO_LONG\""},
        {{"text", "segment", "one two"}, 0, "true,\n  \"result\": 2,\n  \"meaning\": \"number of words\"", "\"count\": 2"},
        {{"cluster", "show"}, 0, "true,\n  \"result\": 0,", "\"clusters\": []"},
        {{"module", "info", bad_name}, 1, "false,\n  \"result\": -20101,", "\"hex\": \"6e 6f ff 73 75 63 68\""},
        {{"module", "list", "--password", "wrong"}, 3, "false,\n  \"result\": -20004,", "\"failed\": \"connect to"},
        {{"module", "frob"}, 2, "false,\n  \"result\": null,\n  \"meaning\": \"bad command line\"", "\"usage_error\": \"unknown subcommand"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--port", std::to_string(sim_.port()), "--json"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ToolRun r = run_tool(args);
        EXPECT_EQ(r.exit_code, c.exit_code) << c.args[0] << " " << r.err;
        EXPECT_EQ(r.out.rfind("{\n  \"ok\": " + c.head, 0), 0u) << r.out;
        EXPECT_TRUE(has(r.out, c.field)) << r.out;
    }
}

// A long text is segmented whole: the room is sized from the text. A
// --capacity that the list fills is no success: exit 5, "cut" in the report.
TEST_F(CliServer, SegmentationListsAreNeverCutSilently) {
    std::string text;
    for (int i = 0; i < 2000; ++i) text += "w" + std::to_string(i % 97) + " ";
    const ToolRun whole = tool({"text", "segment", text, "--json"});
    EXPECT_EQ(whole.exit_code, 0) << whole.err;
    EXPECT_TRUE(has(whole.out, "\"count\": 2000,")) << whole.out.substr(0, 300);
    EXPECT_TRUE(has(whole.out, "\"index\": 1999,"));
    EXPECT_FALSE(has(whole.out, "\"cut\""));

    const ToolRun cut = tool({"text", "segment", text, "--capacity", "1024", "--json"});
    EXPECT_EQ(cut.exit_code, 5) << cut.err;
    EXPECT_TRUE(has(cut.out, "\"count\": 1023,")) << cut.out.substr(0, 300);
    EXPECT_TRUE(has(cut.out, "\"cut\": true")) << cut.out.substr(cut.out.size() - 300);
    EXPECT_TRUE(has(cut.err, "word segmentation: the list filled its room of 1023 entries and may be cut")) << cut.err;
}

// A server without the service modules (a fresh xsr-sim): the text commands
// say what to run, and what they say works.
class CliFreshServer : public e2e::SimTest {
protected:
    ToolRun tool(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", std::to_string(sim_.port())});
        return run_tool(args);
    }
};

TEST_F(CliFreshServer, TextCommandsSayHowToRegisterTheirModule) {
    const ToolRun missing = tool({"text", "segment", "one two"});
    EXPECT_EQ(missing.exit_code, 1);
    const std::string advice = "register and start it: orqext module register KExt_NLPE --autostart";
    ASSERT_TRUE(has(missing.err, advice + " (with the same connection options)")) << missing.err;
    EXPECT_EQ(tool({"module", "register", "KExt_NLPE", "--autostart"}).exit_code, 0);
    const ToolRun works = tool({"text", "segment", "one two"});
    EXPECT_EQ(works.exit_code, 0) << works.err;
    EXPECT_TRUE(has(works.out, "count    2")) << works.out;

    const ToolRun stm = run_tool({"text", "domains", "--port", std::to_string(sim_.port())});
    EXPECT_TRUE(has(stm.err, "orqext module register KExt_STM --autostart")) << stm.err;
}

TEST(CliDemo, WalksThroughAndFailsOver) {
    const ToolRun r = run_tool({"demo", "--sim", XSR_SIM_PATH}, 120000);
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    const std::size_t first = r.out.find("answered by \"node-1\"");
    const std::size_t stop1 = r.out.find("stopping node-1");
    const std::size_t second = r.out.find("answered by \"node-2\"");
    const std::size_t stop2 = r.out.find("stopping node-2");
    const std::size_t third = r.out.find("answered by \"node-3\"");
    ASSERT_NE(third, std::string::npos) << r.out;
    EXPECT_LT(first, stop1);
    EXPECT_LT(stop1, second);
    EXPECT_LT(second, stop2);
    EXPECT_LT(stop2, third);
    EXPECT_TRUE(has(r.out, "26 bytes \"abcdefghijklmnopqrstuvwxyz\"")) << "the callback's answer";
    EXPECT_TRUE(has(r.out, "New York @0+8")) << "segmentation with the dictionary";
    EXPECT_TRUE(has(r.out, "category \"finance\"")) << "the classification";
    EXPECT_TRUE(has(r.out, "servers stopped\n")) << r.out;
}

}  // namespace
}  // namespace e2ecli

// The orqext program on bad command lines (a clear message naming what is
// wrong, exit code 2, never a crash), its help for every command, and its
// tables: options parse the same way in every command, and the Result code
// table agrees with the codes the stand-in XSRClient, xsr-sim and the
// simulated modules define.
#include <gtest/gtest.h>

#include <algorithm>

#include <cctype>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "exports/orqext.h"
#include "sim/modules/service_frame.h"
#include "tests/e2e_cli/tool_run.h"
#include "tools/orqext/cli.h"
#include "tools/orqext/results.h"
#include "xsr/proto/wire.h"

namespace e2ecli {
namespace {

TEST(CliUsage, BadCommandLinesNameTheProblemAndExitWithTwo) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{}, "Usage: orqext"},
        {{"bogus"}, "unknown command 'bogus'"},
        {{"module"}, "'module' needs a subcommand: list, info"},
        {{"module", "frob"}, "unknown subcommand 'frob' for 'module'"},
        {{"module", "register"}, "'module register' expects NAME"},
        {{"module", "start", "a", "b"}, "unexpected argument 'b'"},
        {{"status", "--port", "abc"}, "--port: 'abc' is not a number"},
        {{"status", "--port", "70000"}, "--port: 70000 is out of range"},
        {{"status", "--port"}, "option --port needs a value (PORT)"},
        {{"status", "--frob"}, "unknown option '--frob'"},
        {{"status", "-x"}, "unknown option '-x'"},
        {{"status", "--json=yes"}, "option --json takes no value"},
        {{"codes", "--host", "h"}, "option --host does not apply to 'codes'"},
        {{"status", "--connect", "server=a;port=1"}, "--connect: missing user, pass"},
        {{"status", "--connect", "server=a;port=1;user=u;pass=p;color=red"}, "unknown key 'color'"},
        {{"status", "--connect", "server=a;port=0;user=u;pass=p"}, "port in --connect: 0 is out of range"},
        {{"status", "--connect", "server=a;port=1;user=u;pass=p", "--host", "b"}, "cannot be combined"},
        {{"module", "list", "--user", std::string(64, 'u')}, "--user is 64 characters long; the login record holds 63"},
        {{"status", "--host", ""}, "--host must not be empty"},
        {{"send", "Echo", "--file", "/nonexistent/orqext-test"}, "--file: cannot read '/nonexistent/orqext-test'"},
        {{"send", "Echo", "--hex-data", "4g"}, "'g' is not a hex digit"},
        {{"send", "Echo", "--hex-data", "414"}, "odd number of hex digits"},
        {{"send", "Echo", "x", "--hex-data", "41"}, "give the payload once"},
        {{"send", "Echo", "x", "--cancel"}, "--cancel needs --time-limit"},
        {{"send", "Echo", "x", "--wait", "5"}, "--wait and --request-id belong to --async"},
        {{"send", "Echo", "x", "--capacity", "-1"}, "--capacity: -1 is out of range"},
        {{"cluster", "add", "c", "--node", "h:1"}, "--tag is required"},
        {{"cluster", "add", "c", "--tag", "t", "--node", "h:65535"}, "port: 65535 is out of range"},
        {{"cluster", "add", "c", "--tag", "t", "--node", "[::1"}, "unclosed '['"},
        {{"cluster", "add", "c", "--tag", std::string(16, 't')}, "--tag is 16 characters long; at most 15 fit"},
        {{"cluster", "switch", "maybe"}, "expects on or off, not 'maybe'"},
        {{"text", "segment", ""}, "TEXT must not be empty"},
        {{"text", "segment", "x", "--capacity", "1"}, "--capacity: 1 is out of range"},
        {{"codes", "x1"}, "CODE: 'x1' is not a number"},
        {{"demo", "--sim", "/nonexistent/xsr-sim"}, "--sim: '/nonexistent/xsr-sim' is not an executable file"},
        {{"demo", "--json"}, "it has no JSON output"},
        {{"help", "nothing"}, "no command 'nothing' to explain"},
        // An option of a command written without one says where it goes.
        {{"--file", "batch.txt"}, "--file belongs to 'send'; write: orqext send MODULE [PAYLOAD] --file PATH"},
        {{"--target", "x"}, "--target belongs to 'send'; write: orqext send MODULE [PAYLOAD] --target NAME"},
        {{"--tag", "t"}, "--tag belongs to 'cluster show', 'cluster add' and 'cluster delete'; write: orqext cluster show"},
        {{"codes", "-f", "batch.txt"}, "--input goes without a command: orqext -f FILE"},
        {{"codes", "--stop-on-error"}, "--stop-on-error goes without a command"},
        {{"-f"}, "option -f needs a value (FILE)"},
        // Connection options in front of any command are checked all the same.
        {{"--port", "abc", "codes"}, "--port: 'abc' is not a number"},
        {{"--connect", "server=a", "codes"}, "--connect: missing port, user, pass"},
        // Control characters of arguments are shown escaped.
        {{"bogus\x1b[2J\r\n"}, "unknown command 'bogus\\x1b[2J\\r\\n'"},
        {{"module", "fr\x01ob\xc2\x9b"}, "unknown subcommand 'fr\\x01ob\\u009b'"},
        {{"status", "--port", "1\x07\xff"}, "--port: '1\\x07\\xff' is not a number"},
    };
    for (const Case& c : cases) {
        const ToolRun r = run_tool(c.args);
        std::string line;
        for (const std::string& a : c.args) line += " [" + a + "]";
        EXPECT_EQ(r.exit_code, 2) << line << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << line << "\nstderr: " << r.err;
        // With --json stdout has the report of a bad command line, else nothing.
        if (std::find(c.args.begin(), c.args.end(), "--json") != c.args.end())
            EXPECT_EQ(r.out.rfind("{\n  \"ok\": false,\n  \"result\": null,\n  \"meaning\": \"bad command line\"", 0), 0u)
                << line << "\nstdout: " << r.out;
        else
            EXPECT_TRUE(r.out.empty()) << line << "\nstdout: " << r.out;
        EXPECT_EQ(count_of(r.err, "see 'orqext"), c.args.empty() ? 0u : 1u) << line << "\n" << r.err;
        EXPECT_EQ(r.err.find_first_of(std::string("\x01\x07\x1b\r\xff\xc2", 6)), std::string::npos) << line << "\n" << r.err;
    }
}

// "orqext --port N codes": connection options in front of the command, as an
// alias puts them, are harmless for a command that does not connect.
TEST(CliUsage, ConnectionOptionsInFrontOfAnyCommandAreAccepted) {
    const std::vector<std::vector<std::string>> lines = {
        {"--port", "7301", "codes", "-1107"},
        {"--host", "example", "--user", "u", "--password", "p", "codes", "-1107"},
        {"--connect", "server=a;port=1;user=u;pass=p", "--json", "codes", "-1107"},
    };
    for (const auto& args : lines) {
        const ToolRun r = run_tool(args);
        EXPECT_EQ(r.exit_code, 0) << args[0] << "\n" << r.err;
        EXPECT_NE(r.out.find("ORQEXT_E_ANSWER_TOO_LONG"), std::string::npos) << args[0] << "\n" << r.out;
    }
}

TEST(SimUsage, HelpSucceedsAndBadArgumentsSayWhatIsWrong) {
    const ToolRun help = run_program(XSR_SIM_PATH, {"--help"});
    EXPECT_EQ(help.exit_code, 0) << help.err;
    EXPECT_EQ(help.out.rfind("usage: xsr-sim --port N", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("--config FILE"), std::string::npos) << help.out;
    EXPECT_TRUE(help.err.empty()) << help.err;
    EXPECT_EQ(run_program(XSR_SIM_PATH, {"-h"}).out, help.out);

    struct Case {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{}, "--port is required"},
        {{"--port", "99999"}, "--port: 99999 is out of range (expected 0 to 65535"},
        {{"--port", "65536"}, "--port: 65536 is out of range"},
        {{"--port", "abc"}, "--port: 'abc' is not a number"},
        {{"--port", "-1"}, "--port: '-1' is not a number"},
        {{"--port", ""}, "--port: '' is not a number"},
        {{"--port"}, "--port needs a value"},
        {{"--port", "0", "--config"}, "--config needs a value"},
        {{"--frob", "1"}, "unknown option '--frob'"},
        {{"--port", "0", "--idle-timeout", "soon"}, "--idle-timeout: 'soon' is not a number of seconds"},
        {{"--port", "0", "--idle-timeout", "86401"}, "--idle-timeout: '86401' is not a number of seconds"},
        {{"--port", "0", "--config", "/nonexistent/xsr-sim.conf"}, "cannot read /nonexistent/xsr-sim.conf"},
    };
    for (const Case& c : cases) {
        const ToolRun r = run_program(XSR_SIM_PATH, c.args, 20000);
        std::string line;
        for (const std::string& a : c.args) line += " [" + a + "]";
        EXPECT_EQ(r.exit_code, 2) << line << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << line << "\nstderr: " << r.err;
        EXPECT_TRUE(r.out.empty()) << line << "\nstdout: " << r.out;
    }
}

TEST(CliUsage, EveryCommandHasHelp) {
    const ToolRun top = run_tool({"--help"});
    EXPECT_EQ(top.exit_code, 0);
    for (const orqext::CommandSpec& c : orqext::commands()) {
        EXPECT_NE(top.out.find("  " + c.path), std::string::npos) << c.path << " missing from --help";
        std::vector<std::string> args;
        std::string w;
        for (char ch : c.path + " ") {
            if (ch == ' ') {
                args.push_back(w);
                w.clear();
            } else {
                w += ch;
            }
        }
        std::vector<std::string> help = args;
        help.push_back("--help");
        const ToolRun r = run_tool(help);
        EXPECT_EQ(r.exit_code, 0) << c.path;
        EXPECT_EQ(r.out.rfind("Usage: orqext " + c.path, 0), 0u) << c.path << ":\n" << r.out;
        for (const orqext::OptionSpec& o : c.options)
            EXPECT_NE(r.out.find("--" + o.name), std::string::npos) << c.path << " --" << o.name;
        EXPECT_EQ(r.out.find("--host") != std::string::npos, c.connects) << c.path;
        args.insert(args.begin(), "help");
        EXPECT_EQ(run_tool(args).out, r.out) << "'orqext help " << c.path << "'";
    }
    const ToolRun group = run_tool({"cluster", "--help"});
    EXPECT_EQ(group.exit_code, 0);
    EXPECT_NE(group.out.find("cluster switch"), std::string::npos);
}

// Both programs report the version of the headers they were built with, on
// stdout, for --version alone; with more arguments it is no version request
// (for orqext, --version is also the module version of 'module register').
TEST(CliUsage, VersionIsPrintedAlone) {
    const std::string orqext_line = std::string("orqext ") + ORQEXT_VERSION_STRING + "\n";
    const std::string sim_line = std::string("xsr-sim ") + ORQEXT_VERSION_STRING + "\n";
    struct Case {
        const char* program;
        std::vector<std::string> args;
        int exit_code;
        std::string out;
        const char* err;
    } cases[] = {
        {ORQEXT_PATH, {"--version"}, 0, orqext_line, ""},
        {ORQEXT_PATH, {"--version", "1.5"}, 2, "", "--version belongs to 'module register'"},
        {ORQEXT_PATH, {"codes", "--version", "1.5"}, 2, "", "option --version does not apply to 'codes'"},
        {ORQEXT_PATH, {"module", "register", "M", "--version"}, 2, "", "option --version needs a value"},
        {XSR_SIM_PATH, {"--version"}, 0, sim_line, ""},
        {XSR_SIM_PATH, {"--version", "--port", "0"}, 2, "", "usage: xsr-sim"},
    };
    for (const Case& c : cases) {
        std::string line = c.program;
        for (const std::string& a : c.args) line += " [" + a + "]";
        const ToolRun r = run_program(c.program, c.args, 20000);
        EXPECT_EQ(r.exit_code, c.exit_code) << line << "\n" << r.err;
        EXPECT_EQ(r.out, c.out) << line;
        if (*c.err) {
            EXPECT_NE(r.err.find(c.err), std::string::npos) << line << "\nstderr: " << r.err;
        }
    }
    // The version macros agree with each other.
    EXPECT_EQ(std::to_string(ORQEXT_VERSION_MAJOR) + "." + std::to_string(ORQEXT_VERSION_MINOR) + "." +
                  std::to_string(ORQEXT_VERSION_PATCH),
              ORQEXT_VERSION_STRING);
}

// Options are parsed before the command is known, so a name must take a
// value in every command or in none.
TEST(CliUsage, OptionsTakeValuesAlikeInEveryCommand) {
    std::map<std::string, bool> takes;
    for (const orqext::CommandSpec& c : orqext::commands())
        for (const orqext::OptionSpec& o : c.options) {
            auto it = takes.find(o.name);
            if (it == takes.end())
                takes[o.name] = !o.value.empty();
            else
                EXPECT_EQ(it->second, !o.value.empty()) << "--" << o.name << " in " << c.path;
        }
    for (const char* global : {"host", "port", "user", "password", "connect", "json", "help"})
        EXPECT_EQ(takes.count(global), 0u) << "--" << global << " is a global option";
}

TEST(CliUsage, CodeTableAgreesWithTheCodesOfXsrClientSimAndModules) {
    // Every code the stand-in pair or the modules define is in the table...
    for (int32_t code = -20300; code <= -20000; ++code) {
        const bool defined = xsrproto::code_name(code) != nullptr || xsrsim::svc::code_text(code) != nullptr;
        const orqext::CodeInfo* info = orqext::find_code(code);
        EXPECT_EQ(info != nullptr, defined) << code;
        if (!info) continue;
        const std::string source = info->source;
        if (code > -20100)
            EXPECT_EQ(source, "XSRClient") << code;
        else if (code > -20200)
            EXPECT_EQ(source, "xsr-sim") << code;
        else
            EXPECT_EQ(source, "service module") << code;
    }
    // ...and the library's own codes, each once.
    for (int32_t code : {0, -1100, -1107, -1108, -1112, -1113, -1203, -3502, -4100, -4120, -4122, -4127, -4128, -9000})
        EXPECT_NE(orqext::find_code(code), nullptr) << code;
    std::map<int32_t, int> seen;
    for (const orqext::CodeInfo& c : orqext::code_table()) EXPECT_EQ(++seen[c.code], 1) << c.code;

    const ToolRun one = run_tool({"codes", "-1107"});
    EXPECT_EQ(one.exit_code, 0);
    EXPECT_NE(one.out.find("ORQEXT_E_ANSWER_TOO_LONG"), std::string::npos);
    // A positive number is no Result code but a status word: explained.
    const ToolRun word = run_tool({"codes", "12345", "--json"});
    EXPECT_EQ(word.exit_code, 0) << word.err;
    EXPECT_NE(word.out.find("\"code\": 12345"), std::string::npos) << word.out;
    EXPECT_NE(word.out.find("status word"), std::string::npos) << word.out;
    const ToolRun unknown = run_tool({"codes", "-12345"});
    EXPECT_EQ(unknown.exit_code, 1);
    EXPECT_NE(unknown.err.find("-12345"), std::string::npos);
}

// The README's Result table lists the library's and XSRClient's codes exactly
// as the one table of codes (exports/orqext_results.h) has them: same code,
// constant, source and meaning, none missing, none invented.
TEST(ReadmeCodes, ResultTableAgreesWithTheTableOfCodes) {
    std::ifstream f(ORQ_README_PATH);
    ASSERT_TRUE(f) << ORQ_README_PATH;
    std::stringstream all;
    all << f.rdbuf();
    const std::string text = all.str();
    const std::size_t from = text.find("## Result codes");
    ASSERT_NE(from, std::string::npos);
    const std::size_t to = text.find("\n## ", from + 1);
    std::istringstream section(text.substr(from, to == std::string::npos ? std::string::npos : to - from));
    std::map<int32_t, std::vector<std::string>> rows;
    std::string line;
    while (std::getline(section, line)) {
        if (line.size() < 3 || line.compare(0, 2, "| ") != 0 || !(std::isdigit(static_cast<unsigned char>(line[2])) || line[2] == '-'))
            continue;
        std::vector<std::string> cells;
        std::size_t at = 2;
        while (at < line.size()) {
            const std::size_t bar = line.find(" |", at);
            if (bar == std::string::npos) break;
            cells.push_back(line.substr(at, bar - at));
            at = bar + 3;
        }
        ASSERT_EQ(cells.size(), 4u) << line;
        const int32_t code = static_cast<int32_t>(std::stol(cells[0]));
        EXPECT_EQ(rows.count(code), 0u) << "listed twice: " << line;
        rows[code] = cells;
    }
    std::size_t expected = 0;
    for (const orqext::CodeInfo& c : orqext::code_table()) {
        const std::string source = c.source;
        const bool listed = rows.count(c.code) != 0;
        if (source != "ORQExtClient" && source != "XSRClient") {
            EXPECT_FALSE(listed) << c.code << " belongs to " << source << ", which the README leaves to the header";
            continue;
        }
        ++expected;
        ASSERT_TRUE(listed) << c.code << " " << c.name << " is missing from the README";
        const std::vector<std::string>& r = rows[c.code];
        EXPECT_EQ(r[1], std::string("`") + c.name + "`") << c.code;
        EXPECT_EQ(r[2], source) << c.code;
        EXPECT_EQ(r[3], c.meaning) << c.code;
    }
    EXPECT_EQ(rows.size(), expected) << "the README lists a code the table does not have";
}

}  // namespace
}  // namespace e2ecli

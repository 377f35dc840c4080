// orqext without a command: batch mode (one command a line from standard
// input), the pieces of the interactive shell (word splitting, completion,
// the history's masking), and where the connection settings come from when
// the command line leaves them out (environment, password file). The
// interactive shell itself is tested through tmux by
// scripts/test-orqext-shell.sh.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/fixture.h"
#include "tests/e2e/sim_process.h"
#include "tests/e2e_cli/tool_run.h"
#include "tools/orqext/cli.h"
#include "tools/orqext/credentials.h"
#include "tools/orqext/interrupt.h"
#include "tools/orqext/shell.h"

namespace e2ecli {
namespace {

using Words = std::vector<std::string>;

TEST(OrqextShell, SplitsLinesAsAShellDoes) {
    const struct {
        std::string line;
        Words words;
    } cases[] = {
        {"send Echo hello", {"send", "Echo", "hello"}},
        {"  send\tEcho  'two words'  ", {"send", "Echo", "two words"}},
        {"send Echo \"it's\" a\\ b", {"send", "Echo", "it's", "a b"}},
        {"send Echo ''", {"send", "Echo", ""}},
        {"send Echo 'a\\b' \"c\\\"d\"", {"send", "Echo", "a\\b", "c\"d"}},
        {"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(orqext::split_command_line(c.line), c.words) << c.line;
    EXPECT_THROW(orqext::split_command_line("send Echo 'open"), orqext::UsageError);
    EXPECT_THROW(orqext::split_command_line("send Echo \"open"), orqext::UsageError);
}

TEST(OrqextShell, HistoryLinesKeepNoPassword) {
    const struct {
        std::string line, kept;
    } cases[] = {
        {"module list", "module list"},
        {"module list --password s3cret", "module list --password ***"},
        {"module list --password=s3cret --user u", "module list --password=*** --user u"},
        {"sql exec 'x' --connect 'server=h;port=1;user=u;PASS=s3;cret'", "sql exec x --connect 'server=h;port=1;user=u;PASS=***;cret'"},
        {"send Echo 'pass=not a secret'", "send Echo 'pass=not a secret'"},
    };
    for (const auto& c : cases) EXPECT_EQ(orqext::mask_secrets(c.line), c.kept) << c.line;
    EXPECT_FALSE(has(orqext::mask_secrets("module list --password 'zz9 open"), "zz9"));
}

TEST(OrqextShell, CompletesCommandsOptionsModulesAndRemoteFunctions) {
    const Words modules = {"Echo", "Script"};
    const struct {
        Words before;
        std::string partial;
        Words want;  // each must be offered
        Words not_offered;
    } cases[] = {
        {{}, "mo", {"module"}, {"send"}},
        {{}, "", {"status", "send", "text", "help", "exit"}, {}},
        {{"module"}, "st", {"start", "stop"}, {"list"}},
        {{"text"}, "", {"segment", "similarity", "domains"}, {"module"}},
        {{"send"}, "E", {"Echo"}, {"Script"}},
        {{"send"}, "KExt_S", {"KExt_STM"}, {"KExt_NLPE"}},
        {{"module", "start"}, "", {"Echo", "Script", "KExt_NLPE"}, {}},
        {{"send", "KExt_STM", "--target"}, "STM_List", {"STM_List_Knowledge_Domain"}, {}},
        {{"send", "KExt_ARA", "--target"}, "", {"ARA_Stat_AssociatedFreq"}, {"STM_List_Knowledge_Domain"}},
        {{"text", "segment"}, "--cap", {"--capacity"}, {}},
        {{"send", "Echo"}, "--t", {"--target", "--time-limit"}, {}},
        {{"codes"}, "--", {"--json"}, {"--capacity"}},
    };
    for (const auto& c : cases) {
        const Words got = orqext::completions(c.before, c.partial, modules);
        std::string shown;
        for (const auto& g : got) shown += g + " ";
        for (const auto& w : c.want) EXPECT_NE(std::find(got.begin(), got.end(), w), got.end()) << w << " in: " << shown;
        for (const auto& w : c.not_offered) EXPECT_EQ(std::find(got.begin(), got.end(), w), got.end()) << w << " in: " << shown;
        for (const auto& g : got) EXPECT_EQ(g.compare(0, c.partial.size(), c.partial), 0) << g;
    }
}

// Ctrl-C ends the shell when it comes within a second of the one before;
// the clock is stepped by the test.
TEST(OrqextShell, ASecondCtrlCWithinASecondEndsTheShell) {
    int64_t now = 0;
    orqext::DoublePress presses([&] { return now; });
    const struct {
        int64_t at;
        bool ends;
    } steps[] = {
        {5000, false},  // the first one
        {5999, true},   // 999 ms later
        {9000, false},  // 3001 ms later
        {10000, false}, // exactly a second later: not within it
        {10400, true},
        {10300, false}, // a clock that went back does not count
    };
    for (const auto& s : steps) {
        now = s.at;
        EXPECT_EQ(presses.press(), s.ends) << "at " << s.at;
    }
    presses.reset();  // a command was entered in between
    now += 100;
    EXPECT_FALSE(presses.press());
    now += 100;
    EXPECT_TRUE(presses.press());
}

// The output of an interrupted command is cut off at once, and goes on when
// the gate opens again.
TEST(OrqextShell, AClosedGateDropsOutput) {
    std::ostringstream sink;
    orqext::GateBuf gate(sink.rdbuf());
    std::ostream out(&gate);
    out << "before " << 1 << "\n";
    gate.set_open(false);
    out << "report of the interrupted command\n" << std::flush;
    gate.set_open(true);
    out << "after\n" << std::flush;
    EXPECT_EQ(sink.str(), "before 1\nafter\n");
}

TEST(OrqextCredentials, PasswordFileLinesMatchLikePgpass) {
    const std::string file =
        "# comment\n"
        "\n"
        "db1:7300:admin:one\n"
        "db\\:2:*:admin:two\\:colon\n"
        "*:7301:*:three\n"
        "*:*:*:any\n";
    const struct {
        std::string host;
        int32_t port;
        std::string user;
        std::string password;
    } cases[] = {
        {"db1", 7300, "admin", "one"},
        {"db:2", 9, "admin", "two:colon"},
        {"db1", 7301, "x", "three"},
        {"db1", 7300, "other", "any"},
    };
    for (const auto& c : cases) {
        std::string got;
        EXPECT_TRUE(orqext::password_from_lines(file, c.host, c.port, c.user, &got)) << c.host;
        EXPECT_EQ(got, c.password) << c.host;
    }
    std::string got;
    EXPECT_FALSE(orqext::password_from_lines("db1:7300:admin:one\n", "db2", 7300, "admin", &got));
}

class PasswordFile : public ::testing::Test {
protected:
    void SetUp() override {
        char d[] = "/tmp/orqext-passXXXXXX";
        ASSERT_NE(mkdtemp(d), nullptr);
        dir_ = d;
        path_ = dir_ + "/pass";
        std::ofstream(path_) << "*:*:admin:from-file\n";
    }
    void TearDown() override {
        std::remove((dir_ + "/link").c_str());
        std::remove(path_.c_str());
        rmdir(dir_.c_str());
    }
    std::string refusal(const std::string& path) {
        std::string got;
        try {
            orqext::password_from_file(path, "h", 1, "admin", &got);
        } catch (const orqext::UsageError& e) {
            return e.what();
        }
        return "(accepted: " + got + ")";
    }
    std::string dir_, path_;
};

TEST_F(PasswordFile, OnlyAFileOfMode0600ReachedWithoutALinkIsRead) {
    ASSERT_EQ(chmod(path_.c_str(), 0600), 0);
    std::string got;
    EXPECT_TRUE(orqext::password_from_file(path_, "h", 1, "admin", &got));
    EXPECT_EQ(got, "from-file");
    EXPECT_FALSE(orqext::password_from_file(path_, "h", 1, "nobody", &got));

    ASSERT_EQ(chmod(path_.c_str(), 0640), 0);
    EXPECT_TRUE(has(refusal(path_), "mode 0640 lets group or others at it; it must be 0600 (chmod 600 " + path_ + ")"))
        << refusal(path_);
    ASSERT_EQ(chmod(path_.c_str(), 0604), 0);
    EXPECT_TRUE(has(refusal(path_), "mode 0604")) << refusal(path_);

    ASSERT_EQ(chmod(path_.c_str(), 0600), 0);
    ASSERT_EQ(symlink(path_.c_str(), (dir_ + "/link").c_str()), 0);
    EXPECT_TRUE(has(refusal(dir_ + "/link"), "is a symbolic link")) << refusal(dir_ + "/link");
    EXPECT_TRUE(has(refusal(dir_ + "/missing"), "No such file")) << refusal(dir_ + "/missing");
    EXPECT_TRUE(has(refusal(dir_), "not a regular file")) << refusal(dir_);
}

class OrqextShellServer : public e2e::SimTest {};

// Batch mode: each line runs as one-shot use would; every line runs, and the
// exit code is that of the first line that failed.
TEST_F(OrqextShellServer, BatchModeRunsEachLine) {
    const std::string input =
        "module list\n"
        "# a comment, and an empty line\n"
        "\n"
        "send Echo 'two words'\n"
        "module info NoSuch\n"
        "send Echo 'open\n"
        "codes -1107\n"
        "exit\n"
        "codes 0\n";
    const ToolRun r = run_tool_with({"--port", std::to_string(sim_.port())}, &input, {});
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_TRUE(has(r.out, "  Echo ")) << r.out;
    EXPECT_TRUE(has(r.out, "answer          two words")) << r.out;
    EXPECT_TRUE(has(r.err, "module information of NoSuch failed: -20101")) << r.err;
    EXPECT_TRUE(has(r.err, "line 5 ended with exit code 1")) << r.err;
    EXPECT_TRUE(has(r.err, "unclosed single quote")) << r.err;
    EXPECT_TRUE(has(r.err, "line 6 ended with exit code 2")) << r.err;
    EXPECT_TRUE(has(r.out, "ORQEXT_E_ANSWER_TOO_LONG")) << r.out;
    EXPECT_FALSE(has(r.out, "ORQEXT_OK")) << "nothing runs after exit";

    const std::string good = "send Echo a\nsend Echo b\n";
    const ToolRun ok = run_tool_with({"--port", std::to_string(sim_.port()), "--json"}, &good, {});
    EXPECT_EQ(ok.exit_code, 0) << ok.err;
    EXPECT_EQ(std::count(ok.out.begin(), ok.out.end(), '{'), 4) << ok.out;  // two reports, with their answers
}

// One session for the whole batch: the connection is opened once and kept,
// so what it holds (clustering switched on) carries over from line to line;
// 'connect' and \c switch server; --cluster routes one message only.
TEST_F(OrqextShellServer, BatchLinesShareOneConnectionAndItsSettings) {
    e2e::SimProcess node_b;
    ASSERT_TRUE(node_b.start(std::string(), "nodeB")) << node_b.error();
    const std::string b = std::to_string(node_b.port());
    const std::string input =
        "cluster add Ident --tag t\n"
        "cluster add Ident --tag t --node 127.0.0.1:" + b + "\n"
        "cluster switch on\n"
        "send Ident 1\n"        // routed: nodeB
        "cluster switch off\n"
        "send Ident 2\n"        // the local server
        "send Ident 3 --cluster\n"  // routed, this message only
        "send Ident 4\n"        // the local server again
        "\\c --port " + b + "\n"
        "send Ident 5\n"        // nodeB, the session's new server
        "connect\n"
        "send Ident 6\n";
    const ToolRun r = run_tool_with({"--port", std::to_string(sim_.port()), "--password", "admin"}, &input, {});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    Words answers;
    std::istringstream lines(r.out);
    for (std::string l; std::getline(lines, l);)
        if (l.compare(0, 16, "answer          ") == 0) answers.push_back(l.substr(16));
    const std::string local = "xsr-sim:" + std::to_string(sim_.port());
    EXPECT_EQ(answers, (Words{"nodeB", local, "nodeB", local, "nodeB", "nodeB"})) << r.out;
    EXPECT_TRUE(has(r.out, "connected  yes")) << r.out;
}

// \c keeps the session's connection options that it does not replace (here
// a user and password both servers know and the defaults would not give).
TEST(OrqextShellSession, ConnectKeepsWhatItIsNotTold) {
    e2e::SimProcess one, two;
    ASSERT_TRUE(one.start("user kim pw-of-kim\n", "one")) << one.error();
    ASSERT_TRUE(two.start("user kim pw-of-kim\n", "two")) << two.error();
    const std::string input = "send Ident a\n\\c --port " + std::to_string(two.port()) + "\nsend Ident b\n";
    const ToolRun r = run_tool_with({"--port", std::to_string(one.port()), "--user", "kim", "--password", "pw-of-kim"},
                                    &input, {"ORQEXT_PASSWORD", "ORQEXT_PASSFILE", "HOME=/nonexistent-orqext-home"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(has(r.out, "answer          one")) << r.out;
    EXPECT_TRUE(has(r.out, "answer          two")) << r.out;
}

// A lost connection is said once and a new one opened by the next line;
// --stop-on-error ends a batch at the first failing line with its code; -f
// reads the batch from a file; errors point to 'help'.
TEST_F(OrqextShellServer, LostConnectionsStopOnErrorAndBatchFiles) {
    const std::vector<std::string> opts = {"--port", std::to_string(sim_.port()), "--password", "admin"};
    const std::string lost = "send Echo a\nsend Script fault=reset\nsend Echo b\nsend Echo c\n";
    const ToolRun r = run_tool_with(opts, &lost, {});
    EXPECT_EQ(r.exit_code, 3) << r.err;
    EXPECT_TRUE(has(r.out, "answer          b")) << r.out;
    EXPECT_TRUE(has(r.out, "answer          c")) << r.out;
    EXPECT_EQ(count_of(r.err, "was lost"), 1u) << r.err;
    EXPECT_EQ(count_of(r.err, "opened a new connection to 127.0.0.1:" + std::to_string(sim_.port())), 1u) << r.err;

    const std::string failing = "send Echo a\nmodule info NoSuch\nsend Echo b\n";
    std::vector<std::string> stop = opts;
    stop.push_back("--stop-on-error");
    const ToolRun stopped = run_tool_with(stop, &failing, {});
    EXPECT_EQ(stopped.exit_code, 1) << stopped.err;
    EXPECT_TRUE(has(stopped.out, "answer          a")) << stopped.out;
    EXPECT_FALSE(has(stopped.out, "answer          b")) << "the batch goes on after a failing line";
    EXPECT_TRUE(has(stopped.err, "line 2 ended with exit code 1; the batch stops here")) << stopped.err;

    char dir[] = "/tmp/orqext-batchXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string file = std::string(dir) + "/batch.txt";
    std::ofstream(file) << "send Echo from-file\nmodule frob\n";
    std::vector<std::string> with_file = opts;
    with_file.insert(with_file.end(), {"-f", file});
    const std::string ignored = "send Echo from-stdin\n";
    const ToolRun f = run_tool_with(with_file, &ignored, {});
    EXPECT_EQ(f.exit_code, 2) << f.err;
    EXPECT_TRUE(has(f.out, "answer          from-file")) << f.out;
    EXPECT_FALSE(has(f.out, "from-stdin")) << f.out;
    EXPECT_TRUE(has(f.err, "see 'help'")) << f.err;
    EXPECT_FALSE(has(f.err, "orqext --help")) << f.err;
    const ToolRun missing = run_tool_with({"-f", std::string(dir) + "/none"}, nullptr, {});
    EXPECT_EQ(missing.exit_code, 2) << missing.err;
    EXPECT_TRUE(has(missing.err, "-f: cannot read")) << missing.err;
    std::remove(file.c_str());
    rmdir(dir);
}

// Settings the command line leaves out come from the environment and the
// password file; the command line wins.
TEST_F(OrqextShellServer, ConnectionSettingsFromTheEnvironmentAndAPasswordFile) {
    const std::string port = std::to_string(sim_.port());
    const std::string home = "HOME=/nonexistent-orqext-home";
    const ToolRun env = run_tool_with({"module", "list"}, nullptr, {"ORQEXT_PORT=" + port, "ORQEXT_USER=admin",
                                                                   "ORQEXT_PASSWORD=wrong", home});
    EXPECT_EQ(env.exit_code, 3) << env.err;
    EXPECT_TRUE(has(env.err, "-20004 XSR_E_LOGIN")) << env.err;
    const ToolRun option = run_tool_with({"module", "list", "--password", "admin"}, nullptr,
                                         {"ORQEXT_PORT=" + port, "ORQEXT_PASSWORD=wrong", home});
    EXPECT_EQ(option.exit_code, 0) << option.err;
    const ToolRun bad_port = run_tool_with({"module", "list"}, nullptr, {"ORQEXT_PORT=x", home});
    EXPECT_EQ(bad_port.exit_code, 2);
    EXPECT_TRUE(has(bad_port.err, "ORQEXT_PORT: 'x' is not a number")) << bad_port.err;

    char d[] = "/tmp/orqext-passXXXXXX";
    ASSERT_NE(mkdtemp(d), nullptr);
    const std::string file = std::string(d) + "/pass";
    std::ofstream(file) << "127.0.0.1:" << port << ":admin:wrong-from-file\n";
    ASSERT_EQ(chmod(file.c_str(), 0600), 0);
    const ToolRun from_file = run_tool_with({"module", "list"}, nullptr,
                                            {"ORQEXT_PORT=" + port, "ORQEXT_PASSWORD", "ORQEXT_PASSFILE=" + file, home});
    EXPECT_EQ(from_file.exit_code, 3) << "the file's (wrong) password was sent: " << from_file.err;
    EXPECT_TRUE(has(from_file.err, "-20004")) << from_file.err;
    ASSERT_EQ(chmod(file.c_str(), 0644), 0);
    const ToolRun open_file = run_tool_with({"module", "list", "--port", port, "--password-file", file}, nullptr,
                                            {"ORQEXT_PASSWORD", home});
    EXPECT_EQ(open_file.exit_code, 2) << open_file.err;
    EXPECT_TRUE(has(open_file.err, "mode 0644 lets group or others at it")) << open_file.err;
    std::remove(file.c_str());
    rmdir(d);
}

}  // namespace
}  // namespace e2ecli

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
#include <string>
#include <vector>

#include "tests/e2e/fixture.h"
#include "tests/e2e_cli/tool_run.h"
#include "tools/orqext/cli.h"
#include "tools/orqext/credentials.h"
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

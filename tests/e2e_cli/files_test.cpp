// Every file orqext and the library read or write outside the build, put in
// the place of each kind of thing that must not be read, written or waited
// for: a FIFO, a device, a symbolic link, a hard link, another user's file
// and a directory. Each run has a time limit (a hang is a failure, never a
// wait), and a file reached through a link, or another user's, keeps its
// contents, mode and owner.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e_cli/tool_run.h"
#include "tests/support/temp_path.h"

namespace e2ecli {
namespace {

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string read_all(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

constexpr int kLimitMs = 20000;

// orqext's interactive shell on a pseudo-terminal: each line of `lines` is
// typed at the next prompt. What the terminal showed; exit_code -1 when
// the shell did not end within the limit (it is killed then).
ToolRun run_shell_on_terminal(const std::vector<std::string>& lines, const std::vector<std::string>& env) {
    ToolRun run;
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return run;
    const std::string slave = ptsname(master);
    const std::string port = std::to_string(closed_port());
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        const int s = open(slave.c_str(), O_RDWR);
        if (s < 0) _exit(127);
        dup2(s, 0);
        dup2(s, 1);
        dup2(s, 2);
        for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
        // A connection option and no command: the shell.
        execl(ORQEXT_PATH, ORQEXT_PATH, "--port", port.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLimitMs);
    std::size_t typed = 0, prompts_seen = 0;
    bool ended = false;  // the terminal is gone: the shell has ended
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buf[4096];
        const ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) {
            ended = true;
            break;
        }
        run.out.append(buf, static_cast<std::size_t>(n));
        std::size_t prompts = 0;
        for (std::size_t at = 0; (at = run.out.find("orqext", at)) != std::string::npos; ++at)
            if (run.out.compare(at, 8, "orqext> ") == 0 || run.out.compare(at, 8, "orqext [") == 0) ++prompts;
        if (prompts > prompts_seen && typed < lines.size()) {
            prompts_seen = prompts;
            const std::string l = lines[typed++] + "\r";
            if (write(master, l.data(), l.size()) < 0) break;
        }
    }
    int status = 0;
    if (!ended) kill(pid, SIGKILL);
    if (waitpid(pid, &status, 0) == pid && ended)
        run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    close(master);
    return run;
}

enum class Kind { Fifo, Device, Symlink, HardLink, OtherUsers, Directory };
const char* kind_name(Kind k) {
    switch (k) {
        case Kind::Fifo: return "a FIFO";
        case Kind::Device: return "a character device (/dev/zero's numbers)";
        case Kind::Symlink: return "a symbolic link to a file of the user's";
        case Kind::HardLink: return "a hard link to a file of the user's";
        case Kind::OtherUsers: return "another user's file of mode 0666";
        case Kind::Directory: return "a directory";
    }
    return "?";
}
// What the refusal of each kind says.
const char* refusal_of(Kind k) {
    switch (k) {
        case Kind::Fifo: return "it is a FIFO, not a regular file";
        case Kind::Device: return "it is a character device, not a regular file";
        case Kind::Symlink: return "it is a symbolic link";
        case Kind::HardLink: return "it has more than one name (a hard link)";
        case Kind::OtherUsers: return "it belongs to another user";
        case Kind::Directory: return "it is a directory, not a regular file";
    }
    return "?";
}

const std::string kPrecious = "precious content\n";
constexpr uid_t kOtherUser = 65534;

// Puts a thing of kind `k` at `path`; `mine` is the user's own file that
// links lead to. False when the kind cannot be made here.
bool make(Kind k, const std::string& path, const std::string& mine) {
    switch (k) {
        case Kind::Fifo: return mkfifo(path.c_str(), 0600) == 0;
        case Kind::Device: return mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 5)) == 0;
        case Kind::Symlink: return symlink(mine.c_str(), path.c_str()) == 0;
        case Kind::HardLink: return link(mine.c_str(), path.c_str()) == 0;
        case Kind::OtherUsers:
            std::ofstream(path) << kPrecious;
            return chmod(path.c_str(), 0666) == 0 && chown(path.c_str(), kOtherUser, kOtherUser) == 0;
        case Kind::Directory: return mkdir(path.c_str(), 0700) == 0;
    }
    return false;
}

// The files; each runs what reads or writes it, with the file at `path`
// in the folder `dir`.
enum class Target { Settings, History, PasswordFile, TraceRead, RecorderOutput };
const char* target_name(Target t) {
    switch (t) {
        case Target::Settings: return "the settings file read at load";
        case Target::History: return "the shell's history";
        case Target::PasswordFile: return "the password file";
        case Target::TraceRead: return "a trace read by trace show";
        case Target::RecorderOutput: return "the recorder's trace";
    }
    return "?";
}

ToolRun run_for(Target t, const std::string& dir, const std::string& path) {
    const std::string port = std::to_string(closed_port());
    switch (t) {
        case Target::Settings:
            return run_program_with("/bin/sh", {"-c", "cd '" + dir + "' && exec '" ORQEXT_PATH "' codes"}, nullptr, {},
                                    kLimitMs);
        case Target::History:
            return run_shell_on_terminal({"codes", "exit"}, {"ORQEXT_HISTFILE=" + path, "HOME=" + dir, "TERM=dumb"});
        case Target::PasswordFile:
            return run_tool_with({"--port", port, "--password-file", path, "module", "list"}, nullptr, {"ORQEXT_PASSWORD"},
                                 kLimitMs);
        case Target::TraceRead: return run_tool_with({"trace", "show", path}, nullptr, {}, kLimitMs);
        case Target::RecorderOutput:
            return run_tool_with({"--port", port, "status"}, nullptr,
                                 {std::string("LD_LIBRARY_PATH=") + ORQ_RECORDER_DIR,
                                  std::string("ORQ_XSR_REAL=") + ORQ_XSR_NET_PATH, "ORQ_XSR_TRACE=" + path},
                                 kLimitMs);
    }
    return ToolRun();
}

// The line that names the refusal, before the reason.
std::string refusal_line(Target t, const std::string& path) {
    switch (t) {
        case Target::Settings: return "the settings file orqclient.ini is not read: ";
        case Target::History: return "history not kept in " + path + ": ";
        case Target::PasswordFile: return "password file " + path + ": ";
        case Target::TraceRead: return "cannot open " + path + ": ";
        case Target::RecorderOutput: return "the trace file " + path + " is not written: ";
    }
    return "?";
}

// Whether a file of this kind is used: reading follows links and reads any
// regular file it may (the settings, a trace); a password file is read only
// when it is the user's own and private; nothing is written to anything but
// a regular file of the user's own with one name.
bool used(Target t, Kind k) {
    switch (t) {
        case Target::Settings:
        case Target::TraceRead: return k == Kind::Symlink || k == Kind::HardLink || k == Kind::OtherUsers;
        case Target::PasswordFile: return k == Kind::HardLink;
        case Target::History:
        case Target::RecorderOutput: return false;
    }
    return false;
}

TEST(FilesOutsideTheBuild, NoFileThatIsNotARegularFileOfTheUsersOwnIsWaitedForReadOrWrittenWrongly) {
    if (geteuid() != 0) GTEST_SKIP() << "another user's file and a device node need root";
    const Target targets[] = {Target::Settings, Target::History, Target::PasswordFile, Target::TraceRead,
                              Target::RecorderOutput};
    const Kind kinds[] = {Kind::Fifo, Kind::Device, Kind::Symlink, Kind::HardLink, Kind::OtherUsers, Kind::Directory};
    for (Target t : targets)
        for (Kind k : kinds) {
            SCOPED_TRACE(std::string(target_name(t)) + " is " + kind_name(k));
            char tmpl[] = "/tmp/orqext-filesXXXXXX";
            ASSERT_NE(mkdtemp(tmpl), nullptr);
            const std::string dir = tmpl;
            const std::string mine = dir + "/mine";
            const std::string path = dir + (t == Target::Settings ? "/orqclient.ini" : "/file");
            std::ofstream(mine) << kPrecious;
            ASSERT_EQ(chmod(mine.c_str(), 0600), 0);
            ASSERT_TRUE(make(k, path, mine)) << std::strerror(errno);

            const ToolRun run = run_for(t, dir, path);
            const std::string said = run.out + run.err;
            EXPECT_NE(run.exit_code, -1) << "did not end within " << kLimitMs << " ms: " << said;
            const std::string refusal = refusal_line(t, path) + refusal_of(k);
            if (used(t, k))
                EXPECT_FALSE(has(said, refusal_line(t, path))) << said;
            else
                EXPECT_TRUE(has(said, refusal)) << "expected: " << refusal << "\n" << said;

            EXPECT_EQ(read_all(mine), kPrecious) << "the user's file behind a link is untouched";
            struct stat st {};
            ASSERT_EQ(lstat(k == Kind::OtherUsers ? path.c_str() : mine.c_str(), &st), 0);
            if (k == Kind::OtherUsers) {
                EXPECT_EQ(read_all(path), kPrecious) << "another user's file is untouched";
                EXPECT_EQ(st.st_mode & 07777, 0666u);
                EXPECT_EQ(st.st_uid, kOtherUser);
            } else {
                EXPECT_EQ(st.st_mode & 07777, 0600u);
            }
            const std::string clean = "rm -rf '" + dir + "'";
            ASSERT_EQ(std::system(clean.c_str()), 0);
        }
}

}  // namespace
}  // namespace e2ecli

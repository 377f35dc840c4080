#include "tests/e2e_cli/tool_run.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>

namespace e2ecli {

namespace {

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

ToolRun run_tool(const std::vector<std::string>& args, int max_ms) { return run_program(ORQEXT_PATH, args, max_ms); }

ToolRun run_program(const std::string& path, const std::vector<std::string>& args, int max_ms) {
    ToolRun r;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return r;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return r;
    }
    std::vector<const char*> argv{path.c_str()};
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        execv(path.c_str(), const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        close(out[0]);
        close(err[0]);
        return r;
    }
    const int64_t end = now_ms() + max_ms;
    bool open_out = true, open_err = true, killed = false;
    while (open_out || open_err) {
        const int64_t left = end - now_ms();
        if (left <= 0) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        pollfd p[2] = {{open_out ? out[0] : -1, POLLIN, 0}, {open_err ? err[0] : -1, POLLIN, 0}};
        const int n = poll(p, 2, static_cast<int>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        char buf[4096];
        for (int i = 0; i < 2; ++i) {
            if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t got = read(p[i].fd, buf, sizeof buf);
            if (got > 0) {
                (i == 0 ? r.out : r.err).append(buf, static_cast<std::size_t>(got));
            } else {
                (i == 0 ? open_out : open_err) = false;
            }
        }
    }
    close(out[0]);
    close(err[0]);
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && !killed)
        r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    // A sanitizer report may leave an exit code a test expects anyway.
    if (r.err.find("Sanitizer") != std::string::npos) ADD_FAILURE() << path << " reported:\n" << r.err;
    return r;
}

int closed_port() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

}  // namespace e2ecli

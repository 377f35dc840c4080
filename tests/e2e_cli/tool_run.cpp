#include "tests/e2e_cli/tool_run.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
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
    return run_program_with(path, args, nullptr, {}, max_ms);
}

ToolRun run_tool_with(const std::vector<std::string>& args, const std::string* input,
                      const std::vector<std::string>& env, int max_ms) {
    return run_program_with(ORQEXT_PATH, args, input, env, max_ms);
}

ToolRun run_program_with(const std::string& path, const std::vector<std::string>& args, const std::string* input,
                         const std::vector<std::string>& env, int max_ms) {
    ToolRun r;
    // Standard input: the given text from a file, else this process's own.
    int in_fd = -1;
    if (input) {
        char name[] = "/tmp/orqext-stdinXXXXXX";
        in_fd = mkstemp(name);
        if (in_fd < 0) return r;
        unlink(name);
        if (write(in_fd, input->data(), input->size()) != static_cast<ssize_t>(input->size()) ||
            lseek(in_fd, 0, SEEK_SET) != 0) {
            close(in_fd);
            return r;
        }
    }
    // The environment: this process's, with "NAME=VALUE" set and "NAME" removed.
    std::vector<std::string> vars;
    for (char** e = environ; *e; ++e) vars.push_back(*e);
    for (const std::string& change : env) {
        const std::string name = change.substr(0, change.find('='));
        vars.erase(std::remove_if(vars.begin(), vars.end(),
                                  [&](const std::string& v) { return v.compare(0, name.size() + 1, name + "=") == 0; }),
                   vars.end());
        if (change.find('=') != std::string::npos) vars.push_back(change);
    }
    std::vector<char*> envp;
    for (std::string& v : vars) envp.push_back(&v[0]);
    envp.push_back(nullptr);
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        if (in_fd >= 0) close(in_fd);
        return r;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        if (in_fd >= 0) close(in_fd);
        return r;
    }
    std::vector<const char*> argv{path.c_str()};
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (in_fd >= 0) dup2(in_fd, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        execve(path.c_str(), const_cast<char* const*>(argv.data()), envp.data());
        _exit(127);
    }
    if (in_fd >= 0) close(in_fd);
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

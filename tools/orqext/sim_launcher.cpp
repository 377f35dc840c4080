#include "tools/orqext/sim_launcher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace orqext {

namespace {

int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool executable(const std::string& p) {
    struct stat st;
    return !p.empty() && ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
}

std::string own_dir() {
    std::vector<char> buf(4096);
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return std::string();
    std::string path(buf.data(), static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Waits up to timeout_ms for the child to exit; true when it did.
bool reap(pid_t pid, int timeout_ms) {
    const int64_t end = now_ms() + timeout_ms;
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD)) return true;
        if (now_ms() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace

std::string find_sim(const std::string& given) {
    if (!given.empty()) return executable(given) ? given : std::string();
    const std::string dir = own_dir();
    // Beside orqext (installed: both in bin/), or where the build puts it.
    // No path of the build machine is compiled in.
    std::vector<std::string> candidates;
    if (!dir.empty()) {
        candidates.push_back(dir + "/xsr-sim");
        candidates.push_back(dir + "/sim/xsr-sim");
        candidates.push_back(dir + "/../sim/xsr-sim");
    }
    for (const std::string& c : candidates)
        if (executable(c)) return c;
    return std::string();
}

SimServer::~SimServer() { stop(); }

bool SimServer::start(const std::string& program, const std::string& name, int timeout_ms, std::string* error) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        *error = std::string("fork: ") + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    if (pid == 0) {
        // The server goes when orqext goes, however orqext ends.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        const char* argv[] = {program.c_str(), "--port", "0", "--name", name.c_str(), nullptr};
        ::execv(program.c_str(), const_cast<char* const*>(argv));
        ::_exit(127);
    }
    ::close(fds[1]);
    pid_ = pid;
    name_ = name;

    // Read until the listening line, the end of the output, or the time limit.
    std::string seen;
    const int64_t end = now_ms() + timeout_ms;
    const std::string key = "listening port=";
    bool ok = false;
    while (!ok) {
        const int64_t left = end - now_ms();
        if (left <= 0) break;
        pollfd p{fds[0], POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        char buf[512];
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        seen.append(buf, static_cast<std::size_t>(n));
        const std::size_t at = seen.find(key);
        const std::size_t nl = at == std::string::npos ? std::string::npos : seen.find('\n', at);
        if (nl != std::string::npos) {
            port_ = std::atoi(seen.c_str() + at + key.size());
            ok = port_ > 0;
            if (!ok) break;
        }
    }
    // Later output of the server is not read: it ignores SIGPIPE, so its
    // writes then fail without harm.
    ::close(fds[0]);
    if (!ok) {
        while (!seen.empty() && (seen.back() == '\n' || seen.back() == '\r')) seen.pop_back();
        *error = seen.empty() ? "no listening line from " + program + " within " + std::to_string(timeout_ms) + " ms"
                              : program + ": " + seen;
        stop(1000);
        return false;
    }
    return true;
}

bool SimServer::stop(int timeout_ms) {
    if (pid_ <= 0) return true;
    ::kill(pid_, SIGTERM);
    bool clean = reap(pid_, timeout_ms);
    if (!clean) {
        ::kill(pid_, SIGKILL);
        reap(pid_, 5000);
    }
    pid_ = -1;
    port_ = 0;
    return clean;
}

}  // namespace orqext

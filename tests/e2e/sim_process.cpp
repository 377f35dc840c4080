#include "tests/e2e/sim_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <thread>

namespace e2e {

namespace {

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// waitpid with a bound; the status, or -1 when the child is still running.
int wait_child(pid_t pid, int max_ms) {
    const int64_t end = now_ms() + max_ms;
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (r < 0) return -2;
        if (now_ms() > end) return -1;
        usleep(5000);
    }
}

}  // namespace

SimProcess::~SimProcess() {
    if (pid_ > 0) kill_now();
    if (!config_path_.empty()) std::remove(config_path_.c_str());
}

bool SimProcess::start(const std::string& config, const std::string& name) {
    const char* other = std::getenv("ORQ_E2E_XSR_SIM");
    std::vector<std::string> args = {other != nullptr && *other != '\0' ? other : XSR_SIM_PATH, "--port", "0"};
    if (!config.empty()) {
        char tmpl[] = "/tmp/xsrsimcfgXXXXXX";
        const int fd = mkstemp(tmpl);
        if (fd < 0) {
            error_ = "mkstemp failed";
            return false;
        }
        close(fd);
        config_path_ = tmpl;
        std::ofstream(config_path_) << config;
        args.push_back("--config");
        args.push_back(config_path_);
    }
    if (!name.empty()) {
        args.push_back("--name");
        args.push_back(name);
    }
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        error_ = "pipe failed";
        return false;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        error_ = "fork failed";
        return false;
    }
    if (pid == 0) {
        dup2(out[1], 1);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    pid_ = pid;
    // The listening line, within ten seconds.
    std::string line;
    const int64_t end = now_ms() + 10000;
    while (line.find('\n') == std::string::npos) {
        pollfd p{out[0], POLLIN, 0};
        const int64_t left = end - now_ms();
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) break;
        char buf[256];
        const ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        line.append(buf, static_cast<std::size_t>(n));
    }
    close(out[0]);
    const std::size_t at = line.find("xsr-sim listening port=");
    if (at == std::string::npos) {
        error_ = "no listening line: '" + line + "'";
        kill_now();
        return false;
    }
    port_ = std::atoi(line.c_str() + at + std::strlen("xsr-sim listening port="));
    const std::size_t a = line.find("addresses=");
    if (a != std::string::npos) addresses_ = line.substr(a + 10, line.find('\n', a) - a - 10);
    return port_ > 0;
}

bool SimProcess::has_ipv6() const { return addresses_.find("::1") != std::string::npos; }

int SimProcess::stop(int sig) {
    if (pid_ <= 0) return -2;
    ::kill(pid_, sig);
    int st = wait_child(pid_, 10000);
    if (st == -1) {
        ::kill(pid_, SIGKILL);
        wait_child(pid_, 10000);
    }
    pid_ = -1;
    return st;
}

void SimProcess::kill_now() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    wait_child(pid_, 10000);
    pid_ = -1;
}

bool eventually(const std::function<bool()>& pred, int max_ms) {
    const int64_t end = now_ms() + max_ms;
    for (;;) {
        if (pred()) return true;
        if (now_ms() > end) return false;
        usleep(5000);
    }
}

int raw_connect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool raw_send(int fd, const void* p, std::size_t n) {
    const char* c = static_cast<const char*>(p);
    while (n > 0) {
        const ssize_t r = send(fd, c, n, MSG_NOSIGNAL);
        if (r <= 0) return false;
        c += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

std::vector<unsigned char> raw_read_until_close(int fd, int max_ms) {
    std::vector<unsigned char> out;
    const int64_t end = now_ms() + max_ms;
    for (;;) {
        const int64_t left = end - now_ms();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) break;
        unsigned char buf[4096];
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

std::vector<unsigned char> raw_read_frame(int fd, int max_ms) {
    const int64_t end = now_ms() + max_ms;
    std::vector<unsigned char> f;
    std::size_t want = 4;
    while (f.size() < want) {
        const int64_t left = end - now_ms();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return {};
        unsigned char buf[4096];
        const std::size_t ask = std::min(sizeof buf, want - f.size());
        const ssize_t n = recv(fd, buf, ask, 0);
        if (n <= 0) return {};
        f.insert(f.end(), buf, buf + n);
        if (want == 4 && f.size() == 4) {
            const uint32_t len = f[0] | (f[1] << 8) | (f[2] << 16) | (uint32_t(f[3]) << 24);
            if (len > (1u << 26)) return {};
            want = 4 + len;
        }
    }
    return f;
}

namespace {
int count_entries(const char* dir) {
    DIR* d = opendir(dir);
    if (!d) return -1;
    int n = 0;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n;
}
}  // namespace

int open_fds() { return count_entries("/proc/self/fd"); }
// ThreadSanitizer's runtime starts a helper thread of its own along with the
// process's first other thread. One short-lived thread is started and joined
// before the first count, so such a helper is already in every baseline.
int thread_count() {
    static const bool settled = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)settled;
    return count_entries("/proc/self/task");
}

bool threads_at_most(int n) {
    return eventually([n] { return thread_count() <= n; }, 2000);
}

FakePeer::FakePeer(std::function<void(int fd)> serve) : serve_(std::move(serve)) {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = 0;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(listen_fd_, 16) == 0) {
        socklen_t len = sizeof a;
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    if (pipe2(wake_, O_CLOEXEC) != 0) wake_[0] = wake_[1] = -1;
    thread_ = std::thread([this] { loop(); });
}

FakePeer::~FakePeer() {
    const char c = 1;
    (void)!write(wake_[1], &c, 1);
    thread_.join();
    for (auto& t : conns_) t.join();
    close(listen_fd_);
    close(wake_[0]);
    close(wake_[1]);
}

void FakePeer::loop() {
    for (;;) {
        pollfd p[2] = {{listen_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(p, 2, 30000) <= 0 || p[1].revents) return;
        const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        conns_.emplace_back([this, fd] {
            serve_(fd);
            close(fd);
        });
    }
}

}  // namespace e2e

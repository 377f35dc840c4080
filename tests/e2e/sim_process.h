// Runs xsr-sim as a child process on an ephemeral loopback port, and raw
// loopback sockets for tests that play a misbehaving peer. Every wait here
// is bounded.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts xsr-sim --port 0 with the config text (none when empty) and
    // waits for its listening line. False (with a message) on failure. The
    // program is this build's xsr-sim, or the one ORQ_E2E_XSR_SIM names
    // (another build's: the 32-bit build's suites also run against the
    // 64-bit server).
    bool start(const std::string& config = std::string(), const std::string& name = std::string());
    // Sends the signal (SIGTERM by default) and waits; the exit status (0
    // for a clean stop), -1 when it did not end within the bound (it is then
    // killed).
    int stop(int sig = 15);
    // SIGKILL and wait.
    void kill_now();

    bool running() const { return pid_ > 0; }
    int port() const { return port_; }
    bool has_ipv6() const;
    const std::string& error() const { return error_; }

private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string addresses_;
    std::string config_path_;
    std::string error_;
};

// Waits up to max_ms for pred() to hold, checking every few milliseconds.
bool eventually(const std::function<bool()>& pred, int max_ms = 5000);

// A raw TCP client socket to 127.0.0.1:port (blocking, -1 on failure).
int raw_connect(int port);
bool raw_send(int fd, const void* p, std::size_t n);
// Reads until the peer closes or max_ms pass; the bytes read.
std::vector<unsigned char> raw_read_until_close(int fd, int max_ms);

// A listener on 127.0.0.1 whose accepted connections are handed, one thread
// each, to `serve` (the fd is closed after serve returns). Stands for a
// server that misbehaves.
class FakePeer {
public:
    explicit FakePeer(std::function<void(int fd)> serve);
    ~FakePeer();
    int port() const { return port_; }

private:
    void loop();
    std::function<void(int)> serve_;
    int listen_fd_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::thread thread_;
    std::vector<std::thread> conns_;
};

// Open file descriptors and threads of this process (leak checks).
int open_fds();
int thread_count();
// Whether the process has at most n threads, within a bounded wait: a thread
// leaves /proc/self/task a moment after a join of it has returned (a moment
// long enough to be seen under emulation).
bool threads_at_most(int n);

// Reads one frame (prefix, then the rest) from a raw socket; empty on error.
std::vector<unsigned char> raw_read_frame(int fd, int max_ms);

}  // namespace e2e

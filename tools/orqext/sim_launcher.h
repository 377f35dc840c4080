// Starts and stops xsr-sim processes for the demo: each on a free loopback
// port (--port 0), its port read from the line it prints once listening.
// Every wait is bounded; a started server is stopped when its launcher goes
// away, and also when orqext itself dies (the child asks the kernel for
// SIGTERM on its parent's death).
#pragma once

#include <sys/types.h>

#include <string>

namespace orqext {

class SimServer {
public:
    SimServer() = default;
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // False with a message when the server does not start or does not report
    // its port within timeout_ms.
    bool start(const std::string& program, const std::string& name, int timeout_ms, std::string* error);
    // SIGTERM, then SIGKILL after timeout_ms; true when it exited on its own.
    bool stop(int timeout_ms = 5000);

    bool running() const { return pid_ > 0; }
    int port() const { return port_; }
    const std::string& name() const { return name_; }

private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string name_;
};

// The xsr-sim to run: `given` when not empty; otherwise the first that exists
// of xsr-sim next to this program, sim/xsr-sim below it, ../sim/xsr-sim, and
// the path the build recorded. Empty when none is found.
std::string find_sim(const std::string& given);

}  // namespace orqext

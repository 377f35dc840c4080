// The example programs in examples/ against xsr-sim processes: the
// asynchronous message answered through its callback, and cluster routing
// that passes over a node that is down and fails over when the node in use
// is stopped between two rounds.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/e2e/sim_process.h"
#include "tests/e2e_cli/tool_run.h"

namespace e2ecli {
namespace {

// A program run as a child with a pipe to its stdin and one from its stdout
// (stderr joins stdout), so a test can answer its prompts. Every wait is
// bounded; the child is killed when the object goes.
class Interactive {
public:
    explicit Interactive(const std::vector<std::string>& argv) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
        std::vector<const char*> a;
        for (const std::string& s : argv) a.push_back(s.c_str());
        a.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            dup2(out[1], 2);
            execv(a[0], const_cast<char* const*>(a.data()));
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        to_ = in[1];
        from_ = out[0];
    }
    ~Interactive() {
        if (to_ >= 0) close(to_);
        if (from_ >= 0) close(from_);
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // Reads until the output holds `text` (true) or the child closes its
    // output or max_ms pass (false).
    bool read_until(const std::string& text, int max_ms = 20000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(max_ms);
        while (!has(out_, text)) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0 || from_ < 0) return false;
            pollfd p{from_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            char buf[4096];
            const ssize_t got = read(from_, buf, sizeof buf);
            if (got <= 0) {
                close(from_);
                from_ = -1;
                return has(out_, text);
            }
            out_.append(buf, static_cast<std::size_t>(got));
        }
        return true;
    }
    void line() { (void)!write(to_, "\n", 1); }
    // The exit status once the child ends within max_ms; -1 otherwise.
    int wait_exit(int max_ms = 20000) {
        read_until("\x01-never-printed", max_ms);  // drains the output until it closes
        for (int waited = 0; waited <= max_ms; waited += 10) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            poll(nullptr, 0, 10);
        }
        return -1;
    }
    const std::string& out() const { return out_; }
    bool sanitizer_report() const { return has(out_, "Sanitizer"); }

private:
    pid_t pid_ = -1;
    int to_ = -1, from_ = -1;
    std::string out_;
};

TEST(Examples, AsynchronousMessageIsAnsweredThroughTheCallback) {
    e2e::SimProcess sim;
    ASSERT_TRUE(sim.start()) << sim.error();
    const std::string port = std::to_string(sim.port());
    struct Case {
        std::vector<std::string> args;
        const char* callback;
    } cases[] = {
        {{}, "callback: request 42, result 0, answer 5 bytes: hello"},
        // Slower than the pending threshold: the worker polls for the answer.
        {{"Script", "delay=300 size=26"}, "callback: request 42, result 0, answer 26 bytes: abcdefghijklmnopqrstuvwxyz"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"127.0.0.1", port};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ToolRun r = run_program(ASYNC_EXAMPLE_PATH, args, 30000);
        EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
        EXPECT_TRUE(has(r.out, "queued request 42 to")) << r.out;
        EXPECT_TRUE(has(r.out, c.callback)) << r.out;
        EXPECT_TRUE(has(r.out, "disconnect: result 0")) << r.out;
    }
    // A module the server does not have: the callback brings its code.
    const ToolRun missing = run_program(ASYNC_EXAMPLE_PATH, {"127.0.0.1", port, "Nobody"}, 30000);
    EXPECT_EQ(missing.exit_code, 1) << missing.out;
    EXPECT_TRUE(has(missing.out, "callback: request 42, result -20101")) << missing.out;
    EXPECT_EQ(sim.stop(), 0);
}

TEST(Examples, ClusterRoutingPassesOverADownNodeAndFailsOver) {
    e2e::SimProcess main_server, node1, node2;
    ASSERT_TRUE(main_server.start(std::string(), "main")) << main_server.error();
    ASSERT_TRUE(node1.start(std::string(), "node-1")) << node1.error();
    ASSERT_TRUE(node2.start(std::string(), "node-2")) << node2.error();
    const std::string down = "127.0.0.1:" + std::to_string(closed_port());
    Interactive run({CLUSTER_EXAMPLE_PATH, "127.0.0.1", std::to_string(main_server.port()), "Ident", down,
                     "127.0.0.1:" + std::to_string(node1.port()), "127.0.0.1:" + std::to_string(node2.port())});
    // The first node is down: the message goes to the next one.
    ASSERT_TRUE(run.read_until("press Enter for round 2")) << run.out();
    EXPECT_TRUE(has(run.out(), "the cluster lists 3")) << run.out();
    EXPECT_TRUE(has(run.out(), "round 1: answered by \"node-1\"")) << run.out();
    // The node in use stops: the next round fails over to node-2.
    EXPECT_EQ(node1.stop(), 0);
    run.line();
    ASSERT_TRUE(run.read_until("press Enter for round 3")) << run.out();
    EXPECT_TRUE(has(run.out(), "round 2: answered by \"node-2\"")) << run.out();
    run.line();
    EXPECT_EQ(run.wait_exit(), 0) << run.out();
    EXPECT_TRUE(has(run.out(), "round 3: answered by \"node-2\"")) << run.out();
    EXPECT_TRUE(has(run.out(), "delete cluster: result 0")) << run.out();
    EXPECT_FALSE(run.sanitizer_report()) << run.out();
    EXPECT_EQ(node2.stop(), 0);
    EXPECT_EQ(main_server.stop(), 0);
}

}  // namespace
}  // namespace e2ecli

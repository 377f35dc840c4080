#include "tools/orqext/interrupt.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <thread>
#include <utility>

namespace orqext {

bool DoublePress::press() {
    const int64_t now = clock_();
    const bool second = pressed_ && now - last_ >= 0 && now - last_ < kWindowMs;
    pressed_ = true;
    last_ = now;
    return second;
}

void GateBuf::set_open(bool open) {
    std::lock_guard<std::mutex> g(mu_);
    if (!open && to_) to_->pubsync();
    open_ = open;
}

int GateBuf::overflow(int c) {
    std::lock_guard<std::mutex> g(mu_);
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    return open_ ? to_->sputc(static_cast<char>(c)) : c;
}

std::streamsize GateBuf::xsputn(const char* s, std::streamsize n) {
    std::lock_guard<std::mutex> g(mu_);
    return open_ ? to_->sputn(s, n) : n;
}

int GateBuf::sync() {
    std::lock_guard<std::mutex> g(mu_);
    return open_ ? to_->pubsync() : 0;
}

namespace interrupts {
namespace {

int g_signal_pipe[2] = {-1, -1};  // handler -> watcher
int g_prompt_pipe[2] = {-1, -1};  // watcher -> the prompt's reader
std::atomic<bool> g_reading{false};  // a prompt waits for the terminal

struct Hub {
    std::mutex mu;
    bool in_command = false;
    std::map<int, Action> actions;
    int next_token = 1;
    std::string said;  // what the action said, for end_command
    GateBuf* gates[2] = {nullptr, nullptr};
    std::atomic<bool> quit{false};
    DoublePress presses{[] {
        return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
    }};
};

Hub& hub() {
    static Hub* h = new Hub();  // the watcher may outlive main's statics
    return *h;
}

void on_sigint(int) {
    const int saved = errno;
    const char b = 1;
    if (::write(g_signal_pipe[1], &b, 1) < 0) {
    }
    errno = saved;
}

void notify_prompt() {
    const char b = 1;
    if (::write(g_prompt_pipe[1], &b, 1) < 0) {
    }
}

void watch() {
    for (;;) {
        char b = 0;
        const ssize_t n = ::read(g_signal_pipe[0], &b, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        Hub& h = hub();
        std::unique_lock<std::mutex> g(h.mu);
        const bool second = h.presses.press();
        if (second) h.quit = true;
        if (!h.in_command || g_reading) {
            g.unlock();
            notify_prompt();
            continue;
        }
        if (second) {
            // The command did not return after the first Ctrl-C: end the
            // process after a bounded wait for it (the terminal is in its
            // normal mode while a command runs).
            g.unlock();
            for (int i = 0; i < 20; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                std::lock_guard<std::mutex> again(h.mu);
                if (!h.in_command) break;
            }
            std::lock_guard<std::mutex> again(h.mu);
            if (h.in_command) {
                static const char bye[] = "\norqext: a second Ctrl-C: the shell ends\n";
                if (::write(STDERR_FILENO, bye, sizeof bye - 1) < 0) {
                }
                ::_exit(130);
            }
            continue;
        }
        if (h.actions.empty() || !h.said.empty()) {
            static const char cannot[] =
                "\norqext: this command cannot be interrupted; Ctrl-C again within a second ends the shell\n";
            static const char ending[] = "\norqext: the command is ending; Ctrl-C again within a second ends the shell\n";
            const bool stopped = !h.said.empty();
            if (::write(STDERR_FILENO, stopped ? ending : cannot, (stopped ? sizeof ending : sizeof cannot) - 1) < 0) {
            }
            continue;
        }
        for (GateBuf* gate : h.gates)
            if (gate) gate->set_open(false);
        // The latest action first; one that cannot help says nothing and
        // the one before it runs.
        for (auto a = h.actions.rbegin(); a != h.actions.rend() && h.said.empty(); ++a) h.said = a->second();
    }
}

}  // namespace

void start(GateBuf* out_gate, GateBuf* err_gate) {
    if (active()) return;
    if (::pipe2(g_signal_pipe, O_CLOEXEC) != 0 || ::pipe2(g_prompt_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    ::fcntl(g_signal_pipe[1], F_SETFL, O_NONBLOCK);
    Hub& h = hub();
    h.gates[0] = out_gate;
    h.gates[1] = err_gate;
    std::thread(watch).detach();
    struct sigaction sa {};
    sa.sa_handler = on_sigint;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;  // the library's reads go on; the watcher acts
    ::sigaction(SIGINT, &sa, nullptr);
}

bool active() { return g_prompt_pipe[0] >= 0; }

int prompt_fd() { return g_prompt_pipe[0]; }

bool take_prompt_press() {
    char buf[16];
    while (::read(g_prompt_pipe[0], buf, sizeof buf) > 0) {
    }
    return hub().quit;
}

// Waits for a byte of the terminal or a Ctrl-C: 1 with *c, 0 at the end of
// input, -1 for Ctrl-C (*quit: a second one within a second).
int read_terminal_byte(unsigned char* c, bool* quit) {
    struct Reading {
        Reading() { g_reading = true; }
        ~Reading() { g_reading = false; }
    } reading;
    for (;;) {
        pollfd p[2] = {{STDIN_FILENO, POLLIN, 0}, {prompt_fd(), POLLIN, 0}};
        const int n = ::poll(p, active() ? 2 : 1, -1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return 0;
        if (active() && (p[1].revents & POLLIN)) {
            *quit = take_prompt_press();
            return -1;
        }
        const ssize_t r = ::read(STDIN_FILENO, c, 1);
        if (r < 0 && errno == EINTR) continue;
        return r == 1 ? 1 : 0;
    }
}

std::string abandoned_note(bool reopens) {
    return std::string(
               "orqext: interrupted: the call was abandoned and its connection closed (the library cannot cancel\n"
               "a call under way), so an answer that comes later is never taken for another request's") +
           (reopens ? ";\nthe next command opens a new connection\n" : "\n");
}

bool quit_requested() { return active() && hub().quit; }

void begin_command() {
    Hub& h = hub();
    std::lock_guard<std::mutex> g(h.mu);
    h.in_command = true;
    h.said.clear();
    h.presses.reset();
}

std::string end_command() {
    Hub& h = hub();
    std::lock_guard<std::mutex> g(h.mu);
    h.in_command = false;
    char buf[16];
    while (::read(g_prompt_pipe[0], buf, sizeof buf) > 0) {
    }
    for (GateBuf* gate : h.gates)
        if (gate) gate->set_open(true);
    return std::exchange(h.said, std::string());
}

int push_action(Action a) {
    Hub& h = hub();
    std::lock_guard<std::mutex> g(h.mu);
    const int t = h.next_token++;
    h.actions[t] = std::move(a);
    return t;
}

void pop_action(int token) {
    Hub& h = hub();
    std::lock_guard<std::mutex> g(h.mu);
    h.actions.erase(token);
}

}  // namespace interrupts
}  // namespace orqext

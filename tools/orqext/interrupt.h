// Ctrl-C in orqext's interactive shell. The SIGINT handler only writes a
// byte to a pipe; a watcher thread reads it and decides, with the time of the
// previous Ctrl-C, what it means in the state the shell is in:
//   - at the prompt or the password prompt: the reading code is told (the
//     line is cleared, the prompt given up);
//   - during a command: the action the command registered runs (the
//     connection in use is closed, so that the call returns and an answer that
//     comes later is never read as another request's), its output is cut off
//     and the shell says what became of the request;
//   - a second Ctrl-C within a second ends the shell (a command entered in
//     between makes the next Ctrl-C a first one again).
// Batch mode and one-shot commands keep the default SIGINT (the process ends).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>

namespace orqext {

// Whether a Ctrl-C is the second one within a second of the one before.
// The clock (milliseconds) is given so that tests can step it.
class DoublePress {
public:
    explicit DoublePress(std::function<int64_t()> clock_ms) : clock_(std::move(clock_ms)) {}
    // Records a press; true when it came within kWindowMs of the previous one.
    bool press();
    // A command was entered: a Ctrl-C after it is a first one again.
    void reset() { pressed_ = false; }
    static constexpr int64_t kWindowMs = 1000;

private:
    std::function<int64_t()> clock_;
    bool pressed_ = false;
    int64_t last_ = 0;
};

// A stream buffer that passes output on until it is closed, then drops it:
// the report of a command that was interrupted is not shown.
class GateBuf : public std::streambuf {
public:
    explicit GateBuf(std::streambuf* to) : to_(to) {}
    void set_open(bool open);

protected:
    int overflow(int c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

private:
    std::mutex mu_;
    std::streambuf* to_;
    bool open_ = true;
};

namespace interrupts {

// What Ctrl-C does to a command under way: returns the line that says what
// became of the request, or nothing when it could not help (then the action
// registered before it runs). Runs on the watcher thread.
using Action = std::function<std::string()>;

// Installs the handler and starts the watcher (the interactive shell only).
// `gates` are closed when a command is interrupted. Safe to call once.
void start(GateBuf* out_gate, GateBuf* err_gate);
bool active();
// The descriptor that becomes readable when Ctrl-C was pressed at a prompt
// (-1 when not active). The reader calls take_prompt_press() then.
int prompt_fd();
// After prompt_fd() became readable: drains it; true when the shell is to
// end (a second Ctrl-C within a second).
bool take_prompt_press();
// Waits for a byte of standard input or a Ctrl-C at a prompt: 1 with *c, 0
// at the end of input, -1 for Ctrl-C (*quit: the shell is to end).
int read_terminal_byte(unsigned char* c, bool* quit);
// Whether the shell is to end (a second Ctrl-C within a second).
bool quit_requested();

// A command runs: Ctrl-C now runs its action (the last one registered).
void begin_command();
// The command ended: the line saying what Ctrl-C did to it, empty when it
// was not interrupted. Opens the gates again.
std::string end_command();
// What the action that closes a connection says (`reopens`: the session's
// connection, which the next command opens again).
std::string abandoned_note(bool reopens);
// The action for the connection a command uses (closes it); removed with
// the returned token.
int push_action(Action a);
void pop_action(int token);

}  // namespace interrupts
}  // namespace orqext

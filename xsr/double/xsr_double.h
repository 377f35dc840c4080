// Scripted test double of XSRClient. It records every call with all its
// arguments and answers from a script. Built as its own shared library named
// XSRClient so that ORQExtClient takes its five functions from it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace xsrdouble {

enum class Fn { Open, Close, IsValid, Check, Command };

struct Call {
    Fn fn;
    int32_t handle = 0;
    // Open / Check
    std::string server;
    int32_t port = 0;
    std::string login;  // the 112 login bytes (Open)
    // Command: the 14 arguments
    int32_t magic = 0, reserved1 = 0, timeout_hint = 0;
    bool answer_null = false, len_null = false;
    int32_t capacity = 0;        // *answer_len on entry
    std::string header;          // the 16 header bytes
    int32_t header_len = 0, reserved2 = 0, reserved3 = 0;
    std::string body;            // request body bytes
    int32_t body_len = 0;
    bool body2_null = true;
    std::string body2;
    int32_t body2_len = 0;

    uint16_t code() const;
    int32_t field_a() const;
    int32_t field_b() const;
    int32_t field_c() const;
};

// One scripted answer to XSR_CommandEx.
struct Reply {
    int32_t result = 0;
    std::string bytes;          // written at the answer buffer, cut to capacity
    int32_t reported_len = -1;  // length written back; -1: the bytes written
};

Reply ok(const std::string& bytes = std::string());
Reply pending(int32_t t0, int32_t t1);          // -9000 with an 8-byte ticket
Reply part(const std::string& bytes);           // -1108
Reply fail(int32_t code, const std::string& bytes = std::string());
// -1107: the leading bytes that fit (cut to capacity) and the whole answer's
// length.
Reply too_long(const std::string& bytes, int32_t whole);

// Clears calls, script and state.
void reset();

// Script for XSR_CommandEx: replies are taken in order; when the queue is
// empty the handler is asked; without a handler the answer is ok("").
void push(const Reply& r);
void push(std::initializer_list<Reply> rs);
// Scripted replies not yet taken.
std::size_t queued();
using Handler = std::function<Reply(const Call&)>;
void set_handler(Handler h);

// XSR_OpenConn: by default gives handles 1001, 1002, ... with result 0.
// A script per server name overrides the result (and skips the handle).
void set_open_result(const std::string& server, int32_t result);
// Runs after every XSR_OpenConn has recorded its call, just before it
// returns (outside the double's lock).
void set_after_open(std::function<void()> hook);
// Run on entry to and on return from every XSR_ function, on the calling
// thread (null: none): lets a test tell the double's own work from the
// library's, e.g. to keep injected allocation failures out of the double.
void set_call_hooks(void (*enter)(), void (*leave)());
// XSR_IsValidCon: 1 by default; per handle override.
void set_valid(int32_t handle, int32_t value);
void set_check_result(int32_t result);
void set_close_result(int32_t result);

// One source of answers for all five functions, such as a recorded trace
// (replay below). While one is set it answers every call in place of the
// script, the handler and the settings above; calls are still recorded.
class Responder {
public:
    virtual ~Responder() = default;
    virtual int32_t open(const Call& c, int32_t* handle) = 0;
    virtual int32_t close(const Call& c) = 0;
    virtual int32_t valid(const Call& c) = 0;
    virtual int32_t check(const Call& c) = 0;
    virtual Reply command(const Call& c) = 0;
};
void set_responder(std::shared_ptr<Responder> r);

// Answers every call from a trace written by the recording XSRClient
// (docs/trace.md). Requests are matched by command code, module, remote
// function and bytes (exact), or, with loose, by command code, module and
// remote function only; in the recorded order per connection handle.
// paced: each answer takes as long as it took when recorded. A request with
// no match fails with -20013 and is shown on standard error. False with a
// message when the trace cannot be read.
struct ReplayOptions {
    bool loose = false;
    bool paced = false;
    // Paced replay: the longest pause of one call, so that a damaged or
    // crafted duration cannot stall a run (XSR_DOUBLE_REPLAY_PACE_MAX_MS).
    int64_t max_pause_us = 1000000;
    // How a pause is taken; empty: the thread sleeps. Tests count pauses.
    std::function<void(int64_t us)> pause;
};
// The options the environment asks for: XSR_DOUBLE_REPLAY_MATCH=loose,
// XSR_DOUBLE_REPLAY_PACED=1, XSR_DOUBLE_REPLAY_PACE_MAX_MS=N (0 or more;
// anything else keeps the default and is reported on stderr).
ReplayOptions replay_options_from_environment();
bool replay(const std::string& trace_path, const ReplayOptions& options, std::string* error);
// Requests the replay has not matched (for a test's report), and how many
// recorded calls were not asked for.
std::vector<std::string> replay_misses();
std::size_t replay_unused();

// Recorded calls (a copy).
std::vector<Call> calls();
std::vector<Call> calls_of(Fn fn);
std::size_t count(Fn fn);
// Handles currently open (opened and not closed).
std::vector<int32_t> open_handles();

// Zero-cost mode, for benchmarks that measure the library's own work: while a
// reply is set, XSR_CommandEx records nothing, takes no lock and allocates
// nothing; it copies the reply's bytes (cut to the capacity offered), writes
// that length back and returns 0. XSR_OpenConn then hands out handles from a
// counter of its own (from 1000001) and XSR_CloseConn, XSR_IsValidCon and
// XSR_CheckServer answer 0, 1 and 0, all without recording. The reply is the
// caller's and must outlive the mode; switch the mode only while no call runs.
// nullptr switches it off (reset() does too); the script and the recorded
// calls are left as they were.
struct FastReply {
    const void* bytes;
    int32_t len;
};
void set_zero_cost(const FastReply* reply);

// Small helpers for building expected bytes.
std::string le32(int32_t v);
std::string cstr(const char* s);  // bytes and NUL

}  // namespace xsrdouble

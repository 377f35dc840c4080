// Command line of orqext: the command table, option parsing with clear
// messages, the connection options, and the shared ways a command reports
// success and failure.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/orqext/value.h"

namespace orqext {

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;    // a call returned a failure Result code
constexpr int kExitUsage = 2;     // bad command line
constexpr int kExitConnect = 3;   // the server could not be reached or refused the login
constexpr int kExitTimeout = 4;   // no answer within the time limit (-1112, -1113)
constexpr int kExitCut = 5;       // a list answer filled its room: it may be cut

// A bad command line: the message names what is wrong.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A call failed with a Result code; `what` names the call. `message`, when
// given, is said instead of "WHAT failed: CODE MEANING".
struct CallFailed {
    std::string what;
    int32_t code;
    int exit_code;
    std::string message = std::string();
};

// Ctrl-C at the password prompt: the command gives up (exit code 130).
struct GaveUp {
    std::string message;
};
constexpr int kExitInterrupted = 130;

struct OptionSpec {
    std::string name;   // without the leading "--"
    std::string value;  // name of the value ("MS"); empty for a flag
    std::string help;
};

// The options and arguments of one invocation, checked against its command.
class Invocation {
public:
    bool has(const std::string& name) const { return opts_.count(name) != 0; }
    // The last value given, or `fallback`.
    std::string get(const std::string& name, const std::string& fallback = std::string()) const;
    const std::vector<std::string>& all(const std::string& name) const;
    // A decimal integer in [min, max]; UsageError naming the option otherwise.
    int64_t integer(const std::string& name, int64_t min, int64_t max, int64_t fallback) const;
    const std::vector<std::string>& args() const { return args_; }
    const std::string& arg(std::size_t i) const { return args_.at(i); }

    void add_option(const std::string& name, const std::string& value) { opts_[name].push_back(value); }
    void add_arg(const std::string& a) { args_.push_back(a); }

private:
    std::map<std::string, std::vector<std::string>> opts_;
    std::vector<std::string> args_;
};

// Parses a decimal integer in [min, max]; UsageError with `what` otherwise.
int64_t parse_integer(const std::string& text, int64_t min, int64_t max, const std::string& what);

struct Context;
class Link;

struct CommandSpec {
    std::string path;     // "module register"
    std::string usage;    // the arguments: "NAME"
    std::string summary;  // one line
    std::string details;  // paragraphs for --help
    std::vector<OptionSpec> options;
    std::size_t min_args = 0, max_args = 0;
    bool connects = false;  // takes the connection options
    int (*run)(Context&) = nullptr;
};

// Connection options resolved from --host/--port/--user/--password or
// --connect.
struct Endpoint {
    std::string host = "127.0.0.1";
    int32_t port = 7300;
    std::string user = "admin";
    std::string password = "admin";
    // Whether --password, --connect or ORQEXT_PASSWORD gave it; otherwise
    // Context::connect looks for it in the password file, then asks on a
    // terminal, and keeps the default without one.
    bool password_given = false;
};

// Parses "server=...;port=...;user=...;pass=..." (keys in any order and any
// letter case); UsageError naming a missing or unknown key.
Endpoint parse_connect_string(const std::string& text);

struct Context {
    Invocation in;
    RenderOptions render;
    std::ostream* out = nullptr;
    std::ostream* err = nullptr;
    const CommandSpec* spec = nullptr;
    std::string program;  // path of this executable (argv[0])
    // The module a command talks to, for the advice after -20101/-20102;
    // service: one of the service modules a server hosts once registered.
    std::string module;
    bool service_module = false;
    // The session of the shell or of batch mode; null for one command.
    Link* link = nullptr;

    // The connection options, checked against the login record's limits
    // (for_login) or only for a host name and port (a probe without login).
    Endpoint endpoint(bool for_login = true) const;
    // Opens a connection with the connection options; CallFailed (exit 3)
    // when it fails.
    int32_t connect() const;
    // Prints the report of a command that makes no call and returns kExitOk.
    // With --json it has the fields every report has (ok, result 0,
    // meaning "success"); a payload that is a table goes under list_key.
    int report(const Value& v, const char* list_key = "items") const;
    // Prints v; with --json in the shape every report has ("ok", "result",
    // "meaning" first, then v's own fields).
    void emit(const Value& v, int32_t rc, bool ok) const;
    // Adds "result" and "meaning" for rc to the report and prints it; when rc
    // is negative, also names the failed call with the code and its meaning
    // on stderr and returns the matching exit code.
    // `meaning` replaces "server status word" for a positive rc that is an
    // answer (a count, a score). After a failure that says the module is
    // missing or stopped, what to do about it follows on stderr.
    int finish(Value v, const std::string& what, int32_t rc, const char* meaning = nullptr) const;
    // finish() with "ok" given (false when the command fails for another
    // reason than the call's code).
    int finish_as(Value v, const std::string& what, int32_t rc, const char* meaning, bool ok) const;
    // finish() for a list answer that filled its room: the report says so
    // ("cut": true), stderr says why, and the exit code is kExitCut.
    int finish_cut(Value v, const std::string& what, int32_t rc, const char* meaning,
                   const std::string& why) const;
};

// The connection of one command: the session's kept one (Context::link)
// when the command's connection options are the session's, else one opened
// now and closed when it goes out of scope. In the interactive shell Ctrl-C
// closes it while the command runs.
class Session {
public:
    explicit Session(const Context& ctx);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    int32_t conn() const { return conn_; }

private:
    int32_t conn_ = 0;
    bool own_ = true;
    int action_ = 0;
};

// Throws CallFailed unless rc >= 0 (exit code: 4 for time-outs, else 1).
void check(const std::string& what, int32_t rc);
// The result fields every report carries: "result" and "meaning".
Value result_object(int32_t rc);

const std::vector<CommandSpec>& commands();
// The options a command takes, as written ("--json"): the output options,
// the connection options when it connects, and its own; all shared ones
// without a command.
std::vector<std::string> option_names(const CommandSpec* c);
// Runs orqext with argv; output to out and err; returns the exit code.
// `link`: the session of the shell or batch mode the command runs in.
int run_cli(int argc, char** argv, std::ostream& out, std::ostream& err, Link* link = nullptr);

}  // namespace orqext

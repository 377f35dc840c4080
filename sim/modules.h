// Hosted modules of xsr-sim: the interface a simulated extension module
// implements, and the registry of module types by which a registered module
// finds its implementation when it is started.
//
// Adding a module type: implement Module (take the request bytes, return a
// result code and the answer bytes), write a factory, and add one line to
// register_builtin_types() in modules.cpp. A module registered with
// FileRef='<type>' (or named like the type, or listed in the config file
// with that type) then runs it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace xsrsim {

using Bytes = std::vector<unsigned char>;

// Set when the caller cancelled the request, its session ended or the
// server is stopping. Long module work waits through wait_for so that it
// ends promptly.
class CancelToken {
public:
    void cancel();
    bool cancelled() const { return flag_.load(std::memory_order_acquire); }
    // Sleeps up to ms; true when cancelled meanwhile (at once if already).
    bool wait_for(uint32_t ms) const;

private:
    std::atomic<bool> flag_{false};
    mutable std::mutex mu_;
    mutable std::condition_variable cv_;
};

// Transport faults a hosted module can ask for, applied when the server
// writes the answer frame (to drive the client's fault handling).
enum class Fault {
    None,
    Cut,    // write the first cut_at bytes of the frame, then close the socket
    Reset,  // close the socket with a reset instead of answering
    Stall,  // never answer; keep the socket open until the client gives up
};

struct ModuleAnswer {
    int32_t result = 0;
    Bytes bytes;
    uint32_t part_size = 0;  // 0: the server's part size
    Fault fault = Fault::None;
    uint32_t cut_at = 0;
};

// What the server offers to hosted modules.
class ServerView {
public:
    virtual ~ServerView() = default;
    virtual std::string server_name() const = 0;
    virtual std::string statement_log() const = 0;
    virtual void clear_statement_log() = 0;
    virtual std::string stats() const = 0;
    // Named gates: hold waits until another request releases the gate (or
    // cancel, or max_ms); true when released.
    virtual bool hold_gate(const std::string& name, const CancelToken& cancel, uint32_t max_ms) = 0;
    virtual void release_gate(const std::string& name) = 0;
};

struct ModuleCall {
    uint16_t code = 2;  // 2 module message, 3 asynchronous module message
    std::string module;
    std::string target;
    Bytes payload;
    std::string user;
    int32_t capacity = 0;  // answer capacity the client offered
};

class Module {
public:
    virtual ~Module() = default;
    // True when the call answers at once without blocking; it then runs on
    // the connection's thread. Otherwise it runs on a worker thread and the
    // client gets a pending answer if it takes longer than the server's
    // pending threshold.
    virtual bool quick(const ModuleCall&) const { return true; }
    virtual ModuleAnswer call(const ModuleCall& call, const CancelToken& cancel, ServerView& server) = 0;
};

struct ModuleSettings {
    std::string name;     // the registered module name
    std::string version;
    std::string param;    // CmdParam of the registration (or param= in the config)
};

using ModuleFactory = std::function<std::shared_ptr<Module>(const ModuleSettings&)>;

// Module types by name, compared without regard to ASCII letter case.
class ModuleTypes {
public:
    void add(const std::string& type, ModuleFactory factory);
    // nullptr when the type is unknown.
    const ModuleFactory* find(const std::string& type) const;
    std::vector<std::string> names() const;

private:
    std::map<std::string, std::pair<std::string, ModuleFactory>> types_;  // lower-case key
};

// echo, script, ident, sim (see docs/xsr-sim.md).
void register_builtin_types(ModuleTypes& types);

// Factories of the built-in types.
std::shared_ptr<Module> make_echo_module(const ModuleSettings&);
std::shared_ptr<Module> make_script_module(const ModuleSettings&);
std::shared_ptr<Module> make_ident_module(const ModuleSettings&);
std::shared_ptr<Module> make_sim_module(const ModuleSettings&);

// A remote call frame, the payload of the service calls: [int32 engine
// selector] "r!" NUL, the remote function's name NUL, then the arguments
// (read them with xsrproto::BodyReader). Frames to "KExt_NLPE" carry the
// selector, the others do not.
struct RemoteCall {
    int32_t selector = -1;
    std::string function;
    const unsigned char* args = nullptr;  // points into the payload
    std::size_t args_len = 0;
};
// False when the payload is not such a frame.
bool parse_remote_call(const Bytes& payload, bool with_selector, RemoteCall* out);

// The scriptable module's request: "key=value" items separated by blanks,
// ';' or newlines. Exposed for tests.
struct Script {
    uint32_t delay_ms = 0;
    int32_t result = 0;
    bool has_size = false;
    uint32_t size = 0;        // answer bytes: 'a' + i % 26
    uint32_t part_size = 0;
    Fault fault = Fault::None;
    uint32_t cut_at = 0;
    std::string hold, release;  // gate names
};
// False (with a message) on an unknown key or a bad value.
bool parse_script(const std::string& text, Script* out, std::string* error);

std::string lower(std::string s);
bool iequals(const std::string& a, const std::string& b);

}  // namespace xsrsim

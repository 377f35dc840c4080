#include "sim/modules.h"

#include <cctype>
#include <chrono>
#include <cstdlib>

#include "xsr/proto/wire.h"
#include "sim/modules/service_modules.h"

namespace xsrsim {

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool iequals(const std::string& a, const std::string& b) { return lower(a) == lower(b); }

void CancelToken::cancel() {
    {
        std::lock_guard<std::mutex> g(mu_);
        flag_.store(true, std::memory_order_release);
    }
    cv_.notify_all();
}

bool CancelToken::wait_for(uint32_t ms) const {
    std::unique_lock<std::mutex> g(mu_);
    return cv_.wait_for(g, std::chrono::milliseconds(ms), [this] { return cancelled(); });
}

void ModuleTypes::add(const std::string& type, ModuleFactory factory) {
    types_[lower(type)] = {type, std::move(factory)};
}

const ModuleFactory* ModuleTypes::find(const std::string& type) const {
    auto it = types_.find(lower(type));
    return it == types_.end() ? nullptr : &it->second.second;
}

std::vector<std::string> ModuleTypes::names() const {
    std::vector<std::string> v;
    for (const auto& t : types_) v.push_back(t.second.first);
    return v;
}

void register_builtin_types(ModuleTypes& types) {
    types.add("echo", make_echo_module);
    types.add("script", make_script_module);
    types.add("ident", make_ident_module);
    types.add("sim", make_sim_module);
    register_service_types(types);  // KExt_NLPE, KExt_ARA, KExt_KWFS, KExt_STM
}

namespace {

// Answers the payload unchanged.
class EchoModule : public Module {
public:
    ModuleAnswer call(const ModuleCall& c, const CancelToken&, ServerView&) override {
        ModuleAnswer a;
        a.bytes = c.payload;
        return a;
    }
};

// Answers the server's name (which node of a cluster served the call).
class IdentModule : public Module {
public:
    ModuleAnswer call(const ModuleCall&, const CancelToken&, ServerView& s) override {
        ModuleAnswer a;
        const std::string n = s.server_name();
        a.bytes.assign(n.begin(), n.end());
        return a;
    }
};

// The server's own state for tests: "statements", "stats", "clear".
class SimModule : public Module {
public:
    ModuleAnswer call(const ModuleCall& c, const CancelToken&, ServerView& s) override {
        const std::string cmd(c.payload.begin(), c.payload.end());
        ModuleAnswer a;
        std::string text;
        if (cmd == "statements") {
            text = s.statement_log();
        } else if (cmd == "stats") {
            text = s.stats();
        } else if (cmd == "clear") {
            s.clear_statement_log();
        } else {
            a.result = xsrproto::kErrRequest;
            return a;
        }
        a.bytes.assign(text.begin(), text.end());
        return a;
    }
};

constexpr uint32_t kMaxScriptAnswer = 64u * 1024 * 1024;
constexpr uint32_t kMaxHoldMs = 30000;

class ScriptModule : public Module {
public:
    bool quick(const ModuleCall& c) const override {
        Script s;
        std::string err;
        if (!parse_script(std::string(c.payload.begin(), c.payload.end()), &s, &err)) return true;
        // A held answer blocks the connection on purpose: it stands for a
        // server that is slow to answer at the transport level.
        return s.delay_ms == 0;
    }

    ModuleAnswer call(const ModuleCall& c, const CancelToken& cancel, ServerView& server) override {
        Script s;
        std::string err;
        ModuleAnswer a;
        if (!parse_script(std::string(c.payload.begin(), c.payload.end()), &s, &err)) {
            a.result = xsrproto::kErrRequest;
            a.bytes.assign(err.begin(), err.end());
            return a;
        }
        if (!s.release.empty()) server.release_gate(s.release);
        if (!s.hold.empty()) server.hold_gate(s.hold, cancel, kMaxHoldMs);
        if (s.delay_ms > 0 && cancel.wait_for(s.delay_ms)) {
            a.result = xsrproto::kErrShutdown;
            return a;
        }
        a.result = s.result;
        if (s.has_size) {
            a.bytes.resize(s.size);
            for (uint32_t i = 0; i < s.size; ++i) a.bytes[i] = static_cast<unsigned char>('a' + i % 26);
        }
        a.part_size = s.part_size;
        a.fault = s.fault;
        a.cut_at = s.cut_at;
        return a;
    }
};

bool number(const std::string& v, int64_t min, int64_t max, int64_t* out) {
    if (v.empty() || v.size() > 11) return false;
    std::size_t i = (v[0] == '-') ? 1 : 0;
    if (i == v.size()) return false;
    for (; i < v.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(v[i]))) return false;
    const long long n = std::strtoll(v.c_str(), nullptr, 10);
    if (n < min || n > max) return false;
    *out = n;
    return true;
}

}  // namespace

bool parse_remote_call(const Bytes& payload, bool with_selector, RemoteCall* out) {
    *out = RemoteCall();
    xsrproto::BodyReader r(payload.data(), payload.size());
    if (with_selector && !r.i32(&out->selector)) return false;
    std::string marker;
    if (!r.cstr(&marker, 2) || marker != "r!") return false;
    if (!r.cstr(&out->function, 4096) || out->function.empty()) return false;
    r.rest(&out->args, &out->args_len);
    return true;
}

bool parse_script(const std::string& text, Script* out, std::string* error) {
    *out = Script();
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == ';' || text[i] == '\n' ||
                                   text[i] == '\t' || text[i] == '\r'))
            ++i;
        if (i >= text.size()) break;
        std::size_t end = i;
        while (end < text.size() && text[end] != ' ' && text[end] != ';' && text[end] != '\n' &&
               text[end] != '\t' && text[end] != '\r')
            ++end;
        const std::string item = text.substr(i, end - i);
        i = end;
        const std::size_t eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string val = eq == std::string::npos ? std::string() : item.substr(eq + 1);
        int64_t n = 0;
        bool ok = true;
        if (key == "delay") {
            ok = number(val, 0, 600000, &n);
            out->delay_ms = static_cast<uint32_t>(n);
        } else if (key == "rc") {
            ok = number(val, INT32_MIN, INT32_MAX, &n);
            out->result = static_cast<int32_t>(n);
        } else if (key == "size") {
            ok = number(val, 0, kMaxScriptAnswer, &n);
            out->size = static_cast<uint32_t>(n);
            out->has_size = true;
        } else if (key == "part") {
            ok = number(val, 1, 32 * 1024 * 1024, &n);
            out->part_size = static_cast<uint32_t>(n);
        } else if (key == "fault") {
            if (val == "cut") {
                out->fault = Fault::Cut;
            } else if (val == "reset") {
                out->fault = Fault::Reset;
            } else if (val == "stall") {
                out->fault = Fault::Stall;
            } else {
                ok = false;
            }
        } else if (key == "cut") {
            ok = number(val, 0, kMaxScriptAnswer, &n);
            out->cut_at = static_cast<uint32_t>(n);
            if (out->fault == Fault::None) out->fault = Fault::Cut;
        } else if (key == "hold") {
            ok = !val.empty();
            out->hold = val;
        } else if (key == "release") {
            ok = !val.empty();
            out->release = val;
        } else {
            *error = "unknown script key '" + key + "'";
            return false;
        }
        if (!ok) {
            *error = "bad value in '" + item + "'";
            return false;
        }
    }
    return true;
}

std::shared_ptr<Module> make_echo_module(const ModuleSettings&) { return std::make_shared<EchoModule>(); }
std::shared_ptr<Module> make_script_module(const ModuleSettings&) {
    return std::make_shared<ScriptModule>();
}
std::shared_ptr<Module> make_ident_module(const ModuleSettings&) {
    return std::make_shared<IdentModule>();
}
std::shared_ptr<Module> make_sim_module(const ModuleSettings&) { return std::make_shared<SimModule>(); }

}  // namespace xsrsim

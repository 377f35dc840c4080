// Replay of a recorded trace: a Responder that answers each call the way the
// real server's client library answered it when the trace was written.
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <thread>

#include "xsr/double/xsr_double.h"
#include "xsr/double/xsrclient_double.h"
#include "xsr/proto/wire.h"
#include "xsr/trace/frames.h"
#include "xsr/trace/secrets.h"
#include "xsr/trace/trace.h"
#include "xsr/xsrclient.h"

namespace xsrdouble {

namespace {

constexpr int32_t kNoMatch = xsrproto::kErrNoMatch;
constexpr uint16_t kClusterAdd = 11;

xsrtrace::Record as_record(const Call& c) {
    xsrtrace::Record r;
    r.handle = c.handle;
    r.header = c.header;
    r.body = c.body;
    r.body2 = c.body2;
    r.body2_null = c.body2_null;
    return r;
}

// What a request is, for matching loosely and for messages.
struct Shape {
    uint16_t code = 0;
    std::string module, function;
};
Shape shape_of(const xsrtrace::Record& r) {
    Shape s;
    s.code = r.code();
    const xsrtrace::Message m = xsrtrace::read_message(r);
    s.module = m.module;
    s.function = m.function;
    return s;
}

std::string describe(const xsrtrace::Record& r) {
    const uint16_t code = r.code();
    std::string d = xsrtrace::command_name(code) + " on handle " + std::to_string(r.handle);
    const xsrtrace::Message m = xsrtrace::read_message(r);
    if (m.is_message && !m.malformed) {
        d += ", module " + xsrtrace::show_bytes(m.module);
        if (!m.target.empty()) d += ", target " + xsrtrace::show_bytes(m.target);
        if (m.remote) {
            if (m.has_selector) d += ", engine " + std::to_string(m.selector);
            d += ", function " + xsrtrace::show_bytes(m.function) + "(" + xsrtrace::format_args(m.args) + ")";
        } else {
            d += ", payload " + xsrtrace::show_bytes(m.payload);
        }
        return d;
    }
    d += ", body " + xsrtrace::show_bytes(r.body);
    if (!r.body2.empty()) d += ", body2 " + xsrtrace::show_bytes(r.body2);
    return d;
}

class Replay : public Responder {
public:
    Replay(xsrtrace::File file, ReplayOptions o) : options_(o) {
        for (auto& r : file.records) {
            switch (r.fn) {
                case xsrtrace::Fn::Open: opens_.push_back(std::move(r)); break;
                case xsrtrace::Fn::Check: checks_.push_back(std::move(r)); break;
                default: {
                    const int32_t h = r.handle;
                    per_handle_[h].push_back(std::move(r));
                }
            }
        }
    }

    int32_t open(const Call& c, int32_t* handle) override {
        std::lock_guard<std::mutex> g(m_);
        // The next recorded open of the same server and port.
        for (auto it = opens_.begin(); it != opens_.end(); ++it) {
            if (it->server != c.server || it->port != c.port) continue;
            const xsrtrace::Record r = *it;
            opens_.erase(it);
            *handle = r.handle;  // the recorded handle: later calls name it
            return r.result;
        }
        return miss("open of " + c.server + ":" + std::to_string(c.port));
    }
    int32_t check(const Call& c) override {
        std::lock_guard<std::mutex> g(m_);
        for (auto it = checks_.begin(); it != checks_.end(); ++it) {
            if (it->server != c.server || it->port != c.port) continue;
            const int32_t rc = it->result;
            checks_.erase(it);
            return rc;
        }
        return miss("server probe of " + c.server + ":" + std::to_string(c.port));
    }
    int32_t close(const Call& c) override {
        std::lock_guard<std::mutex> g(m_);
        xsrtrace::Record r;
        if (take(c.handle, xsrtrace::Fn::Close, &r)) return r.result;
        return 0;  // a close nobody recorded closes nothing
    }
    int32_t valid(const Call& c) override {
        std::lock_guard<std::mutex> g(m_);
        xsrtrace::Record r;
        if (take(c.handle, xsrtrace::Fn::IsValid, &r)) {
            last_valid_[c.handle] = r.result;
            return r.result;
        }
        // Checked more often than when recorded: the last answer holds.
        const auto it = last_valid_.find(c.handle);
        return it == last_valid_.end() ? 0 : it->second;
    }
    Reply command(const Call& c) override {
        xsrtrace::Record found;
        bool ok;
        const xsrtrace::Record asked = as_record(c);
        {
            std::lock_guard<std::mutex> g(m_);
            ok = take_command(asked, &found);
            if (!ok) {
                std::string next = "nothing more was recorded on this handle";
                auto q = per_handle_.find(c.handle);
                if (q != per_handle_.end())
                    for (const auto& r : q->second)
                        if (r.fn == xsrtrace::Fn::Command) {
                            next = "next recorded there: " + describe(r);
                            break;
                        }
                miss("request " + describe(asked) + "; " + next);
            }
        }
        if (!ok) return Reply{kNoMatch, std::string(), 0};
        if (options_.paced) pace(found);
        Reply rep;
        rep.result = found.result;
        rep.bytes = found.answer;
        rep.reported_len = found.len_null ? -1 : found.answer_len;
        return rep;
    }

    std::vector<std::string> misses() {
        std::lock_guard<std::mutex> g(m_);
        return misses_;
    }
    std::size_t unused() {
        std::lock_guard<std::mutex> g(m_);
        std::size_t n = opens_.size() + checks_.size();
        for (const auto& q : per_handle_) n += q.second.size();
        return n;
    }

private:
    // The recorded duration of the call, at most the longest pause allowed;
    // a capped pause is reported.
    void pace(const xsrtrace::Record& r) const {
        int64_t us = r.duration_us < 0 ? 0 : r.duration_us;
        if (us > options_.max_pause_us) {
            std::fprintf(stderr,
                         "XSRClient replay: record #%llu took %lld us when recorded; its pause is capped at %lld us\n",
                         static_cast<unsigned long long>(r.seq), static_cast<long long>(us),
                         static_cast<long long>(options_.max_pause_us));
            us = options_.max_pause_us;
        }
        if (options_.pause) options_.pause(us);
        else std::this_thread::sleep_for(std::chrono::microseconds(us));
    }
    int32_t miss(const std::string& what) {
        misses_.push_back(what);
        std::fprintf(stderr, "XSRClient replay: no recorded call matches the %s\n", what.c_str());
        return kNoMatch;
    }
    bool take(int32_t handle, xsrtrace::Fn fn, xsrtrace::Record* out) {
        auto q = per_handle_.find(handle);
        if (q == per_handle_.end()) return false;
        for (auto it = q->second.begin(); it != q->second.end(); ++it) {
            if (it->fn != fn) continue;
            *out = std::move(*it);
            q->second.erase(it);
            return true;
        }
        return false;
    }
    bool matches(const xsrtrace::Record& want, const xsrtrace::Record& got) const {
        if (want.code() != got.code()) return false;
        if (options_.loose) {
            const Shape a = shape_of(want), b = shape_of(got);
            return a.module == b.module && a.function == b.function;
        }
        // A cluster add matches whatever its passwords: the recorder masks
        // them.
        if (want.code() == kClusterAdd)
            return want.header == got.header && want.body2 == got.body2 &&
                   xsrtrace::cluster_add_without_passwords(want.body) ==
                       xsrtrace::cluster_add_without_passwords(got.body);
        return want.header == got.header && want.body == got.body && want.body2 == got.body2;
    }
    // The earliest recorded request on the handle that matches: requests of
    // several threads on one handle may come in another order than recorded,
    // while equal requests (polls of one ticket) are answered in their order.
    bool take_command(const xsrtrace::Record& asked, xsrtrace::Record* out) {
        auto q = per_handle_.find(asked.handle);
        if (q == per_handle_.end()) return false;
        for (auto it = q->second.begin(); it != q->second.end(); ++it) {
            if (it->fn != xsrtrace::Fn::Command || !matches(*it, asked)) continue;
            *out = std::move(*it);
            q->second.erase(it);
            return true;
        }
        return false;
    }

    ReplayOptions options_;
    std::mutex m_;
    std::list<xsrtrace::Record> opens_, checks_;
    std::map<int32_t, std::list<xsrtrace::Record>> per_handle_;
    std::map<int32_t, int32_t> last_valid_;
    std::vector<std::string> misses_;
};

std::mutex g_replay_mu;
std::shared_ptr<Replay> g_replay;

}  // namespace

bool replay(const std::string& trace_path, const ReplayOptions& options, std::string* error) {
    xsrtrace::File file;
    if (!xsrtrace::read_file(trace_path, &file, error)) return false;
    // Damaged lines are not replayed; a test that misses their calls is
    // told why.
    for (const std::string& d : xsrtrace::damage_report(file))
        std::fprintf(stderr, "XSRClient replay: %s: %s\n", trace_path.c_str(), d.c_str());
    auto r = std::make_shared<Replay>(std::move(file), options);
    {
        std::lock_guard<std::mutex> g(g_replay_mu);
        g_replay = r;
    }
    set_responder(r);
    return true;
}

std::vector<std::string> replay_misses() {
    std::lock_guard<std::mutex> g(g_replay_mu);
    return g_replay ? g_replay->misses() : std::vector<std::string>();
}

std::size_t replay_unused() {
    std::lock_guard<std::mutex> g(g_replay_mu);
    return g_replay ? g_replay->unused() : 0;
}

ReplayOptions replay_options_from_environment() {
    ReplayOptions o;
    const char* match = std::getenv("XSR_DOUBLE_REPLAY_MATCH");
    o.loose = match && std::strcmp(match, "loose") == 0;
    const char* paced = std::getenv("XSR_DOUBLE_REPLAY_PACED");
    o.paced = paced && std::strcmp(paced, "1") == 0;
    const char* max = std::getenv("XSR_DOUBLE_REPLAY_PACE_MAX_MS");
    if (max && *max) {
        char* end = nullptr;
        errno = 0;
        const long long ms = std::strtoll(max, &end, 10);
        if (errno == 0 && *end == '\0' && ms >= 0 && ms <= INT64_MAX / 1000)
            o.max_pause_us = ms * 1000;
        else
            std::fprintf(stderr, "XSRClient replay: XSR_DOUBLE_REPLAY_PACE_MAX_MS=%s is no number of milliseconds; "
                                 "pauses are capped at %lld ms\n",
                         max, static_cast<long long>(o.max_pause_us / 1000));
    }
    return o;
}

// XSR_DOUBLE_REPLAY names a trace to answer from, so that an unchanged
// program run with the double in place of XSRClient replays it;
// XSR_DOUBLE_REPLAY_MATCH=loose and XSR_DOUBLE_REPLAY_PACED=1 set the options.
void replay_from_environment() {
    static std::once_flag once;
    std::call_once(once, [] {
        const char* path = std::getenv("XSR_DOUBLE_REPLAY");
        if (!path || !*path) return;
        const ReplayOptions o = replay_options_from_environment();
        std::string error;
        if (!replay(path, o, &error))
            std::fprintf(stderr, "XSRClient replay: %s; every request fails with -20013\n", error.c_str());
        // An unreadable trace still replays: an empty one, where nothing matches.
        if (!error.empty()) set_responder(std::make_shared<Replay>(xsrtrace::File(), o));
    });
}

}  // namespace xsrdouble

// The replay for programs in C: 0, or -1 when the trace cannot be read (the
// reason on standard error). The installed double's header declares the
// same as XSRDouble_Replay.
extern "C" XSR_API int32_t xsr_double_replay(const char* trace_path, int32_t loose) {
    return XSRDouble_Replay(trace_path, loose) == XSRDOUBLE_OK ? 0 : -1;
}

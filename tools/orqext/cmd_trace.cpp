// orqext trace show, trace stats: traces written by the recording XSRClient
// (docs/trace.md), decoded as far as the library's own frames allow.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <tuple>
#include <vector>

#include "tools/orqext/commands.h"
#include "tools/orqext/results.h"
#include "tools/orqext/value.h"
#include "xsr/trace/frames.h"
#include "xsr/trace/trace.h"

namespace orqext {

namespace {

// Names and bytes from a trace go to the terminal escaped.
std::string escaped(const std::string& s) { return terminal_safe(s); }

// Reads the trace named on the command line (with the files rotated out of
// it, oldest first) record by record, handing each to `each`; then names on
// stderr the damaged lines, a torn last line and the gaps in the record
// numbers (the first 20 of them, then a count). False when a file cannot be
// read or the trace holds no record at all.
struct ReadFigures;
template <class Each>
bool read_trace(Context& ctx, Each each, ReadFigures* figures = nullptr);

// The figures of a read that stats reports beside its table.
struct ReadFigures {
    uint64_t records = 0, damaged = 0, missing = 0;
    bool torn = false;
};

template <class Each>
bool read_trace(Context& ctx, Each each, ReadFigures* figures) {
    std::string error;
    const std::string path = ctx.in.arg(0);
    xsrtrace::Reader reader;
    if (!reader.open(path, &error)) {
        *ctx.err << "orqext: " << escaped(error) << "\n";
        return false;
    }
    xsrtrace::Record r;
    while (reader.next(&r)) each(r);
    constexpr std::size_t kShown = 20;
    const std::vector<std::string> damage = reader.damage_report();
    for (std::size_t i = 0; i < damage.size() && i < kShown; ++i)
        *ctx.err << "orqext: " << escaped(path) << ": " << escaped(damage[i]) << "\n";
    if (damage.size() > kShown)
        *ctx.err << "orqext: " << escaped(path) << ": " << damage.size() - kShown << " more such notes\n";
    if (reader.damaged_lines())
        *ctx.err << "orqext: " << reader.damaged_lines() << " damaged line(s) skipped\n";
    if (figures) *figures = {reader.records(), reader.damaged_lines(), reader.missing_records(), reader.torn_tail()};
    if (!reader.error().empty()) {
        *ctx.err << "orqext: " << escaped(reader.error()) << "\n";
        return false;
    }
    if (reader.records() == 0) {
        *ctx.err << "orqext: " << escaped(path) << " holds no trace record\n";
        return false;
    }
    return true;
}

std::string meaning_of(const xsrtrace::Record& r) {
    if (r.fn == xsrtrace::Fn::IsValid) return r.result ? "alive" : "not alive";
    if (const CodeInfo* c = find_code(r.result)) return std::string(c->name) + ": " + c->meaning;
    if (r.result > 0) return "server status word";
    return r.result == 0 ? "success" : "failure";
}

// "HH:MM:SS.uuuuuu" (UTC) of a time in microseconds since 1970, by
// arithmetic: a 32-bit time_t holds no time after January 2038, and the
// time of day needs no calendar. Times before 1970 count back from midnight.
std::string clock_time(int64_t us) {
    constexpr int64_t kDayUs = INT64_C(86400) * 1000000;
    int64_t of_day = us % kDayUs;
    if (of_day < 0) of_day += kDayUs;
    const int64_t secs = of_day / 1000000;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%06d", static_cast<int>(secs / 3600),
                  static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60),
                  static_cast<int>(of_day % 1000000));
    return buf;
}

// What a command asked for, in one line, and as fields for JSON.
std::string request_text(const xsrtrace::Record& r, Value* fields) {
    const uint16_t code = r.code();
    std::string d = xsrtrace::command_name(code);
    fields->set("code", Value::integer(code));
    fields->set("command", Value::text(xsrtrace::command_name(code)));
    const xsrtrace::Message m = xsrtrace::read_message(r);
    if (m.is_message) {
        if (m.malformed) {
            fields->set("malformed", Value::boolean(true));
            return d + " (names cut short) body " + xsrtrace::show_bytes(r.body);
        }
        fields->set("module", Value::text(m.module));
        d += " to " + m.module;
        if (!m.target.empty()) {
            fields->set("target", Value::text(m.target));
            d += " target " + m.target;
        }
        if (m.remote) {
            if (m.has_selector) {
                fields->set("engine", Value::integer(m.selector));
                d += " engine " + std::to_string(m.selector);
            }
            const std::string args = xsrtrace::format_args(m.args);
            fields->set("function", Value::text(m.function));
            fields->set("args", Value::text(args));
            fields->set("args_bytes", Value::bytes(m.args.data(), m.args.size()));
            d += ": " + m.function + "(" + args + ")";
        } else {
            fields->set("payload", Value::bytes(m.payload.data(), m.payload.size()));
            d += ": " + xsrtrace::show_bytes(m.payload) + " (" + byte_count(m.payload.size()) + ")";
        }
        return d;
    }
    int32_t t0 = 0, t1 = 0;
    if ((code == 4 || code == 5) && xsrtrace::read_ticket(r.body, &t0, &t1)) {
        Value t = Value::list();
        t.push(Value::integer(t0));
        t.push(Value::integer(t1));
        fields->set("ticket", t);
        return d + " ticket " + std::to_string(t0) + ":" + std::to_string(t1);
    }
    fields->set("body", Value::bytes(r.body.data(), r.body.size()));
    if (!r.body.empty()) d += " " + xsrtrace::show_bytes(r.body);
    return d;
}

// What came back to a command.
std::string answer_text(const xsrtrace::Record& r, Value* fields) {
    if (r.len_null) return "no length offered";
    fields->set("capacity", Value::integer(r.capacity));
    fields->set("answer_length", Value::integer(r.answer_len));
    fields->set("answer", Value::bytes(r.answer.data(), r.answer.size()));
    std::string d = "answer " + std::to_string(r.answer_len) + " bytes (room for " + std::to_string(r.capacity) + ")";
    int32_t t0 = 0, t1 = 0;
    if (r.result == -9000 && xsrtrace::read_ticket(r.answer, &t0, &t1)) {
        Value t = Value::list();
        t.push(Value::integer(t0));
        t.push(Value::integer(t1));
        fields->set("ticket", t);
        return d + ", ticket " + std::to_string(t0) + ":" + std::to_string(t1);
    }
    if (!r.answer.empty()) d += ": " + xsrtrace::show_bytes(r.answer);
    return d;
}

int show_cmd(Context& ctx) {
    // JSON: the report's head before the first record, each record as it
    // is read, so that nothing of the trace is kept.
    bool first = true;
    const bool ok = read_trace(ctx, [&](const xsrtrace::Record& r) {
        Value row = Value::object();
        row.set("seq", Value::integer(static_cast<int64_t>(r.seq)));
        row.set("time_us", Value::integer(r.start_us));
        row.set("pid", Value::integer(static_cast<int64_t>(r.pid)));
        row.set("thread", Value::integer(static_cast<int64_t>(r.thread)));
        row.set("call", Value::text(xsrtrace::fn_name(r.fn)));
        row.set("duration_us", Value::integer(r.duration_us));
        std::string what;
        switch (r.fn) {
            case xsrtrace::Fn::Open:
                row.set("server", Value::text(r.server));
                row.set("port", Value::integer(r.port));
                row.set("user", Value::text(r.user));
                row.set("login_server", Value::text(r.login_server));
                if (r.password_recorded) row.set("password", Value::text(r.password));
                row.set("handle", Value::integer(r.handle));
                what = r.server + ":" + std::to_string(r.port) + " as " + r.user +
                       (r.result == 0 ? ", handle " + std::to_string(r.handle) : std::string());
                break;
            case xsrtrace::Fn::Check:
                row.set("server", Value::text(r.server));
                row.set("port", Value::integer(r.port));
                what = r.server + ":" + std::to_string(r.port);
                break;
            case xsrtrace::Fn::Close:
            case xsrtrace::Fn::IsValid:
                row.set("handle", Value::integer(r.handle));
                what = "handle " + std::to_string(r.handle);
                break;
            case xsrtrace::Fn::Command: {
                row.set("handle", Value::integer(r.handle));
                Value req = Value::object(), ans = Value::object();
                what = "handle " + std::to_string(r.handle) + " " + request_text(r, &req);
                const std::string got = answer_text(r, &ans);
                row.set("request", req);
                row.set("reply", ans);
                what += "; " + got;
                break;
            }
        }
        row.set("result", Value::integer(r.result));
        row.set("meaning", Value::text(meaning_of(r)));
        if (!ctx.render.json)
            *ctx.out << escaped("#" + std::to_string(r.seq) + " " + clock_time(r.start_us) + " thread " +
                                std::to_string(r.thread) + " " + xsrtrace::fn_name(r.fn) + " " + what +
                                " -> " + std::to_string(r.result) + " " + meaning_of(r) + " (" +
                                std::to_string(r.duration_us) + " us)")
                     << "\n";
        if (ctx.render.json) {
            if (first) *ctx.out << "{\n  \"ok\": true,\n  \"result\": 0,\n  \"meaning\": \"success\",\n  \"records\": [\n";
            std::ostringstream one;
            render(one, row, ctx.render);
            std::string text = one.str();
            if (!text.empty() && text.back() == '\n') text.pop_back();
            std::string indented = first ? "    " : ",\n    ";
            for (char c : text) {
                indented += c;
                if (c == '\n') indented += "    ";
            }
            *ctx.out << indented;
        }
        first = false;
    });
    if (ctx.render.json && !first) *ctx.out << "\n  ]\n}\n";
    return ok ? kExitOk : kExitFailed;
}

// The name calls are counted under: the function, and for commands the
// command, module and remote function.
std::string stats_key(const xsrtrace::Record& r) {
    if (r.fn != xsrtrace::Fn::Command) return xsrtrace::fn_name(r.fn);
    std::string k = xsrtrace::command_name(r.code());
    const xsrtrace::Message m = xsrtrace::read_message(r);
    if (m.is_message && !m.malformed) {
        k += " " + m.module;
        if (m.remote) k += " " + m.function;
    }
    return k;
}

bool is_error(const xsrtrace::Record& r) {
    if (r.fn == xsrtrace::Fn::IsValid) return false;
    return r.result < 0 && r.result != -9000 && r.result != -1108;  // pending and part are steps, not errors
}

// The times of one kind of call, for nearest-rank percentiles in bounded
// memory: kept exactly up to kExact calls; past that, counted in buckets
// whose width is 1/128 of their lower bound (times under 1024 us exactly),
// so a percentile is the lower bound of its bucket, within 0.8 % of the
// true value. The maximum is always exact.
class Durations {
public:
    void add(int64_t us) {
        us = std::max<int64_t>(us, 0);
        max_ = std::max(max_, us);
        ++count_;
        if (buckets_.empty()) {
            exact_.push_back(us);
            if (exact_.size() <= kExact) return;
            buckets_.assign(kBuckets, 0);
            for (int64_t v : exact_) ++buckets_[bucket_of(v)];
            std::vector<int64_t>().swap(exact_);
            return;
        }
        ++buckets_[bucket_of(us)];
    }
    int64_t percentile(double p) {
        if (count_ == 0) return 0;
        const auto rank = std::min<uint64_t>(
            count_, std::max<uint64_t>(static_cast<uint64_t>(std::ceil(p / 100.0 * static_cast<double>(count_))), 1));
        if (buckets_.empty()) {
            std::sort(exact_.begin(), exact_.end());
            return exact_[rank - 1];
        }
        uint64_t seen = 0;
        for (std::size_t b = 0; b < buckets_.size(); ++b) {
            seen += buckets_[b];
            if (seen >= rank) return std::min(lower_bound_of(b), max_);
        }
        return max_;
    }
    int64_t max() const { return max_; }

private:
    static constexpr std::size_t kExact = 4096;
    static constexpr int kSubBits = 7;  // 128 buckets per power of two
    static constexpr std::size_t kLinear = 1024;
    static constexpr std::size_t kBuckets = kLinear + (63 - 10) * (std::size_t(1) << kSubBits);
    static std::size_t bucket_of(int64_t v) {
        if (v < static_cast<int64_t>(kLinear)) return static_cast<std::size_t>(v);
        int e = 63;
        while (!(static_cast<uint64_t>(v) >> e)) --e;  // e >= 10
        const auto sub = static_cast<std::size_t>((static_cast<uint64_t>(v) >> (e - kSubBits)) & ((1u << kSubBits) - 1));
        return kLinear + static_cast<std::size_t>(e - 10) * (std::size_t(1) << kSubBits) + sub;
    }
    static int64_t lower_bound_of(std::size_t b) {
        if (b < kLinear) return static_cast<int64_t>(b);
        const std::size_t e = 10 + (b - kLinear) / (std::size_t(1) << kSubBits);
        const std::size_t sub = (b - kLinear) % (std::size_t(1) << kSubBits);
        return static_cast<int64_t>(((uint64_t(1) << kSubBits) + sub) << (e - kSubBits));
    }
    uint64_t count_ = 0;
    int64_t max_ = 0;
    std::vector<int64_t> exact_;
    std::vector<uint64_t> buckets_;
};

int stats_cmd(Context& ctx) {
    struct Group {
        int64_t calls = 0, errors = 0;
        Durations us;
        std::map<int32_t, int64_t> codes;
    };
    // Kinds of call named by the trace: at most kMaxGroups rows; calls of
    // further kinds are counted under one row of their own. Result codes:
    // at most kMaxCodes, the rest under one line.
    constexpr std::size_t kMaxGroups = 256, kMaxCodes = 256;
    const std::string kOther = "(other kinds of call)";
    constexpr int32_t kOtherCodes = INT32_MIN;
    std::map<std::string, Group> groups;
    Group all;
    ReadFigures figures;
    const bool ok = read_trace(
        ctx,
        [&](const xsrtrace::Record& r) {
            std::string key = stats_key(r);
            if (groups.size() >= kMaxGroups && !groups.count(key)) key = kOther;
            for (Group* g : {&groups[key], &all}) {
                ++g->calls;
                g->us.add(r.duration_us);
                if (is_error(r)) {
                    ++g->errors;
                    const int32_t code =
                        g->codes.size() >= kMaxCodes && !g->codes.count(r.result) ? kOtherCodes : r.result;
                    ++g->codes[code];
                }
            }
        },
        &figures);
    if (!ok) return kExitFailed;
    auto row_of = [](const std::string& name, Group& g) {
        Value row = Value::object();
        row.set("call", Value::text(name));
        row.set("calls", Value::integer(g.calls));
        row.set("errors", Value::integer(g.errors));
        row.set("p50_us", Value::integer(g.us.percentile(50)));
        row.set("p90_us", Value::integer(g.us.percentile(90)));
        row.set("p99_us", Value::integer(g.us.percentile(99)));
        row.set("max_us", Value::integer(g.us.max()));
        return row;
    };
    Value rows = Value::list();
    for (auto& g : groups) rows.push(row_of(g.first, g.second));
    Value errors = Value::list();
    for (const auto& c : all.codes) {
        Value e = Value::object();
        e.set("result", Value::integer(c.first));
        e.set("count", Value::integer(c.second));
        const CodeInfo* info = find_code(c.first);
        e.set("meaning", Value::text(c.first == kOtherCodes ? "other results"
                                     : info                ? std::string(info->name) + ": " + info->meaning
                                                           : "failure"));
        errors.push(e);
    }
    Value v = Value::object();
    v.set("records", Value::integer(static_cast<int64_t>(figures.records)));
    v.set("skipped_lines", Value::integer(static_cast<int64_t>(figures.damaged)));
    v.set("torn_tail", Value::boolean(figures.torn));
    v.set("missing_records", Value::integer(static_cast<int64_t>(figures.missing)));
    v.set("calls", rows);
    v.set("errors", errors);
    v.set("total", row_of("all", all));
    if (ctx.render.json) return ctx.report(v);
    // Names in the table come from the trace: escaped for the terminal.
    Value safe_rows = Value::list();
    for (const Value& r : rows.items()) {
        Value s = r;
        s.set("call", Value::text(escaped(r.get("call")->as_text())));
        safe_rows.push(s);
    }
    v.set("calls", safe_rows);
    return ctx.report(v);
}


// --- trace export --format chrome ---------------------------------------------
//
// The Trace Event format that Perfetto (ui.perfetto.dev) and chrome://tracing
// open: a JSON object whose "traceEvents" list holds
// - a name for each process ("M" process_name) and thread ("M" thread_name);
// - one complete slice ("X") per recorded call on its process's and thread's
//   track, named like the rows of trace stats, with the call's fields in args;
// - one enclosing slice per exchange of several calls on one thread (a
//   pending answer or parts, then the polls that fetch them, and a cancel),
//   so its calls appear nested under it;
// - flow arrows ("s", "t", "f") from an asynchronous request to the fetches
//   of its answer by ticket, the last of which hands the answer to the
//   callback.
// Times are microseconds from the first call of the trace.

constexpr int32_t kPending = -9000, kPart = -1108;
constexpr uint16_t kCodeAsync = 3, kCodePoll = 4, kCodeTicket = 5;

struct Event {
    std::string json;
};

std::string slice_name(const xsrtrace::Record& r) {
    if (r.fn == xsrtrace::Fn::Open || r.fn == xsrtrace::Fn::Check)
        return std::string(xsrtrace::fn_name(r.fn)) + " " + r.server + ":" + std::to_string(r.port);
    return stats_key(r);
}

// "key":value pairs for the args of a call's slice.
std::string call_args(const xsrtrace::Record& r) {
    std::string a = "\"seq\":" + std::to_string(r.seq) + ",\"call\":" + json_string(xsrtrace::fn_name(r.fn)) +
                    ",\"handle\":" + std::to_string(r.handle) + ",\"result\":" + std::to_string(r.result) +
                    ",\"meaning\":" + json_string(meaning_of(r));
    switch (r.fn) {
        case xsrtrace::Fn::Open:
            a += ",\"server\":" + json_string(r.server) + ",\"port\":" + std::to_string(r.port) +
                 ",\"user\":" + json_string(r.user);
            break;
        case xsrtrace::Fn::Check:
            a += ",\"server\":" + json_string(r.server) + ",\"port\":" + std::to_string(r.port);
            break;
        case xsrtrace::Fn::Command: {
            a += ",\"command\":" + json_string(xsrtrace::command_name(r.code()));
            const xsrtrace::Message m = xsrtrace::read_message(r);
            if (m.is_message && !m.malformed) {
                a += ",\"module\":" + json_string(m.module);
                if (!m.target.empty()) a += ",\"target\":" + json_string(m.target);
                if (m.remote) {
                    a += ",\"function\":" + json_string(m.function) +
                         ",\"args\":" + json_string(xsrtrace::format_args(m.args));
                    if (m.has_selector) a += ",\"engine\":" + std::to_string(m.selector);
                }
            }
            int32_t t0 = 0, t1 = 0;
            if ((r.code() == kCodePoll || r.code() == kCodeTicket) && xsrtrace::read_ticket(r.body, &t0, &t1))
                a += ",\"ticket\":\"" + std::to_string(t0) + ":" + std::to_string(t1) + "\"";
            a += ",\"bytes_out\":" + std::to_string(r.header.size() + r.body.size() + r.body2.size()) +
                 ",\"bytes_in\":" + std::to_string(r.answer.size());
            if (!r.len_null) a += ",\"answer_length\":" + std::to_string(r.answer_len) + ",\"capacity\":" +
                                  std::to_string(r.capacity);
            break;
        }
        default:
            break;
    }
    return a;
}

std::string event(const char* ph, const std::string& name, const char* cat, uint64_t pid, uint64_t tid, int64_t ts,
                  const std::string& rest) {
    return std::string("{\"ph\":\"") + ph + "\",\"name\":" + json_string(name) + ",\"cat\":\"" + cat +
           "\",\"pid\":" + std::to_string(pid) + ",\"tid\":" + std::to_string(tid) + ",\"ts\":" +
           std::to_string(ts) + rest + "}";
}

int export_cmd(Context& ctx) {
    const std::string format = ctx.in.get("format", "chrome");
    if (format != "chrome") throw UsageError("--format: '" + format + "' is not known (chrome)");
    // A first pass finds the earliest start (records are in the order calls
    // ended) and the count; its damage is named by the second.
    int64_t t0 = 0;
    uint64_t count = 0;
    {
        xsrtrace::Reader first;
        std::string error;
        if (first.open(ctx.in.arg(0), &error)) {
            xsrtrace::Record r;
            while (first.next(&r)) t0 = count++ ? std::min(t0, r.start_us) : r.start_us;
        }
    }
    // Times are within +-kMaxTimeUs (the reader refuses others), so these
    // differences and sums stay far inside 64 bits.
    auto ts_of = [&](const xsrtrace::Record& r) { return r.start_us - t0; };
    auto end_of = [&](const xsrtrace::Record& r) { return ts_of(r) + r.duration_us; };

    bool head = false, any = false;
    auto write = [&](const std::string& e) {
        if (!head) {
            *ctx.out << "{\"displayTimeUnit\":\"ms\",\"otherData\":{\"source\":" << json_string(ctx.in.arg(0))
                     << ",\"records\":" << count << ",\"start_us\":" << t0 << "},\"traceEvents\":[\n";
            head = true;
        }
        *ctx.out << (any ? ",\n" : "") << e;
        any = true;
    };

    // Names of processes and threads, written when one is first seen. At
    // most kMaxNamed are remembered; past that the names start over (a name
    // written twice is harmless).
    constexpr std::size_t kMaxNamed = 65536;
    std::set<std::pair<uint64_t, uint64_t>> named;
    std::set<uint64_t> named_processes;
    auto name_thread = [&](uint64_t pid, uint64_t tid) {
        if (named.count({pid, tid})) return;
        if (named.size() >= kMaxNamed) named.clear();
        if (named_processes.size() >= kMaxNamed) named_processes.clear();
        if (named_processes.insert(pid).second)
            write(event("M", "process_name", "__metadata", pid, 0, 0,
                        ",\"args\":{\"name\":" + json_string("process " + std::to_string(pid)) + "}"));
        named.insert({pid, tid});
        write(event("M", "thread_name", "__metadata", pid, tid, 0,
                    ",\"args\":{\"name\":" + json_string("thread " + std::to_string(tid)) + "}"));
    };

    // Exchanges of one thread: calls from a pending or part answer up to the
    // poll (or cancel) that ends it, on the same handle. Their call slices
    // wait until the exchange ends, so that the exchange's slice is written
    // before the calls it holds (a viewer that keeps the order of equal
    // times nests them). At most kMaxExchangeCalls calls are held for one
    // exchange (a longer one is shown as several) and kMaxOpen exchanges are
    // open at once (past that, all are ended where they stand).
    constexpr std::size_t kMaxExchangeCalls = 4096, kMaxOpen = 4096;
    struct Exchange {
        std::vector<std::string> held;  // the calls' slices
        int32_t handle = 0;
        std::string name;
        uint64_t pid = 0, tid = 0;
        int64_t start = 0, end = 0;
        int32_t result = 0;
        std::string meaning;
    };
    std::map<std::pair<uint64_t, uint64_t>, Exchange> open;
    auto close_exchange = [&](Exchange& x) {
        if (x.held.size() > 1)
            write(event("X", "exchange: " + x.name, "exchange", x.pid, x.tid, x.start,
                        ",\"dur\":" + std::to_string(x.end - x.start) + ",\"args\":{\"calls\":" +
                            std::to_string(x.held.size()) + ",\"result\":" + std::to_string(x.result) +
                            ",\"meaning\":" + json_string(x.meaning) + "}"));
        for (const std::string& e : x.held) write(e);
        x.held.clear();
    };
    // Asynchronous requests waiting for their answer, by process, handle
    // and ticket: at most kMaxOpen (past that, one is forgotten: its arrow
    // has no end).
    std::map<std::tuple<uint64_t, int32_t, int32_t, int32_t>, uint64_t> flows;
    uint64_t next_flow = 1;

    const bool ok = read_trace(ctx, [&](const xsrtrace::Record& r) {
        name_thread(r.pid, r.thread);
        const bool command = r.fn == xsrtrace::Fn::Command;
        const uint16_t code = command ? r.code() : 0;
        const bool unfinished = command && (r.result == kPending || r.result == kPart);
        const int64_t mid = ts_of(r) + r.duration_us / 2;
        std::string call = event("X", slice_name(r), xsrtrace::fn_name(r.fn), r.pid, r.thread, ts_of(r),
                                 ",\"dur\":" + std::to_string(r.duration_us) + ",\"args\":{" + call_args(r) + "}");
        int32_t tk0 = 0, tk1 = 0;
        // An asynchronous request, and the fetches of its answer by ticket.
        if (command && code == kCodeAsync && unfinished) {
            write(call);
            if (r.result == kPending) xsrtrace::read_ticket(r.answer, &tk0, &tk1);
            const uint64_t id = next_flow++;
            if (flows.size() >= kMaxOpen) flows.erase(flows.begin());
            flows[std::make_tuple(r.pid, r.handle, tk0, tk1)] = id;
            write(event("s", "async answer", "async", r.pid, r.thread, mid, ",\"id\":" + std::to_string(id)));
            return;
        }
        if (command && code == kCodeTicket && xsrtrace::read_ticket(r.body, &tk0, &tk1)) {
            const auto it = flows.find(std::make_tuple(r.pid, r.handle, tk0, tk1));
            if (it != flows.end()) {
                write(call);
                const uint64_t id = it->second;
                write(event(unfinished ? "t" : "f", "async answer", "async", r.pid, r.thread, mid,
                            ",\"id\":" + std::to_string(id) + (unfinished ? "" : ",\"bp\":\"e\"")));
                if (!unfinished) flows.erase(it);
                return;
            }
        }
        const auto key = std::make_pair(r.pid, r.thread);
        auto found = open.find(key);
        const bool continues = found != open.end() && !found->second.held.empty() && command &&
                               found->second.handle == r.handle && (code == kCodePoll || code == kCodeTicket);
        if (found != open.end() && !continues) {
            close_exchange(found->second);
            open.erase(found);
            found = open.end();
        }
        if (!continues && !unfinished) {
            write(call);
            return;
        }
        if (found == open.end()) {
            if (open.size() >= kMaxOpen) {
                for (auto& o : open) close_exchange(o.second);
                open.clear();
            }
            found = open.emplace(key, Exchange()).first;
            Exchange& x = found->second;
            x.handle = r.handle;
            x.name = slice_name(r);
            x.pid = r.pid;
            x.tid = r.thread;
            x.start = ts_of(r);
        }
        Exchange& x = found->second;
        x.held.push_back(std::move(call));
        x.end = end_of(r);
        x.result = r.result;
        x.meaning = meaning_of(r);
        if (!unfinished || x.held.size() >= kMaxExchangeCalls) {
            close_exchange(x);
            open.erase(found);
        }
    });
    for (auto& x : open) close_exchange(x.second);
    if (head) *ctx.out << (any ? "\n" : "") << "]}\n";
    return ok ? kExitOk : kExitFailed;
}

}  // namespace

void add_trace_commands(std::vector<CommandSpec>& t) {
    t.push_back({"trace show", "FILE", "show a trace of XSRClient calls, decoded",
                 "Reads a trace written by the recording XSRClient (docs/trace.md) and shows\n"
                 "each call: function, handle, for commands the command by name, the module,\n"
                 "the remote function and its arguments of service calls, the payload of\n"
                 "other messages, tickets of pending answers and polls; the result with its\n"
                 "meaning; the answer's size; the time the call took. Times of day are UTC.\n"
                 "Damaged lines (no complete record) and records missing from a process's\n"
                 "numbers are named on stderr.\n"
                 "Exit 1 when the file cannot be read or holds no record.",
                 {}, 1, 1, false, show_cmd});
    t.push_back({"trace stats", "FILE", "calls, errors and latency percentiles of a trace",
                 "Counts the calls of a trace per function, command, module and remote\n"
                 "function, with their failures (pending and part answers are steps, not\n"
                 "failures) and the 50th, 90th and 99th percentile and maximum of the time\n"
                 "they took (microseconds, nearest rank). Damaged lines are named on stderr.\n"
                 "Exit 1 when the file cannot be read or holds no record.",
                 {}, 1, 1, false, stats_cmd});
    t.push_back({"trace export", "FILE", "write a trace as a timeline for Perfetto or chrome://tracing",
                 "Writes the trace on stdout in the Trace Event JSON format that Perfetto\n"
                 "(ui.perfetto.dev, Open trace file) and chrome://tracing open: a track per\n"
                 "process and thread, a slice per call (function, module, remote function,\n"
                 "result and its meaning, bytes out and in), pending and part answers with\n"
                 "their polls as slices of one exchange, and arrows from each asynchronous\n"
                 "request to the fetches of its answer. Damaged lines are named on stderr.\n"
                 "Exit 1 when the file cannot be read or holds no record.",
                 {{"format", "FORMAT", "chrome (the only format, and the default)"}}, 1, 1, false, export_cmd});
}

}  // namespace orqext

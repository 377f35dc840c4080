// orqext trace show, trace stats: traces written by the recording XSRClient
// (docs/trace.md), decoded as far as the library's own frames allow.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
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

// Reads the trace and names on stderr every damaged line, a torn last line
// and every gap in the record numbers (the first 20 of them, then a count).
// False when the file cannot be read or holds no record at all.
bool read_trace(Context& ctx, xsrtrace::File* file) {
    std::string error;
    const std::string path = ctx.in.arg(0);
    if (!xsrtrace::read_file(path, file, &error)) {
        *ctx.err << "orqext: " << escaped(error) << "\n";
        return false;
    }
    constexpr std::size_t kShown = 20;
    const std::vector<std::string> damage = xsrtrace::damage_report(*file);
    for (std::size_t i = 0; i < damage.size() && i < kShown; ++i)
        *ctx.err << "orqext: " << escaped(path) << ": " << damage[i] << "\n";
    if (damage.size() > kShown)
        *ctx.err << "orqext: " << escaped(path) << ": " << damage.size() - kShown << " more such notes\n";
    if (file->malformed)
        *ctx.err << "orqext: " << file->malformed << " damaged line(s) skipped\n";
    if (file->records.empty()) {
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
    xsrtrace::File file;
    if (!read_trace(ctx, &file)) return kExitFailed;
    Value rows = Value::list();
    for (const xsrtrace::Record& r : file.records) {
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
        rows.push(row);
    }
    if (ctx.render.json) return ctx.report(rows, "records");
    return kExitOk;
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

// Nearest-rank percentile of sorted values.
int64_t percentile(const std::vector<int64_t>& sorted, double p) {
    if (sorted.empty()) return 0;
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
    return sorted[std::min(sorted.size(), std::max<std::size_t>(rank, 1)) - 1];
}

int stats_cmd(Context& ctx) {
    xsrtrace::File file;
    if (!read_trace(ctx, &file)) return kExitFailed;
    struct Group {
        int64_t calls = 0, errors = 0;
        std::vector<int64_t> us;
        std::map<int32_t, int64_t> codes;
    };
    std::map<std::string, Group> groups;
    Group all;
    for (const xsrtrace::Record& r : file.records) {
        for (Group* g : {&groups[stats_key(r)], &all}) {
            ++g->calls;
            g->us.push_back(r.duration_us);
            if (is_error(r)) {
                ++g->errors;
                ++g->codes[r.result];
            }
        }
    }
    auto row_of = [](const std::string& name, Group& g) {
        std::sort(g.us.begin(), g.us.end());
        Value row = Value::object();
        row.set("call", Value::text(name));
        row.set("calls", Value::integer(g.calls));
        row.set("errors", Value::integer(g.errors));
        row.set("p50_us", Value::integer(percentile(g.us, 50)));
        row.set("p90_us", Value::integer(percentile(g.us, 90)));
        row.set("p99_us", Value::integer(percentile(g.us, 99)));
        row.set("max_us", Value::integer(g.us.empty() ? 0 : g.us.back()));
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
        e.set("meaning", Value::text(info ? std::string(info->name) + ": " + info->meaning : "failure"));
        errors.push(e);
    }
    Value v = Value::object();
    v.set("records", Value::integer(static_cast<int64_t>(file.records.size())));
    v.set("skipped_lines", Value::integer(file.malformed));
    v.set("torn_tail", Value::boolean(file.torn_tail));
    int64_t missing = 0;
    for (const auto& g : file.gaps) missing += static_cast<int64_t>(g.last - g.first + 1);
    v.set("missing_records", Value::integer(missing));
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
    xsrtrace::File file;
    if (!read_trace(ctx, &file)) return kExitFailed;
    int64_t t0 = file.records.front().start_us;
    for (const auto& r : file.records) t0 = std::min(t0, r.start_us);
    auto ts_of = [&](const xsrtrace::Record& r) { return r.start_us - t0; };
    auto end_of = [&](const xsrtrace::Record& r) { return ts_of(r) + std::max<int64_t>(r.duration_us, 0); };

    // Events in the order written: an exchange before the calls it holds,
    // so that a viewer that keeps the order of equal times nests them.
    std::vector<std::pair<std::size_t, std::string>> placed;
    struct Events {
        std::vector<std::pair<std::size_t, std::string>>* to;
        void push_back(std::string e) { to->emplace_back(2 * to->size() + 1, std::move(e)); }
    } events{&placed};
    std::map<uint64_t, std::map<uint64_t, bool>> threads;
    for (const auto& r : file.records) threads[r.pid][r.thread] = true;
    for (const auto& p : threads) {
        events.push_back(event("M", "process_name", "__metadata", p.first, 0, 0,
                               ",\"args\":{\"name\":" + json_string("process " + std::to_string(p.first)) + "}"));
        for (const auto& t : p.second)
            events.push_back(event("M", "thread_name", "__metadata", p.first, t.first, 0,
                                   ",\"args\":{\"name\":" + json_string("thread " + std::to_string(t.first)) + "}"));
    }

    // Exchanges of one thread: calls from a pending or part answer up to the
    // poll (or cancel) that ends it, on the same handle.
    struct Exchange {
        std::vector<const xsrtrace::Record*> calls;
        int32_t handle = 0;
        std::size_t first_event = 0;  // order of its first call's event
    };
    std::map<std::pair<uint64_t, uint64_t>, Exchange> open;
    auto close_exchange = [&](Exchange& x) {
        if (x.calls.size() > 1) {
            const xsrtrace::Record& first = *x.calls.front();
            const xsrtrace::Record& last = *x.calls.back();
            placed.emplace_back(x.first_event - 1, event("X", "exchange: " + slice_name(first), "exchange", first.pid, first.thread,
                                   ts_of(first),
                                   ",\"dur\":" + std::to_string(end_of(last) - ts_of(first)) +
                                       ",\"args\":{\"calls\":" + std::to_string(x.calls.size()) +
                                       ",\"result\":" + std::to_string(last.result) +
                                       ",\"meaning\":" + json_string(meaning_of(last)) + "}"));
        }
        x.calls.clear();
    };
    // Asynchronous requests waiting for their answer, by process, handle
    // and ticket.
    std::map<std::tuple<uint64_t, int32_t, int32_t, int32_t>, uint64_t> flows;
    uint64_t next_flow = 1;

    for (const auto& r : file.records) {
        const bool command = r.fn == xsrtrace::Fn::Command;
        const uint16_t code = command ? r.code() : 0;
        const bool unfinished = command && (r.result == kPending || r.result == kPart);
        const int64_t mid = ts_of(r) + std::max<int64_t>(r.duration_us, 0) / 2;
        const std::size_t call_event = 2 * placed.size() + 1;
        events.push_back(event("X", slice_name(r), xsrtrace::fn_name(r.fn), r.pid, r.thread, ts_of(r),
                               ",\"dur\":" + std::to_string(std::max<int64_t>(r.duration_us, 0)) + ",\"args\":{" +
                                   call_args(r) + "}"));
        int32_t tk0 = 0, tk1 = 0;
        // An asynchronous request, and the fetches of its answer by ticket.
        if (command && code == kCodeAsync && unfinished) {
            if (r.result == kPending) xsrtrace::read_ticket(r.answer, &tk0, &tk1);
            const uint64_t id = next_flow++;
            flows[std::make_tuple(r.pid, r.handle, tk0, tk1)] = id;
            events.push_back(event("s", "async answer", "async", r.pid, r.thread, mid,
                                   ",\"id\":" + std::to_string(id)));
            continue;
        }
        if (command && code == kCodeTicket && xsrtrace::read_ticket(r.body, &tk0, &tk1)) {
            const auto it = flows.find(std::make_tuple(r.pid, r.handle, tk0, tk1));
            if (it != flows.end()) {
                const uint64_t id = it->second;
                events.push_back(event(unfinished ? "t" : "f", "async answer", "async", r.pid, r.thread, mid,
                                       ",\"id\":" + std::to_string(id) + (unfinished ? "" : ",\"bp\":\"e\"")));
                if (!unfinished) flows.erase(it);
                continue;
            }
        }
        Exchange& x = open[{r.pid, r.thread}];
        const bool continues = !x.calls.empty() && command && x.handle == r.handle &&
                               (code == kCodePoll || code == kCodeTicket);
        if (!continues) close_exchange(x);
        if (continues || unfinished) {
            if (x.calls.empty()) x.first_event = call_event;
            x.handle = r.handle;
            x.calls.push_back(&r);
            if (!unfinished) close_exchange(x);
        }
    }
    for (auto& x : open) close_exchange(x.second);

    *ctx.out << "{\"displayTimeUnit\":\"ms\",\"otherData\":{\"source\":" << json_string(ctx.in.arg(0))
             << ",\"records\":" << file.records.size() << ",\"start_us\":" << t0 << "},\"traceEvents\":[\n";
    std::stable_sort(placed.begin(), placed.end(),
                     [](const std::pair<std::size_t, std::string>& a, const std::pair<std::size_t, std::string>& b) {
                         return a.first < b.first;
                     });
    for (std::size_t i = 0; i < placed.size(); ++i)
        *ctx.out << placed[i].second << (i + 1 < placed.size() ? ",\n" : "\n");
    *ctx.out << "]}\n";
    return kExitOk;
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

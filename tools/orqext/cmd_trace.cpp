// orqext trace show, trace stats: traces written by the recording XSRClient
// (docs/trace.md), decoded as far as the library's own frames allow.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
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

bool read_trace(Context& ctx, xsrtrace::File* file) {
    std::string error;
    if (!xsrtrace::read_file(ctx.in.arg(0), file, &error)) {
        *ctx.err << "orqext: " << escaped(error) << "\n";
        return false;
    }
    if (file->malformed)
        *ctx.err << "orqext: " << file->malformed
                 << " line(s) are no complete record of trace format version " << xsrtrace::kVersion
                 << " and were skipped\n";
    if (file->torn_tail) *ctx.err << "orqext: the last line is cut short (the program ended while writing it)\n";
    return true;
}

std::string meaning_of(const xsrtrace::Record& r) {
    if (r.fn == xsrtrace::Fn::IsValid) return r.result ? "alive" : "not alive";
    if (const CodeInfo* c = find_code(r.result)) return std::string(c->name) + ": " + c->meaning;
    if (r.result > 0) return "server status word";
    return r.result == 0 ? "success" : "failure";
}

// "HH:MM:SS.uuuuuu" (UTC) of a time in microseconds since 1970.
std::string clock_time(int64_t us) {
    const std::time_t secs = static_cast<std::time_t>(us / 1000000);
    std::tm tm{};
#if defined(_WIN32)
    gmtime_s(&tm, &secs);
#else
    gmtime_r(&secs, &tm);
#endif
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%06lld", tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<long long>(us % 1000000));
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
            d += ": " + xsrtrace::show_bytes(m.payload) + " (" + std::to_string(m.payload.size()) + " bytes)";
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

}  // namespace

void add_trace_commands(std::vector<CommandSpec>& t) {
    t.push_back({"trace show", "FILE", "show a trace of XSRClient calls, decoded",
                 "Reads a trace written by the recording XSRClient (docs/trace.md) and shows\n"
                 "each call: function, handle, for commands the command by name, the module,\n"
                 "the remote function and its arguments of service calls, the payload of\n"
                 "other messages, tickets of pending answers and polls; the result with its\n"
                 "meaning; the answer's size; the time the call took. Times of day are UTC.\n"
                 "Lines that are no complete record are skipped with a note on stderr.\n"
                 "Exit 1 when the file cannot be read.",
                 {}, 1, 1, false, show_cmd});
    t.push_back({"trace stats", "FILE", "calls, errors and latency percentiles of a trace",
                 "Counts the calls of a trace per function, command, module and remote\n"
                 "function, with their failures (pending and part answers are steps, not\n"
                 "failures) and the 50th, 90th and 99th percentile and maximum of the time\n"
                 "they took (microseconds, nearest rank). Exit 1 when the file cannot be read.",
                 {}, 1, 1, false, stats_cmd});
}

}  // namespace orqext

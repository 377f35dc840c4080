// orqext send, sql exec, sql process.
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <future>
#include <memory>
#include <thread>
#include <sstream>

#include "exports/orqext.h"
#include "orqext/resolve.hpp"
#include "platform/files.h"
#include "tools/orqext/async_wait.h"
#include "tools/orqext/commands.h"
#include "tools/orqext/interrupt.h"
#include "tools/orqext/results.h"

namespace orqext {
namespace {

constexpr int64_t kMaxPayload = 64ll * 1024 * 1024;
constexpr int64_t kMaxCapacity = 64ll * 1024 * 1024;
constexpr int64_t kDefaultCapacity = 65536;
constexpr int64_t kDefaultAsyncWaitMs = 30000;

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string parse_hex(const std::string& text) {
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == '\t') continue;
        if (hex_digit(c) < 0) throw UsageError(std::string("--hex-data: '") + c + "' is not a hex digit");
        digits += c;
    }
    if (digits.size() % 2) throw UsageError("--hex-data: an odd number of hex digits");
    std::string out;
    for (std::size_t i = 0; i < digits.size(); i += 2)
        out += static_cast<char>(hex_digit(digits[i]) * 16 + hex_digit(digits[i + 1]));
    return out;
}

std::string read_file(const std::string& path) {
    std::string data;
    orq::platform::FileProblem problem;
    bool cut = false;
    if (!orq::platform::read_whole_file(path, orq::platform::ReadRule::Any, static_cast<std::size_t>(kMaxPayload) + 1,
                                        &data, &problem, &cut))
        throw UsageError("--file: cannot read '" + path + "': " + problem.why);
    if (cut || static_cast<int64_t>(data.size()) > kMaxPayload)
        throw UsageError("--file: '" + path + "' is larger than 64 MiB");
    return data;
}

// The payload from exactly one of PAYLOAD, --file and --hex-data (none: empty).
std::string payload_of(const Context& ctx) {
    const int sources = (ctx.in.args().size() > 1 ? 1 : 0) + (ctx.in.has("file") ? 1 : 0) +
                        (ctx.in.has("hex-data") ? 1 : 0);
    if (sources > 1) throw UsageError("give the payload once: as PAYLOAD, with --file or with --hex-data");
    if (ctx.in.args().size() > 1) return ctx.in.arg(1);
    if (ctx.in.has("file")) return read_file(ctx.in.get("file"));
    if (ctx.in.has("hex-data")) return parse_hex(ctx.in.get("hex-data"));
    return std::string();
}

int send_async(Context& ctx, int32_t conn, const std::string& module, const char* target,
               const std::string& payload, int32_t capacity, Value v) {
    if (payload.empty()) throw UsageError("--async needs a payload (an asynchronous message cannot be empty)");
    const int64_t wait_ms = ctx.in.integer("wait", 0, 3600000, kDefaultAsyncWaitMs);
    const int32_t id = static_cast<int32_t>(ctx.in.integer("request-id", INT32_MIN, INT32_MAX, 1));
    AsyncWait::arm(id);
    // Ctrl-C in the shell: a request still in the library's queue is
    // cancelled on the server. ORQExt_CancelAsync waits while the library's
    // worker has the request in hand, so it is asked on a thread of its own
    // for a short while; when it cannot help, the Session's action closes the
    // connection, which ends the worker's call and so the cancel as well.
    // Either way the wait for the callback ends now.
    const int action = interrupts::active() ? interrupts::push_action([id] {
        auto answer = std::make_shared<std::promise<int32_t>>();
        std::future<int32_t> rc = answer->get_future();
        std::thread([id, answer] { answer->set_value(ORQExt_CancelAsync(0, id)); }).detach();
        const bool cancelled = rc.wait_for(std::chrono::milliseconds(300)) == std::future_status::ready && rc.get() >= 0;
        AsyncWait::abandon();
        if (!cancelled) return std::string();
        return "orqext: interrupted: asynchronous request " + std::to_string(id) + " was cancelled on the server\n";
    })
                                            : 0;
    const int32_t queued = ORQExt_AsyncSendMessage(conn, module.c_str(), target, payload.data(),
                                                   static_cast<int32_t>(payload.size()), id, capacity);
    int32_t rc = queued;
    AsyncAnswer got;
    const bool answered = queued >= 0 && AsyncWait::wait(wait_ms, &got);
    if (queued >= 0 && !answered) {
        // No callback in time: take the request back so it cannot answer later.
        ORQExt_CancelAsync(0, id);
        rc = -1112;
    }
    if (action) interrupts::pop_action(action);
    ORQExt_SetAsyncFunc(nullptr, nullptr);
    AsyncWait::disarm();
    v.set("request_id", Value::integer(id));
    if (answered) {
        rc = got.result;
        v.set("answer_length", Value::integer(static_cast<int64_t>(got.bytes.size())));
        v.set("answer", Value::bytes(got.bytes.data(), got.bytes.size()));
    }
    return ctx.finish(v, answered || queued < 0 ? "asynchronous message to " + module
                                                : "asynchronous message to " + module + " (no callback within " +
                                                      std::to_string(wait_ms) + " ms; cancelled)",
                      rc);
}

int send_cmd(Context& ctx) {
    const std::string module = ctx.in.arg(0);
    const std::string payload = payload_of(ctx);
    const int64_t limit = ctx.in.integer("time-limit", -1, INT32_MAX, -1);
    if (ctx.in.has("cancel") && limit < 0) throw UsageError("--cancel needs --time-limit");
    if (ctx.in.has("async") && (ctx.in.has("time-limit") || ctx.in.has("cluster")))
        throw UsageError("--async cannot be combined with --time-limit or --cluster (use --wait)");
    if (!ctx.in.has("async") && (ctx.in.has("wait") || ctx.in.has("request-id")))
        throw UsageError("--wait and --request-id belong to --async");
    const int32_t capacity = static_cast<int32_t>(ctx.in.integer("capacity", 0, kMaxCapacity, kDefaultCapacity));
    const std::string target = ctx.in.get("target");
    const char* tgt = ctx.in.has("target") ? target.c_str() : nullptr;

    ctx.module = module;
    Session s(ctx);
    Value v = Value::object();
    v.set("module", Value::text(module));
    v.set("payload_length", Value::integer(static_cast<int64_t>(payload.size())));
    if (ctx.in.has("async")) return send_async(ctx, s.conn(), module, tgt, payload, capacity, v);
    // --cluster routes this message only: a session's connection gets its
    // switch back as it was.
    const bool clustering_was_on = ORQExt_IsClusterEnable(s.conn()) != 0;
    if (ctx.in.has("cluster")) {
        check("switching clustering on", ORQExt_EnableCluster(s.conn(), 1));
        v.set("routed", Value::boolean(true));
    }
    std::string answer(static_cast<std::size_t>(capacity), '\0');
    int32_t len = capacity;
    const int32_t rc =
        limit < 0 && !ctx.in.has("cancel")
            ? ORQExt_SendMessage(s.conn(), module.c_str(), tgt, payload.data(), static_cast<int32_t>(payload.size()),
                                 capacity ? &answer[0] : nullptr, &len)
            : ORQExt_SendMessageTimeOut(s.conn(), module.c_str(), tgt, payload.data(),
                                        static_cast<int32_t>(payload.size()), capacity ? &answer[0] : nullptr, &len,
                                        static_cast<int32_t>(limit), ctx.in.has("cancel") ? 1 : 0);
    // Only a result that says the buffer holds an answer makes its bytes
    // worth showing: a refusal before the exchange leaves the length at the
    // capacity and the buffer as it was.
    if (ctx.in.has("cluster") && !clustering_was_on) ORQExt_EnableCluster(s.conn(), 0);
    const bool holds = buffer_holds_answer(rc);
    if (holds) {
        v.set("answer_length", Value::integer(len));
        // The buffer holds at most its capacity; after -1107 the length says
        // how long the whole answer was.
        const int32_t kept = len < 0 ? 0 : (len < capacity ? len : capacity);
        v.set("answer", Value::bytes(answer.data(), static_cast<std::size_t>(kept)));
    }
    const std::string advice = rc == -1107 ? capacity_advice(len, capacity, kMaxCapacity) : std::string();
    if (!advice.empty() && len <= kMaxCapacity) v.set("capacity_needed", Value::integer(len));
    const int code = ctx.finish(v, "message to " + module, rc);
    if (!advice.empty()) *ctx.err << "orqext: " << advice << "\n";
    return code;
}

int sql_exec(Context& ctx) {
    const std::string stmt = ctx.in.arg(0);
    Value v = Value::object();
    v.set("statement", Value::text(stmt));
    if (ctx.in.has("connect")) {
        // The connect string goes to the library as it is, which opens and
        // closes a connection of its own for the statement.
        const Endpoint e = ctx.endpoint();  // checks the string first, for a clear message
        v.set("server", Value::text(e.host));
        if (e.host.size() <= server_name_room)
            return ctx.finish(v, "statement", ORQExt_ExecSql(ctx.in.get("connect").c_str(), stmt.c_str()));
        // A server name longer than the login record holds: the string again
        // with each IPv4 address in turn (as Context::connect does).
        const std::vector<std::string> names = server_names_to_try(e.host);
        if (names.empty())
            throw CallFailed{"resolving " + e.host, -20001, kExitConnect,
                             server_name_refusal("server in --connect", e.host)};
        int32_t rc = 0;
        for (const std::string& name : names) {
            const std::string text = "server=" + name + ";port=" + std::to_string(e.port) + ";user=" + e.user +
                                     ";pass=" + e.password;
            rc = ORQExt_ExecSql(text.c_str(), stmt.c_str());
            if (!try_next_address(rc)) break;
        }
        return ctx.finish(v, "statement", rc);
    }
    Session s(ctx);
    return ctx.finish(v, "statement", ORQExt_ExecSql2(s.conn(), stmt.c_str()));
}

int sql_process(Context& ctx) {
    const std::string stmt = ctx.in.arg(0);
    Session s(ctx);
    Value v = Value::object();
    v.set("statement", Value::text(stmt));
    return ctx.finish(v, "statement process query", ORQExt_QuerySqlProcess(s.conn(), stmt.c_str()));
}

}  // namespace

void add_message_commands(std::vector<CommandSpec>& t) {
    t.push_back({"send", "MODULE [PAYLOAD]", "send a message to a module and show the answer",
                 "The payload is PAYLOAD, the contents of --file, or the bytes of --hex-data\n"
                 "(none of them: an empty payload). The answer is shown as text when it is\n"
                 "printable, otherwise (or with --hex) as a hex dump. An answer longer than\n"
                 "--capacity fails with -1107 and shows its leading part and full length,\n"
                 "and says which --capacity would hold it. Control characters in the\n"
                 "answer are shown escaped (\\x1b, \\r); --json and --hex show the bytes.\n"
                 "--async queues the message; the library's worker sends it and the answer\n"
                 "arrives through the callback (waited for at most --wait milliseconds).",
                 {{"target", "NAME", "target inside the module"},
                  {"file", "PATH", "payload from a file"},
                  {"hex-data", "HEX", "payload as hex digits (\"48 65 6c 6c 6f\")"},
                  {"capacity", "BYTES", "answer buffer size (default 65536, at most 64 MiB)"},
                  {"time-limit", "MS", "give up after MS milliseconds of pending answer (-1: none)"},
                  {"cancel", "", "cancel the pending answer at the time limit (-1113 instead of -1112)"},
                  {"hex", "", "show the answer as a hex dump"},
                  {"cluster", "", "switch clustering on first: the message goes to a node of the cluster named MODULE"},
                  {"async", "", "send asynchronously and wait for the callback"},
                  {"wait", "MS", "with --async: how long to wait for the callback (default 30000)"},
                  {"request-id", "N", "with --async: the request id (default 1)"}},
                 1, 2, true, send_cmd});
    t.push_back({"sql exec", "STATEMENT", "run a statement",
                 "On a connection opened with the connection options, or, with --connect,\n"
                 "through ORQExt_ExecSql on a temporary connection the library opens itself\n"
                 "(the library sends the connect string's values in lower case).",
                 {}, 1, 1, true, sql_exec});
    t.push_back({"sql process", "STATEMENT", "ask a module for a statement's process",
                 "STATEMENT is an extension statement: use ext MODULE [cmd WORD] [key=value ...]\n"
                 "free text. The free text goes to the module's \"GetKSQLProcess\".",
                 {}, 1, 1, true, sql_process});
}

}  // namespace orqext

// orqext status, module ..., codes.
#include <vector>

#include "exports/orqext.h"
#include "tools/orqext/commands.h"
#include "tools/orqext/results.h"

namespace orqext {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t e = text.find('\n', i);
        if (e == std::string::npos) e = text.size();
        std::string line = text.substr(i, e - i);
        while (!line.empty() && (line.back() == '\0' || line.back() == '\r')) line.pop_back();
        if (!line.empty()) out.push_back(line);
        i = e + 1;
    }
    return out;
}

namespace {

constexpr int32_t kQueryCapacity = 1 << 20;

int status_cmd(Context& ctx) {
    // The probe sends no login record: the host name goes to XSRClient as it
    // is, without the record's limit of 15 characters.
    const Endpoint e = ctx.endpoint(false);
    const int32_t rc = ORQExt_GetServerStatus(e.host.c_str(), e.port);
    Value v = Value::object();
    v.set("server", Value::text(e.host));
    v.set("port", Value::integer(e.port));
    v.set("reachable", Value::boolean(rc >= 0));
    return ctx.finish(v, "server status of " + e.host + ":" + std::to_string(e.port), rc);
}

// A query whose answer is the server's text: shown as its lines.
int query(Context& ctx, const std::string& what, int32_t (*call)(int32_t, void*, int32_t*)) {
    Session s(ctx);
    std::string buf(kQueryCapacity, '\0');
    int32_t len = kQueryCapacity;
    const int32_t rc = call(s.conn(), &buf[0], &len);
    Value v = Value::object();
    if (rc >= 0) {
        const std::string text = buf.substr(0, static_cast<std::size_t>(len < 0 ? 0 : std::min(len, kQueryCapacity)));
        Value lines = Value::list();
        for (const std::string& l : lines_of(text)) lines.push(Value::text(l));
        v.set("lines", lines);
    }
    return ctx.finish(v, what, rc);
}

int module_list(Context& ctx) { return query(ctx, "module list", ORQExt_GetModInfos); }
int module_version(Context& ctx) { return query(ctx, "extension version", ORQExt_GetExtVersion); }

int module_info(Context& ctx) {
    Session s(ctx);
    const std::string name = ctx.in.arg(0);
    const std::string second = ctx.in.get("second");
    std::string buf(kQueryCapacity, '\0');
    int32_t len = kQueryCapacity;
    const int32_t rc = ORQExt_GetModInfo(s.conn(), name.c_str(), ctx.in.has("second") ? second.c_str() : nullptr,
                                         &buf[0], &len);
    Value v = Value::object();
    v.set("module", Value::text(name));
    if (rc >= 0) {
        Value lines = Value::list();
        for (const std::string& l : lines_of(buf.substr(0, static_cast<std::size_t>(len < 0 ? 0 : len))))
            lines.push(Value::text(l));
        v.set("lines", lines);
    }
    return ctx.finish(v, "module information of " + name, rc);
}

const char* opt(const Context& ctx, const std::string& name, std::string* keep) {
    if (!ctx.in.has(name)) return nullptr;
    *keep = ctx.in.get(name);
    return keep->c_str();
}

int module_register(Context& ctx) {
    Session s(ctx);
    const std::string name = ctx.in.arg(0);
    std::string version, file_ref, cmd_param, desc, depend;
    const int32_t rc = ORQExt_RegExtMod(s.conn(), name.c_str(), opt(ctx, "version", &version),
                                        ctx.in.has("autostart") ? 1 : 0, opt(ctx, "file-ref", &file_ref),
                                        opt(ctx, "cmd-param", &cmd_param), opt(ctx, "desc", &desc),
                                        opt(ctx, "depend-files", &depend));
    Value v = Value::object();
    v.set("module", Value::text(name));
    v.set("action", Value::text("register"));
    return ctx.finish(v, "register " + name, rc);
}

int module_unregister(Context& ctx) {
    Session s(ctx);
    const std::string name = ctx.in.arg(0);
    std::string version;
    const int32_t rc = ORQExt_UnRegExtMod(s.conn(), name.c_str(), opt(ctx, "version", &version));
    Value v = Value::object();
    v.set("module", Value::text(name));
    v.set("action", Value::text("unregister"));
    return ctx.finish(v, "unregister " + name, rc);
}

int start_stop(Context& ctx, bool start) {
    Session s(ctx);
    const std::string name = ctx.in.arg(0);
    std::string version;
    const char* ver = opt(ctx, "version", &version);
    const int32_t rc = start ? ORQExt_LoadExtMod(s.conn(), name.c_str(), ver)
                             : ORQExt_UnloadExtMod(s.conn(), name.c_str(), ver);
    Value v = Value::object();
    v.set("module", Value::text(name));
    v.set("action", Value::text(start ? "start" : "stop"));
    return ctx.finish(v, (start ? "start " : "stop ") + name, rc);
}
int module_start(Context& ctx) { return start_stop(ctx, true); }
int module_stop(Context& ctx) { return start_stop(ctx, false); }

Value code_row(const CodeInfo& c) {
    Value r = Value::object();
    r.set("code", Value::integer(c.code));
    r.set("name", Value::text(c.name));
    r.set("source", Value::text(c.source));
    r.set("meaning", Value::text(c.meaning));
    return r;
}

int codes_cmd(Context& ctx) {
    if (!ctx.in.args().empty()) {
        const int32_t code = static_cast<int32_t>(parse_integer(ctx.in.arg(0), INT32_MIN, INT32_MAX, "CODE"));
        const CodeInfo* c = find_code(code);
        if (c) return ctx.report(code_row(*c));
        if (code > 0) {
            // Not a Result code: a call's success that carries a value.
            const CodeInfo word{code, "status word", "server",
                                "a non-negative result is success; what the number is (a handle, a count, a score, "
                                "a flag) depends on the call: its command or the C header says"};
            return ctx.report(code_row(word));
        }
        *ctx.err << "orqext: " << describe(code) << "\n";
        return kExitFailed;
    }
    Value rows = Value::list();
    for (const CodeInfo& c : code_table()) rows.push(code_row(c));
    return ctx.report(rows, "codes");
}

const OptionSpec kVersion{"version", "VERSION", "module version"};

}  // namespace

void add_admin_commands(std::vector<CommandSpec>& t) {
    t.push_back({"status", "", "probe the server without logging in",
                 "Calls ORQExt_GetServerStatus with --host and --port (or the server and port\n"
                 "of --connect) and reports whether the server answers.",
                 {}, 0, 0, true, status_cmd});
    t.push_back({"module list", "", "list the extension modules of the server",
                 "The server's answer is shown line by line, as the server sends it.", {}, 0, 0, true,
                 module_list});
    t.push_back({"module info", "NAME", "information on one module",
                 "The server's answer is shown line by line, as the server sends it.",
                 {{"second", "NAME", "second name sent with the request"}}, 1, 1, true, module_info});
    t.push_back({"module version", "", "version of the server's extension layer", "", {}, 0, 0, true,
                 module_version});
    t.push_back({"module register", "NAME", "register a module",
                 "Sends \"use ext NAME cmd reg version=...\" with the pieces the options give.\n"
                 "Without --version the version 1.0.0.0 is sent.",
                 {kVersion,
                  {"autostart", "", "start the module with the server (ModType=autostart)"},
                  {"file-ref", "FILE", "FileRef: the module's file (xsr-sim: its hosted module type)"},
                  {"cmd-param", "TEXT", "CmdParam: the module's command parameter"},
                  {"desc", "TEXT", "Desc: a description"},
                  {"depend-files", "FILES", "DependFiles: files the module depends on"}},
                 1, 1, true, module_register});
    t.push_back({"module unregister", "NAME", "unregister a module", "", {kVersion}, 1, 1, true,
                 module_unregister});
    t.push_back({"module start", "NAME", "start a registered module",
                 "The server's result comes back as it is, without waiting for a pending one.", {kVersion}, 1, 1,
                 true, module_start});
    t.push_back({"module stop", "NAME", "stop a module",
                 "The server's result comes back as it is, without waiting for a pending one.", {kVersion}, 1, 1,
                 true, module_stop});
    t.push_back({"codes", "[CODE]", "explain Result codes",
                 "Without CODE: the table of every Result code orqext knows, with where it\n"
                 "comes from. With CODE: that code alone (exit 1 when it is not known).",
                 {}, 0, 1, false, codes_cmd});
}

}  // namespace orqext

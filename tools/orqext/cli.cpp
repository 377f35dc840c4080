#include "tools/orqext/cli.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <exception>
#include <sstream>

#include <unistd.h>

#include "exports/orqext.h"
#include "orqext/resolve.hpp"
#include "tools/orqext/credentials.h"
#include "tools/orqext/interrupt.h"
#include "tools/orqext/link.h"
#include "tools/orqext/results.h"
#include "tools/orqext/shell.h"

namespace orqext {

// ---- Invocation ----------------------------------------------------------

std::string Invocation::get(const std::string& name, const std::string& fallback) const {
    auto it = opts_.find(name);
    return it == opts_.end() || it->second.empty() ? fallback : it->second.back();
}

const std::vector<std::string>& Invocation::all(const std::string& name) const {
    static const std::vector<std::string> none;
    auto it = opts_.find(name);
    return it == opts_.end() ? none : it->second;
}

int64_t parse_integer(const std::string& text, int64_t min, int64_t max, const std::string& what) {
    const std::string range = " (expected a whole number from " + std::to_string(min) + " to " +
                              std::to_string(max) + ")";
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i == text.size() || text.size() - i > 18) throw UsageError(what + ": '" + text + "' is not a number" + range);
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            throw UsageError(what + ": '" + text + "' is not a number" + range);
        v = v * 10 + (text[i] - '0');
    }
    if (negative) v = -v;
    if (v < min || v > max) throw UsageError(what + ": " + text + " is out of range" + range);
    return v;
}

int64_t Invocation::integer(const std::string& name, int64_t min, int64_t max, int64_t fallback) const {
    if (!has(name)) return fallback;
    return parse_integer(get(name), min, max, "--" + name);
}

// ---- connection ----------------------------------------------------------

namespace {

void check_field(const std::string& what, const std::string& v, std::size_t max, bool may_be_empty) {
    if (v.empty() && !may_be_empty) throw UsageError(what + " must not be empty");
    if (v.size() > max)
        throw UsageError(what + " is " + std::to_string(v.size()) + " characters long; the login record holds " +
                         std::to_string(max));
}

void check_endpoint(const Endpoint& e, const std::string& via, bool for_login) {
    // A host name longer than the login record holds is resolved when the
    // connection is opened (Context::connect).
    check_field(via == "connect" ? "server in --connect" : "--host", e.host, std::string::npos, false);
    if (!for_login) return;
    check_field(via == "connect" ? "user in --connect" : "--user", e.user, 63, true);
    if (e.password_given)
        check_field(via == "connect" ? "pass in --connect" : "--password or ORQEXT_PASSWORD", e.password, 31, true);
}

}  // namespace

Endpoint parse_connect_string(const std::string& text) {
    Endpoint e;
    bool seen[4] = {false, false, false, false};
    static const char* const keys[4] = {"server", "port", "user", "pass"};
    std::size_t i = 0;
    while (i <= text.size()) {
        std::size_t end = text.find(';', i);
        if (end == std::string::npos) end = text.size();
        const std::string item = text.substr(i, end - i);
        i = end + 1;
        if (item.find_first_not_of(" \t") == std::string::npos) continue;
        const std::size_t eq = item.find('=');
        if (eq == std::string::npos) throw UsageError("--connect: '" + item + "' is not key=value");
        std::string key = item.substr(0, eq);
        key.erase(0, key.find_first_not_of(" \t"));
        key.erase(key.find_last_not_of(" \t") + 1);
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::string value = item.substr(eq + 1);
        int k = -1;
        for (int j = 0; j < 4; ++j)
            if (key == keys[j]) k = j;
        if (k < 0) throw UsageError("--connect: unknown key '" + key + "' (keys: server, port, user, pass)");
        seen[k] = true;
        if (k == 0) e.host = value;
        if (k == 1) e.port = static_cast<int32_t>(parse_integer(value, 1, 65535, "port in --connect"));
        if (k == 2) e.user = value;
        if (k == 3) e.password = value;
        if (k == 3) e.password_given = true;
    }
    std::string missing;
    for (int j = 0; j < 4; ++j)
        if (!seen[j]) missing += std::string(missing.empty() ? "" : ", ") + keys[j];
    if (!missing.empty()) throw UsageError("--connect: missing " + missing + " (expected server=...;port=...;user=...;pass=...)");
    return e;
}

Endpoint Context::endpoint(bool for_login) const {
    if (in.has("connect")) {
        Endpoint e = parse_connect_string(in.get("connect"));
        check_endpoint(e, "connect", for_login);
        return e;
    }
    // Options first, then the environment, then the defaults.
    Endpoint e;
    e.host = in.get("host", env_or("ORQEXT_HOST", e.host));
    if (in.has("port"))
        e.port = static_cast<int32_t>(in.integer("port", 1, 65535, e.port));
    else if (std::getenv("ORQEXT_PORT"))
        e.port = static_cast<int32_t>(parse_integer(env_or("ORQEXT_PORT", ""), 1, 65535, "ORQEXT_PORT"));
    e.user = in.get("user", env_or("ORQEXT_USER", e.user));
    e.password_given = in.has("password") || std::getenv("ORQEXT_PASSWORD") != nullptr;
    e.password = in.get("password", env_or("ORQEXT_PASSWORD", e.password));
    check_endpoint(e, "options", for_login);
    return e;
}

int32_t Context::connect() const {
    Endpoint e = endpoint();
    if (!e.password_given) {
        std::string found;
        if (password_from_file(in.get("password-file"), e.host, e.port, e.user, &found) ||
            prompt_password(e.host, e.port, e.user, *err, &found)) {
            e.password = found;
            e.password_given = true;
            check_endpoint(e, "options", true);
        } else if (!password_prompt_allowed()) {
            throw CallFailed{"login without a known password", -20004, kExitConnect};
        }
    }
    // A name longer than the login record's 15 characters: each of its IPv4
    // addresses in turn, as dotted text (the rule of the C++ layer).
    const std::vector<std::string> names = server_names_to_try(e.host);
    if (names.empty())
        throw CallFailed{"resolving " + e.host, -20001, kExitConnect,
                         server_name_refusal(in.has("connect") ? "server in --connect" : "--host", e.host)};
    int32_t status = 0, conn = 0;
    std::string at = e.host;
    for (const std::string& name : names) {
        if (conn != 0) ORQExt_DisConnect(conn);
        at = name == e.host ? e.host : e.host + " (" + name + ")";
        conn = ORQExt_Connect(name.c_str(), e.port, e.user.c_str(), e.password.c_str(), &status);
        if (!try_next_address(status)) break;
    }
    if (status < 0) {
        if (conn != 0) ORQExt_DisConnect(conn);
        throw CallFailed{"connect to " + at + ":" + std::to_string(e.port) + " as " + e.user, status, kExitConnect};
    }
    return conn;
}

namespace {

// The one shape of every --json report: "ok", "result" and "meaning" first,
// then the command's own fields. A payload that is no object (a table)
// becomes the field list_key.
Value json_report(const Value& payload, bool ok, Value result, const std::string& meaning, const char* list_key) {
    Value v = Value::object();
    v.set("ok", Value::boolean(ok));
    v.set("result", std::move(result));
    v.set("meaning", Value::text(meaning));
    if (payload.kind() != Value::Kind::Object) {
        v.set(list_key, payload);
        return v;
    }
    for (const auto& f : payload.fields())
        if (f.first != "ok" && f.first != "result" && f.first != "meaning") v.set(f.first, f.second);
    return v;
}

}  // namespace

int Context::report(const Value& v, const char* list_key) const {
    if (render.json)
        orqext::render(*out, json_report(v, true, Value::integer(0), "success", list_key), render);
    else
        orqext::render(*out, v, render);
    return kExitOk;
}

void Context::emit(const Value& v, int32_t rc, bool ok) const {
    if (!render.json) {
        orqext::render(*out, v, render);
        return;
    }
    const Value* m = v.get("meaning");
    orqext::render(*out, json_report(v, ok, Value::integer(rc), m ? m->as_text() : std::string(), "items"), render);
}

Session::Session(const Context& ctx) {
    if (ctx.link) conn_ = ctx.link->acquire(ctx);
    own_ = conn_ == 0;
    if (own_) conn_ = ctx.connect();
    if (!interrupts::active()) return;
    if (!own_) {
        action_ = interrupts::push_action(ctx.link->drop_action());
        return;
    }
    const int32_t h = conn_;
    action_ = interrupts::push_action([h] {
        ORQExt_DisConnect(h);
        return interrupts::abandoned_note(false);
    });
}

Session::~Session() {
    if (action_) interrupts::pop_action(action_);
    if (own_) ORQExt_DisConnect(conn_);
}

namespace {

int exit_code_for(int32_t rc) {
    if (rc == -1112 || rc == -1113) return kExitTimeout;
    if (rc == -20001 || rc == -20002 || rc == -20003 || rc == -20004 || rc == -20006) return kExitConnect;
    return kExitFailed;
}

}  // namespace

namespace {

// What to run when the module a command needs is missing or stopped.
std::string module_advice(const Context& ctx, int32_t rc) {
    if (ctx.module.empty()) return std::string();
    const std::string name = terminal_safe(ctx.module);
    bool options = false;
    for (const char* o : {"host", "port", "user", "password", "password-file", "connect"}) options = options || ctx.in.has(o);
    const std::string same = options ? " (with the same connection options)" : "";
    if (rc == -20102) return "the module " + name + " is registered but not started; start it: orqext module start " + name + same;
    if (rc != -20101) return std::string();
    if (ctx.service_module)
        return "the server has no module " + name + "; register and start it: orqext module register " + name +
               " --autostart" + same;
    return "the server has no module " + name + "; 'orqext module list' shows the modules it has";
}

}  // namespace

int Context::finish(Value v, const std::string& what, int32_t rc, const char* meaning) const {
    return finish_as(std::move(v), what, rc, meaning, rc >= 0);
}

int Context::finish_as(Value v, const std::string& what, int32_t rc, const char* meaning, bool ok) const {
    const Value r = result_object(rc);
    for (const auto& f : r.fields()) v.set(f.first, f.second);
    if (meaning && rc > 0) v.set("meaning", Value::text(meaning));
    emit(v, rc, ok);
    if (rc >= 0) return kExitOk;
    *err << "orqext: " << terminal_safe(what) << " failed: " << describe(rc) << "\n";
    const std::string advice = module_advice(*this, rc);
    if (!advice.empty()) *err << "orqext: " << advice << "\n";
    return exit_code_for(rc);
}

int Context::finish_cut(Value v, const std::string& what, int32_t rc, const char* meaning,
                        const std::string& why) const {
    v.set("cut", Value::boolean(true));
    finish_as(std::move(v), what, rc, meaning, false);
    *err << "orqext: " << terminal_safe(what) << ": " << why << "\n";
    return kExitCut;
}

void check(const std::string& what, int32_t rc) {
    if (rc < 0) throw CallFailed{what, rc, exit_code_for(rc)};
}

Value result_object(int32_t rc) {
    Value v = Value::object();
    v.set("result", Value::integer(rc));
    const CodeInfo* c = find_code(rc);
    v.set("meaning", Value::text(c ? c->meaning : rc > 0 ? "server status word" : "failure"));
    return v;
}

// ---- parsing -------------------------------------------------------------

namespace {

const std::vector<OptionSpec>& global_options() {
    static const std::vector<OptionSpec> g = {
        {"json", "", "print the report as JSON (for scripts)"},
        {"help", "", "show help for the command"},
    };
    return g;
}

// Options of orqext without a command (the shell and batch mode).
const std::vector<OptionSpec>& session_options() {
    static const std::vector<OptionSpec> s = {
        {"input", "FILE", "read the commands from FILE, one a line (also -f FILE)"},
        {"stop-on-error", "", "end a batch at the first failing line, with its exit code"},
    };
    return s;
}

const std::vector<OptionSpec>& connection_options() {
    static const std::vector<OptionSpec> c = {
        {"host", "HOST", "server name or address (default 127.0.0.1; a name over 15 characters is resolved)"},
        {"port", "PORT", "server port (default 7300)"},
        {"user", "USER", "user name (default admin)"},
        {"password", "PASSWORD", "password (visible to other users: prefer the ones below)"},
        {"password-file", "FILE", "host:port:user:password lines, mode 0600 (default ~/.orqextpass)"},
        {"connect", "STRING", "\"server=...;port=...;user=...;pass=...\" instead of the options above"},
    };
    return c;
}

// Whether an option takes a value, looked up over every command so that
// options can be parsed before the command is known.
const OptionSpec* find_option(const std::string& name) {
    for (const auto* list : {&global_options(), &connection_options(), &session_options()})
        for (const OptionSpec& o : *list)
            if (o.name == name) return &o;
    for (const CommandSpec& c : commands())
        for (const OptionSpec& o : c.options)
            if (o.name == name) return &o;
    return nullptr;
}

std::vector<std::string> split_words(const std::string& path) {
    std::vector<std::string> w;
    std::istringstream is(path);
    std::string s;
    while (is >> s) w.push_back(s);
    return w;
}

struct Parsed {
    std::vector<std::pair<std::string, std::string>> opts;
    std::vector<std::string> words;
    std::size_t leading = 0;  // options written before the command's first word
};

bool looks_numeric(const std::string& t) {
    return t.size() > 1 && t[0] == '-' && std::isdigit(static_cast<unsigned char>(t[1]));
}

Parsed tokenize(int argc, char** argv) {
    Parsed p;
    bool only_words = false;
    for (int i = 1; i < argc; ++i) {
        const std::string t = argv[i] ? argv[i] : "";
        if (only_words || t.empty() || t[0] != '-' || t == "-" || looks_numeric(t)) {
            p.words.push_back(t);
            continue;
        }
        if (t == "--") {
            only_words = true;
            continue;
        }
        if (t == "-h") {
            p.opts.push_back({"help", ""});
            continue;
        }
        if (t == "-f") {
            if (i + 1 >= argc || !argv[i + 1]) throw UsageError("option -f needs a value (FILE)");
            if (p.words.empty()) p.leading = p.opts.size() + 1;
            p.opts.push_back({"input", argv[++i]});
            continue;
        }
        if (t.compare(0, 2, "--") != 0) throw UsageError("unknown option '" + t + "' (options are written --name)");
        const std::size_t eq = t.find('=');
        const std::string name = t.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        const OptionSpec* o = find_option(name);
        if (!o) throw UsageError("unknown option '--" + name + "'");
        if (p.words.empty()) p.leading = p.opts.size() + 1;
        if (o->value.empty()) {
            if (eq != std::string::npos) throw UsageError("option --" + name + " takes no value");
            p.opts.push_back({name, ""});
        } else if (eq != std::string::npos) {
            p.opts.push_back({name, t.substr(eq + 1)});
        } else {
            if (i + 1 >= argc || !argv[i + 1]) throw UsageError("option --" + name + " needs a value (" + o->value + ")");
            p.opts.push_back({name, argv[++i]});
        }
    }
    return p;
}

std::string option_line(const OptionSpec& o) {
    std::string left = "  --" + o.name + (o.value.empty() ? "" : " " + o.value);
    if (left.size() < 24) left += std::string(24 - left.size(), ' ');
    else left += "  ";
    return left + o.help + "\n";
}

void overall_help(std::ostream& out) {
    out << "Usage: orqext [options] <command> [arguments]\n\n"
           "Works with the extension-module layer of a full-text search server through the\n"
           "ORQExtClient library.\n\nCommands:\n";
    for (const CommandSpec& c : commands()) {
        std::string left = "  " + c.path + (c.usage.empty() ? "" : " " + c.usage);
        if (left.size() < 40) left += std::string(40 - left.size(), ' ');
        else left += "  ";
        out << left << c.summary << "\n";
    }
    out << "\nConnection options (commands that talk to a server):\n";
    for (const OptionSpec& o : connection_options()) out << option_line(o);
    out << "Options left out are taken from ORQEXT_HOST, ORQEXT_PORT, ORQEXT_USER and\n"
           "ORQEXT_PASSWORD; a password not given is looked up in the password file, then\n"
           "asked for on a terminal (without echo), else admin.\n";
    out << "\nOutput options:\n";
    for (const OptionSpec& o : global_options()) out << option_line(o);
    out << "\nWithout a command, orqext reads commands: a shell on a terminal (one\n"
           "connection for the whole session; 'connect' or \\c switches server), one command\n"
           "a line from standard input or -f FILE otherwise (with options, or -f).\n";
    for (const OptionSpec& o : session_options()) out << option_line(o);
    out << "\nRun 'orqext <command> --help' for a command's own options; 'orqext --version'\n"
           "prints the version.\n"
           "Exit codes: 0 success; 1 a call failed (its Result code and meaning go to stderr);\n"
           "2 bad command line; 3 the server could not be reached or refused the login;\n"
           "4 no answer within the time limit; 5 a list answer filled its room and may be cut.\n";
}

void group_help(std::ostream& out, const std::string& group) {
    out << "Usage: orqext " << group << " <subcommand> [arguments]\n\nSubcommands:\n";
    for (const CommandSpec& c : commands()) {
        if (c.path.compare(0, group.size() + 1, group + " ") != 0) continue;
        std::string left = "  " + c.path + (c.usage.empty() ? "" : " " + c.usage);
        if (left.size() < 40) left += std::string(40 - left.size(), ' ');
        else left += "  ";
        out << left << c.summary << "\n";
    }
    out << "\nRun 'orqext " << group << " <subcommand> --help' for details.\n";
}

void command_help(std::ostream& out, const CommandSpec& c) {
    out << "Usage: orqext " << c.path << (c.usage.empty() ? "" : " " + c.usage) << " [options]\n\n"
        << c.summary << "\n";
    if (!c.details.empty()) out << "\n" << c.details << "\n";
    if (!c.options.empty()) {
        out << "\nOptions:\n";
        for (const OptionSpec& o : c.options) out << option_line(o);
    }
    if (c.connects) {
        out << "\nConnection options:\n";
        for (const OptionSpec& o : connection_options()) out << option_line(o);
    }
    out << "\nOutput options:\n";
    for (const OptionSpec& o : global_options()) out << option_line(o);
}

}  // namespace

std::vector<std::string> option_names(const CommandSpec* c) {
    std::vector<std::string> names;
    for (const OptionSpec& o : global_options()) names.push_back("--" + o.name);
    if (!c || c->connects)
        for (const OptionSpec& o : connection_options()) names.push_back("--" + o.name);
    if (c)
        for (const OptionSpec& o : c->options) names.push_back("--" + o.name);
    return names;
}

namespace {

std::vector<std::string> groups() {
    std::vector<std::string> g;
    for (const CommandSpec& c : commands()) {
        const std::vector<std::string> w = split_words(c.path);
        if (w.size() > 1 && std::find(g.begin(), g.end(), w[0]) == g.end()) g.push_back(w[0]);
    }
    return g;
}

// The command whose path is the longest prefix of words; *used: its length.
const CommandSpec* match(const std::vector<std::string>& words, std::size_t* used) {
    const CommandSpec* best = nullptr;
    std::size_t best_len = 0;
    for (const CommandSpec& c : commands()) {
        const std::vector<std::string> w = split_words(c.path);
        if (w.size() > words.size() || w.size() <= best_len) continue;
        if (std::equal(w.begin(), w.end(), words.begin())) {
            best = &c;
            best_len = w.size();
        }
    }
    *used = best_len;
    return best;
}

std::string subcommands_of(const std::string& group) {
    std::string s;
    for (const CommandSpec& c : commands()) {
        const std::vector<std::string> w = split_words(c.path);
        if (w.size() > 1 && w[0] == group) s += std::string(s.empty() ? "" : ", ") + w[1];
    }
    return s;
}

// What to say about an option of a command written without one.
std::string misplaced(const std::string& name) {
    std::vector<const CommandSpec*> owners;
    const OptionSpec* spec = nullptr;
    for (const CommandSpec& c : commands())
        for (const OptionSpec& o : c.options)
            if (o.name == name) {
                owners.push_back(&c);
                spec = &o;
            }
    if (owners.empty()) return "--" + name + " needs a command";
    std::string list;
    for (std::size_t i = 0; i < owners.size(); ++i)
        list += std::string(i == 0 ? "" : i + 1 == owners.size() ? " and " : ", ") + "'" + owners[i]->path + "'";
    const CommandSpec& c = *owners.front();
    return "--" + name + " belongs to " + list + "; write: orqext " + c.path + (c.usage.empty() ? "" : " " + c.usage) +
           " --" + name + (spec->value.empty() ? "" : " " + spec->value);
}

int dispatch(int argc, char** argv, std::ostream& out, std::ostream& err, const CommandSpec** which, bool* json,
             Link* link) {
    // Only alone: "--version" is also an option of 'module register'.
    if (argc == 2 && argv[1] && std::string(argv[1]) == "--version") {
        out << "orqext " ORQEXT_VERSION_STRING "\n";
        return kExitOk;
    }
    Parsed p = tokenize(argc, argv);
    *json = std::any_of(p.opts.begin(), p.opts.end(), [](const auto& o) { return o.first == "json"; });
    const bool help = std::any_of(p.opts.begin(), p.opts.end(), [](const auto& o) { return o.first == "help"; });
    if (!p.words.empty() && p.words[0] == "help") {
        p.words.erase(p.words.begin());
        if (p.words.empty()) {
            overall_help(out);
            return kExitOk;
        }
        std::size_t used = 0;
        const CommandSpec* c = match(p.words, &used);
        if (c && used == p.words.size()) {
            command_help(out, *c);
            return kExitOk;
        }
        const std::vector<std::string> g = groups();
        if (p.words.size() == 1 && std::find(g.begin(), g.end(), p.words[0]) != g.end()) {
            group_help(out, p.words[0]);
            return kExitOk;
        }
        throw UsageError("no command '" + p.words[0] + "' to explain");
    }
    if (p.words.empty()) {
        if (help) {
            overall_help(out);
            return kExitOk;
        }
        // Connection, output or session options and no command: commands
        // are read from standard input or -f FILE. Bare orqext does so on a
        // terminal only; without one it shows the usage, as it always did.
        ShellOptions so;
        std::vector<std::string> leading;
        for (const auto& o : p.opts) {
            const bool ok = o.first == "json" || o.first == "hex" ||
                            std::any_of(connection_options().begin(), connection_options().end(),
                                        [&](const OptionSpec& s) { return s.name == o.first; });
            if (o.first == "input") {
                so.input = o.second;
            } else if (o.first == "stop-on-error") {
                so.stop_on_error = true;
            } else if (!ok) {
                throw UsageError(misplaced(o.first));
            } else {
                leading.push_back("--" + o.first + (o.second.empty() && find_option(o.first)->value.empty()
                                                        ? std::string()
                                                        : "=" + o.second));
            }
        }
        if (p.opts.empty() && !::isatty(STDIN_FILENO)) {
            overall_help(err);
            return kExitUsage;
        }
        return run_shell(argc > 0 && argv[0] ? argv[0] : "orqext", leading, out, err, so);
    }
    std::size_t used = 0;
    const CommandSpec* c = match(p.words, &used);
    const std::vector<std::string> g = groups();
    const bool is_group = std::find(g.begin(), g.end(), p.words[0]) != g.end();
    if (!c) {
        if (is_group) {
            if (help && p.words.size() == 1) {
                group_help(out, p.words[0]);
                return kExitOk;
            }
            if (p.words.size() == 1)
                throw UsageError("'" + p.words[0] + "' needs a subcommand: " + subcommands_of(p.words[0]));
            throw UsageError("unknown subcommand '" + p.words[1] + "' for '" + p.words[0] +
                             "' (one of: " + subcommands_of(p.words[0]) + ")");
        }
        throw UsageError("unknown command '" + p.words[0] + "'");
    }
    *which = c;
    if (help) {
        command_help(out, *c);
        return kExitOk;
    }

    Context ctx;
    ctx.spec = c;
    ctx.out = &out;
    ctx.err = &err;
    ctx.program = argc > 0 && argv[0] ? argv[0] : "orqext";
    ctx.link = link;
    for (std::size_t k = 0; k < p.opts.size(); ++k) {
        const auto& o = p.opts[k];
        bool allowed = std::any_of(global_options().begin(), global_options().end(),
                                   [&](const OptionSpec& s) { return s.name == o.first; }) ||
                       std::any_of(c->options.begin(), c->options.end(),
                                   [&](const OptionSpec& s) { return s.name == o.first; });
        // Connection options in front of the command ("orqext --port N codes",
        // as an alias would put them) are accepted by every command; one that
        // does not connect leaves them unused.
        if (!allowed && (c->connects || k < p.leading))
            allowed = std::any_of(connection_options().begin(), connection_options().end(),
                                  [&](const OptionSpec& s) { return s.name == o.first; });
        if (!allowed && (o.first == "input" || o.first == "stop-on-error"))
            throw UsageError("--" + o.first + " goes without a command: orqext " +
                             (o.first == "input" ? "-f FILE" : "--stop-on-error -f FILE"));
        if (!allowed) throw UsageError("option --" + o.first + " does not apply to '" + c->path + "'");
        ctx.in.add_option(o.first, o.second);
    }
    if (ctx.in.has("connect") &&
        (ctx.in.has("host") || ctx.in.has("port") || ctx.in.has("user") || ctx.in.has("password") ||
         ctx.in.has("password-file")))
        throw UsageError("--connect cannot be combined with --host, --port, --user, --password or --password-file");
    for (std::size_t i = used; i < p.words.size(); ++i) ctx.in.add_arg(p.words[i]);
    const std::size_t n = ctx.in.args().size();
    if (n < c->min_args)
        throw UsageError("'" + c->path + "' expects " + (c->usage.empty() ? "no arguments" : c->usage) +
                         (n ? "" : "; nothing was given"));
    if (n > c->max_args)
        throw UsageError("'" + c->path + "': unexpected argument '" + ctx.in.arg(c->max_args) + "'");
    if (!c->connects &&
        (ctx.in.has("connect") || ctx.in.has("host") || ctx.in.has("port") || ctx.in.has("user") || ctx.in.has("password")))
        ctx.endpoint();  // unused here, but still checked: a wrong value is reported wherever it is written
    ctx.render.json = ctx.in.has("json");
    ctx.render.hex = ctx.in.has("hex");
    return c->run(ctx);
}

}  // namespace

namespace {
RenderOptions json_only() {
    RenderOptions o;
    o.json = true;
    return o;
}
}  // namespace

int run_cli(int argc, char** argv, std::ostream& out, std::ostream& err, Link* link) {
    const CommandSpec* which = nullptr;
    bool json = false;
    try {
        return dispatch(argc, argv, out, err, &which, &json, link);
    } catch (const UsageError& e) {
        err << "orqext: " << terminal_safe(e.what()) << "\n";
        // Inside the shell and batch mode the help is a command of its own.
        if (link)
            err << "see 'help" << (which ? " " + which->path : std::string()) << "'\n";
        else
            err << "see 'orqext " << (which ? which->path + " " : std::string()) << "--help'\n";
        if (json) {
            // No call was made: no Result code.
            Value v = Value::object();
            v.set("usage_error", Value::text(e.what()));
            render(out, json_report(v, false, Value(), "bad command line", "items"), json_only());
        }
        return kExitUsage;
    } catch (const GaveUp& g) {
        err << "orqext: " << g.message << "\n";
        return kExitInterrupted;
    } catch (const CallFailed& f) {
        if (f.message.empty())
            err << "orqext: " << terminal_safe(f.what) << " failed: " << describe(f.code) << "\n";
        else
            err << "orqext: " << terminal_safe(f.message) << "\n";
        if (json) {
            Value v = Value::object();
            v.set("failed", Value::text(f.what));
            const Value code = result_object(f.code);
            render(out, json_report(v, false, Value::integer(f.code), code.get("meaning")->as_text(), "items"),
                   json_only());
        }
        return f.exit_code;
    } catch (const std::bad_alloc&) {
        err << "orqext: out of memory (is a capacity too large?)\n";
        return kExitFailed;
    } catch (const std::exception& e) {
        err << "orqext: " << terminal_safe(e.what()) << "\n";
        return kExitFailed;
    }
}

}  // namespace orqext

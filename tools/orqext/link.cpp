#include "tools/orqext/link.h"

#include "exports/orqext.h"
#include "tools/orqext/commands.h"

namespace orqext {

namespace {

const char* const kConnectionNames[] = {"host", "port", "user", "password", "password-file", "connect"};

bool is_connection_name(const std::string& n) {
    for (const char* c : kConnectionNames)
        if (n == c) return true;
    return false;
}

// One key for a set of connection options, in a fixed order of names.
std::string key_of(const std::vector<std::pair<std::string, std::string>>& opts) {
    std::string key;
    for (const char* n : kConnectionNames)
        for (const auto& o : opts)
            if (o.first == n) key += o.first + '\x01' + o.second + '\x02';
    return key;
}

std::string key_of(const Context& ctx) {
    std::vector<std::pair<std::string, std::string>> opts;
    for (const char* n : kConnectionNames)
        for (const std::string& v : ctx.in.all(n)) opts.push_back({n, v});
    return key_of(opts);
}

}  // namespace

std::vector<std::pair<std::string, std::string>> connection_words(const std::vector<std::string>& words) {
    std::vector<std::pair<std::string, std::string>> out;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w.compare(0, 2, "--") != 0) continue;
        const std::size_t eq = w.find('=');
        const std::string name = w.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        if (!is_connection_name(name)) continue;
        if (eq != std::string::npos)
            out.push_back({name, w.substr(eq + 1)});
        else if (i + 1 < words.size())
            out.push_back({name, words[++i]});
    }
    return out;
}

std::vector<std::string> without_connection_words(const std::vector<std::string>& words) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        const std::size_t eq = w.find('=');
        const std::string name =
            w.compare(0, 2, "--") == 0 ? w.substr(2, eq == std::string::npos ? std::string::npos : eq - 2) : "";
        if (!is_connection_name(name)) {
            out.push_back(w);
            continue;
        }
        if (eq == std::string::npos) ++i;  // its value
    }
    return out;
}

std::vector<std::string> Link::leading_for_connect(
    const std::vector<std::pair<std::string, std::string>>& given) const {
    auto replaced = [&](const std::string& name) {
        for (const auto& g : given)
            if (g.first == name || (g.first == "connect") != (name == "connect")) return true;
        return false;
    };
    std::vector<std::string> out = without_connection_words(leading_);
    for (const auto& w : connection_words(leading_))
        if (!replaced(w.first)) out.push_back("--" + w.first + "=" + w.second);
    return out;
}

Link::Link(std::vector<std::string> leading) : leading_(std::move(leading)), key_(key_of(connection_words(leading_))) {}

Link::~Link() { close(); }

std::string Link::where() const { return endpoint_.host + ":" + std::to_string(endpoint_.port); }

void Link::close() {
    if (conn_ != 0 && !dropped_) ORQExt_DisConnect(conn_);
    conn_ = 0;
    dropped_ = false;
}

int32_t Link::acquire(const Context& ctx) {
    if (key_of(ctx) != key_) return 0;
    if (conn_ != 0 && !dropped_ && ORQExt_IsConnect(conn_) == 0) {
        *ctx.err << "orqext: the connection to " << terminal_safe(where()) << " was lost; opening a new one\n";
        close();
        reopened_note_ = false;
    }
    if (conn_ != 0 && !dropped_) return conn_;
    close();
    endpoint_ = ctx.endpoint();
    conn_ = ctx.connect();
    if (clustering_) ORQExt_EnableCluster(conn_, 1);
    if (reopened_note_)
        *ctx.err << "orqext: opened a new connection to " << terminal_safe(where())
                 << (clustering_ ? " (clustering switched on again)" : "") << "\n";
    reopened_note_ = false;
    return conn_;
}

interrupts::Action Link::drop_action() {
    const int32_t h = conn_;
    return [this, h] {
        dropped_ = true;
        ORQExt_DisConnect(h);
        return interrupts::abandoned_note(true);
    };
}

void Link::after_command(std::ostream& err) {
    if (conn_ == 0) return;
    if (dropped_) {
        close();
        reopened_note_ = true;
        return;
    }
    if (ORQExt_IsConnect(conn_) == 0) {
        err << "orqext: the connection to " << terminal_safe(where())
            << " was lost; the next command that needs one opens a new one\n";
        close();
        reopened_note_ = true;
        return;
    }
    clustering_ = ORQExt_IsClusterEnable(conn_) != 0;
}

Endpoint Link::switch_to(const Context& ctx) {
    const Endpoint e = ctx.endpoint();
    const int32_t fresh = ctx.connect();  // the kept one stays when this fails
    close();
    conn_ = fresh;
    endpoint_ = e;
    clustering_ = false;
    reopened_note_ = false;
    std::vector<std::string> leading = without_connection_words(leading_);
    std::vector<std::pair<std::string, std::string>> opts;
    for (const char* n : kConnectionNames)
        for (const std::string& v : ctx.in.all(n)) {
            leading.push_back(std::string("--") + n + "=" + v);
            opts.push_back({n, v});
        }
    leading_ = leading;
    key_ = key_of(opts);
    return e;
}

namespace {

int connect_cmd(Context& ctx) {
    Value v = Value::object();
    Endpoint e;
    if (ctx.link) {
        e = ctx.link->switch_to(ctx);
    } else {
        e = ctx.endpoint();
        Session s(ctx);
    }
    v.set("server", Value::text(e.host));
    v.set("port", Value::integer(e.port));
    v.set("user", Value::text(e.user));
    v.set("connected", Value::boolean(true));
    return ctx.finish(v, "connect", 0);
}

}  // namespace

void add_session_commands(std::vector<CommandSpec>& t) {
    t.push_back({"connect", "", "open a connection with the connection options and keep it (\\c)",
                 "In the shell and in batch mode the following lines use this connection;\n"
                 "the one before is closed. When the new one cannot be opened, the one before\n"
                 "stays. Connection options not given are kept from the session (--connect\n"
                 "replaces all of them), then taken from the environment and the defaults;\n"
                 "'connect' alone opens the session's connection again. Alone on the command\n"
                 "line it logs in and out: a check of the connection options.",
                 {}, 0, 0, true, connect_cmd});
}

}  // namespace orqext

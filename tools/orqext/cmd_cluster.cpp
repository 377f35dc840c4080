// orqext cluster show, add, delete, switch, refresh.
#include <cstring>

#include "exports/orqext.h"
#include "tools/orqext/commands.h"

namespace orqext {
namespace {

// Copies value into a fixed field; UsageError when it does not fit with its
// NUL (the message says how long it may be).
template <std::size_t N>
void put_field(char (&field)[N], const std::string& value, const std::string& what, bool may_be_empty) {
    if (value.empty() && !may_be_empty) throw UsageError(what + " must not be empty");
    if (value.size() >= N)
        throw UsageError(what + " is " + std::to_string(value.size()) + " characters long; at most " +
                         std::to_string(N - 1) + " fit");
    if (value.find('\0') != std::string::npos) throw UsageError(what + " must not contain NUL");
    std::memset(field, 0, N);
    std::memcpy(field, value.data(), value.size());
}

ClusterInfo cluster_of(const Context& ctx) {
    ClusterInfo ci;
    std::memset(&ci, 0, sizeof ci);
    if (!ctx.in.has("tag")) throw UsageError("--tag is required: a cluster is named by NAME and --tag");
    put_field(ci.name, ctx.in.arg(0), "NAME", false);
    put_field(ci.tag, ctx.in.get("tag"), "--tag", false);
    put_field(ci.attr_a, ctx.in.get("attr-a"), "--attr-a", true);
    put_field(ci.attr_b, ctx.in.get("attr-b"), "--attr-b", true);
    return ci;
}

// HOST:PORT[:USER[:PASS[:ATTR]]]; an IPv6 host is written in brackets.
NodeInfo node_of(const std::string& spec) {
    NodeInfo n;
    std::memset(&n, 0, sizeof n);
    std::string host, rest;
    if (!spec.empty() && spec[0] == '[') {
        const std::size_t close = spec.find(']');
        if (close == std::string::npos) throw UsageError("--node '" + spec + "': unclosed '[' around the host");
        host = spec.substr(1, close - 1);
        rest = spec.substr(close + 1);
        if (!rest.empty() && rest[0] != ':') throw UsageError("--node '" + spec + "': ':' expected after ']'");
        if (!rest.empty()) rest.erase(0, 1);
    } else {
        const std::size_t c = spec.find(':');
        host = spec.substr(0, c);
        rest = c == std::string::npos ? std::string() : spec.substr(c + 1);
    }
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i <= rest.size() && parts.size() < 3) {
        std::size_t c = rest.find(':', i);
        if (c == std::string::npos) c = rest.size();
        parts.push_back(rest.substr(i, c - i));
        i = c + 1;
    }
    const std::string attr = i <= rest.size() ? rest.substr(i) : std::string();
    if (parts.empty() || parts[0].empty()) throw UsageError("--node '" + spec + "': expected HOST:PORT[:USER[:PASS[:ATTR]]]");
    const std::string what = "--node '" + spec + "'";
    put_field(n.server, host, what + ": host", false);
    n.port = static_cast<int32_t>(parse_integer(parts[0], 1, 65534, what + ": port"));
    put_field(n.user, parts.size() > 1 ? parts[1] : std::string("admin"), what + ": user", false);
    put_field(n.pass, parts.size() > 2 ? parts[2] : std::string("admin"), what + ": password", true);
    put_field(n.attr, attr, what + ": attribute", true);
    return n;
}

std::string field(const char* p, std::size_t n) { return std::string(p, strnlen(p, n)); }

Value cluster_row(const ClusterInfo& c, int32_t nodes) {
    Value r = Value::object();
    r.set("name", Value::text(field(c.name, sizeof c.name)));
    r.set("tag", Value::text(field(c.tag, sizeof c.tag)));
    r.set("attr_a", Value::text(field(c.attr_a, sizeof c.attr_a)));
    r.set("attr_b", Value::text(field(c.attr_b, sizeof c.attr_b)));
    r.set("nodes", Value::integer(nodes));
    return r;
}

Value node_row(const ClusterInfo& c, const NodeInfo& n, bool passwords) {
    Value r = Value::object();
    r.set("cluster", Value::text(field(c.name, sizeof c.name)));
    r.set("tag", Value::text(field(c.tag, sizeof c.tag)));
    r.set("server", Value::text(field(n.server, sizeof n.server)));
    r.set("port", Value::integer(n.port));
    r.set("user", Value::text(field(n.user, sizeof n.user)));
    const std::string pass = field(n.pass, sizeof n.pass);
    r.set("pass", Value::text(passwords || pass.empty() ? pass : "***"));
    r.set("attr", Value::text(field(n.attr, sizeof n.attr)));
    return r;
}

// The nodes of one cluster (each read reloads the description).
void add_nodes(int32_t conn, const ClusterInfo& c, bool passwords, Value& nodes, int32_t* count) {
    const int32_t n = ORQExt_GetClusterNodeCount(conn, &c);
    check("node count of " + field(c.name, sizeof c.name), n);
    std::vector<NodeInfo> buf(static_cast<std::size_t>(n > 0 ? n : 1));
    int32_t cap = static_cast<int32_t>(buf.size());
    const int32_t got = n > 0 ? ORQExt_GetNodeInfo(conn, &c, buf.data(), &cap) : 0;
    check("nodes of " + field(c.name, sizeof c.name), got);
    for (int32_t i = 0; i < got && i < static_cast<int32_t>(buf.size()); ++i) nodes.push(node_row(c, buf[i], passwords));
    *count = got;
}

int cluster_show(Context& ctx) {
    const bool passwords = ctx.in.has("show-passwords");
    const bool one = !ctx.in.args().empty();
    ClusterInfo ci;
    if (one) ci = cluster_of(ctx);  // checked before anything is sent
    Session s(ctx);
    Value clusters = Value::list(), nodes = Value::list();
    if (one) {
        const int32_t rc = ORQExt_GetClusterInfoByName(s.conn(), &ci);
        check("cluster " + ctx.in.arg(0) + " tag " + ctx.in.get("tag"), rc);
        int32_t n = 0;
        add_nodes(s.conn(), ci, passwords, nodes, &n);
        clusters.push(cluster_row(ci, n));
    } else {
        const int32_t count = ORQExt_GetClusterCount(s.conn());
        check("cluster count", count);
        std::vector<ClusterInfo> buf(static_cast<std::size_t>(count > 0 ? count : 1));
        int32_t cap = static_cast<int32_t>(buf.size());
        const int32_t got = count > 0 ? ORQExt_GetClusterInfo(s.conn(), buf.data(), &cap) : 0;
        check("cluster list", got);
        for (int32_t i = 0; i < got && i < static_cast<int32_t>(buf.size()); ++i) {
            int32_t n = 0;
            add_nodes(s.conn(), buf[static_cast<std::size_t>(i)], passwords, nodes, &n);
            clusters.push(cluster_row(buf[static_cast<std::size_t>(i)], n));
        }
    }
    Value v = Value::object();
    v.set("clusters", clusters);
    v.set("nodes", nodes);
    return ctx.finish(v, "cluster show", 0);
}

int cluster_add(Context& ctx) {
    const ClusterInfo ci = cluster_of(ctx);
    std::vector<NodeInfo> nodes;
    for (const std::string& spec : ctx.in.all("node")) nodes.push_back(node_of(spec));
    Session s(ctx);
    const int32_t rc = ORQExt_AddClusterInfo(s.conn(), &ci, nodes.empty() ? nullptr : nodes.data(),
                                             static_cast<int32_t>(nodes.size()));
    Value v = Value::object();
    v.set("cluster", Value::text(ctx.in.arg(0)));
    v.set("tag", Value::text(ctx.in.get("tag")));
    v.set("nodes_sent", Value::integer(static_cast<int64_t>(nodes.size())));
    return ctx.finish(v, "adding cluster information", rc);
}

int cluster_delete(Context& ctx) {
    const ClusterInfo ci = cluster_of(ctx);
    const std::string text = ctx.in.get("text");
    Session s(ctx);
    const int32_t rc = ORQExt_DelClusterInfo(s.conn(), &ci, ctx.in.has("text") ? text.c_str() : nullptr);
    Value v = Value::object();
    v.set("cluster", Value::text(ctx.in.arg(0)));
    v.set("tag", Value::text(ctx.in.get("tag")));
    return ctx.finish(v, "deleting cluster information", rc);
}

int cluster_switch(Context& ctx) {
    const std::string how = ctx.in.arg(0);
    if (how != "on" && how != "off") throw UsageError("'cluster switch' expects on or off, not '" + how + "'");
    Session s(ctx);
    const int32_t rc = ORQExt_EnableCluster(s.conn(), how == "on" ? 1 : 0);
    Value v = Value::object();
    v.set("clustering", Value::boolean(ORQExt_IsClusterEnable(s.conn()) != 0));
    if (rc >= 0) v.set("clusters", Value::integer(ORQExt_GetClusterCount(s.conn())));
    return ctx.finish(v, "switching clustering " + how, rc);
}

int cluster_refresh(Context& ctx) {
    Session s(ctx);
    const int32_t rc = ORQExt_UpdateCluster(s.conn());
    Value v = Value::object();
    if (rc >= 0) v.set("clusters", Value::integer(ORQExt_GetClusterCount(s.conn())));
    return ctx.finish(v, "reloading the cluster description", rc);
}

const OptionSpec kTag{"tag", "TAG", "the cluster's tag (with NAME, its identity)"};

}  // namespace

void add_cluster_commands(std::vector<CommandSpec>& t) {
    t.push_back({"cluster show", "[NAME]", "show the server's clusters and their nodes",
                 "Without NAME: every cluster. With NAME and --tag: that cluster. Passwords are\n"
                 "shown as *** unless --show-passwords is given.",
                 {kTag, {"show-passwords", "", "show the nodes' passwords"}}, 0, 1, true, cluster_show});
    t.push_back({"cluster add", "NAME", "add a cluster, or nodes to a cluster",
                 "Without --node the cluster itself is added (with --attr-a and --attr-b);\n"
                 "with one or more --node the nodes are added to the cluster NAME/--tag.\n"
                 "A node is HOST:PORT[:USER[:PASS[:ATTR]]] (user and password default to\n"
                 "admin); write an IPv6 host in brackets: [::1]:7301.",
                 {kTag,
                  {"attr-a", "TEXT", "first attribute (at most 31 characters)"},
                  {"attr-b", "TEXT", "second attribute (at most 127 characters)"},
                  {"node", "SPEC", "a node, HOST:PORT[:USER[:PASS[:ATTR]]]; may be repeated"}},
                 1, 1, true, cluster_add});
    t.push_back({"cluster delete", "NAME", "delete a cluster",
                 "", {kTag, {"text", "TEXT", "text sent with the request"}}, 1, 1, true, cluster_delete});
    t.push_back({"cluster switch", "on|off", "switch cluster routing on or off for the connection",
                 "Switching on reloads the cluster description and reports its result. The\n"
                 "switch belongs to this command's own connection; 'send --cluster' routes a\n"
                 "message through the cluster.",
                 {}, 1, 1, true, cluster_switch});
    t.push_back({"cluster refresh", "", "reload the cluster description", "", {}, 0, 0, true, cluster_refresh});
}

}  // namespace orqext

#include "sim/config.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "platform/files.h"

namespace xsrsim {

bool split_tokens(const std::string& line, std::vector<std::string>* out) {
    out->clear();
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (i < n) {
        while (i < n && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        if (i >= n || line[i] == '#') break;
        std::string tok;
        if (line[i] == '"') {
            const std::size_t close = line.find('"', i + 1);
            if (close == std::string::npos) return false;
            tok = line.substr(i + 1, close - i - 1);
            i = close + 1;
        } else {
            while (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') tok += line[i++];
        }
        out->push_back(tok);
    }
    return true;
}

namespace {

bool parse_u32(const std::string& s, uint32_t min, uint32_t max, uint32_t* out) {
    if (s.empty() || s.size() > 10) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    const unsigned long long v = std::strtoull(s.c_str(), nullptr, 10);
    if (v < min || v > max) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

using Tokens = std::vector<std::string>;

struct Directive {
    std::size_t min_args, max_args;
    std::function<bool(const Tokens&, Config*, std::string*)> apply;
};

std::function<bool(const Tokens&, Config*, std::string*)> number(uint32_t Config::*field,
                                                                 uint32_t min, uint32_t max) {
    return [field, min, max](const Tokens& t, Config* c, std::string* err) {
        if (!parse_u32(t[1], min, max, &(c->*field))) {
            *err = "expected a number from " + std::to_string(min) + " to " + std::to_string(max);
            return false;
        }
        return true;
    };
}

ClusterEntry* find_cluster(Config* c, const std::string& name, const std::string& tag) {
    for (auto& cl : c->clusters)
        if (cl.name == name && cl.tag == tag) return &cl;
    return nullptr;
}

const std::map<std::string, Directive>& directives() {
    static const std::map<std::string, Directive> d = {
        {"name", {1, 1, [](const Tokens& t, Config* c, std::string*) { c->name = t[1]; return true; }}},
        {"version", {1, 1, [](const Tokens& t, Config* c, std::string*) {
             c->version_text = t[1];
             return true;
         }}},
        {"bind", {1, 1, [](const Tokens& t, Config* c, std::string*) {
             c->binds.push_back(t[1]);
             return true;
         }}},
        {"user", {2, 2, [](const Tokens& t, Config* c, std::string* err) {
             if (t[1].empty() || t[1].size() > 63 || t[2].size() > 31) {
                 *err = "user name must have 1 to 63 characters, password at most 31";
                 return false;
             }
             c->users.push_back({t[1], t[2]});
             return true;
         }}},
        {"part_size", {1, 1, number(&Config::part_size, 1, 32u * 1024 * 1024)}},
        {"pending_after_ms", {1, 1, number(&Config::pending_after_ms, 0, 60000)}},
        {"ticket_ttl_ms", {1, 1, number(&Config::ticket_ttl_ms, 1, 86400000)}},
        {"frame_limit_ms", {1, 1, number(&Config::frame_limit_ms, 1, 3600000)}},
        {"max_request", {1, 1, number(&Config::max_request, 1024, 64u * 1024 * 1024)}},
        {"workers", {1, 1, number(&Config::workers, 1, 256)}},
        {"max_jobs", {1, 1, number(&Config::max_jobs, 1, 65536)}},
        {"max_connections", {1, 1, number(&Config::max_connections, 1, 4096)}},
        {"max_pending_logins", {1, 1, number(&Config::max_pending_logins, 1, 4096)}},
        {"login_limit_ms", {1, 1, number(&Config::login_limit_ms, 1, 3600000)}},
        {"max_held_bytes", {1, 1, number(&Config::max_held_bytes, 1, UINT32_MAX)}},
        {"max_held_session_bytes", {1, 1, number(&Config::max_held_session_bytes, 1, UINT32_MAX)}},
        {"idle_timeout_ms", {1, 1, number(&Config::idle_timeout_ms, 0, 86400000)}},
        // module NAME TYPE [started|registered] [version=V] [param=P]
        {"module", {2, 5, [](const Tokens& t, Config* c, std::string* err) {
             ModuleEntry m;
             m.name = t[1];
             m.type = t[2];
             for (std::size_t i = 3; i < t.size(); ++i) {
                 if (t[i] == "started") {
                     m.started = true;
                 } else if (t[i] == "registered") {
                     m.started = false;
                 } else if (t[i].rfind("version=", 0) == 0) {
                     m.version = t[i].substr(8);
                 } else if (t[i].rfind("param=", 0) == 0) {
                     m.param = t[i].substr(6);
                 } else {
                     *err = "unknown module option '" + t[i] + "'";
                     return false;
                 }
             }
             if (m.name.empty() || m.type.empty()) {
                 *err = "module needs a name and a type";
                 return false;
             }
             c->modules.push_back(m);
             return true;
         }}},
        // cluster NAME TAG [ATTR_A [ATTR_B]]
        {"cluster", {2, 4, [](const Tokens& t, Config* c, std::string* err) {
             if (t[1].empty() || t[1].size() > 255 || t[2].empty() || t[2].size() > 15 ||
                 (t.size() > 3 && t[3].size() > 31) || (t.size() > 4 && t[4].size() > 127)) {
                 *err = "cluster name 1-255, tag 1-15, attributes at most 31 and 127 characters";
                 return false;
             }
             if (find_cluster(c, t[1], t[2])) {
                 *err = "cluster listed twice";
                 return false;
             }
             ClusterEntry cl;
             cl.name = t[1];
             cl.tag = t[2];
             if (t.size() > 3) cl.attr_a = t[3];
             if (t.size() > 4) cl.attr_b = t[4];
             c->clusters.push_back(cl);
             return true;
         }}},
        // node CLUSTER TAG SERVER PORT USER PASS [ATTR]
        {"node", {6, 7, [](const Tokens& t, Config* c, std::string* err) {
             ClusterEntry* cl = find_cluster(c, t[1], t[2]);
             if (!cl) {
                 *err = "node of a cluster not listed before";
                 return false;
             }
             NodeEntry n;
             n.server = t[3];
             uint32_t port = 0;
             if (!parse_u32(t[4], 1, 65534, &port)) {
                 *err = "node port must be 1 to 65534";
                 return false;
             }
             n.port = static_cast<int32_t>(port);
             n.user = t[5];
             n.pass = t[6];
             if (t.size() > 7) n.attr = t[7];
             if (n.server.empty() || n.server.size() > 19 || n.user.empty() || n.user.size() > 127 ||
                 n.pass.size() > 63 || n.attr.size() > 127) {
                 *err = "node server 1-19, user 1-127, pass at most 63, attr at most 127 characters";
                 return false;
             }
             cl->nodes.push_back(n);
             return true;
         }}},
    };
    return d;
}

}  // namespace

bool parse_config(const std::string& text, Config* cfg, std::string* error) {
    std::istringstream in(text);
    std::string line;
    int lineno = 0;
    Tokens t;
    while (std::getline(in, line)) {
        ++lineno;
        const std::string where = "line " + std::to_string(lineno) + ": ";
        if (!split_tokens(line, &t)) {
            *error = where + "unclosed quote";
            return false;
        }
        if (t.empty()) continue;
        auto it = directives().find(t[0]);
        if (it == directives().end()) {
            *error = where + "unknown directive '" + t[0] + "'";
            return false;
        }
        const std::size_t args = t.size() - 1;
        if (args < it->second.min_args || args > it->second.max_args) {
            *error = where + "wrong number of values for '" + t[0] + "'";
            return false;
        }
        std::string why;
        if (!it->second.apply(t, cfg, &why)) {
            *error = where + t[0] + ": " + why;
            return false;
        }
    }
    return true;
}

bool load_config_file(const std::string& path, Config* cfg, std::string* error) {
    std::string text;
    orq::platform::FileProblem problem;
    if (!orq::platform::read_whole_file(path, orq::platform::ReadRule::Any, 1u << 20, &text, &problem)) {
        *error = "cannot read " + path + ": " + problem.why;
        return false;
    }
    return parse_config(text, cfg, error);
}

}  // namespace xsrsim

#include "sim/cluster_desc.h"

#include "xsr/proto/wire.h"

namespace xsrsim {

using namespace xsrproto;

namespace {

// Field limits of the description (characters, without the NUL).
constexpr std::size_t kName = 255, kTag = 15, kAttrA = 31, kAttrB = 127;
constexpr std::size_t kServer = 19, kUser = 127, kPass = 63, kAttr = 127;
constexpr int32_t kMaxNodes = 4096;

bool read_node(BodyReader& r, NodeEntry* n) {
    return r.cstr(&n->server, kServer) && r.i32(&n->port) && r.cstr(&n->user, kUser) &&
           r.cstr(&n->pass, kPass) && r.cstr(&n->attr, kAttr);
}

void put_str(Bytes& b, const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
    b.push_back(0);
}
void put_int(Bytes& b, int32_t v) {
    unsigned char x[4];
    put_i32(x, v);
    b.insert(b.end(), x, x + 4);
}

bool same_node(const NodeEntry& a, const NodeEntry& b) {
    return iequals(a.server, b.server) && a.port == b.port;
}

}  // namespace

void ClusterDescription::load(const std::vector<ClusterEntry>& clusters) {
    std::lock_guard<std::mutex> g(mu_);
    clusters_ = clusters;
}

ClusterEntry* ClusterDescription::find_locked(const std::string& name, const std::string& tag) {
    for (auto& c : clusters_)
        if (iequals(c.name, name) && iequals(c.tag, tag)) return &c;
    return nullptr;
}

int32_t ClusterDescription::add(const unsigned char* body, std::size_t n) {
    BodyReader r(body, n);
    int32_t mode = -1;
    ClusterEntry in;
    uint8_t nul = 1;
    if (!r.i32(&mode) || !r.cstr(&in.name, kName) || !r.cstr(&in.tag, kTag)) return kErrRequest;
    if (in.name.empty() || in.tag.empty()) return kErrRequest;
    if (mode == 0) {
        if (!r.cstr(&in.attr_a, kAttrA) || !r.cstr(&in.attr_b, kAttrB) || !r.byte(&nul) || nul != 0 ||
            !r.at_end())
            return kErrRequest;
        std::lock_guard<std::mutex> g(mu_);
        if (ClusterEntry* c = find_locked(in.name, in.tag)) {
            c->attr_a = in.attr_a;
            c->attr_b = in.attr_b;
        } else {
            clusters_.push_back(in);
        }
        ++serial_;
        return 0;
    }
    if (mode != 1) return kErrRequest;
    int32_t count = 0;
    if (!r.byte(&nul) || nul != 0 || !r.i32(&count) || count > kMaxNodes) return kErrRequest;
    std::vector<NodeEntry> nodes;
    for (int32_t i = 0; i < count; ++i) {
        NodeEntry node;
        if (!read_node(r, &node) || node.server.empty() || node.port < 1 || node.port > 65534)
            return kErrRequest;
        nodes.push_back(node);
    }
    if (!r.at_end()) return kErrRequest;
    std::lock_guard<std::mutex> g(mu_);
    ClusterEntry* c = find_locked(in.name, in.tag);
    if (!c) {
        clusters_.push_back(in);
        c = &clusters_.back();
    }
    for (const auto& node : nodes) {
        bool replaced = false;
        for (auto& old : c->nodes) {
            if (same_node(old, node)) {
                old = node;
                replaced = true;
                break;
            }
        }
        if (!replaced) c->nodes.push_back(node);
    }
    ++serial_;
    return 0;
}

int32_t ClusterDescription::remove(const unsigned char* body, std::size_t n) {
    BodyReader r(body, n);
    int32_t mode = -1;
    std::string name, tag, text;
    uint8_t nul = 1;
    if (!r.i32(&mode) || mode != 0 || !r.cstr(&name, kName) || !r.cstr(&tag, kTag) || !r.byte(&nul) ||
        nul != 0)
        return kErrRequest;
    const bool has_text = !r.at_end();
    if (has_text && (!r.cstr(&text, 4096) || !r.at_end())) return kErrRequest;
    // "server" or "server:port"
    std::string server = text;
    int32_t port = -1;
    const std::size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        server = text.substr(0, colon);
        const std::string p = text.substr(colon + 1);
        if (p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos)
            return kErrRequest;
        port = std::stoi(p);
    }
    std::lock_guard<std::mutex> g(mu_);
    for (auto it = clusters_.begin(); it != clusters_.end(); ++it) {
        if (!iequals(it->name, name) || !iequals(it->tag, tag)) continue;
        if (text.empty()) {
            clusters_.erase(it);
            ++serial_;
            return 0;
        }
        auto& nodes = it->nodes;
        const std::size_t before = nodes.size();
        for (auto n_it = nodes.begin(); n_it != nodes.end();) {
            if (iequals(n_it->server, server) && (port < 0 || n_it->port == port))
                n_it = nodes.erase(n_it);
            else
                ++n_it;
        }
        if (nodes.size() == before) return kErrNoCluster;
        ++serial_;
        return 0;
    }
    return kErrNoCluster;
}

Bytes ClusterDescription::encode() const {
    std::lock_guard<std::mutex> g(mu_);
    Bytes b;
    put_int(b, serial_);
    put_int(b, static_cast<int32_t>(clusters_.size()));
    for (const auto& c : clusters_) {
        put_str(b, c.name);
        put_str(b, c.tag);
        put_str(b, c.attr_a);
        put_str(b, c.attr_b);
        put_int(b, static_cast<int32_t>(c.nodes.size()));
        for (const auto& n : c.nodes) {
            put_str(b, n.server);
            put_int(b, n.port);
            put_str(b, n.user);
            put_str(b, n.pass);
            put_str(b, n.attr);
        }
    }
    return b;
}

std::vector<ClusterEntry> ClusterDescription::snapshot() const {
    std::lock_guard<std::mutex> g(mu_);
    return clusters_;
}

bool decode_description(const unsigned char* p, std::size_t n, std::vector<ClusterEntry>* out) {
    out->clear();
    BodyReader r(p, n);
    int32_t serial = 0, count = 0;
    if (!r.i32(&serial) || !r.i32(&count)) return false;
    for (int32_t i = 0; i < count; ++i) {
        ClusterEntry c;
        int32_t nodes = 0;
        if (!r.cstr(&c.name, kName) || !r.cstr(&c.tag, kTag) || !r.cstr(&c.attr_a, kAttrA) ||
            !r.cstr(&c.attr_b, kAttrB) || !r.i32(&nodes))
            return false;
        for (int32_t k = 0; k < nodes; ++k) {
            NodeEntry node;
            if (!read_node(r, &node)) return false;
            c.nodes.push_back(node);
        }
        out->push_back(c);
    }
    return r.at_end();
}

}  // namespace xsrsim

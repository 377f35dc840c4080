// Cluster table, refresh (command 13), node selection and clean-up.
#include "cluster/cluster.h"

#include <cstring>
#include <map>
#include <new>
#include <utility>

#include "cluster/table.h"
#include "core/bytes.h"
#include "core/exchange.h"
#include "core/registry.h"
#include "core/result.h"
#include "core/xsr_call.h"
#include "xsr/xsrclient.h"

namespace orq::cluster {

namespace {

constexpr int32_t kDescriptionArea = 16384;

struct ConnList {
    // Changes whenever the list is replaced, so that node selection can tell
    // whether the entries it walked are still the ones in the table after a
    // call that may refresh on the same thread.
    uint64_t generation = 0;
    std::vector<ClusterEntry> clusters;
};

struct Table {
    platform::Lock lock;
    // std::map: inserting or replacing another handle's list leaves this
    // handle's entry where it is.
    std::map<int32_t, ConnList> lists;
    uint64_t next_generation = 1;
};

Table* g_table = nullptr;

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Reads one description into `out`. False when a count or a string runs past
// the received bytes or a string does not fit its field; `out` is then
// incomplete and must not be used.
bool parse_description(const unsigned char* data, std::size_t len, std::vector<ClusterEntry>* out) {
    Reader r(data, len);
    int32_t cluster_count = 0;
    if (!r.skip(4) || !r.int32(&cluster_count)) return false;
    // Every block takes at least 8 bytes, so a count beyond the received
    // data ends with a failed read long before memory matters.
    for (int32_t i = 0; i < cluster_count; ++i) {
        ClusterEntry c;
        std::memset(&c.info, 0, sizeof c.info);
        int32_t node_count = 0;
        if (!r.cstring(c.info.name, sizeof c.info.name) || !r.cstring(c.info.tag, sizeof c.info.tag) ||
            !r.cstring(c.info.attr_a, sizeof c.info.attr_a) ||
            !r.cstring(c.info.attr_b, sizeof c.info.attr_b) || !r.int32(&node_count))
            return false;
        for (int32_t j = 0; j < node_count; ++j) {
            NodeEntry n;
            std::memset(&n.info, 0, sizeof n.info);
            n.node_conn = 0;
            if (!r.cstring(n.info.server, sizeof n.info.server) || !r.int32(&n.info.port) ||
                !r.cstring(n.info.user, sizeof n.info.user) ||
                !r.cstring(n.info.pass, sizeof n.info.pass) ||
                !r.cstring(n.info.attr, sizeof n.info.attr))
                return false;
            c.nodes.push_back(n);
        }
        out->push_back(std::move(c));
    }
    return true;
}

ConnList* find_locked(int32_t conn) {
    auto it = g_table->lists.find(conn);
    return it == g_table->lists.end() ? nullptr : &it->second;
}

}  // namespace

platform::Lock& table_lock() { return g_table->lock; }

const std::vector<ClusterEntry>* find_list_locked(int32_t conn) {
    const ConnList* l = find_locked(conn);
    return l ? &l->clusters : nullptr;
}

bool same_text_nocase(const char* a, std::size_t a_size, const char* b, std::size_t b_size) {
    for (std::size_t i = 0;; ++i) {
        const char ca = i < a_size ? a[i] : '\0';
        const char cb = i < b_size ? b[i] : '\0';
        if (lower(ca) != lower(cb)) return false;
        if (ca == '\0') return true;
    }
}

void create() { g_table = new Table(); }

void destroy() {
    delete g_table;
    g_table = nullptr;
}

int32_t refresh(int32_t conn) {
    try {
        // The exchange runs without the Cluster lock: concurrent refreshes of
        // one connection each replace the list in turn.
        std::vector<unsigned char> area(kDescriptionArea, 0);
        int32_t received = kDescriptionArea;
        const int32_t rc = exchange(conn, kCmdClusterDescription, nullptr, 0, area.data(), &received,
                                    -1, 0);
        if (rc != 0) return rc;
        if (received < 0) received = 0;
        if (received > kDescriptionArea) received = kDescriptionArea;

        platform::Guard g(g_table->lock);
        std::vector<ClusterEntry> clusters;
        // A malformed description is refused as a whole: the previous list
        // (or the absence of one) stays, rather than a list cut at an
        // arbitrary point that routes differently from what the server says.
        if (!parse_description(area.data(), static_cast<std::size_t>(received), &clusters))
            return kAnswerTooLong;
        // Node connections held by the old entries are not closed here; they
        // stay registered and are closed at unload.
        ConnList& l = g_table->lists[conn];
        l.clusters.swap(clusters);
        l.generation = g_table->next_generation++;
        return kOk;
    } catch (const std::bad_alloc&) {
        return kAnswerTooLong;
    }
}

int32_t select_node(int32_t conn, const char* module_name) {
    if (!module_name || !*module_name) return 0;
    try {
        platform::Guard g(g_table->lock);
        ConnList* l = find_locked(conn);
        if (!l) return 0;
        std::size_t ci = 0;
        while (ci < l->clusters.size() &&
               !same_text_nocase(l->clusters[ci].info.name, sizeof l->clusters[ci].info.name,
                                 module_name, static_cast<std::size_t>(-1)))
            ++ci;
        if (ci == l->clusters.size()) return 0;

        // First pass: a cached node connection that is still alive.
        // XSR_IsValidCon does not call back into the library, so the entries
        // stay in place meanwhile.
        for (const NodeEntry& n : l->clusters[ci].nodes)
            if (n.node_conn != 0 && XSR_IsValidCon(n.node_conn) != 0) return n.node_conn;

        // Second pass: open in list order. The open operation may refresh the
        // new connection's own list on this thread (the lock is re-entrant),
        // so work from a copy of the node addresses and look the entry up
        // again before storing the handle.
        const uint64_t generation = l->generation;
        std::vector<NodeInfo> nodes;
        nodes.reserve(l->clusters[ci].nodes.size());
        for (const NodeEntry& n : l->clusters[ci].nodes) nodes.push_back(n.info);

        for (std::size_t ni = 0; ni < nodes.size(); ++ni) {
            const NodeInfo& n = nodes[ni];
            // Values longer than the login record holds are refused by the
            // open operation (-1100), so such a node counts as failed.
            int32_t handle = 0;
            if (registry::open(n.server, n.port, n.user, n.pass, &handle) != 0) continue;
            ConnList* now = find_locked(conn);
            if (now && now->generation == generation) now->clusters[ci].nodes[ni].node_conn = handle;
            return handle;
        }
        return 0;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

bool cleanup(int32_t conn) {
    platform::Guard g(g_table->lock);
    auto it = g_table->lists.find(conn);
    if (it == g_table->lists.end()) return false;
    // Take the list out first, so nothing the closes do can reach entries
    // that are being dropped.
    std::vector<ClusterEntry> clusters;
    clusters.swap(it->second.clusters);
    g_table->lists.erase(it);
    for (ClusterEntry& c : clusters) {
        for (NodeEntry& n : c.nodes) {
            if (n.node_conn != 0) {
                registry::close(n.node_conn);  // -4100 when already gone; ignored
                n.node_conn = 0;
            }
        }
        c.nodes.clear();
    }
    return true;
}

bool has_list(int32_t conn) {
    platform::Guard g(g_table->lock);
    return find_locked(conn) != nullptr;
}

}  // namespace orq::cluster

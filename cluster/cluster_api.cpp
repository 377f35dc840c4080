// The ten cluster exports: the per-connection switch, the reload, the two
// edit requests (commands 11 and 12) and the five reads of the table.
#include <climits>
#include <cstring>
#include <new>

#include "cluster/cluster.h"
#include "cluster/table.h"
#include "core/bytes.h"
#include "core/exchange.h"
#include "core/registry.h"
#include "core/result.h"
#include "core/xsr_call.h"
#include "exports/orqext.h"

using namespace orq;
using namespace orq::cluster;

namespace {

template <std::size_t N>
bool fits(const char (&field)[N]) {
    return terminated(field, N);
}
template <std::size_t N>
bool filled(const char (&field)[N]) {
    return field[0] != '\0';
}

bool valid_node(const NodeInfo& n) {
    return filled(n.server) && fits(n.server) && n.port >= 1 && n.port <= 65534 && filled(n.user) &&
           fits(n.user) && fits(n.pass) && fits(n.attr);
}

// Sends an edit request without a reply area and reloads the table after a
// 0 result; the reload's own result is not reported.
int32_t send_edit(int32_t conn, uint16_t code, const ByteBuffer& req) {
    if (req.used() > static_cast<std::size_t>(INT32_MAX)) return kBadArgument;
    const int32_t rc =
        exchange(conn, code, req.content(), static_cast<int32_t>(req.used()), nullptr, nullptr, -1, 0);
    if (rc == 0) refresh(conn);
    return rc;
}

// The read exports start with a reload; only its failures are reported.
bool reload_failed(int32_t conn, int32_t* rc) {
    *rc = refresh(conn);
    return *rc < 0;
}

// First cluster of the list whose name and tag match the query's, or nullptr.
const ClusterEntry* find_cluster(const std::vector<ClusterEntry>& list, const ClusterInfo& q) {
    for (const ClusterEntry& c : list)
        if (same_text_nocase(c.info.name, sizeof c.info.name, q.name, sizeof q.name) &&
            same_text_nocase(c.info.tag, sizeof c.info.tag, q.tag, sizeof q.tag))
            return &c;
    return nullptr;
}

bool names_query(const ClusterInfo* c) { return c && filled(c->name) && filled(c->tag); }

}  // namespace

extern "C" {

ORQEXT_API uint8_t ORQEXT_CALL ORQExt_IsClusterEnable(int32_t conn) {
    try {
        return registry::cluster_enabled_or_create(conn) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_EnableCluster(int32_t conn, uint8_t enable) {
    try {
        {
            platform::Guard g(registry::lock());
            registry::Record* r = registry::find_locked(conn);
            if (r) {
                if (enable == 0) {
                    // A record the library made only for the switch goes away;
                    // the next lookup makes it again from the setting.
                    if (r->foreign)
                        registry::remove_first_locked(conn);
                    else
                        registry::set_cluster_enabled_locked(r, false);
                    return kOk;
                }
                registry::set_cluster_enabled_locked(r, true);
            } else {
                if (enable == 0) return kNoRecord;
                registry::append_locked(conn, true, true);
            }
        }
        // The registry lock is released before the reload: the Cluster lock is
        // never taken under it.
        return refresh(conn);
    } catch (const std::bad_alloc&) {
        return kBadArgument;
    }
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_UpdateCluster(int32_t conn) { return refresh(conn); }

ORQEXT_API int32_t ORQEXT_CALL ORQExt_AddClusterInfo(int32_t conn, const ClusterInfo* cluster,
                                                     const NodeInfo* nodes, int32_t node_count) {
    if (!cluster || !filled(cluster->name) || !filled(cluster->tag)) return kBadArgument;
    if (!fits(cluster->name) || !fits(cluster->tag) || !fits(cluster->attr_a) || !fits(cluster->attr_b))
        return kBadArgument;
    try {
        ByteBuffer req;
        if (!nodes) {
            req.append_int32(0);
            req.append_string(cluster->name);
            req.append_string(cluster->tag);
            req.append_string(cluster->attr_a);
            req.append_string(cluster->attr_b);
            req.append_byte(0);
        } else {
            req.append_int32(1);
            req.append_string(cluster->name);
            req.append_string(cluster->tag);
            req.append_byte(0);
            req.append_int32(node_count);
            for (int32_t i = 0; i < node_count; ++i) {
                const NodeInfo& n = nodes[i];
                if (!valid_node(n)) return kBadArgument;
                req.append_string(n.server);
                req.append_int32(n.port);
                req.append_string(n.user);
                req.append_string(n.pass);
                req.append_string(n.attr);
            }
        }
        return send_edit(conn, kCmdClusterAdd, req);
    } catch (const std::bad_alloc&) {
        return kBadArgument;
    }
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_DelClusterInfo(int32_t conn, const ClusterInfo* cluster,
                                                     const char* text) {
    // A name or tag without its zero byte would be read past its array.
    if (!names_query(cluster) || !fits(cluster->name) || !fits(cluster->tag)) return kBadArgument;
    try {
        ByteBuffer req;
        req.append_int32(0);
        req.append_string(cluster->name);
        req.append_string(cluster->tag);
        req.append_byte(0);
        req.append_string(text);  // nothing at all for a null text
        return send_edit(conn, kCmdClusterDel, req);
    } catch (const std::bad_alloc&) {
        return kBadArgument;
    }
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetClusterCount(int32_t conn) {
    int32_t rc = 0;
    if (reload_failed(conn, &rc)) return rc;
    platform::Guard g(table_lock());
    const std::vector<ClusterEntry>* list = find_list_locked(conn);
    if (!list) return 0;
    return list->size() > static_cast<std::size_t>(INT32_MAX) ? INT32_MAX
                                                               : static_cast<int32_t>(list->size());
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetClusterInfo(int32_t conn, ClusterInfo* out, int32_t* count) {
    // Nowhere to report, or a capacity without an array.
    if (!count || (!out && *count > 0)) return kBadArgument;
    int32_t rc = 0;
    if (reload_failed(conn, &rc)) return rc;
    platform::Guard g(table_lock());
    const std::vector<ClusterEntry>* list = find_list_locked(conn);
    if (!list) return kNoCluster;
    int32_t copied = 0;
    // The capacity is read again before each copy.
    for (const ClusterEntry& c : *list) {
        if (copied >= *count) break;
        std::memcpy(&out[copied], &c.info, sizeof(ClusterInfo));
        ++copied;
    }
    *count = copied;
    return copied;
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetClusterInfoByName(int32_t conn, ClusterInfo* cluster) {
    if (!cluster) return kBadArgument;
    int32_t rc = 0;
    if (reload_failed(conn, &rc)) return rc;
    platform::Guard g(table_lock());
    const std::vector<ClusterEntry>* list = find_list_locked(conn);
    const ClusterEntry* c = list ? find_cluster(*list, *cluster) : nullptr;
    if (!c) return kNoCluster;
    std::memcpy(cluster, &c->info, sizeof(ClusterInfo));
    return kOk;
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetClusterNodeCount(int32_t conn, const ClusterInfo* cluster) {
    int32_t rc = 0;
    if (reload_failed(conn, &rc)) return rc;
    if (!names_query(cluster)) return 0;
    platform::Guard g(table_lock());
    const std::vector<ClusterEntry>* list = find_list_locked(conn);
    const ClusterEntry* c = list ? find_cluster(*list, *cluster) : nullptr;
    if (!c) return 0;
    return c->nodes.size() > static_cast<std::size_t>(INT32_MAX) ? INT32_MAX
                                                                 : static_cast<int32_t>(c->nodes.size());
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetNodeInfo(int32_t conn, const ClusterInfo* cluster,
                                                  NodeInfo* out, int32_t* count) {
    if (!count || (!out && *count > 0)) return kBadArgument;
    int32_t rc = 0;
    if (reload_failed(conn, &rc)) return rc;
    if (!names_query(cluster)) return 0;
    platform::Guard g(table_lock());
    const std::vector<ClusterEntry>* list = find_list_locked(conn);
    if (!list) return 0;
    const ClusterEntry* c = find_cluster(*list, *cluster);
    int32_t copied = 0;
    if (c) {
        for (const NodeEntry& n : c->nodes) {
            if (copied >= *count) break;
            std::memcpy(&out[copied], &n.info, sizeof(NodeInfo));  // node_conn stays inside
            ++copied;
        }
    }
    *count = copied;
    return copied;
}

}  // extern "C"

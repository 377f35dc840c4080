// orqext/cluster.hpp - cluster routing: the switch, edits and reads of the
// per-connection cluster description. Every read reloads it from the server
// first.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "orqext/connection.hpp"

namespace orqext {
namespace cluster {

// A cluster is identified by (name, tag), ASCII letter case ignored.
struct cluster_info {
    std::string name;    // up to 255 bytes; matched against module names
    std::string tag;     // up to 15 bytes
    std::string attr_a;  // up to 31 bytes, carried and not interpreted
    std::string attr_b;  // up to 127 bytes, carried and not interpreted
};

struct node_info {
    std::string server;  // up to 19 bytes
    int32_t port = 0;    // 1 to 65534
    std::string user;    // up to 127 bytes
    std::string pass;    // up to 63 bytes
    std::string attr;    // up to 127 bytes
};

namespace detail {

// Copies text into a fixed C array with its NUL; a text that does not fit
// (or holds a NUL) is refused, never cut.
template <std::size_t N>
void put_field(char (&out)[N], std::string_view text) {
    if (text.size() >= N || text.find('\0') != std::string_view::npos)
        throw ::orqext::detail::refused_argument{};
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
}
// Reads a fixed C array up to its NUL, never past the array.
template <std::size_t N>
std::string get_field(const char (&in)[N]) {
    std::size_t n = 0;
    while (n < N && in[n] != '\0') ++n;
    return std::string(in, n);
}

inline ClusterInfo to_c(const cluster_info& i) {
    ClusterInfo c{};
    put_field(c.name, i.name);
    put_field(c.tag, i.tag);
    put_field(c.attr_a, i.attr_a);
    put_field(c.attr_b, i.attr_b);
    return c;
}
inline ClusterInfo id_to_c(std::string_view name, std::string_view tag) {
    ClusterInfo c{};
    put_field(c.name, name);
    put_field(c.tag, tag);
    return c;
}
inline cluster_info from_c(const ClusterInfo& c) {
    return {get_field(c.name), get_field(c.tag), get_field(c.attr_a), get_field(c.attr_b)};
}
inline NodeInfo to_c(const node_info& i) {
    NodeInfo n{};
    put_field(n.server, i.server);
    n.port = i.port;
    put_field(n.user, i.user);
    put_field(n.pass, i.pass);
    put_field(n.attr, i.attr);
    return n;
}
inline node_info from_c(const NodeInfo& n) {
    return {get_field(n.server), n.port, get_field(n.user), get_field(n.pass), get_field(n.attr)};
}
inline std::vector<NodeInfo> to_c(const std::vector<node_info>& nodes) {
    std::vector<NodeInfo> out;
    out.reserve(nodes.size());
    for (const auto& n : nodes) out.push_back(to_c(n));
    return out;
}

}  // namespace detail

// True when clustering is on for the connection.
inline bool enabled(const connection& c) noexcept { return ORQExt_IsClusterEnable(c.handle()) != 0; }

// Switches clustering on (the description is reloaded, its result returned)
// or off.
ORQEXT_CPP_STATUS(enable, (const connection& c, bool on), ORQExt_EnableCluster,
                  (c.call_handle(), static_cast<uint8_t>(on ? 1 : 0)))
// Reloads the description from the server.
ORQEXT_CPP_STATUS(update, (const connection& c), ORQExt_UpdateCluster, (c.call_handle()))
// Adds a cluster (no nodes) or nodes to a cluster, then reloads.
ORQEXT_CPP_STATUS(add, (const connection& c, const cluster_info& cl, const std::vector<node_info>& nodes),
                  ORQExt_AddClusterInfo,
                  (c.call_handle(), &static_cast<const ClusterInfo&>(detail::to_c(cl)),
                   nodes.empty() ? nullptr : detail::to_c(nodes).data(),
                   ::orqext::detail::size32(nodes.size())))
// Deletes the cluster (name, tag) with an optional text, then reloads.
ORQEXT_CPP_STATUS(remove, (const connection& c, std::string_view name, std::string_view tag,
                           std::optional<std::string_view> text),
                  ORQExt_DelClusterInfo,
                  (c.call_handle(), &static_cast<const ClusterInfo&>(detail::id_to_c(name, tag)), s(text, "text")))
// Number of clusters listed for the connection.
ORQEXT_CPP_STATUS(count, (const connection& c), ORQExt_GetClusterCount, (c.call_handle()))
// Node count of the cluster (name, tag), 0 when there is none.
ORQEXT_CPP_STATUS(node_count, (const connection& c, std::string_view name, std::string_view tag),
                  ORQExt_GetClusterNodeCount,
                  (c.call_handle(), &static_cast<const ClusterInfo&>(detail::id_to_c(name, tag))))

// Every cluster of the description, in order (empty when there is none).
inline std::vector<cluster_info> list(const connection& c, std::error_code& ec) noexcept {
    ec.clear();
    std::vector<cluster_info> out;
    ::orqext::detail::guard(ec, [&]() -> int {
        int32_t n = ORQExt_GetClusterCount(c.call_handle());
        if (n < 0) {
            ec = make_error_code(n);
            return 0;
        }
        if (n == 0) return 0;
        std::vector<ClusterInfo> raw(static_cast<std::size_t>(n));
        int32_t got = n;
        const int32_t rc = ORQExt_GetClusterInfo(c.call_handle(), raw.data(), &got);
        if (rc < 0) {
            // The list may have gone between the two reloads.
            if (rc != ORQEXT_E_NO_CLUSTER) ec = make_error_code(rc);
            return 0;
        }
        for (int32_t i = 0; i < got && i < n; ++i) out.push_back(detail::from_c(raw[static_cast<std::size_t>(i)]));
        return 0;
    });
    if (ec) out.clear();
    return out;
}
inline std::vector<cluster_info> list(const connection& c) {
    std::error_code ec;
    auto r = list(c, ec);
    return ::orqext::detail::or_throw("ORQExt_GetClusterInfo", ec, std::move(r));
}

// The cluster (name, tag) with its attributes; nullopt when there is none.
inline std::optional<cluster_info> find(const connection& c, std::string_view name,
                                        std::string_view tag, std::error_code& ec) noexcept {
    ec.clear();
    std::optional<cluster_info> out;
    ::orqext::detail::guard(ec, [&]() -> int {
        ClusterInfo q = detail::id_to_c(name, tag);
        const int32_t rc = ORQExt_GetClusterInfoByName(c.call_handle(), &q);
        if (rc == 0) out = detail::from_c(q);
        else if (rc != ORQEXT_E_NO_CLUSTER) ec = make_error_code(rc);
        return 0;
    });
    if (ec) out.reset();
    return out;
}
inline std::optional<cluster_info> find(const connection& c, std::string_view name, std::string_view tag) {
    std::error_code ec;
    auto r = find(c, name, tag, ec);
    return ::orqext::detail::or_throw("ORQExt_GetClusterInfoByName", ec, std::move(r));
}

// The nodes of the cluster (name, tag), in order.
inline std::vector<node_info> nodes(const connection& c, std::string_view name, std::string_view tag,
                                    std::error_code& ec) noexcept {
    ec.clear();
    std::vector<node_info> out;
    ::orqext::detail::guard(ec, [&]() -> int {
        const ClusterInfo q = detail::id_to_c(name, tag);
        const int32_t n = ORQExt_GetClusterNodeCount(c.call_handle(), &q);
        if (n < 0) {
            ec = make_error_code(n);
            return 0;
        }
        if (n == 0) return 0;
        std::vector<NodeInfo> raw(static_cast<std::size_t>(n));
        int32_t got = n;
        const int32_t rc = ORQExt_GetNodeInfo(c.call_handle(), &q, raw.data(), &got);
        if (rc < 0) {
            ec = make_error_code(rc);
            return 0;
        }
        for (int32_t i = 0; i < got && i < n; ++i) out.push_back(detail::from_c(raw[static_cast<std::size_t>(i)]));
        return 0;
    });
    if (ec) out.clear();
    return out;
}
inline std::vector<node_info> nodes(const connection& c, std::string_view name, std::string_view tag) {
    std::error_code ec;
    auto r = nodes(c, name, tag, ec);
    return ::orqext::detail::or_throw("ORQExt_GetNodeInfo", ec, std::move(r));
}

}  // namespace cluster
}  // namespace orqext

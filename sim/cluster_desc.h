// The one cluster description of an xsr-sim server: edited by command codes
// 11 (add a cluster or nodes) and 12 (delete a cluster or a node), read by
// code 13.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "sim/config.h"
#include "sim/modules.h"

namespace xsrsim {

class ClusterDescription {
public:
    void load(const std::vector<ClusterEntry>& clusters);

    // Code 11. Mode 0: int32 0, name, tag, attr_a, attr_b, NUL: adds the
    // cluster or updates its attributes. Mode 1: int32 1, name, tag, NUL,
    // int32 count, count nodes (server, int32 port, user, pass, attr): adds
    // the nodes (creating the cluster), a node with the same server and port
    // replacing the one listed.
    int32_t add(const unsigned char* body, std::size_t n);
    // Code 12: int32 0, name, tag, NUL, [text NUL]. No text or an empty one
    // deletes the cluster; otherwise the text names a node as "server" or
    // "server:port" and that node is deleted.
    int32_t remove(const unsigned char* body, std::size_t n);
    // Code 13: int32 serial (counts the edits), int32 count, the clusters.
    Bytes encode() const;

    std::vector<ClusterEntry> snapshot() const;

private:
    ClusterEntry* find_locked(const std::string& name, const std::string& tag);

    mutable std::mutex mu_;
    std::vector<ClusterEntry> clusters_;
    int32_t serial_ = 0;
};

// Decodes a description (code 13 answer); false when it runs past the bytes
// or a string exceeds its limit. For tests and tools.
bool decode_description(const unsigned char* p, std::size_t n, std::vector<ClusterEntry>* out);

}  // namespace xsrsim

// The Cluster table: per connection handle, the clusters of the server's
// description with their nodes and the node connections opened for routing.
// Guarded by the process-wide, re-entrant Cluster lock. Lock order: the
// Cluster lock may be held while the registry lock is taken, never the
// reverse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "exports/orqext.h"
#include "platform/platform.h"

namespace orq::cluster {

struct NodeEntry {
    NodeInfo info;
    int32_t node_conn;  // connection opened to this node for routing, 0: none
};

struct ClusterEntry {
    ClusterInfo info;
    std::vector<NodeEntry> nodes;
};

platform::Lock& table_lock();

// conn's clusters in the order of the description, or nullptr when the table
// has no list for conn. Needs the Cluster lock; valid until the lock is
// released or a refresh runs on this thread.
const std::vector<ClusterEntry>* find_list_locked(int32_t conn);

// Text held in a fixed array ends at its first zero byte or at the array's
// end. Equal when both texts match ignoring ASCII letter case.
bool same_text_nocase(const char* a, std::size_t a_size, const char* b, std::size_t b_size);

// True when the array holds a zero byte, so its text fits.
inline bool terminated(const char* field, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
        if (field[i] == '\0') return true;
    return false;
}

}  // namespace orq::cluster

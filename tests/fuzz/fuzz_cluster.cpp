// The cluster description parser, reached the way a server reaches it: the
// refresh of a connection with clustering on takes the description from the
// reply, and the cluster reads (each reloads first) copy it out into caller
// arrays. The input holds the replies to the reloads and the reads to make.
// Checked: nothing is written outside the caller's arrays, the counts stay
// within the capacities, every copied string ends inside its array, and a
// message for a cluster's module routes to a node without harm.
#include <cstdint>
#include <cstring>
#include <string>

#include "exports/orqext.h"
#include "tests/fuzz/fuzz_library.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/fake_clock.h"
#include "xsr/double/xsr_double.h"

using fuzzsupport::Fenced;
using fuzzsupport::FencedInt;
using fuzzsupport::Input;

namespace {

template <std::size_t N>
bool terminated(const char (&s)[N]) {
    return std::memchr(s, 0, N) != nullptr;
}

void check_cluster(const ClusterInfo& c) {
    FUZZ_CHECK(terminated(c.name) && terminated(c.tag) && terminated(c.attr_a) && terminated(c.attr_b),
               "cluster record with an unterminated string");
}

void check_node(const NodeInfo& n) {
    FUZZ_CHECK(terminated(n.server) && terminated(n.user) && terminated(n.pass) && terminated(n.attr),
               "node record with an unterminated string");
}

// The record to look clusters up by: one of those read, or one from the input.
ClusterInfo g_key;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static testing_support::FakeClock clock;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Input in(data, size);
    xsrdouble::reset();
    fuzzsupport::fresh_library();
    int32_t status = 0;
    const int32_t conn = ORQExt_Connect("srv", 7300, "u", "p", &status);
    FUZZ_CHECK(status == 0 && conn != 0, "connect failed: %d", status);

    const unsigned replies = 1 + in.u8() % 6;
    for (unsigned i = 0; i < replies; ++i) {
        const uint8_t kind = in.u8();
        const std::string bytes = in.block(20000);
        xsrdouble::Reply r = xsrdouble::ok(bytes);
        if (kind % 8 == 6) r.result = -1108;  // the description comes in parts
        if (kind % 8 == 7) r.reported_len = static_cast<int32_t>(in.u16());
        xsrdouble::push(r);
    }
    std::memset(&g_key, 0, sizeof g_key);
    std::strcpy(g_key.name, "C");
    std::strcpy(g_key.tag, "t");

    ORQExt_EnableCluster(conn, 1);
    const unsigned ops = in.u8() % 8;
    for (unsigned op = 0; op < ops; ++op) {
        switch (in.u8() % 6) {
            case 0: {
                const int32_t n = ORQExt_GetClusterCount(conn);
                FUZZ_CHECK(n >= 0 || n < -1000, "cluster count %d", n);
                break;
            }
            case 1: {
                const int32_t cap = in.u8() % 6;
                Fenced out(sizeof(ClusterInfo) * static_cast<std::size_t>(cap));
                FencedInt count(cap);
                const int32_t rc = ORQExt_GetClusterInfo(conn, cap ? out.as<ClusterInfo>() : nullptr,
                                                         count.ptr());
                FUZZ_CHECK(out.intact() && count.intact(), "GetClusterInfo wrote outside its array");
                if (rc >= 0) {
                    FUZZ_CHECK(rc <= cap && count.get() == rc, "%d copied, count %d, capacity %d", rc,
                               count.get(), cap);
                    for (int32_t i = 0; i < rc; ++i) check_cluster(out.as<ClusterInfo>()[i]);
                    if (rc > 0) std::memcpy(&g_key, &out.as<ClusterInfo>()[in.u8() % rc], sizeof g_key);
                }
                break;
            }
            case 2: {
                Fenced rec(sizeof(ClusterInfo));
                std::memcpy(rec.data(), &g_key, sizeof g_key);
                if (ORQExt_GetClusterInfoByName(conn, rec.as<ClusterInfo>()) == 0)
                    check_cluster(*rec.as<ClusterInfo>());
                FUZZ_CHECK(rec.intact(), "GetClusterInfoByName wrote outside the record");
                break;
            }
            case 3: {
                const int32_t cap = in.u8() % 6;
                Fenced out(sizeof(NodeInfo) * static_cast<std::size_t>(cap));
                FencedInt count(cap);
                const int32_t rc =
                    ORQExt_GetNodeInfo(conn, &g_key, cap ? out.as<NodeInfo>() : nullptr, count.ptr());
                FUZZ_CHECK(out.intact() && count.intact(), "GetNodeInfo wrote outside its array");
                if (rc >= 0) {
                    FUZZ_CHECK(rc <= cap, "%d nodes copied, capacity %d", rc, cap);
                    for (int32_t i = 0; i < rc; ++i) check_node(out.as<NodeInfo>()[i]);
                }
                break;
            }
            case 4: {
                const int32_t n = ORQExt_GetClusterNodeCount(conn, &g_key);
                FUZZ_CHECK(n >= 0 || n < -1000, "node count %d", n);
                break;
            }
            default: {
                // A message for the cluster's module goes to one of its nodes.
                char answer[16];
                int32_t len = sizeof answer;
                const int32_t rc = ORQExt_SendMessage(conn, g_key.name, nullptr, "x", 1, answer, &len);
                if (rc == 0)
                    FUZZ_CHECK(len >= 0 && len <= static_cast<int32_t>(sizeof answer), "length %d", len);
                break;
            }
        }
    }
    ORQExt_DisConnect(conn);
    return 0;
}

// Cluster routing over three xsr-sim processes: the cluster description is
// edited on one server (codes 11 and 12), read back (code 13), and module
// messages routed by it fail over when the first node stops mid-run.
#include <cstring>

#include "tests/e2e/fixture.h"

namespace e2e {
namespace {

using namespace xsrproto;

class ClusterTest : public ::testing::Test {
protected:
    void SetUp() override {
        set_limits(2000, 20000);
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(nodes_[i].start(std::string(), "node" + std::to_string(i + 1))) << nodes_[i].error();
        int32_t status = 1;
        // The caller talks to the third node, which keeps the description.
        conn_ = ORQExt_Connect("127.0.0.1", nodes_[2].port(), "admin", "admin", &status);
        ASSERT_EQ(status, 0);
    }
    void TearDown() override {
        if (conn_) {
            EXPECT_EQ(ORQExt_DisConnect(conn_), 0);
        }
        for (auto& n : nodes_) {
            if (n.running()) {
                EXPECT_EQ(n.stop(), 0) << "xsr-sim did not stop cleanly";
            }
        }
    }

    static ClusterInfo cluster(const char* name, const char* tag) {
        ClusterInfo c;
        std::memset(&c, 0, sizeof c);
        std::strcpy(c.name, name);
        std::strcpy(c.tag, tag);
        std::strcpy(c.attr_a, "attr a");
        std::strcpy(c.attr_b, "attr b");
        return c;
    }
    NodeInfo node(int i) {
        NodeInfo n;
        std::memset(&n, 0, sizeof n);
        std::strcpy(n.server, "127.0.0.1");
        n.port = nodes_[i].port();
        std::strcpy(n.user, "admin");
        std::strcpy(n.pass, "admin");
        std::snprintf(n.attr, sizeof n.attr, "node%d", i + 1);
        return n;
    }
    // Which node answers a routed message to "Ident" (its name), or the code.
    std::string routed() {
        char buf[64];
        int32_t len = sizeof buf;
        const int32_t rc = ORQExt_SendMessage(conn_, "ident", nullptr, "?", 1, buf, &len);
        if (rc != 0) return "rc " + std::to_string(rc);
        return std::string(buf, static_cast<std::size_t>(len));
    }

    SimProcess nodes_[3];
    int32_t conn_ = 0;
};

TEST_F(ClusterTest, RoutedMessagesFailOverWhenTheFirstNodeStops) {
    const ClusterInfo c = cluster("Ident", "t1");
    const NodeInfo ns[3] = {node(0), node(1), node(2)};
    ASSERT_EQ(ORQExt_AddClusterInfo(conn_, &c, nullptr, 0), 0) << "the cluster and its attributes";
    ASSERT_EQ(ORQExt_AddClusterInfo(conn_, &c, ns, 3), 0) << "its nodes";

    // The description as the server now hands it out.
    EXPECT_EQ(ORQExt_GetClusterCount(conn_), 1);
    ClusterInfo got = cluster("IDENT", "T1");
    std::memset(got.attr_a, 0, sizeof got.attr_a);
    ASSERT_EQ(ORQExt_GetClusterInfoByName(conn_, &got), 0);
    EXPECT_STREQ(got.name, "Ident");
    EXPECT_STREQ(got.attr_a, "attr a");
    EXPECT_STREQ(got.attr_b, "attr b");
    NodeInfo listed[4];
    int32_t count = 4;
    ASSERT_EQ(ORQExt_GetNodeInfo(conn_, &c, listed, &count), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(listed[i].port, nodes_[i].port()) << i;
        EXPECT_STREQ(listed[i].attr, ns[i].attr) << i;
    }

    ASSERT_EQ(ORQExt_EnableCluster(conn_, 1), 0);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(routed(), "node1") << "sticky on the first node";

    ASSERT_EQ(nodes_[0].stop(), 0) << "the first node stops cleanly mid-run";
    for (int i = 0; i < 5; ++i) EXPECT_EQ(routed(), "node2") << "failed over to the next node";

    // Deleting the second node: the refreshed list starts again at the first
    // reachable node, which is now the third.
    const std::string second = "127.0.0.1:" + std::to_string(nodes_[1].port());
    ASSERT_EQ(ORQExt_DelClusterInfo(conn_, &c, second.c_str()), 0);
    EXPECT_EQ(ORQExt_GetClusterNodeCount(conn_, &c), 2);
    EXPECT_EQ(routed(), "node3");

    // Deleting the whole cluster leaves the module without a node.
    EXPECT_EQ(ORQExt_DelClusterInfo(conn_, &c, nullptr), 0);
    EXPECT_EQ(ORQExt_GetClusterCount(conn_), 0);
    EXPECT_EQ(routed(), "rc " + std::to_string(ORQEXT_E_NO_NODE));
    EXPECT_EQ(ORQExt_DelClusterInfo(conn_, &c, nullptr), kErrNoCluster) << "nothing left to delete";
}

TEST_F(ClusterTest, EveryNodeDownGivesNoNode) {
    const ClusterInfo c = cluster("Ident", "t1");
    const NodeInfo ns[2] = {node(0), node(1)};
    ASSERT_EQ(ORQExt_AddClusterInfo(conn_, &c, ns, 2), 0);
    ASSERT_EQ(ORQExt_EnableCluster(conn_, 1), 0);
    EXPECT_EQ(routed(), "node1");
    nodes_[0].kill_now();
    nodes_[1].kill_now();
    EXPECT_EQ(routed(), "rc " + std::to_string(ORQEXT_E_NO_NODE));
}

}  // namespace
}  // namespace e2e

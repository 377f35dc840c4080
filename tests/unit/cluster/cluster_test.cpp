// Cluster switch, edit requests, reads, the refresh's parse, node selection
// and clean-up, against the scripted XSRClient.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cluster/cluster.h"
#include "core/message.h"
#include "core/registry.h"
#include "exports/orqext.h"
#include "tests/support/fixture.h"

using namespace xsrdouble;

namespace {

// ---------------------------------------------------------------------------
// Building descriptions and records
// ---------------------------------------------------------------------------

struct N {
    std::string server;
    int32_t port;
    std::string user, pass, attr;
};
struct C {
    std::string name, tag, a, b;
    std::vector<N> nodes;
};

std::string z(const std::string& s) { return s + std::string(1, '\0'); }

std::string node_bytes(const N& n) { return z(n.server) + le32(n.port) + z(n.user) + z(n.pass) + z(n.attr); }

std::string describe(const std::vector<C>& cs) {
    std::string s = le32(0x5A5A) + le32(static_cast<int32_t>(cs.size()));
    for (const C& c : cs) {
        s += z(c.name) + z(c.tag) + z(c.a) + z(c.b) + le32(static_cast<int32_t>(c.nodes.size()));
        for (const N& n : c.nodes) s += node_bytes(n);
    }
    return s;
}

template <std::size_t K>
void put(char (&field)[K], const std::string& v) {
    std::memset(field, 0, K);
    std::memcpy(field, v.data(), std::min(v.size(), K));  // may fill the array without a zero
}

ClusterInfo cluster_info(const std::string& name, const std::string& tag, const std::string& a = "",
                         const std::string& b = "") {
    ClusterInfo c;
    put(c.name, name);
    put(c.tag, tag);
    put(c.attr_a, a);
    put(c.attr_b, b);
    return c;
}

NodeInfo node_info(const N& n) {
    NodeInfo r;
    std::memset(&r, 0, sizeof r);
    put(r.server, n.server);
    r.port = n.port;
    put(r.user, n.user);
    put(r.pass, n.pass);
    put(r.attr, n.attr);
    return r;
}

class ClusterTest : public testing_support::LibraryTest {
protected:
    // The server answers command 13 with `desc` and everything else with "ok".
    void serve(const std::string& desc) {
        set_handler([desc](const Call& c) { return c.code() == 13 ? ok(desc) : ok("ok"); });
    }

    // Sends a module message and reports the handle it went out on (0: none).
    int32_t route(int32_t conn, const char* module, int32_t* rc_out = nullptr) {
        std::size_t before = count(Fn::Command);
        int32_t rc = orq::send_module_message(conn, module, nullptr, "p", 1, nullptr, nullptr, -1, 0);
        if (rc_out) *rc_out = rc;
        auto cs = calls_of(Fn::Command);
        for (std::size_t i = cs.size(); i > before; --i)
            if (cs[i - 1].code() == 2) return cs[i - 1].handle;
        return 0;
    }

    static bool record(int32_t h, orq::registry::Record* out) {
        orq::platform::Guard g(orq::registry::lock());
        orq::registry::Record* r = orq::registry::find_locked(h);
        if (r) *out = *r;
        return r != nullptr;
    }

    // Calls of one kind recorded after `mark` (a size of calls()).
    static std::vector<Call> since(std::size_t mark, Fn fn) {
        std::vector<Call> all = calls(), out;
        for (std::size_t i = mark; i < all.size(); ++i)
            if (all[i].fn == fn) out.push_back(all[i]);
        return out;
    }
    static std::vector<std::string> servers_since(std::size_t mark) {
        std::vector<std::string> v;
        for (const Call& c : since(mark, Fn::Open)) v.push_back(c.server);
        return v;
    }
};

// ---------------------------------------------------------------------------
// The per-connection switch
// ---------------------------------------------------------------------------

TEST_F(ClusterTest, IsClusterEnableCreatesAForeignRecordFromTheSetting) {
    for (bool setting : {false, true}) {
        orq::settings::set_cluster_enable(setting);
        const int32_t h = setting ? 71 : 70;
        orq::registry::Record r{};
        ASSERT_FALSE(record(h, &r));
        EXPECT_EQ(ORQExt_IsClusterEnable(h), setting ? 1 : 0);
        ASSERT_TRUE(record(h, &r));
        EXPECT_TRUE(r.foreign);
        EXPECT_EQ(r.cluster_enabled, setting);
    }
    EXPECT_TRUE(calls().empty()) << "the switch alone sends nothing";
}

TEST_F(ClusterTest, EnableClusterFollowsTheRecordRules) {
    serve(describe({}));
    // No record, off: -4127, and no record made.
    orq::registry::Record r{};
    EXPECT_EQ(ORQExt_EnableCluster(80, 0), -4127);
    EXPECT_FALSE(record(80, &r));
    EXPECT_EQ(count(Fn::Command), 0u);

    // No record, on: a foreign record, then the refresh's result.
    push(fail(-77));
    EXPECT_EQ(ORQExt_EnableCluster(81, 1), -77);
    ASSERT_TRUE(record(81, &r));
    EXPECT_TRUE(r.foreign);
    EXPECT_TRUE(r.cluster_enabled);
    auto cs = calls_of(Fn::Command);
    ASSERT_EQ(cs.size(), 1u);
    EXPECT_EQ(cs[0].code(), 13);
    EXPECT_EQ(cs[0].handle, 81);

    // Any non-zero byte switches on.
    EXPECT_EQ(ORQExt_EnableCluster(82, 2), 0);
    EXPECT_EQ(ORQExt_IsClusterEnable(82), 1);

    // With the setting on, switching a foreign record off removes it: the
    // next lookup makes it again from the setting.
    orq::settings::set_cluster_enable(true);
    EXPECT_EQ(ORQExt_EnableCluster(81, 0), 0);
    EXPECT_FALSE(record(81, &r));
    EXPECT_EQ(ORQExt_IsClusterEnable(81), 1);

    // On a record made by the open operation, off sticks and sends nothing.
    const int32_t own = connect();
    reset();
    EXPECT_EQ(ORQExt_EnableCluster(own, 0), 0);
    EXPECT_EQ(ORQExt_IsClusterEnable(own), 0);
    ASSERT_TRUE(record(own, &r));
    EXPECT_FALSE(r.foreign);
    EXPECT_TRUE(calls().empty());
}

TEST_F(ClusterTest, ForeignRecordsAreDisconnectableButNotClosedAtUnload) {
    serve(describe({}));
    EXPECT_EQ(ORQExt_EnableCluster(90, 1), 0);
    ORQExt_IsClusterEnable(91);
    EXPECT_EQ(ORQExt_DisConnect(90), 0);
    EXPECT_EQ(calls_of(Fn::Close).size(), 1u);
    reset();
    orq::lifecycle::unload();
    orq::lifecycle::load();
    EXPECT_TRUE(calls_of(Fn::Close).empty()) << "91 passed through the switch only";
}

// ---------------------------------------------------------------------------
// Edit requests: commands 11 and 12
// ---------------------------------------------------------------------------

TEST_F(ClusterTest, AddClusterInfoRequestBytes) {
    const ClusterInfo ci = cluster_info("web", "t1", "aa", "bbb");
    const N n1{"10.0.0.1", 7300, "alice", "pw", "x"};
    const N n2{"h2", 1, "bob", "", ""};
    const NodeInfo nodes[2] = {node_info(n1), node_info(n2)};
    const std::string head_nodes = le32(1) + z("web") + z("t1") + std::string(1, '\0');
    struct Case {
        const NodeInfo* nodes;
        int32_t count;
        std::string expect;
    };
    const Case cases[] = {
        {nullptr, 2, le32(0) + z("web") + z("t1") + z("aa") + z("bbb") + std::string(1, '\0')},
        {nodes, 2, head_nodes + le32(2) + node_bytes(n1) + node_bytes(n2)},
        {nodes, 0, head_nodes + le32(0)},
        {nodes, -3, head_nodes + le32(-3)},
    };
    for (const Case& k : cases) {
        reset();
        EXPECT_EQ(ORQExt_AddClusterInfo(33, &ci, k.nodes, k.count), 0);
        auto cs = calls_of(Fn::Command);
        ASSERT_EQ(cs.size(), 2u);
        EXPECT_EQ(cs[0].code(), 11);
        EXPECT_EQ(cs[0].handle, 33);
        EXPECT_EQ(cs[0].body, k.expect);
        EXPECT_EQ(cs[0].field_a(), -1);
        EXPECT_EQ(cs[1].code(), 13) << "reload after a 0 result";
        EXPECT_EQ(cs[1].handle, 33);
    }
}

TEST_F(ClusterTest, AddClusterInfoRefusesBadFieldsBeforeSending) {
    const std::string s255(255, 'n'), s256(256, 'n');
    struct Case {
        const char* what;
        ClusterInfo cluster;
        N node;
        int32_t rc;
    };
    const N good{"srv", 7300, "u", "p", "a"};
    auto with = [&](auto f) {
        N n = good;
        f(n);
        return n;
    };
    const ClusterInfo ok_ci = cluster_info("c", "t");
    const Case cases[] = {
        {"255-character name", cluster_info(s255, "t"), good, 0},
        {"name without zero", cluster_info(s256, "t"), good, -1100},
        {"empty name", cluster_info("", "t"), good, -1100},
        {"empty tag", cluster_info("c", ""), good, -1100},
        {"15-character tag", cluster_info("c", std::string(15, 't')), good, 0},
        {"tag without zero", cluster_info("c", std::string(16, 't')), good, -1100},
        {"attr_a without zero", cluster_info("c", "t", std::string(32, 'a')), good, -1100},
        {"attr_b without zero", cluster_info("c", "t", "", std::string(128, 'b')), good, -1100},
        {"port 65535", ok_ci, with([](N& n) { n.port = 65535; }), -1100},
        {"port 0", ok_ci, with([](N& n) { n.port = 0; }), -1100},
        {"port -1", ok_ci, with([](N& n) { n.port = -1; }), -1100},
        {"port 65534", ok_ci, with([](N& n) { n.port = 65534; }), 0},
        {"port 1", ok_ci, with([](N& n) { n.port = 1; }), 0},
        {"19-character server", ok_ci, with([](N& n) { n.server = std::string(19, 's'); }), 0},
        {"20-character server", ok_ci, with([](N& n) { n.server = std::string(20, 's'); }), -1100},
        {"empty server", ok_ci, with([](N& n) { n.server = ""; }), -1100},
        {"empty user", ok_ci, with([](N& n) { n.user = ""; }), -1100},
        {"user without zero", ok_ci, with([](N& n) { n.user = std::string(128, 'u'); }), -1100},
        {"127-character user", ok_ci, with([](N& n) { n.user = std::string(127, 'u'); }), 0},
        {"empty pass", ok_ci, with([](N& n) { n.pass = ""; }), 0},
        {"pass without zero", ok_ci, with([](N& n) { n.pass = std::string(64, 'p'); }), -1100},
        {"attr without zero", ok_ci, with([](N& n) { n.attr = std::string(128, 'a'); }), -1100},
    };
    for (const Case& k : cases) {
        reset();
        // The node under test comes second: a bad one still stops the whole call.
        const NodeInfo nodes[2] = {node_info(good), node_info(k.node)};
        EXPECT_EQ(ORQExt_AddClusterInfo(5, &k.cluster, nodes, 2), k.rc) << k.what;
        EXPECT_EQ(count(Fn::Command), k.rc == 0 ? 2u : 0u) << k.what;
    }
    reset();
    EXPECT_EQ(ORQExt_AddClusterInfo(5, nullptr, nullptr, 0), -1100);
    EXPECT_EQ(count(Fn::Command), 0u);
}

TEST_F(ClusterTest, DelClusterInfoRequestBytesAndChecks) {
    const ClusterInfo ci = cluster_info("web", "t1", "not", "sent");
    const std::string head = le32(0) + z("web") + z("t1") + std::string(1, '\0');
    struct Case {
        const char* text;
        std::string expect;
    };
    const Case cases[] = {{nullptr, head}, {"", head + std::string(1, '\0')}, {"why", head + z("why")}};
    for (const Case& k : cases) {
        reset();
        EXPECT_EQ(ORQExt_DelClusterInfo(6, &ci, k.text), 0);
        auto cs = calls_of(Fn::Command);
        ASSERT_EQ(cs.size(), 2u);
        EXPECT_EQ(cs[0].code(), 12);
        EXPECT_EQ(cs[0].body, k.expect);
        EXPECT_EQ(cs[1].code(), 13);
    }
    reset();
    const ClusterInfo bad[] = {cluster_info("", "t"), cluster_info("c", ""),
                               cluster_info(std::string(256, 'n'), "t"),
                               cluster_info("c", std::string(16, 't'))};
    for (const ClusterInfo& b : bad) EXPECT_EQ(ORQExt_DelClusterInfo(6, &b, "x"), -1100);
    EXPECT_EQ(ORQExt_DelClusterInfo(6, nullptr, "x"), -1100);
    EXPECT_EQ(count(Fn::Command), 0u);
}

TEST_F(ClusterTest, EditResultIsTheCommandsNotTheReloads) {
    const ClusterInfo ci = cluster_info("c", "t");
    // Command fails: its code, no reload.
    push(fail(-1234));
    EXPECT_EQ(ORQExt_DelClusterInfo(6, &ci, nullptr), -1234);
    EXPECT_EQ(count(Fn::Command), 1u);
    // Command succeeds, reload fails: the command's 0.
    reset();
    push({ok(), fail(-55)});
    EXPECT_EQ(ORQExt_AddClusterInfo(6, &ci, nullptr, 0), 0);
    EXPECT_EQ(count(Fn::Command), 2u);
}

// ---------------------------------------------------------------------------
// Reads
// ---------------------------------------------------------------------------

TEST_F(ClusterTest, EveryReadReloadsWithA16384ByteArea) {
    serve(describe({{"c", "t", "", "", {}}}));
    ClusterInfo q = cluster_info("c", "t");
    ClusterInfo out[1];
    NodeInfo nodes[1];
    int32_t n = 1;
    ORQExt_UpdateCluster(4);
    ORQExt_GetClusterCount(4);
    ORQExt_GetClusterInfo(4, out, &n);
    ORQExt_GetClusterInfoByName(4, &q);
    ORQExt_GetClusterNodeCount(4, &q);
    n = 1;
    ORQExt_GetNodeInfo(4, &q, nodes, &n);
    auto cs = calls_of(Fn::Command);
    ASSERT_EQ(cs.size(), 6u);
    for (const Call& c : cs) {
        EXPECT_EQ(c.code(), 13);
        EXPECT_EQ(c.handle, 4);
        EXPECT_EQ(c.capacity, 16384);
        EXPECT_EQ(c.field_b(), 16384);
        EXPECT_EQ(c.body_len, 0);
    }
}

TEST_F(ClusterTest, CapacityBoundsTheCopiesAndIsReportedBack) {
    std::vector<C> five;
    for (int i = 0; i < 5; ++i) five.push_back({"c" + std::to_string(i), "t", "a", "b", {}});
    five[1].nodes = {{"s1", 1, "u1", "p1", "x1"}, {"s2", 2, "u2", "", ""}, {"s3", 3, "u3", "p3", ""}};
    serve(describe(five));

    ClusterInfo out[4];
    std::memset(out, 0x7E, sizeof out);
    int32_t n = 2;
    EXPECT_EQ(ORQExt_GetClusterInfo(1, out, &n), 2);
    EXPECT_EQ(n, 2);
    EXPECT_STREQ(out[0].name, "c0");
    EXPECT_STREQ(out[1].name, "c1");
    EXPECT_STREQ(out[1].attr_b, "b");
    EXPECT_EQ(out[2].name[0], 0x7E) << "nothing past the capacity";
    for (int32_t cap : {0, -4}) {
        n = cap;
        EXPECT_EQ(ORQExt_GetClusterInfo(1, out, &n), 0);
        EXPECT_EQ(n, 0);
    }
    EXPECT_EQ(ORQExt_GetClusterCount(1), 5);

    const ClusterInfo q = cluster_info("C1", "T");
    EXPECT_EQ(ORQExt_GetClusterNodeCount(1, &q), 3);
    NodeInfo nodes[3];
    std::memset(nodes, 0x7E, sizeof nodes);
    n = 2;
    EXPECT_EQ(ORQExt_GetNodeInfo(1, &q, nodes, &n), 2);
    EXPECT_EQ(n, 2);
    const NodeInfo want0 = node_info({"s1", 1, "u1", "p1", "x1"});
    EXPECT_EQ(std::memcmp(&nodes[0], &want0, sizeof want0), 0) << "344 bytes, zero-padded fields";
    EXPECT_STREQ(nodes[1].server, "s2");
    EXPECT_EQ(nodes[1].port, 2);
    EXPECT_EQ(static_cast<unsigned char>(nodes[2].server[0]), 0x7E);
}

TEST_F(ClusterTest, ClusterIdentityIgnoresLetterCaseAndEmptyTagsMatchOnlyEmpty) {
    serve(describe({{"Web", "", "a0", "b0", {}},
                    {"Web", "Blue", "a1", "b1", {{"s", 1, "u", "p", ""}}},
                    {"web", "blue", "a2", "b2", {}}}));
    ClusterInfo q = cluster_info("WEB", "BLUE");
    EXPECT_EQ(ORQExt_GetClusterInfoByName(2, &q), 0);
    const ClusterInfo want = cluster_info("Web", "Blue", "a1", "b1");
    EXPECT_EQ(std::memcmp(&q, &want, sizeof want), 0) << "the whole record is the first match's";

    q = cluster_info("wEb", "");
    EXPECT_EQ(ORQExt_GetClusterInfoByName(2, &q), 0);
    EXPECT_STREQ(q.attr_a, "a0");

    q = cluster_info("Web", "Green");
    ClusterInfo before = q;
    EXPECT_EQ(ORQExt_GetClusterInfoByName(2, &q), -4128);
    EXPECT_EQ(std::memcmp(&q, &before, sizeof q), 0);

    // A query name filling its array never matches and is never read past.
    q = cluster_info(std::string(256, 'W'), "blue");
    EXPECT_EQ(ORQExt_GetClusterInfoByName(2, &q), -4128);
    EXPECT_EQ(ORQExt_GetClusterInfoByName(2, nullptr), -1100);
}

TEST_F(ClusterTest, NodeReadsOfUnlistedOrAbsentClusters) {
    serve(describe({{"c", "t", "", "", {{"s", 1, "u", "p", ""}}}}));
    NodeInfo nodes[2];
    const ClusterInfo other = cluster_info("d", "t");
    int32_t n = 2;
    EXPECT_EQ(ORQExt_GetNodeInfo(3, &other, nodes, &n), 0);
    EXPECT_EQ(n, 0) << "unlisted cluster stores 0";
    n = 2;
    EXPECT_EQ(ORQExt_GetNodeInfo(3, nullptr, nodes, &n), 0);
    EXPECT_EQ(n, 2) << "absent cluster leaves the count alone";
    const ClusterInfo empty_tag = cluster_info("c", "");
    EXPECT_EQ(ORQExt_GetNodeInfo(3, &empty_tag, nodes, &n), 0);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(ORQExt_GetClusterNodeCount(3, nullptr), 0);
    EXPECT_EQ(ORQExt_GetClusterNodeCount(3, &other), 0);
    // Unusable arguments are refused before anything is sent.
    reset();
    const ClusterInfo c = cluster_info("c", "t");
    EXPECT_EQ(ORQExt_GetNodeInfo(3, &c, nodes, nullptr), -1100);
    n = 1;
    EXPECT_EQ(ORQExt_GetNodeInfo(3, &c, nullptr, &n), -1100);
    EXPECT_EQ(ORQExt_GetClusterInfo(3, nullptr, &n), -1100);
    EXPECT_EQ(ORQExt_GetClusterInfo(3, nullptr, nullptr), -1100);
    EXPECT_EQ(count(Fn::Command), 0u);
}

TEST_F(ClusterTest, CountZeroGivesAnEmptyListNotNone) {
    // A positive reload result is not reported and leaves the table alone:
    // that is the only way a read meets a connection without a list.
    push(Reply{3, "", -1});
    ClusterInfo out[1];
    int32_t n = 1;
    EXPECT_EQ(ORQExt_GetClusterInfo(8, out, &n), -4128);
    EXPECT_EQ(n, 1);
    push(Reply{3, "", -1});
    EXPECT_EQ(ORQExt_GetClusterCount(8), 0);
    ClusterInfo q = cluster_info("c", "t");
    push(Reply{3, "", -1});
    EXPECT_EQ(ORQExt_GetClusterInfoByName(8, &q), -4128);
    EXPECT_FALSE(orq::cluster::has_list(8));

    for (int32_t count_field : {0, -1}) {
        n = 1;
        push(ok(le32(0) + le32(count_field)));
        EXPECT_EQ(ORQExt_GetClusterInfo(8, out, &n), 0);
        EXPECT_EQ(n, 0);
        EXPECT_TRUE(orq::cluster::has_list(8));
    }
}

TEST_F(ClusterTest, FailedReloadKeepsTheListAndReturnsItsCode) {
    push(ok(describe({{"a", "t", "", "", {}}, {"b", "t", "", "", {}}})));
    EXPECT_EQ(ORQExt_UpdateCluster(9), 0);
    push(fail(-1113));
    EXPECT_EQ(ORQExt_GetClusterCount(9), -1113);
    push(Reply{17, "", -1});
    EXPECT_EQ(ORQExt_UpdateCluster(9), 17) << "positive results pass through";
    push(Reply{17, "", -1});
    EXPECT_EQ(ORQExt_GetClusterCount(9), 2) << "a positive result is not a failure";
    // Other connections' lists are never touched.
    push(ok(describe({})));
    EXPECT_EQ(ORQExt_UpdateCluster(10), 0);
    push(Reply{17, "", -1});
    EXPECT_EQ(ORQExt_GetClusterCount(9), 2);
}

// ---------------------------------------------------------------------------
// Hostile descriptions
// ---------------------------------------------------------------------------

TEST_F(ClusterTest, MalformedDescriptionsAreRefusedAndThePreviousListKept) {
    const std::string head1 = le32(0) + le32(1);
    const std::string cl = z("c") + z("t") + z("a") + z("b");
    const std::string node = node_bytes({"s", 1, "u", "p", "x"});
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty reply", ""},
        {"count cut short", le32(0) + std::string("\x01\x00", 2)},
        {"count without clusters", head1},
        {"huge count", le32(0) + le32(0x7FFFFFFF) + cl + le32(0)},
        {"name without zero", head1 + "cccc"},
        {"name of 256 characters", head1 + z(std::string(256, 'n')) + z("t") + z("a") + z("b") + le32(0)},
        {"tag of 16 characters", head1 + z("c") + z(std::string(16, 't')) + z("a") + z("b") + le32(0)},
        {"attr_a of 32 characters", head1 + z("c") + z("t") + z(std::string(32, 'a')) + z("b") + le32(0)},
        {"attr_b of 128 characters", head1 + z("c") + z("t") + z("a") + z(std::string(128, 'b')) + le32(0)},
        {"node count cut short", head1 + cl + "\x02"},
        {"more nodes than sent", head1 + cl + le32(3) + node + node},
        {"server of 20 characters", head1 + cl + le32(1) + node_bytes({std::string(20, 's'), 1, "u", "p", ""})},
        {"port cut short", head1 + cl + le32(1) + z("s") + std::string("\x01\x00", 2)},
        {"user of 128 characters", head1 + cl + le32(1) + node_bytes({"s", 1, std::string(128, 'u'), "p", ""})},
        {"pass of 64 characters", head1 + cl + le32(1) + node_bytes({"s", 1, "u", std::string(64, 'p'), ""})},
        {"attr of 128 characters", head1 + cl + le32(1) + node_bytes({"s", 1, "u", "p", std::string(128, 'x')})},
        {"attr without zero at the end", head1 + cl + le32(1) + z("s") + le32(1) + z("u") + z("p") + "xx"},
    };
    const std::string good = describe({{"keep", "t", "", "", {{"s", 1, "u", "p", ""}}}});
    for (const Case& k : cases) {
        push(ok(good));
        ASSERT_EQ(ORQExt_UpdateCluster(12), 0);
        push(ok(k.bytes));
        EXPECT_EQ(ORQExt_UpdateCluster(12), -1107) << k.what;
        ClusterInfo out[2];
        int32_t n = 2;
        push(Reply{1, "", -1});  // read the table as it stands
        EXPECT_EQ(ORQExt_GetClusterInfo(12, out, &n), 1) << k.what;
        EXPECT_STREQ(out[0].name, "keep") << k.what;
    }
    // A connection without a list gets none from a malformed reply.
    push(ok(head1));
    EXPECT_EQ(ORQExt_UpdateCluster(13), -1107);
    EXPECT_FALSE(orq::cluster::has_list(13));
}

TEST_F(ClusterTest, LongestFieldsAndOddCountsAreAccepted) {
    const N longest{std::string(19, 's'), -5, std::string(127, 'u'), std::string(63, 'p'), std::string(127, 'x')};
    const std::string bytes = describe({{std::string(255, 'n'), std::string(15, 't'), std::string(31, 'a'),
                                   std::string(127, 'b'), {longest}}});
    // A negative node count, then trailing bytes the parse does not need.
    const std::string extra = le32(0) + le32(2) + z("x") + z("t") + z("") + z("") + le32(1) + node_bytes(longest) +
                        z("y") + z("t") + z("") + z("") + le32(-7) + "trailing";
    push(ok(bytes));
    ASSERT_EQ(ORQExt_UpdateCluster(14), 0);
    ClusterInfo out[1];
    int32_t n = 1;
    push(Reply{1, "", -1});
    ASSERT_EQ(ORQExt_GetClusterInfo(14, out, &n), 1);
    EXPECT_EQ(std::string(out[0].name), std::string(255, 'n'));
    EXPECT_EQ(std::string(out[0].attr_b), std::string(127, 'b'));
    NodeInfo nodes[1];
    n = 1;
    push(Reply{1, "", -1});
    ASSERT_EQ(ORQExt_GetNodeInfo(14, &out[0], nodes, &n), 1);
    const NodeInfo want = node_info(longest);
    EXPECT_EQ(std::memcmp(&nodes[0], &want, sizeof want), 0);

    push(ok(extra));
    ASSERT_EQ(ORQExt_UpdateCluster(14), 0);
    push(Reply{1, "", -1});
    EXPECT_EQ(ORQExt_GetClusterCount(14), 2);
    const ClusterInfo y = cluster_info("y", "t");
    push(Reply{1, "", -1});
    EXPECT_EQ(ORQExt_GetClusterNodeCount(14, &y), 0);
}

// ---------------------------------------------------------------------------
// Node selection
// ---------------------------------------------------------------------------

TEST_F(ClusterTest, ClusteringOnWithoutAListGivesMinus1203) {
    push(fail(-5));
    ASSERT_EQ(ORQExt_EnableCluster(20, 1), -5);
    EXPECT_FALSE(orq::cluster::has_list(20));
    int32_t rc = 0;
    EXPECT_EQ(route(20, "M", &rc), 0);
    EXPECT_EQ(rc, -1203);
    EXPECT_EQ(route(20, nullptr, &rc), 0);
    EXPECT_EQ(rc, -1203);
    EXPECT_EQ(count(Fn::Open), 0u);
}

TEST_F(ClusterTest, RoutesToTheFirstClusterOfTheNameIgnoringCase) {
    serve(describe({{"Other", "t", "", "", {{"o", 1, "u", "p", ""}}},
                    {"KEXT_NLPE", "t1", "", "", {{"dead", 1, "u", "p", ""}}},
                    {"kext_nlpe", "t2", "", "", {{"alive", 2, "u", "p", ""}}}}));
    set_open_result("dead", -7);
    ASSERT_EQ(ORQExt_EnableCluster(21, 1), 0);
    int32_t rc = 0;
    EXPECT_EQ(route(21, "KExt_NLPE", &rc), 0) << "later clusters of that name are never used";
    EXPECT_EQ(rc, -1203);
    EXPECT_EQ(servers_since(0), std::vector<std::string>{"dead"});
    EXPECT_EQ(route(21, "", &rc), 0);
    EXPECT_EQ(rc, -1203);

    set_open_result("dead", 0);
    const int32_t h = route(21, "kExT_nLpE", &rc);
    EXPECT_EQ(rc, 0);
    auto opens = calls_of(Fn::Open);
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(h, opens[1].handle);
    EXPECT_NE(h, 21);
    EXPECT_EQ(opens[1].server, "dead");
    EXPECT_EQ(opens[1].port, 1);
    orq::registry::Record r{};
    ASSERT_TRUE(record(h, &r));
    EXPECT_FALSE(r.foreign) << "node connections are the library's own";
}

TEST_F(ClusterTest, FailoverIsStickyAndStartsOverAfterARefresh) {
    serve(describe({{"M", "t", "", "", {{"down", 1, "u", "p", ""}, {"up", 2, "u", "p", ""}, {"spare", 3, "u", "p", ""}}}}));
    set_open_result("down", -3);
    ASSERT_EQ(ORQExt_EnableCluster(22, 1), 0);
    const std::vector<std::string> down_then_up{"down", "up"};

    std::size_t mark = calls().size();
    const int32_t first = route(22, "M");
    ASSERT_NE(first, 0);
    EXPECT_EQ(servers_since(mark), down_then_up);

    // While it lives, the cached connection is used and nothing is opened.
    mark = calls().size();
    EXPECT_EQ(route(22, "M"), first);
    EXPECT_TRUE(servers_since(mark).empty());
    auto valid = since(mark, Fn::IsValid);
    ASSERT_EQ(valid.size(), 1u);
    EXPECT_EQ(valid[0].handle, first);

    // Once it dies, the search starts again at the first node; the dead
    // handle is neither reused nor closed.
    set_valid(first, 0);
    mark = calls().size();
    const int32_t second = route(22, "M");
    EXPECT_NE(second, 0);
    EXPECT_NE(second, first);
    EXPECT_EQ(servers_since(mark), down_then_up);
    EXPECT_TRUE(since(mark, Fn::Close).empty());

    // A refresh forgets cached connections: the next message opens anew
    // although the old one is alive.
    ASSERT_EQ(ORQExt_UpdateCluster(22), 0);
    mark = calls().size();
    const int32_t third = route(22, "M");
    EXPECT_NE(third, 0);
    EXPECT_NE(third, second);
    EXPECT_EQ(servers_since(mark), down_then_up);
    EXPECT_TRUE(since(mark, Fn::IsValid).empty()) << "no cached connection after a refresh";
}

TEST_F(ClusterTest, FrameToAModuleNameLongerThanTheHeadroomIsRoutedOnce) {
    // A name too long to be put in front of the frame in place takes the
    // message-building path; node selection must still run only once.
    const std::string name(40, 'L');
    serve(describe({{name, "t", "", "", {{"node", 1, "u", "p", ""}}}}));
    ASSERT_EQ(ORQExt_EnableCluster(25, 1), 0);
    const std::size_t mark = calls().size();
    orq::Frame f("Fn");
    f.i32(7);
    EXPECT_EQ(orq::send_frame(25, name.c_str(), f, nullptr, nullptr), 0);
    auto opens = since(mark, Fn::Open);
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_TRUE(since(mark, Fn::IsValid).empty()) << "the node chosen is used, not chosen again";
    auto sent = since(mark, Fn::Command);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].handle, opens[0].handle);
    EXPECT_EQ(sent[0].body, z(name) + std::string(1, '\0') + std::string("r!\0Fn\0", 6) + le32(7));
}

TEST_F(ClusterTest, NodesBeyondTheLoginRecordCountAsFailed) {
    serve(describe({{"M", "t", "", "",
                     {{std::string(16, 's'), 1, "u", "p", ""},
                      {"s", 1, std::string(64, 'u'), "p", ""},
                      {"s", 1, "u", std::string(32, 'p'), ""},
                      {"s", 0, "u", "p", ""},
                      {"", 1, "u", "p", ""},
                      {std::string(15, 'f'), 4, std::string(63, 'u'), std::string(31, 'p'), ""}}}}));
    ASSERT_EQ(ORQExt_EnableCluster(23, 1), 0);
    int32_t rc = 1;
    const int32_t h = route(23, "M", &rc);
    EXPECT_EQ(rc, 0);
    auto opens = calls_of(Fn::Open);
    ASSERT_EQ(opens.size(), 1u) << "the overlong and unusable nodes were never sent";
    EXPECT_EQ(opens[0].handle, h);
    std::string login(112, '\0');
    login.replace(0, 63, std::string(63, 'u'));
    login.replace(64, 31, std::string(31, 'p'));
    login.replace(96, 15, std::string(15, 'f'));
    EXPECT_EQ(opens[0].login, login);
}

TEST_F(ClusterTest, WithTheSettingOnNodeConnectionsGetTheirOwnListAndFailedNodeRefreshesFailOver) {
    orq::settings::set_cluster_enable(true);
    // Node "a" opens but cannot answer the cluster query: it counts as failed.
    const std::string desc = describe({{"M", "t", "", "", {{"a", 1, "u", "p", ""}, {"b", 2, "u", "p", ""}}}});
    set_handler([desc](const Call& c) {
        if (c.code() != 13) return ok("ok");
        return c.handle == 1001 ? fail(-9) : ok(desc);
    });
    ORQExt_IsClusterEnable(24);
    ASSERT_EQ(ORQExt_UpdateCluster(24), 0);
    const int32_t h = route(24, "M");
    auto opens = calls_of(Fn::Open);
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[0].handle, 1001);
    EXPECT_EQ(h, opens[1].handle);
    EXPECT_TRUE(orq::cluster::has_list(h)) << "refreshed on the same thread, under the held lock";
    orq::registry::Record r{};
    EXPECT_TRUE(record(1001, &r)) << "the failed node's connection stays registered";

    // The node connection itself has clustering on, so a message there is
    // routed by its own list (which names the same cluster).
    EXPECT_TRUE(ORQExt_IsClusterEnable(h));

    // Clean-up closes the node connections but leaves the node's own list.
    EXPECT_EQ(ORQExt_DisConnect(24), 0);
    EXPECT_FALSE(orq::cluster::has_list(24));
    EXPECT_TRUE(orq::cluster::has_list(h));
}

TEST_F(ClusterTest, NodeHandleEqualToTheRoutedHandleDoesNotCorruptTheList) {
    // A handle the library never opened (here 1001) is switched on; the node
    // connection then gets the same value, and the open operation's refresh
    // replaces the list that node selection is walking.
    orq::settings::set_cluster_enable(true);
    auto served = std::make_shared<std::atomic<int>>(0);
    const std::string first = describe({{"M", "t", "", "", {{"a", 1, "u", "p", ""}}}});
    set_handler([first, served](const Call& c) {
        if (c.code() != 13) return ok("ok");
        return (*served)++ == 0 ? ok(first) : ok(describe({}));
    });
    ASSERT_EQ(ORQExt_EnableCluster(1001, 1), 0);
    int32_t rc = 1;
    EXPECT_EQ(route(1001, "M", &rc), 1001);
    EXPECT_EQ(rc, 0);
    push(Reply{1, "", -1});
    EXPECT_EQ(ORQExt_GetClusterCount(1001), 0) << "the later description stands";
}

TEST_F(ClusterTest, DisconnectClosesEveryNodeConnectionAndDropsTheList) {
    serve(describe({{"A", "t", "", "", {{"a", 1, "u", "p", ""}}},
                    {"B", "t", "", "", {{"b", 1, "u", "p", ""}}},
                    {"C", "t", "", "", {{"c", 1, "u", "p", ""}}}}));
    const int32_t conn = connect();
    ASSERT_EQ(ORQExt_EnableCluster(conn, 1), 0);
    const int32_t a = route(conn, "A");
    const int32_t b = route(conn, "B");
    const int32_t c = route(conn, "C");
    ASSERT_TRUE(a && b && c);
    // The caller closed one node connection itself: clean-up ignores its -4100.
    EXPECT_EQ(ORQExt_DisConnect(c), 0);
    const std::size_t mark = calls().size();
    EXPECT_EQ(ORQExt_DisConnect(conn), 0);
    std::vector<int32_t> closed;
    for (const Call& k : since(mark, Fn::Close)) closed.push_back(k.handle);
    EXPECT_EQ(closed, (std::vector<int32_t>{a, b, conn}));
    EXPECT_FALSE(orq::cluster::has_list(conn));
    EXPECT_TRUE(open_handles().empty());

    // A new connection starts from an empty table.
    const int32_t again = connect();
    orq::registry::Record r{};
    ASSERT_TRUE(record(again, &r));
    EXPECT_FALSE(orq::cluster::has_list(again));
    EXPECT_FALSE(orq::cluster::cleanup(again)) << "no list, nothing to clean";
}

// ---------------------------------------------------------------------------
// Concurrency
// ---------------------------------------------------------------------------

TEST_F(ClusterTest, ConcurrencyRoutedMessagesWhileRefreshesRun) {
    orq::settings::set_cluster_enable(true);  // node opens refresh on the same thread too
    const std::string desc = describe({{"M1", "t", "", "", {{"a", 1, "u", "p", ""}, {"b", 2, "u", "p", ""}}},
                                       {"M2", "t", "", "", {{"c", 3, "u", "p", ""}}}});
    serve(desc);
    const int32_t conn = connect();
    ASSERT_NE(conn, 0);
    std::atomic<int> failures{0};
    std::vector<std::thread> ts;
    for (int t = 0; t < 4; ++t)
        ts.emplace_back([&, t] {
            for (int i = 0; i < 150; ++i) {
                const char* module = (t + i) % 2 ? "M1" : "m2";
                if (orq::send_module_message(conn, module, nullptr, "x", 1, nullptr, nullptr, -1, 0) != 0)
                    ++failures;
            }
        });
    for (int t = 0; t < 2; ++t)
        ts.emplace_back([&] {
            for (int i = 0; i < 60; ++i) {
                if (ORQExt_UpdateCluster(conn) != 0) ++failures;
                ClusterInfo out[2];
                int32_t n = 2;
                if (ORQExt_GetClusterInfo(conn, out, &n) != 2) ++failures;
            }
        });
    for (auto& t : ts) t.join();
    EXPECT_EQ(failures.load(), 0);

    std::set<int32_t> nodes;
    for (const Call& c : calls_of(Fn::Open))
        if (c.handle != conn) nodes.insert(c.handle);
    std::size_t messages = 0;
    for (const Call& c : calls_of(Fn::Command)) {
        if (c.code() != 2) continue;
        ++messages;
        EXPECT_TRUE(nodes.count(c.handle)) << "message on " << c.handle;
    }
    EXPECT_EQ(messages, 600u);
    EXPECT_EQ(ORQExt_DisConnect(conn), 0);
}

}  // namespace

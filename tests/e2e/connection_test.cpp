// Connections over the network: server status, login, address forms,
// disconnect, and what a connection reports once its server is gone.
#include <csignal>

#include "tests/e2e/fixture.h"

namespace e2e {
namespace {

using namespace xsrproto;

class ConnectionTest : public SimTest {};

TEST_F(ConnectionTest, ConnectCheckAndDisconnectOnEveryAddressForm) {
    std::vector<std::string> hosts = {"127.0.0.1", "localhost"};
    if (sim_.has_ipv6()) hosts.push_back("::1");
    for (const auto& host : hosts) {
        EXPECT_EQ(ORQExt_GetServerStatus(host.c_str(), sim_.port()), 0) << host;
        const int32_t h = connect("admin", "admin", host.c_str());
        ASSERT_GT(h, 0) << host;
        EXPECT_NE(ORQExt_IsConnect(h), 0) << host;
        int32_t rc = 0;
        EXPECT_EQ(send(h, "Echo", "ping " + host, &rc), "ping " + host);
        EXPECT_EQ(rc, 0);
        disconnect(h);
        EXPECT_EQ(ORQExt_IsConnect(h), 0) << "a closed handle is not alive";
        EXPECT_EQ(ORQExt_DisConnect(h), ORQEXT_E_NO_CONNECTION) << "a second disconnect";
    }
    // The probes and the closed connections left no session behind.
    EXPECT_TRUE(eventually([&] { return stats()["sessions"] == 1; })) << "only the stats query's own";
}

TEST_F(ConnectionTest, WrongPasswordIsRefused) {
    int32_t status = 0;
    ORQExt_Connect("127.0.0.1", sim_.port(), "admin", "nope", &status);
    EXPECT_EQ(status, kErrLogin);
    ORQExt_Connect("127.0.0.1", sim_.port(), "nobody", "admin", &status);
    EXPECT_EQ(status, kErrLogin);
}

TEST_F(ConnectionTest, NoServerAndUnknownHostGiveCodesNotHangs) {
    // A port that was just free: nothing listens there.
    const int dead_port = [] {
        FakePeer p([](int) {});
        return p.port();
    }();
    EXPECT_EQ(ORQExt_GetServerStatus("127.0.0.1", dead_port), kErrConnect);
    int32_t status = 0;
    EXPECT_EQ(ORQExt_Connect("127.0.0.1", dead_port, "admin", "admin", &status), 0);
    EXPECT_EQ(status, kErrConnect);
    // A label over 63 characters: refused by the resolver without a query.
    EXPECT_EQ(ORQExt_GetServerStatus((std::string(64, 'a') + ".invalid").c_str(), sim_.port()), kErrResolve);
    EXPECT_EQ(ORQExt_IsConnect(123456), 0) << "a handle never opened";
}

TEST_F(ConnectionTest, ConnectionReportsDeadOnceTheServerStops) {
    const int32_t h = connect();
    ASSERT_NE(ORQExt_IsConnect(h), 0);
    ASSERT_EQ(sim_.stop(SIGINT), 0) << "SIGINT stops it as cleanly as SIGTERM";
    EXPECT_TRUE(eventually([&] { return ORQExt_IsConnect(h) == 0; }));
    int32_t rc = 0;
    send(h, "Echo", "x", &rc);
    EXPECT_EQ(rc, kErrLost);
    EXPECT_EQ(ORQExt_GetServerStatus("127.0.0.1", sim_.port()), kErrConnect);
    disconnect(h);
}

class ConfiguredUsersTest : public SimTest {
protected:
    std::string config() override { return "user alice \"two words\"\nuser Bob b\n"; }
};

TEST_F(ConfiguredUsersTest, UsersFromTheConfigReplaceTheDefaultOne) {
    int32_t status = 0;
    ORQExt_Connect("127.0.0.1", sim_.port(), "admin", "admin", &status);
    EXPECT_EQ(status, kErrLogin) << "the default user is gone once users are configured";
    EXPECT_GT(connect("alice", "two words"), 0);
    EXPECT_GT(connect("bob", "b"), 0) << "user names ignore letter case";
    ORQExt_Connect("127.0.0.1", sim_.port(), "Bob", "B", &status);
    EXPECT_EQ(status, kErrLogin) << "passwords do not";
}

}  // namespace
}  // namespace e2e

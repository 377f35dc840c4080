// xsr-sim's bounds against clients that take without giving back: the bytes
// of answers held for tickets (per session and in all), and the sockets that
// have not logged in (a pool of their own with a shorter time limit, so that
// connects that never log in cannot keep logged-in clients out). The server
// runs on the test's clock: no test waits for a limit to pass.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "tests/e2e/sim_in_process.h"
#include "tests/e2e/sim_process.h"

namespace {

using namespace sim_in_process;
using namespace xsrproto;

constexpr int kBoundMs = 8000;  // a guard against a hang, never waited out when all is well

uint64_t held_bytes(const xsrsim::Server& s) { return std::strtoull(stat_of(s, "held_bytes").c_str(), nullptr, 10); }

// --- answers held for tickets ---------------------------------------------------

class SimHeld : public Fixture {
protected:
    void SetUp() override {
        xsrsim::Config cfg;
        cfg.max_held_session_bytes = 10000;
        cfg.max_held_bytes = 25000;
        cfg.pending_after_ms = 0;  // a call on a worker comes back pending
        start(cfg);
    }
    // A message to the scriptable module: code 2, or code 3 (asynchronous,
    // the script as its second body).
    int32_t script(int32_t h, const std::string& s, bool async = false, std::string* answer = nullptr) {
        const std::string head = std::string("Script") + std::string(2, '\0');
        return async ? command(h, 3, head, s, answer) : command(h, 2, head + s, std::string(), answer);
    }
    // Polls a ticket until its answer is no longer pending.
    int32_t poll_until_ready(int32_t h, const std::string& ticket, std::string* answer) {
        int32_t rc = kPending;
        e2e::eventually([&] { return (rc = command(h, 4, ticket, std::string(), answer)) != kPending; }, kBoundMs);
        return rc;
    }
};

TEST_F(SimHeld, AnswersHeldForTicketsAreBoundedPerSessionAndInAll) {
    const uint16_t port = server_->port();
    const int32_t a = open_conn(port), b = open_conn(port), c = open_conn(port);
    struct Step {
        const char* what;
        int32_t session;
        const char* script;
        bool async;
        int32_t want;
        uint64_t held_after;
    };
    // A parted answer keeps what the first part leaves; an asynchronous one
    // keeps all of it behind its pending ticket.
    const Step steps[] = {
        {"a parted answer is held", a, "size=6000 part=1000", false, kPart, 6000},
        {"over the session's bound", a, "size=6000 part=1000", false, kErrHeldLimit, 6000},
        {"up to the session's bound", a, "size=4000 part=1000", true, kPending, 10000},
        {"a slow call while the session is full", a, "delay=1 size=10", false, kErrHeldLimit, 10000},
        {"another session has its own bound", b, "size=9000 part=1000", false, kPart, 19000},
        {"up to the server's bound", c, "size=6000 part=1000", false, kPart, 25000},
        {"over the server's bound", c, "size=2 part=1", false, kErrHeldLimit, 25000},
        {"an answer that is not held is not refused", c, "size=100", false, 0, 25000},
    };
    for (const auto& s : steps) {
        EXPECT_EQ(script(s.session, s.script, s.async), s.want) << s.what;
        EXPECT_EQ(held_bytes(*server_), s.held_after) << s.what;
    }

    // Fetching a parted answer to its end gives its bytes back.
    int32_t rc = kPart;
    std::string part;
    for (int i = 0; i < 20 && rc == kPart; ++i) rc = command(b, 4, std::string(kTicketSize, '\0'), std::string(), &part);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(held_bytes(*server_), 16000u);
    // So does the end of a session.
    EXPECT_EQ(XSR_CloseConn(a), 0);
    EXPECT_TRUE(e2e::eventually([&] { return held_bytes(*server_) == 6000; }, kBoundMs)) << held_bytes(*server_);
    EXPECT_EQ(script(c, "size=2 part=1"), kPart) << "room again";
    XSR_CloseConn(b);
    XSR_CloseConn(c);
}

TEST_F(SimHeld, APendingAnswerOverTheBoundIsLetGoAndItsTicketSaysSo) {
    const int32_t h = open_conn(server_->port());
    const int32_t other = open_conn(server_->port());
    ASSERT_EQ(script(h, "size=6000 part=1000"), kPart);
    // Each call waits at a gate on its worker until the other connection
    // opens it: it is pending for certain, and its answer comes later.
    struct Case {
        const char* what;
        const char* gate;
        const char* size;
        int32_t want;
        std::size_t answer_len;
    };
    const Case cases[] = {
        {"within the bound", "g1", "size=3000", 0, 3000},
        {"over the bound", "g2", "size=6000", kErrHeldLimit, 0},
    };
    for (const auto& c : cases) {
        std::string ticket;
        ASSERT_EQ(script(h, std::string("delay=1 hold=") + c.gate + " " + c.size, true, &ticket), kPending)
            << c.what << ": admitted, the session is not full";
        ASSERT_EQ(ticket.size(), kTicketSize) << c.what;
        ASSERT_EQ(script(other, std::string("release=") + c.gate), 0) << c.what;
        std::string answer;
        EXPECT_EQ(poll_until_ready(h, ticket, &answer), c.want) << c.what;
        EXPECT_EQ(answer.size(), c.answer_len) << c.what;
        EXPECT_EQ(held_bytes(*server_), 6000u) << c.what << ": only the parted answer stays held";
    }
    XSR_CloseConn(h);
    XSR_CloseConn(other);
}

// --- sockets that have not logged in -------------------------------------------

// True when the server ends the socket within max_ms (after any fault frame).
bool ended_by_server(int fd, int max_ms) {
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, max_ms) <= 0) return false;
        char buf[256];
        if (::recv(fd, buf, sizeof buf, 0) <= 0) return true;
    }
}
bool still_open(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 0;
}

class SimLogins : public Fixture {
protected:
    void SetUp() override {
        xsrsim::Config cfg;
        cfg.max_connections = 3;
        cfg.max_pending_logins = 2;
        cfg.login_limit_ms = 5000;
        start(cfg);
    }
    long pending() { return std::atol(stat_of(*server_, "pending_logins").c_str()); }
};

TEST_F(SimLogins, ConnectsThatNeverLogInCannotKeepClientsOut) {
    const uint16_t port = server_->port();
    const int32_t first = open_conn(port);
    int raw[4];
    for (int& fd : raw) {
        fd = e2e::raw_connect(port);
        ASSERT_GE(fd, 0);
    }
    EXPECT_TRUE(ended_by_server(raw[0], kBoundMs)) << "a full pool of pending logins ends its oldest";
    EXPECT_TRUE(ended_by_server(raw[1], kBoundMs));
    EXPECT_TRUE(e2e::eventually([&] { return pending() == 2; }, kBoundMs)) << pending();

    int32_t rc = 1;
    const int32_t second = open_conn(port, &rc);
    EXPECT_EQ(rc, 0) << "a login gets in past idle connects";
    const int32_t third = open_conn(port, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(message(third, "Echo", "x"), 0);
    EXPECT_LE(pending(), 2);

    // The logged-in sockets have their own bound, which pending ones do not
    // take from.
    int32_t fourth = open_conn(port, &rc);
    EXPECT_EQ(rc, kErrBusy) << "three logged in already";
    EXPECT_EQ(XSR_CloseConn(first), 0);
    EXPECT_TRUE(e2e::eventually([&] {
        fourth = open_conn(port, &rc);
        return rc == 0;
    }, kBoundMs)) << rc;
    EXPECT_EQ(message(fourth, "Echo", "x"), 0);
    for (int fd : raw) ::close(fd);
    for (int32_t h : {second, third, fourth}) XSR_CloseConn(h);
}

TEST_F(SimLogins, ASocketThatDoesNotLogInWithinTheLoginLimitIsClosed) {
    const uint16_t port = server_->port();
    const int32_t client = open_conn(port);
    struct Case {
        const char* what;
        std::string sent;
    };
    const Case cases[] = {
        {"nothing sent", ""},
        {"half a login frame", std::string("\x40\x00", 2)},
    };
    int fds[2];
    for (int i = 0; i < 2; ++i) {
        fds[i] = e2e::raw_connect(port);
        ASSERT_GE(fds[i], 0);
        if (!cases[i].sent.empty()) e2e::raw_send(fds[i], cases[i].sent.data(), cases[i].sent.size());
    }
    ASSERT_TRUE(e2e::eventually([&] { return pending() == 2; }, kBoundMs)) << "both accepted";
    now() += 4999;
    EXPECT_EQ(server_->end_late_logins(), 0u);
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(still_open(fds[i])) << cases[i].what << ": within the limit";
    now() += 1;
    server_->end_late_logins();  // (the accept loop's own sweep may come first)
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(ended_by_server(fds[i], kBoundMs)) << cases[i].what;
        ::close(fds[i]);
    }
    EXPECT_EQ(pending(), 0);
    EXPECT_EQ(message(client, "Echo", "x"), 0) << "the logged-in client stays";
    XSR_CloseConn(client);
}

}  // namespace

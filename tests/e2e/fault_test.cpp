// Faults on both sides. The client: a server that dies mid-answer, resets,
// stalls, is killed, or sends malformed frames gives a negative code within
// the time limit, never writes past the caller's buffer, and leaves the
// handle reporting dead; so does a network between the two (a proxy) that
// drops, cuts, delays, corrupts or half-closes a frame. The server: garbage,
// half frames and abrupt disconnects from one client leave it serving the
// others.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "tests/e2e/fixture.h"
#include "xsr/xsrclient.h"

namespace e2e {
namespace {

using namespace xsrproto;
using Clock = std::chrono::steady_clock;

constexpr int kIoLimitMs = 600;
// Generous: a fault must end well within this even on a loaded machine.
constexpr int kBoundMs = 8000;

long elapsed_ms(Clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

class ServerFaultTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        set_limits(2000, kIoLimitMs);
    }
};

TEST_F(ServerFaultTest, BrokenAnswersGiveCodesAndAHandleThatReportsDead) {
    struct Case {
        const char* script;
        int32_t want;
    };
    const Case cases[] = {
        {"size=5000 fault=cut cut=10", kErrLost},    // dies inside the frame head
        {"size=5000 fault=cut cut=2000", kErrLost},  // dies inside the answer bytes
        {"size=10 fault=reset", kErrLost},           // connection reset
        {"size=10 fault=stall", kErrTimeout},        // never answers
    };
    const int fds = open_fds();
    const int threads = thread_count();
    for (const auto& c : cases) {
        const int32_t h = connect();
        std::string buf(6000, '#');
        int32_t len = 5000;
        const std::string s(c.script);
        const auto t0 = Clock::now();
        const int32_t rc = ORQExt_SendMessage(h, "Script", nullptr, s.data(), static_cast<int32_t>(s.size()), &buf[0], &len);
        EXPECT_EQ(rc, c.want) << c.script;
        EXPECT_LT(elapsed_ms(t0), kBoundMs) << c.script;
        EXPECT_EQ(buf.substr(5000), std::string(1000, '#')) << c.script;
        EXPECT_EQ(ORQExt_IsConnect(h), 0) << c.script;
        int32_t again = 0;
        send(h, "Echo", "x", &again);
        EXPECT_EQ(again, kErrLost) << "a lost handle fails fast: " << c.script;
        disconnect(h);
    }
    EXPECT_LE(open_fds(), fds) << "no socket left open";
    EXPECT_TRUE(threads_at_most(threads)) << "no thread left running: " << thread_count() << " of " << threads;
    // The server itself is fine.
    const int32_t h = connect();
    int32_t rc = -1;
    EXPECT_EQ(send(h, "Echo", "ok", &rc), "ok");
}

TEST_F(ServerFaultTest, ServerKilledWhileAnAnswerIsPending) {
    const int32_t h = connect();
    std::atomic<int32_t> rc{1};
    std::thread caller([&] {
        char buf[256];
        int32_t len = sizeof buf;
        const std::string s = "delay=60000";
        rc = ORQExt_SendMessage(h, "Script", nullptr, s.data(), static_cast<int32_t>(s.size()), buf, &len);
    });
    ASSERT_TRUE(eventually([&] { return stats()["tickets"] == 1; })) << "the answer went pending";
    const auto t0 = Clock::now();
    sim_.kill_now();
    caller.join();
    EXPECT_LT(rc.load(), 0);
    EXPECT_NE(rc.load(), 1);
    EXPECT_LT(elapsed_ms(t0), kBoundMs);
    EXPECT_EQ(ORQExt_IsConnect(h), 0);
}

TEST_F(ServerFaultTest, CloseWhileACallWaitsEndsTheCall) {
    set_limits(2000, 20000);
    XSR_Login rec;
    std::memset(&rec, 0, sizeof rec);
    std::strcpy(rec.user, "admin");
    std::strcpy(rec.password, "admin");
    int32_t h = 0;
    ASSERT_EQ(XSR_OpenConn("127.0.0.1", sim_.port(), &rec, &h), 0);
    std::atomic<int32_t> rc{1};
    std::thread caller([&] {
        unsigned char header[kHeaderSize];
        encode_header(header, CommandHeader{2, kHeaderConstant, -1, 64, -1});
        const char body[] = "Script\0\0hold=close-gate";
        char buf[64];
        int32_t len = sizeof buf;
        rc = XSR_CommandEx(h, kCallMagic, 0, 45000, buf, &len, header, 16, 0, body, sizeof body - 1, 0, nullptr, 0);
    });
    ASSERT_TRUE(eventually([&] { return stats()["held"] == 1; })) << "the call waits at the server";
    const auto t0 = Clock::now();
    EXPECT_EQ(XSR_CloseConn(h), 0);
    caller.join();
    EXPECT_EQ(rc.load(), kErrClosed);
    EXPECT_LT(elapsed_ms(t0), kBoundMs);
    EXPECT_EQ(XSR_IsValidCon(h), 0);
    const int32_t other = connect();
    int32_t r = -1;
    send(other, "Script", "release=close-gate", &r);
    EXPECT_EQ(r, 0);
}

// Garbage, half frames, oversized lengths and abrupt disconnects from raw
// sockets, while a proper connection keeps working.
TEST_F(ServerFaultTest, ServerSurvivesMisbehavingClientsAndServesTheOthers) {
    set_limits(2000, 20000);
    const int32_t h = connect();
    unsigned char huge[4];
    put_u32(huge, 0xFFFFFFF0u);
    unsigned char login_then_junk[kPrefixSize + kHeadSize + kLoginSize + 8] = {};
    {
        unsigned char rec[kLoginSize] = {};
        std::memcpy(rec, "admin", 5);
        std::memcpy(rec + 64, "admin", 5);
        const auto f = encode_login(1, rec);
        std::memcpy(login_then_junk, f.data(), f.size());
        std::memset(login_then_junk + f.size(), 0xEE, 8);
    }
    const auto command = [] {
        unsigned char header[kHeaderSize];
        encode_header(header, CommandHeader{2, kHeaderConstant, -1, 100, -1});
        std::vector<unsigned char> f(kCommandLead);
        encode_command_lead(f.data(), 1, header, 100, Ticket{}, 0, 0);
        f.insert(f.end(), 4, 0);
        return f;
    }();
    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
        bool expect_fault;  // the server names its reason before it closes
    };
    const Case cases[] = {
        {"text garbage", std::vector<unsigned char>{'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P'}, true},
        {"a huge length", std::vector<unsigned char>(huge, huge + 4), true},
        {"half a prefix", std::vector<unsigned char>{5, 0}, false},
        {"a command before the login", command, true},
        {"a login followed by junk", std::vector<unsigned char>(login_then_junk, login_then_junk + sizeof login_then_junk), true},
        {"nothing at all", {}, false},
    };
    for (const auto& c : cases) {
        const int fd = raw_connect(sim_.port());
        ASSERT_GE(fd, 0);
        if (!c.bytes.empty()) raw_send(fd, c.bytes.data(), c.bytes.size());
        if (c.expect_fault) {
            const auto got = raw_read_until_close(fd, kBoundMs);
            ASSERT_GE(got.size(), kPrefixSize + kHeadSize + kFaultFixed) << c.what;
            // After a possible welcome, the last frame is the fault.
            const unsigned char* last = got.data() + got.size() - (kPrefixSize + kHeadSize + kFaultFixed);
            Head head;
            ASSERT_EQ(decode_head(last + kPrefixSize, kHeadSize + kFaultFixed, &head), HeadStatus::Ok) << c.what;
            EXPECT_EQ(head.kind, kFault) << c.what;
        }
        close(fd);  // abrupt, with or without an answer read
        int32_t rc = -1;
        EXPECT_EQ(send(h, "Echo", c.what, &rc), c.what);
        EXPECT_EQ(rc, 0) << "after " << c.what;
    }
    EXPECT_TRUE(eventually([&] { return stats()["sockets"] == 2; }))
        << "the misbehaving sockets are gone (left: this test's and the stats query's)";
}

// A request frame longer than the server accepts is refused with -20010,
// whatever its size: the server reads (and drops) the rest of it so that
// its fault frame reaches the client instead of a reset.
class RequestLimitTest : public SimTest {
protected:
    std::string config() override { return "max_request 4096\n"; }
};

TEST_F(RequestLimitTest, RequestLongerThanTheServerAcceptsGivesTooLarge) {
    set_limits(2000, 20000);
    XSR_Login rec;
    std::memset(&rec, 0, sizeof rec);
    std::strcpy(rec.user, "admin");
    std::strcpy(rec.password, "admin");
    for (const std::size_t size : {std::size_t(8) << 10, std::size_t(8) << 20}) {
        int32_t h = 0;
        ASSERT_EQ(XSR_OpenConn("127.0.0.1", sim_.port(), &rec, &h), 0);
        unsigned char header[kHeaderSize];
        encode_header(header, CommandHeader{2, kHeaderConstant, -1, 64, -1});
        std::vector<char> body(size, 'x');
        std::memcpy(body.data(), "Echo\0\0", 6);
        char buf[64];
        int32_t len = sizeof buf;
        const auto t0 = Clock::now();
        EXPECT_EQ(XSR_CommandEx(h, kCallMagic, 0, 45000, buf, &len, header, 16, 0, body.data(),
                                static_cast<int32_t>(body.size()), 0, nullptr, 0),
                  kErrTooLarge)
            << size;
        EXPECT_LT(elapsed_ms(t0), kBoundMs) << size;
        EXPECT_EQ(len, 0) << size;
        EXPECT_EQ(XSR_IsValidCon(h), 0) << size;
        EXPECT_EQ(XSR_CloseConn(h), 0);
    }
    const int32_t h = connect();
    int32_t rc = -1;
    EXPECT_EQ(send(h, "Echo", "still serving", &rc), "still serving");
    EXPECT_EQ(rc, 0);
}

// --- a proxy that harms one frame between the client and xsr-sim ------------------

int32_t login(int port, int32_t* handle);  // admin/admin through the networked XSRClient

enum class Toward { Server, Client };
enum class Harm {
    Drop,       // the frame never arrives; the connection stays
    Cut,        // half the frame, then both connections close
    Delay,      // the frame arrives delay_ms late
    Corrupt,    // the frame's first head byte is flipped
    HalfClose,  // toward the server: the frame, then the end of what the client
                // sends; toward the client: the end of what it receives
                // instead of the frame
};

struct FrameFault {
    Toward toward;
    int frame;  // counted from 1 in its direction: 1 is the login or the welcome
    Harm harm;
    int delay_ms;
};

// Relays whole frames both ways between a client and xsr-sim, and harms the
// one frame it is given. Every wait of its own is bounded.
class FaultProxy {
public:
    FaultProxy(int sim_port, FrameFault f)
        : sim_port_(sim_port), fault_(f), peer_([this](int fd) { relay(fd); }) {}
    int port() const { return peer_.port(); }

private:
    void relay(int client) {
        const int server = raw_connect(sim_port_);
        if (server < 0) return;
        std::thread back([&] { pump(server, client, Toward::Client); });
        pump(client, server, Toward::Server);
        back.join();
        close(server);
    }
    void pump(int from, int to, Toward toward) {
        for (int n = 1;; ++n) {
            std::vector<unsigned char> f = raw_read_frame(from, kBoundMs);
            if (f.empty()) break;
            if (toward == fault_.toward && n == fault_.frame) {
                switch (fault_.harm) {
                    case Harm::Drop:
                        continue;
                    case Harm::Cut:
                        raw_send(to, f.data(), f.size() / 2);
                        ::shutdown(from, SHUT_RDWR);
                        ::shutdown(to, SHUT_RDWR);
                        return;
                    case Harm::Delay:
                        ::poll(nullptr, 0, fault_.delay_ms);  // the slow network itself
                        break;
                    case Harm::Corrupt:
                        f[kPrefixSize] ^= 0xFF;
                        break;
                    case Harm::HalfClose:
                        if (toward == Toward::Server) raw_send(to, f.data(), f.size());
                        ::shutdown(to, SHUT_WR);
                        continue;
                }
            }
            if (!raw_send(to, f.data(), f.size())) break;
        }
        // One side is gone: so is the relay.
        ::shutdown(from, SHUT_RDWR);
        ::shutdown(to, SHUT_RDWR);
    }

    const int sim_port_;
    const FrameFault fault_;
    FakePeer peer_;  // last: its threads end before the rest goes
};

// The networked XSRClient against xsr-sim through a proxy that drops, cuts,
// delays, corrupts or half-closes one frame of the login or of a call: each
// case ends with the right code within the limits, leaves no socket or
// thread behind, and xsr-sim goes on serving.
TEST_F(ServerFaultTest, FramesHarmedOnTheWayGiveTheirCodesWithinTheLimits) {
    set_limits(1000, kIoLimitMs);
    struct Case {
        const char* what;
        FrameFault fault;
        int32_t want_open;  // the login's result
        int32_t want_call;  // the call's, when logged in
        int alive;          // the handle after the call: 1 alive, 0 dead, -1 either
    };
    // A server that reads the end of the client's side answers what it has
    // and then ends the connection: whether the handle still looks alive
    // depends on how soon that end arrives, so only the answer is held.
    constexpr int kEither = -1;
    const Case cases[] = {
        {"login dropped", {Toward::Server, 1, Harm::Drop, 0}, kErrConnectTimeout, 0, 0},
        {"welcome dropped", {Toward::Client, 1, Harm::Drop, 0}, kErrConnectTimeout, 0, 0},
        {"login cut", {Toward::Server, 1, Harm::Cut, 0}, kErrLost, 0, 0},
        {"welcome cut", {Toward::Client, 1, Harm::Cut, 0}, kErrLost, 0, 0},
        {"welcome corrupted", {Toward::Client, 1, Harm::Corrupt, 0}, kErrProtocol, 0, 0},
        {"welcome late, within the connect limit", {Toward::Client, 1, Harm::Delay, 100}, 0, 0, 1},
        {"request dropped", {Toward::Server, 2, Harm::Drop, 0}, 0, kErrTimeout, 0},
        {"answer dropped", {Toward::Client, 2, Harm::Drop, 0}, 0, kErrTimeout, 0},
        {"request cut", {Toward::Server, 2, Harm::Cut, 0}, 0, kErrLost, 0},
        {"answer cut", {Toward::Client, 2, Harm::Cut, 0}, 0, kErrLost, 0},
        {"request late, within the I/O limit", {Toward::Server, 2, Harm::Delay, 100}, 0, 0, 1},
        {"answer late, within the I/O limit", {Toward::Client, 2, Harm::Delay, 100}, 0, 0, 1},
        {"answer later than the I/O limit", {Toward::Client, 2, Harm::Delay, 3 * kIoLimitMs}, 0, kErrTimeout, 0},
        {"request corrupted", {Toward::Server, 2, Harm::Corrupt, 0}, 0, kErrProtocol, 0},
        {"answer corrupted", {Toward::Client, 2, Harm::Corrupt, 0}, 0, kErrProtocol, 0},
        {"client's side half-closed after the request", {Toward::Server, 2, Harm::HalfClose, 0}, 0, 0, kEither},
        {"answer side half-closed", {Toward::Client, 2, Harm::HalfClose, 0}, 0, kErrLost, 0},
    };
    const int fds = open_fds();
    const int threads = thread_count();
    for (const auto& c : cases) {
        int32_t h = 0;
        int32_t call = 1;
        std::string answer;
        {
            FaultProxy proxy(sim_.port(), c.fault);
            const auto t0 = Clock::now();
            EXPECT_EQ(login(proxy.port(), &h), c.want_open) << c.what;
            if (c.want_open == 0) {
                unsigned char header[kHeaderSize];
                encode_header(header, CommandHeader{2, kHeaderConstant, -1, 64, -1});
                const char body[] = "Echo\0\0hello";
                char buf[64];
                int32_t len = sizeof buf;
                call = XSR_CommandEx(h, kCallMagic, 0, 45000, buf, &len, header, 16, 0, body, sizeof body - 1, 0,
                                     nullptr, 0);
                EXPECT_EQ(call, c.want_call) << c.what;
                if (call == 0) answer.assign(buf, static_cast<std::size_t>(len));
                if (c.alive != kEither) {
                    EXPECT_EQ(XSR_IsValidCon(h), c.alive) << c.what;
                }
                EXPECT_EQ(XSR_CloseConn(h), 0) << c.what;
            }
            EXPECT_LT(elapsed_ms(t0), kBoundMs) << c.what;
        }
        if (call == 0) {
            EXPECT_EQ(answer, "hello") << c.what;
        }
    }
    EXPECT_LE(open_fds(), fds) << "no socket left open";
    EXPECT_TRUE(threads_at_most(threads)) << "no thread left running: " << thread_count() << " of " << threads;
    const int32_t h = connect();
    int32_t rc = -1;
    EXPECT_EQ(send(h, "Echo", "still serving", &rc), "still serving");
    EXPECT_EQ(rc, 0);
}

// --- peers that are not xsr-sim ------------------------------------------------

// Answers the login with a welcome, then each command with what `reply`
// builds from the request id and the capacity offered.
std::function<void(int)> serve_login_then(std::function<std::vector<unsigned char>(uint32_t rid, int32_t cap)> reply) {
    return [reply](int fd) {
        auto login = raw_read_frame(fd, kBoundMs);
        if (login.empty()) return;
        Welcome w;
        w.session = 1;
        const auto wf = encode_welcome(get_u32(&login[8]), w);
        raw_send(fd, wf.data(), wf.size());
        auto cmd = raw_read_frame(fd, kBoundMs);
        if (cmd.size() < kCommandLead) return;
        const auto out = reply(get_u32(&cmd[8]), get_i32(&cmd[kPrefixSize + kHeadSize + kHeaderSize]));
        raw_send(fd, out.data(), out.size());
        raw_read_until_close(fd, kBoundMs);  // until the client closes
    };
}

std::vector<unsigned char> answer_frame(uint32_t rid, int32_t result, uint32_t announced, std::size_t actual,
                                        uint32_t whole = 0) {
    AnswerFixed a;
    a.result = result;
    a.answer_len = announced;
    a.whole_len = whole > announced ? whole : announced;
    std::vector<unsigned char> f(kAnswerLead);
    encode_answer_lead(f.data(), rid, a);
    f.insert(f.end(), actual, 'z');
    return f;
}

int32_t login(int port, int32_t* handle) {
    XSR_Login rec;
    std::memset(&rec, 0, sizeof rec);
    std::strcpy(rec.user, "admin");
    std::strcpy(rec.password, "admin");
    std::strcpy(rec.server, "127.0.0.1");
    return XSR_OpenConn("127.0.0.1", port, &rec, handle);
}

// One XSR_CommandEx into a guarded buffer; the guard must stay untouched.
int32_t command_into_guarded(int32_t h, int32_t capacity, int32_t* len, bool* guard_intact) {
    std::vector<unsigned char> buf(static_cast<std::size_t>(capacity) + 32, 0xAB);
    unsigned char header[kHeaderSize];
    encode_header(header, CommandHeader{2, kHeaderConstant, -1, capacity, -1});
    const char body[] = "Echo\0\0x";
    *len = capacity;
    const int32_t rc = XSR_CommandEx(h, kCallMagic, 0, 45000, buf.data(), len, header, 16, 0, body,
                                     sizeof body - 1, 0, nullptr, 0);
    *guard_intact = true;
    for (std::size_t i = static_cast<std::size_t>(capacity); i < buf.size(); ++i)
        if (buf[i] != 0xAB) *guard_intact = false;
    return rc;
}

TEST(ClientFaultTest, MalformedAnswersAreRejectedWithoutWritingPastTheBuffer) {
    set_limits(2000, kIoLimitMs);
    struct Case {
        const char* what;
        std::function<std::vector<unsigned char>(uint32_t, int32_t)> reply;
        int32_t want;
    };
    const Case cases[] = {
        {"answer longer than the capacity",
         [](uint32_t rid, int32_t cap) { return answer_frame(rid, 0, static_cast<uint32_t>(cap) + 1, cap + 1); },
         kErrProtocol},
        {"announced length disagrees with the frame",
         [](uint32_t rid, int32_t) {
             // The prefix covers 20 answer bytes, the answer field says 10.
             auto f = answer_frame(rid, 0, 10, 20);
             put_u32(f.data(), static_cast<uint32_t>(f.size() - kPrefixSize));
             return f;
         },
         kErrProtocol},
        {"wrong request id", [](uint32_t rid, int32_t) { return answer_frame(rid + 1, 0, 3, 3); }, kErrProtocol},
        {"whole answer shorter than the bytes sent",
         [](uint32_t rid, int32_t) {
             auto f = answer_frame(rid, kTooLong, 3, 3);
             put_u32(&f[kPrefixSize + kHeadSize + 12], 2);
             return f;
         },
         kErrProtocol},
        {"bytes after the frame",
         [](uint32_t rid, int32_t) {
             auto f = answer_frame(rid, 0, 3, 3);
             f.push_back(1);
             return f;
         },
         kErrProtocol},
        {"a frame of another kind",
         [](uint32_t rid, int32_t) {
             Welcome w;
             return encode_welcome(rid, w);
         },
         kErrProtocol},
        {"bad magic",
         [](uint32_t rid, int32_t) {
             auto f = answer_frame(rid, 0, 3, 3);
             f[4] ^= 0xFF;
             return f;
         },
         kErrProtocol},
        {"length prefix beyond any frame",
         [](uint32_t, int32_t) { return std::vector<unsigned char>{0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0}; },
         kErrProtocol},
        {"half a frame, then silence",
         [](uint32_t rid, int32_t) {
             auto f = answer_frame(rid, 0, 100, 100);
             f.resize(f.size() / 2);
             return f;
         },
         kErrTimeout},  // the I/O limit ends the wait
        {"a fault frame", [](uint32_t rid, int32_t) { return encode_fault(rid, kErrRequest); }, kErrRequest},
        // The server names no request when it could not read one (or when
        // the request ended in an exception): its code still reaches the caller.
        {"a fault frame without request id", [](uint32_t, int32_t) { return encode_fault(0, kErrResources); },
         kErrResources},
    };
    const int fds = open_fds();
    const int threads = thread_count();
    for (const auto& c : cases) {
        FakePeer peer(serve_login_then(c.reply));
        int32_t h = 0;
        ASSERT_EQ(login(peer.port(), &h), 0) << c.what;
        int32_t len = -1;
        bool intact = false;
        const auto t0 = Clock::now();
        EXPECT_EQ(command_into_guarded(h, 200, &len, &intact), c.want) << c.what;
        EXPECT_LT(elapsed_ms(t0), kBoundMs) << c.what;
        EXPECT_TRUE(intact) << c.what;
        EXPECT_EQ(len, 0) << c.what;
        EXPECT_EQ(XSR_IsValidCon(h), 0) << c.what;
        EXPECT_EQ(XSR_CloseConn(h), 0) << c.what;
        EXPECT_EQ(XSR_CloseConn(h), kErrHandle) << c.what;
    }
    EXPECT_LE(open_fds(), fds) << "no socket left open";
    EXPECT_TRUE(threads_at_most(threads)) << "no thread left running: " << thread_count() << " of " << threads;
}

// An answer cut at the capacity: the bytes that fit, -1107 and the whole
// answer's length, which the caller needs to offer room for all of it. Only
// -1107 reports the whole length; other results report the bytes written.
TEST(ClientFaultTest, CutAnswerReportsTheWholeLength) {
    set_limits(2000, kIoLimitMs);
    struct Case {
        const char* what;
        int32_t result;
        uint32_t whole;
        int32_t want_len;
    };
    const Case cases[] = {
        {"cut answer", kTooLong, 5000, 5000},
        {"cut answer longer than an int32 can say", kTooLong, 0xFFFFFFF0u, INT32_MAX},
        {"a part of a longer answer", kPart, 5000, 200},
        {"a complete answer", 0, 200, 200},
    };
    for (const auto& c : cases) {
        FakePeer peer(serve_login_then([&c](uint32_t rid, int32_t cap) {
            return answer_frame(rid, c.result, static_cast<uint32_t>(cap), static_cast<std::size_t>(cap), c.whole);
        }));
        int32_t h = 0;
        ASSERT_EQ(login(peer.port(), &h), 0) << c.what;
        int32_t len = -1;
        bool intact = false;
        EXPECT_EQ(command_into_guarded(h, 200, &len, &intact), c.result) << c.what;
        EXPECT_TRUE(intact) << c.what;
        EXPECT_EQ(len, c.want_len) << c.what;
        EXPECT_EQ(XSR_IsValidCon(h), 1) << c.what << ": a cut answer is no fault of the connection";
        EXPECT_EQ(XSR_CloseConn(h), 0) << c.what;
    }
}

// A call that finds every socket of its handle busy opens another one;
// XSR_CloseConn must end it while it connects or waits for the welcome, as
// it ends the calls that wait for answers.
TEST(ClientFaultTest, ConcurrencyCloseEndsACallThatIsOpeningAnotherSocket) {
    set_limits(20000, 20000);
    std::atomic<bool> command_seen{false}, attach_seen{false};
    FakePeer peer([&](int fd) {
        const auto first = raw_read_frame(fd, kBoundMs);
        if (first.size() < kPrefixSize + kHeadSize) return;
        if (first[kPrefixSize + 3] == kLogin) {
            Welcome w;
            w.session = 1;
            const auto wf = encode_welcome(get_u32(&first[kPrefixSize + 4]), w);
            raw_send(fd, wf.data(), wf.size());
            if (!raw_read_frame(fd, kBoundMs).empty()) command_seen = true;  // never answered
        } else if (first[kPrefixSize + 3] == kAttach) {
            attach_seen = true;  // never welcomed
        }
        raw_read_until_close(fd, 3 * kBoundMs);
    });
    int32_t h = 0;
    ASSERT_EQ(login(peer.port(), &h), 0);
    const auto call = [h](std::atomic<int32_t>* rc) {
        unsigned char header[kHeaderSize];
        encode_header(header, CommandHeader{2, kHeaderConstant, -1, 64, -1});
        const char body[] = "Echo\0\0x";
        char buf[64];
        int32_t len = sizeof buf;
        *rc = XSR_CommandEx(h, kCallMagic, 0, 45000, buf, &len, header, 16, 0, body, sizeof body - 1, 0, nullptr, 0);
    };
    std::atomic<int32_t> waiting{1}, opening{1};
    std::thread first(call, &waiting);
    ASSERT_TRUE(eventually([&] { return command_seen.load(); })) << "the first call holds the only socket";
    std::thread second(call, &opening);
    ASSERT_TRUE(eventually([&] { return attach_seen.load(); })) << "the second call opens another socket";
    const auto t0 = Clock::now();
    EXPECT_EQ(XSR_CloseConn(h), 0);
    second.join();
    first.join();
    EXPECT_LT(elapsed_ms(t0), kBoundMs);
    EXPECT_EQ(waiting.load(), kErrClosed);
    EXPECT_EQ(opening.load(), kErrClosed);
    EXPECT_EQ(XSR_IsValidCon(h), 0);
}

TEST(ClientFaultTest, BadHandshakesFailWithinTheConnectLimit) {
    set_limits(500, kIoLimitMs);
    struct Case {
        const char* what;
        std::function<void(int)> serve;
        int32_t want;
    };
    const Case cases[] = {
        {"never answers the login", [](int fd) { raw_read_until_close(fd, kBoundMs); }, kErrConnectTimeout},
        {"answers garbage",
         [](int fd) {
             raw_read_frame(fd, kBoundMs);
             const char g[] = "HTTP/1.0 400 Bad Request\r\n\r\n";
             raw_send(fd, g, sizeof g - 1);
             raw_read_until_close(fd, kBoundMs);
         },
         kErrProtocol},
        {"closes at once", [](int) {}, kErrLost},
        {"refuses the login",
         [](int fd) {
             auto login = raw_read_frame(fd, kBoundMs);
             Welcome w;
             w.result = kErrLogin;
             const auto f = encode_welcome(login.size() >= 12 ? get_u32(&login[8]) : 0, w);
             raw_send(fd, f.data(), f.size());
             raw_read_until_close(fd, kBoundMs);
         },
         kErrLogin},
        {"welcomes with a positive result",
         [](int fd) {
             auto first = raw_read_frame(fd, kBoundMs);
             Welcome w;
             w.result = 7;  // neither success nor a failure code
             w.session = 1;
             const auto f = encode_welcome(first.size() >= 12 ? get_u32(&first[8]) : 0, w);
             raw_send(fd, f.data(), f.size());
             raw_read_until_close(fd, kBoundMs);
         },
         kErrProtocol},
    };
    for (const auto& c : cases) {
        FakePeer peer(c.serve);
        int32_t h = 0;
        const auto t0 = Clock::now();
        EXPECT_EQ(login(peer.port(), &h), c.want) << c.what;
        EXPECT_LT(elapsed_ms(t0), kBoundMs) << c.what;
        EXPECT_EQ(XSR_CheckServer("127.0.0.1", peer.port()) < 0, true) << c.what;
    }
}

TEST(ClientFaultTest, CallsBreakingTheContractAreRefusedBeforeAnythingIsSent) {
    unsigned char header[kHeaderSize];
    encode_header(header, CommandHeader{2, kHeaderConstant, -1, 10, -1});
    unsigned char bad_constant[kHeaderSize];
    encode_header(bad_constant, CommandHeader{2, 500, -1, 10, -1});
    char buf[16];
    struct Case {
        const char* what;
        int32_t magic, header_len;
        const void* hdr;
        void* answer;
        int32_t cap, body_len;
        const void* body;
        int32_t body2_len;
    };
    const Case cases[] = {
        {"wrong magic", 1, 16, header, buf, 16, 0, nullptr, 0},
        {"header length", kCallMagic, 15, header, buf, 16, 0, nullptr, 0},
        {"no header", kCallMagic, 16, nullptr, buf, 16, 0, nullptr, 0},
        {"header constant", kCallMagic, 16, bad_constant, buf, 16, 0, nullptr, 0},
        {"negative capacity", kCallMagic, 16, header, buf, -1, 0, nullptr, 0},
        {"capacity without buffer", kCallMagic, 16, header, nullptr, 16, 0, nullptr, 0},
        {"negative body length", kCallMagic, 16, header, buf, 16, -1, nullptr, 0},
        {"body length without body", kCallMagic, 16, header, buf, 16, 4, nullptr, 0},
        {"second body length without second body", kCallMagic, 16, header, buf, 16, 0, nullptr, 3},
    };
    for (const auto& c : cases) {
        int32_t len = c.cap;
        EXPECT_EQ(XSR_CommandEx(1, c.magic, 0, 45000, c.answer, &len, c.hdr, c.header_len, 0, c.body, c.body_len,
                                0, nullptr, c.body2_len),
                  kErrArgument)
            << c.what;
        EXPECT_EQ(len, 0) << c.what;
    }
    int32_t len = 16;
    EXPECT_EQ(XSR_CommandEx(987654, kCallMagic, 0, 45000, buf, &len, header, 16, 0, nullptr, 0, 0, nullptr, 0),
              kErrHandle);
    XSR_Login rec{};
    int32_t h = 0;
    EXPECT_EQ(XSR_OpenConn(nullptr, 1, &rec, &h), kErrArgument);
    EXPECT_EQ(XSR_OpenConn("127.0.0.1", 0, &rec, &h), kErrArgument);
    EXPECT_EQ(XSR_OpenConn("127.0.0.1", 65536, &rec, &h), kErrArgument);
    EXPECT_EQ(XSR_OpenConn("127.0.0.1", 1, nullptr, &h), kErrArgument);
    EXPECT_EQ(XSR_CheckServer("", 1), kErrArgument);
}

}  // namespace
}  // namespace e2e

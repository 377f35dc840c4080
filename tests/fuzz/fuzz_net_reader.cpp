// The networked XSRClient's frame reader, fed by a server that answers with
// the input's bytes. The input holds the reply to the login (or probe) and
// the replies to a few commands; options fix up a reply's length prefix and
// request id so that the fuzzer gets past them more often. Checked: the
// answer goes only into the caller's buffer, the length reported stays
// within the capacity (a -1107 may report the whole answer's length), and
// every call returns.
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/fuzz/fuzz_sockets.h"
#include "tests/fuzz/fuzz_support.h"
#include "xsr/xsrclient.h"

using fuzzsupport::Fenced;
using fuzzsupport::FencedInt;
using fuzzsupport::Input;

namespace {

constexpr int kWaitMs = 5000;
constexpr std::size_t kMaxCommands = 4;

struct Script {
    std::vector<std::string> replies;  // [0] answers the handshake
    bool fix_prefix = false;
    bool fix_request_id = false;
};

// The server side: one connection per input, served on its own thread.
class FakeServer {
public:
    FakeServer() {
        listener_ = fuzzsupport::listen_loopback(&port_);
        if (listener_ < 0) std::abort();
        thread_ = std::thread([this] { loop(); });
        thread_.detach();  // lives as long as the process
    }
    uint16_t port() const { return port_; }

    void arm(const Script& s) {
        std::lock_guard<std::mutex> g(mu_);
        script_ = s;
        served_ = false;
    }
    // Waits until the connection of this input has been closed by the
    // client (or was never made).
    bool wait_served(bool connected) {
        if (!connected) return true;
        std::unique_lock<std::mutex> g(mu_);
        return cv_.wait_for(g, std::chrono::milliseconds(4 * kWaitMs), [this] { return served_; });
    }

private:
    void loop() {
        for (;;) {
            const int s = ::accept(listener_, nullptr, nullptr);
            if (s < 0) continue;
            Script sc;
            {
                std::lock_guard<std::mutex> g(mu_);
                sc = script_;
            }
            serve(s, sc);
            ::close(s);
            {
                std::lock_guard<std::mutex> g(mu_);
                served_ = true;
            }
            cv_.notify_all();
        }
    }

    static bool whole_frame(const std::string& b) {
        if (b.size() < 4) return false;
        const uint32_t n = static_cast<unsigned char>(b[0]) | (static_cast<unsigned char>(b[1]) << 8) |
                           (static_cast<unsigned char>(b[2]) << 16) |
                           (static_cast<uint32_t>(static_cast<unsigned char>(b[3])) << 24);
        return n <= b.size() - 4;
    }

    static void serve(int s, const Script& sc) {
        std::vector<unsigned char> frame;
        for (const std::string& reply : sc.replies) {
            // One request frame from the client, then one reply.
            unsigned char prefix[4];
            if (fuzzsupport::recv_exact(s, prefix, 4, kWaitMs) != fuzzsupport::RecvResult::Ok) return;
            const uint32_t len = prefix[0] | (prefix[1] << 8) | (prefix[2] << 16) |
                                 (static_cast<uint32_t>(prefix[3]) << 24);
            if (len > (1u << 20)) return;
            frame.resize(len);
            if (len && fuzzsupport::recv_exact(s, frame.data(), len, kWaitMs) != fuzzsupport::RecvResult::Ok)
                return;
            std::string out = reply;
            if (sc.fix_prefix && out.size() >= 4) {
                const uint32_t n = static_cast<uint32_t>(out.size() - 4);
                for (int i = 0; i < 4; ++i) out[i] = static_cast<char>(n >> (8 * i));
            }
            if (sc.fix_request_id && out.size() >= 12 && len >= 8)
                std::memcpy(&out[8], frame.data() + 4, 4);
            if (!fuzzsupport::send_all(s, out.data(), out.size(), kWaitMs)) return;
            // A reply that is not one whole frame leaves the client waiting
            // for the rest: end the stream now rather than at its time-out.
            if (!whole_frame(out)) break;
        }
        // Nothing more to say: the client sees the end of the stream.
        ::shutdown(s, SHUT_WR);
        fuzzsupport::drain_until_closed(s, 4 * kWaitMs);
    }

    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::mutex mu_;
    std::condition_variable cv_;
    Script script_;
    bool served_ = true;
};

FakeServer* g_server = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A reply that never comes ends the call within these bounds.
    setenv("XSR_NET_CONNECT_TIMEOUT_MS", "2000", 1);
    setenv("XSR_NET_IO_TIMEOUT_MS", "2000", 1);
    g_server = new FakeServer();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Input in(data, size);
    const uint8_t flags = in.u8();
    const bool probe = flags & 1;
    const std::size_t commands = probe ? 0 : (flags >> 1) % (kMaxCommands + 1);
    Script sc;
    sc.fix_prefix = flags & 0x20;
    sc.fix_request_id = flags & 0x40;
    std::vector<int32_t> capacities;
    for (std::size_t i = 0; i < commands; ++i) capacities.push_back(in.u16() % 5000);
    for (std::size_t i = 0; i <= commands; ++i) sc.replies.push_back(in.block(1 << 16));
    g_server->arm(sc);

    if (probe) {
        XSR_CheckServer("127.0.0.1", g_server->port());
        FUZZ_CHECK(g_server->wait_served(true), "the probe's connection was never closed");
        return 0;
    }
    XSR_Login login;
    std::memset(&login, 0, sizeof login);
    std::strcpy(reinterpret_cast<char*>(&login), "admin");
    int32_t handle = 0;
    const int32_t open_rc = XSR_OpenConn("127.0.0.1", g_server->port(), &login, &handle);
    if (open_rc == 0) {
        FUZZ_CHECK(handle > 0, "open succeeded without a handle");
        for (int32_t cap : capacities) {
            unsigned char header[16] = {2, 0, 0xF5, 0x01};  // module message, constant 501
            Fenced answer(static_cast<std::size_t>(cap));
            FencedInt len(cap);
            const int32_t rc = XSR_CommandEx(handle, 32639, 0, 0, cap ? answer.data() : nullptr, len.ptr(),
                                             header, 16, 0, "M\0\0x", 4, 0, nullptr, 0);
            FUZZ_CHECK(answer.intact() && len.intact(), "the answer was written outside its buffer");
            if (rc != -1107)
                FUZZ_CHECK(len.get() >= 0 && len.get() <= cap, "length %d for capacity %d (rc %d)",
                           len.get(), cap, rc);
        }
        FUZZ_CHECK(XSR_CloseConn(handle) == 0, "close of an open handle failed");
    } else {
        FUZZ_CHECK(open_rc < 0, "open gave a positive result %d", open_rc);
    }
    // The client must have closed its socket, whatever it received.
    FUZZ_CHECK(g_server->wait_served(true), "the client's socket was never closed");
    return 0;
}

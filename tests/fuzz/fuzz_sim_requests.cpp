// xsr-sim's request parser: the frames a client sends, read by a running
// server (the handshake, then command frames of every code, with the
// service modules, parts and pending answers in reach). The input is sent
// as raw bytes, or after a valid login, or as frames whose length prefixes
// are filled in. Checked: the server ends the connection once the client
// has finished sending, and keeps serving (the next input connects again);
// the sanitizers watch the parsing.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "sim/config.h"
#include "sim/server.h"
#include "tests/fuzz/fuzz_sockets.h"
#include "tests/fuzz/fuzz_support.h"
#include "xsr/proto/wire.h"

using fuzzsupport::Input;

namespace {

// Longer than the longest a request may hold its connection on purpose
// (the scriptable module's gate, 30 s).
constexpr int kWaitMs = 45000;
xsrsim::Server* g_server = nullptr;

std::string login_frame() {
    unsigned char record[xsrproto::kLoginSize] = {};
    std::memcpy(record, "admin", 5);
    std::memcpy(record + 64, "admin", 5);
    const auto f = xsrproto::encode_login(1, record);
    return std::string(f.begin(), f.end());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    xsrsim::Config cfg;
    cfg.name = "fuzz";
    cfg.binds = {"127.0.0.1"};
    cfg.part_size = 64;           // longer answers come in parts
    cfg.pending_after_ms = 1;     // slow calls come back pending at once
    cfg.frame_limit_ms = 3000;
    cfg.max_request = 1u << 20;
    cfg.workers = 2;
    cfg.max_jobs = 16;
    for (const char* m : {"KExt_NLPE", "KExt_ARA", "KExt_KWFS", "KExt_STM"}) {
        xsrsim::ModuleEntry e;
        e.name = m;
        e.type = m;
        cfg.modules.push_back(e);
    }
    xsrsim::ClusterEntry c;
    c.name = "Echo";
    c.tag = "t";
    c.nodes.push_back({"127.0.0.1", 7300, "admin", "admin", "x"});
    cfg.clusters.push_back(c);
    g_server = new xsrsim::Server(cfg);  // serves until the process ends
    std::string err;
    if (!g_server->start(0, &err)) {
        std::fprintf(stderr, "xsr-sim did not start: %s\n", err.c_str());
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Input in(data, size);
    const uint8_t mode = in.u8() % 3;
    std::string bytes;
    if (mode == 0) {
        bytes = in.rest();
    } else {
        bytes = login_frame();
        if (mode == 1) {
            bytes += in.rest();
        } else {
            // Frames with their length prefixes filled in.
            while (in.left() > 0) {
                const std::string f = in.block(1 << 16);
                const uint32_t n = static_cast<uint32_t>(f.size());
                for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>(n >> (8 * i)));
                bytes += f;
            }
        }
    }

    const int s = fuzzsupport::connect_loopback(g_server->port());
    FUZZ_CHECK(s >= 0, "the server no longer accepts connections");
    // A short input fits the socket buffers and goes out at once; a longer
    // one is sent on another thread while this one reads, so that neither
    // side can block the other with full buffers.
    constexpr std::size_t kDirect = 64 * 1024;
    auto send = [s, &bytes] {
        fuzzsupport::send_all(s, bytes.data(), bytes.size(), kWaitMs);
        ::shutdown(s, SHUT_WR);
    };
    std::thread sender;
    if (bytes.size() <= kDirect)
        send();
    else
        sender = std::thread(send);
    const bool closed = fuzzsupport::drain_until_closed(s, kWaitMs);
    if (sender.joinable()) sender.join();
    ::close(s);
    FUZZ_CHECK(closed, "the server kept the connection open after the client finished");
    return 0;
}

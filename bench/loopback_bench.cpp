// The library's overhead over the loopback network: ORQExt_SendMessage of 32
// bytes to module "Echo" of a running xsr-sim vs XSR_CommandEx of the same
// message bytes, both through the networked XSRClient, in alternating rounds.
//
//   loopback_bench --port N [--server ADDRESS] [--smoke] [--rounds N] [--batch-ms MS]
//
// scripts/bench.sh starts xsr-sim and passes its port.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/ratio.h"
#include "core/xsr_call.h"
#include "exports/orqext.h"
#include "xsr/xsrclient.h"

int main(int argc, char** argv) {
    bench::Options o = bench::parse_options(argc, argv);
    int port = 0;
    const char* server = "127.0.0.1";
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--port")) port = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--server")) server = argv[i + 1];
    }
    if (port <= 0) {
        std::fprintf(stderr, "usage: loopback_bench --port N [--server ADDRESS] [--smoke]\n");
        return 2;
    }
    // A network round trip is some ten thousand times a call in the process:
    // longer batches keep the clock's resolution out of the figures.
    if (!o.smoke && o.batch_ms < 40) o.batch_ms = 40;

    int32_t status = 1;
    const int32_t h = ORQExt_Connect(server, port, "admin", "admin", &status);
    bench::expect("ORQExt_Connect status", status, 0);

    static const char payload[33] = "0123456789abcdef0123456789abcdef";
    static char answer[128];
    auto lib = [h] {
        int32_t len = sizeof answer;
        return ORQExt_SendMessage(h, "Echo", nullptr, payload, 32, answer, &len);
    };
    // The same message the library sends: module name NUL, NUL, payload;
    // command header {2, 501, -1, capacity, -1}.
    std::string message("Echo");
    message.push_back('\0');
    message.push_back('\0');
    message.append(payload, 32);
    unsigned char header[16];
    orq::encode_header(header, orq::kCmdModuleMessage, -1, sizeof answer);
    auto bare = [h, &message, &header] {
        int32_t len = sizeof answer;
        return XSR_CommandEx(h, 32639, 0, 45000, answer, &len, header, 16, 0, message.data(),
                             static_cast<int32_t>(message.size()), 0, nullptr, 0);
    };

    bench::expect("SendMessage result", lib(), 0);
    bench::expect("SendMessage echo", std::memcmp(answer, payload, 32), 0);
    std::memset(answer, 0, sizeof answer);
    bench::expect("bare call result", bare(), 0);
    bench::expect("bare call echo", std::memcmp(answer, payload, 32), 0);

    const bench::Ratio r = bench::compare(lib, bare, o);
    bench::report(o, "loopback_send_message_vs_bare", r, "ns", "library", "bare", "<=", 1.02);
    ORQExt_DisConnect(h);
    return 0;
}

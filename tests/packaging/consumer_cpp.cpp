// consumer_cpp.cpp - an application in C++ built against an installed
// ORQExtClient through its C++ layer (orqext.hpp, installed beside orqext.h).
//
//   consumer_cpp PORT VERSION
//
// Checks the headers' version, then talks to xsr-sim on 127.0.0.1:PORT: a
// connection that closes itself, an Echo message whose answer sizes itself
// (longer than the layer's first offer), and an unknown module's failure as
// an error code with its message. Exit status 0 when all of it holds.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>

#include <orqext.hpp>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: consumer_cpp PORT VERSION\n");
        return 2;
    }
    if (std::string(ORQEXT_VERSION_STRING) != argv[2]) {
        std::fprintf(stderr, "headers are version %s, expected %s\n", ORQEXT_VERSION_STRING, argv[2]);
        return 1;
    }
    const int32_t port = static_cast<int32_t>(std::atoi(argv[1]));
    try {
        orqext::connection conn("127.0.0.1", port, "admin", "admin");
        const std::string payload(10000, 'x');
        if (orqext::send(conn, "Echo", payload) != payload) {
            std::fprintf(stderr, "Echo did not send the payload back\n");
            return 1;
        }
        std::error_code ec;
        orqext::send(conn, "NoSuchModule", "x", ec);
        if (!ec || ec.message().empty()) {
            std::fprintf(stderr, "a message to an unknown module did not fail with a message\n");
            return 1;
        }
    } catch (const orqext::error& e) {
        std::fprintf(stderr, "failed: %s\n", e.what());
        return 1;
    }
    std::printf("ORQExtClient %s through orqext.hpp: connect, Echo and an error code work\n", ORQEXT_VERSION_STRING);
    return 0;
}

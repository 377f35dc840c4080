// xsr-sim --port N [--config FILE] [--name NAME]
// xsr-sim --version
//
// Serves until SIGINT or SIGTERM. Once listening it prints one line on
// stdout:   xsr-sim listening port=<N> addresses=<a>[,<b>]
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <string>

#include "orqext_version.h"
#include "sim/config.h"
#include "sim/server.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: xsr-sim --port N [--config FILE] [--name NAME]\n       xsr-sim --version\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    long port = -1;
    std::string config_path, name;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--version" && argc == 2) {
            std::printf("xsr-sim " ORQEXT_VERSION_STRING "\n");
            return 0;
        }
        if (i + 1 >= argc) return usage();
        const char* v = argv[++i];
        if (a == "--port") {
            char* end = nullptr;
            port = std::strtol(v, &end, 10);
            if (!*v || *end || port < 0 || port > 65535) return usage();
        } else if (a == "--config") {
            config_path = v;
        } else if (a == "--name") {
            name = v;
        } else {
            return usage();
        }
    }
    if (port < 0) return usage();

    xsrsim::Config cfg;
    std::string error;
    if (!config_path.empty() && !xsrsim::load_config_file(config_path, &cfg, &error)) {
        std::fprintf(stderr, "xsr-sim: config %s: %s\n", config_path.c_str(), error.c_str());
        return 2;
    }
    if (!name.empty()) cfg.name = name;

    // Every thread inherits the blocked signals; this one takes them.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    xsrsim::Server server(cfg);
    if (!server.start(static_cast<uint16_t>(port), &error)) {
        std::fprintf(stderr, "xsr-sim: %s\n", error.c_str());
        return 1;
    }
    std::string addrs;
    for (const auto& a : server.addresses()) addrs += (addrs.empty() ? "" : ",") + a;
    std::printf("xsr-sim listening port=%u addresses=%s\n", static_cast<unsigned>(server.port()),
                addrs.c_str());
    std::fflush(stdout);

    int sig = 0;
    sigwait(&set, &sig);
    server.stop();
    return 0;
}

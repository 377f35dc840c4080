// xsr-sim --port N [--config FILE] [--name NAME] [--idle-timeout S] | --help | --version
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

const char kUsage[] = "usage: xsr-sim --port N [--config FILE] [--name NAME] [--idle-timeout S]\n";

int help() {
    std::printf("%s\n"
                "The loopback server for ORQExtClient's networked XSRClient (docs/xsr-sim.md).\n\n"
                "  --port N       port to listen on, 0 to 65535 (0: a free one); required\n"
                "  --config FILE  config file: users, modules, clusters, limits\n"
                "  --name NAME    the server's name (module Ident answers it)\n"
                "  --idle-timeout S  close a logged-in socket that sends nothing for S seconds\n"
                "                 (default 300; 0: never)\n"
                "  --help         this text\n"
                "  --version      the version\n\n"
                "Once listening it prints one line on stdout:\n"
                "  xsr-sim listening port=<N> addresses=<a>[,<b>]\n"
                "SIGINT or SIGTERM stop it. Exit status: 0 stopped cleanly, 1 could not\n"
                "listen, 2 bad arguments or config file.\n",
                kUsage);
    return 0;
}

// A bad command line: what is wrong, then the usage line.
int usage(const std::string& problem) {
    std::fprintf(stderr, "xsr-sim: %s\n%ssee 'xsr-sim --help'\n", problem.c_str(), kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    long port = -1;
    std::string config_path, name;
    long idle_s = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") return help();
        if (a == "--version" && argc == 2) {
            std::printf("xsr-sim " ORQEXT_VERSION_STRING "\n");
            return 0;
        }
        if (a != "--port" && a != "--config" && a != "--name" && a != "--idle-timeout")
            return usage("unknown option '" + a + "'");
        if (i + 1 >= argc) return usage(a + " needs a value");
        const std::string v = argv[++i];
        if (a == "--port") {
            if (v.empty() || v.size() > 9 || v.find_first_not_of("0123456789") != std::string::npos)
                return usage("--port: '" + v + "' is not a number (expected 0 to 65535; 0 picks a free port)");
            port = std::strtol(v.c_str(), nullptr, 10);
            if (port > 65535) return usage("--port: " + v + " is out of range (expected 0 to 65535; 0 picks a free port)");
        } else if (a == "--idle-timeout") {
            if (v.empty() || v.size() > 5 || v.find_first_not_of("0123456789") != std::string::npos ||
                std::strtol(v.c_str(), nullptr, 10) > 86400)
                return usage("--idle-timeout: '" + v + "' is not a number of seconds from 0 to 86400 (0: never)");
            idle_s = std::strtol(v.c_str(), nullptr, 10);
        } else if (a == "--config") {
            config_path = v;
        } else {
            name = v;
        }
    }
    if (port < 0) return usage("--port is required (--port 0 picks a free port)");

    xsrsim::Config cfg;
    std::string error;
    if (!config_path.empty() && !xsrsim::load_config_file(config_path, &cfg, &error)) {
        std::fprintf(stderr, "xsr-sim: config %s: %s\n", config_path.c_str(), error.c_str());
        return 2;
    }
    if (!name.empty()) cfg.name = name;
    if (idle_s >= 0) cfg.idle_timeout_ms = static_cast<uint32_t>(idle_s) * 1000;

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

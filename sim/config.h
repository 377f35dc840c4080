// xsr-sim configuration: the defaults and the line-based config file.
// docs/xsr-sim.md describes the directives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace xsrsim {

struct UserEntry {
    std::string name;
    std::string password;
};

struct ModuleEntry {
    std::string name;
    std::string type;  // hosted module type (echo, script, ...)
    bool started = true;
    std::string version = "1.0.0.0";
    std::string param;
};

struct NodeEntry {
    std::string server;
    int32_t port = 0;
    std::string user, pass, attr;
};

struct ClusterEntry {
    std::string name, tag, attr_a, attr_b;
    std::vector<NodeEntry> nodes;
};

struct Config {
    std::string name;  // server name (module "Ident" answers it); default set by main
    std::vector<UserEntry> users;  // empty: the default user admin/admin
    std::vector<ModuleEntry> modules;  // added to (or replacing) the default modules
    std::vector<ClusterEntry> clusters;
    std::vector<std::string> binds;  // listen addresses; empty: 127.0.0.1 and ::1
    std::string version_text = "xsr-sim 1.0";
    uint32_t part_size = 1024 * 1024;     // answers longer than this come in parts
    uint32_t pending_after_ms = 50;       // slower module answers come back pending
    uint32_t ticket_ttl_ms = 120000;      // finished answers nobody fetched are dropped after this
    uint32_t frame_limit_ms = 10000;      // a started frame must be complete within this
    uint32_t max_request = 16 * 1024 * 1024;  // largest request frame accepted
    uint32_t workers = 16;                // threads running slow module calls
    uint32_t max_jobs = 256;              // queued and running module calls
    uint32_t max_connections = 256;       // logged-in sockets
    uint32_t max_pending_logins = 64;     // sockets that have not logged in yet
    uint32_t login_limit_ms = 5000;       // a socket must log in within this of its connect
    // Bytes of finished answers held for tickets (pending answers nobody
    // fetched, the rest of parted answers): in all, and per session.
    uint32_t max_held_bytes = 512u * 1024 * 1024;
    uint32_t max_held_session_bytes = 128u * 1024 * 1024;
    uint32_t idle_timeout_ms = 300000;    // a logged-in socket idle this long is closed; 0: never
    // The clock of the idle and login limits, in milliseconds; null: the monotonic
    // clock. Tests set a clock of their own and drive it.
    int64_t (*clock_ms)() = nullptr;
};

// Parses config text. False with a message naming the line on the first
// error; the directives before it are kept in *cfg.
bool parse_config(const std::string& text, Config* cfg, std::string* error);
bool load_config_file(const std::string& path, Config* cfg, std::string* error);

// Splits a line into blank-separated tokens; "double quotes" hold blanks and
// may be empty. '#' outside quotes starts a comment. False on an unclosed
// quote.
bool split_tokens(const std::string& line, std::vector<std::string>* out);

}  // namespace xsrsim

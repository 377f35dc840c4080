// Parsing of the connect string of ORQExt_ExecSql.
#pragma once

#include <cstdint>
#include <string>

namespace orq {

struct ConnectParams {
    std::string server;
    int32_t port = 0;
    std::string user;
    std::string password;
};

// The whole string is lower-cased (ASCII capitals only); each of "server=",
// "port=", "user=" and "pass=" is found at its first occurrence and its value
// runs to the next ';' or the end. False when a key is missing.
bool parse_connect_string(const char* connect_string, ConnectParams* out);

}  // namespace orq

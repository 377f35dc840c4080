// orqext/resolve.hpp - server names longer than the login record holds.
//
// The login record that ORQExt_Connect sends holds 15 characters of the
// server name. A longer name is resolved here (IPv4; the getaddrinfo of the
// system) and each of its addresses is tried in turn as dotted text, which
// always fits. A name with no IPv4 address is refused with a message that
// names the argument and the limit (server_name_refusal).
//
// On Windows this header includes <winsock2.h> and <ws2tcpip.h> and the
// program links ws2_32 (the CMake target ORQExtClient::cpp adds it); include
// it, or orqext.hpp, before <windows.h> or define WIN32_LEAN_AND_MEAN, as for
// any program that uses Winsock 2.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "orqext.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace orqext {

// Characters of the server name the login record holds.
inline constexpr std::size_t server_name_room = ORQEXT_SERVER_NAME_ROOM;

// The message for a server name that cannot be used: `what` names the
// argument ("server", "--host").
inline std::string server_name_refusal(std::string_view what, std::string_view name) {
    return std::string(what) + ": '" + std::string(name) +
           "' resolves to no IPv4 address; the login record holds " + std::to_string(server_name_room) +
           " characters of the server name";
}

// The IPv4 addresses of `name` as dotted text, in the resolver's order and
// without repeats; empty when it has none (or cannot be resolved).
inline std::vector<std::string> ipv4_addresses(const std::string& name) {
    std::vector<std::string> out;
#if defined(_WIN32)
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return out;
#endif
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &list) == 0) {
        for (const addrinfo* a = list; a; a = a->ai_next) {
            if (a->ai_family != AF_INET || !a->ai_addr) continue;
            const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
            const auto* b = reinterpret_cast<const unsigned char*>(&in->sin_addr);
            const std::string text = std::to_string(b[0]) + "." + std::to_string(b[1]) + "." +
                                     std::to_string(b[2]) + "." + std::to_string(b[3]);
            bool seen = false;
            for (const std::string& s : out) seen = seen || s == text;
            if (!seen) out.push_back(text);
        }
        freeaddrinfo(list);
    }
#if defined(_WIN32)
    WSACleanup();
#endif
    return out;
}

// The names to hand to ORQExt_Connect for `server`: the name itself when the
// login record holds it, else its IPv4 addresses (empty: none).
inline std::vector<std::string> server_names_to_try(std::string_view server) {
    if (server.size() <= server_name_room) return {std::string(server)};
    return ipv4_addresses(std::string(server));
}

// The connect string of ORQExt_ExecSql as the library reads it: the whole
// string lower-cased (ASCII capitals only, values too), the server the value
// of "server=" at its first occurrence, up to the next ';' or the end.
struct connect_string_server {
    std::string lowered;
    std::size_t from = std::string::npos;  // where the server value starts (npos: no "server=")
    std::size_t length = 0;

    explicit connect_string_server(std::string_view connect_string) : lowered(connect_string) {
        for (char& ch : lowered)
            if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
        const std::size_t at = lowered.find("server=");
        if (at == std::string::npos) return;
        from = at + 7;
        const std::size_t end = lowered.find(';', from);
        length = (end == std::string::npos ? lowered.size() : end) - from;
    }
    std::string server() const { return from == std::string::npos ? std::string() : lowered.substr(from, length); }
    bool too_long() const { return from != std::string::npos && length > server_name_room; }

    // The connect strings to hand to ORQExt_ExecSql: the string itself when
    // the login record holds its server (or it names none: the library
    // refuses it), else one per IPv4 address of the server (empty: none).
    std::vector<std::string> to_try() const {
        if (!too_long()) return {lowered};
        std::vector<std::string> out;
        for (const std::string& a : ipv4_addresses(server()))
            out.push_back(lowered.substr(0, from) + a + lowered.substr(from + length));
        return out;
    }
};

// Whether a connect that ended with `status` may be tried at the next
// address: the name, the connect and its time-out (-20001 to -20003) are
// about that address; a refused login or anything else is not.
inline bool try_next_address(int32_t status) noexcept { return status <= -20001 && status >= -20003; }

}  // namespace orqext

// Application messages and statements: ORQExt_SendMessage,
// ORQExt_SendMessageTimeOut, ORQExt_ExecSql, ORQExt_ExecSql2.
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/exchange.h"
#include "core/guard.h"
#include "core/message.h"
#include "core/registry.h"
#include "core/result.h"
#include "core/xsr_call.h"
#include "exports/orqext.h"
#include "modules/connect_string.h"

namespace orq {

namespace {

int32_t send_text_command(int32_t conn, const char* text) {
    return exchange(conn, kCmdText, text, static_cast<int32_t>(std::strlen(text)), nullptr,
                    nullptr, -1, 0);
}

ORQ_ALWAYS_INLINE inline int32_t send_message(int32_t conn, const char* module,
                                              const char* target, const void* payload,
                                              int32_t payload_len, void* answer,
                                              int32_t* answer_len, int32_t time_limit,
                                              int32_t cancel) {
    if (!module || !*module) return kBadArgument;
    // A negative length, or a positive one without bytes, cannot be sent.
    if (payload_len < 0 || (payload_len > 0 && !payload)) return kBadArgument;
    // No exception leaves it: a failed allocation (routing may have to
    // create the handle's registry record) is reported as -1100.
    return send_module_message(conn, module, target, payload, static_cast<std::size_t>(payload_len),
                               answer, answer_len, time_limit, cancel);
}

}  // namespace

bool parse_connect_string(const char* cs, ConnectParams* out) {
    std::string low(cs);
    for (char& c : low)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    auto value = [&low](const char* key, std::string* v) {
        std::size_t at = low.find(key);
        if (at == std::string::npos) return false;
        std::size_t from = at + std::strlen(key);
        std::size_t end = low.find(';', from);
        *v = low.substr(from, end == std::string::npos ? std::string::npos : end - from);
        return true;
    };
    std::string port;
    if (!value("server=", &out->server) || !value("port=", &port) || !value("user=", &out->user) ||
        !value("pass=", &out->password))
        return false;
    // strtoll saturates; a value outside int32 is no valid port either.
    // (long long, not long: long has only 32 bits on Windows.)
    long long wide = std::strtoll(port.c_str(), nullptr, 10);
    out->port = (wide > INT32_MAX || wide < INT32_MIN) ? 0 : static_cast<int32_t>(wide);
    return true;
}

}  // namespace orq

using namespace orq;

extern "C" {

ORQEXT_API int32_t ORQEXT_CALL ORQExt_SendMessage(int32_t conn, const char* module,
                                                  const char* target, const void* payload,
                                                  int32_t payload_len, void* answer,
                                                  int32_t* answer_len) {
    return send_message(conn, module, target, payload, payload_len, answer, answer_len, -1, 0);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_SendMessageTimeOut(int32_t conn, const char* module,
                                                         const char* target, const void* payload,
                                                         int32_t payload_len, void* answer,
                                                         int32_t* answer_len, int32_t time_limit_ms,
                                                         int32_t cancel) {
    return send_message(conn, module, target, payload, payload_len, answer, answer_len,
                        time_limit_ms, cancel);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_ExecSql2(int32_t conn, const char* statement) {
    if (conn == 0 || !statement || !*statement) return kBadArgument;
    return send_text_command(conn, statement);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_ExecSql(const char* connect_string, const char* statement) {
    if (!connect_string || !*connect_string || !statement || !*statement) return kBadArgument;
    // The connect string is copied and parsed before anything is opened.
    return guarded([&]() ORQ_ALWAYS_INLINE {
        ConnectParams p;
        if (!parse_connect_string(connect_string, &p)) return kBadArgument;
        int32_t handle = 0;
        int32_t rc =
            registry::open(p.server.c_str(), p.port, p.user.c_str(), p.password.c_str(), &handle);
        if (rc != 0) {
            // The connection may be open and registered when only the cluster
            // refresh failed; it is temporary, so close it.
            if (handle != 0) registry::close(handle);
            return rc;
        }
        rc = send_text_command(handle, statement);
        registry::close(handle);
        return rc;
    });
}

}  // extern "C"

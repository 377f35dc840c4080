// Module administration: register and unregister (text commands), start and
// stop (the action document, one direct request), and the module, module
// list and version queries (Command exchanges whose answers pass through).
#include <cstdint>
#include <cstring>
#include <string>

#include "core/exchange.h"
#include "core/guard.h"
#include "core/result.h"
#include "core/xsr_call.h"
#include "exports/orqext.h"

namespace orq::admin {

namespace {

bool given(const char* s) { return s && *s; }

// A text command: the text's bytes without NUL, no answer, no time limit.
int32_t send_text(int32_t conn, const std::string& text) {
    return exchange(conn, kCmdText, text.data(), static_cast<int32_t>(text.size()), nullptr,
                    nullptr, -1, 0);
}

std::string registration_text(const char* module, const char* version, uint8_t autostart,
                               const char* file_ref, const char* cmd_param, const char* desc,
                               const char* depend_files) {
    std::string t = "use ext ";
    t += module;
    t += " cmd reg";
    t += " version=";
    t += given(version) ? version : "1.0.0.0";
    if (autostart) t += " ModType=autostart";
    // Values go in as they are: no escaping of quotes or blanks.
    const struct {
        const char* key;
        const char* value;
    } quoted[] = {{" FileRef=", file_ref},
                  {" CmdParam=", cmd_param},
                  {" Desc=", desc},
                  {" DependFiles=", depend_files}};
    for (const auto& q : quoted) {
        if (!given(q.value)) continue;
        t += q.key;
        t += '\'';
        t += q.value;
        t += '\'';
    }
    return t;
}

std::string unregistration_text(const char* module, const char* version) {
    std::string t = "use ext ";
    t += module;
    t += " cmd unreg ";
    // A version pointer, even to an empty string, adds the key.
    if (version) {
        t += " version=";
        t += version;
    }
    return t;
}

constexpr const char kStart[] = "Start";
constexpr const char kStop[] = "Stop";

// The action document goes out in one request with its own header; the
// server's result is returned as it is (no polling) and its answer dropped.
int32_t send_action(int32_t conn, const char* module, const char* version, const char* action) {
    if (!given(module) || conn == 0) return kBadArgument;
    std::string doc = "<Module>";
    doc += module;
    doc += "</Module><Action>";
    doc += action;
    doc += "</Action>";
    if (given(version)) {
        doc += "<Version>";
        doc += version;
        doc += "</Version>";
    }
    unsigned char sink[256] = {};
    int32_t len = sizeof sink;
    return command_ex(conn, kCmdAction, 32639, 0, sink, &len, doc.data(),
                      static_cast<int32_t>(doc.size()));
}

// Module list (6) and extension version (8): empty body, raw answer.
int32_t query(int32_t conn, CommandCode code, void* answer, int32_t* length) {
    if (!answer || !length || *length <= 0) return kBadArgument;
    return exchange(conn, code, nullptr, 0, answer, length, -1, 0);
}

}  // namespace

}  // namespace orq::admin

using namespace orq;
using namespace orq::admin;

extern "C" {

ORQEXT_API int32_t ORQEXT_CALL ORQExt_RegExtMod(int32_t conn, const char* module,
                                                const char* version, uint8_t autostart,
                                                const char* file_ref, const char* cmd_param,
                                                const char* desc, const char* depend_files) {
    return guarded([&]() ORQ_ALWAYS_INLINE {
        if (!given(module)) return kBadArgument;
        const std::string text =
            registration_text(module, version, autostart, file_ref, cmd_param, desc, depend_files);
        if (conn == 0) return kBadArgument;
        return send_text(conn, text);
    });
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_UnRegExtMod(int32_t conn, const char* module,
                                                  const char* version) {
    return guarded([&]() ORQ_ALWAYS_INLINE {
        if (!given(module)) return kBadArgument;
        const std::string text = unregistration_text(module, version);
        if (conn == 0) return kBadArgument;
        return send_text(conn, text);
    });
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_LoadExtMod(int32_t conn, const char* module,
                                                 const char* version) {
    return guarded([&]() ORQ_ALWAYS_INLINE { return send_action(conn, module, version, kStart); });
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_UnloadExtMod(int32_t conn, const char* module,
                                                   const char* version) {
    return guarded([&]() ORQ_ALWAYS_INLINE { return send_action(conn, module, version, kStop); });
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetModInfo(int32_t conn, const char* module,
                                                 const char* second_name, void* answer,
                                                 int32_t* length) {
    return guarded([&]() ORQ_ALWAYS_INLINE {
        if (!given(module)) return kBadArgument;
        // module NUL, [second name NUL], NUL
        std::string body(module, std::strlen(module) + 1);
        if (second_name) body.append(second_name, std::strlen(second_name) + 1);
        body.push_back('\0');
        return exchange(conn, kCmdModuleInfo, body.data(), static_cast<int32_t>(body.size()),
                        answer, length, -1, 0);
    });
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetModInfos(int32_t conn, void* answer, int32_t* length) {
    return guarded([&]() ORQ_ALWAYS_INLINE { return query(conn, kCmdModuleList, answer, length); });
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetExtVersion(int32_t conn, void* answer, int32_t* length) {
    return guarded([&]() ORQ_ALWAYS_INLINE { return query(conn, kCmdExtVersion, answer, length); });
}

}  // extern "C"

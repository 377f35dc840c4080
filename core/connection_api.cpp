// The four connection exports.
#include "cluster/cluster.h"
#include "core/guard.h"
#include "core/registry.h"
#include "core/result.h"
#include "exports/orqext.h"
#include "xsr/xsrclient.h"

using namespace orq;

extern "C" {

ORQEXT_API int32_t ORQEXT_CALL ORQExt_Connect(const char* server, int32_t port, const char* user,
                                              const char* password, int32_t* status) {
    int32_t handle = 0;
    int32_t rc = guarded([&]() ORQ_ALWAYS_INLINE { return registry::open(server, port, user, password, &handle); });
    if (status) *status = rc;
    return rc == kBadArgument ? 0 : handle;
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_DisConnect(int32_t conn) {
    cluster::cleanup(conn);
    return registry::close(conn);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_IsConnect(int32_t conn) { return XSR_IsValidCon(conn); }

ORQEXT_API int32_t ORQEXT_CALL ORQExt_GetServerStatus(const char* server, int32_t port) {
    if (!server || !*server || port <= 0) return kBadArgument;
    return XSR_CheckServer(server, port);
}

}  // extern "C"

// Minimal XSRClient that reaches no server: every open and probe is refused.
#include "xsr/xsrclient.h"

namespace {
constexpr int32_t kNoServer = -20001;  // no server can be reached through this library
}

extern "C" {
XSR_API int32_t XSR_CALL XSR_OpenConn(const char*, int32_t, XSR_Login*, int32_t*) { return kNoServer; }
XSR_API int32_t XSR_CALL XSR_CloseConn(int32_t) { return kNoServer; }
XSR_API int32_t XSR_CALL XSR_IsValidCon(int32_t) { return 0; }
XSR_API int32_t XSR_CALL XSR_CheckServer(const char*, int32_t) { return kNoServer; }
XSR_API int32_t XSR_CALL XSR_CommandEx(int32_t, int32_t, int32_t, int32_t, void*, int32_t* answer_len,
                                       const void*, int32_t, int32_t, const void*, int32_t, int32_t,
                                       const void*, int32_t) {
    if (answer_len) *answer_len = 0;
    return kNoServer;
}
}

// The semantic text mining engine and its knowledge domains: start, stop,
// query, create, delete, list, open, close, name by handle, handle by name.
// The engine's state and the domain handles live in the server module; the
// stubs keep none.
#include "core/bytes.h"
#include "services/stm/stm_call.h"

using namespace orq;
using namespace orq::stm;

namespace {

// Calls whose frame is one domain name. allow_empty: an empty name is sent
// (only a null one is refused).
int32_t call_name(int32_t conn, const char* remote, const char* name, bool allow_empty) {
    if (!name || (!allow_empty && !*name)) return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        Frame f(remote);
        f.str(name);
        return send(conn, f);
    });
}

}  // namespace

extern "C" {

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_Initialize(int32_t conn) {
    return call_plain(conn, "STM_Initialize");
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_ShutDown(int32_t conn) {
    return call_plain(conn, "STM_ShutDown");
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_IsInitialized(int32_t conn) {
    return call_plain(conn, "STM_Is_Initialized");
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_CreateDomain(int32_t conn, const char* name,
                                                       const char* text2, const char* text3,
                                                       const char* text4, int32_t value) {
    // A null name would drop the first argument and shift the others into
    // its place; it is refused like the other domain calls refuse it.
    if (!name) return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        Frame f("STM_Create_Knowledge_Domain");
        f.str(name).str_or_empty(text2).str_or_empty(text3).str_or_empty(text4).i32(value);
        return send(conn, f);
    });
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_DeleteDomain(int32_t conn, const char* name) {
    return call_name(conn, "STM_Delete_Knowledge_Domain", name, true);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_CloseDomain(int32_t conn, const char* name) {
    return call_name(conn, "STM_Close_Knowledge_Domain", name, false);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_GetDomainHandle(int32_t conn, const char* name) {
    return call_name(conn, "STM_Get_Knowledge_Domain_Handle", name, false);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_GetDomainNameList(int32_t conn, void* buffer,
                                                            int32_t* length, int32_t mode) {
    if (!reply_area_positive(buffer, length)) return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        Frame f("STM_List_Knowledge_Domain");
        f.i32(*length).i32(mode == 0 || mode == 1 ? mode : 0);
        return send_to_caller(conn, f, buffer, length);
    });
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_GetDomainName(int32_t conn, int32_t handle,
                                                        void* buffer, int32_t* length) {
    if (!reply_area_positive(buffer, length)) return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        Frame f("STM_Get_Knowledge_Domain_Name");
        f.i32(handle).i32(*length);
        return send_to_caller(conn, f, buffer, length);
    });
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_OpenDomain(int32_t conn, const char* name) {
    if (!filled(name)) return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        Frame f("STM_Open_Knowledge_Domain");
        f.str(name);
        // The handle comes back as four bytes; a longer reply ends in -1107
        // and a positive status copies nothing, leaving the area zero.
        unsigned char area[4] = {};
        int32_t len = sizeof area;
        const int32_t rc = send_to_caller(conn, f, area, &len);
        if (rc < 0) return rc;
        int32_t handle = 0;
        Reader(area, sizeof area).int32(&handle);
        return handle;
    });
}

}  // extern "C"

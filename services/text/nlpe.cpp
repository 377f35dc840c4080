// Dictionary and segmentation engine: engine 0 of module "KExt_NLPE". Only
// the segmentation call checks its arguments and decodes a reply.
#include "exports/orqext.h"
#include "services/text/reply.h"

using namespace orq;
using namespace orq::text;

namespace {

constexpr Remote kDictLoad = nlpe(kEngineDict, "NLPE_DictLoad");
constexpr Remote kDictUnload = nlpe(kEngineDict, "NLPE_DictUnload");
constexpr Remote kDictImport = nlpe(kEngineDict, "NLPE_DictImport");
constexpr Remote kDictSearch = nlpe(kEngineDict, "NLPE_DictSearch");
constexpr Remote kWordSect = nlpe(kEngineDict, "NLPE_WordSect");
constexpr Remote kGetHandle = nlpe(kEngineDict, "NLPE_DictGetHandle");
constexpr Remote kDeleteHandle = nlpe(kEngineDict, "NLPE_DictDeleteHandle");

}  // namespace

extern "C" {

ORQEXT_API int32_t ORQEXT_CALL ORQExt_NLPE_DictLoad(int32_t conn, const char* text) {
    return call(conn, kDictLoad, str(text));
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_NLPE_DictUnload(int32_t conn, int32_t value) {
    return call(conn, kDictUnload, i32(value));
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_NLPE_DictImport(int32_t conn, const char* text) {
    return call(conn, kDictImport, str(text));
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_NLPE_DictSearch(int32_t conn, const char* text) {
    return call(conn, kDictSearch, str(text));
}

// optC follows marks among the parameters but goes out right after optB; the
// last byte tells the engine whether the 16-bit entries are wanted.
ORQEXT_API int32_t ORQEXT_CALL ORQExt_NLPE_WordSect(int32_t conn, const char* text,
                                                    int32_t* items, int32_t capacity,
                                                    int32_t optA, int32_t optB, int16_t* marks,
                                                    int32_t optC, uint8_t flagA, uint8_t flagB) {
    if (check_segmentation(text, items, capacity, marks) != kOk) return kBadArgument;
    return segmentation(conn, kWordSect, items, capacity, marks, str(text), i32(capacity), i32(optA),
                        i32(optB), i32(optC), byte(flagA), byte(flagB), byte(marks ? 1 : 0));
}

// A non-negative status word is the handle.
ORQEXT_API int32_t ORQEXT_CALL ORQExt_NLPE_GetHandle(int32_t conn, const char* text) {
    return call(conn, kGetHandle, str(text));
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_NLPE_DeleteHandle(int32_t conn, int32_t handle) {
    return call(conn, kDeleteHandle, i32(handle));
}

}  // extern "C"

// Association dictionaries: engine 1 of "KExt_NLPE". Initialise the engine;
// create, delete, load, unload and import dictionaries; test whether one
// exists; list dictionary and category names; search a text.
#include "exports/orqext.h"
#include "services/text/reply.h"

namespace orq::text {
namespace {

constexpr Remote kInitial = nlpe(kEngineAssoc, "AR_Initial");
constexpr Remote kCreate = nlpe(kEngineAssoc, "AR_Dict_Create");
constexpr Remote kDelete = nlpe(kEngineAssoc, "AR_Dict_Delete");
constexpr Remote kAllNames = nlpe(kEngineAssoc, "AR_Get_AllDictName");
constexpr Remote kExists = nlpe(kEngineAssoc, "AR_Is_DictExist");
constexpr Remote kSearch = nlpe(kEngineAssoc, "AR_Search");
constexpr Remote kLoad = nlpe(kEngineAssoc, "AR_Dict_Load");
constexpr Remote kUnload = nlpe(kEngineAssoc, "AR_Dict_Unload");
constexpr Remote kImport = nlpe(kEngineAssoc, "AR_Dict_Import");
constexpr Remote kLoadedNames = nlpe(kEngineAssoc, "AR_Get_AllDictNameLoaded");
constexpr Remote kCategoryNames = nlpe(kEngineAssoc, "AR_Get_InforName");

bool empty(const char* s) { return !s || !*s; }

// Calls that name one dictionary and refuse a null or empty name.
int32_t named_call(int32_t conn, const Remote& r, const char* text) {
    if (empty(text)) return kBadArgument;
    return call(conn, r, str(text));
}

// A name list: int32 L, then L bytes of names (no terminator is added).
// The capacity goes out in the frame and sizes the area (capacity + 5).
// `cut` lists cut the copy to the capacity and refuse a capacity of 0;
// the others accept 0 and report a longer list with -1107 and its length.
int32_t name_list(int32_t conn, const Remote& r, char* buffer, int32_t* length, Overlong mode) {
    if (!buffer || !length) return kBadArgument;
    const int32_t cap = *length;
    if (cap < 0 || (cap == 0 && mode == Overlong::Cut)) return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        Reply reply;
        const int32_t rc = send_with_area(conn, r, build(r, i32(cap)), int64_t{cap} + 5, &reply);
        if (rc != kOk) return rc;
        CountedText names;
        if (!locate_text(reply, 0, cap, &names)) return kBadReply;
        return deliver_text(reply, names, mode, buffer, length);
    });
}

// Search: int32 LA, LA bytes of result A, then (only when capacity B is
// above 0) int32 LB and LB bytes of result B. Both parts are checked before
// either is delivered.
int32_t search(int32_t conn, const char* text, char* bufferA, int32_t* lengthA, char* bufferB,
               int32_t* lengthB) {
    if (empty(text) || !bufferA || !lengthA || !lengthB) return kBadArgument;
    const int32_t capA = *lengthA;
    const int32_t capB = *lengthB;
    const bool wantB = capB > 0;
    if (capA <= 0 || (wantB && !bufferB)) return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        const int64_t size = int64_t{capA} + 4 + 1 + (wantB ? int64_t{capB} + 4 : 0);
        Reply reply;
        const int32_t rc =
            send_with_area(conn, kSearch, build(kSearch, str(text), i32(capA), i32(capB)), size,
                           &reply);
        if (rc != kOk) return rc;
        CountedText a, b;
        if (!locate_text(reply, 0, capA, &a)) return kBadReply;
        if (wantB) {
            // Part B follows the whole of part A as the reply sent it.
            if (!reply.has(a.at, static_cast<uint64_t>(a.announced)) ||
                !locate_text(reply, a.at + static_cast<uint64_t>(a.announced), capB, &b))
                return kBadReply;
        }
        int32_t result = deliver_text(reply, a, Overlong::Report, bufferA, lengthA);
        if (wantB && deliver_text(reply, b, Overlong::Report, bufferB, lengthB) != kOk)
            result = kAnswerTooLong;
        return result;
    });
}

}  // namespace
}  // namespace orq::text

using namespace orq;
using namespace orq::text;

extern "C" {

ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_Initial(int32_t conn) { return call(conn, kInitial); }

ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_Dict_Create(int32_t conn, const char* textA,
                                                     const char* textB, const char* textC) {
    return call(conn, kCreate, str(textA), str(textB), str(textC));
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_Dict_Delete(int32_t conn, const char* text) {
    return call(conn, kDelete, str(text));
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_GetAllDictName(int32_t conn, char* buffer,
                                                        int32_t* length) {
    return name_list(conn, kAllNames, buffer, length, Overlong::Cut);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_IsDictExist(int32_t conn, const char* text) {
    return call(conn, kExists, str(text));
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_Search(int32_t conn, const char* text, char* bufferA,
                                                int32_t* lengthA, char* bufferB,
                                                int32_t* lengthB) {
    return search(conn, text, bufferA, lengthA, bufferB, lengthB);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_Dict_Load(int32_t conn, const char* text) {
    return named_call(conn, kLoad, text);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_Dict_Unload(int32_t conn, const char* text) {
    return named_call(conn, kUnload, text);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_Dict_Import(int32_t conn, const char* text) {
    return named_call(conn, kImport, text);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_GetAllDictNameLoaded(int32_t conn, char* buffer,
                                                              int32_t* length) {
    return name_list(conn, kLoadedNames, buffer, length, Overlong::Report);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_AR_GetCategoryName(int32_t conn, char* buffer,
                                                         int32_t* length) {
    return name_list(conn, kCategoryNames, buffer, length, Overlong::Report);
}

}  // extern "C"

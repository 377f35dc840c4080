// Topic lists and exports: engine 8 of "KExt_NLPE". Set the topic engine up
// and release it, list topics, fetch one topic item, build a topic
// dictionary and export the result of a statement to a file.
#include "exports/orqext.h"
#include "services/text/reply.h"

namespace orq::text {
namespace {

constexpr Remote kList = nlpe(kEngineTopic, "TOP_List");
constexpr Remote kInit = nlpe(kEngineTopic, "TOP_Init");
constexpr Remote kGetItem = nlpe(kEngineTopic, "TOP_GetItem");
constexpr Remote kUnInit = nlpe(kEngineTopic, "TOP_UnInit");
constexpr Remote kExportSql = nlpe(kEngineTopic, "ExportSqlToFile");
constexpr Remote kMakeDict = nlpe(kEngineTopic, "MakeTopDict");

bool empty(const char* s) { return !s || !*s; }

// The list is received into buffer with at most `capacity` bytes; the
// received length stays inside the call. The capacity goes out in the frame
// as given. A buffer of capacity 0 goes to the exchange like any other, so a
// non-empty list gives -1107 rather than being dropped unseen; without a
// buffer, or with a negative capacity, the reply is dropped, so nothing is
// ever written through a null or unsized buffer.
int32_t list(int32_t conn, char* buffer, int32_t capacity, int32_t value) {
    return guarded([&]() ORQ_ALWAYS_INLINE {
        const Frame f = build(kList, i32(capacity), i32(value));
        if (!buffer || capacity < 0) return send_only(conn, kList, f);
        int32_t received = capacity;
        return send_frame(conn, kList.module, f, buffer, &received);
    });
}

// The item is received into buffer; *length is the capacity on entry and the
// number of bytes received on return. A negative capacity is sent as it is,
// but no buffer of unknown size is written: the reply is then dropped and
// *length left alone.
int32_t get_item(int32_t conn, const char* text1, const char* text2, char* buffer,
                 int32_t* length) {
    if (empty(text1) || empty(text2) || !length) return kBadArgument;
    const int32_t cap = *length;
    if (cap == 0 || (cap > 0 && !buffer)) return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        const Frame f = build(kGetItem, str(text1), str(text2), i32(cap));
        if (cap < 0) return send_only(conn, kGetItem, f);
        return send_frame(conn, kGetItem.module, f, buffer, length);
    });
}

}  // namespace
}  // namespace orq::text

using namespace orq;
using namespace orq::text;

extern "C" {

ORQEXT_API int32_t ORQEXT_CALL ORQExt_TOP_List(int32_t conn, char* buffer, int32_t capacity,
                                               int32_t value) {
    return list(conn, buffer, capacity, value);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_TOP_Init(int32_t conn, const char* text) {
    return call(conn, kInit, str(text));
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_TOP_GetItem(int32_t conn, const char* text1,
                                                  const char* text2, char* buffer,
                                                  int32_t* length) {
    return get_item(conn, text1, text2, buffer, length);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_TOP_UnInit(int32_t conn, const char* text) {
    return call(conn, kUnInit, str(text));
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_ExportSqlToFile(int32_t conn, const char* text1,
                                                      const char* text2, int32_t value,
                                                      const char* text3) {
    if (!text1 || !text2 || !text3 || value == 0) return kBadArgument;
    return call(conn, kExportSql, str(text1), str(text2), i32(value), str(text3));
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_MakeTopDict(int32_t conn, const char* text1,
                                                  const char* text2) {
    if (!text1 || !text2) return kBadArgument;
    return call(conn, kMakeDict, str(text1), str(text2));
}

}  // extern "C"

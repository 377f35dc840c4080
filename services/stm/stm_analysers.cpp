// The analysers of the semantic text mining engine: text classifier,
// information filter, text clusterer and keyword extractor. The handle after
// the connection is the server's and is forwarded unchanged.
#include <cstring>

#include "services/stm/stm_call.h"

using namespace orq;
using namespace orq::stm;

namespace {

// The information filter answers with decimal text in an area of this size.
constexpr int32_t kInfoFilterArea = 100;

int32_t call_handle_value(int32_t conn, const char* remote, int32_t handle, int32_t value) {
    return guarded([&]() ORQ_ALWAYS_INLINE {
        Frame f(remote);
        f.i32(handle).i32(value);
        return send(conn, f);
    });
}

}  // namespace

extern "C" {

// ---- text classifier ------------------------------------------------------

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_TextClassifier_Init(int32_t conn, int32_t handle,
                                                              int32_t value) {
    if (value < 0) return kBadArgument;
    return call_handle_value(conn, "STM_TextClassifier_Initialize", handle, value);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_TextClassifier_ShutDown(int32_t conn, int32_t handle) {
    return call_handle(conn, "STM_TextClassifier_ShutDown", handle);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_TextClassifier_Do(int32_t conn, int32_t handle,
                                                            void* out, int32_t* length,
                                                            const StmTextItem* items,
                                                            int32_t count,
                                                            const StmClassifierOptions* options) {
    if (!items || count < 0 || !options || !reply_area_ok(out, length)) return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        Frame f("STM_TextClassifier_Do");
        f.i32(handle);
        put_classifier_options(f, *options);
        return send_items_to_caller(conn, f, out, length, items, count);
    });
}

// ---- information filter ---------------------------------------------------

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_InfoFilter_Init(int32_t conn, int32_t handle,
                                                          const char* text) {
    if (!filled(text)) return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        Frame f("STM_InfoFilter_Initialize");
        f.i32(handle).str(text);
        return send(conn, f);
    });
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_InfoFilter_ShutDown(int32_t conn, int32_t handle) {
    return call_handle(conn, "STM_InfoFilter_ShutDown", handle);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_InfoFilter_Do(int32_t conn, int32_t handle,
                                                        const StmTextItem* items, int32_t count) {
    if (!items || count <= 0) return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        Frame f("STM_InfoFilter_Do");
        f.i32(handle).i32(count);
        if (!put_items(f, items, count)) return kBadArgument;
        ReplyArea area;
        if (!area.allocate(kInfoFilterArea)) return kBadArgument;
        int32_t received = 0;
        const int32_t rc = send_frame_area(conn, kModStm, f, area, &received);
        if (rc < 0) return rc;
        // A positive status copies nothing: the zero area reads as 0.
        return parse_decimal(area.data(), static_cast<std::size_t>(received));
    });
}

// ---- text clusterer -------------------------------------------------------

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_TextCluster_Init(int32_t conn, int32_t handle) {
    return call_handle(conn, "STM_TextCluster_Initialize", handle);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_TextCluster_ShutDown(int32_t conn, int32_t handle,
                                                               const StmClusterShutdownArgs* args) {
    // The name is read only inside its array: one without a NUL there is
    // refused rather than read past the record.
    if (!args || !args->name[0] || !std::memchr(args->name, 0, sizeof args->name))
        return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        Frame f("STM_TextCluster_ShutDown");
        f.i32(handle).i32(args->value1).i32(args->value2).i32(args->value3).i32(args->value4);
        f.str(args->name);
        return send(conn, f);
    });
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_TextCluster_Do(int32_t conn, int32_t handle,
                                                         const StmTextItem* items, int32_t count,
                                                         const char* text) {
    if (!items || count < 0 || !text || !items_sendable(items, count)) return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        Frame f("STM_TextCluster_Do");
        f.i32(handle).str(text).i32(count);
        if (!put_items(f, items, count)) return kBadArgument;
        return send(conn, f);
    });
}

// ---- keyword extractor ----------------------------------------------------

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_KeyWordExtractor_Init(int32_t conn, int32_t handle,
                                                                int32_t value) {
    return call_handle_value(conn, "STM_KeyWordExtractor_Initialize", handle, value);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_KeyWordExtractor_ShutDown(int32_t conn,
                                                                    int32_t handle) {
    return call_handle(conn, "STM_KeyWordExtractor_ShutDown", handle);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_KeyWordExtractor_Do(int32_t conn, int32_t handle,
                                                              void* out, int32_t* length,
                                                              const StmTextItem* items,
                                                              int32_t count,
                                                              const StmOptionPair* options) {
    if (!items || count <= 0 || !options || !reply_area_ok(out, length)) return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        Frame f("STM_KeyWordExtractor_Do");
        f.i32(handle);
        put_option_pair(f, *options);
        return send_items_to_caller(conn, f, out, length, items, count);
    });
}

}  // extern "C"

// Extractors and similarity of the semantic text mining engine: abstract
// extractor and VSM model generator (with a server handle), abstractor and
// similarity analyser (without). Remote names are the module's own and are
// not prefixed alike.
#include "services/stm/stm_call.h"

using namespace orq;
using namespace orq::stm;

namespace {

// Checks shared by the two abstract calls: besides the text and the options,
// the reply area is written and the items are read, so both must be usable
// (null items pass only when no item is to be sent).
bool abstract_args_ok(const char* text, void* out, const int32_t* length,
                      const StmOptionPair* options, const StmTextItem* items, int32_t count) {
    return text && options && reply_area_ok(out, length) && items_sendable(items, count);
}

}  // namespace

extern "C" {

// ---- abstract extractor ---------------------------------------------------

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_AbstractExtractor_Initialize(int32_t conn,
                                                                       int32_t handle) {
    return call_handle(conn, "STM_AbstractExtractor_Initialize", handle);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_AbstractExtractor_ShutDown(int32_t conn,
                                                                     int32_t handle) {
    return call_handle(conn, "STM_AbstractExtractor_ShutDown", handle);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_AbstractExtractor_Do(int32_t conn, int32_t handle,
                                                               const char* text, void* out,
                                                               int32_t* length,
                                                               const StmOptionPair* options,
                                                               const StmTextItem* items,
                                                               int32_t count) {
    if (!abstract_args_ok(text, out, length, options, items, count)) return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        Frame f("STM_AbstractExtractor_Do");
        f.i32(handle).str(text);
        put_option_pair(f, *options);
        return send_items_to_caller(conn, f, out, length, items, count);
    });
}

// ---- VSM model generator --------------------------------------------------

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_VSMGenerator_Init(int32_t conn, int32_t handle) {
    return call_handle(conn, "STM_VSMModel_Generator_Initialize", handle);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_VSMGenerator_ShutDown(int32_t conn, int32_t handle) {
    return call_handle(conn, "STM_VSMModel_Generator_ShutDown", handle);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_VSMGenerator_Do(int32_t conn, int32_t handle,
                                                          void* out, int32_t* length,
                                                          const StmTextItem* items, int32_t count,
                                                          const StmVsmOptions* options) {
    if (!items || count <= 0 || !options || !reply_area_ok(out, length)) return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        Frame f("STM_VSMModel_Generator_Do");
        f.i32(handle);
        put_vsm_options(f, *options);
        return send_items_to_caller(conn, f, out, length, items, count);
    });
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_VSMGenerator_GetResult(int32_t conn, int32_t handle,
                                                                 void* out, int32_t* length,
                                                                 const char* text,
                                                                 const StmVsmOptions* options) {
    if (!options || !text || !reply_area_ok(out, length)) return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        Frame f("STM_VSMModel_GetResult");
        f.i32(handle);
        put_vsm_options(f, *options);
        f.i32(*length).str(text);
        return send_to_caller(conn, f, out, length);
    });
}

// ---- abstractor -------------------------------------------------------------

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_Abstractor_Init(int32_t conn) {
    return call_plain(conn, "KAbstractor_Initialize");
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_Abstractor_ShutDown(int32_t conn) {
    return call_plain(conn, "KAbstractor_ShutDown");
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_Abstractor_Do(int32_t conn, const char* text, void* out,
                                                        int32_t* length,
                                                        const StmOptionPair* options,
                                                        const StmTextItem* items, int32_t count) {
    if (!abstract_args_ok(text, out, length, options, items, count)) return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        Frame f("KAbstractor_Do");
        f.str(text);
        put_option_pair(f, *options);
        return send_items_to_caller(conn, f, out, length, items, count);
    });
}

// ---- similarity -------------------------------------------------------------

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_Similarity_Initialize(int32_t conn) {
    return call_plain(conn, "Similarity_Initialize");
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_Similarity_ShutDown(int32_t conn) {
    return call_plain(conn, "Similarity_ShutDown");
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_STM_Similarity_Analyst(int32_t conn, const char* text1,
                                                             const char* text2) {
    if (!filled(text1) || !filled(text2)) return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        Frame f("Similarity_Analyst");
        f.str(text1).str(text2);
        return send(conn, f);
    });
}

}  // extern "C"

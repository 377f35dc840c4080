// Association-rule analysis: six calls to module "KExt_ARA" (no engine
// selector). None checks its arguments and none reads a reply.
#include "exports/orqext.h"
#include "services/text/reply.h"

using namespace orq;
using namespace orq::text;

namespace {

constexpr Remote kFreqBegin = unselected(kModAra, "ARA_Stat_AssociatedFreq_Begin");
constexpr Remote kFreq = unselected(kModAra, "ARA_Stat_AssociatedFreq");
constexpr Remote kFreqEnd = unselected(kModAra, "ARA_Stat_AssociatedFreq_End");
constexpr Remote kMulMergeFile = unselected(kModAra, "ARA_MulMergeFile");
constexpr Remote kFiltrate = unselected(kModAra, "ARA_Filtrate");
constexpr Remote kWordSupportRec = unselected(kModAra, "ARA_GetWordSupportRec");

}  // namespace

extern "C" {

ORQEXT_API int32_t ORQEXT_CALL ORQExt_ARA_Stat_AssociatedFreq_Begin(int32_t conn,
                                                                    const char* textA) {
    return call(conn, kFreqBegin, str(textA));
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_ARA_Stat_AssociatedFreq(int32_t conn, const char* textA,
                                                              const char* textB, int32_t value,
                                                              uint8_t flag) {
    return call(conn, kFreq, str(textA), str(textB), i32(value), byte(flag));
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_ARA_Stat_AssociatedFreq_End(int32_t conn) {
    return call(conn, kFreqEnd);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_ARA_MulMergeFile(int32_t conn, const char* textA,
                                                       const char* textB) {
    return call(conn, kMulMergeFile, str(textA), str(textB));
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_ARA_Filtrate(int32_t conn, const char* textA,
                                                   const char* textB, int32_t value) {
    return call(conn, kFiltrate, str(textA), str(textB), i32(value));
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_ARA_GetWordSupportRec(int32_t conn, const char* textA,
                                                            const char* textB) {
    return call(conn, kWordSupportRec, str(textA), str(textB));
}

}  // extern "C"

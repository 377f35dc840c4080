// Unlabelled clustering (engine 6) and classifier (engine 3) of module
// "KExt_NLPE". Only the classification result is decoded here; the class of
// a text goes straight into the caller's buffer.
#include "exports/orqext.h"
#include "services/text/reply.h"

using namespace orq;
using namespace orq::text;

namespace {

constexpr Remote kClassInit = nlpe(kEngineClassNoLabel, "ClassNoLabel_Init");
constexpr Remote kClassGet = nlpe(kEngineClassNoLabel, "ClassNoLabel_GetClass");
constexpr Remote kClassFree = nlpe(kEngineClassNoLabel, "ClassNoLabel_Free");
constexpr Remote kClaSetPath = nlpe(kEngineCla, "CLA_SetPath");
constexpr Remote kClaClassify = nlpe(kEngineCla, "CLA_GetClassifyResult");
constexpr Remote kClaFreeDict = nlpe(kEngineCla, "CLA_FreeDict");

constexpr int kClassifyFields = 7;

// Classification reply: lenA, lenB, value A (int32), value B (byte), value C
// (int32, unaligned), text A, text B.
constexpr uint64_t kOffLenB = 4, kOffValueA = 8, kOffValueB = 12, kOffValueC = 13, kOffText = 17;

struct Classified {
    char* textA;
    int32_t* lenA;  // capacity on entry, bytes stored on return
    char* textB;
    int32_t* lenB;
    int32_t* valueA;
    uint8_t* valueB;
    int32_t* valueC;
};

// Each text is cut to its capacity - 1 bytes and given a NUL. Text B starts
// after the reply's own lenA bytes of text A, not after the cut. Everything
// is checked before anything is stored, so a refused reply leaves every
// out-parameter as it was.
int32_t decode_classification(const Reply& reply, int32_t capA, int32_t capB, const Classified& out) {
    if (!reply.has(0, kOffText)) return kBadReply;
    const unsigned char* p = reply.data();
    const int32_t lenA = get_le32(p), lenB = get_le32(p + kOffLenB);
    if (lenA < 0 || lenB < 0) return kBadReply;
    const int32_t nA = lenA < capA - 1 ? lenA : capA - 1;
    const int32_t nB = lenB < capB - 1 ? lenB : capB - 1;
    const uint64_t atB = kOffText + static_cast<uint64_t>(lenA);
    // Text B is found after all of text A, so text A must have been received
    // whole; of text B only the part copied.
    if (!reply.has(kOffText, static_cast<uint64_t>(lenA))) return kBadReply;
    if (!reply.has(atB, static_cast<uint64_t>(nB))) return kBadReply;

    *out.valueA = get_le32(p + kOffValueA);
    *out.valueB = p[kOffValueB];
    *out.valueC = get_le32(p + kOffValueC);
    *out.lenA = nA;
    copy_from(reply, kOffText, out.textA, nA);
    out.textA[nA] = '\0';
    *out.lenB = nB;
    copy_from(reply, atB, out.textB, nB);
    out.textB[nB] = '\0';
    return kOk;
}

}  // namespace

extern "C" {

// A null text still sends its place: one NUL byte.
ORQEXT_API int32_t ORQEXT_CALL ORQExt_ClassNoLabel_Init(int32_t conn, const char* text) {
    return call(conn, kClassInit, str_or_empty(text));
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_ClassNoLabel_GetClass(int32_t conn, const char* text,
                                                            void* buffer, int32_t* length) {
    if (!text || !*text) return kBadArgument;
    // The buffer and its length go to the exchange as they are; refuse here
    // what it would refuse, so that nothing is routed either.
    if (length && (*length < 0 || (*length > 0 && !buffer))) return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        return send_frame(conn, kClassGet.module, build(kClassGet, str(text)), buffer, length);
    });
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_ClassNoLabel_Free(int32_t conn) {
    return call(conn, kClassFree);
}

// A null text sends nothing: the frame ends after the remote name.
ORQEXT_API int32_t ORQEXT_CALL ORQExt_CLA_SetPath(int32_t conn, const char* text) {
    return call(conn, kClaSetPath, str(text));
}

// The three values are listed C, B, A among the parameters but travel A, B, C
// in both the request and the reply.
ORQEXT_API int32_t ORQEXT_CALL ORQExt_CLA_GetClassifyResult(
    int32_t conn, int32_t mode, const char* const* fields, char* resultA, int32_t* resultALen,
    char* resultB, int32_t* resultBLen, int32_t* valueC, uint8_t* valueB, int32_t* valueA,
    int32_t extra) {
    if (!fields || !resultA || !resultB || !resultALen || !resultBLen || !valueA || !valueB ||
        !valueC)
        return kBadArgument;
    const int32_t capA = *resultALen, capB = *resultBLen;
    // Each buffer must hold at least its terminator.
    if (capA < 1 || capB < 1) return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        Frame f = build(kClaClassify, i32(mode));
        for (int i = 0; i < kClassifyFields; ++i) append_all(f, str(fields[i]));
        append_all(f, i32(capA), i32(capB), i32(extra), i32(*valueA), byte(*valueB), i32(*valueC));

        Reply reply;
        const int32_t rc = send_with_area(
            conn, kClaClassify, f, static_cast<int64_t>(capA) + capB + 10, &reply);
        if (rc != kOk) return rc;
        return decode_classification(reply, capA, capB,
                                     Classified{resultA, resultALen, resultB, resultBLen, valueA,
                                                valueB, valueC});
    });
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_CLA_FreeDict(int32_t conn) {
    return call(conn, kClaFreeDict);
}

}  // extern "C"

// Text classification engines of module "KExt_NLPE": EZTC (engine 2) and BSM
// (engine 7). Each has a set-up, a classify and a release call; the classify
// calls decode their reply into the caller's buffers.
#include "exports/orqext.h"
#include "services/text/reply.h"

using namespace orq;
using namespace orq::text;

namespace {

constexpr Remote kEztcSetPath = nlpe(kEngineEztc, "EZTC_SetPath");
constexpr Remote kEztcClassify = nlpe(kEngineEztc, "EZTC_GetTxtClassify");
constexpr Remote kEztcFreeDict = nlpe(kEngineEztc, "EZTC_FreeDict");
constexpr Remote kBsmInit = nlpe(kEngineBsm, "BSM_Word_Init");
constexpr Remote kBsmClassify = nlpe(kEngineBsm, "BSM_GetTxtClassify");
constexpr Remote kBsmFreeDict = nlpe(kEngineBsm, "BSM_FreeDict");

// EZTC reply: int32 L, then the answer; the answer is cut to the capacity.
int32_t decode_eztc(const Reply& reply, int32_t cap, char* buffer, int32_t* length) {
    CountedText t;
    if (!locate_text(reply, 0, cap, &t)) return kBadReply;
    return deliver_text(reply, t, Overlong::Cut, buffer, length);
}

// BSM reply: an unused int32, L1 and the first answer, L2 and the second
// answer, int32 F. The second length field follows the reply's own L1 bytes.
// All fields are located before anything is stored.
int32_t decode_bsm(const Reply& reply, int32_t cap1, int32_t cap2, char* buffer1,
                   int32_t* length1, char* buffer2, int32_t* length2, uint8_t* flag) {
    CountedText first, second;
    int32_t f = 0;
    if (!locate_text(reply, 4, cap1, &first)) return kBadReply;
    const uint64_t at2 = first.at + static_cast<uint64_t>(first.announced);
    if (!locate_text(reply, at2, cap2, &second)) return kBadReply;
    if (!reply.int32_at(second.at + static_cast<uint64_t>(second.announced), &f)) return kBadReply;

    const int32_t rc1 = deliver_text(reply, first, Overlong::Report, buffer1, length1);
    const int32_t rc2 = deliver_text(reply, second, Overlong::Report, buffer2, length2);
    *flag = f != 0 ? 1 : 0;
    return rc1 != kOk ? rc1 : rc2;
}

}  // namespace

extern "C" {

ORQEXT_API int32_t ORQEXT_CALL ORQExt_EZTC_SetPath(int32_t conn) {
    return call(conn, kEztcSetPath);
}

// The two int32 values go before the six texts, value3 after them.
ORQEXT_API int32_t ORQEXT_CALL ORQExt_EZTC_GetTxtClassify(int32_t conn, int32_t value1,
                                                          int32_t value2,
                                                          const EztcTextFields* fields,
                                                          int32_t value3, char* buffer,
                                                          int32_t* length, uint8_t flag) {
    if (!buffer || !fields || !length || *length < 0) return kBadArgument;
    const int32_t cap = *length;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        const EztcTextFields& t = *fields;
        const Frame f = build(kEztcClassify, i32(value1), i32(value2), str_or_empty(t.text1),
                              str_or_empty(t.text2), str_or_empty(t.text3), str_or_empty(t.text4),
                              str_or_empty(t.text5), str_or_empty(t.text6), i32(value3), i32(cap),
                              byte(flag));
        Reply reply;
        const int32_t rc = send_with_area(conn, kEztcClassify, f, static_cast<int64_t>(cap) + 5, &reply);
        if (rc != kOk) return rc;
        return decode_eztc(reply, cap, buffer, length);
    });
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_EZTC_FreeDict(int32_t conn) {
    return call(conn, kEztcFreeDict);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_BSM_Word_Init(int32_t conn) {
    return call(conn, kBsmInit);
}

// Unlike EZTC, the eight texts go before the int32 values.
ORQEXT_API int32_t ORQEXT_CALL ORQExt_BSM_GetClassifyResult(
    int32_t conn, int32_t value1, int32_t value2, const BsmTextFields* fields, char* buffer1,
    int32_t* length1, char* buffer2, int32_t* length2, uint8_t* flag) {
    if (!buffer1 || !fields || !length1 || !length2 || !flag) return kBadArgument;
    const int32_t cap1 = *length1, cap2 = *length2;
    if (cap1 < 0 || cap2 < 0 || (cap2 > 0 && !buffer2)) return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        const BsmTextFields& t = *fields;
        const Frame f = build(kBsmClassify, str_or_empty(t.text1), str_or_empty(t.text2),
                              str_or_empty(t.text3), str_or_empty(t.text4), str_or_empty(t.text5),
                              str_or_empty(t.text6), str_or_empty(t.text7), str_or_empty(t.text8),
                              i32(value1), i32(value2), i32(cap1), i32(cap2), byte(*flag));
        Reply reply;
        const int32_t rc = send_with_area(conn, kBsmClassify, f,
                                          static_cast<int64_t>(cap1) + cap2 + 256, &reply);
        if (rc != kOk) return rc;
        return decode_bsm(reply, cap1, cap2, buffer1, length1, buffer2, length2, flag);
    });
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_BSM_FreeDict(int32_t conn) {
    return call(conn, kBsmFreeDict);
}

}  // extern "C"

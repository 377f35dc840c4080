// Keyword frequency statistics: two calls to module "KExt_KWFS" (no engine
// selector) that send a list of items and an options record. The reply is
// dropped.
#include "exports/orqext.h"
#include "services/text/reply.h"

using namespace orq;
using namespace orq::text;

namespace {

constexpr Remote kFrequency = unselected(kModKwfs, "KWFS_Frequency");
constexpr Remote kAssociated = unselected(kModKwfs, "KWFS_Associated");

// itemCount; per item text1 (nothing when null), value, text2 (a single NUL
// when null); options value and text; then `number` for the frequency call.
int32_t send_items(int32_t conn, const Remote& r, const KwfsItem* items, int32_t count,
                   const KwfsOptions* options, const int32_t* number) {
    // A null options record, or a null list that should hold items, cannot
    // be encoded.
    if (!options || (count > 0 && !items)) return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        Frame f = build(r, i32(count));
        for (int32_t i = 0; i < count; ++i)
            append_all(f, str(items[i].text1), i32(items[i].value), str_or_empty(items[i].text2));
        append_all(f, i32(options->value), str(options->text));
        if (number) append(f, i32(*number));
        return send_only(conn, r, f);
    });
}

}  // namespace

extern "C" {

ORQEXT_API int32_t ORQEXT_CALL ORQExt_KWFS_Frequency(int32_t conn, const KwfsItem* itemList,
                                                     int32_t itemCount,
                                                     const KwfsOptions* options, int32_t number) {
    return send_items(conn, kFrequency, itemList, itemCount, options, &number);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_KWFS_Associated(int32_t conn, const KwfsItem* itemList,
                                                      int32_t itemCount,
                                                      const KwfsOptions* options) {
    return send_items(conn, kAssociated, itemList, itemCount, options, nullptr);
}

}  // extern "C"

// Aptitude search (engine 5 of "KExt_NLPE") and word extraction (engine 4):
// start and stop the aptitude engine, search and segment a text; initialise
// the extraction engine, extract words from six texts, free its dictionary.
#include "exports/orqext.h"
#include "services/text/reply.h"

namespace orq::text {
namespace {

constexpr Remote kAptSearch = nlpe(kEngineAptitude, "Aptitude_Search");
constexpr Remote kAptInit = nlpe(kEngineAptitude, "Aptitude_Init");
constexpr Remote kAptUnInit = nlpe(kEngineAptitude, "Aptitude_UnInit");
constexpr Remote kAptWordSect = nlpe(kEngineAptitude, "Aptitude_WordSect");
constexpr Remote kExtInitial = nlpe(kEngineExtract, "Extract_Word_Initial");
constexpr Remote kExtDirect = nlpe(kEngineExtract, "Extract_Word_Direct");
constexpr Remote kExtDirectNormal = nlpe(kEngineExtract, "Extract_Word_DirectNormal");
constexpr Remote kExtFreeDict = nlpe(kEngineExtract, "Extract_Word_FreeDict");

constexpr int64_t kEntrySize = ORQEXT_EXTRACT_ENTRY_SIZE;
constexpr int kFieldCount = 6;

bool valid_mode(int32_t mode) { return mode == 1 || mode == 2; }

// Search: int32 L, then L bytes of text into buffer (no terminator). A text
// longer than the capacity leaves its leading part, its length and -1107.
// When the server answers -1107 with only four bytes, those announce the
// text's length, which the caller receives in *length.
int32_t aptitude_search(int32_t conn, const char* text, char* buffer, int32_t* length) {
    if (!text || !buffer || !length) return kBadArgument;
    const int32_t cap = *length;
    if (cap < 0) return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        Reply reply;
        const int32_t rc = send_with_area(conn, kAptSearch, build(kAptSearch, str(text), i32(cap)),
                                          int64_t{cap} + 5, &reply);
        if (rc == kAnswerTooLong && reply.received == 4) {
            int32_t announced = 0;
            reply.int32_at(0, &announced);
            if (announced >= 0) *length = announced;
            return rc;
        }
        if (rc != kOk) return rc;
        CountedText t;
        if (!locate_text(reply, 0, cap, &t)) return kBadReply;
        return deliver_text(reply, t, Overlong::Report, buffer, length);
    });
}

// Extraction: int32 n, then n entries of 528 bytes. More entries than the
// capacity deliver the first capacity ones, keep *count and give -1107.
// The count and the entries are read from the zero-filled area whether or
// not the reply carried them all: a reply of fewer than four bytes gives the
// count its leading bytes (94 00 is 148), and entries it left out come out
// as zero bytes.
int32_t extract(int32_t conn, const Remote& r, const char* const* fields, void* entries,
                int32_t* count, int32_t mode, uint8_t flag, bool check_mode) {
    if (!fields || !entries || !count) return kBadArgument;
    const int32_t cap = *count;
    if (cap <= 0 || (check_mode && !valid_mode(mode))) return kBadArgument;
    return guarded([&]() ORQ_ALWAYS_INLINE {
        Frame f = open_frame(r);
        for (int i = 0; i < kFieldCount; ++i) append_all(f, str(fields[i]));
        append(f, i32(cap));
        append(f, i32(mode));
        append(f, byte(flag));
        Reply reply;
        const int32_t rc = send_with_area(conn, r, f, int64_t{cap} * kEntrySize + 5, &reply);
        if (rc != kOk) return rc;
        // The area holds at least 533 bytes, whatever number was received.
        const int32_t n = get_le32(reply.data());
        if (n < 0) return kBadReply;
        const int32_t stored = n > cap ? cap : n;
        copy_from(reply, 4, entries, static_cast<int32_t>(stored * kEntrySize));
        *count = stored;
        return n > cap ? kAnswerTooLong : kOk;
    });
}

}  // namespace
}  // namespace orq::text

using namespace orq;
using namespace orq::text;

extern "C" {

ORQEXT_API int32_t ORQEXT_CALL ORQExt_Aptitude_Search(int32_t conn, const char* text,
                                                      char* buffer, int32_t* length) {
    return aptitude_search(conn, text, buffer, length);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_Aptitude_Init(int32_t conn) { return call(conn, kAptInit); }

ORQEXT_API int32_t ORQEXT_CALL ORQExt_Aptitude_UnInit(int32_t conn) {
    return call(conn, kAptUnInit);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_Aptitude_WordSect(int32_t conn, const char* text,
                                                        int32_t* items, int32_t capacity,
                                                        int32_t optA, int32_t optB,
                                                        int16_t* marks, int32_t optC,
                                                        uint8_t flagA) {
    if (!text || !*text || !items || capacity < 0 || (capacity == 0 && marks))
        return kBadArgument;
    return segmentation(conn, kAptWordSect, items, capacity, marks, str(text), i32(capacity),
                        i32(optA), i32(optB), i32(optC), byte(flagA), byte(marks ? 1 : 0));
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_ExtractWord_Initial(int32_t conn, int32_t mode) {
    if (!valid_mode(mode)) return kBadArgument;
    return call(conn, kExtInitial, i32(mode));
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_ExtractWord_Direct(int32_t conn, const char* const* fields,
                                                         void* entries, int32_t* count,
                                                         int32_t mode, uint8_t flag) {
    return extract(conn, kExtDirect, fields, entries, count, mode, flag, true);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_ExtractWord_DirectNormal(int32_t conn,
                                                               const char* const* fields,
                                                               void* entries, int32_t* count,
                                                               int32_t mode, uint8_t flag) {
    return extract(conn, kExtDirectNormal, fields, entries, count, mode, flag, false);
}

ORQEXT_API int32_t ORQEXT_CALL ORQExt_ExtractWord_FreeDict(int32_t conn) {
    return call(conn, kExtFreeDict);
}

}  // extern "C"

// Every export that decodes a server reply into caller buffers, driven
// through the scripted XSRClient double. The input chooses the export, its
// capacities and arguments, and the replies: their result codes (0, a
// positive status word, -1107, other failures, parts with -1108, a pending
// first answer with -9000), their bytes and the lengths reported with them.
// Every caller buffer and length sits between guard bytes; after the call
// the guards must be intact, and a length that tells the bytes stored must
// be within its capacity whenever the call returns 0 (a failure, -1107
// among them, may report the whole answer's length, a positive status word
// the length received without copying anything, and a capacity of 0 asks
// for the length only). Counts of entries stay within their capacity
// whatever the result.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "exports/orqext.h"
#include "tests/fuzz/fuzz_library.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/fake_clock.h"
#include "xsr/double/xsr_double.h"

using fuzzsupport::Fenced;
using fuzzsupport::FencedInt;
using fuzzsupport::Input;

namespace {

constexpr int32_t kAnswerTooLong = -1107;

// What a length reports after the call.
enum class Meaning {
    Stored,    // bytes stored: within the capacity when the call returns 0
    Bounded,   // within the capacity whatever the result
};

struct LenCheck {
    FencedInt* len;
    int32_t before;
    int32_t capacity;
    Meaning meaning;
};

struct Ctx {
    Input& in;
    int32_t conn;
    std::vector<std::unique_ptr<Fenced>> bufs;
    std::vector<std::unique_ptr<FencedInt>> ints;
    std::vector<LenCheck> checks;

    // A capacity from the input: mostly small, sometimes 0 or negative.
    int32_t capacity() {
        const int16_t raw = static_cast<int16_t>(in.u16());
        return raw % 1500;
    }
    unsigned char* buffer(int32_t size) {
        bufs.push_back(std::make_unique<Fenced>(size > 0 ? static_cast<std::size_t>(size) : 0));
        return bufs.back()->data();
    }
    int32_t* length(int32_t capacity, Meaning m = Meaning::Stored) {
        ints.push_back(std::make_unique<FencedInt>(capacity));
        checks.push_back({ints.back().get(), capacity, capacity, m});
        return ints.back()->ptr();
    }
    // A plain int32 out-value (not a length).
    int32_t* value(int32_t v) {
        ints.push_back(std::make_unique<FencedInt>(v));
        return ints.back()->ptr();
    }
    template <class T>
    T* record(int32_t count) {
        return reinterpret_cast<T*>(buffer(count > 0 ? count * static_cast<int32_t>(sizeof(T)) : 0));
    }
};

const char* const kFields[8] = {"f1", "f2", "", "f4", "f5", "f6", "f7", "f8"};
StmTextItem g_items[2] = {{1, 0, "one"}, {2, 3, "two"}};

using Run = int32_t (*)(Ctx&);
struct Export {
    const char* name;
    Run run;
};

const Export kExports[] = {
    {"SendMessage", [](Ctx& c) {
         const int32_t cap = c.capacity();
         unsigned char* a = c.buffer(cap);
         return ORQExt_SendMessage(c.conn, "M", c.in.u8() & 1 ? "T" : nullptr, "x", 1, a, c.length(cap));
     }},
    {"SendMessageTimeOut", [](Ctx& c) {
         const int32_t cap = c.capacity();
         unsigned char* a = c.buffer(cap);
         const int32_t limit = static_cast<int32_t>(c.in.u16()) - 1;
         return ORQExt_SendMessageTimeOut(c.conn, "M", nullptr, "x", 1, a, c.length(cap), limit,
                                          c.in.u8() & 1);
     }},
    {"GetModInfo", [](Ctx& c) {
         const int32_t cap = c.capacity();
         unsigned char* a = c.buffer(cap);
         return ORQExt_GetModInfo(c.conn, "M", c.in.u8() & 1 ? "S" : nullptr, a, c.length(cap));
     }},
    {"GetModInfos", [](Ctx& c) {
         const int32_t cap = c.capacity();
         unsigned char* a = c.buffer(cap);
         return ORQExt_GetModInfos(c.conn, a, c.length(cap));
     }},
    {"GetExtVersion", [](Ctx& c) {
         const int32_t cap = c.capacity();
         unsigned char* a = c.buffer(cap);
         return ORQExt_GetExtVersion(c.conn, a, c.length(cap));
     }},
    {"NLPE_WordSect", [](Ctx& c) {
         const int32_t cap = c.capacity() % 64;
         int32_t* items = c.record<int32_t>(cap);
         int16_t* marks = c.in.u8() & 1 ? c.record<int16_t>(cap) : nullptr;
         const int32_t rc = ORQExt_NLPE_WordSect(c.conn, "text", items, cap, 1, 2, marks, 3, 0, 1);
         // With marks the result is the number of entries stored.
         if (marks && rc >= 0) FUZZ_CHECK(rc <= cap, "%d entries stored, capacity %d", rc, cap);
         return rc;
     }},
    {"Aptitude_WordSect", [](Ctx& c) {
         const int32_t cap = c.capacity() % 64;
         int32_t* items = c.record<int32_t>(cap);
         int16_t* marks = c.in.u8() & 1 ? c.record<int16_t>(cap) : nullptr;
         const int32_t rc = ORQExt_Aptitude_WordSect(c.conn, "text", items, cap, 1, 2, marks, 3, 0);
         if (marks && rc >= 0) FUZZ_CHECK(rc <= cap, "%d entries stored, capacity %d", rc, cap);
         return rc;
     }},
    {"ClassNoLabel_GetClass", [](Ctx& c) {
         const int32_t cap = c.capacity();
         unsigned char* a = c.buffer(cap);
         return ORQExt_ClassNoLabel_GetClass(c.conn, "t", a, c.length(cap));
     }},
    {"CLA_GetClassifyResult", [](Ctx& c) {
         const int32_t cap_a = c.capacity(), cap_b = c.capacity();
         char* a = reinterpret_cast<char*>(c.buffer(cap_a));
         char* b = reinterpret_cast<char*>(c.buffer(cap_b));
         // The texts are cut to capacity - 1 and a NUL: within capacity always.
         int32_t* la = c.length(cap_a, Meaning::Bounded);
         int32_t* lb = c.length(cap_b, Meaning::Bounded);
         int32_t* vc = c.value(7);
         uint8_t* vb = c.record<uint8_t>(1);
         int32_t* va = c.value(8);
         return ORQExt_CLA_GetClassifyResult(c.conn, c.in.u8(), kFields, a, la, b, lb, vc, vb, va,
                                             c.in.i32());
     }},
    {"EZTC_GetTxtClassify", [](Ctx& c) {
         const int32_t cap = c.capacity();
         char* a = reinterpret_cast<char*>(c.buffer(cap));
         const EztcTextFields f = {"a", nullptr, "c", "", "e", "f"};
         return ORQExt_EZTC_GetTxtClassify(c.conn, 1, 2, &f, 3, a, c.length(cap), c.in.u8());
     }},
    {"BSM_GetClassifyResult", [](Ctx& c) {
         const int32_t cap1 = c.capacity(), cap2 = c.capacity();
         char* a = reinterpret_cast<char*>(c.buffer(cap1));
         char* b = c.in.u8() & 1 ? reinterpret_cast<char*>(c.buffer(cap2)) : nullptr;
         const BsmTextFields f = {"a", "b", nullptr, "d", "e", "f", "g", "h"};
         uint8_t* flag = c.record<uint8_t>(1);
         return ORQExt_BSM_GetClassifyResult(c.conn, 1, 2, &f, a, c.length(cap1), b, c.length(cap2),
                                             flag);
     }},
    {"AR_GetAllDictName", [](Ctx& c) {
         const int32_t cap = c.capacity();
         char* a = reinterpret_cast<char*>(c.buffer(cap));
         return ORQExt_AR_GetAllDictName(c.conn, a, c.length(cap));
     }},
    {"AR_Search", [](Ctx& c) {
         const int32_t cap_a = c.capacity(), cap_b = c.capacity();
         char* a = reinterpret_cast<char*>(c.buffer(cap_a));
         char* b = reinterpret_cast<char*>(c.buffer(cap_b));
         return ORQExt_AR_Search(c.conn, "t", a, c.length(cap_a), b, c.length(cap_b));
     }},
    {"AR_GetAllDictNameLoaded", [](Ctx& c) {
         const int32_t cap = c.capacity();
         char* a = reinterpret_cast<char*>(c.buffer(cap));
         return ORQExt_AR_GetAllDictNameLoaded(c.conn, a, c.length(cap));
     }},
    {"AR_GetCategoryName", [](Ctx& c) {
         const int32_t cap = c.capacity();
         char* a = reinterpret_cast<char*>(c.buffer(cap));
         return ORQExt_AR_GetCategoryName(c.conn, a, c.length(cap));
     }},
    {"Aptitude_Search", [](Ctx& c) {
         const int32_t cap = c.capacity();
         char* a = reinterpret_cast<char*>(c.buffer(cap));
         return ORQExt_Aptitude_Search(c.conn, "t", a, c.length(cap));
     }},
    {"ExtractWord_Direct", [](Ctx& c) {
         const int32_t cap = c.capacity() % 8;
         unsigned char* e = c.buffer(cap > 0 ? cap * ORQEXT_EXTRACT_ENTRY_SIZE : 0);
         return ORQExt_ExtractWord_Direct(c.conn, kFields, e, c.length(cap, Meaning::Bounded),
                                          1 + (c.in.u8() & 1), c.in.u8());
     }},
    {"ExtractWord_DirectNormal", [](Ctx& c) {
         const int32_t cap = c.capacity() % 8;
         unsigned char* e = c.buffer(cap > 0 ? cap * ORQEXT_EXTRACT_ENTRY_SIZE : 0);
         return ORQExt_ExtractWord_DirectNormal(c.conn, kFields, e, c.length(cap, Meaning::Bounded),
                                                1 + (c.in.u8() & 1), c.in.u8());
     }},
    {"TOP_List", [](Ctx& c) {
         const int32_t cap = c.capacity();
         char* a = reinterpret_cast<char*>(c.buffer(cap));
         return ORQExt_TOP_List(c.conn, a, cap, c.in.i32());
     }},
    {"TOP_GetItem", [](Ctx& c) {
         const int32_t cap = c.capacity();
         char* a = reinterpret_cast<char*>(c.buffer(cap));
         return ORQExt_TOP_GetItem(c.conn, "a", "b", a, c.length(cap));
     }},
    {"STM_GetDomainNameList", [](Ctx& c) {
         const int32_t cap = c.capacity();
         unsigned char* a = c.buffer(cap);
         return ORQExt_STM_GetDomainNameList(c.conn, a, c.length(cap), c.in.u8() % 3);
     }},
    {"STM_GetDomainName", [](Ctx& c) {
         const int32_t cap = c.capacity();
         unsigned char* a = c.buffer(cap);
         return ORQExt_STM_GetDomainName(c.conn, 3, a, c.length(cap));
     }},
    {"STM_TextClassifier_Do", [](Ctx& c) {
         const int32_t cap = c.capacity();
         unsigned char* a = c.buffer(cap);
         const StmClassifierOptions o = {1, 2, 1};
         return ORQExt_STM_TextClassifier_Do(c.conn, 3, a, c.length(cap), g_items, c.in.u8() % 3, &o);
     }},
    {"STM_InfoFilter_Do", [](Ctx& c) {
         return ORQExt_STM_InfoFilter_Do(c.conn, 3, g_items, 1 + c.in.u8() % 2);
     }},
    {"STM_KeyWordExtractor_Do", [](Ctx& c) {
         const int32_t cap = c.capacity();
         unsigned char* a = c.buffer(cap);
         const StmOptionPair o = {5, 1};
         return ORQExt_STM_KeyWordExtractor_Do(c.conn, 3, a, c.length(cap), g_items, 1 + c.in.u8() % 2, &o);
     }},
    {"STM_AbstractExtractor_Do", [](Ctx& c) {
         const int32_t cap = c.capacity();
         unsigned char* a = c.buffer(cap);
         const StmOptionPair o = {5, 0};
         return ORQExt_STM_AbstractExtractor_Do(c.conn, 3, "t", a, c.length(cap), &o, g_items,
                                                c.in.u8() % 3);
     }},
    {"STM_VSMGenerator_Do", [](Ctx& c) {
         const int32_t cap = c.capacity();
         unsigned char* a = c.buffer(cap);
         const StmVsmOptions o = {1, 2, 3};
         return ORQExt_STM_VSMGenerator_Do(c.conn, 3, a, c.length(cap), g_items, 1 + c.in.u8() % 2, &o);
     }},
    {"STM_VSMGenerator_GetResult", [](Ctx& c) {
         const int32_t cap = c.capacity();
         unsigned char* a = c.buffer(cap);
         const StmVsmOptions o = {0, 2, 3};
         return ORQExt_STM_VSMGenerator_GetResult(c.conn, 3, a, c.length(cap), "t", &o);
     }},
    {"STM_Abstractor_Do", [](Ctx& c) {
         const int32_t cap = c.capacity();
         unsigned char* a = c.buffer(cap);
         const StmOptionPair o = {5, 1};
         return ORQExt_STM_Abstractor_Do(c.conn, "t", a, c.length(cap), &o, g_items, c.in.u8() % 3);
     }},
    {"STM_IsInitialized", [](Ctx& c) { return ORQExt_STM_IsInitialized(c.conn); }},
    {"NLPE_GetHandle", [](Ctx& c) { return ORQExt_NLPE_GetHandle(c.conn, "t"); }},
};
constexpr std::size_t kExportCount = sizeof kExports / sizeof kExports[0];

// One scripted reply per record: kind, code, reported length, bytes.
xsrdouble::Reply reply_from(Input& in) {
    const uint8_t kind = in.u8();
    const int32_t code = in.i32();
    const uint8_t len_mode = in.u8();
    const int32_t len_value = in.i32();
    xsrdouble::Reply r;
    r.bytes = in.block(4096);
    switch (kind % 6) {
        case 0: r.result = 0; break;
        case 1: r.result = code == INT32_MIN ? 1 : (code < 0 ? -code : (code == 0 ? 1 : code)); break;
        case 2: r.result = kAnswerTooLong; break;
        case 3: r.result = -1108; break;
        case 4: r.result = -9000; break;  // its first 8 bytes are the ticket
        default: r.result = code < 0 ? code : -20000 - (code & 0xFF); break;
    }
    switch (len_mode % 4) {
        case 0: r.reported_len = -1; break;                                       // bytes written
        case 1: r.reported_len = static_cast<int32_t>(r.bytes.size()); break;    // maybe past capacity
        case 2: r.reported_len = len_value; break;                                // anything (not -1)
        default: r.reported_len = len_value & 0x3FF; break;
    }
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static testing_support::FakeClock clock;  // polls and time limits run instantly
    fuzzsupport::fresh_library();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Input in(data, size);
    const Export& e = kExports[in.u8() % kExportCount];
    const int32_t conn = 1001;

    xsrdouble::reset();
    const unsigned replies = in.u8() % 8;
    for (unsigned i = 0; i < replies; ++i) xsrdouble::push(reply_from(in));

    Ctx c{in, conn, {}, {}, {}};
    const int32_t rc = e.run(c);

    for (std::size_t i = 0; i < c.bufs.size(); ++i)
        FUZZ_CHECK(c.bufs[i]->intact(), "%s wrote outside caller buffer %zu (rc %d)", e.name, i, rc);
    for (auto& v : c.ints) FUZZ_CHECK(v->intact(), "%s wrote outside an int32 out-value", e.name);
    for (const LenCheck& k : c.checks) {
        const int32_t now = k.len->get();
        if (now == k.before) continue;
        // Success means the whole answer is in the buffer, a capacity of 0
        // included (a longer answer is -1107 with its whole length).
        if (k.meaning == Meaning::Bounded || (rc == 0 && k.capacity >= 0)) {
            FUZZ_CHECK(now >= 0 && now <= (k.capacity > 0 ? k.capacity : 0),
                       "%s reported length %d for capacity %d (rc %d)", e.name, now, k.capacity, rc);
        } else if (rc > 0) {
            // A positive status word reports the length received; nothing is
            // copied.
            FUZZ_CHECK(now >= 0, "%s reported length %d with a status word", e.name, now);
        }
    }
    return 0;
}

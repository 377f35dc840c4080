// The library's own cost per call, as ratios measured in one run against the
// scripted XSRClient double in its zero-cost mode (no recording, no lock, no
// allocation: it copies a fixed reply and returns 0):
//
//   send_message      ORQExt_SendMessage of 32 bytes vs the bare XSR_CommandEx
//                     of the same pre-built message; answers of 32 B (into
//                     128), 64 B, 4 KiB and 1 MiB (each into its own size)
//   nlpe_wordsect     ORQExt_NLPE_WordSect with marks vs its floor: what any
//                     implementation costs at least (the message composed
//                     from the caller's input the plainest way, with strlen
//                     and memcpy, the bare call with it, the entries copied
//                     out). The first shape measured (a sentence, capacity
//                     21, 20 entries) prints the floor and the library
//                     against the bare call, and the library against the
//                     text copy alone, too. Then the shapes users call with:
//                     the capacity sized to the text (32 B: 64 entries,
//                     1 KiB: 1,024, 64 KiB: 4,096), a full answer and a short
//                     one (20 entries)
//   stm_classifier    ORQExt_STM_TextClassifier_Do with 10 texts vs its floor
//                     (the message composed the same way, the bare call); 10
//                     texts of 32 B, 1 KiB and 64 KiB with an answer buffer of
//                     64, 1,024 and 4,096 bytes, a full answer and a short one
//   threads_2_vs_1    SendMessage calls per second on one handle, 2 threads vs 1
//                     (and the same for the bare call: what the machine allows)
//   connections_10k   SendMessage with 10,000 open connections vs with one
//
// The bare calls send exactly the bytes the library sent for the same call,
// taken from the double's recording before the zero-cost mode is switched on.
//
//   ratio_bench [--smoke] [--rounds N] [--batch-ms MS] [--only NAME]
//               [--count N] [--counts FILE]
//
// --count N counts instructions instead of timing (run under callgrind; see
// scripts/bench.sh --instructions), --counts FILE prints such counts beside
// the times.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bench/ratio.h"
#include "exports/orqext.h"
#include "xsr/double/xsr_double.h"
#include "xsr/xsrclient.h"

namespace {

using xsrdouble::Call;
using xsrdouble::FastReply;

// The one request the library sends for `call`, recorded by the double, and
// a bare XSR_CommandEx that sends the same bytes with the same capacity.
struct Captured {
    std::string header;
    std::string body;
    int32_t handle = 0;
    int32_t capacity = 0;
};

template <class F>
Captured capture(F call) {
    xsrdouble::set_zero_cost(nullptr);
    const std::size_t before = xsrdouble::calls().size();
    call();
    const std::vector<Call> all = xsrdouble::calls();
    if (all.size() != before + 1) bench::fail("requests sent by one call", static_cast<long>(all.size() - before), 1);
    const Call& c = all.back();
    return Captured{c.header, c.body, c.handle, c.capacity};
}

struct BareCall {
    const Captured& c;
    void* answer;
    int32_t operator()() const {
        int32_t len = c.capacity;
        return XSR_CommandEx(c.handle, 32639, 0, 45000, answer, &len, c.header.data(), 16, 0,
                             c.body.data(), static_cast<int32_t>(c.body.size()), 0, nullptr, 0);
    }
};

// Times `lib` against the bare call of the bytes it sends, with the double
// answering `reply` at no cost; `want` is lib's result for that reply.
// `bytes`: about how many bytes one call moves (fewer calls are counted for
// the large shapes).
template <class F>
void versus_bare(const bench::Options& o, const std::string& name, double target, F lib,
                 int32_t want, const FastReply* reply, void* area, std::size_t bytes) {
    const Captured c = capture(lib);
    xsrdouble::set_zero_cost(reply);
    bench::expect(name.c_str(), lib(), want);
    const BareCall bare{c, area};
    bench::expect("bare call result", bare(), 0);
    bench::report(o, name, bench::compare(lib, bare, o, name, "library", "bare", bytes), "ns",
                  "library", "bare", "<=", target);
    xsrdouble::set_zero_cost(nullptr);
}

// A service call against its floor, the target: floor_of(c, answer) is the
// least any implementation must do around the bare call, and sends the
// captured bytes itself (checked once here). With `references` (the shapes
// measured since the first version of this benchmark) these are printed
// too, without a target: the library and the floor against the bare call,
// and the library against the floor's text copy alone (text_copy_of(bare):
// the texts measured and copied, the bare call with the captured bytes, the
// entries copied out).
template <class F, class FloorOf, class TextCopyOf>
void versus_floor(const bench::Options& o, const std::string& name, double target, F lib,
                  int32_t want, const FastReply* reply, void* area, std::size_t bytes,
                  FloorOf floor_of, TextCopyOf text_copy_of, bool references) {
    const Captured c = capture(lib);
    auto floor = floor_of(c, area);
    const Captured sent = capture(floor);
    if (sent.header != c.header || sent.body != c.body || sent.capacity != c.capacity)
        bench::fail("floor sends the library's bytes", 0, 1);
    xsrdouble::set_zero_cost(reply);
    bench::expect(name.c_str(), lib(), want);
    const BareCall bare{c, area};
    bench::expect("bare call result", bare(), 0);
    bench::expect("floor result", floor(), 0);
    auto text_copy = text_copy_of(bare);
    bench::expect("text copy result", text_copy(), 0);
    if (references) {
        const std::string vs_bare = name + "_vs_bare", floor_vs_bare = name + "_floor_vs_bare",
                          vs_copy = name + "_vs_text_copy";
        bench::report_reference(o, vs_bare,
                                bench::compare(lib, bare, o, vs_bare, "library", "bare", bytes),
                                "ns", "library", "bare");
        bench::report_reference(
            o, floor_vs_bare, bench::compare(floor, bare, o, floor_vs_bare, "floor", "bare", bytes),
            "ns", "floor", "bare");
        bench::report_reference(
            o, vs_copy, bench::compare(lib, text_copy, o, vs_copy, "library", "text_copy", bytes),
            "ns", "library", "text_copy");
    }
    const std::string vs_floor = name + "_vs_floor";
    bench::report(o, vs_floor, bench::compare(lib, floor, o, vs_floor, "library", "floor", bytes),
                  "ns", "library", "floor", "<=", target);
    xsrdouble::set_zero_cost(nullptr);
}

// The 16-byte command header of a module message offering `capacity` bytes,
// written the plainest way.
inline void module_message_header(unsigned char out[16], int32_t capacity) {
    const int32_t fields[4] = {2 | (501 << 16), -1, capacity, -1};
    std::memcpy(out, fields, sizeof fields);
}

int32_t connect() {
    int32_t status = 1;
    const int32_t h = ORQExt_Connect("bench", 7300, "user", "pw", &status);
    bench::expect("ORQExt_Connect status", status, 0);
    return h;
}

// A text of n bytes (words and spaces), the same for every run.
std::string text_of(std::size_t n) {
    static const char words[] = "the quick brown fox jumps over the lazy dog ";
    std::string t;
    while (t.size() < n) t += words;
    t.resize(n);
    return t;
}

// --- SendMessage ------------------------------------------------------------

const char kPayload[33] = "0123456789abcdef0123456789abcdef";

// 32 bytes out; an answer of `answer_len` bytes into a buffer of `capacity`.
struct SendShape {
    const char* name;
    int32_t answer_len;
    int32_t capacity;
};
constexpr SendShape kSendShapes[] = {
    {"send_message_vs_bare", 32, 128},  // the first shape measured
    {"send_message_answer64_vs_bare", 64, 64},
    {"send_message_answer4k_vs_bare", 4096, 4096},
    {"send_message_answer1m_vs_bare", 1 << 20, 1 << 20},
};
constexpr double kSendTarget = 2.5;

void send_message(const bench::Options& o, int32_t h) {
    for (const SendShape& s : kSendShapes) {
        if (!bench::selected(o, s.name)) continue;
        static std::string answer_bytes;
        answer_bytes = text_of(static_cast<std::size_t>(s.answer_len));
        static const FastReply* reply;
        static FastReply reply_store;
        reply_store = FastReply{answer_bytes.data(), s.answer_len};
        reply = &reply_store;
        static std::vector<char> answer;
        answer.assign(static_cast<std::size_t>(s.capacity), 0);
        const int32_t capacity = s.capacity;
        auto lib = [h, capacity] {
            int32_t len = capacity;
            return ORQExt_SendMessage(h, "KExt_Bench", nullptr, kPayload, 32, answer.data(), &len);
        };
        versus_bare(o, s.name, kSendTarget, lib, 0, reply, answer.data(),
                    static_cast<std::size_t>(s.answer_len));
    }
}

// --- NLPE_WordSect with marks -------------------------------------------------

// A text of `text_len` bytes (0: the sentence of the first shape measured),
// `capacity` entries offered, `entries` answered. The reply area is 6 x
// capacity bytes and the reply has a 4-byte count in front, so a capacity of
// c holds c - 1 entries: that is the full answer.
struct SegShape {
    const char* name;
    std::size_t text_len;
    int32_t capacity;
    int32_t entries;
    double target;
    bool references;
};
// The small shape checks handle, arguments and every entry against a floor
// that does none of it: its target is 2.0 (docs/design.md).
constexpr SegShape kSegShapes[] = {
    {"nlpe_wordsect_marks20", 0, 21, 20, 2.0, true},
    {"nlpe_wordsect_text32_cap64_full", 32, 64, 63, 1.3, false},
    {"nlpe_wordsect_text32_cap64_short", 32, 64, 20, 1.3, false},
    {"nlpe_wordsect_text1k_cap1024_full", 1024, 1024, 1023, 1.3, false},
    {"nlpe_wordsect_text1k_cap1024_short", 1024, 1024, 20, 1.3, false},
    {"nlpe_wordsect_text64k_cap4096_full", 65536, 4096, 4095, 1.3, false},
    {"nlpe_wordsect_text64k_cap4096_short", 65536, 4096, 20, 1.3, false},
};

void nlpe_wordsect(const bench::Options& o, int32_t h) {
    for (const SegShape& s : kSegShapes) {
        if (!bench::selected(o, s.name)) continue;
        const int32_t entries = s.entries, capacity = s.capacity;
        static std::string reply_bytes;
        reply_bytes.assign(4 + 6 * static_cast<std::size_t>(entries), '\0');
        const int32_t count = entries;
        std::memcpy(&reply_bytes[0], &count, 4);
        for (int32_t i = 0; i < entries; ++i) {
            const int16_t mark = static_cast<int16_t>(i + 1);
            const std::size_t k = static_cast<std::size_t>(i);
            std::memcpy(&reply_bytes[4 + 4 * k], &i, 4);
            std::memcpy(&reply_bytes[4 + 4 * static_cast<std::size_t>(entries) + 2 * k], &mark, 2);
        }
        static FastReply reply;
        reply = FastReply{reply_bytes.data(), static_cast<int32_t>(reply_bytes.size())};
        static std::vector<int32_t> items;
        static std::vector<int16_t> marks;
        static std::vector<unsigned char> area;
        items.assign(static_cast<std::size_t>(capacity), 0);
        marks.assign(static_cast<std::size_t>(capacity), 0);
        area.assign(6 * static_cast<std::size_t>(capacity), 0);
        static std::string text_store;
        text_store = s.text_len ? text_of(s.text_len) : "the quick brown fox jumps over the lazy dog";
        const char* text = text_store.c_str();
        auto lib = [h, text, capacity] {
            return ORQExt_NLPE_WordSect(h, text, items.data(), capacity, 1, 2, marks.data(), 3, 4, 5);
        };
        // What any implementation of this call costs at least: the message
        // composed from the caller's input (the call's opening bytes, the
        // same for every call; the text measured and copied; the options),
        // the command header, the bare call, and the entries copied out (as
        // many as the answer counts). Plain strlen and memcpy, no checks.
        // The message's buffer is aligned, so that the floor's time does not
        // depend on where the stack happens to fall (a buffer across cache
        // lines costs it a tenth).
        // The entries an answer counts, copied out of it.
        auto entries_out = [](const void* answer) {
            const unsigned char* a = static_cast<const unsigned char*>(answer);
            int32_t k;
            std::memcpy(&k, a, 4);
            const std::size_t n = static_cast<std::size_t>(k);
            std::memcpy(items.data(), a + 4, 4 * n);
            std::memcpy(marks.data(), a + 4 + 4 * n, 2 * n);
            bench::escape(items.data());
            bench::escape(marks.data());
        };
        static constexpr char kHead[] = "KExt_NLPE\0\0\0\0\0\0r!\0NLPE_WordSect";  // and its NUL
        static std::vector<unsigned char> body_store;
        body_store.assign(text_store.size() + 256 + 64, 0);
        auto floor_of = [h, text, capacity, entries_out](const Captured& c, void* answer) {
            return [h, text, capacity, cap_bytes = c.capacity, answer, entries_out] {
                unsigned char* const body = body_store.data() + (64 - reinterpret_cast<uintptr_t>(body_store.data()) % 64) % 64;
                unsigned char* at = body;
                std::memcpy(at, kHead, sizeof kHead);
                at += sizeof kHead;
                const std::size_t n = std::strlen(text);
                std::memcpy(at, text, n + 1);
                at += n + 1;
                const int32_t options[4] = {capacity, 1, 2, 3};
                std::memcpy(at, options, sizeof options);
                at[16] = 4;
                at[17] = 5;
                at[18] = 1;  // marks wanted
                at += 19;
                unsigned char header[16];
                module_message_header(header, cap_bytes);
                int32_t len = cap_bytes;
                const int32_t rc = XSR_CommandEx(h, 32639, 0, 45000, answer, &len, header, 16, 0,
                                                 body, static_cast<int32_t>(at - body), 0, nullptr, 0);
                entries_out(answer);
                return rc;
            };
        };
        // The text alone measured and copied, then the bare call of the
        // captured bytes and the entries copied out.
        auto text_copy_of = [text, entries_out](const BareCall& bare) {
            static std::vector<unsigned char> copy;
            copy.assign(std::strlen(text) + 1, 0);
            return [bare, text, entries_out] {
                const std::size_t n = std::strlen(text);
                std::memcpy(copy.data(), text, n + 1);
                bench::escape(copy.data());
                const int32_t rc = bare();
                entries_out(area.data());
                return rc;
            };
        };
        versus_floor(o, s.name, s.target, lib, entries, &reply, area.data(),
                     text_store.size() + area.size(), floor_of, text_copy_of, s.references);
        bench::expect("NLPE_WordSect last mark", marks[static_cast<std::size_t>(entries) - 1],
                      static_cast<int16_t>(entries));
    }
}

// --- STM_TextClassifier_Do ------------------------------------------------------

// `texts` texts of `text_len` bytes each (0: the ten texts of the first shape
// measured), an answer buffer of `capacity` bytes, an answer of `answer_len`.
struct StmShape {
    const char* name;
    std::size_t text_len;
    int32_t capacity;
    int32_t answer_len;
    bool references;
};
constexpr StmShape kStmShapes[] = {
    {"stm_classifier_10texts", 0, 256, 20, true},
    {"stm_classifier_10x32_cap64_full", 32, 64, 64, false},
    {"stm_classifier_10x32_cap64_short", 32, 64, 20, false},
    {"stm_classifier_10x1k_cap1024_full", 1024, 1024, 1024, false},
    {"stm_classifier_10x1k_cap1024_short", 1024, 1024, 20, false},
    {"stm_classifier_10x64k_cap4096_full", 65536, 4096, 4096, false},
    {"stm_classifier_10x64k_cap4096_short", 65536, 4096, 20, false},
};
constexpr double kFloorTarget = 1.3;

void stm_classifier(const bench::Options& o, int32_t h) {
    static const char* const first_texts[10] = {
        "first text for the classifier",  "second text, a little longer than the first",
        "third",                          "fourth text about search engines",
        "fifth text about clustering",    "sixth text with some more words in it",
        "seventh text",                   "eighth text about dictionaries and segmentation",
        "ninth text about topics",        "tenth and last text of the batch"};
    for (const StmShape& s : kStmShapes) {
        if (!bench::selected(o, s.name)) continue;
        static std::string same_text;
        same_text = text_of(s.text_len);
        static StmTextItem items[10];
        for (int i = 0; i < 10; ++i)
            items[i] = StmTextItem{i + 1, 0, s.text_len ? same_text.c_str() : first_texts[i]};
        static std::string answer_text;
        answer_text = s.answer_len == 20 ? std::string("1:0.91;2:0.05;3:0.04")
                                         : text_of(static_cast<std::size_t>(s.answer_len));
        static FastReply reply;
        reply = FastReply{answer_text.data(), s.answer_len};
        static std::vector<char> out;
        out.assign(static_cast<std::size_t>(s.capacity), 0);
        static const StmClassifierOptions options{5, 7, 1};
        const int32_t capacity = s.capacity;
        auto lib = [h, capacity] {
            int32_t len = capacity;
            return ORQExt_STM_TextClassifier_Do(h, 9, out.data(), &len, items, 10, &options);
        };
        // What any encoder of these texts costs at least: the message
        // composed from the caller's input (the call's opening bytes; the
        // handle, options, capacity and count; per item its id, each text
        // measured and copied with its length in front), the command header
        // and the bare call. Plain strlen and memcpy, no checks.
        static constexpr char kHead[] = "KExt_STM\0\0r!\0STM_TextClassifier_Do";  // and its NUL
        static std::vector<unsigned char> body_store;
        body_store.assign(10 * (same_text.size() + 64) + 768, 0);
        auto floor_of = [h, capacity](const Captured& c, void* answer) {
            return [h, capacity, cap_bytes = c.capacity, answer] {
                unsigned char* const body = body_store.data() + (64 - reinterpret_cast<uintptr_t>(body_store.data()) % 64) % 64;
                unsigned char* at = body;
                std::memcpy(at, kHead, sizeof kHead);
                at += sizeof kHead;
                const int32_t head_fields[3] = {9, options.value1, options.value2};
                std::memcpy(at, head_fields, sizeof head_fields);
                at[12] = options.flag;
                const int32_t list[2] = {capacity, 10};
                std::memcpy(at + 13, list, sizeof list);
                at += 21;
                for (const StmTextItem& it : items) {
                    const std::size_t n = std::strlen(it.text);
                    const int32_t item[2] = {it.id, static_cast<int32_t>(n)};
                    std::memcpy(at, item, sizeof item);
                    std::memcpy(at + 8, it.text, n + 1);
                    at += 8 + n + 1;
                }
                unsigned char header[16];
                module_message_header(header, cap_bytes);
                int32_t len = cap_bytes;
                return XSR_CommandEx(h, 32639, 0, 45000, answer, &len, header, 16, 0, body,
                                     static_cast<int32_t>(at - body), 0, nullptr, 0);
            };
        };
        // The texts alone measured and copied, then the bare call of the
        // captured bytes.
        auto text_copy_of = [](const BareCall& bare) {
            static std::vector<unsigned char> copy;
            copy.assign(body_store.size(), 0);
            return [bare] {
                std::size_t at = 0;
                for (const StmTextItem& it : items) {
                    const std::size_t n = std::strlen(it.text);
                    std::memcpy(copy.data() + at, it.text, n + 1);
                    at += n + 1;
                }
                bench::escape(copy.data());
                return bare();
            };
        };
        versus_floor(o, s.name, kFloorTarget, lib, 0, &reply, out.data(),
                     10 * same_text.size() + out.size(), floor_of, text_copy_of, s.references);
    }
}

// --- Two threads on one handle -------------------------------------------------

void threads(const bench::Options& o, int32_t h) {
    static const FastReply reply{kPayload, 32};
    auto lib = [h] {
        char answer[128];
        int32_t len = sizeof answer;
        return ORQExt_SendMessage(h, "KExt_Bench", nullptr, kPayload, 32, answer, &len);
    };
    const Captured c = capture(lib);
    xsrdouble::set_zero_cost(&reply);
    bench::expect("SendMessage result", lib(), 0);
    auto bare = [&c] {
        char answer[128];
        return BareCall{c, answer}();
    };
    const bench::Ratio r = bench::scaling(lib, 2, o);
    bench::report(o, "threads_2_vs_1_one_handle", r, "calls/us", "2 threads", "1 thread", ">=", 1.8);
    const bench::Ratio machine = bench::scaling(bare, 2, o);
    bench::report(o, "threads_2_vs_1_bare_call", machine, "calls/us", "2 threads", "1 thread", ">=", 1.8);
    xsrdouble::set_zero_cost(nullptr);
}

// --- 10,000 open connections vs one ---------------------------------------------

void connections(const bench::Options& o, int32_t h) {
    static const FastReply reply{kPayload, 32};
    static char answer[128];
    auto lib = [h] {
        int32_t len = sizeof answer;
        return ORQExt_SendMessage(h, "KExt_Bench", nullptr, kPayload, 32, answer, &len);
    };
    xsrdouble::set_zero_cost(&reply);
    bench::expect("SendMessage result", lib(), 0);
    const int extra = o.smoke ? 999 : 9999;
    std::vector<int32_t> others;
    auto open_others = [&] {
        for (int i = 0; i < extra; ++i) others.push_back(connect());
    };
    auto close_others = [&] {
        for (int32_t x : others) bench::expect("ORQExt_DisConnect", ORQExt_DisConnect(x), 0);
        others.clear();
    };
    const long n = bench::calibrate(lib, o);
    std::vector<double> many, one;
    for (int r = 0; r < o.rounds; ++r) {
        if (r % 2 == 0) {
            one.push_back(bench::ns_per_op(lib, n));
            open_others();
            many.push_back(bench::ns_per_op(lib, n));
            close_others();
        } else {
            open_others();
            many.push_back(bench::ns_per_op(lib, n));
            close_others();
            one.push_back(bench::ns_per_op(lib, n));
        }
    }
    bench::report(o, o.smoke ? "connections_1000_vs_1" : "connections_10000_vs_1",
                  bench::summarise(many, one), "ns", "many", "one", "<=", 1.05);
    xsrdouble::set_zero_cost(nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    const bench::Options o = bench::parse_options(argc, argv);
    xsrdouble::reset();
    const int32_t h = connect();
    // Each shape is selected by its own name.
    send_message(o, h);
    nlpe_wordsect(o, h);
    stm_classifier(o, h);
    // Counting runs count the single calls only.
    if (o.count == 0 && bench::selected(o, "threads")) threads(o, h);
    if (o.count == 0 && bench::selected(o, "connections")) connections(o, h);
    xsrdouble::set_zero_cost(nullptr);
    ORQExt_DisConnect(h);
    return 0;
}

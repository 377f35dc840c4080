// The library's own cost per call, as ratios measured in one run against the
// scripted XSRClient double in its zero-cost mode (no recording, no lock, no
// allocation: it copies a fixed reply and returns 0):
//
//   send_message      ORQExt_SendMessage of 32 bytes vs the bare XSR_CommandEx
//                     of the same pre-built message
//   nlpe_wordsect     ORQExt_NLPE_WordSect with marks (20 entries) vs its floor:
//                     what any implementation costs at least (the message
//                     composed from the caller's input the plainest way, with
//                     strlen and memcpy, the bare call with it, the entries
//                     copied out); the floor and the library against the bare
//                     call, and the library against the text copy alone, are
//                     printed too
//   stm_classifier    ORQExt_STM_TextClassifier_Do with 10 texts vs its floor
//                     (the message composed the same way, the bare call)
//   threads_2_vs_1    SendMessage calls per second on one handle, 2 threads vs 1
//                     (and the same for the bare call: what the machine allows)
//   connections_10k   SendMessage with 10,000 open connections vs with one
//
// The bare calls send exactly the bytes the library sent for the same call,
// taken from the double's recording before the zero-cost mode is switched on.
//
//   ratio_bench [--smoke] [--rounds N] [--batch-ms MS] [--only NAME]
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
template <class F>
void versus_bare(const bench::Options& o, const char* name, double target, F lib, int32_t want,
                 const FastReply* reply, void* area) {
    const Captured c = capture(lib);
    xsrdouble::set_zero_cost(reply);
    bench::expect(name, lib(), want);
    const BareCall bare{c, area};
    bench::expect("bare call result", bare(), 0);
    bench::report(o, name, bench::compare(lib, bare, o), "ns", "library", "bare", "<=", target);
    xsrdouble::set_zero_cost(nullptr);
}

// A service call against its floor, the target: floor_of(c, answer) is the
// least any implementation must do around the bare call, and sends the
// captured bytes itself (checked once here). Printed for reference: the
// library and the floor against the bare call, and the library against the
// floor's text copy alone (text_copy_of(bare): the texts measured and copied,
// the bare call with the captured bytes, the entries copied out).
constexpr double kFloorTarget = 1.3;

template <class F, class FloorOf, class TextCopyOf>
void versus_floor(const bench::Options& o, const std::string& name, F lib, int32_t want,
                  const FastReply* reply, void* area, FloorOf floor_of, TextCopyOf text_copy_of) {
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
    bench::report_reference((name + "_vs_bare").c_str(), bench::compare(lib, bare, o), "ns",
                            "library", "bare");
    bench::report_reference((name + "_floor_vs_bare").c_str(), bench::compare(floor, bare, o), "ns",
                            "floor", "bare");
    bench::report_reference((name + "_vs_text_copy").c_str(), bench::compare(lib, text_copy, o),
                            "ns", "library", "text copy");
    bench::report(o, (name + "_vs_floor").c_str(), bench::compare(lib, floor, o), "ns", "library",
                  "floor", "<=", kFloorTarget);
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

// --- SendMessage ------------------------------------------------------------

const char kPayload[33] = "0123456789abcdef0123456789abcdef";

void send_message(const bench::Options& o, int32_t h) {
    static char answer[128];
    static const FastReply reply{kPayload, 32};
    auto lib = [h] {
        int32_t len = sizeof answer;
        return ORQExt_SendMessage(h, "KExt_Bench", nullptr, kPayload, 32, answer, &len);
    };
    versus_bare(o, "send_message_vs_bare", 3.0, lib, 0, &reply, answer);
}

// --- NLPE_WordSect with marks -------------------------------------------------

void nlpe_wordsect(const bench::Options& o, int32_t h) {
    // 20 entries: the reply area is 6 x capacity bytes and the reply has a
    // 4-byte count in front, so capacity 21 holds 20 entries.
    constexpr int32_t kEntries = 20, kCapacity = 21;
    static std::string reply_bytes;
    reply_bytes.assign(4 + 6 * kEntries, '\0');
    reply_bytes[0] = kEntries;
    for (int i = 0; i < kEntries; ++i) {
        reply_bytes[4 + 4 * i] = static_cast<char>(i);
        reply_bytes[4 + 4 * kEntries + 2 * i] = static_cast<char>(i + 1);
    }
    static const FastReply reply{reply_bytes.data(), static_cast<int32_t>(reply_bytes.size())};
    static int32_t items[kCapacity];
    static int16_t marks[kCapacity];
    static unsigned char area[6 * kCapacity];
    const char* text = "the quick brown fox jumps over the lazy dog";
    auto lib = [h, text] {
        return ORQExt_NLPE_WordSect(h, text, items, kCapacity, 1, 2, marks, 3, 4, 5);
    };
    // What any implementation of this call costs at least: the message
    // composed from the caller's input (the call's opening bytes, the same for
    // every call; the text measured and copied; the options), the command
    // header, the bare call, and the entries copied out. Plain strlen and
    // memcpy, no checks. The message's buffer is aligned, so that the
    // floor's time does not depend on where the stack happens to fall (a
    // buffer across cache lines costs it a tenth).
    static constexpr char kHead[] = "KExt_NLPE\0\0\0\0\0\0r!\0NLPE_WordSect";  // and its NUL
    auto floor_of = [h, text](const Captured& c, void* answer) {
        return [h, text, capacity = c.capacity, answer] {
            alignas(64) unsigned char body[256];
            unsigned char* at = body;
            std::memcpy(at, kHead, sizeof kHead);
            at += sizeof kHead;
            const std::size_t n = std::strlen(text);
            std::memcpy(at, text, n + 1);
            at += n + 1;
            const int32_t options[4] = {kCapacity, 1, 2, 3};
            std::memcpy(at, options, sizeof options);
            at[16] = 4;
            at[17] = 5;
            at[18] = 1;  // marks wanted
            at += 19;
            unsigned char header[16];
            module_message_header(header, capacity);
            int32_t len = capacity;
            const int32_t rc = XSR_CommandEx(h, 32639, 0, 45000, answer, &len, header, 16, 0, body,
                                             static_cast<int32_t>(at - body), 0, nullptr, 0);
            std::memcpy(items, area + 4, 4 * kEntries);
            std::memcpy(marks, area + 4 + 4 * kEntries, 2 * kEntries);
            bench::escape(items);
            bench::escape(marks);
            return rc;
        };
    };
    // The text alone measured and copied, then the bare call of the captured
    // bytes and the entries copied out.
    auto text_copy_of = [text](const BareCall& bare) {
        return [bare, text] {
            static unsigned char copy[128];
            const std::size_t n = std::strlen(text);
            std::memcpy(copy, text, n + 1);
            bench::escape(copy);
            const int32_t rc = bare();
            std::memcpy(items, area + 4, 4 * kEntries);
            std::memcpy(marks, area + 4 + 4 * kEntries, 2 * kEntries);
            bench::escape(items);
            bench::escape(marks);
            return rc;
        };
    };
    versus_floor(o, "nlpe_wordsect_marks20", lib, kEntries, &reply, area, floor_of, text_copy_of);
    bench::expect("NLPE_WordSect last mark", marks[kEntries - 1], kEntries);
}

// --- STM_TextClassifier_Do with 10 texts -------------------------------------

void stm_classifier(const bench::Options& o, int32_t h) {
    static const char* const texts[10] = {
        "first text for the classifier",  "second text, a little longer than the first",
        "third",                          "fourth text about search engines",
        "fifth text about clustering",    "sixth text with some more words in it",
        "seventh text",                   "eighth text about dictionaries and segmentation",
        "ninth text about topics",        "tenth and last text of the batch"};
    static StmTextItem items[10];
    for (int i = 0; i < 10; ++i) items[i] = StmTextItem{i + 1, 0, texts[i]};
    static const char answer_text[] = "1:0.91;2:0.05;3:0.04";
    static const FastReply reply{answer_text, static_cast<int32_t>(sizeof answer_text - 1)};
    static char out[256];
    static const StmClassifierOptions options{5, 7, 1};
    auto lib = [h] {
        int32_t len = sizeof out;
        return ORQExt_STM_TextClassifier_Do(h, 9, out, &len, items, 10, &options);
    };
    // What any encoder of these texts costs at least: the message composed
    // from the caller's input (the call's opening bytes; the handle, options,
    // capacity and count; per item its id, each text measured and copied with
    // its length in front), the command header and the bare call. Plain
    // strlen and memcpy, no checks.
    static constexpr char kHead[] = "KExt_STM\0\0r!\0STM_TextClassifier_Do";  // and its NUL
    auto floor_of = [h](const Captured& c, void* answer) {
        return [h, capacity = c.capacity, answer] {
            alignas(64) unsigned char body[768];
            unsigned char* at = body;
            std::memcpy(at, kHead, sizeof kHead);
            at += sizeof kHead;
            const int32_t head_fields[3] = {9, options.value1, options.value2};
            std::memcpy(at, head_fields, sizeof head_fields);
            at[12] = options.flag;
            const int32_t list[2] = {static_cast<int32_t>(sizeof out), 10};
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
            module_message_header(header, capacity);
            int32_t len = capacity;
            return XSR_CommandEx(h, 32639, 0, 45000, answer, &len, header, 16, 0, body,
                                 static_cast<int32_t>(at - body), 0, nullptr, 0);
        };
    };
    // The texts alone measured and copied, then the bare call of the captured
    // bytes.
    auto text_copy_of = [](const BareCall& bare) {
        return [bare] {
            static unsigned char copy[512];
            std::size_t at = 0;
            for (const StmTextItem& it : items) {
                const std::size_t n = std::strlen(it.text);
                std::memcpy(copy + at, it.text, n + 1);
                at += n + 1;
            }
            bench::escape(copy);
            return bare();
        };
    };
    versus_floor(o, "stm_classifier_10texts", lib, 0, &reply, out, floor_of, text_copy_of);
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
    if (bench::selected(o, "send")) send_message(o, h);
    if (bench::selected(o, "nlpe")) nlpe_wordsect(o, h);
    if (bench::selected(o, "stm")) stm_classifier(o, h);
    if (bench::selected(o, "threads")) threads(o, h);
    if (bench::selected(o, "connections")) connections(o, h);
    xsrdouble::set_zero_cost(nullptr);
    ORQExt_DisConnect(h);
    return 0;
}

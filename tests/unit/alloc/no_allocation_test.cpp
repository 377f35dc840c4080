// The per-call paths make no heap allocation for small requests: a module
// message, a service call with a decoded reply and one without, each on a
// handle that already has its registry record.
//
// This program counts the heap allocations of the calling thread: global
// operator new everywhere, and malloc and its relatives too where the C
// library allows them to be replaced (glibc, without a sanitizer, which
// brings its own). The scripted double runs in its zero-cost mode, which
// allocates nothing itself.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "exports/orqext.h"
#include "tests/support/fixture.h"

namespace {
thread_local bool t_counting = false;
thread_local long t_allocations = 0;

void note_allocation() {
    if (t_counting) ++t_allocations;
}

}  // namespace

void* test_allocate(std::size_t n) {
    note_allocation();
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}

#include "tests/support/replaced_new.h"

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define ORQ_COUNTS_MALLOC 1
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);

void* malloc(std::size_t n) {
    note_allocation();
    return __libc_malloc(n);
}
void* calloc(std::size_t k, std::size_t n) {
    note_allocation();
    return __libc_calloc(k, n);
}
void* realloc(void* p, std::size_t n) {
    note_allocation();
    return __libc_realloc(p, n);
}
void* memalign(std::size_t a, std::size_t n) {
    note_allocation();
    return __libc_memalign(a, n);
}
void* aligned_alloc(std::size_t a, std::size_t n) {
    note_allocation();
    return __libc_memalign(a, n);
}
int posix_memalign(void** out, std::size_t a, std::size_t n) {
    note_allocation();
    void* p = __libc_memalign(a, n);
    if (!p) return 12;  // ENOMEM
    *out = p;
    return 0;
}
void free(void* p) { __libc_free(p); }
}
#endif

namespace {

using xsrdouble::FastReply;

// Heap allocations made by f on this thread.
template <class F>
long allocations_of(F f) {
    t_allocations = 0;
    t_counting = true;
    f();
    t_counting = false;
    return t_allocations;
}

class NoAllocationTest : public testing_support::LibraryTest {
protected:
    void TearDown() override {
        xsrdouble::set_zero_cost(nullptr);
        LibraryTest::TearDown();
    }
};

// A segmentation reply of `entries` int32 and int16 entries.
std::string segmentation_reply(int entries) {
    std::string r = xsrdouble::le32(entries);
    for (int i = 0; i < entries; ++i) r += xsrdouble::le32(100 + i);
    for (int i = 0; i < entries; ++i) r += std::string{static_cast<char>(i), 0};
    return r;
}

TEST_F(NoAllocationTest, SmallCallsOnARegisteredHandleAllocateNothing) {
    const int32_t h = connect();
    const std::string reply = segmentation_reply(20);
    const FastReply fast{reply.data(), static_cast<int32_t>(reply.size())};
    xsrdouble::set_zero_cost(&fast);

    const std::string payload(32, 'p');
    const std::string near_limit(4000, 'q');  // still within the stack-built message
    static const char* const texts[10] = {"one", "two", "three", "four", "five",
                                          "six", "seven", "eight", "nine", "ten"};
    std::vector<StmTextItem> items;
    for (int i = 0; i < 10; ++i) items.push_back(StmTextItem{i, 0, texts[i]});
    const StmClassifierOptions options{1, 2, 3};

    struct Case {
        const char* what;
        int32_t want;  // the call's result with the reply above
        int32_t (*call)(int32_t h, const std::string& payload, const std::string& big,
                        const StmTextItem* items, const StmClassifierOptions* options);
    };
    const Case cases[] = {
        {"SendMessage, answer straight into the caller's buffer", 0,
         [](int32_t h, const std::string& p, const std::string&, const StmTextItem*,
            const StmClassifierOptions*) {
             char answer[256];
             int32_t len = sizeof answer;
             return ORQExt_SendMessage(h, "KExt_Test", "target", p.data(), 32, answer, &len);
         }},
        {"SendMessage, answer through the exchange's local area", -1107,
         [](int32_t h, const std::string& p, const std::string&, const StmTextItem*,
            const StmClassifierOptions*) {
             char answer[16];
             int32_t len = sizeof answer;
             return ORQExt_SendMessage(h, "KExt_Test", nullptr, p.data(), 32, answer, &len);
         }},
        {"SendMessageTimeOut with a time limit", 0,
         [](int32_t h, const std::string& p, const std::string&, const StmTextItem*,
            const StmClassifierOptions*) {
             char answer[256];
             int32_t len = sizeof answer;
             return ORQExt_SendMessageTimeOut(h, "KExt_Test", nullptr, p.data(), 32, answer, &len,
                                              1000, 1);
         }},
        {"SendMessage of 4000 bytes", 0,
         [](int32_t h, const std::string&, const std::string& big, const StmTextItem*,
            const StmClassifierOptions*) {
             return ORQExt_SendMessage(h, "KExt_Test", nullptr, big.data(),
                                       static_cast<int32_t>(big.size()), nullptr, nullptr);
         }},
        {"NLPE_WordSect with marks", 20,
         [](int32_t h, const std::string&, const std::string&, const StmTextItem*,
            const StmClassifierOptions*) {
             int32_t entries[21];
             int16_t marks[21];
             return ORQExt_NLPE_WordSect(h, "some words to cut", entries, 21, 0, 0, marks, 0, 0, 0);
         }},
        {"NLPE_WordSect with marks sized to a 1 KiB text (a 6 KiB reply area)", 20,
         [](int32_t h, const std::string&, const std::string&, const StmTextItem*,
            const StmClassifierOptions*) {
             static int32_t entries[1024];
             static int16_t marks[1024];
             static char text[1025];  // not a std::string: its first use would allocate
             std::memset(text, 't', 1024);
             return ORQExt_NLPE_WordSect(h, text, entries, 1024, 0, 0, marks, 0, 0, 0);
         }},
        {"NLPE_WordSect without marks", 0,
         [](int32_t h, const std::string&, const std::string&, const StmTextItem*,
            const StmClassifierOptions*) {
             int32_t entries[64];
             return ORQExt_NLPE_WordSect(h, "some words to cut", entries, 64, 0, 0, nullptr, 0, 0,
                                         0);
         }},
        {"NLPE_DictSearch, no reply area", 0,
         [](int32_t h, const std::string&, const std::string&, const StmTextItem*,
            const StmClassifierOptions*) { return ORQExt_NLPE_DictSearch(h, "word"); }},
        {"STM_TextClassifier_Do with 10 texts", 0,
         [](int32_t h, const std::string&, const std::string&, const StmTextItem* it,
            const StmClassifierOptions* o) {
             char out[256];
             int32_t len = sizeof out;
             return ORQExt_STM_TextClassifier_Do(h, 1, out, &len, it, 10, o);
         }},
        {"STM_TextClassifier_Do with 10 texts of 1 KiB (a 10 KiB message)", 0,
         [](int32_t h, const std::string&, const std::string&, const StmTextItem*,
            const StmClassifierOptions* o) {
             static char text[1025];  // not a std::string: its first use would allocate
             std::memset(text, 'k', 1024);
             StmTextItem long_items[10];
             for (int32_t i = 0; i < 10; ++i) long_items[i] = StmTextItem{i, 0, text};
             char out[1024];
             int32_t len = sizeof out;
             return ORQExt_STM_TextClassifier_Do(h, 1, out, &len, long_items, 10, o);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int32_t rc = 1;
        const long n = allocations_of(
            [&] { rc = c.call(h, payload, near_limit, items.data(), &options); });
        EXPECT_EQ(rc, c.want);
        EXPECT_EQ(n, 0) << "heap allocations on the call's path";
    }
}

// The counter sees the allocations there are: a message larger than the
// stack-built one, and the registry record a new handle gets on its first
// message, are each made on the heap.
TEST_F(NoAllocationTest, TheCounterSeesTheAllocationsThatAreMade) {
    const int32_t h = connect();
    const FastReply fast{"", 0};
    xsrdouble::set_zero_cost(&fast);
    const std::string big(64 * 1024, 'b');
    EXPECT_GE(allocations_of([&] {
                  EXPECT_EQ(ORQExt_SendMessage(h, "KExt_Test", nullptr, big.data(),
                                               static_cast<int32_t>(big.size()), nullptr, nullptr),
                            0);
              }),
              1);
    EXPECT_GE(allocations_of([] {
                  EXPECT_EQ(ORQExt_SendMessage(4242, "KExt_Test", nullptr, "x", 1, nullptr, nullptr), 0);
              }),
              1);
    // Its record now exists: the next message allocates nothing.
    EXPECT_EQ(allocations_of([] {
                  EXPECT_EQ(ORQExt_SendMessage(4242, "KExt_Test", nullptr, "x", 1, nullptr, nullptr), 0);
              }),
              0);
#if ORQ_COUNTS_MALLOC
    EXPECT_EQ(allocations_of([] {
                  void* volatile p = std::malloc(16);
                  std::free(p);
              }),
              1)
        << "malloc is counted";
#endif
}

}  // namespace

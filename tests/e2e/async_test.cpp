// Asynchronous messages end to end: the library's worker sends them (code
// 3), fetches pending and parted answers by ticket (code 5) and calls back;
// a cancelled request never calls back.
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include "tests/e2e/fixture.h"

namespace e2e {
namespace {

using namespace xsrproto;

struct Delivery {
    int32_t rc;
    std::string answer;
};

std::mutex g_mu;
std::condition_variable g_cv;
std::map<int32_t, Delivery> g_delivered;
int g_calls = 0;

void ORQEXT_CALL on_answer(int32_t id, int32_t rc, const void* answer, int32_t len) {
    std::lock_guard<std::mutex> g(g_mu);
    g_delivered[id] = Delivery{rc, std::string(static_cast<const char*>(answer), len > 0 ? len : 0)};
    ++g_calls;
    g_cv.notify_all();
}

bool wait_for(int32_t id, Delivery* out) {
    std::unique_lock<std::mutex> g(g_mu);
    if (!g_cv.wait_for(g, std::chrono::seconds(15), [&] { return g_delivered.count(id) > 0; })) return false;
    *out = g_delivered[id];
    return true;
}

class AsyncTest : public SimTest {
protected:
    std::string config() override { return "part_size 1000\npending_after_ms 20\n"; }
    void SetUp() override {
        SimTest::SetUp();
        std::lock_guard<std::mutex> g(g_mu);
        g_delivered.clear();
        g_calls = 0;
        ASSERT_EQ(ORQExt_SetAsyncFunc(on_answer, nullptr), 0);
    }
    void TearDown() override {
        ORQExt_SetAsyncFunc(nullptr, nullptr);
        SimTest::TearDown();
    }
    int32_t post(int32_t h, const char* module, const std::string& payload, int32_t id, int32_t capacity) {
        return ORQExt_AsyncSendMessage(h, module, nullptr, payload.data(), static_cast<int32_t>(payload.size()), id,
                                       capacity);
    }
};

TEST_F(AsyncTest, AnswersQuickSlowAndInPartsReachTheCallback) {
    const int32_t h = connect();
    EXPECT_GE(post(h, "Echo", "hello", 1, 100), 1);
    EXPECT_GE(post(h, "Script", "delay=300 size=3500", 2, 4000), 1);  // pending, then four parts
    EXPECT_GE(post(h, "Script", "size=2500", 3, 4000), 1);             // ready at once, but in parts
    EXPECT_GE(post(h, "NoSuchModule", "x", 4, 100), 1);
    Delivery d;
    ASSERT_TRUE(wait_for(1, &d));
    EXPECT_EQ(d.rc, 0);
    EXPECT_EQ(d.answer, "hello");
    ASSERT_TRUE(wait_for(2, &d));
    EXPECT_EQ(d.rc, 0);
    EXPECT_EQ(d.answer, pattern(3500));
    ASSERT_TRUE(wait_for(3, &d));
    EXPECT_EQ(d.rc, 0);
    EXPECT_EQ(d.answer, pattern(2500));
    ASSERT_TRUE(wait_for(4, &d));
    EXPECT_EQ(d.rc, kErrUnknownModule);
    EXPECT_EQ(stats()["tickets"], 0) << "every fetched answer left the server";
}

// An answer longer than the request's capacity reaches the callback as
// -1107 with its leading bytes (all the buffer holds), never as success.
TEST_F(AsyncTest, AnswersLongerThanTheCapacityCallBackWithTheirLeadingBytes) {
    const int32_t h = connect();
    struct Case {
        const char* script;
        int32_t capacity;
        std::size_t size;
    };
    const Case cases[] = {
        {"size=600", 300, 600},    // one piece longer than the buffer
        {"size=3000", 200, 3000},  // ticket first, then a first part that does not fit
        {"size=2500", 1500, 2500}, // one part fits, the next does not
    };
    int32_t id = 10;
    for (const Case& c : cases) EXPECT_GE(post(h, "Script", c.script, id++, c.capacity), 1);
    id = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        Delivery d;
        ASSERT_TRUE(wait_for(id++, &d));
        EXPECT_EQ(d.rc, ORQEXT_E_ANSWER_TOO_LONG);
        EXPECT_EQ(d.answer, pattern(c.size).substr(0, static_cast<std::size_t>(c.capacity)));
    }
    EXPECT_EQ(stats()["tickets"], 0) << "the rest of each answer was dropped";
}

TEST_F(AsyncTest, CancelledRequestNeverCallsBack) {
    const int32_t h = connect();
    // Pending at first (past pending_after_ms), ready well within the test:
    // a cancel that left it queued would see its answer delivered.
    ASSERT_GE(post(h, "Script", "delay=600 size=5", 7, 100), 1);
    ASSERT_TRUE(eventually([&] { return stats()["tickets"] == 1; }, 10000)) << "the worker sent it and it is pending";
    // The fetch by ticket finds the answer still pending; the request is gone
    // from the queue all the same.
    EXPECT_EQ(ORQExt_CancelAsync(0, 7), ORQEXT_E_PENDING);
    EXPECT_EQ(ORQExt_CancelAsync(0, 7), ORQEXT_E_NO_REQUEST);
    // Queued behind it and answered later than it: by the time this one is
    // delivered, the cancelled one's answer had long been ready for fetching.
    ASSERT_GE(post(h, "Script", "delay=1200 size=3", 8, 100), 1);
    Delivery d;
    ASSERT_TRUE(wait_for(8, &d));
    EXPECT_EQ(d.rc, 0);
    EXPECT_EQ(d.answer, pattern(3));
    std::lock_guard<std::mutex> g(g_mu);
    EXPECT_EQ(g_delivered.count(7), 0u);
    EXPECT_EQ(g_calls, 1);
}

}  // namespace
}  // namespace e2e

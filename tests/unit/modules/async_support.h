// Shared pieces of the asynchronous messaging tests: a recording callback, a
// gate that holds a server call until the test lets it go, and the fixture.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/lifecycle.h"
#include "exports/orqext.h"
#include "modules/async.h"
#include "tests/support/fixture.h"
#include "tests/unit/modules/worker_clock.h"

namespace modules_test {

struct Answer {
    int32_t id;
    int32_t result;
    std::string bytes;
    bool operator==(const Answer& o) const {
        return id == o.id && result == o.result && bytes == o.bytes;
    }
};

inline std::ostream& operator<<(std::ostream& os, const Answer& a) {
    return os << "{" << a.id << ", " << a.result << ", \"" << a.bytes << "\"}";
}

// What the callback saw, and an optional hook run inside it.
struct Recorder {
    std::mutex m;
    std::vector<Answer> answers;
    std::function<void(int32_t id)> hook;
};

inline Recorder& recorder() {
    static Recorder* r = new Recorder();  // outlives any worker
    return *r;
}

inline void ORQEXT_CALL record(int32_t id, int32_t result, const void* bytes, int32_t len) {
    std::function<void(int32_t)> hook;
    {
        Recorder& r = recorder();
        std::lock_guard<std::mutex> g(r.m);
        r.answers.push_back({id, result, std::string(static_cast<const char*>(bytes),
                                                     static_cast<std::size_t>(len))});
        hook = r.hook;
    }
    if (hook) hook(id);
}

inline std::vector<Answer> answers() {
    std::lock_guard<std::mutex> g(recorder().m);
    return recorder().answers;
}

// Holds the calls that reach it until opened; tells when one has arrived.
class Gate {
public:
    void arrive() {
        std::unique_lock<std::mutex> lk(m_);
        ++arrived_;
        cv_.notify_all();
        cv_.wait_for(lk, std::chrono::seconds(60), [&] { return open_; });
    }
    bool wait_arrived(int n = 1) {
        std::unique_lock<std::mutex> lk(m_);
        return cv_.wait_for(lk, std::chrono::seconds(20), [&] { return arrived_ >= n; });
    }
    void open() {
        std::lock_guard<std::mutex> g(m_);
        open_ = true;
        cv_.notify_all();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    int arrived_ = 0;
    bool open_ = false;
};

// Waits (bounded) until pred holds; for thread progress only.
template <class P>
bool eventually(P pred, std::chrono::seconds bound = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline std::string header(uint16_t code, int32_t a, int32_t b) {
    std::string h;
    h += static_cast<char>(code & 0xFF);
    h += static_cast<char>(code >> 8);
    h += '\xF5';
    h += '\x01';
    return h + xsrdouble::le32(a) + xsrdouble::le32(b) + xsrdouble::le32(-1);
}

// A freshly loaded library with the recording callback installed and the
// worker's cycles in the test's hand. Every test ends with an unload, so no
// worker outlives it.
class AsyncTest : public testing_support::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        {
            std::lock_guard<std::mutex> g(recorder().m);
            recorder().answers.clear();
            recorder().hook = nullptr;
        }
        ORQExt_SetAsyncFunc(record, nullptr);
    }
    void TearDown() override {
        orq::lifecycle::unload();
        // A worker given up on ends by itself once its call returns; on
        // Windows it was terminated instead, which ended it at once.
        EXPECT_TRUE(eventually([] { return orq::async::workers_alive() == 0; }));
        orq::lifecycle::load();
        {
            std::lock_guard<std::mutex> g(recorder().m);
            recorder().hook = nullptr;
        }
        LibraryTest::TearDown();
    }

    int32_t send(int32_t id, const std::string& payload = "p", int32_t capacity = 0,
                 int32_t conn = 7, const char* module = "M", const char* target = nullptr) {
        return ORQExt_AsyncSendMessage(conn, module, target, payload.data(),
                                       static_cast<int32_t>(payload.size()), id, capacity);
    }
    static std::vector<xsrdouble::Call> commands() { return xsrdouble::calls_of(xsrdouble::Fn::Command); }

    WorkerClock clock_;
};

}  // namespace modules_test

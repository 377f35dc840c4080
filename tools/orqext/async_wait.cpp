#include "tools/orqext/async_wait.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "exports/orqext.h"

namespace orqext {

namespace {

struct State {
    std::mutex mu;
    std::condition_variable cv;
    bool armed = false;
    bool done = false;
    bool abandoned = false;
    AsyncAnswer answer;
};

State& state() {
    static State* s = new State();  // never freed: a late callback may still come
    return *s;
}

void ORQEXT_CALL on_answer(int32_t id, int32_t result, const void* bytes, int32_t len) {
    State& s = state();
    std::lock_guard<std::mutex> g(s.mu);
    if (!s.armed || s.done || id != s.answer.id) return;
    s.answer.result = result;
    if (bytes && len > 0) s.answer.bytes.assign(static_cast<const char*>(bytes), static_cast<std::size_t>(len));
    s.done = true;
    s.cv.notify_all();
}

}  // namespace

int32_t AsyncWait::arm(int32_t id) {
    State& s = state();
    {
        std::lock_guard<std::mutex> g(s.mu);
        s.armed = true;
        s.done = false;
        s.abandoned = false;
        s.answer = AsyncAnswer();
        s.answer.id = id;
    }
    return ORQExt_SetAsyncFunc(on_answer, nullptr);
}

bool AsyncWait::wait(int64_t timeout_ms, AsyncAnswer* out) {
    State& s = state();
    std::unique_lock<std::mutex> g(s.mu);
    if (!s.cv.wait_for(g, std::chrono::milliseconds(timeout_ms), [&] { return s.done || s.abandoned; }) ||
        !s.done)
        return false;
    *out = s.answer;
    return true;
}

void AsyncWait::abandon() {
    State& s = state();
    std::lock_guard<std::mutex> g(s.mu);
    s.abandoned = true;
    s.cv.notify_all();
}

void AsyncWait::disarm() {
    State& s = state();
    std::lock_guard<std::mutex> g(s.mu);
    s.armed = false;
}

}  // namespace orqext

// Unloading the library while its asynchronous worker runs. Each test loads
// its own copy of the built library (a copy under another path is a separate
// instance), because a library that has started its worker stays mapped for
// the rest of the process.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "xsr/double/xsr_double.h"

using namespace xsrdouble;

namespace {

using Callback = void (*)(int32_t, int32_t, const void*, int32_t);
using SetAsyncFuncFn = int32_t (*)(Callback, Callback*);
using AsyncSendFn = int32_t (*)(int32_t, const char*, const char*, const void*, int32_t, int32_t,
                                int32_t);

// Holds the server calls that reach it until opened. Never destroyed: a
// worker may still be inside a call while the process exits.
struct Gate {
    std::mutex m;
    std::condition_variable cv;
    int arrived = 0;
    bool open = false;
    std::atomic<int> answered{0};
};
Gate& gate() {
    static Gate* g = new Gate();
    return *g;
}

void on_answer(int32_t, int32_t, const void*, int32_t) { gate().answered.fetch_add(1); }

void hold_calls() {
    set_handler([](const Call&) {
        Gate& g = gate();
        std::unique_lock<std::mutex> lk(g.m);
        ++g.arrived;
        g.cv.notify_all();
        g.cv.wait_for(lk, std::chrono::seconds(60), [&] { return g.open; });
        return ok("answer");
    });
}

bool wait_arrived() {
    Gate& g = gate();
    std::unique_lock<std::mutex> lk(g.m);
    return g.cv.wait_for(lk, std::chrono::seconds(20), [&] { return g.arrived > 0; });
}

void open_gate() {
    Gate& g = gate();
    std::lock_guard<std::mutex> lk(g.m);
    g.open = true;
    g.cv.notify_all();
}

// A private copy of the library, removed from disk when done with.
struct Copy {
    std::string path;
    void* lib = nullptr;
    Copy() {
        char tmpl[] = "/tmp/orqcopyXXXXXX";
        int fd = mkstemp(tmpl);
        EXPECT_GE(fd, 0);
        close(fd);
        path = tmpl;
        std::ifstream in(ORQ_LIB_PATH, std::ios::binary);
        std::ofstream out(path, std::ios::binary);
        out << in.rdbuf();
    }
    ~Copy() { std::remove(path.c_str()); }
    bool load() {
        lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        return lib != nullptr;
    }
    template <class F>
    F fn(const char* name) {
        return reinterpret_cast<F>(dlsym(lib, name));
    }
};

TEST(AsyncUnloadTest, DlcloseWithAWorkerBlockedInTheServerNeitherHangsNorCrashes) {
    reset();
    Copy copy;
    ASSERT_TRUE(copy.load()) << dlerror();
    auto set_cb = copy.fn<SetAsyncFuncFn>("ORQExt_SetAsyncFunc");
    auto send = copy.fn<AsyncSendFn>("ORQExt_AsyncSendMessage");
    ASSERT_TRUE(set_cb && send);
    hold_calls();
    set_cb(on_answer, nullptr);
    ASSERT_EQ(send(7, "M", nullptr, "p", 1, 1, 0), 1);
    ASSERT_TRUE(wait_arrived()) << "the worker is inside XSR_CommandEx";

    EXPECT_EQ(dlclose(copy.lib), 0) << "returns at once";
    void* still = dlopen(copy.path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(still, nullptr) << "the library stays mapped under its running worker";

    // The worker comes back into mapped code and goes on serving.
    open_gate();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (gate().answered.load() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(gate().answered.load(), 1);

    if (still) {
        // Removing the callback ends the worker.
        reinterpret_cast<SetAsyncFuncFn>(dlsym(still, "ORQExt_SetAsyncFunc"))(nullptr, nullptr);
        dlclose(still);
    }
    set_handler(nullptr);
}

TEST(AsyncUnloadTest, ProcessExitWithAWorkerBlockedInTheServerEndsCleanly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The unload runs at exit: it waits for the worker within its bound, gives
    // it up and lets the process end with its own exit code.
    EXPECT_EXIT(
        {
            reset();
            Copy copy;
            if (!copy.load()) std::_Exit(2);
            std::remove(copy.path.c_str());  // exit runs no destructors
            hold_calls();
            copy.fn<SetAsyncFuncFn>("ORQExt_SetAsyncFunc")(on_answer, nullptr);
            if (copy.fn<AsyncSendFn>("ORQExt_AsyncSendMessage")(7, "M", nullptr, "p", 1, 1, 0) != 1)
                std::_Exit(3);
            if (!wait_arrived()) std::_Exit(4);
            dlclose(copy.lib);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace

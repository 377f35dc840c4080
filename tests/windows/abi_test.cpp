// The calling conventions of ORQExtClient.dll as a caller in another
// language meets them, through LoadLibrary/GetProcAddress:
// - on 32-bit Windows, every export removes exactly the argument bytes that
//   its stdcall decoration in ORQExtClient.def (and so the import library)
//   promises, whatever the path it returns by: a caller's stack is checked
//   around a call of each export, made with the arguments pushed by hand;
// - the asynchronous callback is called on the worker thread with its four
//   arguments, and the worker's stack stays where it was from one call to
//   the next (a callback called with the wrong convention would move it, or
//   crash the worker).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "exports/orqext.h"
#include "xsr/double/xsr_double.h"

using namespace xsrdouble;

namespace {

std::string windows_path(std::string p) {
    p = "Z:" + p;  // drive Z: is the root of the Unix file system under Wine
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

class WindowsAbiTest : public ::testing::Test {
protected:
    void SetUp() override {
        reset();
        lib_ = LoadLibraryA(windows_path(ORQ_DLL_PATH).c_str());
        ASSERT_NE(lib_, nullptr) << ORQ_DLL_PATH << " error " << GetLastError();
    }
    void TearDown() override {
        if (lib_) {
            EXPECT_TRUE(FreeLibrary(lib_));
        }
    }
    template <class F>
    F fn(const char* name) {
        FARPROC p = GetProcAddress(lib_, name);
        EXPECT_NE(p, nullptr) << name;
        return reinterpret_cast<F>(reinterpret_cast<void*>(p));
    }
    HMODULE lib_ = nullptr;
};

#if defined(__i386__)
// Pushes `words` zero double words, calls `f`, and returns by how many bytes
// the stack pointer after the call differs from the one before the pushes:
// 0 when the callee removed exactly what was pushed. The stack is put back
// either way.
__attribute__((noinline)) int32_t stack_moved_by_call(void* f, int32_t words) {
    int32_t moved;
    __asm__ volatile(
        "movl %%esp, %%esi\n\t"
        "1:\n\t"
        "testl %%ecx, %%ecx\n\t"
        "jz 2f\n\t"
        "pushl $0\n\t"
        "decl %%ecx\n\t"
        "jmp 1b\n\t"
        "2:\n\t"
        "call *%[f]\n\t"
        "movl %%esp, %%eax\n\t"
        "subl %%esi, %%eax\n\t"
        "movl %%esi, %%esp\n\t"
        : "=a"(moved), "+c"(words)
        : [f] "r"(f)
        : "edx", "esi", "memory", "cc");
    return moved;
}

struct DefEntry {
    std::string name;
    int32_t arg_bytes;
};

// The exports of ORQExtClient.def with their decoration: "ORQExt_Connect@20".
std::vector<DefEntry> def_entries() {
    std::vector<DefEntry> out;
    std::ifstream in(ORQ_DEF_PATH);
    std::string line;
    while (std::getline(in, line)) {
        size_t b = line.find("ORQExt_");
        size_t at = line.find('@', b);
        if (b == std::string::npos || at == std::string::npos) continue;
        out.push_back({line.substr(b, at - b), std::atoi(line.c_str() + at + 1)});
    }
    return out;
}

// Every argument zero: no connection handle, null pointers, zero lengths.
// Each export refuses that with a code of its own, on the shortest path of
// its checks, where a wrong `ret` would show as early as anywhere.
TEST_F(WindowsAbiTest, EveryExportRemovesExactlyItsDecoratedArgumentBytes) {
    std::vector<DefEntry> exports = def_entries();
    ASSERT_EQ(exports.size(), static_cast<size_t>(ORQ_EXPORT_COUNT)) << ORQ_DEF_PATH;
    int odd = 0;
    for (const DefEntry& e : exports) {
        SCOPED_TRACE(e.name + "@" + std::to_string(e.arg_bytes));
        ASSERT_EQ(e.arg_bytes % 4, 0);
        void* f = reinterpret_cast<void*>(GetProcAddress(lib_, e.name.c_str()));
        ASSERT_NE(f, nullptr);
        odd += (e.arg_bytes / 4) % 2;
        EXPECT_EQ(stack_moved_by_call(f, e.arg_bytes / 4), 0);
    }
    EXPECT_GT(odd, 0) << "no export with an odd number of arguments was called";
}
#endif

// What the worker hands the callback, one entry per call.
struct Answer {
    int32_t id, result;
    std::string bytes;
    DWORD thread;
    void* frame;
};
struct CallbackLog {
    std::mutex m;
    std::vector<Answer> answers;
    HANDLE all_in = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    size_t expected = 0;
    ~CallbackLog() { CloseHandle(all_in); }
};
CallbackLog* g_log = nullptr;

// Written as a caller in another language would: the convention spelled out
// on 32-bit Windows, not taken from the header's ORQEXT_CALL.
#if defined(__i386__)
#define CALLBACK_CONVENTION __stdcall
#else
#define CALLBACK_CONVENTION
#endif
__attribute__((noinline)) void CALLBACK_CONVENTION on_answer(int32_t id, int32_t result, const void* answer,
                                                             int32_t len) {
    std::lock_guard<std::mutex> lock(g_log->m);
    g_log->answers.push_back({id, result,
                              std::string(static_cast<const char*>(answer), len > 0 ? static_cast<size_t>(len) : 0),
                              GetCurrentThreadId(), __builtin_frame_address(0)});
    if (g_log->answers.size() == g_log->expected) SetEvent(g_log->all_in);
}

TEST_F(WindowsAbiTest, CallbackGetsItsArgumentsOnTheWorkerWithTheStackUnmoved) {
    CallbackLog log;
    g_log = &log;
    const int32_t ids[] = {101, 7, 65535, 3, 42, 9};
    log.expected = sizeof ids / sizeof ids[0];
    // Each answer tells its request: the payload comes back doubled.
    set_handler([](const Call& c) { return ok(c.body2 + c.body2); });
    auto connect = fn<decltype(&ORQExt_Connect)>("ORQExt_Connect");
    auto set_cb = fn<decltype(&ORQExt_SetAsyncFunc)>("ORQExt_SetAsyncFunc");
    auto send = fn<decltype(&ORQExt_AsyncSendMessage)>("ORQExt_AsyncSendMessage");
    int32_t status = 1;
    int32_t conn = connect("srv", 7300, "u", "p", &status);
    ASSERT_NE(conn, 0) << status;
    ASSERT_EQ(set_cb(&on_answer, nullptr), 0);
    for (int32_t id : ids) {
        std::string payload = "p" + std::to_string(id);
        ASSERT_GT(send(conn, "Echo", nullptr, payload.data(), static_cast<int32_t>(payload.size()), id, 0), 0);
    }
    ASSERT_EQ(WaitForSingleObject(log.all_in, 30000), WAIT_OBJECT_0) << "callbacks: " << log.answers.size();
    ASSERT_EQ(set_cb(nullptr, nullptr), 0);

    std::lock_guard<std::mutex> lock(log.m);
    ASSERT_EQ(log.answers.size(), log.expected);
    for (size_t i = 0; i < log.answers.size(); ++i) {
        const Answer& a = log.answers[i];
        SCOPED_TRACE("callback " + std::to_string(i));
        std::string payload = "p" + std::to_string(ids[i]);
        EXPECT_EQ(a.id, ids[i]);
        EXPECT_EQ(a.result, 0);
        EXPECT_EQ(a.bytes, payload + payload);
        EXPECT_NE(a.thread, GetCurrentThreadId()) << "called on the caller's thread";
        EXPECT_EQ(a.thread, log.answers[0].thread) << "one worker thread calls back";
        EXPECT_EQ(a.frame, log.answers[0].frame) << "the worker's stack moved between callbacks";
    }
    g_log = nullptr;
}

}  // namespace

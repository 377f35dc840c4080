// Loads and unloads ORQExtClient.dll with LoadLibrary/FreeLibrary, with
// different settings files in the Windows directory, where the private
// profile functions look up a bare file name. The library takes its XSR_
// functions from the scripted double, which this program has loaded already.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "exports/orqext.h"
#include "xsr/double/xsr_double.h"

using namespace xsrdouble;

namespace {

// The build tree's path as a Windows program under Wine sees it: drive Z:
// is the root of the Unix file system.
std::string dll_path() {
    std::string p = std::string("Z:") + ORQ_DLL_PATH;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

std::string windows_directory() {
    char dir[MAX_PATH] = {0};
    UINT n = GetWindowsDirectoryA(dir, MAX_PATH);
    return std::string(dir, n < MAX_PATH ? n : 0);
}

class WindowsLifecycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        reset();
        ini_ = windows_directory() + "\\orqclient.ini";
        ASSERT_GT(ini_.size(), std::string("\\orqclient.ini").size());
        // Keep whatever settings file the machine had, and start without one.
        std::ifstream in(ini_, std::ios::binary);
        if (in) {
            std::ostringstream s;
            s << in.rdbuf();
            saved_ = s.str();
            had_file_ = true;
        }
        in.close();
        std::remove(ini_.c_str());
    }
    void TearDown() override {
        if (lib_) FreeLibrary(lib_);
        std::remove(ini_.c_str());
        if (had_file_) std::ofstream(ini_, std::ios::binary) << saved_;
    }
    void write_ini(const std::string& text) {
        std::ofstream out(ini_, std::ios::binary | std::ios::trunc);
        out << text;
        ASSERT_TRUE(out.good()) << ini_;
    }
    void load() {
        lib_ = LoadLibraryA(dll_path().c_str());
        ASSERT_NE(lib_, nullptr) << dll_path() << " error " << GetLastError();
    }
    void unload_and_check_gone() {
        ASSERT_TRUE(FreeLibrary(lib_));
        lib_ = nullptr;
        EXPECT_EQ(GetModuleHandleA("ORQExtClient.dll"), nullptr) << "library stayed mapped after FreeLibrary";
    }
    // The export's address, typed as the header declares it (stdcall on
    // 32-bit Windows).
    template <class F>
    F fn(const char* name) {
        FARPROC p = GetProcAddress(lib_, name);
        EXPECT_NE(p, nullptr) << name;
        return reinterpret_cast<F>(reinterpret_cast<void*>(p));
    }
    // Opens a connection through the library; with clustering on, the
    // status is that of the cluster refresh, and the handle is registered
    // whatever it says.
    int32_t connect() {
        int32_t status = 1;
        int32_t h = fn<decltype(&ORQExt_Connect)>("ORQExt_Connect")("srv", 7300, "u", "p", &status);
        EXPECT_NE(h, 0) << "status " << status;
        return h;
    }
    bool cluster_enabled(int32_t h) {
        return fn<decltype(&ORQExt_IsClusterEnable)>("ORQExt_IsClusterEnable")(h) != 0;
    }

    HMODULE lib_ = nullptr;
    std::string ini_, saved_;
    bool had_file_ = false;
};

TEST_F(WindowsLifecycleTest, LoadDoesNothingVisibleAndUnloadUnmaps) {
    load();
    EXPECT_EQ(calls().size(), 0u) << "no connection is opened at load";
    unload_and_check_gone();
    EXPECT_EQ(calls().size(), 0u);
}

TEST_F(WindowsLifecycleTest, UnloadClosesEachOwnConnectionOnce) {
    load();
    auto disconnect = fn<decltype(&ORQExt_DisConnect)>("ORQExt_DisConnect");
    int32_t a = connect();
    int32_t b = connect();
    int32_t c = connect();
    // A handle the library only met through a cluster query is not its own.
    cluster_enabled(4242);
    EXPECT_EQ(disconnect(b), 0);
    unload_and_check_gone();
    auto closes = calls_of(Fn::Close);
    ASSERT_EQ(closes.size(), 3u);
    EXPECT_EQ(closes[0].handle, b);
    EXPECT_EQ(closes[1].handle, a);
    EXPECT_EQ(closes[2].handle, c);
    EXPECT_TRUE(open_handles().empty());
}

TEST_F(WindowsLifecycleTest, ReloadStartsWithAnEmptyRegistry) {
    load();
    int32_t a = connect();
    unload_and_check_gone();
    load();
    EXPECT_EQ(fn<decltype(&ORQExt_DisConnect)>("ORQExt_DisConnect")(a), -4100);
}

TEST_F(WindowsLifecycleTest, ClusterEnableComesFromTheWindowsDirectory) {
    struct Case {
        const char* ini;  // nullptr: no settings file
        bool on;
    };
    const Case cases[] = {
        {nullptr, false},
        {"[OrqExtClient]\r\nClusterEnable=true\r\n", true},
        {"[OrqExtClient]\nClusterEnable=TRUE\n", true},
        {"[orqextclient]\nclusterenable=tRuE\n", true},
        {"[OrqExtClient]\nClusterEnable = true \n", true},  // blanks around the value are dropped
        {"[OrqExtClient]\nClusterEnable=\"true\"\n", true},  // so is one pair of quotes
        {"[OrqExtClient]\nClusterEnable=\" true\"\n", false},
        {"[OrqExtClient]\nClusterEnable=1\n", false},
        {"[OrqExtClient]\nClusterEnable=yes\n", false},
        {"[OrqExtClient]\nClusterEnable=truetruetruetruetrue\n", false},
        {"[OrqExtClient]\nClusterEnable=\n", false},
        {"[OrqExtClient]\n", false},
        {"[Other]\nClusterEnable=true\n", false},
        {"ClusterEnable=true\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ini ? c.ini : "(no file)");
        std::remove(ini_.c_str());
        if (c.ini) write_ini(c.ini);
        reset();
        load();
        int32_t h = connect();
        EXPECT_EQ(cluster_enabled(h), c.on);
        // The cluster refresh at connect is the setting's other visible effect.
        EXPECT_EQ(count(Fn::Command) > 0, c.on);
        unload_and_check_gone();
    }
}

TEST_F(WindowsLifecycleTest, SettingIsReadOnceAtLoad) {
    write_ini("[OrqExtClient]\nClusterEnable=true\n");
    load();
    write_ini("[OrqExtClient]\nClusterEnable=false\n");
    EXPECT_TRUE(cluster_enabled(connect()));
    unload_and_check_gone();
    load();
    EXPECT_FALSE(cluster_enabled(connect()));
}

// The asynchronous worker at FreeLibrary. The double's handler runs on the
// worker thread: it notes the thread and, when asked to, holds the call until
// released (a Win32 event, so a thread terminated while waiting holds no lock
// of the double's or of the C++ runtime).
struct WorkerProbe {
    HANDLE arrived = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<DWORD> thread_id{0};
    std::atomic<int> answered{0};
    bool hold = false;

    static WorkerProbe*& current() {
        static WorkerProbe* p = nullptr;
        return p;
    }
    static void ORQEXT_CALL on_answer(int32_t, int32_t, const void*, int32_t) {
        current()->answered.fetch_add(1);
    }
    void install() {
        current() = this;
        set_handler([this](const Call&) {
            thread_id = GetCurrentThreadId();
            SetEvent(arrived);
            if (hold) WaitForSingleObject(release, 60000);
            return ok("answer");
        });
    }
    // A handle of the worker's own, to see it end and read its exit code.
    HANDLE open_worker() {
        EXPECT_EQ(WaitForSingleObject(arrived, 20000), WAIT_OBJECT_0) << "the worker never called";
        HANDLE h = OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, thread_id.load());
        EXPECT_NE(h, nullptr);
        return h;
    }
    ~WorkerProbe() {
        SetEvent(release);
        set_handler(nullptr);
        CloseHandle(arrived);
        CloseHandle(release);
    }
};

DWORD exit_code_of(HANDLE thread) {
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0) << "the worker is still running";
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    CloseHandle(thread);
    return code;
}

// Inside DllMain no thread can finish exiting, so a worker that is still
// there at FreeLibrary is waited for within the bound and then terminated:
// this test spends the whole bounded wait (3 s) in real time.
TEST_F(WindowsLifecycleTest, FreeLibraryTerminatesAWorkerBlockedInTheServer) {
    WorkerProbe probe;
    probe.hold = true;
    probe.install();
    load();
    fn<decltype(&ORQExt_SetAsyncFunc)>("ORQExt_SetAsyncFunc")(&WorkerProbe::on_answer, nullptr);
    ASSERT_EQ(fn<decltype(&ORQExt_AsyncSendMessage)>("ORQExt_AsyncSendMessage")(7, "M", nullptr, "p", 1, 1, 0), 1);
    HANDLE worker = probe.open_worker();
    ASSERT_NE(worker, nullptr);

    unload_and_check_gone();
    EXPECT_EQ(static_cast<int32_t>(exit_code_of(worker)), -8888);
    EXPECT_EQ(probe.answered.load(), 0) << "a terminated request is never answered";

    // The process goes on: the library loads again and works.
    reset();
    load();
    EXPECT_NE(connect(), 0);
}

TEST_F(WindowsLifecycleTest, WorkerEndedByRemovingTheCallbackIsNotTerminated) {
    WorkerProbe probe;
    probe.install();
    load();
    auto set_cb = fn<decltype(&ORQExt_SetAsyncFunc)>("ORQExt_SetAsyncFunc");
    set_cb(&WorkerProbe::on_answer, nullptr);
    ASSERT_EQ(fn<decltype(&ORQExt_AsyncSendMessage)>("ORQExt_AsyncSendMessage")(7, "M", nullptr, "p", 1, 1, 0), 1);
    HANDLE worker = probe.open_worker();
    ASSERT_NE(worker, nullptr);
    ORQExtAsyncCallback previous = nullptr;
    EXPECT_EQ(set_cb(nullptr, &previous), 0);
    EXPECT_EQ(previous, &WorkerProbe::on_answer);
    EXPECT_EQ(exit_code_of(worker), 0u) << "the worker ends by itself within a cycle";
    unload_and_check_gone();
}

}  // namespace

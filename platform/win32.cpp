// Win32 implementation of the operating-system layer: critical sections, the
// millisecond tick counter, Sleep, threads started through the C runtime, and
// the private-profile reader.
#include "platform/platform.h"

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <process.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "platform/files.h"

namespace orq::platform {

// A critical section is re-entrant: the owning thread may enter it again and
// must leave it as often as it entered.
static_assert(sizeof(CRITICAL_SECTION) <= 64, "Lock storage too small");
static_assert(alignof(CRITICAL_SECTION) <= 16, "Lock storage under-aligned");

static CRITICAL_SECTION* cs(unsigned char* s) { return reinterpret_cast<CRITICAL_SECTION*>(s); }

Lock::Lock() { InitializeCriticalSection(cs(storage_)); }
Lock::~Lock() { DeleteCriticalSection(cs(storage_)); }
void Lock::lock() { EnterCriticalSection(cs(storage_)); }
void Lock::unlock() { LeaveCriticalSection(cs(storage_)); }

// Critical sections have no timed wait: poll with short sleeps until the
// lock is free or the time is up. Uses the real tick counter, like the
// bounded thread wait, so a test clock cannot stretch it.
bool Lock::try_lock_for(uint32_t timeout_ms) {
    if (TryEnterCriticalSection(cs(storage_))) return true;
    const DWORD start = GetTickCount();
    for (;;) {
        // Unsigned difference: correct across the counter's wrap.
        if (static_cast<DWORD>(GetTickCount() - start) >= timeout_ms) return false;
        Sleep(1);
        if (TryEnterCriticalSection(cs(storage_))) return true;
    }
}

uint32_t real_tick_ms() { return static_cast<uint32_t>(GetTickCount()); }
void real_sleep_ms(uint32_t ms) { Sleep(ms); }

struct ThreadHandle {
    HANDLE handle;
    unsigned id;
};

namespace {

struct StartBlock {
    ThreadFn fn;
    void* arg;
};

unsigned __stdcall trampoline(void* p) {
    StartBlock start = *static_cast<StartBlock*>(p);
    delete static_cast<StartBlock*>(p);
    start.fn(start.arg);
    return 0;
}

}  // namespace

// _beginthreadex rather than CreateThread, so the C runtime's per-thread
// state is set up and released with the thread. Default stack size.
ThreadHandle* thread_start(ThreadFn fn, void* arg) {
    auto* t = new (std::nothrow) ThreadHandle();
    auto* start = new (std::nothrow) StartBlock{fn, arg};
    if (!t || !start) {
        delete t;
        delete start;
        return nullptr;
    }
    uintptr_t h = _beginthreadex(nullptr, 0, trampoline, start, 0, &t->id);
    if (h == 0) {
        delete start;
        delete t;
        return nullptr;
    }
    t->handle = reinterpret_cast<HANDLE>(h);
    return t;
}

bool thread_wait(ThreadHandle* t, uint32_t timeout_ms) {
    return WaitForSingleObject(t->handle, timeout_ms) == WAIT_OBJECT_0;
}

// The thread stops where it is; exit_code becomes its exit code. Whatever it
// held (a critical section, memory) stays held, which is why the unload takes
// the locks such a thread may have held with a bounded attempt only.
bool thread_terminate(ThreadHandle* t, int32_t exit_code) {
    return TerminateThread(t->handle, static_cast<DWORD>(exit_code)) != 0;
}

void thread_close(ThreadHandle* t) {
    CloseHandle(t->handle);
    delete t;
}

bool thread_is_current(const ThreadHandle* t) { return t && t->id == GetCurrentThreadId(); }

// A bare file name is looked up where Windows keeps private profiles for
// bare names: the Windows directory.
std::string read_profile_string(const char* file, const char* section, const char* key,
                                const char* def, std::size_t buffer_size) {
    if (buffer_size == 0) return std::string();
    // The file Windows would read, put to the same rule as everywhere: one
    // that is no regular file counts as missing, with one line on stderr.
    char dir[MAX_PATH];
    const UINT len = GetWindowsDirectoryA(dir, MAX_PATH);
    if (len > 0 && len < MAX_PATH && !std::strpbrk(file, "\\/:")) {
        File f;
        FileProblem problem;
        if (!open_for_reading(std::string(dir) + "\\" + file, ReadRule::Any, &f, &problem) && !problem.missing) {
            std::fprintf(stderr, "ORQExtClient: the settings file %s\\%s is not read: %s\n", dir, file,
                         problem.why.c_str());
            std::string value = def ? def : "";
            if (value.size() > buffer_size - 1) value.resize(buffer_size - 1);
            return value;
        }
    }
    if (buffer_size > 65536) buffer_size = 65536;
    std::vector<char> buf(buffer_size, '\0');
    DWORD n = GetPrivateProfileStringA(section, key, def ? def : "", buf.data(),
                                       static_cast<DWORD>(buffer_size), file);
    if (n >= buffer_size) n = static_cast<DWORD>(buffer_size - 1);
    return std::string(buf.data(), n);
}

}  // namespace orq::platform

#endif

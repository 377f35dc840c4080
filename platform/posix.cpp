// POSIX implementation of the operating-system layer.
#include "platform/platform.h"

#if !defined(_WIN32)

#include <dlfcn.h>
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/files.h"
#include "platform/profile.h"

namespace orq::platform {

static_assert(sizeof(pthread_mutex_t) <= 64, "Lock storage too small");

static pthread_mutex_t* mtx(unsigned char* s) { return reinterpret_cast<pthread_mutex_t*>(s); }

Lock::Lock() {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(mtx(storage_), &attr);
    pthread_mutexattr_destroy(&attr);
}
Lock::~Lock() { pthread_mutex_destroy(mtx(storage_)); }
void Lock::lock() { pthread_mutex_lock(mtx(storage_)); }
void Lock::unlock() { pthread_mutex_unlock(mtx(storage_)); }

bool Lock::try_lock_for(uint32_t timeout_ms) {
    timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += timeout_ms / 1000;
    deadline.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    return pthread_mutex_timedlock(mtx(storage_), &deadline) == 0;
}

// The coarse monotonic clock where there is one: it is read from memory the
// kernel updates at each timer interrupt (a few milliseconds apart), without
// the hardware counter read that makes the precise clock slow on some
// virtual machines. Millisecond waits need nothing finer.
#if defined(CLOCK_MONOTONIC_COARSE)
constexpr clockid_t kTickClock = CLOCK_MONOTONIC_COARSE;
#else
constexpr clockid_t kTickClock = CLOCK_MONOTONIC;
#endif

uint32_t real_tick_ms() {
    timespec ts;
    if (clock_gettime(kTickClock, &ts) != 0) clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void real_sleep_ms(uint32_t ms) {
    timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

struct ThreadHandle {
    pthread_t tid;
    ThreadFn fn;
    void* arg;
    pthread_mutex_t m;
    pthread_cond_t cv;
    bool done;        // fn has returned
    bool joined;      // pthread_join has run
    bool closed;      // the owner let go: the thread frees the block itself
    bool terminated;  // given up on at a terminate request
    int32_t exit_code;
};

static void destroy_handle(ThreadHandle* t) {
    pthread_cond_destroy(&t->cv);
    pthread_mutex_destroy(&t->m);
    delete t;
}

static void* trampoline(void* p) {
    auto* t = static_cast<ThreadHandle*>(p);
    ThreadFn fn = t->fn;
    void* arg = t->arg;
    fn(arg);
    pthread_mutex_lock(&t->m);
    t->done = true;
    const bool closed = t->closed;
    pthread_cond_broadcast(&t->cv);
    pthread_mutex_unlock(&t->m);
    // A closed handle has no owner left: the thread frees it on its way out.
    if (closed) destroy_handle(t);
    return nullptr;
}

// Keeps this library mapped until the process exits. A thread of the library
// cannot be stopped safely on POSIX (see thread_terminate); if the library
// were unmapped by dlclose while such a thread still ran, the thread would
// return into unmapped code and bring the process down. So the first thread
// start pins the library (RTLD_NODELETE): from then on dlclose only drops the
// caller's reference and the library's unload runs at process exit. Done on
// the starting thread, before the thread exists, so that no dlclose can run
// between the start and the pin. Where the code is not in a shared object
// (linked into the program) the request changes nothing.
static void pin_library_once() {
    static std::atomic<bool> pinned{false};
    if (pinned.exchange(true)) return;
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&pin_library_once), &info) == 0 || !info.dli_fname) return;
    // RTLD_NOLOAD: only the object that is already loaded; never a second copy.
    void* self = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
    (void)self;  // held for the life of the process on purpose
}

ThreadHandle* thread_start(ThreadFn fn, void* arg) {
    auto* t = new (std::nothrow) ThreadHandle();
    if (!t) return nullptr;
    pin_library_once();
    t->fn = fn;
    t->arg = arg;
    t->done = false;
    t->joined = false;
    t->closed = false;
    t->terminated = false;
    t->exit_code = 0;
    pthread_mutex_init(&t->m, nullptr);
    pthread_condattr_t ca;
    pthread_condattr_init(&ca);
    pthread_condattr_setclock(&ca, CLOCK_MONOTONIC);
    pthread_cond_init(&t->cv, &ca);
    pthread_condattr_destroy(&ca);
    if (pthread_create(&t->tid, nullptr, trampoline, t) != 0) {
        destroy_handle(t);
        return nullptr;
    }
    return t;
}

bool thread_wait(ThreadHandle* t, uint32_t timeout_ms) {
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeout_ms / 1000;
    deadline.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    pthread_mutex_lock(&t->m);
    while (!t->done) {
        if (pthread_cond_timedwait(&t->cv, &t->m, &deadline) == ETIMEDOUT) break;
    }
    const bool done = t->done;
    const bool join = done && !t->joined;
    if (join) t->joined = true;
    pthread_mutex_unlock(&t->m);
    // fn has returned; the join only waits for the thread's last steps.
    if (join) pthread_join(t->tid, nullptr);
    return done;
}

// POSIX has no safe way to end one thread of a process from outside:
// pthread_cancel unwinds the thread's stack at its next cancellation point,
// which aborts the process when a frame on the way is noexcept (a wait on a
// std::condition_variable is one) and leaves the locks of a foreign library
// (XSRClient, the application's callback) held forever. So a terminate
// request gives the thread up instead: it is recorded as terminated with the
// exit code and left to end by itself. The code that runs on such a thread
// must stop at its own stop flag as soon as it regains control, touch only
// state that is kept alive for it, and the library stays mapped for it (see
// pin_library_once). thread_close then detaches it.
bool thread_terminate(ThreadHandle* t, int32_t exit_code) {
    pthread_mutex_lock(&t->m);
    if (!t->done) {
        t->terminated = true;
        t->exit_code = exit_code;
    }
    pthread_mutex_unlock(&t->m);
    return false;
}

// Releases the handle. A thread that has not ended yet (one given up on, or a
// thread closing its own handle as it ends) is detached and frees the handle
// block itself when its function returns.
void thread_close(ThreadHandle* t) {
    pthread_mutex_lock(&t->m);
    if (!t->done) {
        t->closed = true;
        pthread_detach(t->tid);
        pthread_mutex_unlock(&t->m);
        return;
    }
    const bool joined = t->joined;
    pthread_mutex_unlock(&t->m);
    if (!joined) pthread_detach(t->tid);
    destroy_handle(t);
}

bool thread_is_current(const ThreadHandle* t) { return t && pthread_equal(t->tid, pthread_self()); }

// A settings file that is no regular file (a FIFO, a device, a directory)
// counts as missing: it is never opened in a way that could wait, and one
// line on standard error says why it was passed over.
std::string read_profile_string(const char* file, const char* section, const char* key,
                                const char* def, std::size_t buffer_size) {
    std::string value = def ? def : "";
    std::string text;
    FileProblem problem;
    if (read_whole_file(file, ReadRule::Any, 1u << 20, &text, &problem)) {
        std::string found;
        if (profile_lookup(text, section, key, &found)) value = found;
    } else if (!problem.missing) {
        std::fprintf(stderr, "ORQExtClient: the settings file %s is not read: %s\n", file, problem.why.c_str());
    }
    if (buffer_size == 0) return std::string();
    if (value.size() > buffer_size - 1) value.resize(buffer_size - 1);
    return value;
}

}  // namespace orq::platform

#endif

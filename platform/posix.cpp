// POSIX implementation of the operating-system layer.
#include "platform/platform.h"

#if !defined(_WIN32)

#include <pthread.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

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

static uint32_t real_tick() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

static void real_sleep(uint32_t ms) {
    timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

static std::atomic<TickFn> g_tick{nullptr};
static std::atomic<SleepFn> g_sleep{nullptr};

uint32_t tick_ms() {
    TickFn f = g_tick.load(std::memory_order_acquire);
    return f ? f() : real_tick();
}

void sleep_ms(uint32_t ms) {
    SleepFn f = g_sleep.load(std::memory_order_acquire);
    if (f)
        f(ms);
    else
        real_sleep(ms);
}

void set_clock_for_tests(TickFn tick, SleepFn sleep) {
    g_tick.store(tick, std::memory_order_release);
    g_sleep.store(sleep, std::memory_order_release);
}

struct ThreadHandle {
    pthread_t tid;
    ThreadFn fn;
    void* arg;
    pthread_mutex_t m;
    pthread_cond_t cv;
    bool done;
};

static void* trampoline(void* p) {
    auto* t = static_cast<ThreadHandle*>(p);
    ThreadFn fn = t->fn;
    void* arg = t->arg;
    fn(arg);
    pthread_mutex_lock(&t->m);
    t->done = true;
    pthread_cond_broadcast(&t->cv);
    pthread_mutex_unlock(&t->m);
    return nullptr;
}

ThreadHandle* thread_start(ThreadFn fn, void* arg) {
    auto* t = new (std::nothrow) ThreadHandle();
    if (!t) return nullptr;
    t->fn = fn;
    t->arg = arg;
    t->done = false;
    pthread_mutex_init(&t->m, nullptr);
    pthread_condattr_t ca;
    pthread_condattr_init(&ca);
    pthread_condattr_setclock(&ca, CLOCK_MONOTONIC);
    pthread_cond_init(&t->cv, &ca);
    pthread_condattr_destroy(&ca);
    if (pthread_create(&t->tid, nullptr, trampoline, t) != 0) {
        pthread_cond_destroy(&t->cv);
        pthread_mutex_destroy(&t->m);
        delete t;
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
    bool done = t->done;
    pthread_mutex_unlock(&t->m);
    if (done) pthread_join(t->tid, nullptr);
    return done;
}

// POSIX has no safe way to kill one thread of a process. The nearest safe
// counterpart of TerminateThread is a cancellation request: the thread ends
// at its next cancellation point (a blocking socket call, a sleep), unwinding
// its stack. The thread is then detached so its resources are reclaimed
// whenever it ends.
void thread_terminate(ThreadHandle* t, int32_t /*exit_code*/) {
    pthread_cancel(t->tid);
}

void thread_close(ThreadHandle* t) {
    bool done;
    pthread_mutex_lock(&t->m);
    done = t->done;
    pthread_mutex_unlock(&t->m);
    if (!done) {
        // Still running (or cancelled and not yet at a cancellation point):
        // let it finish on its own; its handle block is leaked on purpose
        // because the trampoline still writes to it.
        pthread_detach(t->tid);
        return;
    }
    pthread_cond_destroy(&t->cv);
    pthread_mutex_destroy(&t->m);
    delete t;
}

bool thread_is_current(const ThreadHandle* t) { return t && pthread_equal(t->tid, pthread_self()); }

std::string read_profile_string(const char* file, const char* section, const char* key,
                                const char* def, std::size_t buffer_size) {
    std::string value = def ? def : "";
    if (FILE* f = std::fopen(file, "rb")) {
        std::string text;
        char chunk[4096];
        std::size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0 && text.size() < (1u << 20))
            text.append(chunk, n);
        std::fclose(f);
        std::string found;
        if (profile_lookup(text, section, key, &found)) value = found;
    }
    if (buffer_size == 0) return std::string();
    if (value.size() > buffer_size - 1) value.resize(buffer_size - 1);
    return value;
}

}  // namespace orq::platform

#endif

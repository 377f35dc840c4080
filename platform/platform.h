// Operating-system layer: locks, the millisecond tick, sleep, threads and the
// settings reader. One implementation per platform (posix.cpp, win32.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orq::platform {

// Re-entrant lock (a critical section on Windows, a recursive pthread mutex
// elsewhere). Not copyable; create and destroy it explicitly through the
// owning object's lifetime.
class Lock {
public:
    Lock();
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    void lock();
    void unlock();
    // Tries to take the lock for at most timeout_ms; true when taken.
    bool try_lock_for(uint32_t timeout_ms);

private:
    alignas(16) unsigned char storage_[64];
};

class Guard {
public:
    explicit Guard(Lock& l) : l_(l) { l_.lock(); }
    ~Guard() { l_.unlock(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    Lock& l_;
};

// Millisecond tick counter: 32 bits, wraps after about 49.7 days. Take
// differences as uint32_t so the wrap is harmless.
uint32_t tick_ms();
void sleep_ms(uint32_t ms);

// Tests replace the tick and the sleep so that waits run instantly and
// deterministically. Passing nullptr restores the real ones.
using TickFn = uint32_t (*)();
using SleepFn = void (*)(uint32_t);
void set_clock_for_tests(TickFn tick, SleepFn sleep);
// The platform's own tick and sleep, behind tick_ms and sleep_ms.
uint32_t real_tick_ms();
void real_sleep_ms(uint32_t ms);

// Threads.
using ThreadFn = void (*)(void*);
struct ThreadHandle;  // opaque
// Starts a thread with the default stack size; nullptr on failure.
ThreadHandle* thread_start(ThreadFn fn, void* arg);
// Waits for the thread to end for at most timeout_ms; true when it ended.
// Uses the real clock: this is the only bounded wait at unload.
bool thread_wait(ThreadHandle* t, uint32_t timeout_ms);
// Stops a thread that did not end in time (see the platform file for what
// this means there). exit_code is reported as the thread's exit code where
// the platform keeps one. True when the thread is ended by it (Windows),
// false when it is only left to end by itself (POSIX).
bool thread_terminate(ThreadHandle* t, int32_t exit_code);
// Releases the handle (does not stop the thread).
void thread_close(ThreadHandle* t);
// True when called on the thread behind t.
bool thread_is_current(const ThreadHandle* t);

// Private-profile lookup of `key` in `[section]` of the settings file given by
// bare file name. Copies at most buffer_size - 1 characters of the value (or
// of def when the file, section or key is missing).
std::string read_profile_string(const char* file, const char* section, const char* key,
                                const char* def, std::size_t buffer_size);

}  // namespace orq::platform

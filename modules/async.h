// Asynchronous messaging as seen by the library's load and unload.
#pragma once

#include <cstdint>

namespace orq::async {

void create_queue();
void create_worker_lock();
// Unload step 1: stop the worker (bounded wait, then give it up).
void stop_worker();
// Unload step 3 (registry lock held): drop queued requests without callbacks
// and remove the callback.
void clear_queue_and_callback();
void destroy_worker_lock();
void destroy_queue();

// Diagnostics, used by tests.
// Requests in the queue (finished ones leave it after their callback).
int32_t queued_count();
// True while a worker thread handle is stored.
bool worker_running();
// True once the unload has begun stopping the worker (or nothing is loaded).
bool stop_requested();
// True on the thread of the latest worker while it runs.
bool on_worker_thread();
// Worker threads started since the process began.
uint32_t workers_started();
// Worker threads whose function has not returned yet, given-up ones included.
uint32_t workers_alive();
// Workers given up on at unload since the process began.
uint32_t workers_given_up();

}  // namespace orq::async

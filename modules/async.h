// Asynchronous messaging as seen by the library's load and unload.
#pragma once

namespace orq::async {

void create_queue();
void create_worker_lock();
// Unload step 1: stop the worker (bounded wait, then terminate).
void stop_worker();
// Unload step 3 (registry lock held): drop queued requests without callbacks
// and remove the callback.
void clear_queue_and_callback();
void destroy_worker_lock();
void destroy_queue();

}  // namespace orq::async

// Placeholder until asynchronous messaging lands.
#include "modules/async.h"

namespace orq::async {

void create_queue() {}
void create_worker_lock() {}
void stop_worker() {}
void clear_queue_and_callback() {}
void destroy_worker_lock() {}
void destroy_queue() {}

}  // namespace orq::async

// Load and unload of the library's process-wide state.
#pragma once

namespace orq::lifecycle {

// Creates the process-wide objects in order and reads the setting.
void load();
// Stops the worker, closes the library's connections, drops the queue, then
// destroys the objects in reverse order.
void unload();

}  // namespace orq::lifecycle

// One asynchronous request answered through the library's callback, for the
// send command and the demo.
#pragma once

#include <cstdint>
#include <string>

namespace orqext {

struct AsyncAnswer {
    int32_t id = 0;
    int32_t result = 0;
    std::string bytes;
};

// Waits for the answer to request `id`: arm() before the send, then wait().
// The callback's state lives as long as the process, so a callback that runs
// late never touches memory of a finished command.
class AsyncWait {
public:
    // Prepares for request id and installs the callback; returns
    // ORQExt_SetAsyncFunc's result.
    static int32_t arm(int32_t id);
    // True with *out filled when the answer came within timeout_ms.
    static bool wait(int64_t timeout_ms, AsyncAnswer* out);
    // Ends a wait() without an answer (Ctrl-C in the shell after the request
    // was cancelled).
    static void abandon();
    // Stops taking answers (the callback stays installed until removed).
    static void disarm();
};

}  // namespace orqext

#include "core/message.h"

#include <climits>
#include <cstring>
#include <new>

#include "cluster/cluster.h"
#include "core/exchange.h"
#include "core/registry.h"
#include "core/result.h"
#include "core/xsr_call.h"

namespace orq {

namespace {

// The routing step: the handle the message goes out on, or -1203 when
// clustering is on for conn and no node serves the module.
int32_t route(int32_t conn, const char* module, int32_t* out) {
    *out = conn;
    if (!registry::cluster_enabled_or_create(conn)) return kOk;
    if (!module) return kNoNode;
    *out = cluster::select_node(conn, module);
    return *out == 0 ? kNoNode : kOk;
}

int32_t send_bytes(int32_t handle, const ByteBuffer& msg, void* answer, int32_t* answer_len,
                   int32_t time_limit_ms, int32_t cancel) {
    if (msg.used() > static_cast<std::size_t>(INT32_MAX)) return kBadArgument;
    return exchange(handle, kCmdModuleMessage, msg.data(), static_cast<int32_t>(msg.used()), answer,
                    answer_len, time_limit_ms, cancel);
}

// Builds module name NUL, [target NUL], NUL, payload and sends it on a handle
// that has already been routed.
int32_t send_built(int32_t handle, const char* module, const char* target, const void* payload,
                   std::size_t payload_len, void* answer, int32_t* answer_len,
                   int32_t time_limit_ms, int32_t cancel) {
    try {
        ByteBuffer buf;
        buf.append_string(module);
        buf.append_string(target);
        buf.append_byte(0);
        buf.append_block(payload, payload_len);
        return send_bytes(handle, buf, answer, answer_len, time_limit_ms, cancel);
    } catch (const std::bad_alloc&) {
        return kBadArgument;  // a payload too large to copy cannot be sent
    }
}

}  // namespace

int32_t send_module_message(int32_t conn, const char* module, const char* target,
                            const void* payload, std::size_t payload_len, void* answer,
                            int32_t* answer_len, int32_t time_limit_ms, int32_t cancel) {
    int32_t handle;
    int32_t rc = route(conn, module, &handle);
    if (rc != kOk) return rc;
    return send_built(handle, module, target, payload, payload_len, answer, answer_len,
                      time_limit_ms, cancel);
}

bool Frame::prefix_module(const char* module) const {
    const std::size_t n = std::strlen(module);
    unsigned char head[kHeadroom];
    if (n + 2 > sizeof head) return false;
    std::memcpy(head, module, n);
    head[n] = 0;
    head[n + 1] = 0;
    return buf_.prepend(head, n + 2);
}

int32_t send_frame(int32_t conn, const char* module, const Frame& frame, void* reply,
                   int32_t* reply_len) {
    int32_t handle;
    int32_t rc = route(conn, module, &handle);
    if (rc != kOk) return rc;
    if (module && frame.prefix_module(module))
        return send_bytes(handle, frame.buffer(), reply, reply_len, -1, 0);
    // Rare: a module name longer than the headroom. The message is built in
    // a buffer of its own and goes out on the handle already routed.
    const ByteBuffer& b = frame.buffer();
    return send_built(handle, module, nullptr, b.data(), b.used(), reply, reply_len, -1, 0);
}

}  // namespace orq

namespace orq {

bool ReplyArea::allocate(int64_t size) {
    if (size < 0 || size > INT32_MAX) return false;
    try {
        bytes_.assign(static_cast<std::size_t>(size), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

int32_t send_frame_area(int32_t conn, const char* module, const Frame& frame, ReplyArea& area,
                        int32_t* received) {
    int32_t len = area.size();
    int32_t rc = send_frame(conn, module, frame, area.size() ? area.data() : nullptr, &len);
    if (len < 0) len = 0;
    if (len > area.size()) len = area.size();
    *received = len;
    return rc;
}

}  // namespace orq

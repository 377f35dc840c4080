#include "core/message.h"

#include <climits>
#include <new>

#include "cluster/cluster.h"
#include "core/exchange.h"
#include "core/registry.h"
#include "core/result.h"
#include "core/xsr_call.h"

namespace orq {

int32_t send_module_message(int32_t conn, const char* module, const char* target,
                            const void* payload, std::size_t payload_len, void* answer,
                            int32_t* answer_len, int32_t time_limit_ms, int32_t cancel) {
    int32_t route = conn;
    if (registry::cluster_enabled_or_create(conn)) {
        if (!module) return kNoNode;
        route = cluster::select_node(conn, module);
        if (route == 0) return kNoNode;
    }

    ByteBuffer buf;
    buf.append_string(module);
    buf.append_string(target);
    buf.append_byte(0);
    buf.append_block(payload, payload_len);
    if (buf.used() > static_cast<std::size_t>(INT32_MAX)) return kBadArgument;

    return exchange(route, kCmdModuleMessage, buf.data(), static_cast<int32_t>(buf.used()), answer,
                    answer_len, time_limit_ms, cancel);
}

int32_t send_frame(int32_t conn, const char* module, const Frame& frame, void* reply,
                   int32_t* reply_len) {
    const ByteBuffer& b = frame.buffer();
    return send_module_message(conn, module, nullptr, b.data(), b.used(), reply, reply_len, -1, 0);
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

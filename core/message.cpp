#include "core/message.h"

#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "cluster/cluster.h"
#include "core/exchange.h"
#include "core/registry.h"
#include "core/result.h"
#include "core/xsr_call.h"

namespace orq {

int32_t route_slow(int32_t conn, const char* module, int32_t* out) noexcept {
    bool clustered;
    try {
        clustered = registry::cluster_enabled_or_create(conn);
    } catch (const std::bad_alloc&) {
        return kBadArgument;
    }
    if (!clustered) return kOk;
    if (!module) return kNoNode;
    *out = cluster::select_node(conn, module);
    return *out == 0 ? kNoNode : kOk;
}

int32_t send_built_large(int32_t handle, const char* module, std::size_t m, const char* target,
                         std::size_t t, const void* payload, std::size_t payload_len,
                         void* answer, int32_t* answer_len, int32_t time_limit_ms,
                         int32_t cancel) noexcept {
    const std::size_t total = m + t + 1 + payload_len;
    std::vector<unsigned char> msg;
    try {
        msg.resize(total);
    } catch (const std::bad_alloc&) {
        return kBadArgument;  // a payload too large to copy cannot be sent
    }
    unsigned char* at = msg.data();
    if (m) std::memcpy(at, module, m);
    at += m;
    if (t) std::memcpy(at, target, t);
    at += t;
    *at++ = 0;
    if (payload_len) std::memcpy(at, payload, payload_len);
    return exchange(handle, kCmdModuleMessage, msg.data(), static_cast<int32_t>(total), answer,
                    answer_len, time_limit_ms, cancel);
}

int32_t send_frame_slow(int32_t handle, const char* module, const Frame& frame, void* reply,
                        int32_t* reply_len) {
    // A module name longer than the headroom (or none): the message is built
    // in a buffer of its own and goes out on the handle already routed.
    const ByteBuffer& b = frame.buffer();
    return send_built(handle, module, nullptr, b.content(), b.used(), reply, reply_len, -1, 0);
}

}  // namespace orq

namespace orq {

unsigned char* ReplyArea::allocate_large(std::size_t n) {
    try {
        heap_.reset(new unsigned char[n]);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return heap_.get();
}

}  // namespace orq

// The one place that calls XSR_CommandEx: fills in the constant arguments and
// encodes the 16-byte command header.
#pragma once

#include <cstdint>

#include "core/bytes.h"
#include "xsr/xsrclient.h"

namespace orq {

// Command codes (first field of the command header).
enum CommandCode : uint16_t {
    kCmdAction = 1,
    kCmdModuleMessage = 2,
    kCmdAsyncMessage = 3,
    kCmdPoll = 4,
    kCmdTicket = 5,
    kCmdModuleList = 6,
    kCmdModuleInfo = 7,
    kCmdExtVersion = 8,
    kCmdText = 9,
    kCmdClusterAdd = 11,
    kCmdClusterDel = 12,
    kCmdClusterDescription = 13,
};

constexpr int32_t kRcPending = -9000;
constexpr int32_t kRcPart = -1108;

// Encodes the 16-byte command header.
inline void encode_header(unsigned char out[16], uint16_t code, int32_t a, int32_t b) {
    put_le16(out, code);
    put_le16(out + 2, 501);
    put_le32(out + 4, a);
    put_le32(out + 8, b);
    put_le32(out + 12, -1);
}

// Calls XSR_CommandEx with header {code, 501, a, b, -1} and the fixed
// constants of every call.
inline int32_t command_ex(int32_t handle, uint16_t code, int32_t a, int32_t b, void* answer,
                          int32_t* answer_len, const void* body, int32_t body_len,
                          const void* body2 = nullptr, int32_t body2_len = 0) {
    unsigned char header[16];
    encode_header(header, code, a, b);
    return XSR_CommandEx(handle, 32639, 0, 45000, answer, answer_len, header, 16, 0, body,
                         body_len, 0, body2, body2_len);
}

// The answer length a call reports, trusted only within what was offered:
// negative reads as 0, more than offered as offered.
inline int32_t clamp_received(int32_t returned, int32_t offered) {
    if (returned < 0) return 0;
    return returned > offered ? offered : returned;
}

}  // namespace orq

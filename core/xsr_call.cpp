#include "core/xsr_call.h"

#include "core/bytes.h"
#include "xsr/xsrclient.h"

namespace orq {

void encode_header(unsigned char out[16], uint16_t code, int32_t a, int32_t b) {
    put_le16(out, code);
    put_le16(out + 2, 501);
    put_le32(out + 4, a);
    put_le32(out + 8, b);
    put_le32(out + 12, -1);
}

int32_t command_ex(int32_t handle, uint16_t code, int32_t a, int32_t b, void* answer,
                   int32_t* answer_len, const void* body, int32_t body_len, const void* body2,
                   int32_t body2_len) {
    unsigned char header[16];
    encode_header(header, code, a, b);
    return XSR_CommandEx(handle, 32639, 0, 45000, answer, answer_len, header, 16, 0, body,
                         body_len, 0, body2, body2_len);
}

}  // namespace orq

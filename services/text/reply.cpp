#include "services/text/reply.h"

#include <cstring>

namespace orq::text {

int32_t send_only(int32_t conn, const Remote& r, const Frame& f) {
    return send_frame(conn, r.module, f, nullptr, nullptr);
}


void copy_from(const Reply& reply, uint64_t offset, void* out, int32_t n) {
    if (n > 0) std::memcpy(out, reply.data() + offset, static_cast<std::size_t>(n));
}




}  // namespace orq::text

namespace orq::text {

bool locate_text(const Reply& reply, uint64_t offset, int32_t cap, CountedText* t) {
    int32_t len = 0;
    if (!reply.int32_at(offset, &len) && offset != 0) return false;
    if (len < 0 || cap < 0) return false;
    const int32_t take = len < cap ? len : cap;
    if (take > 0 && !reply.has(offset + 4, static_cast<uint64_t>(take))) return false;
    t->announced = len;
    t->take = take;
    t->at = offset + 4;
    return true;
}

int32_t deliver_text(const Reply& reply, const CountedText& t, Overlong mode, void* buffer,
                     int32_t* length) {
    copy_from(reply, t.at, buffer, t.take);
    if (mode == Overlong::Cut || t.announced == t.take) {
        *length = t.take;
        return kOk;
    }
    *length = t.announced;
    return kAnswerTooLong;
}

}  // namespace orq::text

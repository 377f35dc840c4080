#include "services/text/reply.h"

#include <cstring>

namespace orq::text {

int32_t send_only(int32_t conn, const Remote& r, const Frame& f) {
    return send_frame(conn, r.module, r.module_len, f, nullptr, nullptr);
}

int32_t send_with_area(int32_t conn, const Remote& r, const Frame& f, int64_t size, Reply* reply) {
    if (!reply->area.allocate(size)) return kBadArgument;
    return send_frame_area(conn, r.module, r.module_len, f, reply->area, &reply->received);
}

void copy_from(const Reply& reply, uint64_t offset, void* out, int32_t n) {
    if (n > 0) std::memcpy(out, reply.data() + offset, static_cast<std::size_t>(n));
}

int32_t decode_segmentation(const Reply& reply, int32_t capacity, int32_t* items, int16_t* marks) {
    // The count comes from the zero-filled area whatever number of bytes
    // came: a reply of 01 00 announces one entry (and then lacks it).
    const int32_t count = get_le32(reply.data());
    if (count < 0 || count > capacity) return kBadReply;
    if (count == 0) return 0;
    const uint64_t k = static_cast<uint64_t>(count);
    if (!reply.has(4, 6 * k)) return kBadReply;
    const unsigned char* p = reply.data() + 4;
    get_le_array(p, items, static_cast<std::size_t>(k));
    get_le_array(p + 4 * k, marks, static_cast<std::size_t>(k));
    return count;
}

int32_t check_segmentation(const char* text, const int32_t* items, int32_t capacity,
                           const int16_t* marks) {
    if (!text || !*text || !items || capacity < 0 || (marks && capacity == 0)) return kBadArgument;
    return kOk;
}

int32_t segmentation_call(int32_t conn, const Remote& r, const Frame& f, int32_t* items,
                          int32_t capacity, int16_t* marks) {
    if (!marks) {
        // The exchange writes the reply straight into items.
        const int64_t bytes = 4 * static_cast<int64_t>(capacity);
        if (capacity < 0 || bytes > INT32_MAX) return kBadArgument;
        int32_t len = static_cast<int32_t>(bytes);
        return send_frame(conn, r.module, r.module_len, f, items, &len);
    }
    if (capacity <= 0) return kBadArgument;
    Reply reply;
    const int32_t rc = send_with_area(conn, r, f, 6 * static_cast<int64_t>(capacity), &reply);
    if (rc < 0) return rc;
    return decode_segmentation(reply, capacity, items, marks);
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

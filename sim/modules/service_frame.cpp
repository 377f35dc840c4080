#include "sim/modules/service_frame.h"

#include <cstring>

namespace xsrsim::svc {

const char* code_text(int32_t code) {
    switch (code) {
        case kErrFrame: return "malformed remote call frame";
        case kErrFunction: return "unknown remote function or engine selector";
        case kErrNotFound: return "no such dictionary, domain, handle, run or topic";
        case kErrExists: return "a dictionary or domain of that name exists already";
        case kErrValue: return "argument out of range";
        case kErrState: return "object not in the state the call needs";
        default: return nullptr;
    }
}

bool Args::i32(int32_t* v) {
    if (left() < 4) return false;
    const unsigned char* p = p_ + pos_;
    *v = static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                              (static_cast<uint32_t>(p[2]) << 16) |
                              (static_cast<uint32_t>(p[3]) << 24));
    pos_ += 4;
    return true;
}

bool Args::u8(uint8_t* v) {
    if (left() < 1) return false;
    *v = p_[pos_++];
    return true;
}

bool Args::str(std::string* s) {
    if (left() == 0) return false;
    const void* nul = std::memchr(p_ + pos_, 0, left());
    if (!nul) return false;
    const std::size_t len = static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - (p_ + pos_));
    s->assign(reinterpret_cast<const char*>(p_ + pos_), len);
    pos_ += len + 1;
    return true;
}

bool Args::block(std::size_t n, std::string* s) {
    if (n > left()) return false;
    if (n == 0) {
        s->clear();
        return true;
    }
    s->assign(reinterpret_cast<const char*>(p_ + pos_), n);
    pos_ += n;
    return true;
}

bool Args::strings_before(std::size_t tail, std::size_t max, std::vector<std::string>* out) {
    out->clear();
    if (left() < tail) return false;
    const std::size_t end = n_ - tail;
    if (end == pos_) return true;
    if (p_[end - 1] != 0) return false;
    while (pos_ < end) {
        if (out->size() == max) return false;
        const void* nul = std::memchr(p_ + pos_, 0, end - pos_);
        const std::size_t len = static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - (p_ + pos_));
        out->emplace_back(reinterpret_cast<const char*>(p_ + pos_), len);
        pos_ += len + 1;
    }
    return true;
}

bool open_call(const Bytes& frame, bool with_selector, ServiceCall* out) {
    RemoteCall rc;
    if (!parse_remote_call(frame, with_selector, &rc)) return false;
    out->selector = rc.selector;
    out->name = rc.function;
    out->args = Args(rc.args, rc.args_len);
    return true;
}

Out& Out::i32(int32_t v) {
    const uint32_t u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i) b_.push_back(static_cast<unsigned char>(u >> (8 * i)));
    return *this;
}

Out& Out::u8(uint8_t v) {
    b_.push_back(v);
    return *this;
}

Out& Out::text(const std::string& s) {
    b_.insert(b_.end(), s.begin(), s.end());
    return *this;
}

Out& Out::zeros(std::size_t n) {
    b_.insert(b_.end(), n, 0);
    return *this;
}

ModuleAnswer status(int32_t result) {
    ModuleAnswer a;
    a.result = result;
    return a;
}

ModuleAnswer answer(Bytes bytes, int32_t result) {
    ModuleAnswer a;
    a.result = result;
    a.bytes = std::move(bytes);
    return a;
}

bool put_counted(Out& out, const std::string& text, int64_t cap) {
    out.i32(static_cast<int32_t>(text.size()));
    if (cap <= 0) return text.empty();
    if (static_cast<uint64_t>(text.size()) <= static_cast<uint64_t>(cap)) {
        out.text(text);
        return true;
    }
    out.text(text.substr(0, static_cast<std::size_t>(cap)));
    return false;
}

std::string whole_lines(const std::string& text, int64_t cap) {
    if (cap <= 0) return std::string();
    if (static_cast<uint64_t>(text.size()) <= static_cast<uint64_t>(cap)) return text;
    const std::size_t last = text.rfind('\n', static_cast<std::size_t>(cap) - 1);
    return last == std::string::npos ? std::string() : text.substr(0, last + 1);
}

int64_t room(int64_t frame_cap, int32_t offered) {
    int64_t r = frame_cap < offered ? frame_cap : offered;
    return r < 0 ? 0 : r;
}

}  // namespace xsrsim::svc

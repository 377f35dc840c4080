#include "xsr/trace/frames.h"

#include <cstring>

namespace xsrtrace {

namespace {

int32_t le32(const std::string& s, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data() + at);
    return static_cast<int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24));
}

// The NUL-terminated string at *pos; false when no NUL follows.
bool cstring(const std::string& s, std::size_t* pos, std::string* out) {
    const std::size_t nul = s.find('\0', *pos);
    if (nul == std::string::npos) return false;
    out->assign(s, *pos, nul - *pos);
    *pos = nul + 1;
    return true;
}

bool printable(unsigned char c) { return c >= 0x20 && c < 0x7F; }

bool mostly_text(const std::string& s) {
    if (s.empty()) return false;
    for (unsigned char c : s)
        if (!printable(c) && c < 0x80) return false;
    return true;
}

// The remote call frame of a service module: [int32 selector] "r!" NUL name NUL args.
void read_frame(const std::string& frame, Message* m) {
    static const char kMark[] = {'r', '!', '\0'};
    std::size_t at = 0;
    if (frame.size() >= 3 && std::memcmp(frame.data(), kMark, 3) == 0) {
        at = 0;
    } else if (frame.size() >= 7 && std::memcmp(frame.data() + 4, kMark, 3) == 0) {
        m->has_selector = true;
        m->selector = le32(frame, 0);
        at = 4;
    } else {
        m->payload = frame;
        return;
    }
    std::size_t pos = at + 3;
    if (!cstring(frame, &pos, &m->function)) {
        m->malformed = true;
        return;
    }
    m->remote = true;
    m->args = frame.substr(pos);
}

}  // namespace

std::string command_name(uint16_t code) {
    switch (code) {
        case 1: return "action";
        case 2: return "module message";
        case 3: return "async message";
        case 4: return "poll";
        case 5: return "ticket";
        case 6: return "module list";
        case 7: return "module info";
        case 8: return "extension version";
        case 9: return "text";
        case 11: return "cluster add";
        case 12: return "cluster delete";
        case 13: return "cluster description";
        default: return "command " + std::to_string(code);
    }
}

Message read_message(const Record& r) {
    Message m;
    const uint16_t code = r.code();
    if (code != 2 && code != 3) return m;
    m.is_message = true;
    // module NUL, [target NUL], NUL, then the payload (code 2); code 3 sends
    // the names as the body and the payload as body2.
    const std::string& b = r.body;
    std::size_t pos = 0;
    std::string second;
    if (!cstring(b, &pos, &m.module) || !cstring(b, &pos, &second)) {
        m.malformed = true;
        return m;
    }
    if (!second.empty()) {
        m.target = second;
        if (pos >= b.size() || b[pos] != '\0') {
            m.malformed = true;
            return m;
        }
        ++pos;
    }
    read_frame(code == 2 ? b.substr(pos) : r.body2, &m);
    return m;
}

bool read_ticket(const std::string& bytes, int32_t* t0, int32_t* t1) {
    if (bytes.size() < 8) return false;
    *t0 = le32(bytes, 0);
    *t1 = le32(bytes, 4);
    return true;
}

std::string format_args(const std::string& a) {
    std::string out;
    std::size_t pos = 0;
    auto sep = [&] {
        if (!out.empty()) out += ", ";
    };
    while (pos < a.size()) {
        const std::size_t nul = a.find('\0', pos);
        if (nul != std::string::npos && nul > pos && mostly_text(a.substr(pos, nul - pos))) {
            sep();
            out += '"' + a.substr(pos, nul - pos) + '"';
            pos = nul + 1;
        } else if (a.size() - pos >= 4) {
            sep();
            out += std::to_string(le32(a, pos));
            pos += 4;
        } else {
            sep();
            out += "byte " + std::to_string(static_cast<unsigned char>(a[pos]));
            ++pos;
        }
    }
    return out;
}

std::string show_bytes(const std::string& bytes, std::size_t max) {
    const std::string head = bytes.substr(0, max);
    std::string out;
    if (mostly_text(head)) {
        out = '"' + head + '"';
    } else {
        out = to_hex(head);
    }
    if (bytes.size() > max) out += "... (" + std::to_string(bytes.size()) + " bytes)";
    return out;
}

}  // namespace xsrtrace

#include "xsr/trace/trace.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

namespace xsrtrace {

namespace {

constexpr const char* kFnNames[] = {"open", "close", "isvalid", "check", "command"};

bool safe_char(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_' || c == ':' || c == '/';
}

std::string pct(const std::string& s) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (safe_char(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool unpct(const std::string& s, std::string* out) {
    out->clear();
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out->push_back(s[i]);
            continue;
        }
        if (i + 2 >= s.size()) return false;
        const int hi = hex_digit(s[i + 1]), lo = hex_digit(s[i + 2]);
        if (hi < 0 || lo < 0) return false;
        out->push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    return true;
}

bool to_i64(const std::string& s, int64_t* v) {
    if (s.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long x = std::strtoll(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    *v = x;
    return true;
}

bool to_i32(const std::string& s, int32_t* v) {
    int64_t x = 0;
    if (!to_i64(s, &x) || x < INT32_MIN || x > INT32_MAX) return false;
    *v = static_cast<int32_t>(x);
    return true;
}

bool to_u64(const std::string& s, uint64_t* v) {
    if (s.empty() || s[0] == '-') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long x = std::strtoull(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    *v = x;
    return true;
}

}  // namespace

const char* fn_name(Fn fn) { return kFnNames[static_cast<int>(fn)]; }

uint16_t Record::code() const {
    if (header.size() < 2) return 0;
    return static_cast<uint16_t>(static_cast<unsigned char>(header[0]) |
                                 (static_cast<unsigned char>(header[1]) << 8));
}

std::string to_hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out(bytes.size() * 2, '0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        out[2 * i] = digits[c >> 4];
        out[2 * i + 1] = digits[c & 15];
    }
    return out;
}

bool from_hex(const std::string& hex, std::string* bytes) {
    if (hex.size() % 2) return false;
    bytes->assign(hex.size() / 2, '\0');
    for (std::size_t i = 0; i < bytes->size(); ++i) {
        const int hi = hex_digit(hex[2 * i]), lo = hex_digit(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        (*bytes)[i] = static_cast<char>(hi * 16 + lo);
    }
    return true;
}

std::string encode(const Record& r) {
    std::ostringstream o;
    o << kTag << ' ' << fn_name(r.fn) << " seq=" << r.seq << " pid=" << r.pid << " tid=" << r.thread
      << " t=" << r.start_us << " us=" << r.duration_us << " rc=" << r.result;
    switch (r.fn) {
        case Fn::Open:
            o << " srv=" << pct(r.server) << " port=" << r.port << " user=" << pct(r.user)
              << " lsrv=" << pct(r.login_server);
            if (r.password_recorded) o << " pw=" << pct(r.password);
            o << " h=" << r.handle;
            break;
        case Fn::Check:
            o << " srv=" << pct(r.server) << " port=" << r.port;
            break;
        case Fn::Close:
        case Fn::IsValid:
            o << " h=" << r.handle;
            break;
        case Fn::Command:
            o << " h=" << r.handle << " magic=" << r.magic << " hint=" << r.timeout_hint;
            if (r.len_null) o << " nolen=1";
            else o << " cap=" << r.capacity << " len=" << r.answer_len;
            if (r.answer_null) o << " noans=1";
            o << " hdr=" << to_hex(r.header) << " body=" << to_hex(r.body);
            if (r.body2_null) o << " nobody2=1";
            else o << " body2=" << to_hex(r.body2);
            o << " ans=" << to_hex(r.answer);
            break;
    }
    o << '\n';
    return o.str();
}

Parse decode(const std::string& line_in, Record* out) {
    std::string line = line_in;
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream in(line);
    std::string tag, fn;
    if (!(in >> tag)) return Parse::NotTrace;
    if (tag.size() < 3 || tag[0] != 'X' || tag[1] != 'T') return Parse::NotTrace;
    if (tag != kTag) return Parse::OtherVersion;
    if (!(in >> fn)) return Parse::Malformed;
    Record r;
    bool known = false;
    for (int i = 0; i < 5; ++i)
        if (fn == kFnNames[i]) {
            r.fn = static_cast<Fn>(i);
            known = true;
        }
    if (!known) return Parse::Malformed;

    std::map<std::string, std::string> kv;
    std::string tok;
    while (in >> tok) {
        const auto eq = tok.find('=');
        if (eq == std::string::npos || eq == 0) return Parse::Malformed;
        if (!kv.emplace(tok.substr(0, eq), tok.substr(eq + 1)).second) return Parse::Malformed;
    }
    auto has = [&](const char* k) { return kv.count(k) > 0; };
    auto i32 = [&](const char* k, int32_t* v) { return has(k) && to_i32(kv[k], v); };
    auto text = [&](const char* k, std::string* v) { return has(k) && unpct(kv[k], v); };
    auto bytes = [&](const char* k, std::string* v) { return has(k) && from_hex(kv[k], v); };

    if (!has("seq") || !to_u64(kv["seq"], &r.seq)) return Parse::Malformed;
    if (!has("pid") || !to_u64(kv["pid"], &r.pid)) return Parse::Malformed;
    if (!has("tid") || !to_u64(kv["tid"], &r.thread)) return Parse::Malformed;
    if (!has("t") || !to_i64(kv["t"], &r.start_us)) return Parse::Malformed;
    if (!has("us") || !to_i64(kv["us"], &r.duration_us)) return Parse::Malformed;
    if (!i32("rc", &r.result)) return Parse::Malformed;
    bool ok = true;
    switch (r.fn) {
        case Fn::Open:
            ok = text("srv", &r.server) && i32("port", &r.port) && text("user", &r.user) &&
                 text("lsrv", &r.login_server) && i32("h", &r.handle);
            if (ok && has("pw")) {
                r.password_recorded = true;
                ok = text("pw", &r.password);
            }
            break;
        case Fn::Check:
            ok = text("srv", &r.server) && i32("port", &r.port);
            break;
        case Fn::Close:
        case Fn::IsValid:
            ok = i32("h", &r.handle);
            break;
        case Fn::Command:
            ok = i32("h", &r.handle) && i32("magic", &r.magic) && i32("hint", &r.timeout_hint) &&
                 bytes("hdr", &r.header) && bytes("body", &r.body) && bytes("ans", &r.answer);
            r.len_null = has("nolen");
            if (ok && !r.len_null) ok = i32("cap", &r.capacity) && i32("len", &r.answer_len);
            r.answer_null = has("noans");
            r.body2_null = has("nobody2");
            if (ok && !r.body2_null) ok = bytes("body2", &r.body2);
            break;
    }
    if (!ok) return Parse::Malformed;
    *out = std::move(r);
    return Parse::Ok;
}

bool read_file(const std::string& path, File* out, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    *out = File();
    std::size_t pos = 0;
    while (pos < all.size()) {
        const std::size_t nl = all.find('\n', pos);
        ++out->lines;
        if (nl == std::string::npos) {
            out->torn_tail = true;  // a record cut short: not counted
            break;
        }
        const std::string line = all.substr(pos, nl - pos);
        pos = nl + 1;
        if (line.empty()) continue;
        Record r;
        switch (decode(line, &r)) {
            case Parse::Ok: out->records.push_back(std::move(r)); continue;
            case Parse::OtherVersion:
                out->damaged.push_back({out->lines, "a record of another format version (" +
                                                        line.substr(0, std::min<std::size_t>(line.find(' '), 8)) + ")"});
                break;
            case Parse::NotTrace: out->damaged.push_back({out->lines, "no trace record"}); break;
            case Parse::Malformed:
                out->damaged.push_back({out->lines, "no complete record of format version " +
                                                        std::to_string(kVersion)});
                break;
        }
        ++out->malformed;
    }
    // Numbers run from 1 in each process without a break.
    std::map<uint64_t, std::vector<uint64_t>> seqs;
    for (const Record& r : out->records) seqs[r.pid].push_back(r.seq);
    for (auto& p : seqs) {
        std::sort(p.second.begin(), p.second.end());
        uint64_t expect = 1;
        for (uint64_t s : p.second) {
            if (s > expect) out->gaps.push_back({p.first, expect, s - 1});
            expect = s + 1;
        }
    }
    return true;
}

std::vector<std::string> damage_report(const File& f) {
    std::vector<std::string> out;
    for (const File::Damage& d : f.damaged) out.push_back("line " + std::to_string(d.line) + " is damaged: " + d.why);
    if (f.torn_tail)
        out.push_back("line " + std::to_string(f.lines) + ", the last, is cut short (the program ended while writing it)");
    for (const File::Gap& g : f.gaps)
        out.push_back((g.first == g.last ? "record #" + std::to_string(g.first) + " of process " + std::to_string(g.pid) + " is"
                                         : "records #" + std::to_string(g.first) + " to #" + std::to_string(g.last) +
                                               " of process " + std::to_string(g.pid) + " are") +
                      " missing");
    return out;
}

}  // namespace xsrtrace

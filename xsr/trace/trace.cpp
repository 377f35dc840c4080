#include "xsr/trace/trace.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>

#include "platform/files.h"

#if defined(_WIN32)
#include <sys/stat.h>
#include <sys/types.h>
#else
#include <sys/stat.h>
#endif

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

namespace {

// The key=value fields of a line, as ranges of it: no copy of the line.
struct Fields {
    struct Field {
        std::size_t key, key_len, value, value_len;
    };
    const std::string* line = nullptr;
    std::vector<Field> list;
    const Field* find(const char* k) const {
        const std::size_t n = std::strlen(k);
        for (const Field& f : list)
            if (f.key_len == n && line->compare(f.key, n, k) == 0) return &f;
        return nullptr;
    }
    bool has(const char* k) const { return find(k) != nullptr; }
    std::string value(const Field& f) const { return line->substr(f.value, f.value_len); }
};

bool hex_range(const std::string& line, std::size_t at, std::size_t n, std::string* bytes) {
    if (n % 2) return false;
    bytes->assign(n / 2, '\0');
    for (std::size_t i = 0; i < bytes->size(); ++i) {
        const int hi = hex_digit(line[at + 2 * i]), lo = hex_digit(line[at + 2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        (*bytes)[i] = static_cast<char>(hi * 16 + lo);
    }
    return true;
}

constexpr std::size_t kMaxWords = 64;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

}  // namespace

Parse decode(const std::string& line, Record* out) {
    std::size_t end = line.size();
    while (end > 0 && (line[end - 1] == '\n' || line[end - 1] == '\r')) --end;
    // Words separated by blanks.
    std::vector<std::pair<std::size_t, std::size_t>> words;
    for (std::size_t i = 0; i < end;) {
        while (i < end && is_blank(line[i])) ++i;
        if (i >= end) break;
        const std::size_t from = i;
        while (i < end && !is_blank(line[i])) ++i;
        words.emplace_back(from, i - from);
        if (words.size() > kMaxWords) break;  // more than any record has
    }
    if (words.empty()) return Parse::NotTrace;
    const std::string tag = line.substr(words[0].first, words[0].second);
    if (tag.size() < 3 || tag[0] != 'X' || tag[1] != 'T') return Parse::NotTrace;
    if (tag != kTag) return Parse::OtherVersion;
    if (words.size() < 2 || words.size() > kMaxWords) return Parse::Malformed;
    const std::string fn = line.substr(words[1].first, words[1].second);
    Record r;
    bool known = false;
    for (int i = 0; i < 5; ++i)
        if (fn == kFnNames[i]) {
            r.fn = static_cast<Fn>(i);
            known = true;
        }
    if (!known) return Parse::Malformed;

    Fields kv;
    kv.line = &line;
    for (std::size_t w = 2; w < words.size(); ++w) {
        const std::size_t at = words[w].first, n = words[w].second;
        const std::size_t eq = line.find('=', at);
        if (eq == std::string::npos || eq >= at + n || eq == at) return Parse::Malformed;
        Fields::Field f{at, eq - at, eq + 1, at + n - eq - 1};
        for (const Fields::Field& g : kv.list)
            if (g.key_len == f.key_len && line.compare(g.key, g.key_len, line, f.key, f.key_len) == 0)
                return Parse::Malformed;
        kv.list.push_back(f);
    }
    auto has = [&](const char* k) { return kv.has(k); };
    auto i32 = [&](const char* k, int32_t* v) {
        const Fields::Field* f = kv.find(k);
        return f && to_i32(kv.value(*f), v);
    };
    auto text = [&](const char* k, std::string* v) {
        const Fields::Field* f = kv.find(k);
        return f && unpct(kv.value(*f), v);
    };
    auto bytes = [&](const char* k, std::string* v) {
        const Fields::Field* f = kv.find(k);
        return f && hex_range(line, f->value, f->value_len, v);
    };
    auto u64 = [&](const char* k, uint64_t* v) {
        const Fields::Field* f = kv.find(k);
        return f && to_u64(kv.value(*f), v);
    };
    auto i64 = [&](const char* k, int64_t* v) {
        const Fields::Field* f = kv.find(k);
        return f && to_i64(kv.value(*f), v);
    };

    if (!u64("seq", &r.seq) || !u64("pid", &r.pid) || !u64("tid", &r.thread)) return Parse::Malformed;
    if (!i64("t", &r.start_us) || !i64("us", &r.duration_us)) return Parse::Malformed;
    if (!i32("rc", &r.result)) return Parse::Malformed;
    if (r.start_us < -kMaxTimeUs || r.start_us > kMaxTimeUs || r.duration_us < 0 || r.duration_us > kMaxTimeUs)
        return Parse::BadTime;
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

struct Reader::State {
    orq::platform::File file;
    std::unique_ptr<orq::platform::LineReader> lines;
    std::map<uint64_t, uint64_t> last_seq;  // per process
    std::string line;
};

Reader::Reader(std::size_t max_line) : max_line_(max_line), state_(new State) {}
Reader::~Reader() { delete state_; }

std::vector<std::string> Reader::files_of(const std::string& path) {
    // The rotated files run PATH.1, PATH.2, ... without a hole; the newest
    // is PATH.1.
    std::vector<std::string> rotated;
    for (int n = 1; n <= 9999; ++n) {
        const std::string p = path + "." + std::to_string(n);
#if defined(_WIN32)
        struct _stat64 st;
        if (_stat64(p.c_str(), &st) != 0) break;
#else
        struct stat st;
        if (stat(p.c_str(), &st) != 0) break;
#endif
        rotated.push_back(p);
    }
    std::vector<std::string> out(rotated.rbegin(), rotated.rend());
    out.push_back(path);
    return out;
}

bool Reader::open_file(std::size_t i) {
    orq::platform::FileProblem problem;
    state_->lines.reset();
    if (!orq::platform::open_for_reading(files_[i], orq::platform::ReadRule::Any, &state_->file, &problem)) {
        error_ = "cannot open " + files_[i] + ": " + problem.why;
        return false;
    }
    state_->lines.reset(new orq::platform::LineReader(&state_->file, max_line_));
    file_ = i;
    line_ = 0;
    return true;
}

bool Reader::open(const std::string& path, std::string* error) {
    files_ = files_of(path);
    // Every file is examined first: a set with a FIFO in it is refused
    // before anything is read.
    for (std::size_t i = files_.size(); i-- > 0;)
        if (!open_file(i)) {
            *error = error_;
            return false;
        }
    return true;
}

void Reader::damage(std::size_t line, std::string why) {
    ++damaged_lines_;
    if (damaged_.size() < kKeptNotes)
        damaged_.push_back({files_.size() > 1 ? files_[file_] : std::string(), line, std::move(why)});
}

void Reader::check_number(const Record& r) {
    auto it = state_->last_seq.find(r.pid);
    if (it == state_->last_seq.end()) {
        if (state_->last_seq.size() >= kMaxProcesses) {
            unchecked_ = true;
            return;
        }
        it = state_->last_seq.emplace(r.pid, 0).first;
    }
    // A number at or below the last one starts a new run of the process
    // (a process id used again).
    if (r.seq > it->second + 1) {
        ++gap_count_;
        missing_ += r.seq - it->second - 1;
        if (gaps_.size() < kKeptNotes) gaps_.push_back({r.pid, it->second + 1, r.seq - 1});
    }
    it->second = r.seq;
}

bool Reader::next(Record* r) {
    for (;;) {
        if (!state_->lines) return false;
        bool torn = false, long_line = false;
        std::string& line = state_->line;
        if (!state_->lines->next(&line, &torn, &long_line)) {
            if (!state_->lines->error().empty()) {
                error_ = "cannot read " + files_[file_] + ": " + state_->lines->error();
                state_->lines.reset();
                return false;
            }
            if (file_ + 1 >= files_.size()) {
                state_->lines.reset();
                state_->file.close();
                return false;
            }
            if (!open_file(file_ + 1)) return false;
            continue;
        }
        ++line_;
        if (torn && !long_line) {
            // A record cut short: not counted. Within a rotated set only the
            // last file's last line is still being written.
            if (file_ + 1 >= files_.size())
                torn_tail_ = true;
            else
                damage(line_, "cut short (the program ended while writing it)");
            continue;
        }
        if (long_line) {
            damage(line_, "longer than the longest record (" + std::to_string(max_line_) + " bytes); skipped");
            continue;
        }
        if (line.empty()) continue;
        switch (decode(line, r)) {
            case Parse::Ok:
                ++records_;
                check_number(*r);
                return true;
            case Parse::OtherVersion:
                damage(line_, "a record of another format version (" +
                                  line.substr(0, std::min<std::size_t>(line.find(' '), 8)) + ")");
                break;
            case Parse::NotTrace: damage(line_, "no trace record"); break;
            case Parse::Malformed:
                damage(line_, "no complete record of format version " + std::to_string(kVersion));
                break;
            case Parse::BadTime:
                damage(line_, "a time out of range (t= beyond year 9999 either side of 1970, or us= negative or "
                              "as long)");
                break;
        }
    }
}

std::vector<std::string> Reader::damage_report() const {
    std::vector<std::string> out;
    for (const Damage& d : damaged_)
        out.push_back((d.file.empty() ? std::string() : d.file + " ") + "line " + std::to_string(d.line) +
                      " is damaged: " + d.why);
    if (damaged_lines_ > damaged_.size())
        out.push_back(std::to_string(damaged_lines_ - damaged_.size()) + " more damaged line(s)");
    if (torn_tail_)
        out.push_back((files_.size() > 1 ? files_.back() + " " : std::string()) + "line " + std::to_string(line_) +
                      ", the last, is cut short (the program ended while writing it)");
    for (const Gap& g : gaps_)
        out.push_back((g.first == g.last ? "record #" + std::to_string(g.first) + " of process " + std::to_string(g.pid) + " is"
                                         : "records #" + std::to_string(g.first) + " to #" + std::to_string(g.last) +
                                               " of process " + std::to_string(g.pid) + " are") +
                      " missing");
    if (gap_count_ > gaps_.size())
        out.push_back(std::to_string(gap_count_ - gaps_.size()) + " more gap(s) in the record numbers");
    if (unchecked_)
        out.push_back("the record numbers of processes after the first " + std::to_string(kMaxProcesses) +
                      " are not checked");
    return out;
}

bool read_file(const std::string& path, File* out, std::string* error) {
    Reader reader;
    if (!reader.open(path, error)) return false;
    *out = File();
    Record r;
    while (reader.next(&r)) out->records.push_back(std::move(r));
    if (!reader.error().empty()) {
        *error = reader.error();
        return false;
    }
    out->malformed = static_cast<int>(reader.damaged_lines());
    out->torn_tail = reader.torn_tail();
    out->report = reader.damage_report();
    out->missing = reader.missing_records();
    return true;
}

std::vector<std::string> damage_report(const File& f) { return f.report; }

}  // namespace xsrtrace

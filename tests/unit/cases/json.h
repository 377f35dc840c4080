// A small JSON reader for the case table (tests/cases): objects, arrays,
// strings (\uXXXX as UTF-8, \u0000 a NUL byte), integers, true, false, null.
// A malformed file throws std::runtime_error with the offset.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace cases_json {

struct Value {
    enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
    bool b = false;
    int64_t n = 0;
    std::string s;
    std::vector<Value> a;
    std::map<std::string, Value> o;

    bool has(const std::string& k) const { return kind == Kind::Object && o.count(k) != 0; }
    const Value& operator[](const std::string& k) const {
        auto it = o.find(k);
        if (kind != Kind::Object || it == o.end()) throw std::runtime_error("no key " + k);
        return it->second;
    }
    int32_t i32() const { return static_cast<int32_t>(n); }
};

class Reader {
public:
    explicit Reader(const std::string& text) : t_(text) {}
    Value parse() {
        Value v = value();
        space();
        if (at_ != t_.size()) fail("trailing bytes");
        return v;
    }

private:
    [[noreturn]] void fail(const char* what) const {
        throw std::runtime_error(std::string("JSON: ") + what + " at " + std::to_string(at_));
    }
    void space() {
        while (at_ < t_.size() && (t_[at_] == ' ' || t_[at_] == '\n' || t_[at_] == '\r' || t_[at_] == '\t')) ++at_;
    }
    bool take(char c) {
        space();
        if (at_ < t_.size() && t_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    void expect(char c) {
        if (!take(c)) fail("unexpected character");
    }
    bool word(const char* w) {
        const std::string s(w);
        if (t_.compare(at_, s.size(), s) == 0) {
            at_ += s.size();
            return true;
        }
        return false;
    }
    static void utf8(std::string& out, uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    uint32_t hex4() {
        if (at_ + 4 > t_.size()) fail("short \\u escape");
        const uint32_t v = static_cast<uint32_t>(std::stoul(t_.substr(at_, 4), nullptr, 16));
        at_ += 4;
        return v;
    }
    std::string string() {
        expect('"');
        std::string out;
        while (at_ < t_.size() && t_[at_] != '"') {
            char c = t_[at_++];
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= t_.size()) fail("bad escape");
            c = t_[at_++];
            switch (c) {
                case 'n': out += '\n'; break;
                case 't': out += '\t'; break;
                case 'r': out += '\r'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'u': {
                    uint32_t cp = hex4();
                    if (cp >= 0xD800 && cp < 0xDC00 && word("\\u")) cp = 0x10000 + ((cp - 0xD800) << 10) + (hex4() - 0xDC00);
                    utf8(out, cp);
                    break;
                }
                default: out += c;
            }
        }
        if (at_ >= t_.size()) fail("unterminated string");
        ++at_;
        return out;
    }
    Value value() {
        space();
        Value v;
        if (at_ >= t_.size()) fail("end of text");
        const char c = t_[at_];
        if (c == '{') {
            ++at_;
            v.kind = Value::Kind::Object;
            if (take('}')) return v;
            do {
                space();
                std::string k = string();
                expect(':');
                v.o[k] = value();
            } while (take(','));
            expect('}');
        } else if (c == '[') {
            ++at_;
            v.kind = Value::Kind::Array;
            if (take(']')) return v;
            do v.a.push_back(value());
            while (take(','));
            expect(']');
        } else if (c == '"') {
            v.kind = Value::Kind::String;
            v.s = string();
        } else if (word("true")) {
            v.kind = Value::Kind::Bool;
            v.b = true;
        } else if (word("false")) {
            v.kind = Value::Kind::Bool;
        } else if (word("null")) {
        } else {
            std::size_t used = 0;
            v.kind = Value::Kind::Number;
            v.n = std::stoll(t_.substr(at_, 24), &used);
            if (used == 0) fail("not a value");
            at_ += used;
        }
        return v;
    }

    const std::string& t_;
    std::size_t at_ = 0;
};

inline Value parse(const std::string& text) { return Reader(text).parse(); }

// How a test framework prints a value it was given (a case of the table:
// its name, not its bytes).
inline void PrintTo(const Value& v, std::ostream* os) {
    if (v.has("name")) *os << v["name"].s;
    else *os << "(value)";
}

}  // namespace cases_json

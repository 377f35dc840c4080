#include "tools/orqext/value.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "common/utf8.h"

namespace orqext {

Value Value::boolean(bool b) {
    Value v;
    v.kind_ = Kind::Bool;
    v.b_ = b;
    return v;
}

Value Value::integer(int64_t i) {
    Value v;
    v.kind_ = Kind::Int;
    v.i_ = i;
    return v;
}

Value Value::integer(int64_t i, std::string unit) {
    Value v = integer(i);
    v.unit_ = std::move(unit);
    return v;
}

Value Value::text(std::string s) {
    Value v;
    v.kind_ = Kind::Text;
    v.s_ = std::move(s);
    return v;
}

Value Value::bytes(const void* p, std::size_t n) {
    Value v;
    v.kind_ = Kind::Bytes;
    if (n) v.s_.assign(static_cast<const char*>(p), n);
    return v;
}

Value Value::list() {
    Value v;
    v.kind_ = Kind::List;
    return v;
}

Value Value::object() {
    Value v;
    v.kind_ = Kind::Object;
    return v;
}

Value& Value::push(Value v) {
    items_.push_back(std::move(v));
    return *this;
}

Value& Value::set(const std::string& key, Value v) {
    for (auto& f : fields_)
        if (f.first == key) {
            f.second = std::move(v);
            return *this;
        }
    fields_.emplace_back(key, std::move(v));
    return *this;
}

const Value* Value::get(const std::string& key) const {
    for (const auto& f : fields_)
        if (f.first == key) return &f.second;
    return nullptr;
}

namespace {

// Display width: one column per character.
std::size_t width(const std::string& s) {
    std::size_t w = 0;
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = orqcommon::utf8_sequence_at(s, i);
        i += n ? n : 1;
        ++w;
    }
    return w;
}

std::string pad(const std::string& s, std::size_t w) {
    const std::size_t have = width(s);
    return have >= w ? s : s + std::string(w - have, ' ');
}

bool scalar(const Value& v) {
    return v.kind() == Value::Kind::Null || v.kind() == Value::Kind::Bool || v.kind() == Value::Kind::Int ||
           v.kind() == Value::Kind::Text;
}

void write_json(std::ostream& out, const Value& v, int indent);

// One cell or one value on a line: scalars as they read, others as JSON.
std::string cell(const Value& v, const RenderOptions& opt) {
    switch (v.kind()) {
        case Value::Kind::Null: return "-";
        case Value::Kind::Bool: return v.as_bool() ? "yes" : "no";
        case Value::Kind::Int: return std::to_string(v.as_int()) + v.unit();
        case Value::Kind::Text: return terminal_safe(v.as_text());
        case Value::Kind::Bytes:
            if (!opt.hex && printable_text(v.as_text()) && v.as_text().find('\n') == std::string::npos)
                return terminal_safe(v.as_text());
            return hex_of(v.as_text());
        default: {
            std::ostringstream os;
            write_json(os, v, -1);
            return os.str();
        }
    }
}

// Text of several lines, each indented and made safe for the terminal.
void indent_lines(std::ostream& out, const std::string& text, const std::string& prefix) {
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t e = text.find('\n', i);
        if (e == std::string::npos) e = text.size();
        out << prefix << terminal_safe(text.substr(i, e - i), true) << "\n";
        i = e + 1;
    }
}

void render_table(std::ostream& out, const std::vector<Value>& rows, const std::string& prefix,
                  const RenderOptions& opt) {
    std::vector<std::string> cols;
    for (const Value& r : rows)
        for (const auto& f : r.fields())
            if (std::find(cols.begin(), cols.end(), f.first) == cols.end()) cols.push_back(f.first);
    std::vector<std::vector<std::string>> cells;
    std::vector<std::size_t> w(cols.size());
    for (std::size_t c = 0; c < cols.size(); ++c) w[c] = width(cols[c]);
    for (const Value& r : rows) {
        std::vector<std::string> line;
        for (std::size_t c = 0; c < cols.size(); ++c) {
            const Value* f = r.get(cols[c]);
            line.push_back(f ? cell(*f, opt) : "");
            w[c] = std::max(w[c], width(line.back()));
        }
        cells.push_back(std::move(line));
    }
    auto emit = [&](const std::vector<std::string>& line) {
        std::string s = prefix;
        for (std::size_t c = 0; c < line.size(); ++c) s += (c + 1 < line.size() ? pad(line[c], w[c] + 2) : line[c]);
        out << s << "\n";
    };
    emit(cols);
    std::vector<std::string> rule;
    for (std::size_t c = 0; c < cols.size(); ++c) rule.push_back(std::string(w[c], '-'));
    emit(rule);
    for (const auto& line : cells) emit(line);
}

// Lines of text one per line; when every one holds tab-separated fields,
// the fields are aligned in columns.
void render_lines(std::ostream& out, const std::vector<Value>& items, const std::string& prefix,
                  const RenderOptions& opt) {
    std::vector<std::vector<std::string>> rows;
    bool tabs = true;
    for (const Value& i : items) {
        const std::string c = i.kind() == Value::Kind::Text ? i.as_text() : cell(i, opt);
        if (i.kind() != Value::Kind::Text || c.find('\t') == std::string::npos) tabs = false;
        std::vector<std::string> f;
        std::size_t at = 0;
        while (at <= c.size()) {
            std::size_t t = c.find('\t', at);
            if (t == std::string::npos) t = c.size();
            f.push_back(terminal_safe(c.substr(at, t - at)));
            at = t + 1;
        }
        rows.push_back(f);
    }
    std::vector<std::size_t> w;
    for (const auto& r : rows)
        for (std::size_t k = 0; k < r.size(); ++k) {
            if (w.size() <= k) w.push_back(0);
            w[k] = std::max(w[k], width(r[k]));
        }
    for (std::size_t n = 0; n < items.size(); ++n) {
        if (!tabs) {
            out << prefix << cell(items[n], opt) << "\n";
            continue;
        }
        std::string line = prefix;
        for (std::size_t k = 0; k < rows[n].size(); ++k)
            line += k + 1 < rows[n].size() ? pad(rows[n][k], w[k] + 2) : rows[n][k];
        out << line << "\n";
    }
}

void render_object(std::ostream& out, const Value& v, const std::string& prefix, const RenderOptions& opt) {
    std::size_t kw = 0;
    for (const auto& f : v.fields()) kw = std::max(kw, width(f.first));
    for (const auto& f : v.fields()) {
        const Value& x = f.second;
        const std::string key = prefix + pad(f.first, kw + 2);
        if (scalar(x)) {
            const std::string s = cell(x, opt);
            const std::size_t nl = s.find('\n');
            if (nl == std::string::npos) {
                out << key << s << "\n";
            } else {
                out << prefix << f.first << ":\n";
                indent_lines(out, s, prefix + "  ");
            }
        } else if (x.kind() == Value::Kind::Bytes) {
            const std::string& b = x.as_text();
            if (b.empty()) {
                out << key << "(empty)\n";
            } else if (!opt.hex && printable_text(b)) {
                if (b.find('\n') == std::string::npos) {
                    out << key << terminal_safe(b, true) << "\n";
                } else {
                    out << prefix << f.first << ":\n";
                    indent_lines(out, b, prefix + "  ");
                }
            } else {
                out << prefix << f.first << " (" << byte_count(b.size()) << "):\n";
                indent_lines(out, hex_dump(b), prefix + "  ");
            }
        } else if (x.kind() == Value::Kind::List) {
            if (x.items().empty()) {
                out << key << "(none)\n";
            } else if (x.items()[0].kind() == Value::Kind::Object) {
                out << prefix << f.first << ":\n";
                render_table(out, x.items(), prefix + "  ", opt);
            } else {
                out << prefix << f.first << ":\n";
                render_lines(out, x.items(), prefix + "  ", opt);
            }
        } else {
            out << prefix << f.first << ":\n";
            render_object(out, x, prefix + "  ", opt);
        }
    }
}

void newline(std::ostream& out, int indent) {
    if (indent < 0) return;
    out << "\n" << std::string(static_cast<std::size_t>(indent) * 2, ' ');
}

void write_json(std::ostream& out, const Value& v, int indent) {
    const int inner = indent < 0 ? -1 : indent + 1;
    switch (v.kind()) {
        case Value::Kind::Null: out << "null"; break;
        case Value::Kind::Bool: out << (v.as_bool() ? "true" : "false"); break;
        case Value::Kind::Int: out << v.as_int(); break;
        case Value::Kind::Text:
            // A text that is not UTF-8 has bytes no JSON string can hold:
            // given as bytes, exactly, like an answer.
            if (orqcommon::utf8_valid(v.as_text())) {
                out << json_string(v.as_text());
                break;
            }
            [[fallthrough]];
        case Value::Kind::Bytes: {
            // Both forms, so that scripts need not guess which one they get;
            // "hex" is exact, "text" shows a byte that is not UTF-8 as U+FFFD.
            out << "{\"length\": " << v.as_text().size() << ", \"text\": " << json_string(v.as_text())
                << ", \"hex\": " << json_string(hex_of(v.as_text())) << "}";
            break;
        }
        case Value::Kind::List: {
            out << "[";
            bool first = true;
            for (const Value& i : v.items()) {
                out << (first ? "" : ",");
                first = false;
                newline(out, inner);
                write_json(out, i, inner);
            }
            if (!v.items().empty()) newline(out, indent);
            out << "]";
            break;
        }
        case Value::Kind::Object: {
            out << "{";
            bool first = true;
            for (const auto& f : v.fields()) {
                out << (first ? "" : ",");
                first = false;
                newline(out, inner);
                out << json_string(f.first) << ": ";
                write_json(out, f.second, inner);
            }
            if (!v.fields().empty()) newline(out, indent);
            out << "}";
            break;
        }
    }
}

}  // namespace

std::string terminal_safe(const std::string& s, bool keep_tabs) {
    std::string o;
    o.reserve(s.size());
    char buf[16];
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const std::size_t n = orqcommon::utf8_sequence_at(s, i);
        if (n == 0) {  // not UTF-8: the byte in hex
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            o += buf;
            ++i;
            continue;
        }
        if (n == 1) {
            if (c == '\n') o += "\\n";
            else if (c == '\r') o += "\\r";
            else if (c == '\t') o += keep_tabs ? "\t" : "\\t";
            else if (c < 0x20 || c == 0x7F) {
                std::snprintf(buf, sizeof buf, "\\x%02x", c);
                o += buf;
            } else {
                o += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        // The code point of a longer sequence: C1 controls (U+0080..U+009F)
        // and the direction embeddings, overrides and isolates are escaped.
        uint32_t cp = c & (0xFF >> (n + 1));
        for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        if ((cp >= 0x80 && cp <= 0x9F) || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069)) {
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(cp));
            o += buf;
        } else {
            o.append(s, i, n);
        }
        i += n;
    }
    return o;
}

bool printable_text(const std::string& b) {
    for (std::size_t i = 0; i < b.size();) {
        const unsigned char c = static_cast<unsigned char>(b[i]);
        if (c < 0x20 && c != '\n' && c != '\t' && c != '\r') return false;
        if (c == 0x7F) return false;
        const std::size_t n = orqcommon::utf8_sequence_at(b, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string json_string(const std::string& s) {
    std::string o = "\"";
    char buf[8];
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const std::size_t n = orqcommon::utf8_sequence_at(s, i);
        if (n > 1) {
            o.append(s, i, n);
            i += n;
            continue;
        }
        ++i;
        switch (c) {
            case '"': o += "\\\""; break;
            case '\\': o += "\\\\"; break;
            case '\n': o += "\\n"; break;
            case '\r': o += "\\r"; break;
            case '\t': o += "\\t"; break;
            default:
                if (c >= 0x80) {
                    o += "\\ufffd";  // not UTF-8: the exact byte is in "hex" beside it
                } else if (c < 0x20 || c == 0x7F) {
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    o += buf;
                } else {
                    o += static_cast<char>(c);
                }
        }
    }
    return o + "\"";
}

std::string byte_count(std::size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

std::string hex_of(const std::string& bytes) {
    static const char* d = "0123456789abcdef";
    std::string o;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (i) o += ' ';
        o += d[c >> 4];
        o += d[c & 15];
    }
    return o;
}

std::string hex_dump(const std::string& bytes) {
    std::string o;
    char buf[32];
    for (std::size_t at = 0; at < bytes.size(); at += 16) {
        std::snprintf(buf, sizeof buf, "%08zx  ", at);
        o += buf;
        const std::string line = bytes.substr(at, 16);
        std::string h = hex_of(line);
        o += pad(h, 16 * 3 - 1) + "  ";
        for (char ch : line) {
            const unsigned char c = static_cast<unsigned char>(ch);
            o += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
        }
        o += "\n";
    }
    return o;
}

void render(std::ostream& out, const Value& v, const RenderOptions& opt) {
    if (opt.json) {
        write_json(out, v, 0);
        out << "\n";
        return;
    }
    if (v.kind() == Value::Kind::Object) {
        render_object(out, v, "", opt);
    } else if (v.kind() == Value::Kind::List && !v.items().empty() && v.items()[0].kind() == Value::Kind::Object) {
        render_table(out, v.items(), "", opt);
    } else {
        out << cell(v, opt) << "\n";
    }
}

}  // namespace orqext

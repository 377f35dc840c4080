// What a command reports: a small tree of values, rendered either as
// readable text (aligned key/value lines and tables) or as JSON.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace orqext {

class Value {
public:
    enum class Kind { Null, Bool, Int, Text, Bytes, List, Object };

    Value() = default;
    static Value boolean(bool b);
    static Value integer(int64_t v);
    // An integer shown with a unit in text output ("866/1000"); JSON keeps
    // the bare number.
    static Value integer(int64_t v, std::string unit);
    static Value text(std::string s);
    // Raw bytes (an answer): shown as text when printable, else in hex.
    static Value bytes(const void* p, std::size_t n);
    static Value list();
    static Value object();

    Kind kind() const { return kind_; }
    bool as_bool() const { return b_; }
    int64_t as_int() const { return i_; }
    const std::string& unit() const { return unit_; }  // Int: shown after the number in text
    const std::string& as_text() const { return s_; }  // Text and Bytes
    const std::vector<Value>& items() const { return items_; }
    const std::vector<std::pair<std::string, Value>>& fields() const { return fields_; }

    // List: appends; Object: adds a field (in order).
    Value& push(Value v);
    Value& set(const std::string& key, Value v);
    const Value* get(const std::string& key) const;

private:
    Kind kind_ = Kind::Null;
    bool b_ = false;
    int64_t i_ = 0;
    std::string s_;
    std::string unit_;
    std::vector<Value> items_;
    std::vector<std::pair<std::string, Value>> fields_;
};

struct RenderOptions {
    bool json = false;
    bool hex = false;  // show bytes in hex even when printable
};

void render(std::ostream& out, const Value& v, const RenderOptions& opt);

// Helpers shared with the renderers and the commands.
std::string json_string(const std::string& s);  // quoted and escaped; bytes that are not UTF-8 as \u00XX
std::string hex_of(const std::string& bytes);     // "48 65 6c"
std::string hex_dump(const std::string& bytes);   // offset, hex, printable column; 16 bytes a line
bool printable_text(const std::string& bytes);    // UTF-8 text with tabs, newlines, CR
std::string byte_count(std::size_t n);            // "1 byte", "2 bytes"

// Text from arguments or answers as it may go to a terminal: control
// characters (C0 including newline and tab, DEL, the C1 range), the
// direction overrides and bytes that are not UTF-8 are written as escapes
// (\n \r \t \x1b \u009b \u202e), so no text can move the cursor, start an
// escape sequence or hide what follows it. keep_tabs leaves tabs alone (for
// text split into columns at them). Everything orqext prints that did not
// come from orqext itself goes through here.
std::string terminal_safe(const std::string& text, bool keep_tabs = false);

}  // namespace orqext

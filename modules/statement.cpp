// The extension statement parser and ORQExt_QuerySqlProcess, which hands a
// statement's free text to the module's "GetKSQLProcess".
#include "modules/statement.h"

#include <cstdint>

#include "core/message.h"
#include "core/result.h"
#include "exports/orqext.h"

namespace orq::statement {

namespace {

constexpr std::string_view kWordSeparators = " =\t\n;,:";
constexpr std::string_view kGaps = " \t\n;,:";
constexpr std::string_view kRestBlanks = " \t\n";
constexpr std::size_t kNone = std::string_view::npos;

bool is_in(std::string_view set, char c) { return set.find(c) != kNone; }

// First position at or after `from` whose character is not in `set`.
std::size_t skip(std::string_view s, std::size_t from, std::string_view set) {
    while (from < s.size() && is_in(set, s[from])) ++from;
    return from;
}

// The separator that ends the word starting at `from`, or kNone when the
// word runs to the end of the text.
std::size_t word_end(std::string_view s, std::size_t from) {
    for (std::size_t i = from; i < s.size(); ++i)
        if (is_in(kWordSeparators, s[i])) return i;
    return kNone;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// "cmd <word>" from p. Returns the separator that ends the command word, or
// kNone when there is no clause.
std::size_t command_clause(std::string_view s, std::size_t p, std::string* command) {
    std::size_t i = skip(s, p, kGaps);
    std::size_t e = word_end(s, i);
    if (e == kNone || !equals_ignoring_case(s.substr(i, e - i), "cmd")) return kNone;
    i = skip(s, e, kGaps);
    if (i >= s.size() || s[i] == '=') return kNone;
    e = word_end(s, i);
    if (e == kNone) return kNone;
    *command = std::string(s.substr(i, e - i));
    return e;
}

// One key=value pair from `from`. Returns the follower (the character after
// the value; s.size() when the value runs to the end), or kNone when no pair
// is there.
std::size_t pair_at(std::string_view s, std::size_t from,
                    std::pair<std::string, std::string>* pair) {
    std::size_t i = skip(s, from, kWordSeparators);
    std::size_t e = word_end(s, i);
    if (e == kNone) return kNone;
    std::string_view key = s.substr(i, e - i);
    i = skip(s, e, kGaps);
    if (i >= s.size() || s[i] != '=') return kNone;
    i = skip(s, i + 1, kGaps);
    if (i >= s.size()) return kNone;
    std::size_t follower;
    std::string_view value;
    if (s[i] == '\'' || s[i] == '"') {
        std::size_t close = s.find(s[i], i + 1);
        if (close == kNone) return kNone;
        value = s.substr(i + 1, close - i - 1);
        follower = close + 1;
    } else {
        follower = i;
        while (follower < s.size() && !is_in(kGaps, s[follower])) ++follower;
        value = s.substr(i, follower - i);
    }
    *pair = {std::string(key), std::string(value)};
    return follower;
}

}  // namespace

bool parse(std::string_view s, Parsed* out) {
    // Leading words: each must be followed by a separator.
    std::string_view words[3];
    std::size_t p = 0;
    for (auto& w : words) {
        std::size_t i = skip(s, p, kWordSeparators);
        std::size_t e = word_end(s, i);
        if (i >= s.size() || e == kNone) return false;
        w = s.substr(i, e - i);
        p = e;
    }
    if (!equals_ignoring_case(words[0], "use") || !equals_ignoring_case(words[1], "ext"))
        return false;

    Parsed r;
    r.module = std::string(words[2]);
    std::size_t q = command_clause(s, p, &r.command);
    if (q == kNone) {
        r.command.clear();
        q = p;
    }

    std::size_t start = q;
    std::pair<std::string, std::string> pair;
    for (std::size_t at = q;;) {
        std::size_t follower = pair_at(s, at, &pair);
        if (follower == kNone) break;
        r.pairs.push_back(std::move(pair));
        // The rest begins one character after the last pair's follower.
        start = follower + 1;
        if (follower >= s.size()) break;
        at = follower;
    }

    start = start > s.size() ? s.size() : skip(s, start, kRestBlanks);
    r.rest = std::string(s.substr(start));
    *out = std::move(r);
    return true;
}

}  // namespace orq::statement

using namespace orq;

extern "C" {

ORQEXT_API int32_t ORQEXT_CALL ORQExt_QuerySqlProcess(int32_t conn, const char* statement) {
    if (conn == 0 || !statement || !*statement) return kBadArgument;
    try {
        statement::Parsed parsed;
        if (!statement::parse(statement, &parsed)) return kBadStatement;
        Frame frame("GetKSQLProcess");
        frame.str(parsed.rest.c_str());
        return send_frame(conn, parsed.module.c_str(), frame, nullptr, nullptr);
    } catch (...) {
        // Only allocation can fail while the frame is built; nothing is sent.
        return kBadArgument;
    }
}

}  // extern "C"

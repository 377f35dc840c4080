// The extension statement parser: "use ext <module>", an optional command
// clause "cmd <word>", optional key=value pairs, then free text.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orq::statement {

struct Parsed {
    std::string module;
    std::string command;  // empty when there is no command clause
    std::vector<std::pair<std::string, std::string>> pairs;  // values without quotes
    std::string rest;     // the free text, possibly empty
};

// Parses an extension statement. False when the text is not one: fewer than
// three leading words each followed by a separator, or the first two are not
// "use" and "ext" (in any letter case).
bool parse(std::string_view text, Parsed* out);

}  // namespace orq::statement

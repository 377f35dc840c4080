// Parser for private-profile (.ini) text, following the rules Windows applies
// in GetPrivateProfileString: section and key names compare without regard to
// letter case, blanks around keys and values are dropped, and one pair of
// matching quotes around a value is removed. Used where the platform has no
// profile reader of its own.
#pragma once

#include <string>

namespace orq::platform {

// Finds `key` in `[section]` of `text`; true and *value set when present.
bool profile_lookup(const std::string& text, const char* section, const char* key,
                    std::string* value);

}  // namespace orq::platform

// UTF-8 helpers shared by the programs (xsr-sim's simulated modules and the
// orqext tool). Header-only.
#pragma once

#include <cstddef>
#include <string>

namespace orqcommon {

// Length of the well-formed UTF-8 sequence at s[i] (1 for ASCII), 0 when the
// bytes there are not one. Never reads past the end of s.
inline std::size_t utf8_sequence_at(const std::string& s, std::size_t i) {
    if (i >= s.size()) return 0;
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) return 1;
    std::size_t n = 0;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF)
        n = 3;
    else if (c >= 0xF0 && c <= 0xF4)
        n = 4;
    else
        return 0;
    if (s.size() - i < n) return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    return n;
}

// Whether all of s is well-formed UTF-8.
inline bool utf8_valid(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = utf8_sequence_at(s, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

}  // namespace orqcommon

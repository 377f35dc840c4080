// Built without exception support: the texts of the Result codes
// (orqext/result_text.hpp) work there. Exit status 0 when every row of the
// table reads "code name: meaning" and unlisted codes read as such.
#include <cstdio>
#include <string>

#include "orqext/result_text.hpp"

int main() {
    int bad = 0;
    int rows = 0;
#define ROW(code, name, source, meaning)                                                  \
    ++rows;                                                                               \
    if (orqext::result_message(code) != std::to_string(code) + " " + name + ": " + meaning) { \
        std::printf("wrong text for %d\n", code);                                         \
        ++bad;                                                                            \
    }
    ORQEXT_RESULT_TABLE(ROW)
#undef ROW
    if (orqext::result_meaning(-77) != nullptr || orqext::result_message(-77) != "-77 unknown Result code") {
        std::printf("wrong text for an unlisted code\n");
        ++bad;
    }
    std::printf("%d rows, %d wrong\n", rows, bad);
    return bad == 0 && rows > 0 ? 0 : 1;
}

// The one table of Result code meanings used by the tool: the library's own
// codes, the codes of the networked XSRClient and of xsr-sim, and the codes
// of the simulated service modules.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orqext {

struct CodeInfo {
    int32_t code;
    const char* name;     // constant or short name
    const char* source;   // "ORQExtClient", "XSRClient", "xsr-sim", "service module"
    const char* meaning;
};

const std::vector<CodeInfo>& code_table();
// nullptr for a code not in the table.
const CodeInfo* find_code(int32_t code);
// "-4100 ORQEXT_E_NO_CONNECTION: the connection handle is not known to the library";
// codes not in the table: "<code>: failure" / "server status word" for positives.
std::string describe(int32_t code);

// Whether a call that answers into a caller's buffer left an answer there:
// after success, after -1107 (the leading part), and after a failure passed
// on from XSRClient or the server (the exchange copies what arrived). The
// library's own refusals (-1100, -1203, -4100, ...) and time-outs leave the
// buffer as it was, whatever the length says.
bool buffer_holds_answer(int32_t rc);

// After -1107 with a length above the capacity: the capacity that holds the
// whole answer, or, above max_capacity, that none does. Empty otherwise.
std::string capacity_advice(int64_t length, int64_t capacity, int64_t max_capacity);

}  // namespace orqext

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

}  // namespace orqext

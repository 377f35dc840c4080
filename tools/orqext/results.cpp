#include "tools/orqext/results.h"

#include "exports/orqext_results.h"

namespace orqext {

const std::vector<CodeInfo>& code_table() {
    static const std::vector<CodeInfo> t = {
#define ORQ_ROW(code, name, source, meaning) {code, name, source, meaning},
        ORQEXT_RESULT_TABLE(ORQ_ROW)
#undef ORQ_ROW
    };
    return t;
}

const CodeInfo* find_code(int32_t code) {
    for (const CodeInfo& c : code_table())
        if (c.code == code) return &c;
    return nullptr;
}

std::string describe(int32_t code) {
    if (const CodeInfo* c = find_code(code))
        return std::to_string(code) + " " + c->name + ": " + c->meaning;
    if (code > 0) return std::to_string(code) + ": server status word";
    return std::to_string(code) + ": failure (code not known to orqext)";
}

bool buffer_holds_answer(int32_t rc) {
    if (rc == 0 || rc == -1107) return true;
    if (rc > 0) return false;
    const CodeInfo* c = find_code(rc);
    return !(c && std::string(c->source) == "ORQExtClient");
}

std::string capacity_advice(int64_t length, int64_t capacity, int64_t max_capacity) {
    if (length <= capacity) return std::string();
    const std::string whole = "the whole answer is " + std::to_string(length) + " bytes";
    if (length > max_capacity)
        return whole + ", more than the largest --capacity (" + std::to_string(max_capacity) + ")";
    return whole + "; --capacity " + std::to_string(length) + " holds it";
}

}  // namespace orqext

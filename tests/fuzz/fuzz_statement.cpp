// The extension statement parser, directly and through
// ORQExt_QuerySqlProcess. Checked: every part the parser returns is taken
// from the text, a text it refuses is refused by the export with -3502 and
// nothing sent, and one it takes is sent.
#include <cstdint>
#include <string>

#include "exports/orqext.h"
#include "modules/statement.h"
#include "tests/fuzz/fuzz_library.h"
#include "tests/fuzz/fuzz_support.h"
#include "xsr/double/xsr_double.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::fresh_library();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    orq::statement::Parsed p;
    const bool ok = orq::statement::parse(text, &p);
    if (ok) {
        FUZZ_CHECK(!p.module.empty(), "a statement without a module name");
        FUZZ_CHECK(text.find(p.module) != std::string::npos, "module not from the text");
        FUZZ_CHECK(text.find(p.command) != std::string::npos, "command not from the text");
        FUZZ_CHECK(text.find(p.rest) != std::string::npos, "free text not from the text");
        for (const auto& kv : p.pairs) {
            FUZZ_CHECK(text.find(kv.first) != std::string::npos, "key not from the text");
            FUZZ_CHECK(text.find(kv.second) != std::string::npos, "value not from the text");
        }
    }

    // The export sees the text up to its first NUL.
    const std::string c_text = text.c_str();
    orq::statement::Parsed q;
    const bool c_ok = orq::statement::parse(c_text, &q);
    xsrdouble::reset();
    const int32_t rc = ORQExt_QuerySqlProcess(1001, c_text.c_str());
    if (c_text.empty()) {
        FUZZ_CHECK(rc == -1100, "empty statement: %d", rc);
    } else if (!c_ok) {
        FUZZ_CHECK(rc == -3502 && xsrdouble::count(xsrdouble::Fn::Command) == 0,
                   "refused statement gave %d", rc);
    } else {
        FUZZ_CHECK(xsrdouble::count(xsrdouble::Fn::Command) >= 1, "statement not sent (rc %d)", rc);
    }
    return 0;
}

// The connect string parser of ORQExt_ExecSql, directly and through the
// export. Checked: it is taken exactly when all four keys occur, no value
// runs past its ';', and a refused string opens nothing.
#include <cstdint>
#include <string>

#include "exports/orqext.h"
#include "modules/connect_string.h"
#include "tests/fuzz/fuzz_library.h"
#include "tests/fuzz/fuzz_support.h"
#include "xsr/double/xsr_double.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::fresh_library();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string cs(reinterpret_cast<const char*>(data), size);
    const std::string c_cs = cs.c_str();
    std::string low = c_cs;
    for (char& c : low)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    const bool all_keys = low.find("server=") != std::string::npos &&
                          low.find("port=") != std::string::npos &&
                          low.find("user=") != std::string::npos &&
                          low.find("pass=") != std::string::npos;

    orq::ConnectParams p;
    const bool ok = orq::parse_connect_string(c_cs.c_str(), &p);
    FUZZ_CHECK(ok == all_keys, "taken %d, keys present %d", ok, all_keys);
    if (ok) {
        for (const std::string* v : {&p.server, &p.user, &p.password})
            FUZZ_CHECK(v->find(';') == std::string::npos && low.find(*v) != std::string::npos,
                       "value not cut at its ';'");
    }

    xsrdouble::reset();
    const int32_t rc = ORQExt_ExecSql(c_cs.c_str(), "use ext M cmd x a");
    if (!ok) {
        FUZZ_CHECK(rc == -1100 && xsrdouble::count(xsrdouble::Fn::Open) == 0,
                   "refused connect string gave %d", rc);
    }
    FUZZ_CHECK(xsrdouble::open_handles().empty(), "ExecSql left a connection open");
    return 0;
}

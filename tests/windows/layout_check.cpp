// C++ side of the build-time layout checks (layout_check.h).
#include "exports/orqext.h"
#include "tests/windows/layout_check.h"

extern "C" {
int orqext_layout_checked_in_cpp = 1;
}

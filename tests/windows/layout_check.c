/* C side of the build-time layout checks (layout_check.h). */
#include "exports/orqext.h"
#include "tests/windows/layout_check.h"

/* One definition so that the translation unit is not empty. */
int orqext_layout_checked_in_c = 1;

/* The text helpers of orqext_results.h, built as C89, C99 and C++ (the same
 * file): every row of the table gives its name and meaning back, and codes
 * the table does not list give NULL. Exit status 0 when all of it holds. */
#include <stdio.h>
#include <string.h>

#include "orqext_results.h"

struct row {
    long code;
    const char* name;
    const char* meaning;
};

#define CHECK_ROW(c, n, source, m) {c, n, m},
static const struct row rows[] = {ORQEXT_RESULT_TABLE(CHECK_ROW)};
#undef CHECK_ROW

int main(void) {
    static const long unlisted[] = {-1, 1, 12345, -1101, -99999, 2147483647L, -2147483647L - 1};
    size_t i;
    int failures = 0;
    for (i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        const char* n = orqext_result_name(rows[i].code);
        const char* m = orqext_result_meaning(rows[i].code);
        if (n == NULL || strcmp(n, rows[i].name) != 0 || m == NULL || strcmp(m, rows[i].meaning) != 0) {
            printf("code %ld: name %s, meaning %s\n", rows[i].code, n ? n : "(null)", m ? m : "(null)");
            ++failures;
        }
    }
    for (i = 0; i < sizeof unlisted / sizeof unlisted[0]; ++i) {
        if (orqext_result_name(unlisted[i]) != NULL || orqext_result_meaning(unlisted[i]) != NULL) {
            printf("code %ld is not in the table but has a text\n", unlisted[i]);
            ++failures;
        }
    }
    if (strcmp(orqext_result_name(-1112), "ORQEXT_E_TIMEOUT") != 0) ++failures;
    printf("%lu codes checked, %d failures\n", (unsigned long)(sizeof rows / sizeof rows[0]), failures);
    return failures == 0 ? 0 : 1;
}

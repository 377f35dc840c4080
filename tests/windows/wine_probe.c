/* Run under Wine by scripts/windows-test.sh before a Windows build's tests,
 * to find out whether this machine can run that build's programs at all (a
 * kernel without 32-bit support cannot start 32-bit Wine). It prints one
 * line naming its pointer width, which the script looks for. */
#include <stdio.h>

int main(void) {
    printf("wine-probe %u-bit\n", (unsigned)(sizeof(void*) * 8));
    return 0;
}

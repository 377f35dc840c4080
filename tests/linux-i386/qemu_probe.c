/* Linked statically and run under qemu-i386 by scripts/test-i386.sh before
 * anything else of the 32-bit build: says whether emulation starts at all. */
#include <stdio.h>

int main(void) {
    printf("qemu-probe %u-bit\n", (unsigned)(sizeof(void*) * 8));
    return 0;
}

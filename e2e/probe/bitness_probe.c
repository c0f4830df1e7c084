/* Run once by the Wine tiers: when this prints its line, the machine can
   execute Windows code of the bitness it was built for. */
#include <stdio.h>

int main(void) {
    printf("bitness probe: %d-bit code runs\n", (int)(sizeof(void*) * 8));
    return 0;
}

/* The smallest Windows program: CI runs it under Wine once per architecture
 * to learn whether this machine can run that architecture's programs at all
 * (some machines cannot execute any 32-bit program). It answers 42, a value
 * neither Wine nor the shell gives for a failure of their own. */
#include <stdio.h>

int main(void) {
    printf("%d-bit Windows programs run\n", (int)(sizeof(void *) * 8));
    return 42;
}

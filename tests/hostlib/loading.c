/*
** loading.c - a library whose loading misbehaves as the environment
** variable VULMORA_TEST_LOAD says: "crash", "exit0", "print" or "hang".
** The emulator must never run it in its own process, and must report
** each as a fault of the library.
*/
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "getVar.h"

__attribute__((constructor)) static void misbehave(void) {
    const char *how = getenv("VULMORA_TEST_LOAD");
    if (!how) return;
    if (strcmp(how, "crash") == 0) {
        int *volatile nowhere = NULL;
        *nowhere = 1;
    }
    if (strcmp(how, "exit0") == 0) exit(0);
    if (strcmp(how, "print") == 0) printf("loading: hello from a constructor\n");
    if (strcmp(how, "hang") == 0) {
        volatile int forever = 1;
        while (forever) {
        }
    }
}

double func_density(int node) {
    return 2.0 + 0.0 * node;
}

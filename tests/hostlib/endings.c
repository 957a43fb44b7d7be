/*
** endings.c - entry points that end their process in the middle of a run,
** each in its own way, and one that is always fine: the host emulator must
** report each ending and go on with the next entry point.
*/
#include <stdio.h>
#include <stdlib.h>

#include "getVar.h"

/* A plain exit with status 0 at node 7 of the second step. */
double func_density(int node) {
    static int calls = 0;
    if (++calls > getNnod() && node == 7) exit(0);
    return 2.4;
}

/* A null pointer read at node 5: the process dies of a signal. */
double func_emissivity(int node) {
    int *volatile nowhere = NULL; /* not provably null to the compiler */
    if (node == 5) return (double)*nowhere;
    return 0.3;
}

/* A fatal stop with a message of the function's own at node 3. */
double func_heatflux(int node) {
    if (node == 3) vulmora_stop("heat flux undefined at node %d\n", node);
    return 1.0;
}

/* Always fine. */
double func_interhtransfer(int node) {
    return 0.5 * (double)node;
}

/* FVOL in a mechanical property: refused in the registration call. */
double func_mechprop1(int node) {
    (void)node;
    return getDefect(2);
}

/*
** faulty.c - entry points that go wrong at one node, for the host
** emulator's tests: a NaN, and a fatal stop from an accessor.
*/
#include "getVar.h"

/* NaN at node 5, a plausible density elsewhere. */
double func_density(int node) {
    if (node == 5) return getT1(node) / 0.0 * 0.0;
    return 2.4;
}

/* Stops at node 42 with the accessor's message for a bad defect code. */
double func_interhtransfer(int node) {
    if (node == 42) return getDefect(0);
    return 0.05;
}

/* Always fine. */
double func_heatflux(int node) {
    return (double)node;
}

/*
** known.c - entry points whose values the host emulator's tests can work
** out by hand from the sample casting's documented cooling history.
*/
#include "getVar.h"

/* Temperature of the node in the user's unit. */
double func_density(int node) {
    return getT1(node);
}

/* x coordinate of the node in the user's length unit. */
double func_emissivity(int node) {
    return getX(node);
}

/* A mechanical property that reads a constituent, an auxiliary variable
** and the porosity, so it only comes out right when the registration
** call, the slots and the local values all work. */
double func_yieldstress(int node) {
    (void)node;
    return getFraction(1) + 10.0 * getMicro(0) + 1000.0 * getDefect(1);
}

/* Solid fraction of the node. */
double func_heatflux(int node) {
    return getFs1(node);
}

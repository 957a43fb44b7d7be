/*
** cycle.c - the same microstructure quantities read in nodal mode (thermal
** entry points) and through the stress analysis' cycle (mechanical entry
** points), so a test can compare the two node by node.
**
** The quantities are chosen so that a slip in the host's slots shows: the
** constituent of active index 2 and the auxiliary variable of active index
** 1 each land in slot 0, and yieldstress reads two constituents, whose
** slots then follow their active indices.
*/
#include "getVar.h"

/* ---- nodal mode ---- */

/* Constituent 2 (Mg2Si in the sample). */
double func_density(int node) {
    (void)node;
    return getFraction(2);
}

/* Auxiliary variable 1 (grain size in the sample). */
double func_emissivity(int node) {
    (void)node;
    return getMicro(1);
}

/* POROS1 porosity. */
double func_heatflux(int node) {
    (void)node;
    return getDefect(1);
}

/* ---- the stress analysis' cycle ---- */

/* Same as func_density. */
double func_youngsmodulus(int node) {
    (void)node;
    return getFraction(2);
}

/* Same as func_emissivity. */
double func_poissonratio(int node) {
    (void)node;
    return getMicro(1);
}

/* Same as func_heatflux. */
double func_thermalexpansion(int node) {
    (void)node;
    return getDefect(1);
}

/* Two constituents, an auxiliary variable and the porosity at once. */
double func_yieldstress(int node) {
    (void)node;
    return 1000.0 * getFraction(2) + getFraction(0) + 0.001 * getMicro(1) + 1e6 * getDefect(1);
}

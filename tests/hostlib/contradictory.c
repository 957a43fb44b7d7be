/*
** contradictory.c - mechanical and thermal properties, each plausible on
** its own, that contradict each other: a yield stress above the ultimate
** stress and above Young's modulus where the solid is cool, a modulus
** that rises as the solid heats, a Poisson ratio above 0.5 and an
** expansion of the wrong sign for the density. Each rule is broken by
** its own entry points, so that --functions selects one rule at a time.
** Mechanical values are in dyn/cm2, not converted.
*/
#include "getVar.h"

static double kelvin(int node) {
    return fconvertToCGS(VULMORA_QTY_TEMPERATURE, getT1(node));
}

/* 210 MPa at room temperature, softening as it heats. */
double func_yieldstress(int node) {
    return 2.1e9 - 1e6 * (kelvin(node) - 300.0);
}

/* 20 MPa below the yield stress at every temperature. */
double func_hardeningultimatestress(int node) {
    return 1.9e9 - 1e6 * (kelvin(node) - 300.0);
}

/* 0.1 GPa at room temperature, stiffening as it heats: below the yield
** stress up to about 390 K. */
double func_youngsmodulus(int node) {
    return 1e9 * (1.0 + (kelvin(node) - 300.0) / 100.0);
}

double func_poissonratio(int node) {
    (void)node;
    return 0.62;
}

/* The density of aluminium, falling as it heats... */
double func_density(int node) {
    return 2.7 - 2.2e-4 * (kelvin(node) - 300.0);
}

/* ...with an expansion of the wrong sign. */
double func_thermalexpansion(int node) {
    (void)node;
    return -2.0e-5;
}

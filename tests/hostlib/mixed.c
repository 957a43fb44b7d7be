/*
** mixed.c - properties along a path for the smoothness check, with
** temperatures in °C (--temp C): one mixed linearly by the solid fraction
** (it kinks only where the path's solid fraction does) and one with a
** jump at 400 °C.
*/
#include "getVar.h"

/* Solid and liquid densities, each falling with temperature, mixed by fs. */
double func_density(int node) {
    const double T = getT1(node), fs = getFs1(node);
    return fs * (2.7 - 2.2e-4 * (T - 20.0)) + (1.0 - fs) * (2.4 - 2.8e-4 * (T - 615.0));
}

/* An emissivity that steps from 0.3 to 0.2 on heating through 400 °C. */
double func_emissivity(int node) {
    const double T = getT1(node);
    return T > 400.0 ? 0.2 + 1e-5 * T : 0.3 + 1e-5 * T;
}

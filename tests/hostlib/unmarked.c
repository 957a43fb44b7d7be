/*
** unmarked.c - mechanical properties that read a microstructure quantity
** only in some branches, so the registration call (at node 1) misses it.
*/
#include "getVar.h"

/* Eutectic Si read only past node 1: the registration call marks alpha-Al only. */
double func_hardeningexponent(int node) {
    if (node > 1) return 0.2 + getFraction(1);
    return 0.2 + getFraction(0);
}

/* The same read, its NaN clamped away as an input check would: the value
** is a number, and in the solver it would be another quantity's. */
double func_hardeningkinematic1(int node) {
    double f = node > 1 ? getFraction(1) : getFraction(0);
    if (!(f >= 0.0)) f = 0.0;
    return f > 1.0 ? 1.0 : f;
}

/* The grain size read only past node 1. */
double func_poissonratio(int node) {
    return node > 1 ? 0.3 + 1e-4 * getMicro(1) : 0.3;
}

/* The porosity read only past node 1. */
double func_thermalexpansion(int node) {
    return node > 1 ? 2.3e-5 * (1.0 + getDefect(1)) : 2.3e-5;
}

/* Every quantity read in every branch: right. */
double func_yieldstress(int node) {
    double si = getFraction(1), al = getFraction(0);
    return node > 1 ? 1e8 * si : 1e8 * al;
}

/* Silently wrong: node number past the mesh at every call (reads 0). */
double func_density(int node) {
    return 2.7 + getFs1(node + 1000000);
}

/* Silently wrong: at every other call nodNum looks in a material the
** model does not have, finds nothing and returns 0. */
double func_emissivity(int node) {
    double x, y, z;
    int found = nodNum(0.0, 0.0, 0.0, node % 2 ? 7 : 1, &x, &y, &z);
    return found ? 0.4 : 0.5;
}

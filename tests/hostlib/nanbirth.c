/*
** nanbirth.c - entry points whose non-finite values are born in known
** places, for the diagnosis with floating-point traps on. The lines named
** BORN are the ones the diagnosis must name.
*/
#include <math.h>

#include "getVar.h"

/* The temperature's excess over 900 K, on a log scale (in its own
** function, as a helper shared by several properties would be). */
__attribute__((noinline)) static double log_excess(double t) {
    return 0.5 * log(t - 900.0); /* BORN: log_excess */
}

/* NaN at every fifth node from node 3, which the model takes as 1000 K
** colder than the casting: the others stay above 900 K. */
double func_density(int node) {
    double t = getT1(node) + (node % 5 == 3 ? -1000.0 : 1000.0);
    return 2.7 + 1e-3 * log_excess(t); /* BORN: func_density */
}

/* +infinity at every fourth node from node 2. */
double func_interhtransfer(int node) {
    double t = getT1(node);
    double d = node % 4 == 2 ? t - t : t;
    return 1e5 / d; /* BORN: func_interhtransfer */
}

/* Overflows everywhere: exp of a temperature in Kelvin. */
double func_heatflux(int node) {
    return 1e-3 * exp(getT1(node)); /* BORN: func_heatflux */
}

/* Reads eutectic Si only past node 1, so the registration call (at node 1)
** does not mark it: a NaN read, not made. */
double func_hardeningexponent(int node) {
    if (node > 1) return 0.2 + getFraction(1);
    return 0.2 + getFraction(0);
}

/* Makes a NaN below 5000 K and replaces it: not a failure. */
double func_convehtransfer(int node) {
    double s = sqrt(getT1(node) - 5000.0); /* BORN: func_convehtransfer */
    if (s != s) s = 0.0;
    return 1e-4 * (1.0 + s);
}

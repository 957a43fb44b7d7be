/*
** rounding.c - entry points for the rounding check: one whose result is
** what is left of a cancellation, and well-conditioned ones. The
** temperature is read at run time, so the compiler cannot fold the sums
** under its own rounding.
*/
#include <fenv.h>

#include "getVar.h"

/* Ill-conditioned: the temperature added to a huge number and taken away
** again keeps only what the sum's last bits held, which the rounding mode
** decides (the spacing of doubles near 1e16 is 2). */
double func_texternal(int node) {
    return (1e16 + getT1(node)) - 1e16;
}

/* Exact in every mode: a scale by a power of two of the temperature as
** the host holds it, so any difference is the host's own. */
double func_density(int node) {
    return getT1(node) * 0.001953125;
}

/* Well-conditioned: rounded differently in its last bits only. */
double func_convehtransfer(int node) {
    return 1e-4 * (1.0 + getT1(node) / 1000.0);
}

/* For the caller's own test, in its process: the rounding mode the call is
** made under, as <fenv.h> numbers it, leaving another mode behind. */
double func_emissivity(int node) {
    int mode = fegetround();
    (void)node;
    fesetround(mode == FE_DOWNWARD ? FE_UPWARD : FE_DOWNWARD);
    return (double)mode;
}

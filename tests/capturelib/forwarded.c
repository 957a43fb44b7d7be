/*
** forwarded.c - entry points that go wrong at one node, for the capture
** tests: plain user functions, which the build's exported func_* forward
** to between the capture's hooks. Built twice: as is, and with FIXED
** defined (the user's fix).
*/
#include "getVar.h"

#include <stddef.h>

/* NaN at node 5. */
double func_density(int node) {
#ifndef FIXED
    if (node == 5) return getT1(node) / 0.0 * 0.0;
#endif
    return 2.4 + 0.001 * getT1(node);
}

/* A write through a null pointer at node 7. */
double func_heatflux(int node) {
#ifndef FIXED
    if (node == 7) {
        volatile int *volatile nowhere = NULL;
        *nowhere = node;
    }
#endif
    return (double)node;
}

/* A fatal stop of an accessor at node 42. */
double func_interhtransfer(int node) {
#ifndef FIXED
    if (node == 42) return getDefect(0);
#endif
    return 0.05 * getFs1(node);
}

/* Reads the microstructure in nodal mode; infinite where the constituent
** fraction is 0 (the mould). */
double func_emissivity(int node) {
    const double f = getFraction(1), sdas = getMicro(0);
#ifdef FIXED
    if (f == 0.0) return 0.0;
#endif
    return sdas / f + getT1(node) * 0.0;
}

/* A mechanical property: NaN at node 11 from its local-mode inputs. */
double func_yieldstress(int node) {
    const double v = getFraction(1) + 10.0 * getMicro(0) + 1000.0 * getDefect(1);
    (void)node;
#ifndef FIXED
    if (node == 11) return v * (0.0 / 0.0);
#endif
    return v;
}

/* Reads a constituent that is not active (global index 1) at node 13: a
** stop whose text holds the name the microstructure library gives. */
double func_vximposed(int node) {
#ifndef FIXED
    if (node == 13) return getFraction(-2);
#endif
    return 0.0 * node;
}

/* Unbounded recursion at node 17: a stack overflow, caught on the capture's
** own signal stack. The call goes through a volatile pointer, so that it
** stays a real call. */
static double deeper(volatile double *above, int depth);
static double (*volatile recurse)(volatile double *, int) = deeper;
static double deeper(volatile double *above, int depth) {
    volatile double frame[64];
    frame[0] = *above + 1.0;
    return depth <= 0 ? frame[0] : recurse(frame, depth - 1) + frame[0];
}

double func_texternal(int node) {
    volatile double start = 300.0;
#ifndef FIXED
    if (node == 17) return recurse(&start, 1 << 30);
#endif
    return start + node;
}

/* A mechanical property that reads constituent 1 only in a branch that the
** registration call (node 1) does not take: at node 11 it reads a quantity
** it never marked. The fix reads it before the branch. */
double func_youngsmodulus(int node) {
#ifdef FIXED
    const double f = getFraction(1);
    if (node == 11) return 7.0e5 * (1.0 + f);
#else
    if (node == 11) return 7.0e5 * (1.0 + getFraction(1));
#endif
    return 7.0e5 + getMicro(0);
}

/*
** forwarded.c - entry points that go wrong at one node, behind forwarding
** functions made the way the build makes the exported func_* (the user's
** function, then the capture hooks around it), for the capture tests.
** Built twice: as is, and with FIXED defined (the user's fix).
*/
#include "getVar.h"
#include "runtime/capture.h"

#include <stddef.h>

#define FORWARD(name)                                                                              \
    double func_##name(int node) {                                                                 \
        vulmora_capture_before(#name, node);                                                       \
        return vulmora_capture_after(impl_##name(node));                                           \
    }

/* NaN at node 5. */
static double impl_density(int node) {
#ifndef FIXED
    if (node == 5) return getT1(node) / 0.0 * 0.0;
#endif
    return 2.4 + 0.001 * getT1(node);
}

/* A write through a null pointer at node 7. */
static double impl_heatflux(int node) {
#ifndef FIXED
    if (node == 7) {
        volatile int *volatile nowhere = NULL;
        *nowhere = node;
    }
#endif
    return (double)node;
}

/* A fatal stop of an accessor at node 42. */
static double impl_interhtransfer(int node) {
#ifndef FIXED
    if (node == 42) return getDefect(0);
#endif
    return 0.05 * getFs1(node);
}

/* Reads the microstructure in nodal mode; infinite where the constituent
** fraction is 0 (the mould). */
static double impl_emissivity(int node) {
    const double f = getFraction(1), sdas = getMicro(0);
#ifdef FIXED
    if (f == 0.0) return 0.0;
#endif
    return sdas / f + getT1(node) * 0.0;
}

/* A mechanical property: NaN at node 11 from its local-mode inputs. */
static double impl_yieldstress(int node) {
    const double v = getFraction(1) + 10.0 * getMicro(0) + 1000.0 * getDefect(1);
    (void)node;
#ifndef FIXED
    if (node == 11) return v * (0.0 / 0.0);
#endif
    return v;
}

/* Reads a constituent that is not active (global index 1) at node 13: a
** stop whose text holds the name the microstructure library gives. */
static double impl_vximposed(int node) {
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

static double impl_texternal(int node) {
    volatile double start = 300.0;
#ifndef FIXED
    if (node == 17) return recurse(&start, 1 << 30);
#endif
    return start + node;
}

FORWARD(density)
FORWARD(texternal)
FORWARD(vximposed)
FORWARD(yieldstress)
FORWARD(heatflux)
FORWARD(interhtransfer)
FORWARD(emissivity)

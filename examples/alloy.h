/*
** alloy.h - the casting, the mould and the helpers shared by the worked
** examples.
**
** The examples model an A356-type aluminium casting alloy (Al-7Si-0.3Mg)
** poured into a steel permanent mould. Every constant below carries its
** unit. The examples compute in the host's internal system and convert only
** what goes in and out:
**   temperature  K          (getT1 gives the user's unit: convert with VULMORA_QTY_TEMPERATURE)
**   length       cm         (getX/getY/getZ and nodNum use the user's unit: VULMORA_QTY_LENGTH)
**   density      g/cm^3     (no user unit: returned as is)
**   stress       dyn/cm^2   (no user unit: returned as is; 1 MPa = 1e7 dyn/cm^2)
**   heat         cal        (heat flux cal/(s cm^2): code 6;
**                            heat-transfer coefficient cal/(s cm^2 K): code 7)
**
** The microstructure model of the host is expected to have the silicon of
** the Al-Si eutectic as its active constituent ALLOY_EUTECTIC_SI and the
** secondary dendrite arm spacing as its active auxiliary variable ALLOY_SDAS.
*/
#ifndef VULMORA_EXAMPLES_ALLOY_H
#define VULMORA_EXAMPLES_ALLOY_H

#include "getVar.h"

/* ---- freezing range ------------------------------------------------------ */
#define ALLOY_T_LIQUIDUS 888.0 /* K */
#define ALLOY_T_SOLIDUS 833.0  /* K */
#define ALLOY_T_ROOM 293.0     /* K */

/* ---- microstructure: active indices in the host's model ------------------ */
#define ALLOY_EUTECTIC_SI 1 /* constituent: volume fraction of eutectic silicon */
#define ALLOY_SDAS 0        /* auxiliary variable: secondary dendrite arm spacing, um */
/* Eutectic silicon of the nominal alloy, for which the tables were measured. */
#define ALLOY_SI_NOMINAL 0.055

/* ---- defects ------------------------------------------------------------- */
#define ALLOY_POROS1 1 /* getDefect code of the shrinkage microporosity (volume fraction) */

/* ---- materials of the mesh (1-based, as getMatId returns them) ---------- */
#define MATERIAL_CASTING 1
#define MATERIAL_MOULD 2

/* ---- unit helpers ---------------------------------------------------------- */
#define ALLOY_MPA 1.0e7  /* dyn/cm^2 in one MPa */
#define ALLOY_GPA 1.0e10 /* dyn/cm^2 in one GPa */

/*
** Temperature of node `node` (1-based) in Kelvin. getT1 answers in the
** user's temperature unit, which user code cannot read; converting it back
** through fconvertToCGS gives Kelvin whatever that unit is.
*/
static inline double alloy_kelvin(int node) {
    return fconvertToCGS(VULMORA_QTY_TEMPERATURE, getT1(node));
}

/* v limited to the interval [lo, hi]; a NaN v stays NaN. */
static inline double alloy_clamp(double v, double lo, double hi) {
    if (v < lo) return lo;
    if (v > hi) return hi;
    return v;
}

/*
** Linear interpolation in a table of n points (x increasing): the value at
** t, held constant beyond the first and the last point. A NaN t gives NaN,
** so that a broken temperature reaches the host instead of a table value.
*/
static inline double alloy_interpolate(const double *x, const double *y, int n, double t) {
    int k;
    if (t != t) return t;
    if (t <= x[0]) return y[0];
    for (k = 1; k < n; ++k) {
        if (t <= x[k]) return y[k - 1] + (y[k] - y[k - 1]) * (t - x[k - 1]) / (x[k] - x[k - 1]);
    }
    return y[n - 1];
}

#endif

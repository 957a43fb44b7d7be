/*
** boundary.c - boundary conditions between the casting, the mould and the
** cooling.
**
** Demonstrates:
**  - returning a value in the user's unit: the formulas work in CGS and the
**    result goes through fconvertFromCGS with the quantity's code
**    (VULMORA_QTY_HEATTRANSFERCOEFF, VULMORA_QTY_HEATFLUX);
**  - the node's coordinates (getX, getY, getZ, in the user's length unit);
**  - the nearest-node search within one material, with a point given in
**    centimetres and converted to the user's length unit first: nodNumFixed,
**    nodNum's indexed form for a mesh that does not move;
**  - handling the "no node found" answer of the search.
**
** Both functions are evaluated at every node in nodal mode.
*/
#include "alloy.h"

#include <math.h>

/* ======================================================================
** Interface heat transfer casting / mould
** ==================================================================== */

/* Heat-transfer coefficients, cal/(s cm^2 K) (1 W/(m^2 K) = 2.3885e-5). */
#define H_LIQUID 0.048   /* coated steel die against liquid metal, ~2000 W/(m^2 K) */
#define H_SOLID 0.024    /* against the solid skin, still in contact, ~1000 W/(m^2 K) */
#define FS_COHERENCY 0.3 /* solid fraction where the skin starts to carry load */
/* Air gap: opens as the solid casting contracts below the solidus. */
#define GAP_LENGTH 5.0       /* cm, half-size of the casting whose contraction opens the gap */
#define GAP_EXPANSION 2.3e-5 /* 1/K, mean linear expansion of the solid alloy */
#define K_AIR 1.1e-4         /* cal/(s cm K), air in the gap at about 600 K */

/*
** Interface heat-transfer coefficient, in the user's unit:
**  - up to coherency the liquid wets the die: H_LIQUID;
**  - between coherency and full solidity it falls linearly to H_SOLID;
**  - below the solidus an air gap of width
**      d = GAP_EXPANSION * GAP_LENGTH * (T_solidus - T)
**    adds its resistance in series: h = 1 / (1 / h_contact + d / K_AIR).
*/
double func_interhtransfer(int node) {
    double fs = alloy_clamp(getFs1(node), 0.0, 1.0);
    double t = alloy_kelvin(node);
    double contact = H_LIQUID;
    double gap = GAP_EXPANSION * GAP_LENGTH * (ALLOY_T_SOLIDUS - t);
    if (fs > FS_COHERENCY)
        contact = H_LIQUID + (H_SOLID - H_LIQUID) * (fs - FS_COHERENCY) / (1.0 - FS_COHERENCY);
    if (gap < 0.0) gap = 0.0; /* above the solidus; a NaN temperature stays NaN */
    return fconvertFromCGS(VULMORA_QTY_HEATTRANSFERCOEFF, 1.0 / (1.0 / contact + gap / K_AIR));
}

/* ======================================================================
** A water-cooled chill in the mould
** ==================================================================== */

/* Axis of the chill, cm; it sits in the mould at the mesh node nearest to it. */
#define CHILL_X 0.0
#define CHILL_Y 0.0
#define CHILL_Z 0.0
#define CHILL_FLUX 2.0   /* cal/(s cm^2) extracted at the chill, ~8.4e4 W/m^2 */
#define CHILL_RADIUS 3.0 /* cm, reach of the chill's cooling */

/*
** Heat flux (user's unit; positive heats the model, so the chill's flux is
** negative): the chill extracts CHILL_FLUX at the mould node nearest to its
** axis, fading with the distance r (cm) of the evaluated node from that
** mould node:
**   q = -CHILL_FLUX * exp(-(r / CHILL_RADIUS)^2)
** Without a mould in the model the search finds no node (and says so);
** then there is no chill and the flux is 0.
**
** The search runs at every node of every step, always for the same point.
** nodNum would scan the whole mould each time (the step then costs nodes x
** mould nodes); nodNumFixed gives the same node from an index it builds
** once and answers a repeated point without searching. That is right for a
** thermal analysis, where the mesh does not move; with a moving or
** deforming mesh whose coordinates the host rewrites in place, use nodNum.
*/
double func_heatflux(int node) {
    double xc = 0.0, yc = 0.0, zc = 0.0; /* left alone in 2-D models */
    double dx, dy, dz, r2;
    int chill = nodNumFixed(
        fconvertFromCGS(VULMORA_QTY_LENGTH, CHILL_X), fconvertFromCGS(VULMORA_QTY_LENGTH, CHILL_Y),
        fconvertFromCGS(VULMORA_QTY_LENGTH, CHILL_Z), MATERIAL_MOULD, &xc, &yc, &zc);
    if (chill == 0) return 0.0;
    /* Both points come back in the user's length unit: work in cm. */
    dx = fconvertToCGS(VULMORA_QTY_LENGTH, getX(node)) - fconvertToCGS(VULMORA_QTY_LENGTH, xc);
    dy = fconvertToCGS(VULMORA_QTY_LENGTH, getY(node)) - fconvertToCGS(VULMORA_QTY_LENGTH, yc);
    dz = fconvertToCGS(VULMORA_QTY_LENGTH, getZ(node)) - fconvertToCGS(VULMORA_QTY_LENGTH, zc);
    r2 = dx * dx + dy * dy + dz * dz;
    return fconvertFromCGS(VULMORA_QTY_HEATFLUX,
                           -CHILL_FLUX * exp(-r2 / (CHILL_RADIUS * CHILL_RADIUS)));
}

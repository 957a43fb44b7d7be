/*
** thermal.c - a thermal property: the density of the alloy.
**
** Demonstrates: reading the current temperature and solid fraction of the
** node being evaluated (getT1, getFs1), turning the temperature into Kelvin
** whatever unit the user chose (fconvertToCGS with VULMORA_QTY_TEMPERATURE), and guarding
** against a solid fraction slightly outside 0..1.
**
** The host calls func_density(node) at every node in the nodal mode of the
** thermal analysis; the result is in g/cm^3.
*/
#include "alloy.h"

/* ---- data of the alloy ----------------------------------------------------- */
#define RHO_SOLID_ROOM 2.68     /* g/cm^3, solid at ALLOY_T_ROOM */
#define RHO_SOLID_SLOPE 2.2e-4  /* g/(cm^3 K), thermal contraction of the solid */
#define RHO_LIQUID 2.39         /* g/cm^3, liquid at ALLOY_T_LIQUIDUS */
#define RHO_LIQUID_SLOPE 2.8e-4 /* g/(cm^3 K), thermal contraction of the liquid */

/*
** Density (g/cm^3): the solid and the liquid each expand linearly with
** temperature, and the mushy zone mixes them by solid fraction fs:
**   rho = fs * rho_s(T) + (1 - fs) * rho_l(T)
** The jump between rho_l and rho_s at the freezing range (about 6 %) is the
** solidification shrinkage that feeds the porosity model.
*/
double func_density(int node) {
    double t = alloy_kelvin(node);
    double fs = alloy_clamp(getFs1(node), 0.0, 1.0);
    double rho_solid = RHO_SOLID_ROOM - RHO_SOLID_SLOPE * (t - ALLOY_T_ROOM);
    double rho_liquid = RHO_LIQUID - RHO_LIQUID_SLOPE * (t - ALLOY_T_LIQUIDUS);
    return fs * rho_solid + (1.0 - fs) * rho_liquid;
}

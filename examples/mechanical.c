/*
** mechanical.c - mechanical properties of the alloy for the stress analysis.
**
** Demonstrates:
**  - temperature tables interpolated at the node's temperature in Kelvin;
**  - checkTempTable() in every property that depends on temperature;
**  - a microstructure constituent (getFraction: the eutectic silicon) and
**    an auxiliary microstructure variable (getMicro: the arm spacing);
**  - the shrinkage microporosity (getDefect(1)) weakening the material;
**  - a property of the user's own (func_mechprop1) that names itself.
**
** The host evaluates these functions in the stress analysis in two passes:
** first in registration mode, where getFraction, getMicro and getDefect
** return 1.0 and note what the function reads, then in local mode with the
** values the host gathered for those quantities. Outside the stress
** analysis (neutral mode) the three accessors return 1.0. A function that
** only calls the accessors works in every mode; it must merely give a
** finite result for the value 1.0 too (here the porosity is clamped and the
** laws stay positive up to a porosity of 1).
**
** Stresses and moduli are returned in dyn/cm^2, the expansion in 1/K.
*/
#include "alloy.h"

#include <math.h>
#include <string.h>

/* ======================================================================
** Measured tables of the nominal alloy (5.5 % eutectic silicon, sound)
** ==================================================================== */

#define NTABLE 8
static const double table_t[NTABLE] = {293.0, 373.0, 473.0, 573.0, 673.0, 773.0, 833.0, 888.0};
/* Young's modulus, GPa; a small stiffness is kept in the liquid. */
static const double table_young[NTABLE] = {72.0, 70.0, 66.0, 60.0, 52.0, 42.0, 30.0, 1.0};
/* 0.2 % yield stress, MPa. */
static const double table_yield[NTABLE] = {120.0, 115.0, 100.0, 70.0, 35.0, 15.0, 5.0, 0.5};

/* ---- microstructure and porosity sensitivities ---------------------------- */
/* Relative change per unit of silicon fraction: Si is stiff (E 160 GPa
** against 70 GPa of aluminium) and its particles harden the matrix. */
#define YOUNG_SILICON 1.3
#define YIELD_SILICON 5.0
#define YOUNG_POROSITY 4.0 /* b of E = E0 exp(-b p), p the pore volume fraction */
#define YIELD_POROSITY 5.0 /* b of the same law for the yield stress */

/* ---- thermal expansion of aluminium and silicon, 1/K ---------------------- */
#define ALPHA_ALUMINIUM 23.5e-6 /* at ALLOY_T_ROOM */
#define ALPHA_AL_SLOPE 1.0e-8   /* rise per K */
#define ALPHA_SILICON 3.0e-6    /* at ALLOY_T_ROOM */
#define ALPHA_SI_SLOPE 0.3e-8   /* rise per K */

/* ---- elongation (func_mechprop1) ---------------------------------------- */
#define ELONGATION_REF 6.0   /* %, sound casting with the reference arm spacing */
#define SDAS_REF 30.0        /* um */
#define SDAS_MIN 5.0         /* um, finest spacing a casting reaches */
#define ELONGATION_PORE 40.0 /* b of the exponential porosity law */

/* ======================================================================
** Shared steps
** ==================================================================== */

/*
** Pore volume fraction (0..1) of the evaluated point: the shrinkage
** microporosity, clamped so that a slightly negative or excessive value of
** the porosity model cannot turn a property negative.
*/
static double porosity(void) {
    return alloy_clamp(getDefect(ALLOY_POROS1), 0.0, 1.0);
}

/*
** Relative change of a property with the eutectic silicon: 1 for the
** nominal alloy, more for a casting richer in silicon.
*/
static double silicon_factor(double sensitivity) {
    double f = alloy_clamp(getFraction(ALLOY_EUTECTIC_SI), 0.0, 1.0);
    return 1.0 + sensitivity * (f - ALLOY_SI_NOMINAL);
}

/* ======================================================================
** Entry points
** ==================================================================== */

/*
** Young's modulus (dyn/cm^2):
**   E = E_table(T) * (1 + 1.3 (f_Si - 0.055)) * exp(-4 p)
** softening with temperature, stiffer with more silicon, and weaker with
** porosity (exponential law of porous solids).
*/
double func_youngsmodulus(int node) {
    double e;
    checkTempTable();
    e = alloy_interpolate(table_t, table_young, NTABLE, alloy_kelvin(node)) * ALLOY_GPA;
    return e * silicon_factor(YOUNG_SILICON) * exp(-YOUNG_POROSITY * porosity());
}

/*
** Yield stress (dyn/cm^2):
**   sigma_y = sigma_table(T) * (1 + 5 (f_Si - 0.055)) * exp(-5 p)
*/
double func_yieldstress(int node) {
    double s;
    checkTempTable();
    s = alloy_interpolate(table_t, table_yield, NTABLE, alloy_kelvin(node)) * ALLOY_MPA;
    return s * silicon_factor(YIELD_SILICON) * exp(-YIELD_POROSITY * porosity());
}

/*
** Linear thermal expansion coefficient (1/K): rule of mixtures between
** aluminium and the eutectic silicon, each rising linearly with T:
**   alpha = f_Si alpha_Si(T) + (1 - f_Si) alpha_Al(T)
** Above the solidus the value at the solidus is kept (the host accounts for
** the mushy zone's shrinkage through the density). Pores expand with the
** matrix, so porosity does not enter.
*/
double func_thermalexpansion(int node) {
    double t, f, dt;
    checkTempTable();
    t = alloy_kelvin(node);
    if (t > ALLOY_T_SOLIDUS) t = ALLOY_T_SOLIDUS;
    dt = t - ALLOY_T_ROOM;
    f = alloy_clamp(getFraction(ALLOY_EUTECTIC_SI), 0.0, 1.0);
    return f * (ALPHA_SILICON + ALPHA_SI_SLOPE * dt) +
           (1.0 - f) * (ALPHA_ALUMINIUM + ALPHA_AL_SLOPE * dt);
}

/*
** Property 1 of the user's own: the elongation to fracture at room
** temperature (%), predicted from the secondary dendrite arm spacing
** lambda (um) and the porosity:
**   A = 6 * sqrt(30 / lambda) * exp(-40 p)
** It does not depend on the current temperature, so it needs no
** temperature table and does not call checkTempTable().
*/
double func_mechprop1(int node) {
    double lambda;
    (void)node;
    strcpy(name_mechprop[0], "elongation");
    strcpy(unit_mechprop[0], "%");
    lambda = getMicro(ALLOY_SDAS);
    if (lambda < SDAS_MIN) lambda = SDAS_MIN;
    return ELONGATION_REF * sqrt(SDAS_REF / lambda) * exp(-ELONGATION_PORE * porosity());
}

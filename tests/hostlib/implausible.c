/*
** implausible.c - entry points that return values off by the unit mistakes
** users make, next to right ones: each wrong one is off by one factor or
** offset only, so the cause the emulator names can be checked.
*/
#include "getVar.h"

/* Wrong: a coefficient worked out in W/(m2 K) passed through the converter
** as if it were in the internal cal/(s cm2 K). */
double func_interhtransfer(int node) {
    double tk = fconvertToCGS(VULMORA_QTY_TEMPERATURE, getT1(node));
    return fconvertFromCGS(VULMORA_QTY_HEATTRANSFERCOEFF, 1000.0 + tk);
}

/* Wrong: calories per second, but per m2 (240 cal/(s m2 K) is 0.024 per cm2). */
double func_convehtransfer(int node) {
    (void)node;
    return fconvertFromCGS(VULMORA_QTY_HEATTRANSFERCOEFF, 240.0);
}

/* Wrong: a density in kg/m3. */
double func_density(int node) {
    double tk = fconvertToCGS(VULMORA_QTY_TEMPERATURE, getT1(node));
    return 2700.0 - 0.2 * (tk - 300.0);
}

/* Wrong: an ambient of 20 C returned where Kelvin is expected. */
double func_texternal(int node) {
    (void)node;
    return 20.0;
}

/* Wrong: a thermal expansion in 1e-6/K. */
double func_thermalexpansion(int node) {
    (void)node;
    return 23.5;
}

/* Wrong: a yield stress in MPa. */
double func_yieldstress(int node) {
    double tk = fconvertToCGS(VULMORA_QTY_TEMPERATURE, getT1(node));
    return 120.0 - 0.1 * (tk - 300.0);
}

/* Wrong: the modulus of a soft mould material, 5 MPa, in Pa. */
double func_youngsmodulus(int node) {
    (void)node;
    return 5e6;
}

/* Wrong, but no unit mistake: no ultimate stress at all. */
double func_hardeningultimatestress(int node) {
    (void)node;
    return 0.0;
}

/* Right: a chill extracting 0.5 cal/(s cm2), in the user's unit. */
double func_heatflux(int node) {
    (void)node;
    return fconvertFromCGS(VULMORA_QTY_HEATFLUX, -0.5);
}

/* Right. */
double func_emissivity(int node) {
    (void)node;
    return 0.3;
}

/* Right. */
double func_poissonratio(int node) {
    (void)node;
    return 0.33;
}

/* Right in cm/s only: 5 cm/s converted with fconvertToCGS, which turns a
** value in the user's unit into cm/s, where fconvertFromCGS is meant. */
double func_vyimposed(int node) {
    (void)node;
    return fconvertToCGS(VULMORA_QTY_VELOCITY, 5.0);
}

/*
** checked.c - entry points for the emulator's checks: some right whatever
** the user's units and the order of the calls, some with the faults users
** make. Built twice: with CHANGED defined, func_density differs from the
** first build on the hot nodes only and func_heatflux by less than the
** tolerance, as a changed library does.
*/
#include "getVar.h"

/* Declared by the user, as some do, to convert by hand. */
extern int user_unit_temp;

/* Right: the temperature converted to Kelvin by the library, the result
** converted to the user's unit of a heat-transfer coefficient. */
double func_convehtransfer(int node) {
    double tk = fconvertToCGS(VULMORA_QTY_TEMPERATURE, getT1(node));
    return fconvertFromCGS(VULMORA_QTY_HEATTRANSFERCOEFF, 1e-4 * (1.0 + tk / 1000.0));
}

/* Right: an ambient temperature of 300 K in the user's unit. */
double func_texternal(int node) {
    (void)node;
    return fconvertFromCGS(VULMORA_QTY_TEMPERATURE, 300.0);
}

/* Right in every unit; the changed build differs above 750 K. */
double func_density(int node) {
    double tk = fconvertToCGS(VULMORA_QTY_TEMPERATURE, getT1(node));
#ifdef CHANGED
    if (tk > 750.0) return 2.7 - 2e-4 * (tk - 300.0) + 0.01;
#endif
    return 2.7 - 2e-4 * (tk - 300.0);
}

/* Right; the changed build differs by one part in 1e9. */
double func_heatflux(int node) {
    double tk = fconvertToCGS(VULMORA_QTY_TEMPERATURE, getT1(node));
    double q = 1e-3 * tk;
#ifdef CHANGED
    q *= 1.0 + 1e-9;
#endif
    return fconvertFromCGS(VULMORA_QTY_HEATFLUX, q);
}

/* Fault: the temperature used in the user's unit as if it were Kelvin. */
double func_emissivity(int node) {
    return 0.2 + 1e-4 * getT1(node);
}

/* Fault: Celsius converted by hand with 273.15, where the library uses 273. */
double func_interhtransfer(int node) {
    double t = getT1(node);
    double tk = user_unit_temp == 2 ? t + 273.15 : fconvertToCGS(VULMORA_QTY_TEMPERATURE, t);
    return fconvertFromCGS(VULMORA_QTY_HEATTRANSFERCOEFF, 1e-4 * tk);
}

/* Fault: a coordinate used as if in cm, whatever the user's length unit. */
double func_thermalexpansion(int node) {
    return 2.3e-5 + 1e-8 * getX(node);
}

/* Fault: a velocity returned in cm/s whatever the user's velocity unit. */
double func_vximposed(int node) {
    (void)node;
    return 5.0;
}

/* Fault: a static accumulator, so the result depends on the calls before. */
double func_youngsmodulus(int node) {
    static double calls = 0;
    calls += 1.0;
    return 7e11 - 1e3 * fconvertToCGS(VULMORA_QTY_TEMPERATURE, getT1(node)) + 1e-3 * calls;
}

/* Right, but slow: the share of solid nodes, counted over the whole mesh at
** every call, so its time per call grows with the mesh. */
double func_xmasssource(int node) {
    int n = getNnod(), solid = 0, i;
    (void)node;
    for (i = 1; i <= n; ++i)
        solid += getFs1(i) > 0.5;
    return (double)solid / n;
}

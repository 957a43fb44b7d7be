/*
** units.h - conversion between user units and the internal CGS/Kelvin system.
**
** Quantity codes: -1 temperature, 0 length, 3 thermal conductivity, 4 time,
** 6 heat flux, 7 heat-transfer coefficient, 8 velocity, 13 mass flow rate.
** Every other code passes the value through unchanged.
*/
#ifndef VULMORA_UNITS_H
#define VULMORA_UNITS_H

#include "../include/vulmora/getVar.h" /* the quantity codes */
#include "../exchange/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Number of user units (columns) per factor quantity. */
#define VULMORA_NUNITS 10

VULMORA_EXPORT double fconvertToCGS(int code, double x);
VULMORA_EXPORT double fconvertFromCGS(int code, double x);
double tempToKelvin(int unit, double t);
double tempFromKelvin(int unit, double t);

#ifdef __cplusplus
}
#endif

#endif

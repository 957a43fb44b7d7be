/*
** units.h - conversion between user units and the internal CGS/Kelvin system.
**
** Quantity codes: -1 temperature, 0 length, 3 thermal conductivity, 4 time,
** 6 heat flux, 7 heat-transfer coefficient, 8 velocity, 13 mass flow rate.
** Every other code passes the value through unchanged.
*/
#ifndef VULMORA_UNITS_H
#define VULMORA_UNITS_H

#include "../exchange/export.h"

#ifdef __cplusplus
extern "C" {
#endif

#define VULMORA_QTY_TEMPERATURE (-1)
#define VULMORA_QTY_LENGTH 0
#define VULMORA_QTY_THERMALCONDUCTIVITY 3
#define VULMORA_QTY_TIME 4
#define VULMORA_QTY_HEATFLUX 6
#define VULMORA_QTY_HEATTRANSFERCOEFF 7
#define VULMORA_QTY_VELOCITY 8
#define VULMORA_QTY_PRESSURE 11 /* not converted */
#define VULMORA_QTY_MASSFLOWRATE 13

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

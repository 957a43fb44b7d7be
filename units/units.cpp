// units.cpp - the conversion table, the exported converters and the
// temperature helpers.
//
// A factor is the size of one user unit in internal units: to internal is
// one multiplication, from internal one division, with the factors used
// exactly as the decimal values below. The Celsius offset is 273.0.

#include "units.h"

#include "../exchange/exchange.h"

namespace {

// ---- the conversion table ---------------------------------------------------

// Row of the factor quantities, in the order of unit_factor below.
enum Row { LENGTH, CONDUCTIVITY, TIME, HEATFLUX, HTC, VELOCITY, MASSFLOW, NROWS };

const double unit_factor[NROWS][VULMORA_NUNITS] = {
    /* 0 length */ {100.0, 1.0, 0.1, 30.48, 2.54, 1.0, 1.0, 1.0, 1.0, 1.0},
    /* 3 conductivity */
    {0.0023885, 1.0, 10.0, 14.882, 178.58, 0.0166667, 0.24803, 2.9764, 1.0, 1.0},
    /* 4 time */ {1.0, 60.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0},
    /* 6 heat flux */
    {2.3885e-05, 1.0, 100.0, 0.27125, 39.06, 0.0166667, 0.0045208, 0.651, 1.0, 1.0},
    /* 7 heat-transfer coefficient */
    {2.3885e-05, 1.0, 100.0, 0.48825, 70.308, 0.0166667, 0.0081375, 1.1718, 1.0, 1.0},
    /* 8 velocity */ {100.0, 1.0, 0.1, 30.48, 2.54, 1.6667, 0.0166667, 0.508, 0.042333, 1.0},
    /* 13 mass flow rate */
    {1000.0, 1.0, 453.515, 16.66667, 0.0166667, 7.558583, 1.0, 1.0, 1.0, 1.0},
};

// The factor for `code` in the unit its selector holds now, or 0.0 when
// the code is not a factor quantity or the selector lies outside 1..10
// (0 before the host writes it): such values pass through unchanged.
double factor(int code) {
    int row, unit;
    switch (code) {
    case VULMORA_QTY_LENGTH:
        row = LENGTH, unit = user_unit_coor;
        break;
    case VULMORA_QTY_THERMALCONDUCTIVITY:
        row = CONDUCTIVITY, unit = user_unit_thermalconductivity;
        break;
    case VULMORA_QTY_TIME:
        row = TIME, unit = user_unit_time;
        break;
    case VULMORA_QTY_HEATFLUX:
        row = HEATFLUX, unit = user_unit_heatflux;
        break;
    case VULMORA_QTY_HEATTRANSFERCOEFF:
        row = HTC, unit = user_unit_heattransfercoeff;
        break;
    case VULMORA_QTY_VELOCITY:
        row = VELOCITY, unit = user_unit_velocity;
        break;
    case VULMORA_QTY_MASSFLOWRATE:
        row = MASSFLOW, unit = user_unit_massflowrate;
        break;
    default:
        return 0.0;
    }
    if (unit < 1 || unit > VULMORA_NUNITS) return 0.0;
    return unit_factor[row][unit - 1];
}

} // namespace

extern "C" {

// ---- temperature ---------------------------------------------------------------

// Units: 1 Kelvin, 2 Celsius, 3 Fahrenheit, 4 Rankine; any other unit is
// taken as Kelvin.
double tempToKelvin(int unit, double t) {
    switch (unit) {
    case 2:
        return t + 273.0;
    case 3:
        return (t - 32.0) / 1.8 + 273.0;
    case 4:
        return t / 1.8;
    default:
        return t;
    }
}

double tempFromKelvin(int unit, double t) {
    switch (unit) {
    case 2:
        return t - 273.0;
    case 3:
        return (t - 273.0) * 1.8 + 32.0;
    case 4:
        return t * 1.8;
    default:
        return t;
    }
}

// ---- the exported converters ------------------------------------------------

double fconvertToCGS(int code, double x) {
    if (code == VULMORA_QTY_TEMPERATURE) return tempToKelvin(user_unit_temp, x);
    double f = factor(code);
    return f == 0.0 ? x : x * f;
}

double fconvertFromCGS(int code, double x) {
    if (code == VULMORA_QTY_TEMPERATURE) return tempFromKelvin(user_unit_temp, x);
    double f = factor(code);
    return f == 0.0 ? x : x / f;
}

} // extern "C"

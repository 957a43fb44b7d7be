// quantity.h - the kinds of quantity the entry points return.
//
// The list of entry points names each one's kind in its quantity column
// (include/vulmora/vulmora_entry_points.h); the rows below say what the
// emulator knows of a kind: its words, the code the library's converters
// take for it, its internal unit and the SI unit shown beside it (SI value
// = internal * siScale + siOffset; temperatures are shown in degrees
// Celsius beside Kelvin). The checks, the plausibility table and the
// labels of the outputs take an entry point's unit from here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "include/vulmora/getVar.h"

namespace vhost {

// The code of a value in an internal unit, which is never converted.
constexpr int kNotConverted = 1000;

enum class Quantity : uint8_t {
    TransferCoefficient,
    HeatFlux,
    Temperature,
    Velocity,
    Length,
    MassFlowRate,
    MassSource,
    Density,
    Stress,
    Modulus,
    Expansion,
    Emissivity,
    PoissonRatio,
    Exponent,
    LawParameter,
    UserProperty,
    None, // func_externalcompute returns nothing
};

struct QuantityInfo {
    Quantity quantity;
    const char *token; // as the list of entry points writes it
    const char *words;
    int code; // VULMORA_QTY_..., or kNotConverted
    const char *unit, *si;
    double siScale, siOffset;
};

// clang-format off
inline constexpr QuantityInfo kQuantities[] = {
    {Quantity::TransferCoefficient, "HEATTRANSFERCOEFF", "heat-transfer coefficient", VULMORA_QTY_HEATTRANSFERCOEFF, "cal/(s cm2 K)", "W/(m2 K)", 4.1868e4, 0},
    {Quantity::HeatFlux,            "HEATFLUX",          "heat flux",                 VULMORA_QTY_HEATFLUX,          "cal/(s cm2)",   "W/m2",     4.1868e4, 0},
    {Quantity::Temperature,         "TEMPERATURE",       "temperature",               VULMORA_QTY_TEMPERATURE,       "K",             "C",        1, -273.15},
    {Quantity::Velocity,            "VELOCITY",          "velocity",                  VULMORA_QTY_VELOCITY,          "cm/s",          "m/s",      1e-2, 0},
    {Quantity::Length,              "LENGTH",            "length",                    VULMORA_QTY_LENGTH,            "cm",            "m",        1e-2, 0},
    {Quantity::MassFlowRate,        "MASSFLOWRATE",      "mass flow rate",            VULMORA_QTY_MASSFLOWRATE,      "g/s",           "kg/s",     1e-3, 0},
    {Quantity::MassSource,          "MASSSOURCE",        "mass source component",     kNotConverted,                 "",              "",         1, 0},
    {Quantity::Density,             "DENSITY",           "density",                   kNotConverted,                 "g/cm3",         "kg/m3",    1e3, 0},
    {Quantity::Stress,              "STRESS",            "stress",                    kNotConverted,                 "dyn/cm2",       "Pa",       0.1, 0},
    {Quantity::Modulus,             "MODULUS",           "modulus",                   kNotConverted,                 "dyn/cm2",       "Pa",       0.1, 0},
    {Quantity::Expansion,           "EXPANSION",         "thermal expansion",         kNotConverted,                 "1/K",           "1/K",      1, 0},
    {Quantity::Emissivity,          "EMISSIVITY",        "emissivity",                kNotConverted,                 "",              "",         1, 0},
    {Quantity::PoissonRatio,        "POISSONRATIO",      "Poisson ratio",             kNotConverted,                 "",              "",         1, 0},
    {Quantity::Exponent,            "EXPONENT",          "exponent",                  kNotConverted,                 "",              "",         1, 0},
    {Quantity::LawParameter,        "LAWPARAMETER",      "parameter of a law",        kNotConverted,                 "",              "",         1, 0},
    {Quantity::UserProperty,        "USERPROPERTY",      "user property",             kNotConverted,                 "",              "",         1, 0},
    {Quantity::None,                "NONE",              "nothing",                   kNotConverted,                 "",              "",         1, 0},
};
// clang-format on

// The rows are in the order of the kinds, so a kind indexes its row.
constexpr bool quantitiesInOrder() {
    for (size_t k = 0; k < std::size(kQuantities); ++k)
        if (static_cast<size_t>(kQuantities[k].quantity) != k) return false;
    return std::size(kQuantities) == static_cast<size_t>(Quantity::None) + 1;
}
static_assert(quantitiesInOrder(), "a row per kind of quantity, in order");

// The row of kind `q`.
constexpr const QuantityInfo &quantityInfo(Quantity q) {
    return kQuantities[static_cast<size_t>(q)];
}

// The kind the list of entry points writes as `token`; Quantity::None for
// a token it does not know (entries.h refuses those at compile time).
constexpr Quantity quantityNamed(std::string_view token, bool *known = nullptr) {
    for (const QuantityInfo &i : kQuantities)
        if (token == i.token) {
            if (known) *known = true;
            return i.quantity;
        }
    if (known) *known = false;
    return Quantity::None;
}

} // namespace vhost

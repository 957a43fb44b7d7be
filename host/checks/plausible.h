// plausible.h - what each entry point returns, the range a real casting
// process can give it, in the host's internal units, and the unit mistakes
// that move a right value out of that range.
//
// One row per property entry point, in the order of the list of entry
// points (a static_assert below keeps them in step). The ranges are wide on
// purpose: any casting alloy, mould material or process stays inside, so a
// value outside is a fault, most often a unit mistake. The mistakes are
// kept as relations between the value returned and the right one, so the
// plausibility check (a value brought back into its range) and the unit
// check (two runs related by one) match them with the same code.
#pragma once

#include <cstdint>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "checks/checks.h"
#include "include/vulmora/getVar.h"
#include "model/entries.h"

namespace vhost {

// The kinds of quantity the entry points return.
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
    UserProperty
};

// A kind of quantity: its words, the converters' code, its internal unit
// and the SI unit shown beside it (SI value = internal * siScale +
// siOffset; temperatures are shown in degrees Celsius beside Kelvin).
struct QuantityInfo {
    Quantity quantity;
    const char *words;
    int code; // VULMORA_QTY_..., or kNotConverted
    const char *unit, *si;
    double siScale, siOffset;
};

// clang-format off
inline constexpr QuantityInfo kQuantities[] = {
    {Quantity::TransferCoefficient, "heat-transfer coefficient", VULMORA_QTY_HEATTRANSFERCOEFF, "cal/(s cm2 K)", "W/(m2 K)", 4.1868e4, 0},
    {Quantity::HeatFlux,            "heat flux",                 VULMORA_QTY_HEATFLUX,          "cal/(s cm2)",   "W/m2",     4.1868e4, 0},
    {Quantity::Temperature,         "temperature",               VULMORA_QTY_TEMPERATURE,       "K",             "C",        1, -273.15},
    {Quantity::Velocity,            "velocity",                  VULMORA_QTY_VELOCITY,          "cm/s",          "m/s",      1e-2, 0},
    {Quantity::Length,              "length",                    VULMORA_QTY_LENGTH,            "cm",            "m",        1e-2, 0},
    {Quantity::MassFlowRate,        "mass flow rate",            VULMORA_QTY_MASSFLOWRATE,      "g/s",           "kg/s",     1e-3, 0},
    {Quantity::MassSource,          "mass source component",     kNotConverted,                 "",              "",         1, 0},
    {Quantity::Density,             "density",                   kNotConverted,                 "g/cm3",         "kg/m3",    1e3, 0},
    {Quantity::Stress,              "stress",                    kNotConverted,                 "dyn/cm2",       "Pa",       0.1, 0},
    {Quantity::Modulus,             "modulus",                   kNotConverted,                 "dyn/cm2",       "Pa",       0.1, 0},
    {Quantity::Expansion,           "thermal expansion",         kNotConverted,                 "1/K",           "1/K",      1, 0},
    {Quantity::Emissivity,          "emissivity",                kNotConverted,                 "",              "",         1, 0},
    {Quantity::PoissonRatio,        "Poisson ratio",             kNotConverted,                 "",              "",         1, 0},
    {Quantity::Exponent,            "exponent",                  kNotConverted,                 "",              "",         1, 0},
    {Quantity::LawParameter,        "parameter of a law",        kNotConverted,                 "",              "",         1, 0},
    {Quantity::UserProperty,        "user property",             kNotConverted,                 "",              "",         1, 0},
};
// clang-format on

// The plausible range of one entry point's values, internal units. A user
// property has none: its meaning is the user's (--expect gives one).
struct PlausibleRange {
    const char *entry;
    Quantity quantity;
    double lo, hi;
};

// clang-format off
inline constexpr PlausibleRange kPlausible[] = {
    {"convehtransfer",           Quantity::TransferCoefficient, 0, 10},     // up to 4.2e5 W/(m2 K), spray quench
    {"density",                  Quantity::Density,             0.01, 25},  // insulating boards to osmium
    {"emissivity",               Quantity::Emissivity,          0, 1},
    {"hardeningexponent",        Quantity::Exponent,            0, 10},
    {"hardeningkinematic1",      Quantity::LawParameter,        0, 1e13},   // a modulus or a rate
    {"hardeningkinematic2",      Quantity::LawParameter,        0, 1e13},
    {"hardeningplasticmodulus",  Quantity::Modulus,             0, 1e13},   // 0: perfectly plastic
    {"hardeningultimatestress",  Quantity::Stress,              1e4, 1e11}, // 1 kPa to 10 GPa
    {"heatflux",                 Quantity::HeatFlux,            -500, 500}, // 2.1e7 W/m2 either way
    {"interhtransfer",           Quantity::TransferCoefficient, 0, 10},
    {"masssourceflowrate",       Quantity::MassFlowRate,        -1e7, 1e7}, // 10 t/s
    {"mechprop1",                Quantity::UserProperty,        0, 0},
    {"mechprop2",                Quantity::UserProperty,        0, 0},
    {"mechprop3",                Quantity::UserProperty,        0, 0},
    {"mechprop4",                Quantity::UserProperty,        0, 0},
    {"mechprop5",                Quantity::UserProperty,        0, 0},
    {"poissonratio",             Quantity::PoissonRatio,        0, 0.5},
    {"texternal",                Quantity::Temperature,         150, 3500}, // -123 C to above any pour
    {"thermalexpansion",         Quantity::Expansion,           -1e-4, 1e-3}, // to waxes and polymers
    {"viscoplasticstrainpower",  Quantity::Exponent,            -10, 10},
    {"viscoplasticstresspower",  Quantity::Exponent,            0, 100},
    {"viscoplasticviscousparam", Quantity::LawParameter,        0, 1e25},   // its unit is the law's
    {"vximposed",                Quantity::Velocity,            -1e5, 1e5}, // 1 km/s
    {"vxsolidtransport",         Quantity::Velocity,            -1e5, 1e5},
    {"vyimposed",                Quantity::Velocity,            -1e5, 1e5},
    {"vysolidtransport",         Quantity::Velocity,            -1e5, 1e5},
    {"vzimposed",                Quantity::Velocity,            -1e5, 1e5},
    {"vzsolidtransport",         Quantity::Velocity,            -1e5, 1e5},
    {"xmasssource",              Quantity::MassSource,          -1e7, 1e7},
    {"xtranslation",             Quantity::Length,              -1e4, 1e4}, // 100 m
    {"yieldstress",              Quantity::Stress,              1e4, 1e11},
    {"ymasssource",              Quantity::MassSource,          -1e7, 1e7},
    {"youngsmodulus",            Quantity::Modulus,             1e7, 1e13}, // 1 MPa to 1 TPa
    {"ytranslation",             Quantity::Length,              -1e4, 1e4},
    {"zmasssource",              Quantity::MassSource,          -1e7, 1e7},
    {"ztranslation",             Quantity::Length,              -1e4, 1e4},
};
// clang-format on

// The table has a row per property entry point, in the list's order.
constexpr bool plausibleRowsFollowTheList() {
    if (std::size(kPlausible) != std::size(kEntryPoints)) return false;
    for (size_t k = 0; k < std::size(kPlausible); ++k)
        if (std::string_view(kPlausible[k].entry) != kEntryPoints[k].name) return false;
    return true;
}
static_assert(plausibleRowsFollowTheList(), "a plausible range for every property entry point");

// How a wrong value relates to the right one: wrong = right * factor + offset.
struct Relation {
    double factor = 1, offset = 0;
    double apply(double right) const { return right * factor + offset; }
    double undo(double wrong) const { return (wrong - offset) / factor; }
};

// A unit mistake users make with a kind of quantity, and what to say.
struct Mistake {
    Quantity quantity;
    Relation relation;
    const char *cause; // a question: the report cannot be sure
};

// clang-format off
inline constexpr Mistake kMistakes[] = {
    {Quantity::TransferCoefficient, {4.1868e4, 0}, "a value in W/(m2 K) returned without conversion?"},
    {Quantity::TransferCoefficient, {1e4, 0},      "a value per m2 where per cm2 is expected?"},
    {Quantity::HeatFlux,            {4.1868e4, 0}, "a value in W/m2 returned without conversion?"},
    {Quantity::HeatFlux,            {1e4, 0},      "a value per m2 where per cm2 is expected?"},
    {Quantity::Temperature,         {1, -273.15},  "a temperature in C taken as Kelvin?"},
    {Quantity::Temperature,         {1, 273.15},   "a temperature in K where C is expected?"},
    {Quantity::Density,             {1e3, 0},      "a density in kg/m3?"},
    {Quantity::Stress,              {1e-7, 0},     "a stress in MPa?"},
    {Quantity::Stress,              {1e-1, 0},     "a stress in Pa?"},
    {Quantity::Modulus,             {1e-10, 0},    "a modulus in GPa?"},
    {Quantity::Modulus,             {1e-7, 0},     "a modulus in MPa?"},
    {Quantity::Modulus,             {1e-1, 0},     "a modulus in Pa?"},
    {Quantity::Expansion,           {1e6, 0},      "a thermal expansion in 1e-6/K (um/(m K))?"},
};
// clang-format on

// The kind of quantity `q`.
const QuantityInfo &quantityInfo(Quantity q);

// The row of entry point `entry` (without func_), or null.
const PlausibleRange *plausibleRange(std::string_view entry);

// The causes whose relation `fits` accepts, in the order given, as one
// clause: "likely cause: A? or B?"; "" when none fits.
struct Cause {
    Relation relation;
    std::string text;
};
template <class Fits> std::string likelyCause(const std::vector<Cause> &causes, Fits fits) {
    std::string t;
    for (const Cause &c : causes)
        if (fits(c.relation)) t += (t.empty() ? "likely cause: " : " or ") + c.text;
    return t;
}

// The mistakes known for quantity `q`, as causes.
std::vector<Cause> mistakesOf(Quantity q);

// The values of one entry point outside its range.
struct Implausible {
    int64_t count = 0;
    int node = 0, step = 0;
    double first = 0; // the first value outside, internal units
    std::string cause;
};

// The values (steps x nnod, brought to internal units by `unit`) outside
// [lo, hi] at the evaluated nodes, and the mistakes of `q` that bring every
// one of them into the range. NaN and infinities are not judged here.
Implausible judgePlausible(Quantity q, double lo, double hi, std::span<const double> values,
                           const std::vector<uint8_t> &nodeMaterial, const InternalUnit &unit = {});

// `x` of quantity `q` as the report shows it: "1000 cal/(s cm2 K) (4.19e+07 W/(m2 K))".
std::string withUnits(Quantity q, double x);

// A range of quantity `q` in words: "0 to 10 cal/(s cm2 K)".
std::string rangeText(Quantity q, double lo, double hi);

// The table as README shows it (Markdown): the entry points of each
// quantity and range, the range and the causes named.
std::string plausibleTableText();

} // namespace vhost

// plausible.h - the range a real casting process can give what each entry
// point returns (its quantity, from the list of entry points), in the
// host's internal units, and the unit mistakes that move a right value out
// of that range.
//
// One row per property entry point, in the order of the list of entry
// points (a static_assert below keeps them in step). The ranges are wide on
// purpose: any casting alloy, mould material or process stays inside, so a
// value outside is a fault, most often a unit mistake. The mistakes are
// kept as relations between the value returned and the right one, so the
// plausibility check (a value brought back into its range) and the unit
// check (two runs related by one) match them with the same code.
#pragma once

#include <array>
#include <cstdint>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "checks/checks.h"
#include "model/entries.h"

namespace vhost {

// The plausible range of one entry point's values, internal units; its
// quantity is the one the list of entry points gives it. A user property
// has none: its meaning is the user's (--expect gives one).
struct PlausibleRange {
    const char *entry;
    Quantity quantity;
    double lo, hi;
};

namespace plausible_rows {
// One row per property entry point, in the list's order.
struct Row {
    const char *entry;
    double lo, hi;
};
// clang-format off
inline constexpr Row kRows[] = {
    {"convehtransfer",           0, 10},       // up to 4.2e5 W/(m2 K), spray quench
    {"density",                  0.01, 25},    // insulating boards to osmium
    {"emissivity",               0, 1},
    {"hardeningexponent",        0, 10},
    {"hardeningkinematic1",      0, 1e13},     // a modulus or a rate
    {"hardeningkinematic2",      0, 1e13},
    {"hardeningplasticmodulus",  0, 1e13},     // 0: perfectly plastic
    {"hardeningultimatestress",  1e4, 1e11},   // 1 kPa to 10 GPa
    {"heatflux",                 -500, 500},   // 2.1e7 W/m2 either way
    {"interhtransfer",           0, 10},
    {"masssourceflowrate",       -1e7, 1e7},   // 10 t/s
    {"mechprop1",                0, 0},
    {"mechprop2",                0, 0},
    {"mechprop3",                0, 0},
    {"mechprop4",                0, 0},
    {"mechprop5",                0, 0},
    {"poissonratio",             0, 0.5},
    {"texternal",                150, 3500},   // -123 C to above any pour
    {"thermalexpansion",         -1e-4, 1e-3}, // to waxes and polymers
    {"viscoplasticstrainpower",  -10, 10},
    {"viscoplasticstresspower",  0, 100},
    {"viscoplasticviscousparam", 0, 1e25},     // its unit is the law's
    {"vximposed",                -1e5, 1e5},   // 1 km/s
    {"vxsolidtransport",         -1e5, 1e5},
    {"vyimposed",                -1e5, 1e5},
    {"vysolidtransport",         -1e5, 1e5},
    {"vzimposed",                -1e5, 1e5},
    {"vzsolidtransport",         -1e5, 1e5},
    {"xmasssource",              -1e7, 1e7},
    {"xtranslation",             -1e4, 1e4},   // 100 m
    {"yieldstress",              1e4, 1e11},
    {"ymasssource",              -1e7, 1e7},
    {"youngsmodulus",            1e7, 1e13},   // 1 MPa to 1 TPa
    {"ytranslation",             -1e4, 1e4},
    {"zmasssource",              -1e7, 1e7},
    {"ztranslation",             -1e4, 1e4},
};
// clang-format on

// The rows with the quantity of each entry point; ranges follow the list
// (a static_assert below keeps them in step).
constexpr auto withQuantities() {
    std::array<PlausibleRange, std::size(kRows)> t{};
    for (size_t k = 0; k < t.size(); ++k)
        t[k] = {kRows[k].entry,
                k < std::size(kEntryPoints) ? kEntryPoints[k].quantity : Quantity::None,
                kRows[k].lo, kRows[k].hi};
    return t;
}
} // namespace plausible_rows

inline constexpr auto kPlausible = plausible_rows::withQuantities();

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

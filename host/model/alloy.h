// alloy.h - the alloy a run's cooling history and a curve's path follow,
// given once (--alloy), and the laws both take from it.
//
// Every temperature is in Kelvin here; the user gives them in their own
// unit and the command line converts them. A key the user leaves out keeps
// the sample alloy's value (an aluminium-silicon casting alloy poured into
// a preheated steel mould and cooled to room temperature).
//
// The solid fraction falls linearly from the liquidus to the solidus (the
// lever rule as the bench uses it); with a eutectic, the liquid left when
// it is reached freezes there, at one temperature. Scheil's path uses k and
// the pure solvent's melting point tm and ends in the same way: all solid
// at the eutectic, or at the solidus when there is none.
#pragma once

#include <functional>
#include <iterator>
#include <string>
#include <string_view>

#include "model/units.h"

namespace vhost {

struct Alloy {
    double liquidus = 888.0;             // K
    double solidus = 833.0;              // K
    double eutectic = 0.0;               // K, where the remaining liquid freezes; 0: none
    double k = 0.13;                     // partition coefficient (Scheil)
    double tm = 933.47;                  // K, melting point of the pure solvent (Scheil)
    double pour = 973.0;                 // K, every casting node at time 0
    double mould = 573.0;                // K, the mould at time 0
    double end = 293.0;                  // K, where the history ends: 20 °C
    double time = 3600.0;                // s, the history's length
    static constexpr double side = 12.0; // cm, edge of the meshed cube
    bool operator==(const Alloy &) const = default;

    // Where the last liquid freezes: the eutectic, or else the solidus.
    double freezingEnd() const { return eutectic > 0 ? eutectic : solidus; }
    // The solid fraction when the eutectic starts to freeze: from the
    // eutectic temperature, or the sample's 55 % without one.
    double eutecticFraction() const;
    // Solid fraction at T by the lever rule (see above).
    double leverFraction(double T) const;
    // Solid fraction at T by Scheil's rule with partition coefficient `kk`,
    // solvent melting point `tmm` and liquidus `tl`:
    // 1 - ((tmm - T)/(tmm - tl))^(1/(kk - 1)), all solid from freezingEnd().
    double scheilFraction(double T, double kk, double tmm, double tl) const;
    // The temperature at which the lever rule gives solid fraction fs:
    // the eutectic's for every fraction frozen there.
    double leverTemperature(double fs) const;
};

// The keys of --alloy, in the order of help and of alloyText.
struct AlloyKey {
    const char *name;
    double Alloy::*member;
    bool temperature; // in the user's unit on input
};
inline constexpr AlloyKey kAlloyKeys[] = {
    {"liquidus", &Alloy::liquidus, true},
    {"solidus", &Alloy::solidus, true},
    {"eutectic", &Alloy::eutectic, true},
    {"k", &Alloy::k, false},
    {"tm", &Alloy::tm, true},
    {"pour", &Alloy::pour, true},
    {"mould", &Alloy::mould, true},
    {"end", &Alloy::end, true},
    {"time", &Alloy::time, false},
};

// Why the alloy cannot be used, one line naming the key, or "" (each
// temperature shown in the user's unit of `units`, as they wrote it).
std::string alloyProblem(const Alloy &a, const UnitConverter &units);

// The history in one line, in the user's unit: "history: poured at 700 °C
// into a mould at 300 °C, cooled to 20 °C in 3600 s (liquidus 615 °C,
// solidus 555 °C)".
std::string historyLine(const Alloy &a, const UnitConverter &units);

// The alloy as key=value,... with every digit (Kelvin): what a worker is
// given and what run.txt keeps of the history.
std::string alloyText(const Alloy &a);

// Read key=value items, separated by commas or by lines, '#' starting a
// comment, into `a` (keys left out keep their value); each temperature
// through `toKelvin`. False with one line naming the key in `error`.
bool readAlloy(std::string_view text, const std::function<double(double)> &toKelvin, Alloy &a,
               std::string &error);

} // namespace vhost

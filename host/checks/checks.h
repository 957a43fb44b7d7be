// checks.h - the judgements behind the checks (check.h is their
// interface): results that depend on the unit selections, results that
// depend on the order of the calls (hidden state), values outside a
// plausible range, and a time per call that grows with the mesh.
//
// The first two compare values of workers that evaluated the same entry
// point differently: a worker with other unit selectors (its result
// converted back to the internal unit by the quantity the entry point
// returns), and a worker that visits the nodes of every step in a shuffled
// order and calls each node twice in a row. User code runs only in the
// workers; these functions only compare what they wrote.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "model/units.h"
#include "model/entries.h"

namespace vhost {

// Values of quantity `code` in the units of `units` brought to its
// internal unit. Every conversion is a scale and an offset, so one that
// keeps 0 and 1 keeps every value and is not called at all.
struct InternalUnit {
    InternalUnit() = default;
    InternalUnit(const UnitConverter &units, int code)
        : units_(units), code_(code),
          identity_(code == kNotConverted ||
                    (units.toInternal(code, 0) == 0 && units.toInternal(code, 1) == 1)) {}
    double operator()(double x) const { return identity_ ? x : units_.toInternal(code_, x); }
    bool identity() const { return identity_; }

  private:
    UnitConverter units_;
    int code_ = kNotConverted;
    bool identity_ = true;
};

// A selection of units that differs from the base run's in one selector.
struct UnitVariant {
    std::string label; // e.g. "temperature F"
    Units units;
};

// The variants an entry point returning `quantity` is evaluated under:
// temperature K, C, F, R; length m, cm, mm, in; velocity m/s, cm/s,
// mm/s; and the selectors of the quantity it returns (heat flux,
// heat-transfer coefficient, mass flow rate), each but the base's own.
std::vector<UnitVariant> unitVariants(const Units &base, int quantity);

// The label of the base selection of the variant's selector, e.g. "temperature K".
std::string baseLabel(const Units &base, const UnitVariant &v);

// A value that differs between two evaluations.
struct Finding {
    std::string entry;
    std::string what; // "under temperature C", "in a shuffled order", ...
    int node = 0, step = 0;
    double first = 0, second = 0;       // as compared (internal units for the unit check)
    double firstRaw = 0, secondRaw = 0; // as returned
    int64_t count = 0;                  // values that differ
};

// The unit check of one variant: values (steps x nnod) of the base run
// (under the units of `base`) and of the variant, converted back; a
// difference beyond rounding (relative 1e-9 of the entry's largest value)
// is a finding. False when none.
bool checkUnits(const std::string &entry, const UnitConverter &base,
                std::span<const double> baseValues, const UnitVariant &v,
                std::span<const double> values, const std::vector<uint8_t> &nodeMaterial,
                Finding &f);

// The order check: `twice` holds the shuffled run's values then the
// repeated calls' (2 x steps x nnod). Any value not bit-identical to the
// base run's is a finding (at most two: shuffled order, repeated call).
std::vector<Finding> checkOrder(const std::string &entry, std::span<const double> baseValues,
                                std::span<const double> twice,
                                const std::vector<uint8_t> &nodeMaterial);

// The numbering check: the values (steps x nnod) of the base run and of
// a run on the sample numbered otherwise, brought back to the base run's
// numbering. The first value not bit-identical (by step, then node) is
// the finding; false when none.
bool checkNumbering(const std::string &entry, std::span<const double> baseValues,
                    std::span<const double> renumbered, const std::vector<uint8_t> &nodeMaterial,
                    Finding &f);

// The relative difference of `v` from `nearest`, |v - nearest| /
// max(|v|, |nearest|): 0 when both are the same number (+0 and -0, the
// same infinity, NaN and NaN), infinite when only one is NaN or infinite.
double roundingDifference(double v, double nearest);

// What the rounding check found: the first value (by step, then node)
// whose difference under any of the other modes exceeds the tolerance,
// its four values, the largest of its three differences, and how many
// values (nodes and steps) have one beyond it.
struct RoundingFinding {
    int node = 0, step = 0;
    double nearest = 0;
    double other[3] = {}; // upward, downward, toward zero
    double difference = 0;
    int64_t count = 0;
};

// The rounding check: the values (steps x nnod) of the run to nearest and
// of the runs rounded upward, downward and toward zero, at the evaluated
// nodes. False when no difference exceeds `tol` (or the shapes differ).
bool checkRounding(std::span<const double> nearest, const std::span<const double> (&other)[3],
                   const std::vector<uint8_t> &nodeMaterial, double tol, RoundingFinding &f);

// --expect: the values of `entry` (steps x nnod) outside [lo, hi] at the
// evaluated nodes (NaN is reported apart). False when none.
bool checkRange(const std::string &entry, double lo, double hi, std::span<const double> values,
                const std::vector<uint8_t> &nodeMaterial, Finding &f);

// --check-cost: the time per call on the run's mesh against that on a mesh
// with `fewer` times fewer nodes. A note with advice when it grows with the
// mesh (more than a third of the ratio of the nodes), else empty.
std::string costNote(const std::string &entry, double perCall, double perCallSmall, double fewer);

// A finding as report lines.
std::string findingText(const Finding &f, const char *firstLabel, const char *secondLabel);

} // namespace vhost

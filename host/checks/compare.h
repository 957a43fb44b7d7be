// compare.h - the comparison of a run with one saved before.
//
// --compare DIR reads a saved run (output/saved_run.h) as untrusted input:
// every line of run.txt is checked, every values file must have exactly the
// size the description gives, and a run of another shape is reported as
// such, never compared value by value.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "output/saved_run.h"

namespace vhost {

struct Outcome;
class Sample;

// A reference run: its description, then the values of the entry points
// the current run shares with it (loaded only when the shapes agree).
struct Reference {
    std::string dir;
    RunDescription run;
    std::vector<std::string> loaded;         // entry names
    std::vector<std::vector<double>> values; // per loaded entry, steps x nnod
};

// Read DIR's description; false with the reason.
bool readReferenceDescription(const std::string &dir, Reference &ref, std::string &error);

// What differs in shape between the reference and the current run, one
// line each (entry-point sets excluded: those are per entry point).
std::vector<std::string> shapeDifferences(const RunDescription &ref, const RunDescription &cur);

// Load the values of `names` that the reference has; false with the reason.
bool loadReferenceValues(Reference &ref, const std::vector<std::string> &names, std::string &error);

struct Tolerance {
    double rtol = 1e-6, atol = 0;
};

// One entry point compared.
struct EntryComparison {
    enum Verdict { Same, Within, Differs, OnlyHere, OnlyInReference, NotEvaluated };
    std::string name;
    Verdict verdict = Same;
    int64_t differing = 0, beyond = 0; // values not bit-identical, beyond the tolerance
    double largest = 0;                // largest absolute difference
    double relative = 0;    // there, |value - reference| / max(|value|, |reference|); NaN when
                            // not finite
    int node = 0, step = 0; // where (1-based)
    double value = 0, reference = 0;
    std::vector<double> difference; // steps x nnod: value - reference (NaN where not evaluated)
};

struct Comparison {
    std::vector<std::string> shape; // differences of shape: nothing compared then
    std::vector<std::string> build; // how the library's build differs: a note, no failure
    std::vector<EntryComparison> entries;
    bool failed() const;
};

// Compare the current outcomes with the reference. `nodeMaterial` is 0 at
// the nodes not evaluated.
Comparison compareRuns(const Reference &ref, const RunDescription &cur,
                       const std::vector<Outcome> &outcomes,
                       const std::vector<uint8_t> &nodeMaterial, const Tolerance &tol);

// The report: a line per entry point, the largest difference with the
// fields of `sample` at its node (on a path: at its point, with the
// point's temperature in the user's unit of `units`).
std::string comparisonReport(const Comparison &c, const Reference &ref, const Tolerance &tol,
                             Sample &sample, const UnitConverter &units);

} // namespace vhost

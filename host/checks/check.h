// check.h - the one interface every check implements.
//
// A check judges what a plain run cannot show. It may ask for workers of
// its own (the same entry point under other unit selectors, in another
// order, on a smaller mesh), judges each against the entry point's own
// run, and may add findings of its own once every worker has ended (a
// range of plausible values, a saved run). The run calls the checks in
// the order of makeChecks(); a new check is one file implementing this
// interface and its row there.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "checks/checks.h"
#include "model/build_record.h"
#include "model/sample_config.h"
#include "output/report.h"
#include "parent/outcome.h"
#include "parent/workers.h"

namespace vhost {

class Sample;
class Check;

// A range the user expects the values of an entry point in (--expect).
struct Expectation {
    std::string entry; // without func_
    double lo = 0, hi = 0;
    bool operator==(const Expectation &) const = default;
};

// The checks the user asks for, and how.
struct CheckSettings {
    std::string compare;          // a saved run's folder to compare with ("": none)
    double rtol = 1e-6, atol = 0; // its tolerance: 32-bit host fields widened to double
    bool units = false;           // evaluate again under other unit selections
    bool order = false;           // ... in a shuffled order, every call twice
    bool numbering = false;       // ... with the nodes and elements numbered in another order
    bool cost = false;            // ... on a mesh with fewer nodes
    bool rounding = false;        // ... under the other rounding modes
    double roundingTol = 1e-6;    // the relative difference they may make
    bool trapFp = false;          // every call again with floating-point traps on
    std::vector<Expectation> expect;
    bool strict = false; // implausible values and a path's findings fail the run
    // --expect-kink: more temperatures (user's unit) and solid fractions
    // where a path's properties may kink
    std::vector<double> kinkTemperatures, kinkFractions;
    bool path = false; // the run evaluates a path (curve): its smoothness is checked
    bool operator==(const CheckSettings &) const = default;
};

// What the checks see of the run: what was asked, the sample it ran on
// (the config its workers were given, and the parent's own sample), the
// library file's identity, the entry points' outcomes and per node its
// material (0: not evaluated).
struct CheckContext {
    const CheckSettings &settings;
    const SampleConfig &config;
    const LibraryIdentity &library;
    const std::vector<Outcome> &outcomes;
    const std::vector<uint8_t> &nodeMaterial;
    Sample &sample;
    UnitConverter units; // the library's converters under the run's units
    // In inspect(): the outcome's values at the evaluated nodes alone, a
    // step after another, as its worker's file keeps them (read from there
    // without laying them out over every node); null when it holds others.
    const ValuePieces *evaluated = nullptr;
};

// One worker a check asked for: which outcome it checks, and the check's
// own number for it (a unit variant, say).
struct CheckWork {
    size_t outcome = 0;
    const Check *check = nullptr;
    int variant = 0;
    std::unique_ptr<WorkerJob> worker; // planned; run, then handed back to judge()
};

// What the checks found, as the report shows it.
struct CheckFindings {
    std::string before;                // findings of no worker's (ranges), shown first
    std::string warnings;              // findings that do not fail the run (plausibility)
    size_t warned = 0;                 // entry points with a warning
    size_t contradictions = 0;         // rules between entry points broken, as warnings
    std::vector<std::string> perEntry; // a worker's findings, per outcome
    std::vector<bool> flagged;         // per outcome: counted as a problem already
    size_t found = 0;                  // problems counted in the verdict
    size_t changed = 0;                // entry points flagged by a check of change
    std::string cost;                  // --check-cost's notes
    bool compared = false, differs = false;
    std::string comparison;        // the comparison with a saved run
    std::vector<ExtraField> extra; // fields added to the VTU files
    // Count outcome k as a problem, once however many workers find one.
    void flag(size_t k);
    // A finding of a check whose findings are warnings unless `strict`:
    // counted in the verdict then, else in `warnedCount`.
    void warnOrFail(bool strict, const std::string &text, size_t &warnedCount);
};

// A check. Only wanted() must be written: each other step does nothing
// by default (check.cpp).
class Check {
  public:
    virtual ~Check() = default;
    // True when `settings` ask for this check.
    virtual bool wanted(const CheckSettings &settings) const = 0;
    // Before any worker runs: read and check what the check needs from
    // `settings`; false with `error` when the command cannot be carried out.
    virtual bool prepare(const CheckSettings &settings, std::string &error);
    // Outcome `k` of `c` as it is collected (its values are let go
    // afterwards unless an output or a check needs them).
    virtual void inspect(const CheckContext &c, size_t k);
    // Whether inspect() reads the values of outcome `k` of `c`: a run that
    // keeps no values lays them out only for a check that says so.
    virtual bool wantsValues(const CheckContext &c, size_t k) const;
    // True when plan(), judge() or conclude() read the outcomes' values
    // (by default they do).
    virtual bool needsValues() const;
    // Appends to `work` the workers this check wants for outcome `k` of
    // `c`, one that returned values.
    virtual void plan(const CheckContext &c, size_t k, std::vector<CheckWork> &work) const;
    // Judges one of its workers, `work`, which ended as `r`, against the
    // outcome it checks; what it finds goes into `f`.
    virtual void judge(const CheckContext &c, const CheckWork &work, const Outcome &r,
                       CheckFindings &f) const;
    // After every worker: findings of its own into `f`; false with `error`
    // when the command cannot be carried out.
    virtual bool conclude(const CheckContext &c, CheckFindings &f, std::string &error);
    // Named in "...: no entry point changed" when no entry point changed
    // under it; null (the default) for a check that does not look for
    // changes.
    virtual const char *changeLabel() const;
    // True (the default) when its findings count in the verdict's
    // "checks:" line.
    virtual bool counted() const;
};

// Every check the command line asks for, in the order they report.
std::vector<std::unique_ptr<Check>> makeChecks(const CheckSettings &settings);

// The text of a check's worker that returned no values: "func_NAME HOW:
// what it did, where".
std::string checkWorkerFailure(const Outcome &base, const std::string &how, const Outcome &r,
                               double timeLimit);

} // namespace vhost

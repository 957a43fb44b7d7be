// compare_check.cpp - --compare DIR: every value against a saved run's.
#include "checks/check.h"
#include "checks/compare.h"

namespace vhost {

namespace {

class CompareCheck final : public Check {
  public:
    bool wanted(const CheckSettings &s) const override { return !s.compare.empty(); }

    // The saved run's description, read before any worker runs.
    bool prepare(const CheckSettings &s, std::string &error) override {
        return readReferenceDescription(s.compare, reference_, error);
    }

    // Same shape: the values, compared; another shape is reported as such.
    bool conclude(const CheckContext &c, CheckFindings &f, std::string &error) override {
        const RunDescription current =
            describeRun(c.config, c.library, c.outcomes, c.sample.path());
        if (shapeDifferences(reference_.run, current).empty() &&
            !loadReferenceValues(reference_, current.entries, error))
            return error = "--compare: " + error, false;
        const Tolerance tol{c.settings.rtol, c.settings.atol};
        comparison_ = compareRuns(reference_, current, c.outcomes, c.nodeMaterial, tol);
        f.comparison = comparisonReport(comparison_, reference_, tol, c.sample, c.units);
        f.compared = true;
        f.differs = comparison_.failed();
        reference_.values.clear();
        for (const EntryComparison &e : comparison_.entries)
            if (!e.difference.empty())
                f.extra.push_back({"difference_func_" + e.name, &e.difference});
        return true;
    }

    bool counted() const override { return false; }

  private:
    Reference reference_;
    Comparison comparison_; // holds the differences the VTU files show
};

} // namespace

std::unique_ptr<Check> makeCompareCheck() {
    return std::make_unique<CompareCheck>();
}

} // namespace vhost

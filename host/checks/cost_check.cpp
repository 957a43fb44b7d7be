// cost_check.cpp - --check-cost: the time per call on a mesh with fewer
// nodes; a time per call that grows with the mesh is noted, with advice.
#include <algorithm>
#include <cmath>

#include "checks/check.h"

namespace vhost {

namespace {

class CostCheck final : public Check {
  public:
    bool wanted(const CheckSettings &s) const override { return s.cost; }

    // The run's sample on about an eighth of the nodes.
    static SampleConfig smaller(const SampleConfig &o) {
        SampleConfig small = o;
        small.nodesPerSide = std::max(4, o.nodesPerSide / 2);
        return small;
    }

    // One worker on the smaller mesh, when there is one.
    void plan(const CheckContext &c, size_t k, std::vector<CheckWork> &work) const override {
        const SampleConfig small = smaller(c.config);
        if (small.nodesPerSide >= c.config.nodesPerSide) return;
        work.push_back(
            {k, this, 0, makeWorker(c.outcomes[k].name, WorkerKind::Entry, small, ".cost")});
    }

    // A note, not a failure: timings on a shared machine vary. Processor
    // time, which a busy machine does not stretch; the wall clock where
    // that is too coarse to have counted.
    void judge(const CheckContext &c, const CheckWork &w, const Outcome &r,
               CheckFindings &f) const override {
        const Outcome &base = c.outcomes[w.outcome];
        if (r.status != Outcome::Ok || r.result.calls <= 0 || base.result.calls <= 0) return;
        const double fewer = std::pow(double(c.config.nodesPerSide), 3) /
                             std::pow(double(smaller(c.config).nodesPerSide), 3);
        const bool cpu = base.result.cpuSeconds > 0 && r.result.cpuSeconds > 0;
        const double t = cpu ? base.result.cpuSeconds : base.result.seconds;
        const double tSmall = cpu ? r.result.cpuSeconds : r.result.seconds;
        f.cost += costNote(base.name, t / double(base.result.calls),
                           tSmall / double(r.result.calls), fewer);
    }

    bool counted() const override { return false; }
    bool needsValues() const override { return false; } // only the calls' times
};

} // namespace

std::unique_ptr<Check> makeCostCheck() {
    return std::make_unique<CostCheck>();
}

} // namespace vhost

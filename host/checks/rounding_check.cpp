// rounding_check.cpp - --check-rounding: the entry point's calls made again
// rounded upward, downward and toward zero (a worker each, the mode set
// around every call) must give what the run to nearest gave, within a
// relative tolerance; a result that moves more depends on its last bits
// (cancellation, a huge coefficient).
#include <cstdio>
#include <map>
#include <vector>

#include "checks/check.h"
#include "model/caller.h"

namespace vhost {

namespace {

// The modes of the three workers, in the order of their variants.
constexpr Rounding kModes[] = {Rounding::Upward, Rounding::Downward, Rounding::TowardZero};

class RoundingCheck final : public Check {
  public:
    bool wanted(const CheckSettings &s) const override { return s.rounding; }

    // A worker per mode, each making the plain run's calls.
    void plan(const CheckContext &c, size_t k, std::vector<CheckWork> &work) const override {
        for (int v = 0; v < 3; ++v) {
            const char *word = roundingWord(kModes[v]);
            CheckWork w{k, this, v,
                        makeWorker(c.outcomes[k].name, WorkerKind::Entry, c.config,
                                   std::string(".") + word)};
            w.worker->extra = {"--rounding-mode", word};
            work.push_back(std::move(w));
        }
    }

    // The values are compared once all three workers of an entry point
    // are in; until then each one's are kept here (the run judges an entry
    // point's workers one after another, so one entry point's at a time).
    void judge(const CheckContext &c, const CheckWork &w, const Outcome &r,
               CheckFindings &f) const override {
        const Outcome &base = c.outcomes[w.outcome];
        Pending &p = pending_[w.outcome];
        ++p.arrived;
        if (r.status != Outcome::Ok || r.result.values.empty()) {
            p.failed = true;
            f.perEntry[w.outcome] +=
                checkWorkerFailure(base, std::string("rounded ") + roundingName(kModes[w.variant]),
                                   r, c.config.timeLimit);
            f.flag(w.outcome);
        } else {
            p.values[w.variant].assign(r.result.values.begin(), r.result.values.end());
        }
        if (p.arrived < 3) return;
        const Pending done = std::move(p);
        pending_.erase(w.outcome);
        if (done.failed) return;
        const std::span<const double> other[3] = {done.values[0], done.values[1], done.values[2]};
        RoundingFinding found;
        const double tol = c.settings.roundingTol;
        if (!checkRounding(base.result.values, other, c.nodeMaterial, tol, found)) return;
        char buf[640];
        std::snprintf(buf, sizeof buf,
                      "func_%s: ill-conditioned (cancellation?): node %d, step %d: %s %.17g, %s "
                      "%.17g, %s %.17g, %s %.17g (relative difference %.3g; %lld values beyond "
                      "%g)\n",
                      base.name.c_str(), found.node, found.step, roundingName(Rounding::Nearest),
                      found.nearest, roundingName(kModes[0]), found.other[0],
                      roundingName(kModes[1]), found.other[1], roundingName(kModes[2]),
                      found.other[2], found.difference, static_cast<long long>(found.count), tol);
        f.perEntry[w.outcome] += buf;
        f.flag(w.outcome);
    }

    const char *changeLabel() const override { return "rounding check"; }

  private:
    struct Pending {
        int arrived = 0;
        bool failed = false;
        std::vector<double> values[3];
    };
    mutable std::map<size_t, Pending> pending_; // by outcome
};

} // namespace

std::unique_ptr<Check> makeRoundingCheck() {
    return std::make_unique<RoundingCheck>();
}

} // namespace vhost

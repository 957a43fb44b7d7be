// numbering_check.cpp - --check-numbering: the same casting with its nodes
// and elements numbered in another order, its values brought back to the
// run's numbering, must give bit-identical values at every node; one that
// differs shows an index mistake (node - 1, a fixed node number, an array
// kept in the old numbering).
#include <cstdio>

#include "checks/check.h"
#include "model/sample.h"

namespace vhost {

namespace {

// The other numbering's seed, as its worker is given it.
constexpr uint32_t kSeed = 7;

class NumberingCheck final : public Check {
  public:
    bool wanted(const CheckSettings &s) const override { return s.numbering; }

    // One worker on the renumbered sample.
    void plan(const CheckContext &c, size_t k, std::vector<CheckWork> &work) const override {
        CheckWork w{k, this, 0,
                    makeWorker(c.outcomes[k].name, WorkerKind::Entry, c.config, ".numbering")};
        w.worker->extra = {"--renumber-seed", std::to_string(kSeed)};
        work.push_back(std::move(w));
    }

    // The first value that differs at the same node, with both numbers of
    // that node.
    void judge(const CheckContext &c, const CheckWork &w, const Outcome &r,
               CheckFindings &f) const override {
        const Outcome &base = c.outcomes[w.outcome];
        std::string text;
        if (r.status != Outcome::Ok || r.result.values.empty()) {
            text = checkWorkerFailure(base, "renumbered", r, c.config.timeLimit);
        } else {
            Finding found;
            if (!checkNumbering(base.name, base.result.values, r.result.values, c.nodeMaterial,
                                found))
                return;
            const std::vector<int32_t> renumbered =
                renumbering(static_cast<int64_t>(c.nodeMaterial.size()), kSeed);
            char buf[512];
            std::snprintf(buf, sizeof buf,
                          "func_%s: renumbered, the value at the same node differs: node %d "
                          "(node %d renumbered), step %d: %.17g, renumbered %.17g (%lld values "
                          "differ)\n  likely cause: an index mistake (node - 1, a fixed node "
                          "number, an array kept in the old numbering)?\n",
                          base.name.c_str(), found.node,
                          renumbered[static_cast<size_t>(found.node - 1)] + 1, found.step,
                          found.first, found.second, static_cast<long long>(found.count));
            text = buf;
        }
        f.perEntry[w.outcome] += text;
        f.flag(w.outcome);
    }

    const char *changeLabel() const override { return "numbering check"; }
};

} // namespace

std::unique_ptr<Check> makeNumberingCheck() {
    return std::make_unique<NumberingCheck>();
}

} // namespace vhost

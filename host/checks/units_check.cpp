// units_check.cpp - --check-units: the same entry point under other unit
// selectors, its values converted back, must give the same results.
#include <cstdio>

#include "checks/check.h"
#include "model/entries.h"

namespace vhost {

namespace {

class UnitsCheck final : public Check {
  public:
    bool wanted(const Options &o) const override { return o.checkUnits; }

    // A worker per unit variant of what the entry point returns.
    void plan(const CheckContext &c, size_t k, std::vector<CheckWork> &work) const override {
        const Outcome &e = c.outcomes[k];
        const std::vector<UnitVariant> variants =
            unitVariants(c.options.units, returnedQuantity(e.name));
        for (size_t j = 0; j < variants.size(); ++j) {
            Options how = c.options;
            how.units = variants[j].units;
            CheckWork w{k, this, static_cast<int>(j),
                        makeWorker(e.name, WorkerKind::Entry, how, ".units" + std::to_string(j))};
            work.push_back(std::move(w));
        }
    }

    // A value that differs beyond rounding once converted back.
    void judge(const CheckContext &c, const CheckWork &w, const Outcome &r,
               CheckFindings &f) const override {
        const Outcome &base = c.outcomes[w.outcome];
        const UnitVariant v =
            unitVariants(c.options.units, returnedQuantity(base.name))[size_t(w.variant)];
        std::string text;
        if (r.status != Outcome::Ok || r.result.values.empty()) {
            text = checkWorkerFailure(base, "under " + v.label, r, c.options.timeLimit);
        } else {
            Finding found;
            if (!checkUnits(base.name, c.options.units, base.result.values, v, r.result.values,
                            c.nodeMaterial, c.toInternal, found))
                return;
            text = findingText(found, baseLabel(c.options.units, v).c_str(), v.label.c_str());
            char raw[160];
            std::snprintf(raw, sizeof raw,
                          "  (in the host's units; as returned: %.17g and %.17g)\n", found.firstRaw,
                          found.secondRaw);
            if (returnedQuantity(base.name) != kNotConverted) text += raw;
        }
        f.perEntry[w.outcome] += text;
        f.flag(w.outcome);
    }

    const char *changeLabel() const override { return "unit check"; }
};

} // namespace

std::unique_ptr<Check> makeUnitsCheck() {
    return std::make_unique<UnitsCheck>();
}

} // namespace vhost

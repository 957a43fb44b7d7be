// units_check.cpp - --check-units: the same entry point under other unit
// selectors, its values converted back, must give the same results; a
// change is reported with the converter mistake that explains it, matched
// as the plausibility check matches its mistakes (plausible.h).
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "checks/check.h"
#include "checks/plausible.h"
#include "model/entries.h"

namespace vhost {

namespace {

// The quantity code of the one selector `v` changes from `base`.
int changedCode(const Units &base, const Units &v) {
    for (const UnitSelector &s : kUnitSelectors)
        if (base.*s.member != v.*s.member) return s.code;
    return kNotConverted;
}

// The converter of quantity `code` under `u` as an affine map from the
// user's unit to the internal one.
Relation converter(const CheckContext &c, int code, const Units &u) {
    const UnitConverter under = c.units.under(u);
    const double offset = under.toInternal(code, 0);
    return {under.toInternal(code, 1) - offset, offset};
}

// The mistakes of converting a result of quantity `code`, as relations
// between its value under `base` and under `v` (both internal units): the
// same number returned under both, or each converted by fconvertToCGS.
std::vector<Cause> converterMistakes(const CheckContext &c, int code, const Units &base,
                                     const Units &v) {
    const Relation b = converter(c, code, base), w = converter(c, code, v);
    const double same = w.factor / b.factor, twice = same * same;
    return {
        {{same, w.offset - same * b.offset},
         "the result not converted to the user's unit (fconvertFromCGS)?"},
        {{twice, w.factor * w.offset + w.offset - twice * (b.factor * b.offset + b.offset)},
         "a converter used the wrong way (fconvertToCGS where a result needs "
         "fconvertFromCGS)?"},
    };
}

// A value read through an accessor in the user's unit and used as the
// internal unit: the likely cause of a change under a selector the
// accessors use, when no converter mistake fits.
std::string readCause(int code, const Units &v) {
    if (code == VULMORA_QTY_TEMPERATURE)
        return std::string("likely cause: a temperature read in the user's unit (getT0, getT1) "
                           "used as Kelvin?") +
               (v.temp == 2 ? " or C converted by hand with 273.15 (the library's C is K - 273)?"
                            : "");
    if (code == VULMORA_QTY_LENGTH)
        return "likely cause: a coordinate read in the user's unit (getX, getY, getZ) used as "
               "cm?";
    if (code == VULMORA_QTY_VELOCITY)
        return "likely cause: a velocity read in the user's unit (getU0 .. getW1) used as cm/s?";
    return "";
}

// What explains the values of `base` and `r`, internal units, differing.
std::string unitCause(const CheckContext &c, const Outcome &base, const Outcome &r,
                      const UnitVariant &v) {
    const int q = returnedQuantity(base.name), code = changedCode(c.config.units, v.units);
    auto internal = [&](const Units &u, double x) {
        return q == kNotConverted ? x : c.units.under(u).toInternal(q, x);
    };
    std::string cause;
    if (q != kNotConverted && q == code)
        cause =
            likelyCause(converterMistakes(c, q, c.config.units, v.units), [&](const Relation &m) {
                const size_t n = c.nodeMaterial.size();
                for (size_t k = 0; k < base.result.values.size() && k < r.result.values.size();
                     ++k) {
                    if (!c.nodeMaterial[k % n]) continue;
                    const double a = internal(c.config.units, base.result.values[k]);
                    const double b = internal(v.units, r.result.values[k]), x = m.apply(a);
                    if (std::isnan(a) && std::isnan(b)) continue;
                    if (!(std::fabs(b - x) <= 1e-7 * std::max(std::fabs(b), std::fabs(x)) + 1e-300))
                        return false;
                }
                return true;
            });
    return cause.empty() ? readCause(code, v.units) : cause;
}

class UnitsCheck final : public Check {
  public:
    bool wanted(const CheckSettings &s) const override { return s.units; }

    // A worker per unit variant of what the entry point returns.
    void plan(const CheckContext &c, size_t k, std::vector<CheckWork> &work) const override {
        const Outcome &e = c.outcomes[k];
        const std::vector<UnitVariant> variants =
            unitVariants(c.config.units, returnedQuantity(e.name));
        for (size_t j = 0; j < variants.size(); ++j) {
            SampleConfig how = c.config;
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
            unitVariants(c.config.units, returnedQuantity(base.name))[size_t(w.variant)];
        std::string text;
        if (r.status != Outcome::Ok || r.result.values.empty()) {
            text = checkWorkerFailure(base, "under " + v.label, r, c.config.timeLimit);
        } else {
            Finding found;
            if (!checkUnits(base.name, c.units, base.result.values, v, r.result.values,
                            c.nodeMaterial, found))
                return;
            text = findingText(found, baseLabel(c.config.units, v).c_str(), v.label.c_str());
            char raw[160];
            std::snprintf(raw, sizeof raw,
                          "  (in the host's units; as returned: %.17g and %.17g)\n", found.firstRaw,
                          found.secondRaw);
            if (returnedQuantity(base.name) != kNotConverted) text += raw;
            const std::string cause = unitCause(c, base, r, v);
            if (!cause.empty()) text += "  " + cause + "\n";
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

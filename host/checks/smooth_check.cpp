// smooth_check.cpp - a curve's values along its path: jumps, kinks,
// non-finite values and sign changes, each at its temperature. Warnings,
// or problems with --strict.
#include <cstdio>

#include "checks/check.h"
#include "checks/smoothness.h"
#include "include/vulmora/getVar.h"
#include "model/path.h"

namespace vhost {

namespace {

// The words of a finding's kind.
const char *kindText(Roughness::Kind k) {
    switch (k) {
    case Roughness::NonFinite:
        return "non-finite value";
    case Roughness::SignChange:
        return "drop to zero or below";
    case Roughness::Jump:
        return "jump";
    case Roughness::Kink:
        break;
    }
    return "kink";
}

// Where the path's properties may kink: its liquidus and solidus, where
// its eutectic starts to freeze (the alloy's fraction), and what the user
// added; a jump where its solid fraction jumps (the rest of the liquid
// freezing at the eutectic, or at the end of Scheil's path).
ExpectedAt expectedAt(const CheckContext &c, const Path &p) {
    ExpectedAt e;
    const std::vector<double> &T = p.values[column::t1], &fs = p.values[column::fs1];
    e.kinks = {p.liquidus, p.solidus};
    if (p.eutectic > 0) e.kinks.push_back(p.eutectic);
    for (const Roughness &r : roughness(T, fs, false))
        if (r.kind == Roughness::Jump) e.jumps.push_back(0.5 * (T[r.point - 1] + T[r.point]));
    std::vector<double> fractions = c.settings.kinkFractions;
    fractions.push_back(c.config.alloy.eutecticFraction());
    for (double f : fractions)
        for (double t : crossings(T, fs, f))
            e.kinks.push_back(t);
    for (double t : c.settings.kinkTemperatures)
        e.kinks.push_back(c.units.toInternal(VULMORA_QTY_TEMPERATURE, t));
    return e;
}

class SmoothnessCheck final : public Check {
  public:
    bool wanted(const CheckSettings &s) const override { return s.path; }

    // Each entry point's values along the path, at most 8 findings shown.
    bool conclude(const CheckContext &c, CheckFindings &f, std::string &) override {
        const Path *p = c.sample.path();
        if (!p) return true;
        const size_t n = p->points();
        const std::vector<double> &T = p->values[column::t1];
        const ExpectedAt expected = expectedAt(c, *p);
        for (const Outcome &e : c.outcomes) {
            if (!e.hasValues() || e.result.values.size() < n) continue;
            const std::vector<double> y(e.result.values.begin(),
                                        e.result.values.begin() + std::ptrdiff_t(n));
            const std::vector<Roughness> found =
                unexpected(roughness(T, y, mustBePositive(e.name)), T, expected);
            if (found.empty()) continue;
            std::string t = std::string(c.settings.strict ? "" : "warning: ") + "func_" + e.name +
                            " along the path:";
            for (size_t k = 0; k < found.size() && k < 8; ++k) {
                const size_t i = found[k].point;
                char at[160];
                std::snprintf(at, sizeof at, "%s a %s at %.6g %s (%.6g)", k ? "," : "",
                              kindText(found[k].kind),
                              c.units.toUser(VULMORA_QTY_TEMPERATURE, T[i]),
                              temperatureUnitName(c.config.units.temp), y[i]);
                t += at;
            }
            if (found.size() > 8) t += " and " + std::to_string(found.size() - 8) + " more";
            f.before += t + "\n";
            if (c.settings.strict) ++f.found;
        }
        return true;
    }
};

} // namespace

std::unique_ptr<Check> makeSmoothnessCheck() {
    return std::make_unique<SmoothnessCheck>();
}

} // namespace vhost

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

class SmoothnessCheck final : public Check {
  public:
    bool wanted(const CheckSettings &s) const override { return s.path; }

    // Each entry point's values along the path, at most 8 findings shown.
    bool conclude(const CheckContext &c, CheckFindings &f, std::string &) override {
        const Path *p = c.sample.path();
        if (!p) return true;
        const size_t n = p->points();
        const std::vector<double> &T = p->values[column::t1];
        for (const Outcome &e : c.outcomes) {
            if (!e.hasValues() || e.result.values.size() < n) continue;
            const std::vector<double> y(e.result.values.begin(),
                                        e.result.values.begin() + std::ptrdiff_t(n));
            const std::vector<Roughness> found = roughness(T, y, mustBePositive(e.name));
            if (found.empty()) continue;
            std::string t = std::string(c.settings.strict ? "" : "warning: ") + "func_" + e.name +
                            " along the path:";
            for (size_t k = 0; k < found.size() && k < 8; ++k) {
                const size_t i = found[k].point;
                char at[160];
                std::snprintf(at, sizeof at, "%s a %s at %.6g %s (%.6g)", k ? "," : "",
                              kindText(found[k].kind),
                              c.units.toUser(VULMORA_QTY_TEMPERATURE, T[i]),
                              temperatureUnitName(c.spec.units.temp), y[i]);
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

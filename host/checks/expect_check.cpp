// expect_check.cpp - --expect NAME=LO:HI: the values outside the plausible
// range of their entry point.
#include <cstdio>

#include "checks/check.h"
#include "include/vulmora/getVar.h"
#include "model/path.h"
#include "model/sample.h"

namespace vhost {

namespace {

class ExpectCheck final : public Check {
  public:
    bool wanted(const CheckSettings &s) const override { return !s.expect.empty(); }

    // Each range against the values of its entry point.
    bool conclude(const CheckContext &c, CheckFindings &f, std::string &) override {
        for (const Expectation &x : c.settings.expect) {
            // By its entry point, or by the name a user property gave itself.
            const Outcome *e = nullptr;
            for (const Outcome &o : c.outcomes)
                if (o.name == x.entry ||
                    (!o.result.mechName.empty() && o.result.mechName == x.entry))
                    e = &o;
            if (!e && !findEntryPoint(x.entry)) {
                f.before += "--expect " + x.entry +
                            ": no entry point is called so, and no user property gave itself "
                            "that name (name_mechprop)\n";
                ++f.found;
                continue;
            }
            const std::string label =
                "func_" + (e ? e->name : x.entry) +
                (e && e->name != x.entry ? " (" + x.entry + ")" : std::string());
            if (!e || !e->hasValues() || e->result.values.empty()) {
                f.before += label + ": --expect given, but it returned no values\n";
                ++f.found;
                continue;
            }
            Finding found;
            if (!checkRange(e->name, x.lo, x.hi, e->result.values, c.nodeMaterial, found)) continue;
            char buf[400];
            std::snprintf(buf, sizeof buf,
                          "%s: %lld values outside the expected range %g to %g; the first at %s: "
                          "%.17g\n",
                          label.c_str(), static_cast<long long>(found.count), x.lo, x.hi,
                          where(c, found).c_str(), found.first);
            f.before += buf;
            ++f.found;
        }
        return true;
    }

  private:
    // Where a value is: "node 7, step 2"; on a path, the point's temperature
    // in the user's unit and its number, "812.5 K (point 7)".
    static std::string where(const CheckContext &c, const Finding &found) {
        const Path *p = c.sample.path();
        char buf[160];
        if (p && c.units.converts() && found.node >= 1 && size_t(found.node) <= p->points())
            std::snprintf(buf, sizeof buf, "%.6g %s (point %d)",
                          c.units.toUser(VULMORA_QTY_TEMPERATURE,
                                         p->values[column::t1][size_t(found.node - 1)]),
                          temperatureUnitName(c.config.units.temp), found.node);
        else
            std::snprintf(buf, sizeof buf, "node %d, step %d", found.node, found.step);
        return buf;
    }
};

} // namespace

std::unique_ptr<Check> makeExpectCheck() {
    return std::make_unique<ExpectCheck>();
}

} // namespace vhost

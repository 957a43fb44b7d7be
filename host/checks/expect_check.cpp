// expect_check.cpp - --expect NAME=LO:HI: the values outside the plausible
// range of their entry point.
#include <cstdio>

#include "checks/check.h"

namespace vhost {

namespace {

class ExpectCheck final : public Check {
  public:
    bool wanted(const Options &o) const override { return !o.expect.empty(); }

    // Each range against the values of its entry point.
    bool conclude(const CheckContext &c, CheckFindings &f, std::string &) override {
        for (const Options::Expectation &x : c.options.expect) {
            const Outcome *e = nullptr;
            for (const Outcome &o : c.outcomes)
                if (o.name == x.entry) e = &o;
            if (!e || !e->hasValues() || e->result.values.empty()) {
                f.before += "func_" + x.entry + ": --expect given, but it returned no values\n";
                ++f.found;
                continue;
            }
            Finding found;
            if (!checkRange(x.entry, x.lo, x.hi, e->result.values, c.nodeMaterial, found)) continue;
            char buf[400];
            std::snprintf(buf, sizeof buf,
                          "func_%s: %lld values outside the expected range %g to %g; the first "
                          "at node %d, step %d: %.17g\n",
                          x.entry.c_str(), static_cast<long long>(found.count), x.lo, x.hi,
                          found.node, found.step, found.first);
            f.before += buf;
            ++f.found;
        }
        return true;
    }
};

} // namespace

std::unique_ptr<Check> makeExpectCheck() {
    return std::make_unique<ExpectCheck>();
}

} // namespace vhost

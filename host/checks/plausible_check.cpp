// plausible_check.cpp - every run: the values of each entry point outside
// the range any real casting process gives its quantity (plausible.h),
// with the unit mistake that explains them when one does. A warning,
// unless --strict makes it a problem; --expect's range replaces the
// table's for its entry point.
#include <cstdio>
#include <string_view>

#include "checks/check.h"
#include "checks/plausible.h"

namespace vhost {

namespace {

class PlausibleCheck final : public Check {
  public:
    bool wanted(const Options &) const override { return true; }

    bool prepare(const Options &o, std::string &) override {
        strict_ = o.strict;
        return true;
    }

    // Each entry point that returned values, against its row.
    bool conclude(const CheckContext &c, CheckFindings &f, std::string &) override {
        for (const Outcome &e : c.outcomes) {
            if (!e.hasValues() || e.result.values.empty() || expected(c.options, e.name)) continue;
            const PlausibleRange *row = plausibleRange(e.name);
            if (!row || row->quantity == Quantity::UserProperty) continue;
            const Implausible r = judgePlausible(row->quantity, row->lo, row->hi,
                                                 internalValues(c, *row, e), c.nodeMaterial);
            if (r.count == 0) continue;
            const std::string text = findingText(e.name, *row, r);
            if (strict_) {
                f.before += text;
                ++f.found;
            } else {
                f.warnings += text;
                ++f.warned;
            }
        }
        return true;
    }

    bool counted() const override { return strict_; }

  private:
    // True when --expect gives this entry point a range of the user's.
    static bool expected(const Options &o, const std::string &entry) {
        for (const Options::Expectation &x : o.expect)
            if (x.entry == entry) return true;
        return false;
    }

    // The values in the internal unit of the row's quantity.
    static std::vector<double> internalValues(const CheckContext &c, const PlausibleRange &row,
                                              const Outcome &e) {
        std::vector<double> v = e.result.values;
        const int code = quantityInfo(row.quantity).code;
        if (code != kNotConverted)
            for (double &x : v)
                x = c.toInternal(code, c.options.units, x);
        return v;
    }

    // "a" or "an" before `words`.
    static const char *article(const char *words) {
        return std::string_view("aeio").find(words[0]) == std::string_view::npos ? "a" : "an";
    }

    // The finding: how many, the range, the first value, the likely cause.
    static std::string findingText(const std::string &entry, const PlausibleRange &row,
                                   const Implausible &r) {
        const char *words = quantityInfo(row.quantity).words;
        char buf[600];
        std::snprintf(buf, sizeof buf,
                      "func_%s: %lld values outside the plausible range of %s %s, %s; the first "
                      "at node %d, step %d: %s\n",
                      entry.c_str(), static_cast<long long>(r.count), article(words), words,
                      rangeText(row.quantity, row.lo, row.hi).c_str(), r.node, r.step,
                      withUnits(row.quantity, r.first).c_str());
        return buf + (r.cause.empty() ? "" : "  " + r.cause + "\n");
    }

    bool strict_ = false;
};

} // namespace

std::unique_ptr<Check> makePlausibleCheck() {
    return std::make_unique<PlausibleCheck>();
}

} // namespace vhost

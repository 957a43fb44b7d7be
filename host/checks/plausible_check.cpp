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
    bool wanted(const CheckSettings &) const override { return true; }

    bool prepare(const CheckSettings &s, std::string &) override {
        strict_ = s.strict;
        return true;
    }

    // Each entry point that returned values, against its row, as it is
    // collected: the values need not be kept for this check.
    void inspect(const CheckContext &c, size_t k) override {
        if (found_.size() < c.outcomes.size()) found_.resize(c.outcomes.size());
        const Outcome &e = c.outcomes[k];
        found_[k] = {};
        if (e.result.values.empty() || !wantsValues(c, k)) return;
        const PlausibleRange *row = plausibleRange(e.name);
        const InternalUnit unit(c.units, quantityInfo(row->quantity).code);
        const Implausible r =
            judgePlausible(row->quantity, row->lo, row->hi, e.result.values, c.nodeMaterial, unit);
        if (r.count) found_[k] = findingText(e.name, *row, r);
    }

    // The findings, in the order of the entry points.
    bool conclude(const CheckContext &, CheckFindings &f, std::string &) override {
        for (const std::string &text : found_) {
            if (text.empty()) continue;
            f.warnOrFail(strict_, text, f.warned);
        }
        return true;
    }

    // Values to judge: those of an entry point with a row of the table,
    // unless the statistics, which bound the same values (finite, at
    // evaluated nodes), show them all inside its range.
    bool wantsValues(const CheckContext &c, size_t k) const override {
        const Outcome &e = c.outcomes[k];
        if (!e.hasValues() || expected(c.settings, e.name)) return false;
        const PlausibleRange *row = plausibleRange(e.name);
        if (!row || row->quantity == Quantity::UserProperty) return false;
        const InternalUnit unit(c.units, quantityInfo(row->quantity).code);
        return !unit.identity() || (e.finite > 0 && (e.min < row->lo || e.max > row->hi));
    }

    bool counted() const override { return strict_; }
    bool needsValues() const override { return false; }

  private:
    bool strict_ = false;
    std::vector<std::string> found_; // per outcome: its finding, or empty

    // True when --expect gives this entry point a range of the user's.
    static bool expected(const CheckSettings &s, const std::string &entry) {
        for (const Expectation &x : s.expect)
            if (x.entry == entry) return true;
        return false;
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
};

} // namespace

std::unique_ptr<Check> makePlausibleCheck() {
    return std::make_unique<PlausibleCheck>();
}

} // namespace vhost

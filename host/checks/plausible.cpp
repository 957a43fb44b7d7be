// plausible.cpp - values outside their plausible range, and the unit
// mistakes that explain them.
#include "checks/plausible.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vhost {

const QuantityInfo &quantityInfo(Quantity q) {
    for (const QuantityInfo &i : kQuantities)
        if (i.quantity == q) return i;
    return kQuantities[0]; // every kind has a row (a test checks it)
}

const PlausibleRange *plausibleRange(std::string_view entry) {
    for (const PlausibleRange &r : kPlausible)
        if (entry == r.entry) return &r;
    return nullptr;
}

std::vector<Cause> mistakesOf(Quantity q) {
    std::vector<Cause> out;
    for (const Mistake &m : kMistakes)
        if (m.quantity == q) out.push_back({m.relation, m.cause});
    return out;
}

Implausible judgePlausible(Quantity q, double lo, double hi, const std::vector<double> &values,
                           const std::vector<uint8_t> &nodeMaterial) {
    Implausible r;
    const size_t n = nodeMaterial.size();
    auto outside = [&](double x) { return std::isfinite(x) && (x < lo || x > hi); };
    for (size_t k = 0; k < values.size() && n; ++k) {
        if (!nodeMaterial[k % n] || !outside(values[k])) continue;
        if (r.count++ == 0) {
            r.node = static_cast<int>(k % n) + 1;
            r.step = static_cast<int>(k / n) + 1;
            r.first = values[k];
        }
    }
    if (r.count == 0) return r;
    // A cause is named only when it brings every value outside back in.
    r.cause = likelyCause(mistakesOf(q), [&](const Relation &m) {
        for (size_t k = 0; k < values.size(); ++k) {
            if (!nodeMaterial[k % n] || !outside(values[k])) continue;
            const double right = m.undo(values[k]);
            if (!(right >= lo && right <= hi)) return false;
        }
        return true;
    });
    return r;
}

std::string withUnits(Quantity q, double x) {
    const QuantityInfo &i = quantityInfo(q);
    char buf[160];
    if (!*i.unit)
        std::snprintf(buf, sizeof buf, "%.17g", x);
    else if (i.siScale == 1 && i.siOffset == 0)
        std::snprintf(buf, sizeof buf, "%.17g %s", x, i.unit);
    else
        std::snprintf(buf, sizeof buf, "%.17g %s (%.6g %s)", x, i.unit, x * i.siScale + i.siOffset,
                      i.si);
    return buf;
}

std::string rangeText(Quantity q, double lo, double hi) {
    const QuantityInfo &i = quantityInfo(q);
    char buf[160];
    std::snprintf(buf, sizeof buf, "%g to %g%s%s", lo, hi, *i.unit ? " " : "", i.unit);
    return buf;
}

namespace {

// One line of the table: the rows of one quantity and range.
std::string tableLine(const PlausibleRange &first) {
    std::string names, causes;
    for (const PlausibleRange &r : kPlausible)
        if (r.quantity == first.quantity && r.lo == first.lo && r.hi == first.hi)
            names += (names.empty() ? "`" : ", `") + std::string(r.entry) + "`";
    // A mistake that keeps every right value inside the range can never be
    // named for it (a modulus in MPa, when 0 is plausible).
    for (const Cause &c : mistakesOf(first.quantity)) {
        const double a = c.relation.apply(first.lo), b = c.relation.apply(first.hi);
        if (std::min(a, b) < first.lo || std::max(a, b) > first.hi)
            causes += (causes.empty() ? "" : " ") + c.text;
    }
    if (causes.empty()) causes = "-";
    const char *words = quantityInfo(first.quantity).words;
    if (first.quantity == Quantity::UserProperty)
        return "| " + names + " | " + words + " | none: `--expect` gives one | - |\n";
    return "| " + names + " | " + words + " | " + rangeText(first.quantity, first.lo, first.hi) +
           " | " + causes + " |\n";
}

} // namespace

std::string plausibleTableText() {
    std::string t = "| entry points | quantity | plausible range | likely causes named |\n"
                    "|---|---|---|---|\n";
    for (size_t k = 0; k < std::size(kPlausible); ++k) {
        const PlausibleRange &r = kPlausible[k];
        bool seen = false;
        for (size_t j = 0; j < k; ++j)
            seen = seen || (kPlausible[j].quantity == r.quantity && kPlausible[j].lo == r.lo &&
                            kPlausible[j].hi == r.hi);
        if (!seen) t += tableLine(r);
    }
    return t;
}

} // namespace vhost

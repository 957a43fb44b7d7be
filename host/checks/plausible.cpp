// plausible.cpp - values outside their plausible range, and the unit
// mistakes that explain them.
#include "checks/plausible.h"

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

} // namespace vhost

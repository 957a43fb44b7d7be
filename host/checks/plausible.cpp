// plausible.cpp - values outside their plausible range, and the unit
// mistakes that explain them.
#include "checks/plausible.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <span>

namespace vhost {

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

namespace {

// Call `f(x, step, node)` with every value at an evaluated node, in
// internal units, step by step; stop when it returns false.
template <class Convert, class F>
bool eachEvaluated(std::span<const double> values, const std::vector<uint8_t> &nodeMaterial,
                   const Convert &convert, F &&f) {
    const size_t n = nodeMaterial.size();
    for (size_t step = 0; n && step * n < values.size(); ++step) {
        const double *v = values.data() + step * n;
        const size_t nodes = std::min(n, values.size() - step * n);
        for (size_t i = 0; i < nodes; ++i)
            if (nodeMaterial[i] && !f(convert(v[i]), step, i)) return false;
    }
    return true;
}

// The same, with no call at all for values already in internal units.
template <class F>
bool eachEvaluated(std::span<const double> values, const std::vector<uint8_t> &nodeMaterial,
                   const InternalUnit &unit, F &&f) {
    if (unit.identity())
        return eachEvaluated(
            values, nodeMaterial, [](double x) { return x; }, f);
    return eachEvaluated(
        values, nodeMaterial, [&unit](double x) { return unit(x); }, f);
}

} // namespace

Implausible judgePlausible(Quantity q, double lo, double hi, std::span<const double> values,
                           const std::vector<uint8_t> &nodeMaterial, const InternalUnit &unit) {
    Implausible r;
    // NaN compares false; an infinity is not judged here either.
    auto outside = [&](double x) { return (x < lo || x > hi) && std::isfinite(x); };
    eachEvaluated(values, nodeMaterial, unit, [&](double x, size_t step, size_t node) {
        if (outside(x) && r.count++ == 0) {
            r.node = static_cast<int>(node) + 1;
            r.step = static_cast<int>(step) + 1;
            r.first = x;
        }
        return true;
    });
    if (r.count == 0) return r;
    // A cause is named only when it brings every value outside back in.
    r.cause = likelyCause(mistakesOf(q), [&](const Relation &m) {
        return eachEvaluated(values, nodeMaterial, unit, [&](double x, size_t, size_t) {
            if (!outside(x)) return true;
            const double right = m.undo(x);
            return right >= lo && right <= hi;
        });
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

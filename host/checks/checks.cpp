// checks.cpp - the unit and order checks.
#include "checks/checks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <random>
#include <span>
#include <string_view>

#include "model/entries.h"
#include "include/vulmora/getVar.h"

namespace vhost {

namespace {

// The list's entry of the selector of `code` (every code of kUnitNames is in it).
const UnitSelector &selectorOf(const UnitNames &v) {
    return *unitSelectorOfCode(v.code);
}

} // namespace

std::vector<UnitVariant> unitVariants(const Units &base, int quantity) {
    std::vector<UnitVariant> out;
    for (const UnitNames &s : kUnitNames) {
        // Temperature, length and velocity reach every function through the
        // accessors; the other selectors only through what it returns.
        const bool read = s.code == VULMORA_QTY_TEMPERATURE || s.code == VULMORA_QTY_LENGTH ||
                          s.code == VULMORA_QTY_VELOCITY;
        if (!read && s.code != quantity) continue;
        const UnitSelector &u = selectorOf(s);
        for (const auto &[sel, name] : s.units) {
            if (!name) break;
            if (base.*u.member == sel) continue;
            UnitVariant v;
            v.units = base;
            v.units.*u.member = sel;
            v.label = std::string(u.label) + " " + name;
            out.push_back(v);
        }
    }
    return out;
}

std::string baseLabel(const Units &base, const UnitVariant &v) {
    for (const UnitNames &s : kUnitNames) {
        const UnitSelector &u = selectorOf(s);
        if (base.*u.member != v.units.*u.member)
            return std::string(u.label) + " " + unitName(s.code, base.*u.member);
    }
    return "the base units";
}

bool checkUnits(const std::string &entry, const UnitConverter &base,
                std::span<const double> baseValues, const UnitVariant &v,
                std::span<const double> values, const std::vector<uint8_t> &nodeMaterial,
                Finding &f) {
    const int q = returnedQuantity(entry);
    const InternalUnit fromBase(base, q), fromVariant(base.under(v.units), q);
    const size_t n = nodeMaterial.size();
    double scale = 0;
    for (size_t k = 0; k < baseValues.size() && k < values.size(); ++k)
        if (nodeMaterial[k % n] && std::isfinite(baseValues[k]))
            scale = std::max(scale, std::fabs(fromBase(baseValues[k])));
    const double allowed = 1e-9 * scale + 1e-300;
    f = Finding{};
    double worst = -1;
    for (size_t k = 0; k < baseValues.size() && k < values.size(); ++k) {
        if (!nodeMaterial[k % n]) continue;
        const double a = fromBase(baseValues[k]), b = fromVariant(values[k]);
        if (std::isnan(a) && std::isnan(b)) continue;
        const double d = std::fabs(a - b);
        if (d <= allowed) continue;
        ++f.count;
        const double score = std::isnan(d) ? INFINITY : d;
        if (score > worst) {
            worst = score;
            f.node = static_cast<int>(k % n) + 1;
            f.step = static_cast<int>(k / n) + 1;
            f.first = a, f.second = b;
            f.firstRaw = baseValues[k], f.secondRaw = values[k];
        }
    }
    f.entry = entry;
    f.what = "under " + v.label;
    return f.count > 0;
}

namespace {

// The first value of `second` not bit-identical to that of `first` at an
// evaluated node (NaN matching any NaN), and how many are not.
Finding firstDifference(const std::string &entry, const char *what, const double *first,
                        const double *second, size_t count,
                        const std::vector<uint8_t> &nodeMaterial) {
    Finding f;
    f.entry = entry;
    f.what = what;
    const size_t n = nodeMaterial.size();
    for (size_t k = 0; k < count; ++k) {
        if (!nodeMaterial[k % n]) continue;
        const double a = first[k], b = second[k];
        if (std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b))) continue;
        if (f.count++ == 0) {
            f.node = static_cast<int>(k % n) + 1;
            f.step = static_cast<int>(k / n) + 1;
            f.first = f.firstRaw = a;
            f.second = f.secondRaw = b;
        }
    }
    return f;
}

} // namespace

std::vector<Finding> checkOrder(const std::string &entry, std::span<const double> baseValues,
                                std::span<const double> twice,
                                const std::vector<uint8_t> &nodeMaterial) {
    std::vector<Finding> out;
    const size_t count = baseValues.size();
    if (twice.size() != 2 * count) return out;
    const struct {
        const char *what;
        const double *first, *second;
    } pairs[] = {{"in a shuffled order of the nodes", baseValues.data(), twice.data()},
                 {"when called again at the same node", twice.data(), twice.data() + count}};
    for (const auto &p : pairs) {
        Finding f = firstDifference(entry, p.what, p.first, p.second, count, nodeMaterial);
        if (f.count) out.push_back(f);
    }
    return out;
}

bool checkNumbering(const std::string &entry, std::span<const double> baseValues,
                    std::span<const double> renumbered, const std::vector<uint8_t> &nodeMaterial,
                    Finding &f) {
    f = Finding{};
    if (renumbered.size() != baseValues.size() || nodeMaterial.empty()) return false;
    f = firstDifference(entry, "renumbered", baseValues.data(), renumbered.data(),
                        baseValues.size(), nodeMaterial);
    return f.count > 0;
}

double roundingDifference(double v, double nearest) {
    if (std::isnan(v) || std::isnan(nearest))
        return std::isnan(v) == std::isnan(nearest) ? 0 : INFINITY;
    if (v == nearest) return 0;
    if (std::isinf(v) || std::isinf(nearest)) return INFINITY;
    // Scaled first: the difference of two large numbers may overflow.
    const double m = std::max(std::fabs(v), std::fabs(nearest));
    return std::fabs(v / m - nearest / m);
}

bool checkRounding(std::span<const double> nearest, const std::span<const double> (&other)[3],
                   const std::vector<uint8_t> &nodeMaterial, double tol, RoundingFinding &f) {
    f = RoundingFinding{};
    const size_t n = nodeMaterial.size();
    if (n == 0) return false;
    for (const std::span<const double> &o : other)
        if (o.size() != nearest.size()) return false;
    for (size_t k = 0; k < nearest.size(); ++k) {
        if (!nodeMaterial[k % n]) continue;
        double worst = 0;
        for (const std::span<const double> &o : other)
            worst = std::max(worst, roundingDifference(o[k], nearest[k]));
        if (!(worst > tol)) continue;
        if (f.count++ > 0) continue;
        f.node = static_cast<int>(k % n) + 1;
        f.step = static_cast<int>(k / n) + 1;
        f.nearest = nearest[k];
        for (size_t m = 0; m < 3; ++m)
            f.other[m] = other[m][k];
        f.difference = worst;
    }
    return f.count > 0;
}

bool checkRange(const std::string &entry, double lo, double hi, std::span<const double> values,
                const std::vector<uint8_t> &nodeMaterial, Finding &f) {
    f = Finding{};
    f.entry = entry;
    const size_t n = nodeMaterial.size();
    for (size_t k = 0; k < values.size(); ++k) {
        const double x = values[k];
        if (!nodeMaterial[k % n] || std::isnan(x) || (x >= lo && x <= hi)) continue;
        if (f.count++ == 0) {
            f.node = static_cast<int>(k % n) + 1;
            f.step = static_cast<int>(k / n) + 1;
            f.first = f.firstRaw = x;
        }
    }
    return f.count > 0;
}

std::string costNote(const std::string &entry, double perCall, double perCallSmall, double fewer) {
    // Below a microsecond a call costs too little to matter, and to time.
    if (!(perCall > 1e-6) || !(perCallSmall > 0) || fewer < 4) return "";
    const double growth = perCall / perCallSmall;
    if (growth < fewer / 3) return "";
    char buf[800];
    std::snprintf(buf, sizeof buf,
                  "func_%s: the time per call grows with the mesh: %.3g us on this mesh, %.3g us "
                  "on one with %.3g times fewer nodes (%.1f times less). It likely searches the "
                  "mesh at every call (nodNum, a loop over the nodes or elements): search once, "
                  "at the first call or in func_externalcompute when its flag is 0, and keep "
                  "the result; where the mesh does not move, nodNumFixed finds the nearest node "
                  "through an index built once\n",
                  entry.c_str(), perCall * 1e6, perCallSmall * 1e6, fewer, growth);
    return buf;
}

std::string findingText(const Finding &f, const char *firstLabel, const char *secondLabel) {
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  "func_%s: the result changes %s: at node %d, step %d: %s %.17g, %s %.17g "
                  "(%lld values differ)\n",
                  f.entry.c_str(), f.what.c_str(), f.node, f.step, firstLabel, f.first, secondLabel,
                  f.second, static_cast<long long>(f.count));
    return buf;
}

} // namespace vhost

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

// The selector list's quantity codes are the converters'.
// (A loop over the list, not a pointer test: the undefined-behaviour
// sanitizer makes a comparison of an address with null non-constant.)
constexpr bool selects(int code, std::string_view variable) {
    for (const UnitSelector &s : kUnitSelectors)
        if (s.code == code) return variable == s.variable;
    return false;
}
static_assert(selects(VULMORA_QTY_TEMPERATURE, "user_unit_temp") &&
                  selects(VULMORA_QTY_LENGTH, "user_unit_coor") &&
                  selects(VULMORA_QTY_THERMALCONDUCTIVITY, "user_unit_thermalconductivity") &&
                  selects(VULMORA_QTY_TIME, "user_unit_time") &&
                  selects(VULMORA_QTY_HEATFLUX, "user_unit_heatflux") &&
                  selects(VULMORA_QTY_HEATTRANSFERCOEFF, "user_unit_heattransfercoeff") &&
                  selects(VULMORA_QTY_VELOCITY, "user_unit_velocity") &&
                  selects(VULMORA_QTY_MASSFLOWRATE, "user_unit_massflowrate"),
              "a selector's quantity code");

// The selectors the unit check varies, in the order of its variants, and
// the units it tries for each (the rest of the list has no variants).
struct Varied {
    int code;
    std::vector<std::pair<int, const char *>> units; // selectors tried
};

const std::vector<Varied> &variedTable() {
    static const std::vector<Varied> t = {
        {VULMORA_QTY_TEMPERATURE, {{1, "K"}, {2, "C"}, {3, "F"}, {4, "R"}}},
        {VULMORA_QTY_LENGTH, {{1, "m"}, {2, "cm"}, {3, "mm"}, {5, "in"}}},
        {VULMORA_QTY_VELOCITY, {{1, "m/s"}, {2, "cm/s"}, {3, "mm/s"}}},
        {VULMORA_QTY_HEATFLUX, {{1, "W/m2"}, {2, "cal/(s cm2)"}, {4, "BTU/(s ft2)"}}},
        {VULMORA_QTY_HEATTRANSFERCOEFF,
         {{1, "W/(m2 K)"}, {2, "cal/(s cm2 K)"}, {4, "BTU/(s ft2 F)"}}},
        {VULMORA_QTY_MASSFLOWRATE, {{1, "kg/s"}, {2, "g/s"}, {3, "lb/s"}}},
    };
    return t;
}

// The list's entry of a varied selector (every code above is in it).
const UnitSelector &selectorOf(const Varied &v) {
    return *unitSelectorOfCode(v.code);
}

std::string unitName(const Varied &v, int sel) {
    for (const auto &[k, name] : v.units)
        if (k == sel) return name;
    return "selector " + std::to_string(sel);
}

} // namespace

std::string userUnitName(int code, const Units &u) {
    const UnitSelector *s = unitSelectorOfCode(code);
    if (!s) return "";
    for (const Varied &v : variedTable())
        if (v.code == code) return unitName(v, u.*s->member);
    return "selector " + std::to_string(u.*s->member);
}

std::vector<UnitVariant> unitVariants(const Units &base, int quantity) {
    std::vector<UnitVariant> out;
    for (const Varied &s : variedTable()) {
        // Temperature, length and velocity reach every function through the
        // accessors; the other selectors only through what it returns.
        const bool read = s.code == VULMORA_QTY_TEMPERATURE || s.code == VULMORA_QTY_LENGTH ||
                          s.code == VULMORA_QTY_VELOCITY;
        if (!read && s.code != quantity) continue;
        const UnitSelector &u = selectorOf(s);
        for (const auto &[sel, name] : s.units) {
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
    for (const Varied &s : variedTable()) {
        const UnitSelector &u = selectorOf(s);
        if (base.*u.member != v.units.*u.member)
            return std::string(u.label) + " " + unitName(s, base.*u.member);
    }
    return "the base units";
}

bool checkUnits(const std::string &entry, const Units &base, std::span<const double> baseValues,
                const UnitVariant &v, std::span<const double> values,
                const std::vector<uint8_t> &nodeMaterial, ToInternalFn toInternal, Finding &f) {
    const int q = returnedQuantity(entry);
    auto internal = [&](const Units &u, double x) {
        return q == kNotConverted ? x : toInternal(q, u, x);
    };
    const size_t n = nodeMaterial.size();
    double scale = 0;
    for (size_t k = 0; k < baseValues.size() && k < values.size(); ++k)
        if (nodeMaterial[k % n] && std::isfinite(baseValues[k]))
            scale = std::max(scale, std::fabs(internal(base, baseValues[k])));
    const double allowed = 1e-9 * scale + 1e-300;
    f = Finding{};
    double worst = -1;
    for (size_t k = 0; k < baseValues.size() && k < values.size(); ++k) {
        if (!nodeMaterial[k % n]) continue;
        const double a = internal(base, baseValues[k]), b = internal(v.units, values[k]);
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

std::vector<Finding> checkOrder(const std::string &entry, std::span<const double> baseValues,
                                std::span<const double> twice,
                                const std::vector<uint8_t> &nodeMaterial) {
    std::vector<Finding> out;
    const size_t n = nodeMaterial.size(), count = baseValues.size();
    if (twice.size() != 2 * count) return out;
    const struct {
        const char *what;
        const double *first, *second;
    } pairs[] = {{"in a shuffled order of the nodes", baseValues.data(), twice.data()},
                 {"when called again at the same node", twice.data(), twice.data() + count}};
    for (const auto &p : pairs) {
        Finding f;
        f.entry = entry;
        f.what = p.what;
        for (size_t k = 0; k < count; ++k) {
            if (!nodeMaterial[k % n]) continue;
            const double a = p.first[k], b = p.second[k];
            if (std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b))) continue;
            if (f.count++ == 0) {
                f.node = static_cast<int>(k % n) + 1;
                f.step = static_cast<int>(k / n) + 1;
                f.first = f.firstRaw = a;
                f.second = f.secondRaw = b;
            }
        }
        if (f.count) out.push_back(f);
    }
    return out;
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

std::vector<int> shuffledNodes(int nnod, int step, uint32_t seed) {
    std::vector<int> order(static_cast<size_t>(nnod));
    std::iota(order.begin(), order.end(), 1);
    // The shuffle written out: std::shuffle's sequence differs between
    // standard libraries, this one does not.
    std::mt19937 rng(seed * 1000003u + static_cast<uint32_t>(step));
    for (size_t i = order.size(); i > 1; --i) {
        const size_t j = static_cast<size_t>(rng() % i);
        std::swap(order[i - 1], order[j]);
    }
    return order;
}

} // namespace vhost

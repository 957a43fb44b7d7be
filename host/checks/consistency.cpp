// consistency.cpp - the rules between entry points, and how a pair of
// states of the solid is chosen for a rule of two.
#include "checks/consistency.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace vhost {

namespace {

bool yieldAboveUltimate(const RuleState &s, const RuleState &) {
    return s.v[0] > s.v[1];
}

bool modulusNotAboveYield(const RuleState &s, const RuleState &) {
    return s.v[0] <= s.v[1];
}

bool poissonOutside(const RuleState &s, const RuleState &) {
    return s.v[0] < 0 || s.v[0] > 0.5;
}

// Value 0 more than kRiseTolerance higher at the hotter state.
bool risesAsItHeats(const RuleState &hot, const RuleState &cold) {
    return hot.v[0] > cold.v[0] + kRiseTolerance * std::fabs(cold.v[0]);
}

// Value 0 an expansion, value 1 a density: where the density changes
// noticeably between the states, the expansion has the sign opposite to
// that change at both.
bool expansionAgainstDensity(const RuleState &hot, const RuleState &cold) {
    const double change = hot.v[1] - cold.v[1];
    if (std::fabs(change) <= kDensityVaries * std::max(std::fabs(hot.v[1]), std::fabs(cold.v[1])))
        return false;
    return change < 0 ? hot.v[0] < 0 || cold.v[0] < 0 : hot.v[0] > 0 || cold.v[0] > 0;
}

// clang-format off
constexpr ConsistencyRule kConsistencyRules[] = {
    {{"yieldstress", "hardeningultimatestress"}, false, 0, yieldAboveUltimate, "above", ">",
     "a yield stress cannot exceed the ultimate stress"},
    {{"youngsmodulus", "yieldstress"}, false, 0, modulusNotAboveYield, "not above", "<=",
     "a solid yields at a strain far below 1, so its modulus lies far above its yield stress"},
    {{"poissonratio", nullptr}, false, 0, poissonOutside, "outside 0 to 0.5", "",
     "above 0.5 the bulk modulus is negative; no casting alloy or mould material is below 0"},
    {{"thermalexpansion", "density"}, true, 1, expansionAgainstDensity, "of the wrong sign for", "",
     "a solid whose density falls as it heats expands, so its expansion is positive; one whose "
     "density rises contracts"},
    {{"youngsmodulus", nullptr}, true, 0, risesAsItHeats, "rises as the solid heats", "",
     "an elastic modulus falls as the solid heats"},
    {{"yieldstress", nullptr}, true, 0, risesAsItHeats, "rises as the solid heats", "",
     "a yield stress falls as the solid heats"},
    {{"hardeningultimatestress", nullptr}, true, 0, risesAsItHeats, "rises as the solid heats", "",
     "an ultimate stress falls as the solid heats"},
};
// clang-format on

std::string number(double x) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.4g", x);
    return buf;
}

} // namespace

std::span<const ConsistencyRule> consistencyRules() {
    return kConsistencyRules;
}

size_t ruleEntries(const ConsistencyRule &rule) {
    return rule.entries[1] ? 2 : 1;
}

bool firstTrendContradiction(const ConsistencyRule &rule, std::span<const PlacedState> states,
                             PlacedState &hot, PlacedState &cold) {
    TrendOrder order;
    order.assign(states);
    return order.first(rule, states, states.size(), hot, cold);
}

void TrendOrder::assign(std::span<const PlacedState> states) {
    const size_t n = states.size();
    order_.resize(n);
    hotter_.resize(n);
    auto hotterThan = [&](uint32_t a, uint32_t b) { return states[a].s.T > states[b].s.T; };
    // A node's few states, nearly in order as it cools: an insertion sort
    // (stable), which allocates nothing; a long curve's points: a stable sort.
    constexpr size_t kInsertionSortUpTo = 32;
    if (n <= kInsertionSortUpTo) {
        for (size_t k = 0; k < n; ++k) {
            const uint32_t j = static_cast<uint32_t>(k);
            size_t at = k;
            for (; at > 0 && hotterThan(j, order_[at - 1]); --at)
                order_[at] = order_[at - 1];
            order_[at] = j;
        }
    } else {
        std::iota(order_.begin(), order_.end(), uint32_t(0));
        std::stable_sort(order_.begin(), order_.end(), hotterThan);
    }
    size_t prefix = 0;
    for (size_t k = 0; k < n; ++k) {
        const double T = states[order_[k]].s.T;
        while (prefix < n && states[order_[prefix]].s.T >= T + kTrendGap)
            ++prefix;
        hotter_[k] = static_cast<uint32_t>(prefix);
    }
}

namespace {

// TrendOrder::first for a rule of `Entries` entry points.
template <size_t Entries>
bool firstInOrder(const ConsistencyRule &rule, std::span<const PlacedState> states,
                  std::span<const uint32_t> order, std::span<const uint32_t> hotter, size_t before,
                  PlacedState &hot, PlacedState &cold) {
    // Each state is paired with the state of the largest key among those
    // at least kTrendGap hotter; a state with a value not finite is none.
    auto usable = [&](size_t i) {
        const double *v = states[i].s.v;
        return std::isfinite(v[0]) && (Entries < 2 || std::isfinite(v[Entries - 1]));
    };
    const size_t n = order.size(), key = rule.key, none = std::min(before, n);
    size_t prefix = 0, best = n, found = none, partner = 0;
    for (size_t k = 0; k < n; ++k) {
        for (; prefix < hotter[k]; ++prefix) {
            const size_t i = order[prefix];
            if (!usable(i)) continue;
            if (best == n || states[i].s.v[key] > states[best].s.v[key]) best = i;
        }
        const size_t j = order[k];
        if (best == n || j >= found || !usable(j)) continue;
        if (rule.contradicts(states[best].s, states[j].s)) found = j, partner = best;
    }
    if (found == none) return false;
    hot = states[partner];
    cold = states[found];
    return true;
}

} // namespace

bool TrendOrder::first(const ConsistencyRule &rule, std::span<const PlacedState> states,
                       size_t before, PlacedState &hot, PlacedState &cold) const {
    return ruleEntries(rule) == 2
               ? firstInOrder<2>(rule, states, order_, hotter_, before, hot, cold)
               : firstInOrder<1>(rule, states, order_, hotter_, before, hot, cold);
}

std::string contradictionText(const ConsistencyRule &rule, const std::string &where,
                              const RuleState &hot, const RuleState &cold) {
    const size_t n = ruleEntries(rule);
    std::string t = "func_" + std::string(rule.entries[0]) + " " + rule.claim;
    if (n == 2) t += " func_" + std::string(rule.entries[1]);
    t += where + ": ";
    if (!rule.trend) {
        t += number(cold.v[0]);
        if (n == 2) t += " " + std::string(rule.op) + " " + number(cold.v[1]);
    } else {
        for (size_t k = 0; k < n; ++k)
            t += (k ? ", " : "") + (n == 2 ? "func_" + std::string(rule.entries[k]) + " " : "") +
                 number(cold.v[k]) + " to " + number(hot.v[k]);
    }
    return t + " (" + rule.reason + ")\n";
}

std::string consistencyTableText() {
    char tolerance[160];
    std::snprintf(tolerance, sizeof tolerance,
                  "solid, two states at least %g K apart; a rise of up to %g %% passes", kTrendGap,
                  100 * kRiseTolerance);
    std::string t = "| entry points | a contradiction | where | why |\n|---|---|---|---|\n";
    for (const ConsistencyRule &r : kConsistencyRules) {
        const bool two = ruleEntries(r) == 2;
        const std::string a = "`" + std::string(r.entries[0]) + "`";
        const std::string b = two ? "`" + std::string(r.entries[1]) + "`" : "";
        std::string where = r.trend ? tolerance : "one node and step, or point";
        if (r.trend && two) {
            char varies[120];
            std::snprintf(varies, sizeof varies,
                          "solid, two states at least %g K apart, where %s changes by more "
                          "than %g %%",
                          kTrendGap, b.c_str(), 100 * kDensityVaries);
            where = varies;
        }
        t += "| " + a + (two ? ", " + b : "") + " | " + a + " " + r.claim + (two ? " " + b : "") +
             " | " + where + " | " + r.reason + " |\n";
    }
    return t;
}

} // namespace vhost

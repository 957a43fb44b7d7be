// consistency.h - properties that contradict each other: the rules that
// hold between the values of entry points at the same place (a yield
// stress below the ultimate stress, a modulus above the yield stress, a
// Poisson ratio from 0 to 0.5) and between two states of the solid, a
// hotter and a cooler one (a modulus or a strength does not rise as the
// solid heats; the thermal expansion has the sign the density's change
// asks for).
//
// One row per rule; a new rule is a row of kConsistencyRules. The check
// (consistency_check.cpp) judges a rule only where every entry point it
// reads has a finite value, a rule of two states only between states of
// the solid (fs1 == 1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vhost {

// A state a rule is judged at: the temperature (K) and the values of the
// rule's entry points there, in the order of its row.
struct RuleState {
    double T = 0;
    double v[2] = {};
};

// One rule between entry points.
struct ConsistencyRule {
    const char *entries[2]; // without func_; the second null for a rule of one
    // True when the rule compares two states of the solid, `hot` at least
    // kTrendGap K hotter than `cold`; false when it judges one place
    // (passed as both).
    bool trend;
    // For a rule of two states: the value (0 or 1) whose largest at the
    // hotter states picks each state's partner (below).
    size_t key;
    bool (*contradicts)(const RuleState &hot, const RuleState &cold);
    const char *claim;  // what a finding says of the first entry point: "above", "rises as ..."
    const char *op;     // between the two values of a rule of one place and two entry points
    const char *reason; // why it cannot be so, as README and the finding give it
};

// Two states of the solid are compared only this far apart (K), so that
// the rounding of a flat table between close temperatures is no trend.
inline constexpr double kTrendGap = 5;
// A modulus or strength may rise by this much (relative) as the solid
// heats before it is a finding: noise, and the flat part of a table.
inline constexpr double kRiseTolerance = 0.03;
// The density varies in the solid when it changes by more than this
// (relative) between two states compared.
inline constexpr double kDensityVaries = 1e-4;

// Every rule, in the order of the findings.
std::span<const ConsistencyRule> consistencyRules();

// The number of entry points of `rule` (1 or 2).
size_t ruleEntries(const ConsistencyRule &rule);

// A place's state: its temperature, solid fraction and where it is (the
// caller's index: a node and step, a point of a path).
struct PlacedState {
    RuleState s;
    size_t place = 0;
};

// The first pair of `states` (states of the solid, in any order) that
// contradicts `rule` (a rule of two states): each state against the one
// at least kTrendGap K hotter whose value `rule.key` is the largest. The
// first is the pair whose cooler state comes first in `states`. A state
// where a value the rule reads is not finite is left out. False when
// none; else `hot` and `cold` are the pair's states.
bool firstTrendContradiction(const ConsistencyRule &rule, std::span<const PlacedState> states,
                             PlacedState &hot, PlacedState &cold);

// The order firstTrendContradiction visits states in, worked out from
// their temperatures alone, so that every rule of two states judged on
// the same states shares it: from the hottest down (ties in their order),
// each with how many of them are at least kTrendGap K hotter (a prefix of
// that order). Its buffers are kept from one set of states to the next.
class TrendOrder {
  public:
    // Orders states at the temperatures of `states`.
    void assign(std::span<const PlacedState> states);
    // firstTrendContradiction(rule, states, hot, cold) for `states` as
    // many and at the temperatures assign() was given (their values may
    // differ), counting only a pair whose cooler state is among the first
    // `before`.
    bool first(const ConsistencyRule &rule, std::span<const PlacedState> states, size_t before,
               PlacedState &hot, PlacedState &cold) const;

  private:
    std::vector<uint32_t> order_, hotter_;
};

// A finding's text, one line: "func_A CLAIM [func_B]WHERE: VALUES
// (REASON)". `where` is the place (" at node 3, step 2"; for two states
// " at node 3 from 650 K (step 5) to 700 K (step 4)", the cooler first).
// The values: "A OP B" at one place; "A1 to A2" (the cooler first) for
// two states, each entry point named when there are two.
std::string contradictionText(const ConsistencyRule &rule, const std::string &where,
                              const RuleState &hot, const RuleState &cold);

// The rules as README shows them (Markdown).
std::string consistencyTableText();

} // namespace vhost

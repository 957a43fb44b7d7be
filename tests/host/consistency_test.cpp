// host_consistency_test.cpp - the rules between entry points on values
// made up for each, the choice of two states of the solid, and runs of a
// library that breaks each rule (on the sample and along a curve), of the
// worked examples (none broken) and README's table against the code's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "checks/consistency.h"
#include "hostlib/host_run.h"
#include "model/materials.h"
#include "model/sample.h"

namespace {

const std::string kHost = VULMORA_HOST_EXE;
const std::string kLibrary = " --library '" HOSTLIB_CONTRADICTORY "'";
const std::string kSmall = " --no-output --no-plots --nodes-per-side 6 -q";

// The row of the rule on `entries` ("a" or "a,b"), of two states or not.
const vhost::ConsistencyRule &rule(const std::string &entries, bool trend) {
    for (const vhost::ConsistencyRule &r : vhost::consistencyRules()) {
        std::string names = r.entries[0];
        if (r.entries[1]) names += std::string(",") + r.entries[1];
        if (names == entries && r.trend == trend) return r;
    }
    ADD_FAILURE() << "no rule on " << entries;
    return vhost::consistencyRules()[0];
}

// ---- each rule, on a state or two ------------------------------------------------

TEST(ConsistencyRule, EachHoldsAndBreaksWhereItShould) {
    const struct {
        const char *entries;
        bool trend;
        vhost::RuleState hot, cold; // one place: `cold` is the place
        bool contradicts;
    } cases[] = {
        {"yieldstress,hardeningultimatestress", false, {}, {0, {2.0e9, 2.0e9}}, false},
        {"yieldstress,hardeningultimatestress", false, {}, {0, {2.1e9, 1.9e9}}, true},
        {"youngsmodulus,yieldstress", false, {}, {0, {7e11, 1.2e9}}, false},
        {"youngsmodulus,yieldstress", false, {}, {0, {1.2e9, 1.2e9}}, true},
        {"poissonratio", false, {}, {0, {0.5}}, false},
        {"poissonratio", false, {}, {0, {0}}, false},
        {"poissonratio", false, {}, {0, {0.51}}, true},
        {"poissonratio", false, {}, {0, {-0.01}}, true},
        // aluminium: the density falls 2.2e-4 g/cm3 per K, the expansion positive
        {"thermalexpansion,density", true, {710, {2.3e-5, 2.6}}, {700, {2.3e-5, 2.6022}}, false},
        {"thermalexpansion,density", true, {710, {2.3e-5, 2.6}}, {700, {-2.3e-5, 2.6022}}, true},
        {"thermalexpansion,density", true, {710, {-2.3e-5, 2.6}}, {700, {2.3e-5, 2.6022}}, true},
        // a density that rises as it heats asks for a negative expansion
        {"thermalexpansion,density", true, {710, {-1e-6, 2.6022}}, {700, {-1e-6, 2.6}}, false},
        {"thermalexpansion,density", true, {710, {1e-6, 2.6022}}, {700, {1e-6, 2.6}}, true},
        // a density that does not vary in the solid says nothing of the sign
        {"thermalexpansion,density", true, {710, {-2e-5, 2.60002}}, {700, {-2e-5, 2.6}}, false},
        {"youngsmodulus", true, {800, {6.0e11}}, {700, {6.5e11}}, false},
        {"youngsmodulus", true, {800, {6.6e11}}, {700, {6.5e11}}, false}, // within 3 %
        {"youngsmodulus", true, {800, {6.8e11}}, {700, {6.5e11}}, true},
        {"yieldstress", true, {800, {1.0e9}}, {700, {1.0e9}}, false},
        {"yieldstress", true, {800, {1.1e9}}, {700, {1.0e9}}, true},
        {"hardeningultimatestress", true, {800, {1.5e9}}, {700, {2.0e9}}, false},
        {"hardeningultimatestress", true, {800, {2.1e9}}, {700, {2.0e9}}, true},
    };
    for (const auto &c : cases) {
        const vhost::ConsistencyRule &r = rule(c.entries, c.trend);
        const vhost::RuleState &hot = c.trend ? c.hot : c.cold;
        EXPECT_EQ(r.contradicts(hot, c.cold), c.contradicts)
            << c.entries << " " << c.cold.v[0] << ", " << c.cold.v[1];
    }
}

// ---- the pair of states a rule of two is judged on ----------------------------

// States of one node as it cools: a modulus that rises between two states
// within kTrendGap passes, one that rises a little at each step is caught
// against the hottest, and the first pair is the one whose cooler state
// comes first.
TEST(ConsistencyTrend, PairsEachStateWithTheLargestFarEnoughHotter) {
    const vhost::ConsistencyRule &modulus = rule("youngsmodulus", true);
    using P = vhost::PlacedState;
    const struct {
        const char *what;
        std::vector<P> states;
        bool found;
        size_t hot, cold; // places
    } cases[] = {
        {"falling", {{{800, {5e11}}, 0}, {{700, {6e11}}, 1}, {{600, {7e11}}, 2}}, false, 0, 0},
        {"a rise within the gap", {{{804, {8e11}}, 0}, {{800, {5e11}}, 1}}, false, 0, 0},
        {"a rise of 2 % a step, 6 % in all",
         {{{800, {6.36e11}}, 0}, {{700, {6.24e11}}, 1}, {{600, {6.12e11}}, 2}, {{500, {6e11}}, 3}},
         true,
         0,
         2},
        {"in any order",
         {{{500, {6e11}}, 3}, {{800, {6.36e11}}, 0}, {{600, {6.12e11}}, 2}, {{700, {6.24e11}}, 1}},
         true,
         0,
         3},
        {"a single state", {{{800, {5e11}}, 0}}, false, 0, 0},
    };
    for (const auto &c : cases) {
        vhost::PlacedState hot, cold;
        const bool found = vhost::firstTrendContradiction(modulus, c.states, hot, cold);
        EXPECT_EQ(found, c.found) << c.what;
        if (!found || !c.found) continue;
        EXPECT_EQ(hot.place, c.hot) << c.what;
        EXPECT_EQ(cold.place, c.cold) << c.what;
    }
}

// The pair the search finds, against every pair looked at in turn: for
// each cooler state in order, its partner the usable state at least
// kTrendGap hotter of the largest key (the hottest of equals, then the
// first). Random small tables, temperatures on a 2.5 K grid so that
// states tie and lie exactly kTrendGap apart, values with a NaN among
// them, up to 40 states (past the insertion sort); the search with its
// order kept (TrendOrder) also counting only a cooler state before a
// bound.
TEST(ConsistencyTrend, FindsThePairEveryPairInTurnFinds) {
    const vhost::ConsistencyRule *rules[] = {&rule("youngsmodulus", true),
                                             &rule("thermalexpansion,density", true)};
    const double values[][5] = {{6.0e11, 6.1e11, 6.3e11, 6.6e11, NAN},
                                {2.60, 2.6003, 2.61, 2.62, NAN}};
    const double expansions[] = {2.3e-5, -2.3e-5, 0.0, NAN};
    auto usable = [](const vhost::PlacedState &p, size_t entries) {
        return std::isfinite(p.s.v[0]) && (entries < 2 || std::isfinite(p.s.v[1]));
    };
    std::mt19937 random(7);
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    vhost::TrendOrder order;
    for (int round = 0; round < 3000; ++round) {
        const vhost::ConsistencyRule &r = *rules[round % 2];
        const size_t entries = vhost::ruleEntries(r), n = round % 10 == 0 ? pick(41) : pick(9);
        std::vector<vhost::PlacedState> states(n);
        for (size_t k = 0; k < n; ++k) {
            states[k].place = k;
            states[k].s.T = 700 + 2.5 * static_cast<double>(pick(9));
            states[k].s.v[0] = entries == 2 ? expansions[pick(4)] : values[0][pick(5)];
            states[k].s.v[1] = values[1][pick(5)];
        }
        const size_t before = pick(n + 1);
        size_t expectedHot = n, expectedCold = n;
        for (size_t c = 0; c < before && expectedCold == n; ++c) {
            size_t best = n;
            for (size_t h = 0; h < n; ++h) {
                if (!usable(states[h], entries) || states[h].s.T < states[c].s.T + vhost::kTrendGap)
                    continue;
                const double *v = states[h].s.v, *w = best < n ? states[best].s.v : nullptr;
                if (!w || v[r.key] > w[r.key] ||
                    (v[r.key] == w[r.key] && states[h].s.T > states[best].s.T))
                    best = h;
            }
            if (best < n && usable(states[c], entries) &&
                r.contradicts(states[best].s, states[c].s))
                expectedHot = best, expectedCold = c;
        }
        vhost::PlacedState hot, cold;
        order.assign(states);
        const bool found = order.first(r, states, before, hot, cold);
        ASSERT_EQ(found, expectedCold < n) << "round " << round;
        if (found) {
            EXPECT_EQ(hot.place, expectedHot) << "round " << round;
            EXPECT_EQ(cold.place, expectedCold) << "round " << round;
        }
        if (before == n) {
            EXPECT_EQ(vhost::firstTrendContradiction(r, states, hot, cold), found) << round;
        }
    }
}

TEST(ConsistencyText, NamesBothEntryPointsAndValues) {
    const vhost::RuleState hot{713, {-2e-5, 2.609}}, cold{585, {-2e-5, 2.637}};
    EXPECT_EQ(vhost::contradictionText(rule("yieldstress,hardeningultimatestress", false),
                                       " at node 63, step 4", cold, {0, {2.1e9, 1.9e9}}),
              "func_yieldstress above func_hardeningultimatestress at node 63, step 4: 2.1e+09 > "
              "1.9e+09 (a yield stress cannot exceed the ultimate stress)\n");
    const std::string trend =
        vhost::contradictionText(rule("thermalexpansion,density", true), " at node 6", hot, cold);
    EXPECT_EQ(trend.rfind("func_thermalexpansion of the wrong sign for func_density at node 6: "
                          "func_thermalexpansion -2e-05 to -2e-05, func_density 2.637 to 2.609 (",
                          0),
              0u)
        << trend;
}

// ---- runs ----------------------------------------------------------------------

// Each selection of entry points breaks the rules it holds and no other.
TEST(ConsistencyRun, EachRuleIsReportedWithItsPlace) {
    const std::string yield = "func_yieldstress above func_hardeningultimatestress at node ",
                      modulus = "func_youngsmodulus not above func_yieldstress at node ",
                      poisson = "func_poissonratio outside 0 to 0.5 at node ",
                      expansion = "func_thermalexpansion of the wrong sign for func_density at "
                                  "node ",
                      rises = "func_youngsmodulus rises as the solid heats at node ";
    const std::vector<std::string> all = {yield, modulus, poisson, expansion, rises};
    const struct {
        const char *functions;
        std::vector<std::string> found;
    } cases[] = {
        {"yieldstress,hardeningultimatestress", {yield}},
        {"youngsmodulus,yieldstress", {modulus, rises}},
        {"youngsmodulus", {rises}},
        {"poissonratio", {poisson}},
        {"density,thermalexpansion", {expansion}},
        {"thermalexpansion", {}},
        {"yieldstress,density", {}},
    };
    for (const auto &c : cases) {
        const auto r = vtest::runHost(kHost, kLibrary + kSmall + " --functions " + c.functions);
        EXPECT_EQ(r.status, 0) << c.functions << "\n" << r.out << r.err;
        for (const std::string &text : all) {
            const bool expected = std::find(c.found.begin(), c.found.end(), text) != c.found.end();
            EXPECT_EQ(vtest::occurrences(r.out, text), expected ? 1u : 0u)
                << c.functions << ": " << text << "\n"
                << r.out;
        }
        const std::string count = "warnings: " + std::to_string(c.found.size()) +
                                  (c.found.size() == 1 ? " rule" : " rules") +
                                  " between entry points broken";
        EXPECT_EQ(r.out.find(count) != std::string::npos, !c.found.empty()) << c.functions << "\n"
                                                                            << r.out;
    }
}

// With the mould evaluated too, the check keeps the evaluated nodes'
// values apart from the others, and each finding keeps its own node: the
// first evaluated node for a rule of one place, the first casting node for
// a trend (the mould never freezes).
TEST(ConsistencyRun, FindingsKeepTheirNodesWhenTheMouldIsEvaluatedToo) {
    const std::vector<uint8_t> casting = vhost::selectNodes(6, vhost::material::kCasting, 0, 216);
    const std::string firstCasting =
        std::to_string(std::find(casting.begin(), casting.end(), uint8_t(1)) - casting.begin() + 1);
    const struct {
        const char *functions, *materials;
        std::string found;
    } cases[] = {
        {"poissonratio", "all", "func_poissonratio outside 0 to 0.5 at node 1, step 1"},
        {"poissonratio", "1", "func_poissonratio outside 0 to 0.5 at node " + firstCasting + ","},
        {"youngsmodulus", "all",
         "func_youngsmodulus rises as the solid heats at node " + firstCasting + " from"},
        {"density,thermalexpansion", "all",
         "func_thermalexpansion of the wrong sign for func_density at node " + firstCasting +
             " from"},
    };
    for (const auto &c : cases) {
        const auto r = vtest::runHost(kHost, kLibrary + kSmall + " --functions " + c.functions +
                                                 " --materials " + c.materials);
        EXPECT_EQ(r.status, 0) << c.functions << "\n" << r.out << r.err;
        EXPECT_EQ(vtest::occurrences(r.out, c.found), 1u)
            << c.functions << " --materials " << c.materials << ": " << c.found << "\n"
            << r.out;
    }
}

// --strict makes each broken rule a problem; along a curve a finding is
// placed at its temperatures in the user's unit.
TEST(ConsistencyRun, StrictFailsAndACurveNamesTemperatures) {
    const auto strict = vtest::runHost(
        kHost, kLibrary + kSmall + " --functions youngsmodulus,yieldstress --strict");
    EXPECT_EQ(strict.status, 1) << strict.out;
    EXPECT_NE(strict.out.find("Checks:\nfunc_youngsmodulus not above func_yieldstress"),
              std::string::npos)
        << strict.out;
    EXPECT_NE(strict.out.find("checks: 2 problems found"), std::string::npos) << strict.out;
    EXPECT_EQ(strict.out.find("Warnings:"), std::string::npos) << strict.out;

    const auto curve =
        vtest::runHost(kHost, "curve" + kLibrary +
                                  " --no-output -q --temp C --functions "
                                  "youngsmodulus,yieldstress,hardeningultimatestress");
    EXPECT_EQ(curve.status, 0) << curve.out << curve.err;
    EXPECT_TRUE(std::regex_search(
        curve.out, std::regex(R"(func_youngsmodulus rises as the solid heats from [0-9.]+ °C to )"
                              R"([0-9.]+ °C: [0-9.e+]+ to [0-9.e+]+ \(an elastic modulus)")))
        << curve.out;
    EXPECT_TRUE(std::regex_search(
        curve.out, std::regex(R"(func_yieldstress above func_hardeningultimatestress at )"
                              R"([0-9.]+ °C: )")))
        << curve.out;
}

// The worked examples, on the sample over every material and along their
// curve: no rule broken.
TEST(ConsistencyRun, TheWorkedExamplesBreakNoRule) {
    for (const char *how :
         {"--no-output --no-plots --materials all --strict", "curve --no-output"}) {
        const auto r = vtest::runHost(kHost, how);
        EXPECT_EQ(r.status, 0) << how << "\n" << r.out << r.err;
        EXPECT_EQ(r.out.find("between entry points"), std::string::npos) << how << "\n" << r.out;
        for (const vhost::ConsistencyRule &rule : vhost::consistencyRules())
            EXPECT_EQ(r.out.find(std::string(" ") + rule.claim + " "), std::string::npos)
                << how << "\n"
                << r.out;
    }
}

} // namespace

// README's table of the rules is the one the code makes.
TEST(ConsistencyTable, ReadmeShowsTheRulesOfTheCode) {
    const std::string readme = vtest::slurp(std::string(VULMORA_SOURCE_DIR) + "/README.md");
    const std::string begin = "<!-- consistency:begin -->\n", end = "<!-- consistency:end -->";
    const size_t from = readme.find(begin), to = readme.find(end);
    ASSERT_NE(from, std::string::npos);
    ASSERT_NE(to, std::string::npos);
    EXPECT_EQ(readme.substr(from + begin.size(), to - from - begin.size()),
              vhost::consistencyTableText())
        << "README's table should read:\n"
        << vhost::consistencyTableText();
}

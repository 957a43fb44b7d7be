// host_checks_test.cpp - the emulator's checks: comparing with a saved run
// (the run description read as untrusted input, same / within tolerance /
// differs, shape differences), the unit check and the order check on a
// library with right and faulty entry points, and the worked examples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include "model/caller.h"
#include "model/sample.h"
#include "checks/checks.h"
#include "checks/compare.h"
#include "checks/diagnosis.h"
#include "parent/outcome.h"
#include "model/entries.h"
#include "include/vulmora/getVar.h"
#include "hostlib/host_run.h"

namespace fs = std::filesystem;

namespace {

const std::string kHost = VULMORA_HOST_EXE;
const std::string kChecked = HOSTLIB_CHECKED;
const std::string kChanged = HOSTLIB_CHECKED_CHANGED;
// A small sample: the checks run many workers.
const std::string kSmall = " --nodes-per-side 6 --steps 3 --no-plots -q";

// A private folder for one test, removed at the end.
struct TempDir {
    fs::path path;
    TempDir() {
        char tmpl[] = "/tmp/vulmora-checks-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path); }
    std::string operator/(const std::string &s) const { return (path / s).string(); }
};

void writeFile(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

// ---- the run description --------------------------------------------------

const char *const kValid = "vulmora-host run 1\nversion 0.1.0\nlibrary /x/lib.so\n"
                           "nodes-per-side 6\nsteps 3\nmaterials 1\nstress-scale 1\n"
                           "temp-table 1\nunits 1 2 2 1 2 2 2 2\nentry density\n";

TEST(RunDescription, WrittenTextReadsBackTheSame) {
    vhost::RunDescription d;
    std::string error;
    ASSERT_TRUE(vhost::parseRunDescription(kValid, d, error)) << error;
    EXPECT_EQ(d.nodesPerSide, 6);
    EXPECT_EQ(d.steps, 3);
    EXPECT_EQ(d.entries, std::vector<std::string>{"density"});
    EXPECT_EQ(vhost::runDescriptionText(d), kValid);
    // With the library's build record, a line of it each.
    std::string built = kValid;
    built.insert(built.find("nodes-per-side"),
                 "build vulmora 0.1.0\nbuild source a.c " + std::string(64, 'f') + "\n");
    ASSERT_TRUE(vhost::parseRunDescription(built, d, error)) << error;
    EXPECT_EQ(d.build.sources.size(), 1u);
    EXPECT_EQ(vhost::runDescriptionText(d), built);
}

TEST(RunDescription, MalformedDescriptionsAreRefused) {
    const std::string v = kValid;
    auto replace = [&](const std::string &from, const std::string &to) {
        std::string s = v;
        s.replace(s.find(from), from.size(), to);
        return s;
    };
    const struct {
        std::string text, reason;
    } cases[] = {
        {"", "empty"},
        {replace("vulmora-host run 1", "vulmora-host run 2"), "not the description"},
        {replace("nodes-per-side 6", "nodes-per-side 2000000"), "nodes-per-side"},
        {replace("nodes-per-side 6", "nodes-per-side 6x"), "nodes-per-side"},
        {replace("steps 3\n", ""), "incomplete"},
        {replace("steps 3", "steps -1"), "steps"},
        {replace("units 1 2 2 1 2 2 2 2", "units 1 2 2 1 2 2 2"), "units"},
        {replace("units 1 2 2 1 2 2 2 2", "units 1 2 2 1 2 2 2 11"), "units"},
        {replace("entry density", "entry ../../etc/passwd"), "unknown entry point"},
        {v + "entry density\n", "twice"},
        {v + "steps 3\n", "twice"},
        {replace("stress-scale 1", "stress-scale nan"), "stress-scale"},
        {v + "colour blue\n", "unknown key"},
        {v + "build source a.c 12\n", "no build record"},
    };
    for (const auto &c : cases) {
        vhost::RunDescription d;
        std::string error;
        EXPECT_FALSE(vhost::parseRunDescription(c.text, d, error)) << c.text;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

TEST(RunDescription, ShapeDifferencesAreNamed) {
    vhost::RunDescription a, b;
    std::string error;
    ASSERT_TRUE(vhost::parseRunDescription(kValid, a, error));
    EXPECT_TRUE(vhost::shapeDifferences(a, a).empty());
    b = a;
    b.steps = 4;
    b.units.coor = 3;
    b.entries.clear(); // entry points are compared one by one, not as shape
    const auto d = vhost::shapeDifferences(a, b);
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0], "steps: reference 3, this run 4");
    EXPECT_EQ(d[1], "length unit: reference selector 2, this run selector 3");
}

TEST(UnitCheck, VariantsChangeOneSelectorEach) {
    const vhost::Units base;
    for (int q : {vhost::kNotConverted, VULMORA_QTY_HEATFLUX, VULMORA_QTY_TEMPERATURE}) {
        const auto variants = vhost::unitVariants(base, q);
        // temperature C F R, length m mm in, velocity m/s mm/s; heat flux 2 more
        EXPECT_EQ(variants.size(), q == VULMORA_QTY_HEATFLUX ? 10u : 8u);
        for (const auto &v : variants) {
            const int changed = (v.units.temp != base.temp) + (v.units.coor != base.coor) +
                                (v.units.velocity != base.velocity) +
                                (v.units.heatflux != base.heatflux);
            EXPECT_EQ(changed, 1) << v.label;
        }
    }
}

TEST(OrderCheck, FindsShuffledAndRepeatedDifferences) {
    const std::vector<uint8_t> nodes = {1, 1, 0};
    const std::vector<double> base = {1, 2, 3, 4, 5, 6};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        std::vector<double> twice;
        size_t findings;
        int node, step;
    } cases[] = {
        {{1, 2, 99, 4, 5, 6, 1, 2, 98, 4, 5, 6}, 0, 0, 0}, // node 3 not evaluated
        {{1, 2, 3, 4, 5.5, 6, 1, 2, 3, 4, 5.5, 6}, 1, 2, 2},
        {{1, 2, 3, 4, 5, 6, 1, nan, 3, 4, 5, 6}, 1, 2, 1},
        {{1, 2, 3, 4, 5, 6, -0.0, 2, 3, 4, 5, 6}, 1, 1, 1},
    };
    for (const auto &c : cases) {
        const auto f = vhost::checkOrder("x", base, c.twice, nodes);
        ASSERT_EQ(f.size(), c.findings);
        if (c.findings) {
            EXPECT_EQ(f[0].node, c.node);
            EXPECT_EQ(f[0].step, c.step);
        }
    }
    const std::vector<double> order = {1, 2, 3, 4, 5, 6, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(vhost::checkOrder("x", base, order, nodes).size(), 1u);
}

// The first value not bit-identical, by step then node, at an evaluated
// node; NaN matches NaN, and a sign of zero is a difference.
TEST(NumberingCheck, FindsTheFirstDifferenceAtAnEvaluatedNode) {
    const std::vector<uint8_t> nodes = {1, 1, 0};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<double> base = {1, 2, 3, nan, 5, 6};
    const struct {
        std::vector<double> renumbered;
        int64_t count;
        int node, step;
    } cases[] = {
        {{1, 2, 99, nan, 5, 98}, 0, 0, 0}, // node 3 not evaluated
        {{1, 2, 3, 4, 5.5, 6}, 2, 1, 2},
        {{1, -2, 3, nan, 0, 6}, 2, 2, 1},
        {{1, 2, 3, -nan, 5, 6}, 0, 0, 0},
        {{1, 2, 3, nan, 5}, 0, 0, 0}, // another shape: nothing to compare
    };
    for (const auto &c : cases) {
        vhost::Finding f;
        EXPECT_EQ(vhost::checkNumbering("x", base, c.renumbered, nodes, f), c.count > 0);
        EXPECT_EQ(f.count, c.count);
        EXPECT_EQ(f.node, c.node);
        EXPECT_EQ(f.step, c.step);
    }
    vhost::Finding f;
    ASSERT_TRUE(vhost::checkNumbering("x", std::vector<double>{0.0}, std::vector<double>{-0.0},
                                      std::vector<uint8_t>{1}, f));
    EXPECT_EQ(f.node, 1);
}

// ---- the rounding check ---------------------------------------------------------

// The first value (by step, then node, at an evaluated node) that a mode
// moves beyond the tolerance, relative to the larger of the two values;
// the same number (either zero, any NaN, the same infinity) does not move,
// one not finite in one mode only moves beyond any. The count is of values.
TEST(RoundingCheck, FindsTheFirstValueBeyondTheToleranceInAnyMode) {
    const double inf = INFINITY, nan = std::nan("");
    const std::vector<uint8_t> nodes = {1, 1, 0};
    const std::vector<double> nearest = {1, 2, 3, 0, inf, nan};
    const std::vector<double> same = nearest;
    const struct {
        std::vector<double> up, down, zero;
        double tol;
        int64_t count;
        int node, step;
        double difference;
    } cases[] = {
        {same, same, {1, 2, 99, -0.0, inf, -nan}, 1e-6, 0, 0, 0, 0}, // node 3 not evaluated
        {{1, 2.5, 3, 0, inf, nan}, same, same, 0.19, 1, 2, 1, 0.2},  // upward only
        {{1, 2.5, 3, 0, inf, nan}, same, same, 0.2, 0, 0, 0, 0},     // not beyond
        {same, {1, 2, 3, 1e-310, inf, nan}, same, 1e-6, 1, 1, 2, 1}, // downward only
        {same, same, {-1, 2, 3, 0, -inf, 1}, 1e-6, 2, 1, 1, 2},      // toward zero, twice
        {{1, 2 + 1e-9, 3, 0, inf, nan}, same, same, 1e-12, 1, 2, 1, 5e-10},
        {{1, 2, 3, 0, 1e308, nan}, same, same, 1e-6, 1, 2, 2, inf},
        {{1, 2, 3, 0, inf}, same, same, 1e-6, 0, 0, 0, 0}, // another shape: nothing to compare
    };
    for (const auto &c : cases) {
        const std::span<const double> other[3] = {c.up, c.down, c.zero};
        vhost::RoundingFinding f;
        EXPECT_EQ(vhost::checkRounding(nearest, other, nodes, c.tol, f), c.count > 0);
        EXPECT_EQ(f.count, c.count);
        EXPECT_EQ(f.node, c.node);
        EXPECT_EQ(f.step, c.step);
        if (std::isinf(c.difference)) {
            EXPECT_EQ(f.difference, c.difference);
        } else {
            EXPECT_NEAR(f.difference, c.difference, 1e-15);
        }
        const size_t k = size_t(f.step - 1) * nodes.size() + size_t(f.node - 1);
        if (c.count) {
            EXPECT_EQ(f.other[1], c.down[k]);
        }
    }
    EXPECT_DOUBLE_EQ(vhost::roundingDifference(1e308, -1e308), 2.0); // no overflow on the way
}

// The caller makes the entry point's calls under the mode asked for, and
// the process rounds to nearest after them whatever mode user code left.
TEST(RoundingCheck, EachCallIsMadeUnderItsModeAndNearestFollows) {
    vhost::Library lib;
    std::string error;
    ASSERT_TRUE(lib.open(HOSTLIB_ROUNDING, error)) << error;
    vhost::SampleConfig config;
    vhost::Sample sample(3, 1);
    vhost::Caller caller(lib, sample, config);
    std::vector<double> out(size_t(sample.nnod));
    caller.beginStep(1);
    for (const auto &[rounding, mode] : {std::pair{vhost::Rounding::Upward, FE_UPWARD},
                                         {vhost::Rounding::Downward, FE_DOWNWARD},
                                         {vhost::Rounding::TowardZero, FE_TOWARDZERO}}) {
        caller.round(rounding);
        caller.evaluate(*vhost::findEntryPoint("emissivity"), lib.entry("emissivity"), out.data(),
                        std::vector<uint8_t>(out.size(), 1));
        EXPECT_EQ(std::fegetround(), FE_TONEAREST) << vhost::roundingName(rounding);
        EXPECT_EQ(std::count(out.begin(), out.end(), double(mode)), sample.nnod)
            << vhost::roundingName(rounding);
    }
}

// ---- quantities the registration call did not mark -------------------------

TEST(Unmarked, ABranchOnlyReadIsReportedNamingTheQuantity) {
    const auto r = vtest::runHost(kHost, "--library '" HOSTLIB_UNMARKED "' --no-output" + kSmall);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    const struct {
        const char *entry, *quantity;
        bool hidden; // the function turned the NaN into a number
    } cases[] = {
        {"hardeningexponent", "constituent 1 (eutectic Si), getFraction(1)", false},
        {"poissonratio", "auxiliary variable 1 (grain size), getMicro(1)", false},
        {"thermalexpansion", "the porosity (POROS1), getDefect(1)", false},
        {"hardeningkinematic1", "constituent 1 (eutectic Si), getFraction(1)", true},
    };
    for (const auto &c : cases) {
        const std::string quantity =
            std::regex_replace(c.quantity, std::regex(R"([()])"), R"(\$&)");
        const std::regex report(
            "func_" + std::string(c.entry) +
            (c.hidden ? ": read " + quantity +
                            " in local mode \\(\\d+ such reads in all\\) and turned the NaN "
                            "it got into a number.*in every branch\n"
                      : ": returned NaN at step 1, node \\d+.*\n  the NaN is the one local mode "
                        "returns for " +
                            quantity));
        EXPECT_TRUE(std::regex_search(r.out, report)) << c.entry << "\n" << r.out;
    }
    EXPECT_TRUE(
        std::regex_search(r.out, std::regex("func_hardeningkinematic1: \\d+ local-mode reads "
                                            "of quantities the registration call did "
                                            "not mark")))
        << r.out;
    EXPECT_EQ(r.out.find("func_yieldstress: returned"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("4 ok, 29 placeholders (not implemented), 4 failed"), std::string::npos)
        << r.out;
}

// Answers the accessors give silently wrong are counted by the library
// (told through its environment only) and reported per entry point.
TEST(Unmarked, SilentlyWrongAnswersAreCounted) {
    const auto r =
        vtest::runHost(kHost, "--library '" HOSTLIB_UNMARKED
                              "' --no-output --functions density,emissivity,yieldstress" +
                                  kSmall);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    // 6^3 nodes, 3 steps: the casting's nodes are those evaluated.
    const std::regex density(
        R"(func_density: (\d+) accessor calls with a node or element number out of range)");
    const std::regex emissivity(R"(func_emissivity: (\d+) nodNum calls that found no node)");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, density)) << r.out;
    const long calls = std::stol(m[1]);
    EXPECT_GT(calls, 0);
    ASSERT_TRUE(std::regex_search(r.out, m, emissivity)) << r.out;
    EXPECT_LE(std::labs(std::stol(m[1]) - calls / 2), 3) << r.out; // every other call
    // No silent answer of the right one (its zeros are plausibility warnings).
    const size_t silent = r.out.find("Silent answers:\n");
    ASSERT_NE(silent, std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(silent, r.out.find("\n\n", silent) - silent).find("func_yieldstress:"),
              std::string::npos)
        << r.out;
    // The re-run of one call shows that call's silent answers.
    const auto probe = vtest::runHost(kHost, "--library '" HOSTLIB_UNMARKED
                                             "' --node 3 --step 1 --functions density,emissivity,"
                                             "yieldstress" +
                                                 kSmall);
    EXPECT_EQ(probe.status, 0) << probe.out << probe.err;
    EXPECT_NE(probe.out.find("= 2.7000000000000002\n  silent answers in this call: 1 accessor "
                             "calls with a node or element number out of range"),
              std::string::npos)
        << probe.out;
    EXPECT_NE(probe.out.find("silent answers in this call: 1 nodNum calls that found no node"),
              std::string::npos)
        << probe.out;
    EXPECT_EQ(vtest::occurrences(probe.out, "silent answers in this call"), 2u) << probe.out;
}

// The first accessor call with a number out of range is named: the
// accessor, the number, the node evaluated and the step.
TEST(Unmarked, TheFirstNumberOutOfRangeIsNamed) {
    const std::vector<uint8_t> selected = vhost::selectNodes(6, 1, 0, 216);
    const int first = int(std::find(selected.begin(), selected.end(), 1) - selected.begin()) + 1;
    const struct {
        const char *library, *entry, *accessor;
        int number; // the number given at the first node evaluated
    } cases[] = {
        {HOSTLIB_UNMARKED, "density", "getFs1", first + 1000000},              // past the mesh
        {HOSTLIB_NUMBERING, "texternal", "getT1", 0},                          // a loop from 0
        {HOSTLIB_NUMBERING, "interhtransfer", "getFractionVoid", 125 + first}, // past the elements
    };
    for (const auto &c : cases) {
        const auto r = vtest::runHost(kHost, std::string("--library '") + c.library +
                                                 "' --no-output --functions " + c.entry + kSmall);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        const std::string line = "func_" + std::string(c.entry) + ": ";
        const std::string firstCall = "\n  the first: " + std::string(c.accessor) + "(" +
                                      std::to_string(c.number) + ") at node " +
                                      std::to_string(first) +
                                      ", step 1 (node and element numbers start at 1)\n";
        const size_t at = r.out.find(line);
        ASSERT_NE(r.out.find(firstCall), std::string::npos) << c.entry << "\n" << r.out;
        EXPECT_LT(at, r.out.find(firstCall)) << r.out;
        EXPECT_EQ(vtest::occurrences(r.out, "  the first: "), 1u) << r.out;
    }
}

TEST(Unmarked, EveryUnmarkedQuantityHasANaNOfItsOwn) {
    for (auto kind :
         {vhost::Unmarked::Constituent, vhost::Unmarked::Auxiliary, vhost::Unmarked::Porosity})
        for (int index : {0, 1, 99}) {
            const double x = vhost::unmarkedNaN(kind, index);
            EXPECT_TRUE(std::isnan(x));
            vhost::Unmarked k;
            int i = -1;
            // Arithmetic keeps the payload (and may change the sign).
            ASSERT_TRUE(vhost::decodeUnmarked(-(0.5 * x + 3.0), k, i));
            EXPECT_EQ(k, kind);
            EXPECT_EQ(i, index);
        }
    vhost::Unmarked k;
    int i;
    EXPECT_FALSE(vhost::decodeUnmarked(std::numeric_limits<double>::quiet_NaN(), k, i));
    EXPECT_FALSE(vhost::decodeUnmarked(1.0, k, i));
}

// ---- end to end --------------------------------------------------------------

TEST(Checks, FaultyEntryPointsAreCaughtAndRightOnesPass) {
    const auto r = vtest::runHost(kHost, "--library '" + kChecked +
                                             "' --no-output --check-units "
                                             "--check-order" +
                                             kSmall);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    const struct {
        const char *entry;
        const char *finding; // empty: must not be reported
    } cases[] = {
        {"convehtransfer", ""},
        {"texternal", ""},
        {"density", ""},
        {"heatflux", ""},
        {"emissivity", "func_emissivity: the result changes under temperature C"},
        {"interhtransfer", "func_interhtransfer: the result changes under temperature C"},
        {"thermalexpansion", "func_thermalexpansion: the result changes under length m"},
        {"vximposed", "func_vximposed: the result changes under velocity m/s"},
        {"youngsmodulus", "func_youngsmodulus: the result changes in a shuffled order"},
        {"youngsmodulus", "func_youngsmodulus: the result changes when called again"},
    };
    for (const auto &c : cases) {
        if (*c.finding)
            EXPECT_NE(r.out.find(c.finding), std::string::npos) << c.finding << "\n" << r.out;
        else
            EXPECT_EQ(r.out.find(std::string("func_") + c.entry + ": the result changes"),
                      std::string::npos)
                << c.entry << "\n"
                << r.out;
    }
    // The two selections and the two values, in the host's units.
    EXPECT_TRUE(std::regex_search(r.out, std::regex("func_vximposed: the result changes under "
                                                    "velocity m/s: at node \\d+, step \\d+: "
                                                    "velocity cm/s 5, velocity m/s 500 ")))
        << r.out;
    EXPECT_NE(r.out.find("checks: 5 problems found"), std::string::npos) << r.out;
    // The static accumulator is not a unit fault.
    EXPECT_EQ(r.out.find("func_youngsmodulus: the result changes under"), std::string::npos);
}

TEST(Checks, TheWorkedExamplesPass) {
    const auto r = vtest::runHost(kHost, "--no-output --check-units --check-order" + kSmall);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("no entry point changed"), std::string::npos) << r.out;
}

// --check-numbering: an index mistake shows at the first node evaluated,
// named by both its numbers, at the first step; right functions (the
// elements around a node, its fields and microstructure, local mode) and
// the worked examples pass.
TEST(Checks, TheNumberingCheckFindsIndexMistakes) {
    const std::string lib = " --library '" HOSTLIB_NUMBERING "' --functions ";
    const struct {
        std::string args;
        int status;
        const char *entry; // the one reported, or null: none
    } cases[] = {
        {"", 0, nullptr}, // the worked examples
        {lib + "emissivity,yieldstress", 0, nullptr},
        {lib + "density", 1, "density"},               // node - 1
        {lib + "convehtransfer", 1, "convehtransfer"}, // a fixed node number
        {lib + "density,yieldstress", 1, "density"},
    };
    const std::vector<uint8_t> selected = vhost::selectNodes(6, 1, 0, 216);
    const int first = int(std::find(selected.begin(), selected.end(), 1) - selected.begin()) + 1;
    const std::vector<int32_t> renumbered = vhost::renumbering(216, 7);
    for (const auto &c : cases) {
        const auto r = vtest::runHost(kHost, "--no-output --check-numbering" + c.args + kSmall);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out << r.err;
        if (!c.entry) {
            EXPECT_NE(r.out.find("numbering check: no entry point changed"), std::string::npos)
                << c.args << "\n"
                << r.out;
            EXPECT_EQ(r.out.find("renumbered"), std::string::npos) << c.args << "\n" << r.out;
            continue;
        }
        std::smatch m;
        ASSERT_TRUE(std::regex_search(
            r.out, m,
            std::regex("func_" + std::string(c.entry) +
                       ": renumbered, the value at the same node differs: node (\\d+) \\(node "
                       "(\\d+) renumbered\\), step (\\d+): \\S+, renumbered \\S+ \\(\\d+ values "
                       "differ\\)\n  likely cause: an index mistake \\(node - 1, a fixed node "
                       "number, an array kept in the old numbering\\)\\?\n")))
            << c.args << "\n"
            << r.out;
        EXPECT_EQ(std::stoi(m[1]), first) << r.out;
        EXPECT_EQ(std::stoi(m[2]), renumbered[size_t(first - 1)] + 1) << r.out;
        EXPECT_EQ(std::stoi(m[3]), 1) << r.out;
        EXPECT_EQ(vtest::occurrences(r.out, ": renumbered, the value"), 1u) << r.out;
    }
}

// --check-rounding: a cancellation fails, well-conditioned functions and
// the worked examples pass, the tolerance decides; a function exact in
// every mode passes with none, so the host's fields are the same in every
// worker.
TEST(Checks, TheRoundingCheckFindsIllConditionedResults) {
    const std::string lib = " --library '" HOSTLIB_ROUNDING "' --functions ";
    const char *const cancellation =
        "func_texternal: ill-conditioned \\(cancellation\\?\\): node \\d+, step 1: to "
        "nearest \\d+, upward \\d+, downward \\d+, toward zero \\d+ \\(relative "
        "difference \\S+; \\d+ values beyond 1e-06\\)\n";
    const struct {
        std::string args;
        const char *finding; // a regular expression, or null: none
    } cases[] = {
        {kSmall, nullptr}, // the worked examples
        {" -q --no-plots", nullptr},
        {lib + "texternal" + kSmall, cancellation},
        {lib + "texternal --rounding-tol 1e-2" + kSmall, nullptr},
        {lib + "density,convehtransfer" + kSmall, nullptr},
        {lib + "density --rounding-tol 0" + kSmall, nullptr},
        {lib + "convehtransfer --rounding-tol 0" + kSmall,
         "func_convehtransfer: ill-conditioned .* values beyond 0\\)"},
        {"curve --points 20 --no-plots -q" + lib + "texternal,convehtransfer", cancellation},
    };
    for (const auto &c : cases) {
        const auto r = vtest::runHost(kHost, c.args + " --no-output --check-rounding");
        EXPECT_EQ(r.status, c.finding ? 1 : 0) << c.args << "\n" << r.out << r.err;
        EXPECT_EQ(vtest::occurrences(r.out, "ill-conditioned"), c.finding ? 1u : 0u) << r.out;
        if (c.finding) {
            EXPECT_TRUE(std::regex_search(r.out, std::regex(c.finding))) << c.args << "\n" << r.out;
        }
    }
}

// ---- where a non-finite value is born --------------------------------------------

// The line of nanbirth.c marked "BORN: NAME", as "nanbirth.c:LINE".
std::string bornLine(const std::string &name) {
    std::ifstream in(std::string(VULMORA_SOURCE_DIR) + "/tests/hostlib/nanbirth.c");
    int n = 0;
    for (std::string line; std::getline(in, line);)
        if (++n, line.find("BORN: " + name + " ") != std::string::npos ||
                     line.ends_with("BORN: " + name + " */"))
            return "nanbirth.c:" + std::to_string(n);
    ADD_FAILURE() << "no line marked BORN: " << name;
    return "?";
}

// A diagnostic worker's file is the worker's: only one it finished, every
// line one it can write, is read.
TEST(FpTraps, ADiagnosisIsReadOnlyWhenEveryLineIsOneAWorkerWrites) {
    const std::string head = "VMHDIAG1\nat 3 1\n";
    const struct {
        std::string text;
        bool ok;
        size_t frames;
    } cases[] = {
        {head + "trap invalid 1 3\nframe 33c1 - /lib/libm.so.6\nframe b1ea func_d+0x2a /a "
                "b/l.so\nend\n",
         true, 2},
        {head + "field t1 nan\nvalue -inf\nread 7ff8000056000100\nend\n", true, 0},
        {head + "trap invalid 1 3\n", false, 0},                 // ends early
        {"VMHDIAG0\nat 3 1\nend\n", false, 0},                   // not one
        {head + "trap sideways 1 3\nend\n", false, 0},           // no such exception
        {head + "frame 33x1 - /lib/libm.so.6\nend\n", false, 0}, // not hex
        {head + "frame 33c1 -\nend\n", false, 0},                // no module
        {head + "value many\nend\n", false, 0},
        {head + "at -1 2\nend\n", false, 0},
        {head + "run rm -rf /\nend\n", false, 0},
    };
    for (const auto &c : cases) {
        vhost::Diagnosis d;
        std::string error;
        EXPECT_EQ(vhost::parseDiagnosis(c.text, d, error), c.ok) << c.text << error;
        EXPECT_EQ(d.frames.size(), c.frames) << c.text;
    }
    vhost::Diagnosis d;
    std::string error;
    ASSERT_TRUE(vhost::parseDiagnosis(head + "frame 10 - /a b/l.so\nvalue nan\nend\n", d, error));
    EXPECT_EQ(d.frames[0].module, "/a b/l.so");
    EXPECT_TRUE(d.returned && std::isnan(d.value));
}

// Where a value was born, from the frames a trap left: the first one in
// the library and what it called outside it, its callers up to the entry
// point (inlined ones too), the forwarder's frame of a tail call, module +
// offset where addr2line gave nothing.
TEST(FpTraps, TheBirthplaceIsTheFirstFrameInTheLibrary) {
    using F = vhost::Frame;
    const std::string lib = "/x/libm1.so";
    const F libm{0x67acc, "", "/lib/libm.so.6", {}}, exp{0x10, "exp+0x10", "/lib/libm.so.6", {}};
    const F helper{0x33c1, "", lib, {{"helper", "/src/m.c", 12}}};
    const F entry{0x3410, "", lib, {{"func_density", "/src/m.c", 20}}};
    const F inlined{
        0x33c1, "", lib, {{"helper", "/src/m.c", 12}, {"func_density", "/src/m.c", 20}}};
    const F forward{0xb1ea, "func_density+0x2a", lib, {{"func_density", "/v/forward.cpp", 33}}};
    const F host{0x25db4, "", "/bin/vulmora-host", {}};
    const F bare{0x33c1, "", lib, {}}, bareEntry{0xb1ea, "func_density+0x2a", lib, {}};
    const struct {
        std::vector<F> frames;
        vhost::platform::FpFault fault;
        const char *born;
    } cases[] = {
        {{libm, helper, entry, forward, host},
         vhost::platform::FpFault::Invalid,
         "born in m.c:12 (invalid operation in libm.so.6) in helper, called from func_density "
         "(m.c:20)"},
        {{inlined, forward, host},
         vhost::platform::FpFault::DivideByZero,
         "born in m.c:12 (division by zero) in helper, called from func_density (m.c:20)"},
        {{exp, forward, host},
         vhost::platform::FpFault::Overflow,
         "born (overflow in exp) in a tail call from func_density"},
        {{bare, bareEntry, host},
         vhost::platform::FpFault::Invalid,
         "born at libm1.so+0x33c1 (invalid operation), called from func_density+0x2a "
         "(libm1.so+0xb1ea)"},
        {{libm, host},
         vhost::platform::FpFault::Invalid,
         "born outside the library (invalid operation) at libm.so.6+0x67acc"},
    };
    for (const auto &c : cases) {
        vhost::Diagnosis d;
        d.fault = c.fault;
        d.frames = c.frames;
        EXPECT_EQ(vhost::bornText(d, lib), c.born);
    }
}

// Each entry point's first non-finite value is made again with traps on:
// the operation's line and function, the calls up to the entry point, the
// exception (and libm's function it was raised in); a NaN read from an
// accessor is said to be read; with --trap-fp a NaN made and replaced is a
// note, and the run's status is the same with or without it. Without
// addr2line the places are module + offset. The nodes are the library's.
TEST(FpTraps, ANonFiniteValueIsTracedToTheOperationThatMadeIt) {
    const std::string lib = " --library '" HOSTLIB_NANBIRTH "' --no-output" + kSmall;
    const auto plain = vtest::runHost(kHost, lib);
    const auto traps = vtest::runHost(kHost, lib + " --trap-fp");
    const auto bare = vtest::runHost(kHost, lib, "PATH=/nonexistent");
    auto quoted = [](const std::string &s) {
        return std::regex_replace(s, std::regex(R"([()+.])"), R"(\$&)");
    };
    const std::string at = " at node (\\d+), step 1";
    const struct {
        std::string report;      // a regular expression, the node its first group
        int every, from;         // the node is `from` modulo `every` (0: any)
        bool plain, traps, bare; // found in which run
    } cases[] = {
        {"func_density: NaN" + at + ", born in " + quoted(bornLine("log_excess")) +
             " \\(invalid operation in [^)]+\\) in log_excess, called from func_density \\(" +
             quoted(bornLine("func_density")) + "\\)\n",
         5, 3, true, true, false},
        {"func_interhtransfer: \\+infinity" + at + ", born in " +
             quoted(bornLine("func_interhtransfer")) +
             " \\(division by zero\\) in func_interhtransfer\n",
         4, 2, true, true, false},
        {"func_heatflux: \\+infinity" + at + ", born in " + quoted(bornLine("func_heatflux")) +
             " \\(overflow in exp\\) in func_heatflux\n",
         0, 0, true, true, false},
        {"func_hardeningexponent: NaN" + at +
             quoted(": read a NaN from constituent 1 (eutectic Si), getFraction(1) (not made by "
                    "an operation)\n"),
         0, 0, true, true, true},
        {"func_convehtransfer: note: with traps on, the call" + at +
             " raised invalid operation in " + quoted(bornLine("func_convehtransfer")) +
             " .* in func_convehtransfer and handled it: not a failure\n",
         0, 0, false, true, false},
        {"func_density: NaN" + at +
             ", born at libhost_nanbirth\\.so\\+0x[0-9a-f]+ \\(invalid operation in [^)]+\\), "
             "called from .*func_density\\+0x[0-9a-f]+ .*\n  \\(no addr2line on PATH",
         5, 3, false, false, true},
        {"func_convehtransfer: NaN()", 0, 0, false, false, false},
    };
    for (const auto &c : cases) {
        const std::regex re(c.report);
        for (const auto &[run, expected] :
             {std::pair{&plain, c.plain}, {&traps, c.traps}, {&bare, c.bare}}) {
            std::smatch m;
            EXPECT_EQ(std::regex_search(run->out, m, re), expected) << c.report << "\n" << run->out;
            if (expected && c.every) {
                EXPECT_EQ(std::stoi(m[1]) % c.every, c.from) << m[0];
            }
        }
    }
    EXPECT_EQ(plain.status, 1) << plain.err;
    EXPECT_EQ(traps.status, 1) << traps.err;
    const auto handled = vtest::runHost(kHost, lib + " --functions convehtransfer --trap-fp");
    EXPECT_EQ(handled.status, 0) << handled.out << handled.err;
    EXPECT_NE(handled.out.find("and handled it: not a failure"), std::string::npos) << handled.out;
}

TEST(Checks, ValuesOutsideTheExpectedRangeAreFlagged) {
    const struct {
        std::string expect;
        int status;
        std::string report;
    } cases[] = {
        {"--expect density=2:3", 0, "checks: 0 problems found"},
        {"--expect func_density=2.5:3", 1,
         "func_density: \\d+ values outside the expected range 2.5 to 3; the first at node \\d+, "
         "step \\d+: 2\\.\\d"},
        {"--expect density=2:3 --expect heatflux=1:2", 1, "checks: 1 problem found"},
        {"--expect masssourceflowrate=0:1", 1,
         "func_masssourceflowrate: --expect given, but it returned no values"},
        // A user property by the name it gives itself (name_mechprop).
        {"--expect elongation=0:100", 0, "checks: 0 problems found"},
        {"--expect elongation=0:3", 1,
         "func_mechprop1 \\(elongation\\): \\d+ values outside the expected range 0 to 3"},
        {"--expect elongatoin=0:5", 1,
         "--expect elongatoin: no entry point is called so, and no user property gave itself "
         "that name"},
    };
    for (const auto &c : cases) {
        const auto r = vtest::runHost(kHost, "--no-output " + c.expect + kSmall);
        EXPECT_EQ(r.status, c.status) << c.expect << "\n" << r.out << r.err;
        EXPECT_TRUE(std::regex_search(r.out, std::regex(c.report))) << c.expect << "\n" << r.out;
    }
    for (const char *bad : {"density", "density=1", "density=3:2", "=1:2", "density=a:b"}) {
        const auto r = vtest::runHost(kHost, std::string("--no-output --expect ") + bad);
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_NE(r.err.find("--expect"), std::string::npos) << r.err;
    }
}

// func_xmasssource loops over the mesh at every call: its time per call
// grows with the mesh; the density's does not.
TEST(Checks, ACallThatSearchesTheMeshIsFlagged) {
    // Four steps: enough calls on the small mesh that a preemption or two
    // of a loaded machine cannot hide the growth.
    const auto r = vtest::runHost(kHost, "--library '" + kChecked +
                                             "' --no-output -q --check-cost --functions "
                                             "xmasssource,density --steps 4");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("func_xmasssource: the time per call grows with the mesh"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("nodNum"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("where the mesh does not move, nodNumFixed"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("func_density: the time per call"), std::string::npos) << r.out;
}

// --expect's range holds both its ends; NaN is reported apart.
TEST(Checks, TheExpectedRangeHoldsItsEnds) {
    const std::vector<uint8_t> nodes = {1, 1};
    const struct {
        double value;
        bool outside;
    } cases[] = {{2.0, false},  {3.0, false},          {2.5, false},     {1.999, true},
                 {3.001, true}, {std::nan(""), false}, {-INFINITY, true}};
    for (const auto &c : cases) {
        vhost::Finding f;
        EXPECT_EQ(
            vhost::checkRange("density", 2.0, 3.0, std::vector<double>{2.5, c.value}, nodes, f),
            c.outside)
            << c.value;
        if (c.outside) {
            EXPECT_EQ(f.node, 2) << c.value;
        }
    }
}

TEST(Compare, ASavedRunComparedWithItselfIsTheSame) {
    TempDir t;
    const std::string lib = " --library '" + kChecked + "'";
    auto first = vtest::runHost(kHost, "--output '" + (t / "ref") + "'" + lib + kSmall);
    ASSERT_EQ(first.status, 0) << first.out << first.err;
    // Compared with itself, even when the output folder is the reference.
    for (const std::string &out : {t / "new", t / "ref"}) {
        const auto r = vtest::runHost(kHost, "--output '" + out + "' --compare '" + (t / "ref") +
                                                 "'" + lib + kSmall);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(vtest::occurrences(r.out, " same\n"), 10u) << r.out;
        EXPECT_EQ(r.out.find("DIFFERS"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("note: the library was built"), std::string::npos) << r.out;
    }
    // The reference's library built from another version of the source:
    // a note names it with both hashes, and fails nothing.
    std::string described = vtest::slurp(t / "ref/run.txt");
    const std::string line = "build source tests/hostlib/checked.c ";
    const size_t at = described.find(line);
    ASSERT_NE(at, std::string::npos) << described;
    described.replace(at + line.size(), 64, std::string(64, '0'));
    writeFile(t / "ref/run.txt", described);
    const auto r =
        vtest::runHost(kHost, "--no-output --compare '" + (t / "ref") + "'" + lib + kSmall);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("reference's:\n    tests/hostlib/checked.c: 000000000000 -> "),
              std::string::npos)
        << r.out;
}

TEST(Compare, AChangedLibraryReportsWhereItChanged) {
    TempDir t;
    const auto first = vtest::runHost(kHost, "--output '" + (t / "ref") + "' --library '" +
                                                 kChecked + "'" + kSmall);
    ASSERT_EQ(first.status, 0) << first.out << first.err;
    const auto r =
        vtest::runHost(kHost, "--output '" + (t / "new") + "' --compare '" + (t / "ref") +
                                  "' --library '" + kChanged + "'" + kSmall);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(std::regex_search(
        r.out,
        std::regex(
            R"(func_density +DIFFERS: \d+ values not identical, \d+ beyond the tolerance; the largest at node \d+, step \d+: .*\(difference [0-9.e+-]+, relative [0-9.e+-]+\)\n)")))
        << r.out;
    EXPECT_TRUE(std::regex_search(
        r.out,
        std::regex(R"(func_heatflux +within tolerance: \d+ values not identical, 0 beyond)")))
        << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(func_texternal +same)"))) << r.out;
    EXPECT_NE(r.out.find("the fields there:"), std::string::npos) << r.out;
    // The differences are fields of the VTU files.
    const std::string vtu = vtest::slurp(t / "new/step_0001.vtu");
    EXPECT_NE(vtu.find("Name=\"difference_func_density\""), std::string::npos);
    EXPECT_NE(vtu.find("Name=\"difference_func_heatflux\""), std::string::npos);
    // With a tolerance wide enough, it is within.
    const auto wide = vtest::runHost(kHost, "--no-output --rtol 0.1 --compare '" + (t / "ref") +
                                                "' --library '" + kChanged + "'" + kSmall);
    EXPECT_EQ(wide.status, 0) << wide.out;
}

TEST(Compare, OtherShapesAndBrokenReferencesAreNeverCompared) {
    TempDir t;
    const std::string lib = " --library '" + kChecked + "'";
    ASSERT_EQ(vtest::runHost(kHost, "--output '" + (t / "ref") + "'" + lib + kSmall).status, 0);
    const std::string cmp = " --no-output --compare '" + (t / "ref") + "'" + lib;
    const struct {
        std::string args;
        std::string expected;
        int status;
    } shapes[] = {
        {" --nodes-per-side 7 --steps 3 -q", "nodes per side: reference 6, this run 7", 1},
        {kSmall + " --temp C", "temperature unit: reference selector 1, this run selector 2", 1},
        {kSmall + " --functions density,emissivity", "func_heatflux", 1},
        {kSmall + " --alloy pour=1000,time=7200",
         "history (pour): reference 973 K, this run 1000 K\n"
         "    history (time): reference 3600 s, this run 7200 s\n"
         "  to make this run the reference: run it again with --output",
         1},
    };
    for (const auto &c : shapes) {
        const auto r = vtest::runHost(kHost, cmp + c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find(c.expected), std::string::npos) << c.args << "\n" << r.out;
    }
    // A reference saved before the history was kept had the old one.
    const std::string saved = vtest::slurp(t / "ref/run.txt");
    std::string text = saved;
    const size_t at = text.find("history ");
    ASSERT_NE(at, std::string::npos) << text;
    writeFile(t / "ref/run.txt", text.erase(at, text.find('\n', at) + 1 - at));
    auto old =
        vtest::runHost(kHost, cmp + kSmall, "VULMORA_REFERENCE_TARGET=props_update_reference");
    EXPECT_EQ(old.status, 1);
    EXPECT_NE(old.out.find("history: reference the old default (poured at 973 K into a mould at "
                           "573 K, 180 s), this run poured at 973 K"),
              std::string::npos)
        << old.out;
    EXPECT_NE(old.out.find("to make this run the reference: build the target "
                           "props_update_reference\n"),
              std::string::npos);
    writeFile(t / "ref/run.txt", saved);
    // A values file of the wrong size, a run.txt that lies: refused.
    fs::resize_file(t / "ref/density.values", 8 * 6 * 6 * 6 * 3 - 8);
    auto r = vtest::runHost(kHost, cmp + kSmall);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("density.values"), std::string::npos) << r.err;
    writeFile(t / "ref/run.txt", "vulmora-host run 1\nsteps 99999999\n");
    r = vtest::runHost(kHost, cmp + kSmall);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("run.txt: line 2"), std::string::npos) << r.err;
    r = vtest::runHost(kHost, " --no-output --compare '" + (t / "none") + "'" + lib + kSmall);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("no such folder\n"), std::string::npos) << r.err;
    // In a test of the user's build, which target saves the first reference.
    r = vtest::runHost(kHost, " --no-output --compare '" + (t / "none") + "'" + lib + kSmall,
                       "VULMORA_REFERENCE_TARGET=props_update_reference");
    EXPECT_NE(r.err.find("no such folder (no reference saved yet: build the target "
                         "props_update_reference to save one)\n"),
              std::string::npos)
        << r.err;
}

} // namespace

// Values that are not finite: the same one on both sides is the same; one
// side only, or infinities of other signs, differ beyond any tolerance,
// reported where they are.
TEST(Compare, ValuesThatAreNotFiniteDifferWhereTheyAre) {
    using namespace vhost;
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    struct Case {
        double value, reference;
        EntryComparison::Verdict verdict;
        double relative; // at the place reported (NaN: none)
    };
    const Case cases[] = {
        {inf, inf, EntryComparison::Same, 0},
        {-inf, -inf, EntryComparison::Same, 0},
        {nan, nan, EntryComparison::Same, 0},
        {nan, -std::nan("7"), EntryComparison::Same, 0}, // NaNs of other bits are as same
        {1.0, inf, EntryComparison::Differs, nan},
        {inf, 1.0, EntryComparison::Differs, nan},
        {inf, -inf, EntryComparison::Differs, nan},
        {nan, 1.0, EntryComparison::Differs, nan},
        {1.0, nan, EntryComparison::Differs, nan},
        {nan, inf, EntryComparison::Differs, nan},
        {1.0 + 1e-9, 1.0, EntryComparison::Within, 1e-9},
        {-4.0, 4.0, EntryComparison::Differs, 2.0},
        {0.0, -0.0, EntryComparison::Within, 0.0},
        {3.0, 2.0, EntryComparison::Differs, 1.0 / 3.0},
    };
    // Two steps of four nodes; the case's values at node 3 of step 2,
    // every other value the same on both sides.
    const std::vector<uint8_t> nodeMaterial(4, 1);
    for (const Case &c : cases) {
        Reference ref;
        ref.run.entries = ref.loaded = {"density"};
        ref.values = {std::vector<double>(8, 2.0)};
        ref.values[0][6] = c.reference;
        Outcome o;
        o.name = "density";
        o.status = Outcome::Ok;
        o.result.values.assign(8, 2.0);
        o.result.values[6] = c.value;
        RunDescription cur = ref.run;
        const Comparison cmp = compareRuns(ref, cur, {o}, nodeMaterial, Tolerance{1e-6, 0});
        ASSERT_EQ(cmp.entries.size(), 1u);
        const EntryComparison &e = cmp.entries[0];
        EXPECT_EQ(e.verdict, c.verdict) << c.value << " against " << c.reference;
        EXPECT_EQ(cmp.failed(), c.verdict == EntryComparison::Differs) << c.value;
        if (c.verdict == EntryComparison::Same) continue;
        EXPECT_EQ(e.node, 3) << c.value << " against " << c.reference;
        EXPECT_EQ(e.step, 2) << c.value << " against " << c.reference;
        if (std::isnan(c.relative))
            EXPECT_TRUE(std::isnan(e.relative)) << c.value << " against " << c.reference;
        else
            EXPECT_NEAR(e.relative, c.relative, 1e-12) << c.value << " against " << c.reference;
    }
}

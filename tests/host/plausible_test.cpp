// host_plausible_test.cpp - the plausible ranges: the table against the list
// of entry points, each unit mistake named from the values it gives, a
// library that makes them run end to end (warnings, --strict, --expect),
// the worked examples without a finding, and the causes the unit check
// names.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include "checks/checks.h"
#include "checks/plausible.h"
#include "hostlib/host_run.h"
#include "model/entries.h"

namespace {

using vhost::Quantity;

const std::string kHost = VULMORA_HOST_EXE;
const std::string kSmall = " --no-output --nodes-per-side 6 --steps 2 -q";
const std::string kImplausible = " --library '" HOSTLIB_IMPLAUSIBLE "'";

// The report's lines from the one starting with `head` up to the next
// entry point's; "" when there is none.
std::string findingOf(const std::string &out, const std::string &head) {
    const size_t at = out.find(head);
    return at == std::string::npos ? "" : out.substr(at, out.find("\nfunc_", at + 1) - at);
}

// ---- the table -------------------------------------------------------------

// A user property has no range; every other row a range of some width.
TEST(PlausibleTable, EveryRangeIsARange) {
    for (const vhost::PlausibleRange &r : vhost::kPlausible) {
        if (r.quantity == Quantity::UserProperty)
            EXPECT_EQ(r.lo, r.hi) << r.entry;
        else
            EXPECT_LT(r.lo, r.hi) << r.entry;
    }
}

// Each range holds its ends; just beyond them a value is outside.
TEST(PlausibleTable, EveryRangeHoldsItsEnds) {
    const std::vector<uint8_t> node = {1};
    for (const vhost::PlausibleRange &r : vhost::kPlausible) {
        if (r.quantity == Quantity::UserProperty) continue;
        const double step = (r.hi - r.lo) * 1e-9;
        for (const auto &[x, outside] :
             {std::pair{r.lo, false}, std::pair{r.hi, false}, std::pair{r.lo - step, true},
              std::pair{r.hi + step, true}})
            EXPECT_EQ(
                vhost::judgePlausible(r.quantity, r.lo, r.hi, std::vector<double>{x}, node).count,
                outside ? 1 : 0)
                << r.entry << " at " << x;
    }
}

TEST(PlausibleTable, EveryQuantityAndMistakeIsDescribed) {
    for (int k = 0; k <= static_cast<int>(Quantity::UserProperty); ++k) {
        const auto q = static_cast<Quantity>(k);
        EXPECT_EQ(vhost::quantityInfo(q).quantity, q) << k;
    }
    for (const vhost::Mistake &m : vhost::kMistakes)
        EXPECT_GT(m.relation.factor, 0.0) << m.cause; // undone by division, order kept
}

// ---- each mistake, from the values it gives ----------------------------------

// A right value passes; the same value with the mistake made is outside
// the range and the mistake is named.
TEST(Plausible, EachMistakeIsNamedFromItsValues) {
    const struct {
        const char *entry;
        double right, wrong;
        const char *cause;
    } cases[] = {
        {"interhtransfer", 0.024, 0.024 * 4.1868e4, "in W/(m2 K) returned without conversion"},
        {"convehtransfer", 0.024, 240, "per m2 where per cm2"},
        {"heatflux", -2.0, -2.0 * 4.1868e4, "in W/m2 returned without conversion"},
        {"texternal", 293.15, 20, "a temperature in C taken as Kelvin"},
        {"texternal", 3400, 3400 + 273.15, "a temperature in K where C is expected"},
        {"density", 2.7, 2700, "a density in kg/m3"},
        {"density", 0.05, 50, "a density in kg/m3"}, // a foam: off by 1e3, not 1e4
        {"yieldstress", 1.2e9, 120, "a stress in MPa"},
        {"hardeningultimatestress", 2e5, 2e4 * 1e-1, "a stress in Pa"},
        {"youngsmodulus", 7e11, 70, "a modulus in GPa"},
        {"youngsmodulus", 7e11, 7e4, "a modulus in MPa"},
        {"youngsmodulus", 5e7, 5e6, "a modulus in Pa"},
        {"thermalexpansion", 23.5e-6, 23.5, "a thermal expansion in 1e-6/K"},
    };
    const std::vector<uint8_t> nodes = {1};
    for (const auto &c : cases) {
        const vhost::PlausibleRange &r = *vhost::plausibleRange(c.entry);
        EXPECT_EQ(
            vhost::judgePlausible(r.quantity, r.lo, r.hi, std::span(&c.right, 1), nodes).count, 0)
            << c.entry << " " << c.right;
        const auto f = vhost::judgePlausible(r.quantity, r.lo, r.hi, std::span(&c.wrong, 1), nodes);
        EXPECT_EQ(f.count, 1) << c.entry << " " << c.wrong;
        EXPECT_NE(f.cause.find(c.cause), std::string::npos) << c.entry << ": " << f.cause;
    }
}

// Values that are not judged (other nodes, NaN), and causes that do not
// fit every value outside.
TEST(Plausible, OnlyEvaluatedFiniteValuesCountAndACauseMustFitThemAll) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const vhost::PlausibleRange &rho = *vhost::plausibleRange("density");
    const std::vector<uint8_t> nodes = {1, 0, 1};
    const struct {
        std::vector<double> values;
        int64_t count;
        int node, step;
        bool cause;
    } cases[] = {
        {{2.7, 2700, nan, 2.6, 9e9, 2.5}, 0, 0, 0, false}, // node 2 is not evaluated
        {{2.7, 1, 2600, 2.6, 1, 2500}, 2, 3, 1, true},
        {{2700, 1, 2.6, 2.6, 1, 0}, 2, 1, 1, false}, // 0 is not kg/m3 of anything
    };
    for (const auto &c : cases) {
        const auto f = vhost::judgePlausible(rho.quantity, rho.lo, rho.hi, c.values, nodes);
        EXPECT_EQ(f.count, c.count);
        EXPECT_EQ(f.node, c.node);
        EXPECT_EQ(f.step, c.step);
        EXPECT_EQ(!f.cause.empty(), c.cause) << f.cause;
    }
    const vhost::PlausibleRange &uts = *vhost::plausibleRange("hardeningultimatestress");
    EXPECT_EQ(
        vhost::judgePlausible(uts.quantity, uts.lo, uts.hi, std::vector<double>{0.0}, {1}).cause,
        "");
}

// Values in the user's units are judged in internal ones: a conversion
// that keeps 0 and 1 is skipped, any other is applied to every value.
TEST(Plausible, ValuesAreBroughtToInternalUnitsBeforeTheyAreJudged) {
    const vhost::PlausibleRange &t = *vhost::plausibleRange("texternal");
    using Way = vhost::UnitConverter::Way;
    const vhost::UnitConverter celsius(
        [](Way, int, const vhost::Units &, double x) { return x + 273.0; }, vhost::Units{});
    const vhost::UnitConverter kelvin(
        [](Way, int, const vhost::Units &, double x) { return x * 1.0; }, vhost::Units{});
    EXPECT_FALSE(vhost::InternalUnit(celsius, VULMORA_QTY_TEMPERATURE).identity());
    EXPECT_TRUE(vhost::InternalUnit(kelvin, VULMORA_QTY_TEMPERATURE).identity());
    EXPECT_TRUE(vhost::InternalUnit(celsius, vhost::kNotConverted).identity());
    const std::vector<double> values = {600.0, 20.0, 1000.0}; // C
    const std::vector<uint8_t> nodes = {1, 1, 1};
    const auto inC = vhost::judgePlausible(t.quantity, t.lo, t.hi, values, nodes,
                                           vhost::InternalUnit(celsius, VULMORA_QTY_TEMPERATURE));
    EXPECT_EQ(inC.count, 0); // 873, 293 and 1273 K
    const auto asK = vhost::judgePlausible(t.quantity, t.lo, t.hi, values, nodes,
                                           vhost::InternalUnit(kelvin, VULMORA_QTY_TEMPERATURE));
    EXPECT_EQ(asK.count, 1); // 20 K
    EXPECT_EQ(asK.node, 2);
}

TEST(Plausible, ValuesAreShownInTheInternalAndTheSIUnit) {
    EXPECT_EQ(vhost::withUnits(Quantity::TransferCoefficient, 1000),
              "1000 cal/(s cm2 K) (4.1868e+07 W/(m2 K))");
    EXPECT_EQ(vhost::withUnits(Quantity::Temperature, 20), "20 K (-253.15 C)");
    EXPECT_EQ(vhost::withUnits(Quantity::Expansion, 23.5), "23.5 1/K");
    EXPECT_EQ(vhost::withUnits(Quantity::PoissonRatio, 0.75), "0.75");
    EXPECT_EQ(vhost::rangeText(Quantity::Density, 0.01, 25), "0.01 to 25 g/cm3");
}

// ---- end to end --------------------------------------------------------------

// A plain run names every mistake with its cause and leaves the right
// entry points alone; the run still succeeds.
TEST(PlausibleRun, APlainRunWarnsOfEachMistake) {
    const auto r = vtest::runHost(kHost, kImplausible + kSmall);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const struct {
        const char *entry, *finding; // finding "": not reported
    } cases[] = {
        {"interhtransfer", "a value in W/(m2 K) returned without conversion?"},
        {"convehtransfer", "or a value per m2 where per cm2 is expected?"},
        {"density", "likely cause: a density in kg/m3?"},
        {"texternal", "likely cause: a temperature in C taken as Kelvin?"},
        {"thermalexpansion", "likely cause: a thermal expansion in 1e-6/K"},
        {"yieldstress", "likely cause: a stress in MPa?"},
        {"youngsmodulus", "likely cause: a modulus in Pa?"},
        {"hardeningultimatestress", "step 1: 0 dyn/cm2 (0 Pa)"},
        {"heatflux", ""},
        {"emissivity", ""},
        {"poissonratio", ""},
        {"vyimposed", ""},
    };
    for (const auto &c : cases) {
        const std::string finding = findingOf(r.out, "func_" + std::string(c.entry) + ": ");
        EXPECT_EQ(finding.empty(), !*c.finding) << c.entry << "\n" << r.out;
        EXPECT_NE(finding.find(c.finding), std::string::npos) << c.entry << "\n" << r.out;
    }
    // Nothing brings a zero into the range of a stress: no cause.
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(func_hardeningultimatestress: .*\n[^ ])")))
        << r.out;
    EXPECT_TRUE(std::regex_search(
        r.out, std::regex(R"(func_texternal: \d+ values outside the plausible range of a )"
                          R"(temperature, 150 to 3500 K; the first at node \d+, step 1: 20 K )"
                          R"(\(-253.15 C\)\n)")))
        << r.out;
    EXPECT_NE(r.out.find("Warnings:\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("warnings: 8 entry points return values outside their plausible range"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("checks:"), std::string::npos) << r.out;
}

// --strict turns a finding into a failure; --expect replaces the range of
// its entry point, for the better or the worse.
TEST(PlausibleRun, StrictFailsAndExpectOverrides) {
    const struct {
        std::string args;
        int status;
        std::string present, absent;
    } cases[] = {
        {" --functions density --strict", 1, "Checks:\nfunc_density: ", "Warnings:"},
        {" --functions density,heatflux --strict", 1, "checks: 1 problem found", "warnings:"},
        {" --functions heatflux --strict", 0, "checks: 0 problems found", "func_heatflux:"},
        {" --functions density --strict --expect density=1000:3000", 0, "checks: 0 problems",
         "func_density:"},
        {" --functions density --expect density=1000:3000", 0, "", "func_density:"},
        {" --functions heatflux --expect heatflux=0:1", 1, "outside the expected range",
         "plausible"},
    };
    for (const auto &c : cases) {
        const auto r = vtest::runHost(kHost, kImplausible + kSmall + c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find(c.present), std::string::npos) << c.args << "\n" << r.out;
        EXPECT_EQ(r.out.find(c.absent), std::string::npos) << c.args << "\n" << r.out;
    }
}

// The examples' default run, over every material: nothing implausible.
TEST(PlausibleRun, TheWorkedExamplesRaiseNoFinding) {
    for (const char *how : {"", " --materials all --strict"}) {
        const auto r = vtest::runHost(kHost, std::string("--no-output --no-plots") + how);
        EXPECT_EQ(r.status, 0) << how << "\n" << r.out << r.err;
        EXPECT_EQ(r.out.find("plausible"), std::string::npos) << how << "\n" << r.out;
        EXPECT_EQ(r.out.find("Warnings:"), std::string::npos) << how << "\n" << r.out;
    }
}

// The unit check names the cause where one fits: a result not converted,
// converted the wrong way, a temperature or coordinate read and used as
// the internal unit.
TEST(UnitCheckCause, IsNamedWhereOneFits) {
    const auto checked =
        vtest::runHost(kHost, "--library '" HOSTLIB_CHECKED "' --check-units" + kSmall +
                                  " --functions vximposed,emissivity,interhtransfer,"
                                  "thermalexpansion");
    const auto implausible = vtest::runHost(
        kHost, kImplausible + " --check-units --functions vyimposed,texternal" + kSmall);
    const struct {
        const std::string &out;
        const char *change, *cause;
    } cases[] = {
        {checked.out, "func_vximposed: the result changes under velocity m/s",
         "likely cause: the result not converted to the user's unit (fconvertFromCGS)?"},
        {checked.out, "func_emissivity: the result changes under temperature F",
         "likely cause: a temperature read in the user's unit (getT0, getT1) used as Kelvin?"},
        {checked.out, "func_interhtransfer: the result changes under temperature C",
         "or C converted by hand with 273.15"},
        {checked.out, "func_thermalexpansion: the result changes under length m",
         "likely cause: a coordinate read in the user's unit"},
        {implausible.out, "func_vyimposed: the result changes under velocity m/s",
         "likely cause: a converter used the wrong way"},
        {implausible.out, "func_texternal: the result changes under temperature F",
         "likely cause: the result not converted to the user's unit"},
    };
    for (const auto &c : cases)
        EXPECT_NE(findingOf(c.out, c.change).find(c.cause), std::string::npos) << c.change << "\n"
                                                                               << c.out;
}

} // namespace

// README's table of plausible ranges is the one the code makes.
TEST(PlausibleTable, ReadmeShowsTheTableOfTheCode) {
    const std::string readme = vtest::slurp(std::string(VULMORA_SOURCE_DIR) + "/README.md");
    const std::string begin = "<!-- plausible:begin -->\n", end = "<!-- plausible:end -->";
    const size_t from = readme.find(begin), to = readme.find(end);
    ASSERT_NE(from, std::string::npos);
    ASSERT_NE(to, std::string::npos);
    const std::string shown = readme.substr(from + begin.size(), to - from - begin.size());
    EXPECT_EQ(shown, vhost::plausibleTableText()) << "README's table should read:\n"
                                                  << vhost::plausibleTableText();
}

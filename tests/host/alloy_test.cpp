// host_alloy_test.cpp - the user's alloy: how --alloy is read and judged,
// the sample's history from the pour to the end temperature, and the
// alloy's freezing range in a run and along a curve.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "hostlib/host_run.h"
#include "model/alloy.h"
#include "model/sample.h"

using vhost::Alloy;

namespace {

// The library's converter for K and °C (offset 273.0).
double convert(vhost::UnitConverter::Way way, int code, const vhost::Units &u, double x) {
    const double offset = code == -1 && u.temp == 2 ? 273.0 : 0.0;
    return way == vhost::UnitConverter::Way::ToInternal ? x + offset : x - offset;
}

vhost::Units celsius() {
    vhost::Units u;
    u.temp = 2;
    return u;
}

// The user's A356-type alloy of the examples, in Kelvin.
Alloy userAlloy(double eutectic = 0) {
    Alloy a;
    a.liquidus = 888, a.solidus = 828, a.eutectic = eutectic, a.pour = 973, a.end = 293;
    return a;
}

} // namespace

TEST(Alloy, ReadIsStrictAndJudgedInOneLine) {
    const vhost::UnitConverter units(convert, celsius());
    const auto toKelvin = [](double c) { return c + 273.0; };
    const struct {
        const char *text;
        std::string error; // "" when it is taken
    } cases[] = {
        {"liquidus=615,solidus=555,eutectic=577,k=0.13,pour=700,end=20", ""},
        {"# A356\nliquidus = 615\nsolidus = 555   # measured\n\ntime=7200\n", ""},
        {"solidus=655", "solidus: 655 °C must lie below the liquidus (615 °C)"},
        {"eutectic=540", "eutectic: 540 °C must lie above the solidus (560 °C)"},
        {"pour=600", "pour: 600 °C must lie above the liquidus (615 °C)"},
        {"end=570", "end: 570 °C must lie below the solidus (560 °C)"},
        {"eutectic=577,end=580", "end: 580 °C must lie below the eutectic (577 °C)"},
        {"mould=-300", "mould: -300 °C is below absolute zero"},
        {"k=1", "k: must lie between 0 and 1"},
        {"time=0", "time: must be more than 0 and at most 1e7 s"},
        {"solidus=abc", "solidus: not a number: 'abc'"},
        {"solidus=1e999", "solidus: not a number: '1e999'"},
        {"solidus", "solidus: not a number: ''"},
        {"solidus=1,solidus=2", "solidus given twice"},
        {"liquids=615", "unknown key 'liquids' (keys: liquidus, solidus, eutectic, k, tm, pour, "
                        "mould, end, time)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        Alloy a;
        std::string error;
        if (vhost::readAlloy(c.text, toKelvin, a, error)) error = vhost::alloyProblem(a, units);
        EXPECT_EQ(error, c.error);
    }
    // Keys left out keep the sample alloy's values.
    Alloy a;
    std::string error;
    ASSERT_TRUE(vhost::readAlloy("liquidus=615", toKelvin, a, error));
    EXPECT_EQ(a.solidus, Alloy{}.solidus);
    EXPECT_EQ(a.liquidus, 888.0);
}

TEST(Alloy, TheLeverRuleEndsAtTheEutectic) {
    const struct {
        double eutectic, T, fs;
    } cases[] = {
        {0, 900, 0.0}, {0, 888, 0.0},         {0, 858, 0.5},   {0, 829, 1.0 / 60 * 59},
        {0, 828, 1.0}, {850, 851, 37.0 / 60}, {850, 850, 1.0}, {850, 700, 1.0},
    };
    for (const auto &c : cases) {
        const Alloy a = userAlloy(c.eutectic);
        EXPECT_NEAR(a.leverFraction(c.T), c.fs, 1e-12) << c.eutectic << " " << c.T;
        // The history's temperature for a fraction gives that fraction back
        // (the eutectic's plateau aside).
        if (c.fs > 0 && c.fs < 1) {
            EXPECT_NEAR(a.leverTemperature(c.fs), c.T, 1e-9);
        }
    }
}

// Every casting node is poured at `pour`, passes through the freezing
// range in several steps, and ends near `end`; the solid fraction is the
// lever rule's at each node's temperature.
TEST(Alloy, TheHistoryRunsFromThePourToTheEnd) {
    for (const Alloy &a : {Alloy{}, userAlloy(), userAlloy(850)}) {
        SCOPED_TRACE(vhost::alloyText(a));
        vhost::Sample s(9, 10, vhost::Sample::Build::Whole, nullptr, a);
        std::vector<int> mushySteps(static_cast<size_t>(s.nnod), 0);
        for (int step = 1; step <= s.steps; ++step) {
            s.setStep(step);
            for (int i = 0; i < s.nnod; ++i) {
                if (!s.inCasting(i)) continue;
                const size_t k = static_cast<size_t>(i);
                if (step == 1) {
                    EXPECT_FLOAT_EQ(s.t0[k], float(a.pour));
                }
                if (step == s.steps) {
                    EXPECT_NEAR(s.t1[k], a.end, 5.0) << "node " << i + 1;
                }
                EXPECT_NEAR(s.fs1[k], a.leverFraction(s.t1[k]), a.eutectic > 0 ? 0.4 : 1e-5)
                    << "node " << i + 1 << " step " << step;
                mushySteps[k] += s.fs1[k] > 0 && s.fs1[k] < 1;
            }
        }
        for (int i = 0; i < s.nnod; ++i) {
            if (s.inCasting(i)) {
                EXPECT_GE(mushySteps[static_cast<size_t>(i)], 3) << i + 1;
            }
        }
    }
}

// The user's alloy reaches the user function: getT1 spans the freezing
// range down to room temperature, and a curve's solid fraction reaches 1
// at the user's solidus.
TEST(Alloy, TheUsersAlloyReachesTheRunAndTheCurve) {
    const std::string alloy = " --alloy liquidus=615,solidus=555,pour=700,end=20 --temp C ";
    const std::string lib = std::string("--library '") + HOSTLIB_KNOWN + "' ";
    vtest::HostResult r = vtest::runHost(
        VULMORA_HOST_EXE, lib + "--functions density --nodes-per-side 9 --no-output" + alloy);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("history: poured at 700 °C into a mould at 300 °C, cooled to 20 °C in "
                         "3600 s (liquidus 615 °C, solidus 555 °C)"),
              std::string::npos)
        << r.out;
    const size_t row = r.out.find("func_density ");
    ASSERT_NE(row, std::string::npos) << r.out;
    double lo = 0, hi = 0;
    ASSERT_EQ(std::sscanf(r.out.c_str() + row, "func_density ok %lf %*f %lf", &lo, &hi), 2)
        << r.out;
    EXPECT_LE(lo, 25.0);
    EXPECT_GE(hi, 555.0);
    for (const auto &[at, fs] : {std::pair{"557", "0.966666639"}, std::pair{"554", "1 "}}) {
        r = vtest::runHost(VULMORA_HOST_EXE, "curve " + lib + "--functions heatflux --at T=" + at +
                                                 " --no-output" + alloy);
        EXPECT_NE(r.out.find(std::string("func_heatflux = ") + fs), std::string::npos) << r.out;
    }
}

// Unit conversion: the stated factors, one multiplication or division, the
// temperature formulas, and pass-through for everything else.

#include "exchange/exchange.h"
#include "units/units.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct Units : ::testing::Test {
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        user_unit_temp = user_unit_coor = user_unit_thermalconductivity = user_unit_time = 0;
        user_unit_heatflux = user_unit_heattransfercoeff = user_unit_velocity = 0;
        user_unit_massflowrate = 0;
    }
};

struct FactorRow {
    int code;
    int *selector;
    double factors[10];
};

// The conversion table as published to users.
const FactorRow kRows[] = {
    {0, &user_unit_coor, {100.0, 1.0, 0.1, 30.48, 2.54, 1.0, 1.0, 1.0, 1.0, 1.0}},
    {3,
     &user_unit_thermalconductivity,
     {0.0023885, 1.0, 10.0, 14.882, 178.58, 0.0166667, 0.24803, 2.9764, 1.0, 1.0}},
    {4, &user_unit_time, {1.0, 60.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0}},
    {6,
     &user_unit_heatflux,
     {2.3885e-05, 1.0, 100.0, 0.27125, 39.06, 0.0166667, 0.0045208, 0.651, 1.0, 1.0}},
    {7,
     &user_unit_heattransfercoeff,
     {2.3885e-05, 1.0, 100.0, 0.48825, 70.308, 0.0166667, 0.0081375, 1.1718, 1.0, 1.0}},
    {8,
     &user_unit_velocity,
     {100.0, 1.0, 0.1, 30.48, 2.54, 1.6667, 0.0166667, 0.508, 0.042333, 1.0}},
    {13,
     &user_unit_massflowrate,
     {1000.0, 1.0, 453.515, 16.66667, 0.0166667, 7.558583, 1.0, 1.0, 1.0, 1.0}},
};

TEST_F(Units, EveryFactorIsOneMultiplicationOrDivision) {
    const double x = 3.7;
    for (const FactorRow &row : kRows) {
        for (int unit = 1; unit <= 10; ++unit) {
            *row.selector = unit;
            double f = row.factors[unit - 1];
            EXPECT_EQ(fconvertToCGS(row.code, x), x * f) << row.code << "/" << unit;
            EXPECT_EQ(fconvertFromCGS(row.code, x), x / f) << row.code << "/" << unit;
        }
        *row.selector = 0;
    }
}

TEST_F(Units, EachCodeReadsItsOwnSelector) {
    for (const FactorRow &row : kRows) {
        reset();
        *row.selector = 1; // every other selector stays 0: pass-through
        for (const FactorRow &other : kRows)
            EXPECT_EQ(fconvertToCGS(other.code, 2.0),
                      other.code == row.code ? 2.0 * other.factors[0] : 2.0)
                << "selector of " << row.code << ", code " << other.code;
    }
}

TEST_F(Units, SelectorOutsideTheTablePassesThrough) {
    for (int unit : {0, -1, 11, -2147483647 - 1, 2147483647}) {
        for (const FactorRow &row : kRows) {
            *row.selector = unit;
            EXPECT_EQ(fconvertToCGS(row.code, 5.5), 5.5) << row.code << "/" << unit;
            EXPECT_EQ(fconvertFromCGS(row.code, 5.5), 5.5) << row.code << "/" << unit;
        }
    }
}

TEST_F(Units, OtherCodesPassThroughWhateverTheSelectors) {
    for (const FactorRow &row : kRows)
        *row.selector = 1;
    user_unit_temp = 2;
    for (int code : {11, 2, 5, 99, -2, 1, 9, 12, 14})
        for (double x : {0.0, -3.25, 1e300}) {
            EXPECT_EQ(fconvertToCGS(code, x), x) << code;
            EXPECT_EQ(fconvertFromCGS(code, x), x) << code;
        }
}

TEST_F(Units, Examples) {
    user_unit_temp = 2;
    EXPECT_EQ(fconvertToCGS(-1, 20.0), 293.0);
    user_unit_temp = 3;
    EXPECT_EQ(fconvertToCGS(-1, 20.0), (20.0 - 32.0) / 1.8 + 273.0);
    EXPECT_DOUBLE_EQ(fconvertToCGS(-1, 20.0), 266.3333333333333);
    user_unit_coor = 5;
    EXPECT_EQ(fconvertFromCGS(0, 254.0), 100.0);
    user_unit_coor = 1;
    EXPECT_EQ(fconvertToCGS(0, 1.0), 100.0);
    user_unit_time = 2;
    EXPECT_EQ(fconvertToCGS(4, 2.0), 120.0);
}

struct TempCase {
    int unit;
    double user, kelvin; // the same temperature in `unit` and in Kelvin
};

TEST_F(Units, TemperatureFormulas) {
    const TempCase cases[] = {
        {1, 300.0, 300.0},  {2, 27.0, 300.0},  {3, 80.6, (80.6 - 32.0) / 1.8 + 273.0},
        {4, 540.0, 300.0},  {0, 300.0, 300.0}, {5, 300.0, 300.0},
        {-1, 300.0, 300.0}, {2, -273.0, 0.0},
    };
    for (const TempCase &c : cases) {
        EXPECT_EQ(tempToKelvin(c.unit, c.user), c.kelvin) << "unit " << c.unit;
        user_unit_temp = c.unit;
        EXPECT_EQ(fconvertToCGS(-1, c.user), c.kelvin) << "unit " << c.unit;
    }
    // From Kelvin, the written order of operations.
    EXPECT_EQ(tempFromKelvin(2, 300.0), 27.0);
    EXPECT_EQ(tempFromKelvin(3, 300.0), (300.0 - 273.0) * 1.8 + 32.0);
    EXPECT_EQ(tempFromKelvin(4, 300.0), 300.0 * 1.8);
    EXPECT_EQ(tempFromKelvin(7, 300.0), 300.0);
    user_unit_temp = 3;
    EXPECT_NEAR(fconvertFromCGS(-1, 300.0), 80.6, 1e-12);
}

TEST_F(Units, RoundTripUpToRounding) {
    for (const FactorRow &row : kRows)
        for (int unit = 1; unit <= 10; ++unit) {
            *row.selector = unit;
            double x = 123.456;
            EXPECT_NEAR(fconvertFromCGS(row.code, fconvertToCGS(row.code, x)), x, 1e-12 * x);
        }
}

TEST_F(Units, NaNAndInfinityTravelThrough) {
    user_unit_coor = 3;
    EXPECT_TRUE(std::isnan(fconvertToCGS(0, NAN)));
    EXPECT_EQ(fconvertFromCGS(0, INFINITY), INFINITY);
}

} // namespace

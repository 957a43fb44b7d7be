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

// ---- the factors against physics ---------------------------------------------------

// Physical constants, written out apart from the table: the international
// calorie (4.1868 J), the inch and the foot, the avoirdupois pound, and the
// BTU as 1055.06 J (the code names no definition; this one fits its
// factors best, the international 1055.05585 J leaves BTU/(s*ft*F) 2.4e-5
// off).
constexpr double kCal = 4.1868, kBtu = 1055.06 / kCal; // in cal
constexpr double kIn = 2.54, kFt = 12 * kIn, kMin = 60.0, kLb = 453.59237;
constexpr double kPerF = 1.8; // a temperature difference of 1 K is 1.8 F

// The table gives its factors to five significant digits (0.0023885 for
// 1/418.68): each lies within 2.1e-5 of physics, and a change in a fourth
// digit moves it by 1e-4 or more.
constexpr double kFiveDigits = 2.5e-5;
// Its pound is 453.515 g, 1.7e-4 below 453.59237 g (lb/s and lb/min).
constexpr double kTablePound = 2e-4;

TEST_F(Units, EveryNonInternalFactorMatchesPhysics) {
    const struct {
        int code;
        int *selector;
        int unit;
        double physics; // one user unit in internal units
        double tolerance = kFiveDigits;
    } cases[] = {
        // cm
        {0, &user_unit_coor, 1, 100.0},
        {0, &user_unit_coor, 3, 0.1},
        {0, &user_unit_coor, 4, kFt},
        {0, &user_unit_coor, 5, kIn},
        // cal/(s*cm*K)
        {3, &user_unit_thermalconductivity, 1, 1 / kCal / 100},
        {3, &user_unit_thermalconductivity, 3, 10.0},
        {3, &user_unit_thermalconductivity, 4, kBtu / kFt * kPerF},
        {3, &user_unit_thermalconductivity, 5, kBtu / kIn * kPerF},
        {3, &user_unit_thermalconductivity, 6, 1 / kMin},
        {3, &user_unit_thermalconductivity, 7, kBtu / kFt * kPerF / kMin},
        {3, &user_unit_thermalconductivity, 8, kBtu / kIn * kPerF / kMin},
        // s
        {4, &user_unit_time, 2, kMin},
        // cal/(s*cm2)
        {6, &user_unit_heatflux, 1, 1 / kCal / 1e4},
        {6, &user_unit_heatflux, 3, 100.0},
        {6, &user_unit_heatflux, 4, kBtu / (kFt * kFt)},
        {6, &user_unit_heatflux, 5, kBtu / (kIn * kIn)},
        {6, &user_unit_heatflux, 6, 1 / kMin},
        {6, &user_unit_heatflux, 7, kBtu / (kFt * kFt) / kMin},
        {6, &user_unit_heatflux, 8, kBtu / (kIn * kIn) / kMin},
        // cal/(s*cm2*K); the BTU units per F
        {7, &user_unit_heattransfercoeff, 1, 1 / kCal / 1e4},
        {7, &user_unit_heattransfercoeff, 3, 100.0},
        {7, &user_unit_heattransfercoeff, 4, kBtu / (kFt * kFt) * kPerF},
        {7, &user_unit_heattransfercoeff, 5, kBtu / (kIn * kIn) * kPerF},
        {7, &user_unit_heattransfercoeff, 6, 1 / kMin},
        {7, &user_unit_heattransfercoeff, 7, kBtu / (kFt * kFt) * kPerF / kMin},
        {7, &user_unit_heattransfercoeff, 8, kBtu / (kIn * kIn) * kPerF / kMin},
        // cm/s
        {8, &user_unit_velocity, 1, 100.0},
        {8, &user_unit_velocity, 3, 0.1},
        {8, &user_unit_velocity, 4, kFt},
        {8, &user_unit_velocity, 5, kIn},
        {8, &user_unit_velocity, 6, 100.0 / kMin},
        {8, &user_unit_velocity, 7, 1 / kMin},
        {8, &user_unit_velocity, 8, kFt / kMin},
        {8, &user_unit_velocity, 9, kIn / kMin},
        // g/s
        {13, &user_unit_massflowrate, 1, 1000.0},
        {13, &user_unit_massflowrate, 3, kLb, kTablePound},
        {13, &user_unit_massflowrate, 4, 1000.0 / kMin},
        {13, &user_unit_massflowrate, 5, 1 / kMin},
        {13, &user_unit_massflowrate, 6, kLb / kMin, kTablePound},
    };
    for (const auto &c : cases) {
        *c.selector = c.unit;
        const double to = fconvertToCGS(c.code, 1.0), from = fconvertFromCGS(c.code, 1.0);
        EXPECT_NEAR(to / c.physics, 1.0, c.tolerance) << c.code << "/" << c.unit;
        EXPECT_NEAR(from * c.physics, 1.0, c.tolerance) << c.code << "/" << c.unit;
        *c.selector = 0;
    }
    // The pound's two rows, loose against physics, agree with each other.
    user_unit_massflowrate = 6;
    const double perMinute = fconvertToCGS(13, kMin);
    user_unit_massflowrate = 3;
    EXPECT_NEAR(perMinute / fconvertToCGS(13, 1.0), 1.0, 1e-6);
}

// The temperature scales: 1 C is 1 K, 1 F and 1 R are 1/1.8 K, 0 R is
// 0 K, and water freezes at 0 C and 32 F alike (273.0 K here; physics says
// 273.15, the system's offset is 273.0).
TEST_F(Units, TemperatureScalesMatchPhysics) {
    const struct {
        int unit;
        double degree, freezing; // one degree in K; water's freezing point in the unit
    } cases[] = {{2, 1.0, 0.0}, {3, 1 / kPerF, 32.0}, {4, 1 / kPerF, 273.0 * kPerF}};
    for (const auto &c : cases) {
        user_unit_temp = c.unit;
        EXPECT_NEAR(fconvertToCGS(-1, c.freezing + 100) - fconvertToCGS(-1, c.freezing),
                    100 * c.degree, 1e-9)
            << c.unit;
        EXPECT_NEAR(fconvertToCGS(-1, c.freezing), 273.0, 1e-9) << c.unit;
        EXPECT_NEAR(fconvertFromCGS(-1, 273.0 + 50 * c.degree), c.freezing + 50, 1e-9) << c.unit;
    }
    user_unit_temp = 4;
    EXPECT_EQ(fconvertToCGS(-1, 0.0), 0.0);
}

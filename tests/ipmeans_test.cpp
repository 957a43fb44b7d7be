// ipmeans_test.cpp - element means of integration-point data.
//
// A reference mean written here (offsets from a plain prefix sum, values
// widened, added in order, divided, then scaled) is compared bit for bit
// with the accessors over random meshes; the fixed cases pin the layout,
// the summation order and the fatal paths.

#include "exchange/exchange.h"
#include "getVar.h"
#include "runtime/messages.h"

#include "child.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

const int kPoints[12] = {0, 8, 1, 6, 8, 6, 4, 3, 4, 2, 4, 8};

void resetBlock() {
    nel = nstr1 = 0;
    stress_scale = 0.0;
    el_type = nullptr;
    fraction_void = epstn_new = strsg = nullptr;
}

class Means : public ::testing::Test {
  protected:
    void SetUp() override { resetBlock(); }
    void TearDown() override { resetBlock(); }
};

// Bit-for-bit equality that also accepts two NaNs.
bool sameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

// Points of a type code; unknown codes have none.
int pointsOf(int type) {
    return type >= 0 && type < 12 ? kPoints[type] : 0;
}

// Reference: mean of field[stride * p + k] over the points of element e.
double referenceMean(const std::vector<int> &types, const std::vector<float> &field, int stride,
                     int k, int e) {
    long long first = 0;
    for (int i = 0; i < e - 1; ++i)
        first += pointsOf(types[static_cast<size_t>(i)]);
    int n = pointsOf(types[static_cast<size_t>(e - 1)]);
    double s = 0.0;
    for (int j = 0; j < n; ++j)
        s += static_cast<double>(field[static_cast<size_t>((first + j) * stride + k)]);
    return s / static_cast<double>(n);
}

// ---- layout -------------------------------------------------------------------

// Types [1, 2, 4] with fraction_void[p] = p: element 3 reads points 9..16.
TEST_F(Means, ElementsOwnConsecutivePoints) {
    std::vector<int> types = {1, 2, 4};
    std::vector<float> fv(17);
    for (size_t p = 0; p < fv.size(); ++p)
        fv[p] = static_cast<float>(p);
    el_type = types.data();
    nel = 3;
    fraction_void = fv.data();
    EXPECT_EQ(getFractionVoid(1), 3.5);  // points 0..7
    EXPECT_EQ(getFractionVoid(2), 8.0);  // the single point of type 2
    EXPECT_EQ(getFractionVoid(3), 12.5); // points 9..16
}

// Types [1, 2], six components per point: component 3 of element 2 is the
// single value at 6 * 8 + 3.
TEST_F(Means, StressComponentStride) {
    std::vector<int> types = {1, 2};
    std::vector<float> s(6 * 9, 1000.0f);
    s[51] = 4.0f;
    el_type = types.data();
    nel = 2;
    nstr1 = 6;
    stress_scale = 0.5;
    strsg = s.data();
    EXPECT_EQ(getStress4(2), 2.0);
    EXPECT_EQ(getStress3(2), 500.0);
}

// Values are widened before they are added and added in index order:
// 2^24 + 1 + ... is exact in double but not in float, and 1e16 + 1 + 1
// in order loses both ones (each addition rounds to even).
TEST_F(Means, SumWidenedInIndexOrder) {
    std::vector<int> types = {4, 7};
    std::vector<float> fv = {16777216.0f, 1, 1, 1, 1, 1, 1, 1, 1e16f, 1.0f, 1.0f};
    el_type = types.data();
    nel = 2;
    fraction_void = fv.data();
    epstn_new = fv.data();
    EXPECT_EQ(getFractionVoid(1), (16777216.0 + 7.0) / 8.0);
    EXPECT_EQ(getEpstn(2), static_cast<double>(1e16f) / 3.0);
}

// Type 0 has no points: 0.0 / 0 is NaN, scaled or not. Unknown codes are
// treated the same and add nothing to the offsets of later elements.
TEST_F(Means, ElementsWithoutPointsGiveNaN) {
    std::vector<int> types = {0, 99, -3, 2};
    std::vector<float> v(6, 6.0f);
    el_type = types.data();
    nel = 4;
    nstr1 = 6;
    stress_scale = 3.0;
    fraction_void = epstn_new = strsg = v.data();
    for (int e = 1; e <= 3; ++e) {
        EXPECT_TRUE(std::isnan(getFractionVoid(e))) << e;
        EXPECT_TRUE(std::isnan(getEpstn(e))) << e;
        EXPECT_TRUE(std::isnan(getStress1(e))) << e;
    }
    EXPECT_EQ(getFractionVoid(4), 6.0); // its single point is point 0
    EXPECT_EQ(getStress6(4), 18.0);
    el_type = nullptr; // no element data at all: no points either
    EXPECT_TRUE(std::isnan(getEpstn(2)));
}

// ---- out-of-range elements ------------------------------------------------------

TEST_F(Means, OutOfRangeElementsGiveExactZero) {
    std::vector<int> types = {1};
    std::vector<float> v(48, 2.0f);
    el_type = types.data();
    nstr1 = 6;
    stress_scale = 7.0;
    fraction_void = epstn_new = strsg = v.data();
    double (*const all[])(int) = {getFractionVoid, getEpstn,   getStress1, getStress2,
                                  getStress3,      getStress4, getStress5, getStress6};
    for (int count : {0, 1}) {
        nel = count;
        for (auto get : all)
            for (int e : {0, -1, count + 1})
                EXPECT_EQ(get(e), 0.0) << "nel=" << count << " e=" << e;
    }
}

// ---- random meshes against the reference ------------------------------------------

TEST_F(Means, MatchReferenceOnRandomMeshes) {
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> type(-1, 12);
    std::uniform_real_distribution<float> value(-1e3f, 1e3f);
    double (*const stress[6])(int) = {getStress1, getStress2, getStress3,
                                      getStress4, getStress5, getStress6};
    for (int round = 0; round < 20; ++round) {
        std::vector<int> types(static_cast<size_t>(1 + round * 7));
        long long points = 0;
        for (int &t : types)
            points += pointsOf(t = type(rng));
        std::vector<float> fv(static_cast<size_t>(points) + 1), ep(fv.size()), s(6 * fv.size());
        for (auto *f : {&fv, &ep, &s})
            for (float &x : *f)
                x = value(rng);
        el_type = types.data();
        nel = static_cast<int>(types.size());
        nstr1 = 6;
        stress_scale = 0.1 + round;
        fraction_void = fv.data();
        epstn_new = ep.data();
        strsg = s.data();
        for (int e = 1; e <= nel; ++e) {
            ASSERT_TRUE(sameBits(getFractionVoid(e), referenceMean(types, fv, 1, 0, e))) << e;
            ASSERT_TRUE(sameBits(getEpstn(e), referenceMean(types, ep, 1, 0, e))) << e;
            for (int k = 0; k < 6; ++k)
                ASSERT_TRUE(sameBits(stress[k](e), referenceMean(types, s, 6, k, e) * stress_scale))
                    << "e=" << e << " k=" << k;
        }
    }
}

// ---- fatal paths ---------------------------------------------------------------------

// nstr1 is tested before the pointer, the pointer before the element number.
TEST_F(Means, MissingFieldsAndWrongComponentCountStop) {
    std::vector<int> types = {1};
    std::vector<float> v(48, 1.0f);
    el_type = types.data();
    nel = 1;
    stress_scale = 2.0;
    const struct {
        const char *name;
        double (*get)(int);
        int nstr;
        bool withFields;
        const char *message;
    } cases[] = {
        {"getFractionVoid", getFractionVoid, 6, false, VULMORA_MSG_FRACTION_VOID},
        {"getFractionVoid nstr1=4", getFractionVoid, 4, false, VULMORA_MSG_FRACTION_VOID},
        {"getEpstn", getEpstn, 6, false, VULMORA_MSG_EPSTN},
        {"getStress1", getStress1, 6, false, VULMORA_MSG_STRSG},
        {"getStress6", getStress6, 6, false, VULMORA_MSG_STRSG},
        {"getStress2 nstr1=4, no field", getStress2, 4, false, VULMORA_MSG_STRESS_3D},
        {"getStress2 nstr1=4", getStress2, 4, true, VULMORA_MSG_STRESS_3D},
        {"getStress5 nstr1=0", getStress5, 0, true, VULMORA_MSG_STRESS_3D},
    };
    for (const auto &c : cases) {
        for (int e : {1, 0, 2}) {
            SCOPED_TRACE(std::string(c.name) + " e=" + std::to_string(e));
            nstr1 = c.nstr;
            float *f = c.withFields ? v.data() : nullptr;
            fraction_void = epstn_new = strsg = f;
            auto r = vtest::runInChild([&] { c.get(e); });
            EXPECT_TRUE(vtest::stoppedWith(r, c.message))
                << "out='" << r.out << "' status=" << r.status;
        }
    }
}

} // namespace

// fields_test.cpp - counts, connectivity, element data and nodal fields,
// read through the accessors as user code reads them.
//
// The tests write the exchange block directly. Fatal paths run in a child
// process and are checked for their exact stdout bytes and status 1.

#include "exchange/exchange.h"
#include "getVar.h"
#include "runtime/messages.h"

#include "child.h"

#include <gtest/gtest.h>

#include <climits>

#include <string>
#include <vector>

namespace {

// Every variable these accessors read, back to its load-time zero.
void resetBlock() {
    nnod = nvnod = nel = 0;
    user_unit_temp = user_unit_coor = user_unit_velocity = 0;
    el_type = mat_id = nullptr;
    ncon = nullptr;
    x_cord = y_cord = z_cord = nullptr;
    el_vol = nullptr;
    for (float **f :
         {&t0,           &t1, &fs0, &fs1, &vf_s0, &vf_s1, &f_vol0, &f_vol1, &jctn0, &jctn1,
          &fatigue_life, &u0, &v0,  &w0,  &u1,    &v1,    &w1,     &p0,     &p1,    &mushy_strain})
        *f = nullptr;
}

class Fields : public ::testing::Test {
  protected:
    void SetUp() override { resetBlock(); }
    void TearDown() override { resetBlock(); }
};

// How a field's stored value reaches the user.
enum class Conv { None, TempC, VelMm };

double expected(Conv conv, float stored) {
    double v = static_cast<double>(stored);
    switch (conv) {
    case Conv::TempC:
        return v - 273.0;
    case Conv::VelMm:
        return v / 0.1;
    default:
        return v;
    }
}

// ---- tolerant nodal and velocity-node fields ----------------------------------

struct Tolerant {
    const char *name;
    double (*get)(int);
    float **field;
    int *count; // bounding count: nnod or nvnod
    Conv conv;
};

const Tolerant kTolerant[] = {
    {"getT0", getT0, &t0, &nnod, Conv::TempC},
    {"getT1", getT1, &t1, &nnod, Conv::TempC},
    {"getFs0", getFs0, &fs0, &nnod, Conv::None},
    {"getFs1", getFs1, &fs1, &nnod, Conv::None},
    {"getU0", getU0, &u0, &nvnod, Conv::VelMm},
    {"getV0", getV0, &v0, &nvnod, Conv::VelMm},
    {"getW0", getW0, &w0, &nvnod, Conv::VelMm},
    {"getU1", getU1, &u1, &nvnod, Conv::VelMm},
    {"getV1", getV1, &v1, &nvnod, Conv::VelMm},
    {"getW1", getW1, &w1, &nvnod, Conv::VelMm},
    {"getMushyStrain", getMushyStrain, &mushy_strain, &nvnod, Conv::None},
};

// Values, units and bounds: nnod = 5 but nvnod = 3, so velocity-node
// fields must stop at 3 even though their arrays are longer.
TEST_F(Fields, TolerantFieldsReadConvertAndBound) {
    std::vector<float> values = {300.0f, 310.5f, 250.25f, 1500.0f, 0.125f};
    user_unit_temp = 2;
    user_unit_velocity = 3;
    nnod = 5;
    nvnod = 3;
    for (const Tolerant &a : kTolerant) {
        SCOPED_TRACE(a.name);
        *a.field = values.data();
        for (int n = 1; n <= *a.count; ++n)
            EXPECT_DOUBLE_EQ(a.get(n), expected(a.conv, values[static_cast<size_t>(n - 1)]))
                << "n=" << n;
        for (int n : {0, -1, *a.count + 1, 1 << 30})
            EXPECT_EQ(a.get(n), 0.0) << "n=" << n;
        *a.field = nullptr;
        EXPECT_EQ(a.get(1), 0.0);
    }
}

// The temperature units: Kelvin as stored, Celsius offset 273, Fahrenheit.
TEST_F(Fields, TemperatureInEachUnit) {
    static float stored = 300.0f;
    t1 = &stored;
    nnod = 1;
    const struct {
        int unit;
        double want;
    } cases[] = {{1, 300.0}, {2, 27.0}, {3, 80.6}, {4, 540.0}};
    for (const auto &c : cases) {
        user_unit_temp = c.unit;
        EXPECT_NEAR(getT1(1), c.want, 1e-12) << "unit " << c.unit;
    }
}

// ---- strict fields ------------------------------------------------------------

struct Strict {
    const char *name;
    double (*get)(int);
    float **field;
    int *count;
    const char *message;
};

const Strict kStrict[] = {
    {"getVfS0", getVfS0, &vf_s0, &nnod, VULMORA_MSG_VF_S},
    {"getVfS1", getVfS1, &vf_s1, &nnod, VULMORA_MSG_VF_S},
    {"getFVol0", getFVol0, &f_vol0, &nnod, VULMORA_MSG_F_VOL},
    {"getFVol1", getFVol1, &f_vol1, &nnod, VULMORA_MSG_F_VOL},
    {"getJctn0", getJctn0, &jctn0, &nnod, VULMORA_MSG_JCTN},
    {"getJctn1", getJctn1, &jctn1, &nnod, VULMORA_MSG_JCTN},
    {"getFatigueLife", getFatigueLife, &fatigue_life, &nnod, VULMORA_MSG_FATIGUE_LIFE},
    {"getElVol", getElVol, &el_vol, &nel, VULMORA_MSG_EL_VOL},
    {"getP0", getP0, &p0, &nvnod, VULMORA_MSG_P0},
    {"getP1", getP1, &p1, &nvnod, VULMORA_MSG_P1},
};

// A missing field stops with its message, for in-range and out-of-range
// numbers alike (the null test comes first).
TEST_F(Fields, StrictFieldMissingStops) {
    nnod = nvnod = nel = 3;
    for (const Strict &a : kStrict) {
        for (int n : {1, 0, 5}) {
            SCOPED_TRACE(std::string(a.name) + "(" + std::to_string(n) + ")");
            auto r = vtest::runInChild([&] { a.get(n); });
            EXPECT_TRUE(vtest::stoppedWith(r, a.message))
                << "out='" << r.out << "' status=" << r.status;
        }
    }
}

// A present field reads unconverted whatever units the host selected
// (pressure included), and 0.0 outside its bound.
TEST_F(Fields, StrictFieldPresentReadsAsStored) {
    std::vector<float> values = {101325.0f, -2.5f, 7.75f, 9.0f};
    user_unit_temp = 3;
    user_unit_coor = 3;
    user_unit_velocity = 1;
    nnod = 4;
    nvnod = 2;
    nel = 3;
    for (const Strict &a : kStrict) {
        SCOPED_TRACE(a.name);
        *a.field = values.data();
        for (int n = 1; n <= *a.count; ++n)
            EXPECT_EQ(a.get(n), static_cast<double>(values[static_cast<size_t>(n - 1)]));
        EXPECT_EQ(a.get(0), 0.0);
        EXPECT_EQ(a.get(*a.count + 1), 0.0);
        *a.field = nullptr;
    }
}

// ---- coordinates --------------------------------------------------------------

TEST_F(Fields, CoordinatesInUserLengthUnit) {
    std::vector<double> xs = {2.0, -1.5}, ys = {30.48, 0.0}, zs = {254.0, 1e-3};
    x_cord = xs.data();
    y_cord = ys.data();
    z_cord = zs.data();
    nnod = 2;
    const struct {
        int unit;
        double factor; // centimetres per user unit
    } units[] = {{2, 1.0}, {3, 0.1}, {4, 30.48}, {5, 2.54}, {1, 100.0}};
    double (*const get[3])(int) = {getX, getY, getZ};
    const std::vector<double> *stored[3] = {&xs, &ys, &zs};
    for (const auto &u : units) {
        user_unit_coor = u.unit;
        for (int axis = 0; axis < 3; ++axis) {
            for (int n = 1; n <= 2; ++n)
                EXPECT_DOUBLE_EQ(get[axis](n),
                                 (*stored[axis])[static_cast<size_t>(n - 1)] / u.factor)
                    << "unit " << u.unit << " axis " << axis << " n " << n;
            EXPECT_EQ(get[axis](3), 0.0);
            EXPECT_EQ(get[axis](0), 0.0);
        }
    }
    EXPECT_DOUBLE_EQ(getX(1), 0.02); // unit 1: metres
    x_cord = nullptr;
    EXPECT_EQ(getX(1), 0.0);
}

// ---- connectivity and element data --------------------------------------------

// Elements: type 1 (8 nodes), type 7 (3 nodes), type 0 (none), an unknown
// code. Each node list is exactly as long as its type says, so reading past
// it would show up under AddressSanitizer.
class Mesh : public Fields {
  protected:
    void SetUp() override {
        Fields::SetUp();
        hexa_ = {10, 11, 12, 13, 14, 15, 16, 17};
        tri_ = {3, 1, 4};
        lists_ = {hexa_.data(), tri_.data(), nullptr, tri_.data()};
        ncon = lists_.data();
        el_type = types_.data();
        mat_id = mats_.data();
        nel = 4;
        nnod = 20;
    }
    std::vector<int> hexa_, tri_;
    std::vector<int *> lists_;
    std::vector<int> types_ = {1, 7, 0, 12};
    std::vector<int> mats_ = {0, 4, 2, -1};
};

TEST_F(Mesh, ElemNodeReadsOnlyTheElementsOwnList) {
    const struct {
        int k, e, want;
    } cases[] = {
        {1, 1, 11}, {8, 1, 18},             // first and last of an 8-node element
        {1, 2, 4},  {3, 2, 5},              // 3-node element
        {4, 2, 0},  {9, 1, 0},              // beyond the type's count, within nnod
        {1, 3, 0},                          // type 0 has no nodes (and no list)
        {1, 4, 0},                          // unknown type code
        {0, 1, 0},  {21, 1, 0}, {-3, 1, 0}, // k outside 1..nnod
        {1, 0, 0},  {1, 5, 0},              // e outside 1..nel
    };
    for (const auto &c : cases)
        EXPECT_EQ(getElemNode(c.k, c.e), c.want) << "k=" << c.k << " e=" << c.e;

    types_[3] = -5; // negative codes are unknown as well
    EXPECT_EQ(getElemNode(1, 4), 0);
    el_type = nullptr; // without types nothing bounds the list
    EXPECT_EQ(getElemNode(1, 1), 0);
    el_type = types_.data();
    ncon = nullptr;
    EXPECT_EQ(getElemNode(1, 1), 0);
}

TEST_F(Mesh, ElementTypeAndMaterial) {
    const struct {
        int e, type, mat;
    } cases[] = {{1, 1, 1}, {2, 7, 5}, {3, 0, 3}, {4, 12, 0}, {0, 0, 0}, {5, 0, 0}};
    for (const auto &c : cases) {
        EXPECT_EQ(getElType(c.e), c.type) << "e=" << c.e;
        EXPECT_EQ(getMatId(c.e), c.mat) << "e=" << c.e;
    }
    el_type = nullptr;
    mat_id = nullptr;
    EXPECT_EQ(getElType(1), 0);
    EXPECT_EQ(getMatId(1), 0);
}

// A stored INT_MAX has no 1-based successor: it reads as "none", 0.
TEST_F(Mesh, LargestStoredIndexReadsAsNone) {
    mats_[0] = INT_MAX;
    hexa_[2] = INT_MAX;
    hexa_[3] = INT_MAX - 1;
    EXPECT_EQ(getMatId(1), 0);
    EXPECT_EQ(getElemNode(3, 1), 0);
    EXPECT_EQ(getElemNode(4, 1), INT_MAX);
}

// A freshly loaded block has no counts and no fields: every tolerant
// accessor answers 0.
TEST_F(Fields, EmptyBlockReadsZero) {
    EXPECT_EQ(getNnod() + getNvnod() + getNel(), 0);
    for (const Tolerant &a : kTolerant)
        EXPECT_EQ(a.get(1), 0.0) << a.name;
    EXPECT_EQ(getElemNode(1, 1), 0);
    EXPECT_EQ(getElType(1), 0);
    EXPECT_EQ(getMatId(1), 0);
    EXPECT_EQ(getX(1) + getY(1) + getZ(1), 0.0);
    nnod = 7, nvnod = 4, nel = 2;
    EXPECT_EQ(getNnod(), 7);
    EXPECT_EQ(getNvnod(), 4);
    EXPECT_EQ(getNel(), 2);
}

} // namespace

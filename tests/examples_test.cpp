// examples_test.cpp - the worked examples, loaded as the host loads them.
//
// A small casting is written into the exchange block by hand: 12 nodes on
// a 2 cm grid (x 0..4, y and z 0..2), element 1 of the casting (x 0..2),
// element 2 of the mould (x 2..4), and a microstructure model with the
// eutectic silicon (constituent 1) and the dendrite arm spacing (auxiliary 0).
// Expected values are worked out by hand from the alloy data.

#include "mikral.h"
#include "runtime/messages.h"

#include "child.h"
#include "loaded_library.h"
#include "paths.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <malloc.h>
#include <string>
#include <vector>

#ifdef VULMORA_SANITIZED
// The sanitizer runtime's count of the bytes its allocator has handed out.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

using namespace vtest;
using Entry = double (*)(int);
constexpr int kNodes = 12;
constexpr int kSentinel = -7;

class Examples : public ::testing::Test {
  protected:
    void SetUp() override {
        for (int n = 0; n < kNodes; ++n) {
            x_[n] = 2.0 * (n % 3), y_[n] = 2.0 * (n / 3 % 2), z_[n] = 2.0 * (n / 6);
            t1_[n] = 523.0F, fs1_[n] = 1.0F, vfs1_[n] = 0.0F;
        }
        const int x0[4] = {0, 3, 6, 9}; // nodes with x = 0 of each y-z corner
        for (int k = 0; k < 4; ++k)
            for (int e = 0; e < 2; ++e)
                conn_[e][k] = x0[k] + e, conn_[e][k + 4] = x0[k] + e + 1;
        rows_[0] = conn_[0], rows_[1] = conn_[1];
        model_ = mikral_model_create(kNodes, 2, 1);
        setMicro(0.055, 30.0); // the nominal alloy

        var<int>("nnod") = kNodes, var<int>("nel") = 2, var<int>("TWO_D") = 0;
        var<double *>("x_cord") = x_, var<double *>("y_cord") = y_, var<double *>("z_cord") = z_;
        var<int *>("el_type") = types_, var<int *>("mat_id") = mats_, var<int **>("ncon") = rows_;
        var<float *>("t1") = t1_, var<float *>("fs1") = fs1_, var<float *>("vf_s1") = vfs1_;
        var<void *>("micModelsA") = model_, var<int *>("mic_lastp") = lastp_.data();
        for (const char *u : {"user_unit_temp", "user_unit_coor", "user_unit_heatflux",
                              "user_unit_heattransfercoeff"})
            var<int>(u) = 2; // K is 1; the others' CGS unit is 2
        var<int>("user_unit_temp") = 1;
        var<int>("location") = 1;
    }
    void TearDown() override { mikral_model_destroy(model_); }

    template <class T> T &var(const char *name) { return lib_.var<T>(name); }
    void setMicro(double silicon, double sdas) {
        for (int n = 0; n < kNodes; ++n)
            mikral_model_set_constituent(model_, 1, n, silicon),
                mikral_model_set_auxiliary(model_, 0, n, sdas);
    }
    // Evaluate entry point `name` at 1-based `node` as the host does.
    double call(const std::string &name, int node) {
        var<int>("cur_node") = node - 1;
        return lib_.fn<Entry>(("func_" + name).c_str())(node);
    }

    LoadedLibrary lib_{envOr("VULMORA_EXAMPLES_LIB", VULMORA_EXAMPLES_LIB)};
    double x_[kNodes], y_[kNodes], z_[kNodes];
    float t1_[kNodes], fs1_[kNodes], vfs1_[kNodes];
    int types_[2] = {1, 1}, mats_[2] = {0, 1}, conn_[2][8] = {}, *rows_[2] = {};
    std::vector<int> lastp_ = std::vector<int>(256, kSentinel);
    MikralModel *model_ = nullptr;
};

// The converters' factors of unit 1 (SI) for heat flux and heat-transfer coefficient.
constexpr double kSiFactor = 2.3885e-05;

TEST_F(Examples, DensityMixesSolidAndLiquidInAnyTemperatureUnit) {
    struct Row {
        float kelvin, fs;
        double rho;
    } rows[] = {
        {293.0F, 1.0F, 2.68},                // solid at room temperature
        {888.0F, 0.0F, 2.39},                // liquid at the liquidus
        {850.0F, 0.4F, 2.463368},            // 0.4 * 2.55746 + 0.6 * 2.40064
        {293.0F, 1.2F, 2.68},                // an overshooting solid fraction counts as 1
        {900.0F, -0.1F, 2.39 - 2.8e-4 * 12}, // ... a negative one as 0
    };
    for (const Row &r : rows)
        for (int unit : {1, 2, 3, 4}) { // K, C, F, R: the same physical density
            var<int>("user_unit_temp") = unit;
            t1_[0] = r.kelvin, fs1_[0] = r.fs;
            EXPECT_NEAR(call("density", 1), r.rho, 1e-9) << r.kelvin << " K, unit " << unit;
        }
}

// ----------------------------------------------------------------------
// Mechanical properties in the stress analysis' modes
// ----------------------------------------------------------------------

TEST_F(Examples, MechanicalPropertiesReadTheModesValues) {
    // Node 5 at 523 K: E 63 GPa and yield 85 MPa, halfway in the tables.
    mikral_model_set_constituent(model_, 1, 4, 0.08);
    vfs1_[4] = 0.02F;
    var<double[200]>("loc_micro")[6] = 0.03; // slot 6 of the silicon
    var<double>("loc_poro") = 0.05;
    struct Mode {
        const char *what;
        int location;
        double silicon, porosity;
    } modes[] = {
        {"neutral", 0, 1.0, 1.0},
        {"nodal", 1, 0.08, static_cast<double>(0.02F)},
        {"local", 2, 0.03, 0.05},
        {"registration", -1, 1.0, 1.0},
    };
    for (const Mode &m : modes) {
        var<int>("location") = m.location;
        lastp_[4] = 6;
        double e = 63e10 * (1.0 + 1.3 * (m.silicon - 0.055)) * std::exp(-4.0 * m.porosity);
        double s = 85e7 * (1.0 + 5.0 * (m.silicon - 0.055)) * std::exp(-5.0 * m.porosity);
        EXPECT_NEAR(call("youngsmodulus", 5), e, 1e-12 * e) << m.what;
        EXPECT_NEAR(call("yieldstress", 5), s, 1e-12 * s) << m.what;
    }
}

TEST_F(Examples, StrengthFallsWithTemperatureAndPorosityAndRisesWithSilicon) {
    EXPECT_DOUBLE_EQ(call("youngsmodulus", 1), 63e10); // nominal, sound
    double e = 0, s = 0;
    for (float t = 300.0F; t < 880.0F; t += 20.0F) {
        t1_[0] = t;
        double e1 = call("youngsmodulus", 1), s1 = call("yieldstress", 1);
        if (t > 300.0F) {
            EXPECT_TRUE(e1 < e && s1 < s) << t << " K";
        }
        e = e1, s = s1;
    }
    EXPECT_DOUBLE_EQ(s, 5e7 + (0.5e7 - 5e7) * 27.0 / 55.0); // 860 K, mushy
    vfs1_[1] = -0.05F;                                      // a negative porosity is sound material
    EXPECT_DOUBLE_EQ(call("yieldstress", 2), 85e7);
    vfs1_[1] = 0.01F;
    EXPECT_LT(call("yieldstress", 2), 85e7);
    setMicro(0.08, 30.0);
    EXPECT_GT(call("yieldstress", 3), 85e7);
}

TEST_F(Examples, RegistrationMarksExactlyWhatEachPropertyReads) {
    var<int>("location") = -1;
    struct Row {
        const char *name;
        std::vector<int> marked; // POROS1 2, silicon 3 + 1, arm spacing 103 + 0
    } rows[] = {{"youngsmodulus", {2, 4}},
                {"yieldstress", {2, 4}},
                {"thermalexpansion", {4}},
                {"mechprop1", {2, 103}}};
    for (const Row &r : rows) {
        lastp_.assign(256, kSentinel);
        EXPECT_TRUE(std::isfinite(call(r.name, 3))) << r.name;
        std::vector<int> marked;
        for (int k = 0; k < 256; ++k)
            if (lastp_[static_cast<size_t>(k)] != kSentinel) marked.push_back(k);
        for (int k : marked)
            EXPECT_EQ(lastp_[static_cast<size_t>(k)], 1) << r.name;
        EXPECT_EQ(marked, r.marked) << r.name;
    }
}

TEST_F(Examples, TemperaturePropertiesNeedTheHostsTemperatureTable) {
    var<double>("func_temp") = -9999.0;
    for (const char *name : {"youngsmodulus", "yieldstress", "thermalexpansion"})
        EXPECT_TRUE(stoppedWith(runInChild([&] { call(name, 1); }), VULMORA_MSG_TEMP_TABLE))
            << name;
    ChildResult r = runInChild([&] { call("mechprop1", 1); });
    EXPECT_TRUE(r.exited && r.status == 0 && r.out.empty()) << r.out;
}

TEST_F(Examples, ThermalExpansionMixesAluminiumAndSiliconUpToTheSolidus) {
    struct Row {
        float kelvin;
        double silicon, alpha;
    } rows[] = {{293.0F, 0.0, 23.5e-6},
                {293.0F, 1.0, 3.0e-6},
                {793.0F, 0.1, 0.1 * 4.5e-6 + 0.9 * 28.5e-6},
                {900.0F, 0.0, 28.9e-6}}; // held at its solidus value
    for (const Row &r : rows) {
        t1_[0] = r.kelvin;
        setMicro(r.silicon, 30.0);
        EXPECT_NEAR(call("thermalexpansion", 1), r.alpha, 1e-15) << r.kelvin;
    }
}

TEST_F(Examples, ElongationNamesItselfAndFollowsArmSpacingAndPorosity) {
    struct Row {
        double sdas;
        float porosity;
        double elongation;
    } rows[] = {{30.0, 0.0F, 6.0},
                {120.0, 0.0F, 3.0},
                {7.5, 0.0F, 12.0},
                {0.0, 0.0F, 6.0 * std::sqrt(6.0)}, // spacing floored at 5 um
                {30.0, 0.01F, 6.0 * std::exp(-40.0 * static_cast<double>(0.01F))}};
    for (const Row &r : rows) {
        setMicro(0.055, r.sdas), vfs1_[0] = r.porosity;
        EXPECT_NEAR(call("mechprop1", 1), r.elongation, 1e-12) << r.sdas;
    }
    EXPECT_STREQ(var<char[5][101]>("name_mechprop")[0], "elongation");
    EXPECT_STREQ(var<char[5][21]>("unit_mechprop")[0], "%");
    var<int>("location") = 2; // local: spacing in the second half of loc_micro
    lastp_[103] = 3, var<double[200]>("loc_micro")[103] = 120.0, var<double>("loc_poro") = 0.0;
    EXPECT_NEAR(call("mechprop1", 1), 3.0, 1e-12);
}

TEST_F(Examples, NaNTemperatureReachesTheHost) {
    t1_[0] = NAN;
    for (const char *name : {"density", "youngsmodulus", "yieldstress", "interhtransfer"})
        EXPECT_TRUE(std::isnan(call(name, 1))) << name;
}

// ----------------------------------------------------------------------
// Boundary conditions
// ----------------------------------------------------------------------

TEST_F(Examples, InterfaceHeatTransferFallsWithSolidificationAndTheGap) {
    struct Row {
        float fs, kelvin;
        double h; // cal/(s cm^2 K)
    } rows[] = {
        {0.0F, 900.0F, 0.048},
        {0.5F, 850.0F, 0.048 * 6.0 / 7.0}, // 2/7 of the way from coherency to solid
        {1.0F, 833.0F, 0.024},
        {1.0F, 533.0F, 1.0 / (1.0 / 0.024 + 0.0345 / 1.1e-4)}, // 0.345 mm gap
    };
    const double factors[] = {kSiFactor, 1.0, 100.0, 0.48825};
    for (const Row &r : rows)
        for (int unit = 1; unit <= 4; ++unit) {
            var<int>("user_unit_heattransfercoeff") = unit;
            fs1_[0] = r.fs, t1_[0] = r.kelvin;
            double h = r.h / factors[unit - 1];
            EXPECT_NEAR(call("interhtransfer", 1), h, 1e-9 * h) << r.fs << ", unit " << unit;
        }
}

TEST_F(Examples, ChillFluxFadesWithDistanceFromTheNearestMouldNode) {
    // The mould node nearest to the origin is node 2 at (2, 0, 0) cm.
    struct Row {
        int node;
        double flux; // cal/(s cm^2)
    } rows[] = {{2, -2.0}, {1, -2.0 * std::exp(-4.0 / 9.0)}, {12, -2.0 * std::exp(-12.0 / 9.0)}};
    for (int coor : {2, 3, 5}) // cm, mm, in
        for (int unit : {1, 2}) {
            var<int>("user_unit_coor") = coor, var<int>("user_unit_heatflux") = unit;
            for (const Row &r : rows) {
                double q = unit == 1 ? r.flux / kSiFactor : r.flux;
                EXPECT_NEAR(call("heatflux", r.node), q, 1e-12 * std::fabs(q))
                    << "node " << r.node << ", length unit " << coor;
            }
        }
}

TEST_F(Examples, WithoutAMouldThereIsNoChill) {
    mats_[1] = 0;
    ChildResult r = runInChild([&] {
        double q = call("heatflux", 1);
        std::fflush(stdout);
        std::_Exit(q == 0.0 ? 0 : 3);
    });
    EXPECT_TRUE(r.exited && r.status == 0);
    EXPECT_EQ(r.out, VULMORA_MSG_NODNUM);
}

// func_heatflux keeps a search index in the library: it takes memory on
// the first call and gives it back when the host unloads the library.
TEST(ExamplesLibrary, SearchIndexIsFreedWhenUnloaded) {
    constexpr int kMany = 40000; // a mould of 20 000 two-node elements
    std::vector<double> x(kMany), y(kMany), z(kMany);
    for (int n = 0; n < kMany; ++n)
        x[n] = n % 200, y[n] = n / 200, z[n] = 1.0;
    std::vector<int> types(kMany / 2, 9), mats(kMany / 2, 1), conn(kMany);
    std::vector<int *> rows(kMany / 2);
    for (int e = 0; e < kMany / 2; ++e)
        conn[2 * e] = 2 * e, conn[2 * e + 1] = 2 * e + 1, rows[e] = &conn[2 * e];
    // Bytes allocated: from the heap, and mapped (large blocks); under the
    // sanitizers, by their allocator.
    const auto inUse = []() -> size_t {
#ifdef VULMORA_SANITIZED
        return __sanitizer_get_current_allocated_bytes();
#else
        struct mallinfo2 m = mallinfo2();
        return m.uordblks + m.hblkhd;
#endif
    };
    const size_t before = inUse();
    size_t during = 0;
    double flux = 0.0;
    {
        LoadedLibrary lib(envOr("VULMORA_EXAMPLES_LIB", VULMORA_EXAMPLES_LIB));
        lib.var<int>("nnod") = kMany, lib.var<int>("nel") = kMany / 2;
        lib.var<double *>("x_cord") = x.data(), lib.var<double *>("y_cord") = y.data();
        lib.var<double *>("z_cord") = z.data();
        lib.var<int *>("el_type") = types.data(), lib.var<int *>("mat_id") = mats.data();
        lib.var<int **>("ncon") = rows.data();
        lib.var<int>("user_unit_coor") = 2, lib.var<int>("user_unit_heatflux") = 2;
        for (int node = 1; node <= 3; ++node)
            flux += lib.fn<Entry>("func_heatflux")(node);
        during = inUse();
    }
    const size_t after = inUse();
    // Node 1 at (0, 0, 1) is the chill's own node (the nearest to the
    // origin); nodes 2 and 3 lie 1 and 2 cm beside it.
    EXPECT_NEAR(flux, -2.0 * (1.0 + std::exp(-1.0 / 9.0) + std::exp(-4.0 / 9.0)), 1e-12);
    EXPECT_GT(during, before + 24 * kMany); // the index holds every mould node
    EXPECT_LT(after, before + 4096) << "held " << after - before << " bytes after unloading";
}

} // namespace

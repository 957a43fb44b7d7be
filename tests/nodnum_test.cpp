// nodnum_test.cpp - the nearest-node search.
//
// The fast all-nodes scan is compared with a plain in-order sweep on random
// point sets full of ties, NaN and infinities; the material search with a
// plain reference on random connectivity with shared and bad entries. The
// fixed cases pin the tie rules, units, 2-D handling and the non-fatal
// "not found" path.

#include "exchange/exchange.h"
#include "getVar.h"
#include "accessors/nodscan.h"
#include "runtime/messages.h"

#include "child.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kUntouched = -12345.5;

void resetBlock() {
    nnod = nel = TWO_D = 0;
    user_unit_coor = 0;
    x_cord = y_cord = z_cord = nullptr;
    el_type = mat_id = nullptr;
    ncon = nullptr;
}

// A mesh owned by the test, installed into the exchange block.
struct Mesh {
    std::vector<double> x, y, z;
    std::vector<int> types, mats;
    std::vector<std::vector<int>> lists;
    std::vector<int *> conn;

    void addNode(double nx, double ny, double nz) {
        x.push_back(nx), y.push_back(ny), z.push_back(nz);
    }
    // An element of 0-based material `mat` and type `type` whose node list
    // holds exactly the given 0-based indices.
    void addElement(int mat, int type, std::vector<int> nodes) {
        mats.push_back(mat), types.push_back(type), lists.push_back(std::move(nodes));
    }
    void install() {
        conn.clear();
        for (auto &l : lists)
            conn.push_back(l.empty() ? nullptr : l.data());
        nnod = static_cast<int>(x.size());
        nel = static_cast<int>(types.size());
        x_cord = x.data(), y_cord = y.data(), z_cord = z.data();
        el_type = types.data(), mat_id = mats.data(), ncon = conn.data();
    }
};

class NodNum : public ::testing::Test {
  protected:
    void SetUp() override {
        resetBlock();
        user_unit_coor = 2; // centimetres
    }
    void TearDown() override { resetBlock(); }
};

// Result of one call: the number and the three outputs.
struct Found {
    int node;
    double x, y, z;
};

Found call(double x, double y, double z, int material) {
    Found f{0, kUntouched, kUntouched, kUntouched};
    f.node = nodNum(x, y, z, material, &f.x, &f.y, &f.z);
    return f;
}

// ---- reference searches ---------------------------------------------------------

double dist(const Mesh &m, size_t n, double X, double Y, double Z, bool twoD) {
    double d = (m.x[n] - X) * (m.x[n] - X) + (m.y[n] - Y) * (m.y[n] - Y);
    if (!twoD) d = d + (m.z[n] - Z) * (m.z[n] - Z);
    return d;
}

// Plain in-order sweep, strict comparison.
int sweepAll(const Mesh &m, double X, double Y, double Z, bool twoD) {
    double best = DBL_MAX;
    int result = 0;
    for (size_t n = 0; n < m.x.size(); ++n) {
        double d = dist(m, n, X, Y, Z, twoD);
        if (d < best) best = d, result = static_cast<int>(n) + 1;
    }
    return result;
}

// Element order, then list order; each valid node once; d <= best.
int sweepMaterial(const Mesh &m, int material, double X, double Y, double Z, bool twoD) {
    static const int kNodes[12] = {0, 8, 4, 6, 8, 6, 4, 3, 4, 2, 10, 12};
    std::vector<bool> seen(m.x.size());
    double best = DBL_MAX;
    int result = 0;
    for (size_t i = 0; i < m.types.size(); ++i) {
        if (static_cast<long long>(m.mats[i]) + 1 != material) continue;
        int t = m.types[i];
        int c = t >= 0 && t < 12 ? kNodes[t] : 0;
        for (int j = 0; j < c && j < static_cast<int>(m.lists[i].size()); ++j) {
            int n = m.lists[i][static_cast<size_t>(j)];
            if (n < 0 || n >= static_cast<int>(m.x.size()) || seen[static_cast<size_t>(n)])
                continue;
            double d = dist(m, static_cast<size_t>(n), X, Y, Z, twoD);
            if (d <= best) best = d, result = n + 1;
            seen[static_cast<size_t>(n)] = true;
        }
    }
    return result;
}

std::string repeated(const char *text, int times) {
    std::string s;
    for (int k = 0; k < times; ++k)
        s += text;
    return s;
}

// A coordinate from a small set, so that ties are common, with NaN,
// infinities and a value whose square overflows.
double pick(std::mt19937 &rng) {
    static const double kValues[] = {0.0, 1.0, -1.0, 2.0,  0.5,  3.0,   -2.0,
                                     1.0, 0.0, -1.0, kNaN, kInf, -kInf, 1e200};
    std::uniform_int_distribution<size_t> k(0, std::size(kValues) - 1);
    return kValues[k(rng)];
}

// ---- property tests ------------------------------------------------------------------

// One round of the property test below, with the form in use.
void allNodesAgainstSweep() {
    std::mt19937 rng(7);
    const int sizes[] = {0, 1, 2, 3, 5, 8, 255, 256, 257, 511, 513, 1030};
    int misses = 0;
    std::string printed = vtest::captureStdout([&] {
        for (int size : sizes) {
            for (int trial = 0; trial < 40; ++trial) {
                Mesh m;
                double X = trial % 7 == 0 ? kNaN : pick(rng) * 0.5, Y = pick(rng) * 0.5,
                       Z = pick(rng);
                if (trial % 2 == 0) {
                    for (int n = 0; n < size; ++n)
                        m.addNode(pick(rng), pick(rng), pick(rng));
                } else {
                    // Permutations of one random triple seen from (q, q, q):
                    // equal distances in exact arithmetic, told apart only
                    // by the rounding of the addition order.
                    std::uniform_real_distribution<double> real(-3.0, 3.0);
                    double c[3] = {real(rng), real(rng), real(rng)};
                    X = Y = Z = real(rng);
                    for (int n = 0; n < size; ++n) {
                        std::shuffle(std::begin(c), std::end(c), rng);
                        m.addNode(c[0], c[1], c[2]);
                    }
                }
                m.install();
                TWO_D = trial % 3 == 0;
                if (TWO_D && trial % 2 == 0) z_cord = nullptr; // 2-D needs no z
                int want = sweepAll(m, X, Y, Z, TWO_D != 0);
                Found got = call(X, Y, Z, 0);
                ASSERT_EQ(got.node, want) << "size " << size << " trial " << trial;
                if (want == 0) {
                    ++misses;
                    ASSERT_EQ(got.x, kUntouched);
                } else {
                    size_t n = static_cast<size_t>(want - 1);
                    ASSERT_EQ(got.x, m.x[n]);
                    ASSERT_EQ(got.y, m.y[n]);
                    ASSERT_EQ(got.z, TWO_D ? kUntouched : m.z[n]);
                }
            }
        }
    });
    EXPECT_GT(misses, 0); // the sets do include all-NaN/infinite cases
    EXPECT_EQ(printed, repeated(VULMORA_MSG_NODNUM, misses));
}

// The blockwise scan, in each form this processor runs, finds exactly the
// node of a plain sweep, across block boundaries, in 2-D and 3-D, and
// prints the message exactly when that sweep finds nothing.
TEST_F(NodNum, AllNodesScanMatchesPlainSweep) {
    int forms = 0;
    for (vulmora::NodeScan form :
         {vulmora::NodeScan::Scalar, vulmora::NodeScan::Sse2, vulmora::NodeScan::Avx2}) {
        if (!vulmora::nodeScanAvailable(form)) continue;
        ++forms;
        vulmora::nodeScanUse(form);
        SCOPED_TRACE("form " + std::to_string(static_cast<int>(form)));
        allNodesAgainstSweep();
    }
    vulmora::nodeScanUse(vulmora::NodeScan::Widest);
    EXPECT_GE(forms, 1);
}

// Random connectivity with shared nodes, entries outside 0..nnod-1, unknown
// type codes and lists exactly as long as their type: same node as the
// reference, and nothing read or written out of bounds (AddressSanitizer).
TEST_F(NodNum, MaterialSearchMatchesReference) {
    static const int kNodes[12] = {0, 8, 4, 6, 8, 6, 4, 3, 4, 2, 10, 12};
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> type(-1, 12), mat(-1, 3);
    vtest::captureStdout([&] {
        for (int trial = 0; trial < 300; ++trial) {
            Mesh m;
            int size = 1 + trial % 40;
            for (int n = 0; n < size; ++n)
                m.addNode(pick(rng), pick(rng), pick(rng));
            std::uniform_int_distribution<int> node(-2, size + 1);
            for (int e = 0; e < 1 + trial % 12; ++e) {
                int t = type(rng);
                std::vector<int> list(static_cast<size_t>(t >= 0 && t < 12 ? kNodes[t] : 0));
                for (int &n : list)
                    n = node(rng);
                m.addElement(mat(rng), t, list);
            }
            m.install();
            TWO_D = trial % 4 == 0;
            int material = mat(rng) + 1;
            if (material == 0) material = 1;
            double X = pick(rng) * 0.5, Y = pick(rng) * 0.5, Z = pick(rng) * 0.5;
            int want = sweepMaterial(m, material, X, Y, Z, TWO_D != 0);
            ASSERT_EQ(call(X, Y, Z, material).node, want) << "trial " << trial;
        }
    });
}

// ---- tie rules --------------------------------------------------------------------------

// Nodes 1..3 at the same distance from the origin, node 4 farther off.
class Ties : public NodNum {
  protected:
    void SetUp() override {
        NodNum::SetUp();
        m.addNode(1, 0, 0);
        m.addNode(0, 1, 0);
        m.addNode(0, 0, -1);
        m.addNode(5, 5, 5);
    }
    Mesh m;
};

TEST_F(Ties, AllNodesKeepLowestMaterialKeepsLastExamined) {
    const struct {
        const char *what;
        std::vector<std::vector<int>> elements; // node lists of type-9 or type-7 elements
        int material, want;
    } cases[] = {
        {"all nodes", {{3, 2, 1}}, 0, 1},
        {"one element, list order", {{3, 0, 1}}, 1, 2},
        {"later element wins", {{1, 3, 2}, {0, 3, 3}}, 1, 1},
        {"shared node examined once", {{0, 1, 3}, {0, 3, 3}}, 1, 2},
    };
    for (const auto &c : cases) {
        m.types.clear(), m.mats.clear(), m.lists.clear();
        for (const auto &l : c.elements)
            m.addElement(0, 7, l);
        m.install();
        EXPECT_EQ(call(0, 0, 0, c.material).node, c.want) << c.what;
    }
}

// A point on top of coincident nodes 2 and 3: all nodes give the lower
// number, the material search the one examined last (its repeat in the
// second element changes nothing).
TEST_F(Ties, CoincidentNodes) {
    m.x[2] = 0, m.y[2] = 1, m.z[2] = 0; // node 3 now at node 2's place
    m.addElement(0, 9, {1, 2});
    m.addElement(0, 9, {2, 1});
    m.install();
    EXPECT_EQ(call(0, 1, 0, 0).node, 2);
    EXPECT_EQ(call(0, 1, 0, 1).node, 3);
    Found exact = call(5, 5, 5, 0);
    EXPECT_EQ(exact.node, 4);
    EXPECT_EQ(exact.z, 5.0);
}

// ---- units and dimensions ------------------------------------------------------------

TEST_F(NodNum, PointAndResultInUserLengthUnit) {
    Mesh m;
    m.addNode(2.0, 0.0, 0.0);
    m.addNode(2.5, 0.0, 0.0);
    m.addElement(0, 9, {0, 1});
    m.install();
    const struct {
        int unit;
        double x; // the point, in that unit: 2.26 cm
        int want;
        double outX;
    } cases[] = {{2, 2.26, 2, 2.5},
                 {3, 22.6, 2, 25.0},
                 {1, 0.0226, 2, 0.025},
                 {5, 2.26 / 2.54, 2, 2.5 / 2.54}};
    for (const auto &c : cases) {
        user_unit_coor = c.unit;
        for (int material : {0, 1}) {
            Found f = call(c.x, 0.0, 0.0, material);
            EXPECT_EQ(f.node, c.want) << "unit " << c.unit;
            EXPECT_NEAR(f.x, c.outX, 1e-12) << "unit " << c.unit;
            EXPECT_EQ(f.y, 0.0);
        }
    }
    user_unit_coor = 3; // nearer node 1 now: 2.24 cm
    EXPECT_EQ(call(22.4, 0, 0, 0).x, 20.0);
}

// In 2-D neither the z passed in nor z_cord counts, z_cord may be null and
// the z output is never written, also when it is null.
TEST_F(NodNum, TwoDimensionalIgnoresZ) {
    Mesh m;
    m.addNode(0, 0, 1e9);
    m.addNode(1, 1, 0);
    m.addElement(0, 9, {0, 1});
    m.install();
    z_cord = nullptr;
    TWO_D = 1;
    for (int material : {0, 1}) {
        double xo = kUntouched, yo = kUntouched;
        EXPECT_EQ(nodNum(0.9, 0.9, kNaN, material, &xo, &yo, nullptr), 2);
        EXPECT_EQ(xo, 1.0);
        EXPECT_EQ(yo, 1.0);
        Found f = call(0.1, 0.0, 1e9, material);
        EXPECT_EQ(f.node, 1);
        EXPECT_EQ(f.z, kUntouched);
    }
}

// ---- nothing found --------------------------------------------------------------------

// Each case prints the message (no newline), returns 0 and leaves the
// outputs alone; the process goes on.
TEST_F(NodNum, NothingFoundIsReportedAndHarmless) {
    const auto node = [](Mesh &m) { m.addNode(0, 0, 0); };
    const auto element = [](Mesh &m) { m.addNode(0, 0, 0), m.addElement(0, 9, {0, 0}); };
    const auto none = [] {};
    const struct {
        const char *what;
        std::function<void(Mesh &)> build;
        std::function<void()> spoil; // applied to the installed block
        int material;
    } cases[] = {
        {"no nodes", [](Mesh &) {}, none, 0},
        {"no nodes, material search", [](Mesh &) {}, none, 1},
        {"no nodes but elements", element, [] { nnod = 0; }, 1},
        {"material absent", element, none, 2},
        {"negative material", element, none, -1},
        {"extreme material numbers",
         [](Mesh &m) {
             m.addNode(0, 0, 0), m.addElement(INT_MAX, 9, {0, 0});
         },
         none, INT_MIN},
        {"only NaN distances", [](Mesh &m) { m.addNode(kNaN, 0, 0), m.addNode(0, kNaN, 0); }, none,
         0},
        {"only infinite distances", [](Mesh &m) { m.addNode(kInf, 0, 0), m.addNode(1e300, 0, 0); },
         none, 0},
        {"only NaN in the material",
         [](Mesh &m) {
             m.addNode(0, 0, kNaN), m.addElement(0, 9, {0, 0});
         },
         none, 1},
        {"type without nodes", [](Mesh &m) { m.addNode(0, 0, 0), m.addElement(0, 0, {}); }, none,
         1},
        {"unknown type", [](Mesh &m) { m.addNode(0, 0, 0), m.addElement(0, 42, {}); }, none, 1},
        {"entries outside the nodes",
         [](Mesh &m) {
             m.addNode(0, 0, 0), m.addElement(0, 7, {-1, 1, INT_MAX});
         },
         none, 1},
        {"no x coordinates", node, [] { x_cord = nullptr; }, 0},
        {"no y coordinates", element, [] { y_cord = nullptr; }, 1},
        {"no z coordinates in 3-D", node, [] { z_cord = nullptr; }, 0},
        {"no material data", element, [] { mat_id = nullptr; }, 1},
        {"no element types", element, [] { el_type = nullptr; }, 1},
        {"no connectivity", element, [] { ncon = nullptr; }, 1},
        {"no node list", element, [] { ncon[0] = nullptr; }, 1},
    };
    for (const auto &c : cases) {
        Mesh m;
        c.build(m);
        m.install();
        auto r = vtest::runInChild([&] {
            c.spoil();
            Found f = call(0, 0, 0, c.material);
            bool untouched = f.x == kUntouched && f.y == kUntouched && f.z == kUntouched;
            std::fflush(stdout);
            _exit(f.node == 0 && untouched ? 0 : 2);
        });
        EXPECT_TRUE(r.exited) << c.what;
        EXPECT_EQ(r.status, 0) << c.what;
        EXPECT_EQ(r.out, VULMORA_MSG_NODNUM) << c.what;
    }
    // The same mesh unspoilt does find its node: the cases above fail for
    // the reason they name.
    Mesh m;
    element(m);
    m.install();
    EXPECT_EQ(call(0, 0, 0, 1).node, 1);
}

} // namespace

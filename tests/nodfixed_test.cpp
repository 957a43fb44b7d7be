// nodfixed_test.cpp - nodNumFixed against nodNum.
//
// Every call is made to both accessors and must give the same node, the
// same bits in the three outputs and the same bytes on stdout. Random
// meshes are full of exact ties (coordinates on a coarse lattice),
// coincident nodes, NaN and infinite coordinates and bad connectivity; the
// points include nodes themselves, repeats, NaN and infinities. Then the
// index's life: rebuilt on every visible change, not on a repeated point,
// and answered by the scan when memory runs out.

#include "accessors/nodfixed.h"
#include "exchange/exchange.h"
#include "getVar.h"
#include "runtime/messages.h"

#include <gtest/gtest.h>

#include "child.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
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

// A mesh owned by the test, installed into the exchange block.
struct Mesh {
    std::vector<double> x, y, z;
    std::vector<int> types, mats;
    std::vector<std::vector<int>> lists;
    std::vector<int *> conn;

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

void resetBlock() {
    nnod = nel = TWO_D = 0;
    user_unit_coor = 2;
    x_cord = y_cord = z_cord = nullptr;
    el_type = mat_id = nullptr;
    ncon = nullptr;
}

// One call's node, outputs (as bits) and printed bytes.
struct Answer {
    int node;
    std::uint64_t out[3];
    std::string printed;
    bool operator==(const Answer &o) const {
        return node == o.node && std::memcmp(out, o.out, sizeof out) == 0 && printed == o.printed;
    }
};

using Search = int (*)(double, double, double, int, double *, double *, double *);

Answer ask(Search fn, double x, double y, double z, int material) {
    Answer a{};
    double out[3] = {kUntouched, kUntouched, kUntouched};
    a.printed = vtest::captureStdout([&] {
        // In 2-D the z output may be null and is never written.
        a.node = fn(x, y, z, material, &out[0], &out[1], TWO_D ? nullptr : &out[2]);
    });
    std::memcpy(a.out, out, sizeof out);
    return a;
}

// nodNumFixed answers exactly as nodNum; a readable failure otherwise.
::testing::AssertionResult same(double x, double y, double z, int material) {
    Answer want = ask(nodNum, x, y, z, material), got = ask(nodNumFixed, x, y, z, material);
    if (got == want) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "point (" << x << ", " << y << ", " << z << ") material " << material << ": nodNum "
           << want.node << " '" << want.printed << "', nodNumFixed " << got.node << " '"
           << got.printed << "'";
}

class NodFixed : public ::testing::Test {
  protected:
    void SetUp() override {
        resetBlock();
        vulmora::nodFixedRelease();
        vulmora::nodFixedMemoryLimit(SIZE_MAX);
    }
    void TearDown() override {
        resetBlock();
        vulmora::nodFixedRelease();
        vulmora::nodFixedMemoryLimit(SIZE_MAX);
    }
};

// ---- random meshes --------------------------------------------------------------------

// A coordinate on a coarse lattice (ties everywhere), now and then NaN, an
// infinity or a value whose square overflows.
double latticeValue(std::mt19937 &rng, int spread) {
    std::uniform_int_distribution<int> k(-spread, spread), rare(0, 60);
    switch (rare(rng)) {
    case 0:
        return kNaN;
    case 1:
        return kInf;
    case 2:
        return -kInf;
    case 3:
        return 1e200;
    default:
        return 0.5 * k(rng);
    }
}

// `nodes` nodes, some of them copies of earlier ones, and `elements`
// elements of random types (also unknown ones) and materials -1..3 whose
// lists hold shared nodes and entries outside 0..nodes-1.
Mesh randomMesh(std::mt19937 &rng, int nodes, int elements, int spread) {
    static const int kNodes[12] = {0, 8, 4, 6, 8, 6, 4, 3, 4, 2, 10, 12};
    Mesh m;
    std::uniform_int_distribution<int> copy(0, 9), type(-1, 12), mat(-1, 3);
    for (int n = 0; n < nodes; ++n) {
        if (n > 0 && copy(rng) == 0) {
            std::uniform_int_distribution<int> earlier(0, n - 1);
            size_t e = static_cast<size_t>(earlier(rng));
            m.x.push_back(m.x[e]), m.y.push_back(m.y[e]), m.z.push_back(m.z[e]);
        } else {
            m.x.push_back(latticeValue(rng, spread)), m.y.push_back(latticeValue(rng, spread)),
                m.z.push_back(latticeValue(rng, spread));
        }
    }
    std::uniform_int_distribution<int> node(-2, nodes + 1);
    for (int e = 0; e < elements; ++e) {
        int t = type(rng);
        m.types.push_back(t), m.mats.push_back(mat(rng));
        std::vector<int> list(static_cast<size_t>(t >= 0 && t < 12 ? kNodes[t] : 0));
        for (int &n : list)
            n = node(rng);
        m.lists.push_back(list);
    }
    return m;
}

// A query point: a lattice point (on the mesh's ties), a node itself, or
// now and then a NaN or infinite coordinate.
void randomPoint(std::mt19937 &rng, const Mesh &m, int spread, double p[3]) {
    std::uniform_int_distribution<int> kind(0, 9);
    int k = kind(rng);
    if (k < 3 && !m.x.empty()) {
        std::uniform_int_distribution<size_t> n(0, m.x.size() - 1);
        size_t i = n(rng);
        p[0] = m.x[i], p[1] = m.y[i], p[2] = m.z[i];
        return;
    }
    std::uniform_int_distribution<int> c(-spread - 2, spread + 2);
    for (int a = 0; a < 3; ++a)
        p[a] = 0.25 * c(rng);
    if (k == 9) p[kind(rng) % 3] = kind(rng) < 5 ? kNaN : -kInf;
}

// Every mesh size around the leaf size and tree depths, 2-D and 3-D, every
// length unit (also ones outside the table), all nodes and materials -1..4,
// with repeated points.
TEST_F(NodFixed, MatchesNodNumOnRandomMeshes) {
    std::mt19937 rng(2024);
    const int sizes[] = {1, 2, 7, 8, 9, 16, 17, 40, 100, 333, 1000, 3000};
    const int units[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, -1};
    int trial = 0, found = 0, missed = 0;
    for (int size : sizes)
        for (int rep = 0; rep < 6; ++rep, ++trial) {
            int spread = 1 + size / 40 + rep; // small spreads: many coincident nodes
            Mesh m = randomMesh(rng, size, 1 + size / 2, spread);
            m.install();
            TWO_D = trial % 3 == 0;
            if (TWO_D && trial % 2 == 0) z_cord = nullptr;
            user_unit_coor = units[static_cast<size_t>(trial) % std::size(units)];
            for (int q = 0; q < 60; ++q) {
                double p[3];
                randomPoint(rng, m, spread, p);
                // Points in centimetres, given in the user's unit.
                for (double &c : p)
                    c = fconvertFromCGS(0, c);
                int material = q % 6 - 1;
                for (int again = 0; again < 1 + q % 2; ++again)
                    ASSERT_TRUE(same(p[0], p[1], p[2], material))
                        << "size " << size << " trial " << trial << " unit " << user_unit_coor
                        << (TWO_D ? " 2-D" : " 3-D");
                Answer a = ask(nodNumFixed, p[0], p[1], p[2], material);
                (a.node != 0 ? found : missed) += 1;
            }
            // The next mesh may take these arrays' addresses: a new run.
            vulmora::nodFixedRelease();
        }
    EXPECT_GT(found, 1000);
    EXPECT_GT(missed, 50); // NaN points, absent materials, ...
}

// A structured lattice, every node at integer coordinates: the nodes at
// the same distance from a point half-way between lattice points lie in
// different subtrees, and the lowest (all nodes) or last examined
// (material) of them must win.
TEST_F(NodFixed, LatticeTiesAcrossSubtrees) {
    const int side = 12;
    Mesh m;
    for (int k = 0; k < side; ++k)
        for (int j = 0; j < side; ++j)
            for (int i = 0; i < side; ++i)
                m.x.push_back(i), m.y.push_back(j), m.z.push_back(k);
    // Hexahedra, material 1 in the lower half, 2 above, listed in reverse
    // order so that examination order differs from node order.
    for (int e = (side - 1) * (side - 1) * (side - 1) - 1; e >= 0; --e) {
        int i = e % (side - 1), j = e / (side - 1) % (side - 1), k = e / (side - 1) / (side - 1);
        int b = i + side * (j + side * k);
        m.types.push_back(1), m.mats.push_back(k < side / 2 ? 0 : 1);
        m.lists.push_back({b, b + 1, b + 1 + side, b + side, b + side * side, b + 1 + side * side,
                           b + 1 + side + side * side, b + side + side * side});
    }
    m.install();
    for (int twoD : {0, 1}) {
        TWO_D = twoD;
        for (double px = -1.5; px <= side; px += 0.5)
            for (double py = -0.5; py <= side; py += 1.5)
                for (int material : {0, 1, 2})
                    ASSERT_TRUE(same(px, py, 0.5 * (px + py), material));
    }
}

// ---- the index's life --------------------------------------------------------------------

// Two meshes of the same size: B is A moved by one unit in x.
class Life : public NodFixed {
  protected:
    void SetUp() override {
        NodFixed::SetUp();
        a = Mesh{}, b = Mesh{};
        for (int n = 0; n < 27; ++n) {
            a.x.push_back(n % 3), a.y.push_back(n / 3 % 3), a.z.push_back(n / 9);
            b.x.push_back(n % 3 + 1.0), b.y.push_back(n / 3 % 3), b.z.push_back(n / 9);
        }
        for (Mesh *m : {&a, &b}) {
            m->types = {1, 9}, m->mats = {0, 1};
            m->lists = {{0, 1, 4, 3, 9, 10, 13, 12}, {26, 2}};
        }
        a.install();
    }
    static long long builds() { return vulmora::nodFixedStats().builds; }
    static long long searches() { return vulmora::nodFixedStats().searches; }
    Mesh a, b;
};

TEST_F(Life, RepeatedPointIsNotSearchedAgain) {
    ASSERT_TRUE(same(1.2, 0.1, 0.0, 0));
    long long built = builds(), searched = searches();
    for (int k = 0; k < 3; ++k)
        ASSERT_TRUE(same(1.2, 0.1, 0.0, 0));
    EXPECT_EQ(builds(), built);
    EXPECT_EQ(searches(), searched);
    ASSERT_TRUE(same(1.2, 0.1, 0.5, 0)); // another point is searched
    EXPECT_EQ(searches(), searched + 1);
    EXPECT_EQ(builds(), built);
}

// Each visible change, made after a first call, is seen: the answer
// follows the new state, through a rebuild.
TEST_F(Life, EveryVisibleChangeRebuilds) {
    std::vector<double> xMoved(b.x), yMoved(b.x), zMoved(b.x);
    std::vector<int> matsSwapped = {1, 0}, typesOther = {9, 9};
    std::vector<int> otherList = {26, 25, 24, 23, 22, 21, 20, 19};
    std::vector<int *> connOther;
    const struct {
        const char *what;
        int material;
        std::function<void()> change;
    } cases[] = {
        {"x_cord address", 0, [&] { x_cord = xMoved.data(); }},
        {"y_cord address", 0, [&] { y_cord = yMoved.data(); }},
        {"z_cord address", 0, [&] { z_cord = zMoved.data(); }},
        {"another mesh", 1, [&] { b.install(); }},
        {"fewer nodes", 0, [] { nnod = 5; }},
        {"two-dimensional", 0, [] { TWO_D = 1; }},
        {"length unit", 0, [] { user_unit_coor = 3; }},
        {"fewer elements", 1, [] { nel = 1; }},
        {"mat_id address", 1, [&] { mat_id = matsSwapped.data(); }},
        {"el_type address", 1, [&] { el_type = typesOther.data(); }},
        {"ncon address", 1,
         [&] {
             connOther = {otherList.data(), a.conn[1]};
             ncon = connOther.data();
         }},
    };
    for (const auto &c : cases) {
        SetUp();
        const double point[3] = {2.0, 0.4, 1.6};
        ASSERT_TRUE(same(point[0], point[1], point[2], c.material)) << c.what;
        long long built = builds();
        c.change();
        ASSERT_TRUE(same(point[0], point[1], point[2], c.material)) << c.what;
        EXPECT_EQ(builds(), built + 1) << c.what;
        ASSERT_TRUE(same(point[0], point[1], point[2], c.material)) << c.what;
        EXPECT_EQ(builds(), built + 1) << c.what << ": built again without a change";
    }
}

// All nodes and three materials are kept side by side: switching between
// them does not rebuild; a fifth tree replaces the least recently used one.
TEST_F(Life, SeveralTreesSideBySide) {
    for (int material : {0, 1, 2, -1})
        ASSERT_TRUE(same(0.6, 0.6, 0.6, material));
    long long built = builds();
    for (int round = 0; round < 3; ++round)
        for (int material : {0, 1, 2, -1})
            ASSERT_TRUE(same(0.1 * round, 0.6, 0.6, material));
    EXPECT_EQ(builds(), built);
    ASSERT_TRUE(same(0.6, 0.6, 0.6, 3)); // replaces material 0, used longest ago
    ASSERT_TRUE(same(0.6, 0.6, 0.6, 1));
    EXPECT_EQ(builds(), built + 1);
    ASSERT_TRUE(same(0.6, 0.6, 0.6, 0));
    EXPECT_EQ(builds(), built + 2);
}

// With memory capped at every size from nothing to enough, each call still
// answers as nodNum. Below what a build needs at its peak (the tree, and
// for a material search a byte of marks per node while it is collected)
// the scan answers, the failed build is not retried for the same state and
// nothing stays allocated; from some cap on, the tree is built.
TEST_F(Life, LackOfMemoryFallsBackToTheScan) {
    for (int material : {0, 1}) {
        ASSERT_TRUE(same(1.0, 1.0, 1.0, material));
        std::size_t tree = vulmora::nodFixedStats().held;
        std::size_t peak = tree + (material == 0 ? 0 : 27);
        EXPECT_GE(tree, 8 * sizeof(double) * 3);
        bool built = false;
        for (std::size_t cap = 0; cap <= peak + 16; ++cap) {
            vulmora::nodFixedRelease();
            vulmora::nodFixedMemoryLimit(cap);
            long long fellBack = vulmora::nodFixedStats().fallbacks, before = builds();
            ASSERT_TRUE(same(1.0, 0.2, 1.9, material)) << "cap " << cap;
            ASSERT_TRUE(same(0.0, 2.2, 1.9, material)) << "cap " << cap;
            long long scans = vulmora::nodFixedStats().fallbacks - fellBack;
            std::size_t held = vulmora::nodFixedStats().held;
            EXPECT_EQ(builds(), before + 1) << "cap " << cap;
            EXPECT_TRUE((scans == 2 && held == 0) || (scans == 0 && held == tree))
                << "cap " << cap << ": " << scans << " scans, " << held << " bytes";
            if (cap < tree) {
                EXPECT_EQ(scans, 2) << "cap " << cap;
            }
            if (built) {
                EXPECT_EQ(scans, 0) << "cap " << cap << ": a smaller cap was enough";
            }
            built = built || scans == 0;
        }
        EXPECT_TRUE(built);
        vulmora::nodFixedMemoryLimit(SIZE_MAX);
        vulmora::nodFixedRelease();
    }
    // Memory again after a failure: the next change builds a tree.
    vulmora::nodFixedMemoryLimit(0);
    ASSERT_TRUE(same(1.0, 0.2, 1.9, 1));
    vulmora::nodFixedMemoryLimit(SIZE_MAX);
    user_unit_coor = 3;
    long long fellBack = vulmora::nodFixedStats().fallbacks;
    ASSERT_TRUE(same(10.0, 2.0, 19.0, 1));
    EXPECT_EQ(vulmora::nodFixedStats().fallbacks, fellBack);
    EXPECT_GT(vulmora::nodFixedStats().held, 0u);
    vulmora::nodFixedRelease();
    EXPECT_EQ(vulmora::nodFixedStats().held, 0u);
}

// Without coordinates, nodes or element data nothing is built; the answer
// is nodNum's message.
TEST_F(Life, NothingToSearchBuildsNothing) {
    const struct {
        const char *what;
        int material;
        std::function<void()> spoil;
    } cases[] = {
        {"no x", 0, [] { x_cord = nullptr; }},
        {"no z in 3-D", 0, [] { z_cord = nullptr; }},
        {"no nodes", 1, [] { nnod = 0; }},
        {"no material data", 1, [] { mat_id = nullptr; }},
        {"no connectivity", 2, [] { ncon = nullptr; }},
        {"NaN point", 0, [] {}},
    };
    for (const auto &c : cases) {
        SetUp();
        c.spoil();
        long long built = builds();
        double x = std::strcmp(c.what, "NaN point") == 0 ? kNaN : 1.0;
        Answer got = ask(nodNumFixed, x, 1.0, 1.0, c.material);
        EXPECT_EQ(got.node, 0) << c.what;
        EXPECT_EQ(got.printed, VULMORA_MSG_NODNUM) << c.what;
        EXPECT_EQ(builds(), built) << c.what;
    }
}

} // namespace

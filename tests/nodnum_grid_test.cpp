// nodnum_grid_test.cpp - the nearest-node search on structured meshes.
//
// Meshers number a block of nodes row by row, so the best distance of the
// all-nodes scan shrinks block after block; points on nodes, at cell
// centres and edge midpoints tie exactly (whole-number coordinates), and
// the ties straddle the scan's block boundaries. Each case is run in every
// form of the scan this processor has and checked against the node the
// tie rule names and against a plain in-order sweep.

#include "exchange/exchange.h"
#include "getVar.h"
#include "accessors/nodscan.h"

#include "child.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <string>
#include <vector>

namespace {

constexpr int kBlock = vulmora::kNodeScanBlock;

// nx*ny*nz nodes one centimetre apart, numbered with x fastest, then y,
// then z; hexahedra (type 1) over them, the lower half of the element
// layers material 1, the rest material 2.
struct Grid {
    int nx, ny, nz;
    std::vector<double> x, y, z;
    std::vector<int> types, mats, conn;
    std::vector<int *> rows;

    Grid(int nx_, int ny_, int nz_) : nx(nx_), ny(ny_), nz(nz_) {
        for (int k = 0; k < nz; ++k)
            for (int j = 0; j < ny; ++j)
                for (int i = 0; i < nx; ++i)
                    x.push_back(i), y.push_back(j), z.push_back(k);
        for (int k = 0; k + 1 < nz; ++k)
            for (int j = 0; j + 1 < ny; ++j)
                for (int i = 0; i + 1 < nx; ++i) {
                    for (int c :
                         {id(i, j, k), id(i + 1, j, k), id(i + 1, j + 1, k), id(i, j + 1, k)})
                        conn.push_back(c);
                    for (int c : {id(i, j, k + 1), id(i + 1, j, k + 1), id(i + 1, j + 1, k + 1),
                                  id(i, j + 1, k + 1)})
                        conn.push_back(c);
                    types.push_back(1), mats.push_back(k < (nz - 1) / 2 ? 0 : 1);
                }
    }
    int id(int i, int j, int k) const { return i + nx * (j + ny * k); }
    int count() const { return nx * ny * nz; }
    void install(bool twoD) {
        rows.clear();
        for (size_t e = 0; e < types.size(); ++e)
            rows.push_back(&conn[e * 8]);
        nnod = count(), nel = static_cast<int>(types.size());
        x_cord = x.data(), y_cord = y.data(), z_cord = twoD ? nullptr : z.data();
        el_type = types.data(), mat_id = mats.data(), ncon = rows.data();
        TWO_D = twoD, user_unit_coor = 2; // centimetres
    }

    // Squared distance of node n, in the library's order of operations.
    double dist(int n, const double q[3], bool twoD) const {
        size_t s = static_cast<size_t>(n);
        double d = (x[s] - q[0]) * (x[s] - q[0]) + (y[s] - q[1]) * (y[s] - q[1]);
        if (!twoD) d = d + (z[s] - q[2]) * (z[s] - q[2]);
        return d;
    }
    // Plain in-order sweep, strict comparison: the lowest node among ties.
    int sweep(const double q[3], bool twoD) const {
        double best = DBL_MAX;
        int result = 0;
        for (int n = 0; n < count(); ++n)
            if (double d = dist(n, q, twoD); d < best) best = d, result = n + 1;
        return result;
    }
    // Element order, each node once, d <= best: the last examined among ties.
    int sweepMaterial(int material, const double q[3], bool twoD) const {
        std::vector<bool> seen(x.size());
        double best = DBL_MAX;
        int result = 0;
        for (size_t e = 0; e < types.size(); ++e) {
            if (mats[e] + 1 != material) continue;
            for (size_t c = 0; c < 8; ++c) {
                int n = conn[e * 8 + c];
                if (seen[static_cast<size_t>(n)]) continue;
                seen[static_cast<size_t>(n)] = true;
                if (double d = dist(n, q, twoD); d <= best) best = d, result = n + 1;
            }
        }
        return result;
    }
};

// Every scan form this build and processor can run.
std::vector<vulmora::NodeScan> forms() {
    std::vector<vulmora::NodeScan> all;
    for (auto f : {vulmora::NodeScan::Scalar, vulmora::NodeScan::Sse2, vulmora::NodeScan::Avx2})
        if (vulmora::nodeScanAvailable(f)) all.push_back(f);
    return all;
}

int nearest(const double q[3], int material) {
    double ox, oy, oz;
    return nodNum(q[0], q[1], q[2], material, &ox, &oy, &oz);
}

class NodNumGrid : public ::testing::Test {
  protected:
    void TearDown() override {
        vulmora::nodeScanUse(vulmora::NodeScan::Widest);
        nnod = nel = TWO_D = 0;
        x_cord = y_cord = z_cord = nullptr;
        el_type = mat_id = nullptr, ncon = nullptr;
    }
};

// The point is node (i, j, k) moved by (fx, fy, fz); with a half the node
// ties with its neighbour above along that axis, and node (i, j, k), the
// lowest of the tied nodes, is the answer. A point outside the mesh ties
// the nodes of the nearest face or edge in the same way.
TEST_F(NodNumGrid, AllNodesLowestOfTiedNodes) {
    const struct {
        const char *what;
        int nx, ny, nz;
        bool twoD;
        int i, j, k;
        double fx, fy, fz;
    } cases[] = {
        {"on a node, fewer nodes than a block", 10, 10, 10, false, 3, 4, 5, 0, 0, 0},
        {"cell centre, eight nodes tie in one block", 10, 10, 10, false, 3, 4, 5, .5, .5, .5},
        {"cell centre, the tie spans two blocks", 16, 16, 8, false, 7, 7, 3, .5, .5, .5},
        {"edge midpoint, last node of a block and first of the next", 2047, 1, 1, false, kBlock - 1,
         0, 0, .5, 0, 0},
        {"on the last node, exactly two blocks", 16, 16, 8, false, 15, 15, 7, 0, 0, 0},
        {"on the first node, a partial last block", 17, 13, 11, false, 0, 0, 0, 0, 0, 0},
        {"on the last node, in the partial last block", 17, 13, 11, false, 16, 12, 10, 0, 0, 0},
        {"cell centre in the partial last block", 17, 13, 11, false, 15, 11, 9, .5, .5, .5},
        {"outside a face, two nodes tie", 17, 13, 11, false, 0, 6, 5, -2, .5, 0},
        {"outside a corner, the corner node", 17, 13, 11, false, 16, 12, 10, 3, 1, 2},
        {"2-D, edge midpoint across rows in two blocks", 50, 50, 1, true, 10, 20, 0, 0, .5, 7},
        {"2-D, one node short of a block", 31, 33, 1, true, 30, 32, 0, 0, 0, 0},
        {"a single node", 1, 1, 1, false, 0, 0, 0, .5, .5, .5},
    };
    for (const auto &c : cases) {
        Grid g(c.nx, c.ny, c.nz);
        g.install(c.twoD);
        const double q[3] = {c.i + c.fx, c.j + c.fy, c.k + c.fz};
        const int want = g.id(c.i, c.j, c.k) + 1;
        ASSERT_EQ(g.sweep(q, c.twoD), want) << c.what; // the case says what it tests
        for (vulmora::NodeScan f : forms()) {
            vulmora::nodeScanUse(f);
            EXPECT_EQ(nearest(q, 0), want) << c.what << ", form " << static_cast<int>(f);
        }
    }
}

// Every node and every cell centre of a mesh of two blocks and a bit:
// each node is found from itself, each centre gives its lowest corner.
TEST_F(NodNumGrid, AllNodesEveryNodeAndCellCentre) {
    Grid g(13, 11, 9);
    ASSERT_GT(g.count(), kBlock);
    ASSERT_NE(g.count() % kBlock, 0);
    g.install(false);
    for (vulmora::NodeScan f : forms()) {
        vulmora::nodeScanUse(f);
        int wrong = 0;
        for (int k = 0; k < g.nz; ++k)
            for (int j = 0; j < g.ny; ++j)
                for (int i = 0; i < g.nx; ++i) {
                    const double on[3] = {double(i), double(j), double(k)};
                    const double centre[3] = {i + .5, j + .5, k + .5};
                    wrong += nearest(on, 0) != g.id(i, j, k) + 1;
                    if (i + 1 < g.nx && j + 1 < g.ny && k + 1 < g.nz)
                        wrong += nearest(centre, 0) != g.id(i, j, k) + 1;
                }
        EXPECT_EQ(wrong, 0) << "form " << static_cast<int>(f);
    }
}

// The material search on the same meshes: a point on a node of the
// material finds it; at cell centres, on faces and beyond the material
// (its nearest nodes tie on its top layer) the last examined of the tied
// nodes wins, as a plain walk of the connectivity finds.
TEST_F(NodNumGrid, MaterialLastExaminedOfTiedNodes) {
    const struct {
        const char *what;
        int material;
        double q[3];
    } cases[] = {
        {"on a node", 1, {4, 5, 2}},
        {"cell centre, eight nodes tie", 1, {4.5, 5.5, 1.5}},
        {"face centre on the material's top layer", 1, {4.5, 5.5, 4}},
        {"above the material: its top layer ties", 1, {4.5, 5.5, 7}},
        {"edge midpoint at the mesh's side", 2, {0, 3.5, 8}},
        {"outside a corner", 2, {-1, -1, 12}},
    };
    Grid g(12, 11, 10);
    g.install(false);
    for (const auto &c : cases) {
        int want = g.sweepMaterial(c.material, c.q, false);
        ASSERT_NE(want, 0) << c.what;
        EXPECT_EQ(nearest(c.q, c.material), want) << c.what;
    }
    const double onNode[3] = {4, 5, 2};
    EXPECT_EQ(nearest(onNode, 1), g.id(4, 5, 2) + 1);
}

// Every point of the half-centimetre lattice over a small mesh and a
// margin around it, for each material: nodes shared by up to eight
// elements and tied by two, four or eight make the order of first
// examination, not of any later one, decide.
TEST_F(NodNumGrid, MaterialEveryHalfLatticePoint) {
    Grid g(6, 5, 7);
    g.install(false);
    int wrong = 0, points = 0;
    for (int material : {1, 2})
        for (int k = -2; k <= 2 * g.nz; ++k)
            for (int j = -2; j <= 2 * g.ny; ++j)
                for (int i = -2; i <= 2 * g.nx; ++i, ++points) {
                    const double q[3] = {i * .5, j * .5, k * .5};
                    wrong += nearest(q, material) != g.sweepMaterial(material, q, false);
                }
    EXPECT_EQ(wrong, 0) << "of " << points;
}

} // namespace

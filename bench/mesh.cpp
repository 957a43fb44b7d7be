// mesh.cpp - benchmark meshes and the registry of ratio pairs.

#include "mesh.h"

#include "exchange/exchange.h"

#include <random>

namespace vbench {

// ---- node clouds ----------------------------------------------------------------

NodeCloud::NodeCloud(int count, std::uint32_t seed)
    : x(static_cast<size_t>(count)), y(x.size()), z(x.size()) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (size_t i = 0; i < x.size(); ++i) {
        x[i] = unit(rng);
        y[i] = unit(rng);
        z[i] = unit(rng);
    }
}

void NodeCloud::install() {
    nnod = static_cast<int>(x.size());
    x_cord = x.data();
    y_cord = y.data();
    z_cord = z.data();
    TWO_D = 0;
    user_unit_coor = 2; // centimetres: the conversion is a multiplication by 1
}

NodeCloud NodeCloud::grid(int side) {
    NodeCloud c(0);
    const size_t count =
        static_cast<size_t>(side) * static_cast<size_t>(side) * static_cast<size_t>(side);
    c.x.resize(count), c.y.resize(count), c.z.resize(count);
    size_t id = 0;
    for (int k = 0; k < side; ++k)
        for (int j = 0; j < side; ++j)
            for (int i = 0; i < side; ++i, ++id)
                c.x[id] = i, c.y[id] = j, c.z[id] = k;
    return c;
}

// ---- structured hexahedral mesh ---------------------------------------------

HexMesh::HexMesh(int edge) : n(edge), nodes((edge + 1) * (edge + 1) * (edge + 1)) {
    const int side = n + 1;
    for (int k = 0; k < side; ++k)
        for (int j = 0; j < side; ++j)
            for (int i = 0; i < side; ++i) {
                size_t id = static_cast<size_t>(i + side * (j + side * k));
                nodes.x[id] = i;
                nodes.y[id] = j;
                nodes.z[id] = k;
            }
    const size_t elements =
        static_cast<size_t>(n) * static_cast<size_t>(n) * static_cast<size_t>(n);
    types.assign(elements, 1);
    mats.resize(elements);
    conn.resize(elements * 8);
    rows.resize(elements);
    size_t e = 0;
    for (int k = 0; k < n; ++k)
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i, ++e) {
                int base = i + side * (j + side * k);
                int corner[8] = {base,
                                 base + 1,
                                 base + 1 + side,
                                 base + side,
                                 base + side * side,
                                 base + 1 + side * side,
                                 base + 1 + side + side * side,
                                 base + side + side * side};
                for (int c = 0; c < 8; ++c)
                    conn[e * 8 + static_cast<size_t>(c)] = corner[c];
                rows[e] = &conn[e * 8];
                mats[e] = k < n / 2 ? 0 : 1;
            }
}

void HexMesh::install() {
    nodes.install();
    nel = static_cast<int>(types.size());
    el_type = types.data();
    mat_id = mats.data();
    ncon = rows.data();
}

// ---- integration-point mesh ---------------------------------------------------

PointMesh::PointMesh(int count) : types(static_cast<size_t>(count)) {
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> type(1, 11);
    size_t points = 0;
    for (int &t : types) {
        t = type(rng);
        points += static_cast<size_t>(el_ngp[t]);
    }
    values.assign(points, 0.5f);
}

void PointMesh::install() {
    nel = static_cast<int>(types.size());
    el_type = types.data();
    fraction_void = values.data();
}

// ---- ratio pairs -------------------------------------------------------------------

namespace {
std::vector<Pair> &registry() {
    static std::vector<Pair> all;
    return all;
}
} // namespace

void compare(const std::string &name, const std::string &baseline, double bytes) {
    registry().push_back({name, baseline, bytes});
}

const std::vector<Pair> &pairs() {
    return registry();
}

} // namespace vbench

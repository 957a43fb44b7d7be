// scans_bench.cpp - the three scans that grow with the mesh, each against a
// plain loop over the same data:
//   nodNum over all nodes         vs the sum x+y+z of every node;
//   nodNum within one material    vs the same elements' connectivity, each
//                                 entry's coordinates summed;
//   the integration-point means   vs a plain 32-bit sum over el_type.
//     of the last element

#include "mesh.h"

#include "accessors/getVar.h"
#include "exchange/exchange.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

// ---- query points -------------------------------------------------------------------

// Sixteen fixed points inside the unit cube scaled by `size`, cycled
// through so no single lucky point decides the figure.
struct Queries {
    double p[16][3];
    explicit Queries(double size) {
        for (int i = 0; i < 16; ++i)
            for (int c = 0; c < 3; ++c)
                p[i][c] = size * ((i * 7 + c * 5) % 16 + 0.5) / 16.0;
    }
};

// ---- nodNum over all nodes ---------------------------------------------------------

void scan_all(benchmark::State &state) {
    vbench::NodeCloud cloud(static_cast<int>(state.range(0)));
    cloud.install();
    Queries q(1.0);
    int i = 0;
    for (auto _ : state) {
        double ox, oy, oz;
        const double *p = q.p[i++ & 15];
        benchmark::DoNotOptimize(nodNum(p[0], p[1], p[2], 0, &ox, &oy, &oz));
    }
    state.counters["per_iter"] = 1;
}

void plain_xyz_sum(benchmark::State &state) {
    vbench::NodeCloud cloud(static_cast<int>(state.range(0)));
    const double *x = cloud.x.data(), *y = cloud.y.data(), *z = cloud.z.data();
    const size_t count = cloud.x.size();
    for (auto _ : state) {
        double s = 0.0;
        for (size_t n = 0; n < count; ++n)
            s += x[n] + y[n] + z[n];
        benchmark::DoNotOptimize(s);
    }
    state.counters["per_iter"] = 1;
}

// ---- nodNum within one material --------------------------------------------------

void scan_material(benchmark::State &state) {
    vbench::HexMesh mesh(static_cast<int>(state.range(0)));
    mesh.install();
    Queries q(mesh.n);
    int i = 0;
    for (auto _ : state) {
        double ox, oy, oz;
        const double *p = q.p[i++ & 15];
        benchmark::DoNotOptimize(nodNum(p[0], p[1], p[2], 1, &ox, &oy, &oz));
    }
    state.counters["per_iter"] = 1;
}

void plain_material_connectivity(benchmark::State &state) {
    vbench::HexMesh mesh(static_cast<int>(state.range(0)));
    const double *x = mesh.nodes.x.data(), *y = mesh.nodes.y.data(), *z = mesh.nodes.z.data();
    const size_t count = mesh.types.size();
    for (auto _ : state) {
        double s = 0.0;
        for (size_t e = 0; e < count; ++e) {
            if (mesh.mats[e] + 1 != 1) continue;
            const int *row = mesh.rows[e];
            for (int j = 0, c = el_nnode[mesh.types[e]]; j < c; ++j)
                s += x[row[j]] + y[row[j]] + z[row[j]];
        }
        benchmark::DoNotOptimize(s);
    }
    state.counters["per_iter"] = 1;
}

// ---- integration-point offset walk ----------------------------------------------

void ip_last_element(benchmark::State &state) {
    vbench::PointMesh mesh(static_cast<int>(state.range(0)));
    mesh.install();
    const int last = nel;
    for (auto _ : state)
        benchmark::DoNotOptimize(getFractionVoid(last));
    state.counters["per_iter"] = 1;
}

void plain_type_sum(benchmark::State &state) {
    vbench::PointMesh mesh(static_cast<int>(state.range(0)));
    const int *types = mesh.types.data();
    const size_t before = mesh.types.size() - 1; // the elements the walk passes
    for (auto _ : state) {
        unsigned s = 0;
        for (size_t e = 0; e < before; ++e)
            s += static_cast<unsigned>(types[e]);
        benchmark::DoNotOptimize(s);
    }
    state.counters["per_iter"] = 1;
}

// 64 Ki nodes or elements stay in the caches, 4 Mi do not; the hexahedral
// meshes have 32^3 and 128^3 elements.
constexpr long kSmall = 64L * 1024, kLarge = 4L * 1024 * 1024;

BENCHMARK(plain_xyz_sum)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMicrosecond);
BENCHMARK(scan_all)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMicrosecond);
BENCHMARK(plain_material_connectivity)->Arg(32)->Arg(128)->Unit(benchmark::kMicrosecond);
BENCHMARK(scan_material)->Arg(32)->Arg(128)->Unit(benchmark::kMicrosecond);
BENCHMARK(plain_type_sum)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMicrosecond);
BENCHMARK(ip_last_element)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMicrosecond);

// Registered for the ratio table at start-up (a tool, not library code).
const bool registered = [] {
    vbench::compare("scan_all", "plain_xyz_sum");
    vbench::compare("scan_material", "plain_material_connectivity");
    vbench::compare("ip_last_element", "plain_type_sum");
    return true;
}();

} // namespace

// scans_bench.cpp - the three scans that grow with the mesh, each against
// the plain loop a competent user would write over the same data, built as
// a user library is built (same compiler flags, no fused arithmetic):
//   nodNum over all nodes         vs sweep_xyz: x+y+z of every node, eight
//                                 independent sums (the compiler vectorises
//                                 them), bound by the loads; on random
//                                 points, and on a structured mesh numbered
//                                 row by row with points near its nodes
//                                 (scan_grid vs sweep_grid);
//   nodNum within one material    vs sweep_material_connectivity: the same
//                                 elements' connectivity, each entry's
//                                 coordinates summed into independent sums;
//   the integration-point means   vs plain_type_sum: a 32-bit sum over
//     of the last element            el_type (integer sums are vectorised
//                                    as written).
// The first baselines of this suite, single serial sums bound by the
// latency of one addition chain, are kept as cases (plain_*) and compared
// with the sweeps, so the old figures can be read against the new ones.
// memory_read measures the machine's read bandwidth, which the table turns
// into the time each item's bytes take.

#include "mesh.h"

#include "include/vulmora/getVar.h"
#include "exchange/exchange.h"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <vector>

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

// ---- memory bandwidth -----------------------------------------------------------------

// Bytes read per second from a buffer of the given size; the figure per
// item is nanoseconds per byte. The sizes
// are those the scans read (64 Ki and 4 Mi nodes of 24 bytes), and 1 GiB,
// beyond the last-level cache (which is large on server processors: 4 Mi
// nodes may fit in it).
// The buffer read in order, eight sums.
[[gnu::noinline]] double sumStream(const double *b, size_t count) {
    double s[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    for (size_t n = 0; n + 8 <= count; n += 8)
        for (size_t k = 0; k < 8; ++k)
            s[k] += b[n + k];
    return ((s[0] + s[1]) + (s[2] + s[3])) + ((s[4] + s[5]) + (s[6] + s[7]));
}

// The buffer read as four streams at once (its quarters), two sums each: a
// core may reach more bandwidth from memory with several streams in flight
// (the scans read three: x, y, z).
[[gnu::noinline]] double sumStreams(const double *b, size_t count) {
    const size_t q = count / 4;
    const double *b1 = b + q, *b2 = b + 2 * q, *b3 = b + 3 * q;
    double s[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    for (size_t n = 0; n + 2 <= q; n += 2) {
        s[0] += b[n], s[1] += b[n + 1];
        s[2] += b1[n], s[3] += b1[n + 1];
        s[4] += b2[n], s[5] += b2[n + 1];
        s[6] += b3[n], s[7] += b3[n + 1];
    }
    return ((s[0] + s[1]) + (s[2] + s[3])) + ((s[4] + s[5]) + (s[6] + s[7]));
}

// Arguments: bytes, and 1 or 4 streams. The table takes the faster of the
// two at each size as the bandwidth.
void memory_read(benchmark::State &state) {
    std::vector<double> buffer(static_cast<size_t>(state.range(0)) / sizeof(double), 1.0);
    for (auto _ : state)
        benchmark::DoNotOptimize(state.range(1) == 1 ? sumStream(buffer.data(), buffer.size())
                                                     : sumStreams(buffer.data(), buffer.size()));
    state.counters["per_iter"] = static_cast<double>(state.range(0));
}

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
    state.counters["per_iter"] = static_cast<double>(state.range(0));
}

// x+y+z of every node into eight independent sums (one body, compiled into
// each caller). Not inlined into the
// benchmark loop, where GCC interleaves it badly: a user's loop is a
// function of its own too.
[[gnu::always_inline]] inline double sweepXyzBody(const double *x, const double *y, const double *z,
                                                  size_t count) {
    double s[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    size_t n = 0;
    for (; n + 8 <= count; n += 8)
        for (size_t k = 0; k < 8; ++k)
            s[k] += x[n + k] + y[n + k] + z[n + k];
    for (; n < count; ++n)
        s[0] += x[n] + y[n] + z[n];
    return ((s[0] + s[1]) + (s[2] + s[3])) + ((s[4] + s[5]) + (s[6] + s[7]));
}
[[gnu::noinline]] double sweepXyz(const double *x, const double *y, const double *z, size_t count) {
    return sweepXyzBody(x, y, z, count);
}

void sweep_xyz(benchmark::State &state) {
    vbench::NodeCloud cloud(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(
            sweepXyz(cloud.x.data(), cloud.y.data(), cloud.z.data(), cloud.x.size()));
    state.counters["per_iter"] = static_cast<double>(state.range(0));
}

// The same sweep compiled for AVX2, which a user library built with the
// default flags does not get: the hardware's ceiling, shown for reference.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
[[gnu::noinline]] __attribute__((target("avx2"))) double
sweepXyzAvx2(const double *x, const double *y, const double *z, size_t count) {
    return sweepXyzBody(x, y, z, count); // the same loop, compiled for AVX2 here
}

void sweep_xyz_avx2(benchmark::State &state) {
    if (!__builtin_cpu_supports("avx2")) {
        state.SkipWithError("no AVX2");
        return;
    }
    vbench::NodeCloud cloud(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(
            sweepXyzAvx2(cloud.x.data(), cloud.y.data(), cloud.z.data(), cloud.x.size()));
    state.counters["per_iter"] = static_cast<double>(state.range(0));
}
#endif

// ---- nodNum over all nodes of a structured mesh ---------------------------------

// Sixteen points near nodes spread through a grid of side^3 nodes: each a
// node plus (0.1, 0.2, 0.3) cm, so one node is nearest. With the nodes
// numbered row by row, the best distance shrinks block after block until
// the scan reaches the point's layer.
struct GridQueries {
    double p[16][3];
    explicit GridQueries(int side) {
        for (int i = 0; i < 16; ++i)
            for (int c = 0; c < 3; ++c)
                p[i][c] =
                    static_cast<int>(side * ((i * 7 + c * 5) % 16 + 0.5) / 16.0) + 0.1 * (c + 1);
    }
};

// Figures per node of a grid with state.range(0) nodes a side.
double gridNodes(const benchmark::State &state) {
    double side = static_cast<double>(state.range(0));
    return side * side * side;
}

void scan_grid(benchmark::State &state) {
    vbench::NodeCloud grid = vbench::NodeCloud::grid(static_cast<int>(state.range(0)));
    grid.install();
    GridQueries q(static_cast<int>(state.range(0)));
    int i = 0;
    for (auto _ : state) {
        double ox, oy, oz;
        const double *p = q.p[i++ & 15];
        benchmark::DoNotOptimize(nodNum(p[0], p[1], p[2], 0, &ox, &oy, &oz));
    }
    state.counters["per_iter"] = gridNodes(state);
}

// sweep_xyz over the grid's coordinates.
void sweep_grid(benchmark::State &state) {
    vbench::NodeCloud grid = vbench::NodeCloud::grid(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(
            sweepXyz(grid.x.data(), grid.y.data(), grid.z.data(), grid.x.size()));
    state.counters["per_iter"] = gridNodes(state);
}

// The first baseline: one serial sum, bound by the addition's latency.
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
    state.counters["per_iter"] = static_cast<double>(state.range(0));
}

// ---- nodNum within one material --------------------------------------------------

// Figures per element of the mesh (n^3 elements, half of them searched).
double elements(const benchmark::State &state) {
    double n = static_cast<double>(state.range(0));
    return n * n * n;
}

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
    state.counters["per_iter"] = elements(state);
}

// The connectivity walk of material 1 with each element's entries summed
// in two independent halves: the chain through the whole mesh is one
// addition per element.
[[gnu::noinline]] double sweepMaterial(const vbench::HexMesh &mesh) {
    const double *x = mesh.nodes.x.data(), *y = mesh.nodes.y.data(), *z = mesh.nodes.z.data();
    const size_t count = mesh.types.size();
    double s = 0.0;
    for (size_t e = 0; e < count; ++e) {
        if (mesh.mats[e] + 1 != 1) continue;
        const int *row = mesh.rows[e];
        const int c = el_nnode[mesh.types[e]];
        double even = 0.0, odd = 0.0;
        int j = 0;
        for (; j + 2 <= c; j += 2) {
            even += x[row[j]] + y[row[j]] + z[row[j]];
            odd += x[row[j + 1]] + y[row[j + 1]] + z[row[j + 1]];
        }
        if (j < c) even += x[row[j]] + y[row[j]] + z[row[j]];
        s += even + odd;
    }
    return s;
}

void sweep_material_connectivity(benchmark::State &state) {
    vbench::HexMesh mesh(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(sweepMaterial(mesh));
    state.counters["per_iter"] = elements(state);
}

// The first baseline: the same walk into one serial sum.
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
    state.counters["per_iter"] = elements(state);
}

// ---- integration-point offset walk ----------------------------------------------

void ip_last_element(benchmark::State &state) {
    vbench::PointMesh mesh(static_cast<int>(state.range(0)));
    mesh.install();
    const int last = nel;
    for (auto _ : state)
        benchmark::DoNotOptimize(getFractionVoid(last));
    state.counters["per_iter"] = static_cast<double>(state.range(0));
}

// A 32-bit integer sum: the compiler vectorises it as written (integer
// addition may be reordered), so it is bound by the loads, not by latency.
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
    state.counters["per_iter"] = static_cast<double>(state.range(0));
}

// 64 Ki nodes or elements stay in the caches, 4 Mi do not; the hexahedral
// meshes have 32^3 and 128^3 elements.
constexpr long kSmall = 64L * 1024, kLarge = 4L * 1024 * 1024;

BENCHMARK(memory_read)
    ->ArgsProduct({{24 * kSmall, 24 * kLarge, 1L << 30}, {1, 4}})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(sweep_xyz)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMicrosecond);
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
BENCHMARK(sweep_xyz_avx2)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMicrosecond);
#endif
BENCHMARK(plain_xyz_sum)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMicrosecond);
BENCHMARK(scan_all)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMicrosecond);
// 40^3 = 64000 nodes (1.5 MiB) and 160^3 = 4.1 M nodes (98 MiB).
BENCHMARK(sweep_grid)->Arg(40)->Arg(160)->Unit(benchmark::kMicrosecond);
BENCHMARK(scan_grid)->Arg(40)->Arg(160)->Unit(benchmark::kMicrosecond);
BENCHMARK(sweep_material_connectivity)->Arg(32)->Arg(128)->Unit(benchmark::kMicrosecond);
BENCHMARK(plain_material_connectivity)->Arg(32)->Arg(128)->Unit(benchmark::kMicrosecond);
BENCHMARK(scan_material)->Arg(32)->Arg(128)->Unit(benchmark::kMicrosecond);
BENCHMARK(plain_type_sum)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMicrosecond);
BENCHMARK(ip_last_element)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMicrosecond);

// Registered for the ratio table at start-up (a tool, not library code).
// Bytes per item: three coordinates per node. Per element of the hexahedral
// mesh: its material; for the half that is searched, its type, row pointer,
// eight 4-byte entries and, on a structured mesh, about one node's
// coordinates. One 4-byte type code per element of the offset walk.
constexpr double kMaterialBytes = 4 + 0.5 * (4 + 8 + 8 * 4 + 24);

const bool registered = [] {
    vbench::compare("scan_all", "sweep_xyz", 24.0);
    vbench::compare("scan_grid", "sweep_grid", 24.0);
    vbench::compare("sweep_xyz_avx2", "sweep_xyz", 24.0);
    vbench::compare("plain_xyz_sum", "sweep_xyz", 24.0);
    vbench::compare("scan_material", "sweep_material_connectivity", kMaterialBytes);
    vbench::compare("plain_material_connectivity", "sweep_material_connectivity", kMaterialBytes);
    vbench::compare("ip_last_element", "plain_type_sum", 4.0);
    return true;
}();

} // namespace

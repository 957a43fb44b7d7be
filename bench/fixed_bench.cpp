// fixed_bench.cpp - nodNumFixed on large meshes:
//   fixed_query     one search of a new point at 4 Mi nodes (points among
//                   the nodes, or around them), against
//   scan_query      nodNum's answer for the same points (a scan);
//   fixed_query_lattice  the same on the nodes of a structured mesh, at
//                   random points and at element centres (eight-way ties);
//   fixed_build     building the index on the first call, per node;
//   heatflux_fixed  the worked example's chill flux over a million nodes
//                   and ten steps, the search at every node, against
//   heatflux_once   the same loop with the search made once per step by
//                   hand (what the function costs without any search).

#include "mesh.h"

#include "include/vulmora/getVar.h"
#include "accessors/nodfixed.h"
#include "exchange/exchange.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

// ---- single searches at 4 Mi nodes --------------------------------------------------

// 4096 random points in the cube [lo, hi]^3, cycled through: the index is
// searched afresh at every call.
struct RandomPoints {
    std::vector<double> p;
    RandomPoints(double lo, double hi) : p(3 * 4096) {
        std::mt19937 rng(5);
        std::uniform_real_distribution<double> place(lo, hi);
        for (double &c : p)
            c = place(rng);
    }
};

// Points among the nodes (the unit cube), or up to a tenth of its size
// outside it, where the nearest nodes lie on a face and more leaves are
// as near as the best.
RandomPoints pointsFor(const benchmark::State &state) {
    return state.range(1) == 0 ? RandomPoints(0.0, 1.0) : RandomPoints(-0.1, 1.1);
}

void fixed_query(benchmark::State &state) {
    vbench::NodeCloud cloud(static_cast<int>(state.range(0)));
    cloud.install();
    vulmora::nodFixedRelease();
    RandomPoints q = pointsFor(state);
    double ox, oy, oz;
    nodNumFixed(0.5, 0.5, 0.5, 0, &ox, &oy, &oz); // builds the index
    size_t i = 0;
    for (auto _ : state) {
        const double *p = &q.p[3 * (i++ & 4095)];
        benchmark::DoNotOptimize(nodNumFixed(p[0], p[1], p[2], 0, &ox, &oy, &oz));
    }
    vulmora::nodFixedRelease();
    state.counters["per_iter"] = 1;
}

// On the nodes of a structured mesh of n^3 hexahedra (160: 4.1 M nodes),
// at random points, or at element centres (argument 1), where eight nodes
// tie and subtrees at the same distance as the best must be searched too.
void fixed_query_lattice(benchmark::State &state) {
    vbench::HexMesh mesh(static_cast<int>(state.range(0)));
    mesh.nodes.install();
    vulmora::nodFixedRelease();
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> place(0.0, mesh.n);
    std::uniform_int_distribution<int> cell(0, mesh.n - 1);
    std::vector<double> p(3 * 4096);
    for (double &c : p)
        c = state.range(1) == 0 ? place(rng) : cell(rng) + 0.5;
    double ox, oy, oz;
    nodNumFixed(0.5, 0.5, 0.5, 0, &ox, &oy, &oz); // builds the index
    size_t i = 0;
    for (auto _ : state) {
        const double *q = &p[3 * (i++ & 4095)];
        benchmark::DoNotOptimize(nodNumFixed(q[0], q[1], q[2], 0, &ox, &oy, &oz));
    }
    vulmora::nodFixedRelease();
    state.counters["per_iter"] = 1;
}

void scan_query(benchmark::State &state) {
    vbench::NodeCloud cloud(static_cast<int>(state.range(0)));
    cloud.install();
    RandomPoints q = pointsFor(state);
    double ox, oy, oz;
    size_t i = 0;
    for (auto _ : state) {
        const double *p = &q.p[3 * (i++ & 4095)];
        benchmark::DoNotOptimize(nodNum(p[0], p[1], p[2], 0, &ox, &oy, &oz));
    }
    state.counters["per_iter"] = 1;
}

void fixed_build(benchmark::State &state) {
    vbench::NodeCloud cloud(static_cast<int>(state.range(0)));
    cloud.install();
    for (auto _ : state) {
        vulmora::nodFixedRelease();
        double ox, oy, oz;
        benchmark::DoNotOptimize(nodNumFixed(0.5, 0.5, 0.5, 0, &ox, &oy, &oz));
    }
    vulmora::nodFixedRelease();
    state.counters["per_iter"] = static_cast<double>(state.range(0));
}

// ---- the chill flux, as in examples/boundary.c -------------------------------------

constexpr int kSteps = 10;

// The flux at `node` from the chill at mould node coordinates (xc, yc, zc)
// in the user's length unit.
double chillFlux(int node, double xc, double yc, double zc) {
    double dx = fconvertToCGS(0, getX(node)) - fconvertToCGS(0, xc);
    double dy = fconvertToCGS(0, getY(node)) - fconvertToCGS(0, yc);
    double dz = fconvertToCGS(0, getZ(node)) - fconvertToCGS(0, zc);
    double r2 = dx * dx + dy * dy + dz * dz;
    return fconvertFromCGS(6, -2.0 * std::exp(-r2 / 9.0));
}

// func_heatflux: the chill's node searched at every call.
double heatflux(int node) {
    double xc = 0.0, yc = 0.0, zc = 0.0;
    int chill = nodNumFixed(fconvertFromCGS(0, 0.0), fconvertFromCGS(0, 0.0),
                            fconvertFromCGS(0, 0.0), 2, &xc, &yc, &zc);
    if (chill == 0) return 0.0;
    return chillFlux(node, xc, yc, zc);
}

// A mesh of n^3 hexahedra, (n+1)^3 nodes: 99 gives a million nodes. The
// upper half of the element layers is the mould (material 2).
void heatflux_fixed(benchmark::State &state) {
    vbench::HexMesh mesh(static_cast<int>(state.range(0)));
    mesh.install();
    for (auto _ : state) {
        vulmora::nodFixedRelease(); // every run builds its index
        double s = 0.0;
        for (int step = 0; step < kSteps; ++step)
            for (int n = 1; n <= nnod; ++n)
                s += heatflux(n);
        benchmark::DoNotOptimize(s);
    }
    vulmora::nodFixedRelease();
    state.counters["per_iter"] = static_cast<double>(kSteps) * nnod;
}

void heatflux_once(benchmark::State &state) {
    vbench::HexMesh mesh(static_cast<int>(state.range(0)));
    mesh.install();
    for (auto _ : state) {
        double s = 0.0;
        for (int step = 0; step < kSteps; ++step) {
            double xc = 0.0, yc = 0.0, zc = 0.0;
            if (nodNum(0.0, 0.0, 0.0, 2, &xc, &yc, &zc) == 0) continue;
            for (int n = 1; n <= nnod; ++n)
                s += chillFlux(n, xc, yc, zc);
        }
        benchmark::DoNotOptimize(s);
    }
    state.counters["per_iter"] = static_cast<double>(kSteps) * nnod;
}

constexpr long kLarge = 4L * 1024 * 1024;

// Arguments: nodes, and 0 for points among them, 1 for points around them.
BENCHMARK(scan_query)->Args({kLarge, 0})->Args({kLarge, 1})->Unit(benchmark::kMicrosecond);
BENCHMARK(fixed_query)->Args({kLarge, 0})->Args({kLarge, 1})->Unit(benchmark::kNanosecond);
BENCHMARK(fixed_query_lattice)->Args({160, 0})->Args({160, 1})->Unit(benchmark::kNanosecond);
BENCHMARK(fixed_build)->Arg(kLarge)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(heatflux_once)->Arg(99)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(heatflux_fixed)->Arg(99)->Unit(benchmark::kMillisecond)->Iterations(1);

const bool registered = [] {
    vbench::compare("fixed_query", "scan_query");
    vbench::compare("fixed_build", "sweep_xyz", 24.0);
    vbench::compare("heatflux_fixed", "heatflux_once");
    return true;
}();

} // namespace

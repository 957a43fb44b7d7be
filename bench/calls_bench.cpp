// calls_bench.cpp - the cost of one call of each accessor family and of the
// two converters, against a raw read of a host array. Every case makes
// kCalls calls per iteration over varying numbers, so the figure is the
// time per call. The calls' results are summed in one chain, as user code
// sums them; an opaque call takes longer than an addition's latency, so
// the chain does not set their pace (it does set the serial read's).

#include "mesh.h"

#include "include/vulmora/getVar.h"
#include "exchange/exchange.h"
#include "mikral/mikral.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr int kCalls = 1024;

// ---- one exchange block for every case --------------------------------------------

// Nodal, velocity, element and integration-point arrays of kCalls entries,
// a stand-in microstructure model, and every selector set to a unit that
// makes its converter do real work.
struct Block {
    std::vector<float> nodal = std::vector<float>(kCalls, 300.0f);
    std::vector<double> coords = std::vector<double>(kCalls, 2.0);
    std::vector<int> types = std::vector<int>(kCalls, 1), mats = std::vector<int>(kCalls, 0);
    std::vector<int> conn = std::vector<int>(8 * kCalls, 0);
    std::vector<int *> rows = std::vector<int *>(kCalls);
    std::vector<float> points = std::vector<float>(6 * 8 * kCalls, 0.25f);
    std::vector<int> lastp = std::vector<int>(210, 3);
    MikralModel *model = mikral_model_create(kCalls, 4, 4);

    Block() {
        for (int e = 0; e < kCalls; ++e)
            rows[static_cast<size_t>(e)] = &conn[static_cast<size_t>(8 * e)];
        nnod = nvnod = nel = kCalls;
        t1 = fs1 = vf_s1 = u1 = p1 = nodal.data();
        x_cord = coords.data();
        el_type = types.data();
        mat_id = mats.data();
        ncon = rows.data();
        fraction_void = strsg = points.data();
        nstr1 = 6;
        stress_scale = 2.0;
        user_unit_temp = 3;
        user_unit_coor = 3;
        user_unit_velocity = 4;
        micModelsA = model;
        mic_lastp = lastp.data();
        func_temp = 1.0;
        cur_node = 0;
    }
};

Block &block() {
    static Block b;
    return b;
}

// ---- the cases -------------------------------------------------------------------------

// Define a benchmark `call_<name>` that sums `expr` over n = 1..kCalls.
#define VBENCH_CALLS(name, setup, expr)                                                            \
    void call_##name(benchmark::State &state) {                                                    \
        block();                                                                                   \
        setup;                                                                                     \
        for (auto _ : state) {                                                                     \
            double s = 0.0;                                                                        \
            for (int n = 1; n <= kCalls; ++n)                                                      \
                s += (expr);                                                                       \
            benchmark::DoNotOptimize(s);                                                           \
        }                                                                                          \
        state.counters["per_iter"] = kCalls;                                                       \
    }                                                                                              \
    BENCHMARK(call_##name);                                                                        \
    const bool call_##name##_pair = (vbench::compare("call_" #name, "call_raw_read"), true)

// The baseline: the array read an accessor wraps, widened like it, summed
// as a competent loop sums it (eight independent sums, vectorised by the
// compiler), so that the figure is the read's, not an addition chain's.
[[gnu::noinline]] double sumWidened(const float *raw, int count) {
    double s[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    int n = 0;
    for (; n + 8 <= count; n += 8)
        for (int k = 0; k < 8; ++k)
            s[k] += static_cast<double>(raw[n + k]);
    for (; n < count; ++n)
        s[0] += static_cast<double>(raw[n]);
    return ((s[0] + s[1]) + (s[2] + s[3])) + ((s[4] + s[5]) + (s[6] + s[7]));
}

void call_raw_read(benchmark::State &state) {
    const float *raw = block().nodal.data();
    for (auto _ : state)
        benchmark::DoNotOptimize(sumWidened(raw, kCalls));
    state.counters["per_iter"] = kCalls;
}
BENCHMARK(call_raw_read);

// The first baseline, one serial sum of the same reads, kept as a case.
const float *raw = nullptr;
VBENCH_CALLS(raw_read_serial, raw = block().nodal.data(), static_cast<double>(raw[n - 1]));

VBENCH_CALLS(getNnod, , getNnod());
VBENCH_CALLS(getT1_converted, , getT1(n));
VBENCH_CALLS(getFs1_unconverted, , getFs1(n));
VBENCH_CALLS(getX_length, , getX(n));
VBENCH_CALLS(getU1_velocity, , getU1(n));
VBENCH_CALLS(getVfS1_strict, , getVfS1(n));
VBENCH_CALLS(getP1_strict, , getP1(n));
VBENCH_CALLS(getElType, , getElType(n));
VBENCH_CALLS(getMatId, , getMatId(n));
VBENCH_CALLS(getElemNode, , getElemNode(1 + (n & 7), n));
VBENCH_CALLS(fconvertToCGS_length, , fconvertToCGS(0, n));
VBENCH_CALLS(fconvertFromCGS_temperature, , fconvertFromCGS(-1, n));
VBENCH_CALLS(getFractionVoid_first, , getFractionVoid(1));
VBENCH_CALLS(getStress3_first, , getStress3(1));
VBENCH_CALLS(getFraction_neutral, location = 0, getFraction(n & 3));
VBENCH_CALLS(getFraction_nodal, location = 1, getFraction(n & 3));
VBENCH_CALLS(getFraction_local, location = 2, getFraction(n & 3));
VBENCH_CALLS(getFraction_registration, location = -1, getFraction(n & 3));
VBENCH_CALLS(getMicro_local, location = 2, getMicro(n & 3));
VBENCH_CALLS(getDefect_nodal, location = 1, getDefect(1));
VBENCH_CALLS(checkTempTable, , (checkTempTable(), 1.0));

} // namespace

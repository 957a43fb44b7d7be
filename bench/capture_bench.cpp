// capture_bench.cpp - what the dormant capture adds to an entry-point call.
//
// The host calls an exported func_<name> through a pointer; the forwarding
// function calls the user's function (in another object file, so not
// inlined) between the two capture hooks. The baseline is the same
// forwarding function without the hooks; both are called kCalls times per
// iteration through a pointer, as the host does, and the user's function
// is a single array read.

#include "mesh.h"

#include "runtime/capture.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

namespace {

constexpr int kCalls = 1024;
std::vector<double> gValues(kCalls + 1, 1.5);

// The user's function.
__attribute__((noinline)) double impl(int node) {
    return gValues[static_cast<size_t>(node)];
}

// Forwarding without and with the hooks.
__attribute__((noinline)) double forwardPlain(int node) {
    return impl(node);
}
__attribute__((noinline)) double forwardHooked(int node) {
    vulmora_capture_before("density", node);
    return vulmora_capture_after(impl(node));
}

using Entry = double (*)(int);

void run(benchmark::State &state, Entry f) {
    // Dormant: the variable is unset when the first call reads it.
    unsetenv("VULMORA_CAPTURE");
    vulmora_capture_before("density", 0);
    benchmark::DoNotOptimize(vulmora_capture_after(0.0));
    if (vulmora_capture_mode != VULMORA_CAPTURE_DORMANT) state.SkipWithError("capture is active");
    Entry volatile entry = f; // called through a pointer, as the host does
    for (auto _ : state) {
        double s = 0.0;
        Entry g = entry;
        for (int n = 1; n <= kCalls; ++n)
            s += g(n);
        benchmark::DoNotOptimize(s);
    }
    state.counters["per_iter"] = kCalls;
}

void capture_forward_plain(benchmark::State &state) {
    run(state, forwardPlain);
}
void capture_forward_dormant(benchmark::State &state) {
    run(state, forwardHooked);
}
BENCHMARK(capture_forward_plain);
BENCHMARK(capture_forward_dormant);
const bool capture_pair =
    (vbench::compare("capture_forward_dormant", "capture_forward_plain"), true);

} // namespace

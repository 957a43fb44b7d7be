// main.cpp - runs the benchmarks and ends with a table of ratios.
//
// Every case is paired with a baseline (vbench::compare). The console shows
// Google Benchmark's usual lines; the closing table divides each case's time
// per item by its baseline's, both measured in this run, and sets it beside
// the time the item's bytes take at the memory bandwidth measured in the
// same run. CPU time is used, since other work may share the cores; with
// repetitions the medians are used.

#include "mesh.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>

namespace {

// Time per call in nanoseconds, by "function/args".
struct Timing {
    double ns = 0.0;
    double items = 1.0; // per iteration
    bool median = false;
};

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &r : runs)
            record(r);
    }

    // Print case, its time per item (call, node or element), its
    // baseline's, the ratio and, where the pair names the bytes an item
    // needs, the time those bytes take at the read bandwidth measured for
    // the nearest buffer size (items per iteration x bytes per item; the
    // fastest way of reading that size).
    void printTable() const {
        std::map<double, double> nsPerByte; // buffer bytes -> ns per byte
        const std::string bw = std::string(vbench::kBandwidthCase) + "/";
        for (const auto &[key, t] : times_)
            if (key.compare(0, bw.size(), bw) == 0 && t.ns > 0.0) {
                auto [at, added] = nsPerByte.emplace(t.items, t.ns);
                if (!added && t.ns < at->second) at->second = t.ns; // the faster form
            }
        if (!nsPerByte.empty()) std::printf("\nmemory read bandwidth:\n");
        for (const auto &[bytes, ns] : nsPerByte)
            std::printf("  %10.1f MiB: %7.2f GB/s\n", bytes / 1048576.0, 1.0 / ns);
        std::printf("\n%-44s %12s %12s %9s %11s\n", "case vs baseline", "ns/item", "base ns/item",
                    "ratio", "bw ns/item");
        for (const vbench::Pair &p : vbench::pairs())
            for (const auto &[key, t] : times_) {
                if (key.compare(0, p.name.size() + 1, p.name + "/") != 0 && key != p.name) continue;
                std::string args = key.size() > p.name.size() ? key.substr(p.name.size()) : "";
                auto base = times_.find(p.baseline + args);
                if (base == times_.end()) base = times_.find(p.baseline);
                if (base == times_.end() || base->second.ns <= 0.0) continue;
                std::printf("%-44s %12.3f %12.3f %8.3gx", key.c_str(), t.ns, base->second.ns,
                            t.ns / base->second.ns);
                if (p.bytes > 0.0 && !nsPerByte.empty())
                    std::printf(" %11.3f", p.bytes * nearest(nsPerByte, t.items * p.bytes));
                std::printf("\n");
            }
    }

  private:
    // The value whose key is nearest to `bytes` on a logarithmic scale.
    static double nearest(const std::map<double, double> &byBytes, double bytes) {
        double best = 0.0, gap = 0.0;
        for (const auto &[size, value] : byBytes) {
            double g = std::fabs(std::log(size / bytes));
            if (best == 0.0 || g < gap) best = value, gap = g;
        }
        return best;
    }

    void record(const Run &r) {
        if (r.error_occurred) return;
        bool median = r.run_type == Run::RT_Aggregate;
        if (median && r.aggregate_name != "median") return;
        std::string key = r.run_name.function_name;
        if (!r.run_name.args.empty()) key += "/" + r.run_name.args;
        Timing &t = times_[key];
        if (t.median && !median) return;
        double perIter = 1.0;
        auto c = r.counters.find("per_iter");
        if (c != r.counters.end() && c->second.value > 0) perIter = c->second.value;
        t.ns = r.GetAdjustedCPUTime() * nsPer(r.time_unit) / perIter;
        t.items = perIter;
        t.median = median;
    }

    static double nsPer(benchmark::TimeUnit unit) {
        switch (unit) {
        case benchmark::kSecond:
            return 1e9;
        case benchmark::kMillisecond:
            return 1e6;
        case benchmark::kMicrosecond:
            return 1e3;
        default:
            return 1.0;
        }
    }

    std::map<std::string, Timing> times_;
};

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printTable();
    benchmark::Shutdown();
    return 0;
}

// main.cpp - runs the benchmarks and ends with a table of ratios.
//
// Every case is paired with a baseline (vbench::compare). The console shows
// Google Benchmark's usual lines; the closing table divides each case's time
// per call by its baseline's, both measured in this run. CPU time is used,
// since other work may share the cores; with repetitions
// the medians are used.

#include "mesh.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

// Time per call in nanoseconds, by "function/args".
struct Timing {
    double ns = 0.0;
    bool median = false;
};

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &r : runs)
            record(r);
    }

    // Print case, its time per call, its baseline's and the ratio.
    void printTable() const {
        std::printf("\n%-44s %14s %14s %8s\n", "case vs baseline", "ns/call", "base ns/call",
                    "ratio");
        for (const vbench::Pair &p : vbench::pairs())
            for (const auto &[key, t] : times_) {
                if (key.compare(0, p.name.size() + 1, p.name + "/") != 0 && key != p.name) continue;
                std::string args = key.size() > p.name.size() ? key.substr(p.name.size()) : "";
                auto base = times_.find(p.baseline + args);
                if (base == times_.end()) base = times_.find(p.baseline);
                if (base == times_.end() || base->second.ns <= 0.0) continue;
                std::printf("%-44s %14.2f %14.2f %7.2fx\n", key.c_str(), t.ns, base->second.ns,
                            t.ns / base->second.ns);
            }
    }

  private:
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

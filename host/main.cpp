// main.cpp - vulmora-host: run a user-function library on the sample casting.
//
// The parent process never calls user code: each entry point is evaluated
// by a worker, this same program re-executed with --worker, so a fatal stop
// or a crash ends only that worker. The parent reads the worker's stdout
// bytes, exit status and result file, then reports and writes the outputs.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "block.h"
#include "calls.h"
#include "options.h"
#include "platform.h"
#include "replay.h"
#include "report.h"
#include "sample.h"

namespace fs = std::filesystem;
using namespace vhost;

namespace {

// ---- progress ---------------------------------------------------------------

// A bar on stderr, only on a terminal and only once the run has taken a
// second, so short runs and redirected output stay clean.
class Progress {
  public:
    Progress(size_t total, bool enabled) : total_(total), enabled_(enabled) {}
    void set(size_t done, const std::string &label) {
        done_ = done;
        label_ = label;
        draw();
    }
    void draw() {
        if (!enabled_) return;
        double t = std::chrono::duration<double>(Clock::now() - start_).count();
        if (t < 1.0) return;
        const int width = 30;
        int fill = total_ ? static_cast<int>(width * done_ / total_) : width;
        std::fprintf(
            stderr, "\r[%s%s] %zu/%zu %-28.28s %6.1f s", std::string(size_t(fill), '#').c_str(),
            std::string(size_t(width - fill), '.').c_str(), done_, total_, label_.c_str(), t);
        std::fflush(stderr);
        drawn_ = true;
    }
    void finish() {
        if (drawn_) std::fprintf(stderr, "\r%-90s\r", "");
    }

  private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point start_ = Clock::now();
    size_t total_, done_ = 0;
    bool enabled_, drawn_ = false;
    std::string label_;
};

// ---- the library ------------------------------------------------------------

// --library as given, else the first default candidate that exists.
bool chooseLibrary(Options &o, std::string &error) {
    if (o.library.empty()) {
        for (const std::string &c : defaultLibraryCandidates())
            if (fs::exists(c)) {
                o.library = c;
                break;
            }
        if (o.library.empty()) {
            error = "no default library found (build the target vulmora_examples, or give "
                    "--library)";
            return false;
        }
    }
    if (!fs::exists(o.library)) {
        error = "no such library: " + o.library;
        return false;
    }
    o.library = fs::absolute(o.library).lexically_normal().string();
    return true;
}

// ---- evaluating one entry point -------------------------------------------------

// The command line of the worker for entry point `name`.
std::vector<std::string> workerCommand(const std::string &self, const Options &o,
                                       const std::string &name, const std::string &result) {
    std::vector<std::string> args = {self, "--worker", name, "--result", result};
    for (const std::string &a : sampleArguments(o))
        args.push_back(a);
    return args;
}

// How the worker for `name` ended, from its stdout, exit status and result
// file. A stop at the very first call that printed exactly the template's
// line is a placeholder.
Outcome classify(const Options &o, const std::string &name, const std::string &result,
                 platform::RunResult &run, bool named) {
    Outcome r;
    r.name = name;
    if (!run.started) {
        r.detail = "cannot start the worker: " + run.error;
        r.failure = true;
        return r;
    }
    r.printed = std::move(run.out);
    r.exited = run.exited;
    r.exitStatus = run.status;
    std::string error;
    bool haveResult = readWorkerResult(result, r.result, error);
    std::error_code ec;
    fs::remove(result, ec);
    if (!run.exited) {
        r.status = Outcome::Crashed;
    } else if (haveResult && r.result.state == WorkerResult::Complete && run.status == 0) {
        computeStatistics(r, o.nodesPerSide * o.nodesPerSide * o.nodesPerSide);
        r.status = r.nonFinite ? Outcome::NonFinite : Outcome::Ok;
    } else if (haveResult && r.result.state == WorkerResult::Ended) {
        const Position &at = r.result.at;
        const bool firstCall = at.step == 1 && at.node == 1 && at.phase != Phase::External;
        r.status = firstCall && run.status == 1 && r.printed == placeholderLine(name)
                       ? Outcome::Placeholder
                       : Outcome::Stopped;
    } else {
        r.detail = haveResult ? "the worker failed" : error;
        r.status = Outcome::Error;
    }
    r.failure = r.status != Outcome::Ok && (r.status != Outcome::Placeholder || named);
    return r;
}

// Where the process ended, in words.
std::string where(const Position &at) {
    std::string s = "step " + std::to_string(at.step);
    switch (at.phase) {
    case Phase::External:
        return s + ", in func_externalcompute";
    case Phase::Registration:
        return s + ", node " + std::to_string(at.node) + " (registration call, location = -1)";
    case Phase::Call:
        break;
    }
    return s + ", node " + std::to_string(at.node);
}

// The re-run command for one call.
std::string rerun(const Options &o, const std::string &name, int node, int step) {
    std::string c = "vulmora-host --library '" + o.library + "' --functions " + name + " --node " +
                    std::to_string(node) + " --step " + std::to_string(step);
    if (o.nodesPerSide != Options{}.nodesPerSide)
        c += " --nodes-per-side " + std::to_string(o.nodesPerSide);
    if (o.steps != Options{}.steps) c += " --steps " + std::to_string(o.steps);
    return c;
}

// The report of one failure: what, where, what it printed, the fields there.
std::string problem(const Outcome &e, const Options &o, Sample &sample, ConvertFn fromCGS) {
    std::string t = "func_" + e.name + ": ";
    int node = 0, step = 0;
    switch (e.status) {
    case Outcome::NonFinite: {
        const char *v = std::isnan(e.badValue) ? "NaN" : e.badValue > 0 ? "+infinity" : "-infinity";
        t += "returned " + std::string(v) + " at step " + std::to_string(e.badStep) + ", node " +
             std::to_string(e.badNode);
        if (e.nonFinite > 1)
            t += " (non-finite at " + std::to_string(e.nonFinite) + " calls in all)";
        t += "\n";
        node = e.badNode, step = e.badStep;
        break;
    }
    case Outcome::Placeholder:
        t += "is the template's placeholder: it stopped with exit status 1 printing " +
             escaped(e.printed) + "\n";
        return t;
    case Outcome::Stopped:
        t += "stopped the process with exit status " + std::to_string(e.exitStatus) + " at " +
             where(e.result.at) + ", printing " + escaped(e.printed) + "\n";
        if (e.result.at.phase != Phase::External) node = e.result.at.node;
        step = e.result.at.step;
        break;
    case Outcome::Crashed:
        t += "crashed (signal or exception code " + std::to_string(e.exitStatus) + ")";
        if (e.result.state == WorkerResult::Ended) { // the crash hook saved the position
            t += " at " + where(e.result.at);
            if (e.result.at.phase != Phase::External) node = e.result.at.node;
            step = e.result.at.step;
        }
        t += e.printed.empty() ? "\n" : ", printing " + escaped(e.printed) + "\n";
        break;
    default:
        t += (e.detail.empty() ? "failed" : e.detail) + "\n";
        return t;
    }
    if (node > 0) {
        sample.setStep(step);
        t += "  the fields there:\n" + describeNode(sample, node, fromCGS);
        t += "  re-run that call: " + rerun(o, e.name, node, step) + "\n";
    }
    return t;
}

// ---- the run ------------------------------------------------------------------

// Evaluate, tabulate, write; the exit status says whether anything failed.
int runAll(const Options &o, char *argv0) {
    Library lib;
    std::string error;
    if (!lib.open(o.library, error)) {
        std::fprintf(stderr, "vulmora-host: %s\n", error.c_str());
        return 2;
    }
    std::vector<std::string> names = o.functions;
    if (!o.functionsGiven)
        for (const EntryPoint &e : kEntryPoints)
            if (lib.entry(e.name)) names.push_back(e.name);
    std::string self = platform::executablePath();
    if (self.empty()) self = fs::absolute(argv0).string();
    const fs::path scratch =
        fs::temp_directory_path() / ("vulmora-host-" + std::to_string(platform::processId()));
    fs::create_directories(scratch);
    if (!o.quiet)
        std::printf("vulmora-host: %s\nsample: %d nodes (%d per side), %d elements, %d steps\n",
                    o.library.c_str(), o.nodesPerSide * o.nodesPerSide * o.nodesPerSide,
                    o.nodesPerSide,
                    (o.nodesPerSide - 1) * (o.nodesPerSide - 1) * (o.nodesPerSide - 1), o.steps);
    std::fflush(stdout);
    // Every exported entry point, then func_externalcompute on its own.
    std::vector<Outcome> outcomes(names.size());
    std::vector<std::vector<std::string>> jobs;
    std::vector<size_t> jobOf; // outcome index of each job
    for (size_t k = 0; k < names.size(); ++k) {
        outcomes[k].name = names[k];
        if (lib.entry(names[k])) {
            jobs.push_back(
                workerCommand(self, o, names[k], (scratch / (names[k] + ".bin")).string()));
            jobOf.push_back(k);
        } else {
            outcomes[k].status = Outcome::NotExported;
            outcomes[k].failure = true;
        }
    }
    if (lib.externalcompute) {
        outcomes.emplace_back().name = "externalcompute";
        jobs.push_back(
            workerCommand(self, o, "externalcompute", (scratch / "externalcompute.bin").string()));
        jobOf.push_back(outcomes.size() - 1);
    }
    Progress bar(jobs.size(), !o.quiet && platform::stderrIsTerminal());
    size_t finished = 0;
    platform::runMany(
        jobs, o.jobs,
        [&](size_t j, platform::RunResult &run) {
            Outcome &out = outcomes[jobOf[j]];
            const bool named = o.functionsGiven || out.name == "externalcompute";
            out = classify(o, out.name, jobs[j][4], run, named);
            bar.set(++finished, out.name);
        },
        [&] { bar.draw(); });
    bar.finish();
    std::error_code ec;
    fs::remove_all(scratch, ec);

    const std::string table = summaryTable(outcomes);
    // The sample is rebuilt here only when a report or the files need it.
    std::unique_ptr<Sample> sample;
    auto theSample = [&]() -> Sample & {
        if (!sample) {
            sample = std::make_unique<Sample>(o.nodesPerSide, o.steps);
            sample->stressScale = o.stressScale;
        }
        return *sample;
    };
    std::string problems;
    size_t ok = 0, placeholders = 0, failed = 0;
    for (const Outcome &e : outcomes) {
        ok += e.status == Outcome::Ok;
        placeholders += e.status == Outcome::Placeholder && !e.failure;
        failed += e.failure;
        if (e.failure) problems += problem(e, o, theSample(), lib.fromCGS);
    }
    std::string verdict = std::to_string(outcomes.size()) + " entry points: " + std::to_string(ok) +
                          " ok, " + std::to_string(placeholders) +
                          " placeholders (not implemented), " + std::to_string(failed) +
                          " failed\n";
    if (!o.quiet) std::printf("\n%s\n", table.c_str());
    if (!problems.empty()) std::printf("Problems:\n%s\n", problems.c_str());
    std::printf("%s", verdict.c_str());
    std::fflush(stdout);
    if (o.writeOutput) {
        std::string notes =
            writeOutputs(o, theSample(), outcomes, table + "\n" + problems + verdict);
        if (!o.quiet) std::printf("%s", notes.c_str());
    }
    return failed ? 1 : 0;
}

} // namespace

int main(int argc, char **argv) {
    Options o;
    std::string error;
    if (!parseOptions(argc, argv, o, error)) {
        std::fprintf(stderr, "vulmora-host: %s\n", error.c_str());
        return 2;
    }
    if (o.help) {
        std::fputs(helpText(), stdout);
        return 0;
    }
    if (!o.worker.empty()) {
        vhost::platform::rawStdout();
        return runWorker(o);
    }
    if (!o.replayWorker.empty()) {
        vhost::platform::rawStdout();
        return runReplayWorker(o);
    }
    if (!o.replayFile.empty()) return runReplay(o, argv[0]);
    if (!chooseLibrary(o, error)) {
        std::fprintf(stderr, "vulmora-host: %s\n", error.c_str());
        return 2;
    }
    if (!o.saveState.empty()) return saveSampleState(o);
    if (o.probeNode) {
        if (o.functions.empty()) {
            std::fprintf(stderr, "vulmora-host: --node/--step need --functions NAME\n");
            return 2;
        }
        return runProbe(o);
    }
    return runAll(o, argv[0]);
}

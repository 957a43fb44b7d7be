// main.cpp - vulmora-host: run a user-function library on the sample casting.
//
// The parent process never calls user code, nor loads the library: a
// survey worker (this same program re-executed with --worker survey) loads
// it and lists its entry points, then each entry point is evaluated by a
// worker of its own, so a fatal stop, a crash or a hang ends only that
// worker. Workers live in a private scratch folder, each in a process group
// of its own; the parent reads their stdout and stderr, exit status and
// result file (checked before use), then reports, and writes the outputs
// into a new folder that takes the output folder's place only when complete.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "model/binding.h"
#include "model/caller.h"
#include "checks/checks.h"
#include "checks/compare.h"
#include "model/guard.h"
#include "cli/options.h"
#include "output/outdir.h"
#include "platform/platform.h"
#include "replay/replay.h"
#include "output/report.h"
#include "worker/protocol.h"
#include "model/sample.h"
#include "exchange/exchange.h"
#include "units/units.h"

namespace fs = std::filesystem;
using namespace vhost;

namespace {

// ---- progress ---------------------------------------------------------------

// Progress on stderr, once the run has taken a second: on a terminal a bar
// naming the entry points running and the step each is at; elsewhere (a
// log, CI) a line every ten seconds, so a long run is never silent.
class Progress {
  public:
    Progress(size_t total, bool enabled, bool terminal)
        : total_(total), enabled_(enabled), terminal_(terminal) {}
    void finished() { ++done_; }
    void running(const std::string &name, int step, int steps) {
        if (!label_.empty()) label_ += ", ";
        label_ += name + " " + std::to_string(step) + "/" + std::to_string(steps);
    }
    void draw() {
        const double t = std::chrono::duration<double>(Clock::now() - start_).count();
        if (enabled_ && terminal_ && t >= 1.0) {
            const int width = 30;
            int fill = total_ ? static_cast<int>(width * done_ / total_) : width;
            std::fprintf(
                stderr, "\r[%s%s] %zu/%zu %-40.40s %6.1f s", std::string(size_t(fill), '#').c_str(),
                std::string(size_t(width - fill), '.').c_str(), done_, total_, label_.c_str(), t);
            std::fflush(stderr);
            drawn_ = true;
        } else if (enabled_ && !terminal_ && t >= nextLine_) {
            if (nextLine_ > 0)
                std::fprintf(stderr, "vulmora-host: %.0f s, %zu of %zu entry points done%s%s\n", t,
                             done_, total_, label_.empty() ? "" : "; running ", label_.c_str());
            nextLine_ += 10.0;
        }
        label_.clear();
    }
    void finish() {
        if (drawn_) std::fprintf(stderr, "\r%-110s\r", "");
    }

  private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point start_ = Clock::now();
    size_t total_, done_ = 0;
    bool enabled_, terminal_, drawn_ = false;
    double nextLine_ = 0;
    std::string label_;
};

// ---- the library and the size of the run ----------------------------------------

// --library as given, else the first default candidate that exists.
bool chooseLibrary(Options &o, std::string &error) {
    std::error_code ec;
    if (o.library.empty()) {
        for (const std::string &c : defaultLibraryCandidates())
            if (fs::is_regular_file(c, ec)) {
                o.library = c;
                break;
            }
        if (o.library.empty()) {
            error = "no default library found (build the target vulmora_examples, or give "
                    "--library)";
            return false;
        }
    }
    const fs::file_status st = fs::status(o.library, ec);
    const std::string shown = o.library.size() > 200 ? o.library.substr(0, 200) + "..." : o.library;
    if (!fs::exists(st) && (!ec || ec == std::errc::no_such_file_or_directory))
        return error = "no such library: " + shown, false;
    if (ec) return error = "--library " + shown + ": " + ec.message(), false;
    if (!fs::is_regular_file(st)) return error = "--library " + shown + " is not a file", false;
    o.library = fs::absolute(o.library, ec).lexically_normal().string();
    return !ec || (error = "--library: " + ec.message(), false);
}

// Bytes per node and per element of the sample with every field filled
// (mesh, depth and its class, two time levels, microstructure; per element
// its type, material, volume, kind, connectivity and integration points):
// a worker fills only what its entry point reads, at most this.
constexpr double kSampleBytesPerNode = 3 * 8 + 4 + 4 + 21 * 4 + 5 * 8;
constexpr double kSampleBytesPerElement = 4 * 4 + 8 + 8 * 4 + 8 * (1 + 1 + 6) * 4;
constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;

// Refuse a run that cannot fit: memory (the parent's sample and the values
// of `entries` entry points, each worker's sample and a step's values),
// then, unless `diskEntries` is 0, the scratch folder (the workers' result
// files) and the output files of that many entry points.
bool checkSize(const Options &o, size_t entries, size_t diskEntries, const std::string &scratchDir,
               std::string &error) {
    const double nnod = std::pow(double(o.nodesPerSide), 3);
    const double nel = std::pow(double(o.nodesPerSide - 1), 3);
    const double sample = nnod * kSampleBytesPerNode + nel * kSampleBytesPerElement;
    const double values = nnod * o.steps * 8.0;
    const double workers = std::min<double>(o.jobs, double(entries) + 1);
    const double memory = sample + double(entries) * values + workers * (sample + 2 * nnod * 8.0);
    const double available = double(platform::availableMemory());
    char buf[256];
    if (available > 0 && memory > 0.9 * available) {
        std::snprintf(buf, sizeof buf,
                      "the run needs about %.1f GiB of memory and %.1f GiB are available: use "
                      "fewer nodes, steps or --jobs",
                      memory / kGiB, available / kGiB);
        return error = buf, false;
    }
    if (diskEntries == 0) return true;
    // Every worker's result file stays until the run ends.
    const double scratch = (double(diskEntries) + 1) * (values + 4096);
    const double scratchFree = double(platform::freeDiskSpace(scratchDir));
    if (scratch > scratchFree) {
        std::snprintf(buf, sizeof buf,
                      "the workers' results need about %.1f GiB in %s and %.1f GiB are free",
                      scratch / kGiB, scratchDir.c_str(), scratchFree / kGiB);
        return error = buf, false;
    }
    if (o.writeOutput) {
        // Text: ~130 bytes per CSV row, ~150 + 14 per entry point per VTU node.
        double written = 0;
        for (int s = 1; s <= o.steps; ++s)
            written += stepWritten(o, s);
        const double files = double(diskEntries) * nnod * written * 130.0 +
                             written * (nnod * (150.0 + 14.0 * double(diskEntries)) + nel * 60.0);
        const fs::path where = fs::absolute(o.output).parent_path();
        const double free = double(platform::freeDiskSpace(where.string()));
        if (files > free) {
            std::snprintf(buf, sizeof buf,
                          "the output files need about %.1f GiB in %s and %.1f GiB are free: use "
                          "fewer nodes or steps, or --no-output",
                          files / kGiB, where.string().c_str(), free / kGiB);
            return error = buf, false;
        }
    }
    return true;
}

// ---- the scratch folder ---------------------------------------------------------

// A private folder of this run for the workers' result files, removed with
// everything in it when the run ends.
class Scratch {
  public:
    bool make(std::string &error) {
        const std::string tmp = platform::tempDirectory(error);
        if (tmp.empty()) return false;
        dir_ = platform::makePrivateFolder(tmp, "vulmora-host-", error);
        return !dir_.empty();
    }
    ~Scratch() {
        std::error_code ec;
        if (!dir_.empty()) fs::remove_all(dir_, ec);
    }
    const std::string &dir() const { return dir_; }

  private:
    std::string dir_;
};

// ---- workers ----------------------------------------------------------------------

// One worker: its command, its result file (made here) and what it ended as.
struct Worker {
    std::string name;              // entry point, "externalcompute" or "survey"
    std::string tag;               // added to the result file's name: a check's worker
    std::vector<std::string> args; // options of a check's worker; else the run's
    ResultShape shape;
    std::string path;
    platform::FileHandle file = -1;
    // The time limit: the calls counted and the phase when last seen.
    int64_t lastCalls = -1;
    int32_t lastPhase = -1, step = 0;
    std::chrono::steady_clock::time_point since;
    bool timedOut = false;
    platform::RunResult run;
    ~Worker() { platform::closeFile(file); }
};

// The command line of the worker `w`.
std::vector<std::string> workerCommand(const std::string &self, const Options &o, const Worker &w) {
    std::vector<std::string> args = {self, "--worker", w.name, "--result", w.path};
    for (const std::string &a : w.args.empty() ? sampleArguments(o) : w.args)
        args.push_back(a);
    return args;
}

// True when the worker has spent longer than the limit in one user call
// (or in loading the library): its position has not moved since.
bool overTime(const Options &o, Worker &w) {
    ResultHeader h;
    if (!platform::readAt(w.file, &h, sizeof h, 0)) return false;
    const auto now = std::chrono::steady_clock::now();
    w.step = h.step;
    if (h.calls != w.lastCalls || h.phase != w.lastPhase) {
        w.lastCalls = h.calls, w.lastPhase = h.phase, w.since = now;
        return false;
    }
    if (o.timeLimit <= 0) return false;
    const bool user = isUserPhase(static_cast<Phase>(h.phase)) &&
                      h.state == static_cast<int32_t>(WorkerState::Running);
    w.timedOut = user && std::chrono::duration<double>(now - w.since).count() > o.timeLimit;
    return w.timedOut;
}

// Make every worker's result file, run them, keep how each ended. False
// when interrupted; `finished(k)` is called as worker k ends.
bool runWorkers(const Options &o, const std::string &self, const std::string &scratch,
                std::vector<std::unique_ptr<Worker>> &workers, Progress *bar, std::string &error) {
    std::vector<std::vector<std::string>> jobs;
    for (auto &w : workers) {
        w->path = (fs::path(scratch) / (w->name + w->tag + ".bin")).string();
        w->file = platform::createExclusive(w->path, w->shape.bytes(), error);
        if (w->file == -1) return false;
        const ResultHeader h = initialHeader(w->shape);
        // The header (and the counters' magic after it) goes in through a
        // mapping of our own, unmapped at once.
        const vulmora_probe probe = initialProbe();
        void *map = platform::mapShared(w->file, kResultHeaderSize, error);
        if (!map) return error = w->path + ": " + error, false;
        std::memcpy(map, &h, sizeof h);
        std::memcpy(static_cast<char *>(map) + VULMORA_PROBE_OFFSET, &probe, sizeof probe);
        platform::unmap(map, kResultHeaderSize);
        jobs.push_back(workerCommand(self, o, *w));
    }
    return platform::runMany(
        jobs, o.jobs,
        [&](size_t k, platform::RunResult &run) {
            workers[k]->run = std::move(run);
            if (bar) bar->finished();
        },
        [&](size_t k) {
            const bool over = overTime(o, *workers[k]);
            if (bar) bar->running(workers[k]->name, workers[k]->step, o.steps);
            return over;
        },
        [&] {
            if (bar) bar->draw();
        });
}

// ---- how a worker ended ---------------------------------------------------------

// Where the worker was, in words.
std::string where(const WorkerResult &r) {
    const std::string s = "step " + std::to_string(r.step);
    switch (r.phase) {
    case Phase::Load:
        return "while the library was loading (in its constructors)";
    case Phase::Unload:
        return "after the last call, while the process ended (in the library's destructors or "
               "exit handlers)";
    case Phase::External:
        return s + ", in func_externalcompute";
    case Phase::Registration:
        return s + ", node " + std::to_string(r.node) + " (registration call, location = -1)";
    case Phase::Call:
        return s + ", node " + std::to_string(r.node);
    case Phase::Setup:
    case Phase::Between:
        break;
    }
    return "in the emulator's own work at " + s;
}

// How the worker of `name` ended, from its result file, exit status and
// output. A stop at the very first call that printed exactly the
// template's line is a placeholder. Nothing the worker wrote is used
// before it is checked; a worker that fails outside user code is the
// emulator's failure, never the library's.
Outcome classify(Worker &w, bool named) {
    Outcome r;
    r.name = w.name;
    platform::RunResult &run = w.run;
    if (!run.started) {
        r.status = Outcome::EmulatorError;
        r.detail = "cannot start the worker: " + run.error;
        r.failure = true;
        return r;
    }
    r.printed = run.out.text();
    r.errors = run.err.text();
    r.printedBytes = run.out.total;
    r.peakBytes = run.peakBytes;
    r.errorBytes = run.err.total;
    r.exited = run.exited;
    r.exitStatus = run.status;
    std::string error;
    const bool valid = readResult(w.file, w.shape, r.result, error);
    const WorkerResult &res = r.result;
    if (!valid) {
        r.status = Outcome::Error;
        r.detail = error;
    } else if (w.timedOut) {
        r.status = Outcome::TimedOut;
    } else if (run.killed) {
        r.status = Outcome::EmulatorError;
        r.detail = "the worker was ended by the emulator";
    } else if (res.modifiedArray >= 0) {
        r.status = Outcome::Modified;
    } else if (res.state == WorkerState::SetupFailed || res.state == WorkerState::LoadFailed) {
        r.status = Outcome::EmulatorError;
        r.detail = res.message;
    } else if (!isUserPhase(res.phase)) {
        r.status = Outcome::EmulatorError;
        r.detail = std::string("the worker ") +
                   (run.exited ? "ended with exit status " + std::to_string(run.status)
                               : "died of " + platform::signalName(run.status)) +
                   " " + where(res);
    } else if (!run.exited) {
        r.status = Outcome::Crashed;
    } else if (res.state == WorkerState::Complete && run.status == 0) {
        r.status = Outcome::Ok; // the caller checks the values
    } else {
        const bool firstCall = res.step == 1 && res.calls == 1 &&
                               (res.phase == Phase::Call || res.phase == Phase::Registration);
        r.status = firstCall && run.status == 1 && run.out.complete() &&
                           r.printed == placeholderLine(w.name)
                       ? Outcome::Placeholder
                       : Outcome::Stopped;
    }
    r.failure = r.status != Outcome::Ok && (r.status != Outcome::Placeholder || named);
    return r;
}

// ---- the report ---------------------------------------------------------------------

// The re-run command for one call.
std::string rerun(const Options &o, const std::string &name, int node, int step) {
    std::string c = "vulmora-host --library '" + o.library + "' --functions " + name + " --node " +
                    std::to_string(node) + " --step " + std::to_string(step);
    if (o.nodesPerSide != Options{}.nodesPerSide)
        c += " --nodes-per-side " + std::to_string(o.nodesPerSide);
    if (o.steps != Options{}.steps) c += " --steps " + std::to_string(o.steps);
    return c;
}

// Write the selectors `u` into this program's own copy of the block, for
// the library's converters that it links.
void selectUnits(const Units &u) {
#define VHOST_SELECT(member, variable, code, fallback, label, alias) variable = u.member;
    VHOST_UNIT_SELECTORS(VHOST_SELECT)
#undef VHOST_SELECT
}

// A value in the user's units, converted by the library's own converter
// with the run's selectors (the emulator links the converter: no user code).
Units gUnits;
double userUnit(int code, double x) {
    selectUnits(gUnits);
    return fconvertFromCGS(code, x);
}

// A value in the user's units `u` converted to the internal unit.
double toInternal(int code, const Units &u, double x) {
    selectUnits(u);
    return fconvertToCGS(code, x);
}

// The report of one failure: what, where, what it printed, the fields there.
std::string problem(const Outcome &e, const Options &o, Sample &sample) {
    std::string t = "func_" + e.name + ": ";
    const WorkerResult &r = e.result;
    const bool atNode = r.phase == Phase::Call || r.phase == Phase::Registration;
    int node = 0, step = 0;
    switch (e.status) {
    case Outcome::NonFinite: {
        const char *v = std::isnan(e.badValue) ? "NaN" : e.badValue > 0 ? "+infinity" : "-infinity";
        t += "returned " + std::string(v) + " at step " + std::to_string(e.badStep) + ", node " +
             std::to_string(e.badNode);
        if (e.nonFinite > 1)
            t += " (non-finite at " + std::to_string(e.nonFinite) + " calls in all)";
        t += "\n";
        Unmarked kind;
        int index = 0;
        if (decodeUnmarked(e.badValue, kind, index))
            t += "  the NaN is the one local mode returns for " + unmarkedName(kind, index) +
                 ": the registration call (location = -1) did not read it, so the solver gives "
                 "it no slot and the function would read another quantity's value; read every "
                 "quantity in registration mode, in every branch\n";
        node = e.badNode, step = e.badStep;
        break;
    }
    case Outcome::Placeholder:
        return t + "is the template's placeholder: it stopped with exit status 1 printing " +
               escaped(e.printed) + "\n";
    case Outcome::Stopped:
        t += "stopped the process with exit status " + std::to_string(e.exitStatus) + " " +
             (atNode ? "at " : "") + where(r) + ", printing " + escaped(e.printed) + "\n";
        break;
    case Outcome::Crashed:
        t += "crashed (" + platform::signalName(e.exitStatus) + ") " + (atNode ? "at " : "") +
             where(r) + (e.printed.empty() ? "\n" : ", printing " + escaped(e.printed) + "\n");
        break;
    case Outcome::TimedOut:
        t += "took longer than the time limit of " + std::to_string(int(o.timeLimit)) +
             " s in one call and was ended, " + (atNode ? "at " : "") + where(r) + "\n";
        break;
    case Outcome::Modified:
        t += "modified the host's array " + std::string(kGuardedArrays[r.modifiedArray]) +
             " (entry " + std::to_string(r.modifiedEntry) + ") " + (atNode ? "at " : "") +
             where(r) + "; the host's arrays are input, read-only for user code\n";
        break;
    default:
        return t + (e.detail.empty() ? "failed" : e.detail) + "\n";
    }
    if (e.status != Outcome::NonFinite && atNode) node = r.node;
    if (e.status != Outcome::NonFinite) step = r.step;
    if (!e.errors.empty()) t += "  it wrote on stderr:\n" + lastLines(e.errors, 10, "    | ");
    if (node > 0 && step > 0) {
        sample.setStep(step);
        const EntryPoint *ep = findEntryPoint(e.name);
        const bool mechanical = ep && ep->mode == CallMode::Mechanical;
        t += "  the fields there:\n" + describeNode(sample, node, userUnit, mechanical);
        t += "  re-run that call: " + rerun(o, e.name, node, step) + "\n";
    }
    return t;
}

// What the entry points printed without failing: a few lines each, the
// whole text in the output folder.
std::string printedReport(const std::vector<Outcome> &outcomes, bool files) {
    std::string t;
    for (const Outcome &e : outcomes) {
        if (e.failure || e.status == Outcome::Placeholder) continue;
        auto stream = [&](const char *what, const std::string &text, uint64_t bytes,
                          const char *file) {
            if (text.empty()) return;
            t += "func_" + e.name + " printed " + std::to_string(bytes) + " bytes on " + what;
            t += files ? " (in " + e.name + file + "); the last lines:\n" : "; the last lines:\n";
            t += lastLines(text, 5, "  | ");
        };
        stream("stdout", e.printed, e.printedBytes, ".stdout.txt");
        stream("stderr", e.errors, e.errorBytes, ".stderr.txt");
    }
    return t;
}

// ---- the run --------------------------------------------------------------------------

// The exit status of an interrupted run, after saying so.
int interruptedStatus() {
    const int sig = platform::interrupted();
    std::fprintf(stderr,
                 "vulmora-host: interrupted by %s: the run is incomplete and no results "
                 "were written\n",
                 platform::signalName(sig).c_str());
    return 128 + sig;
}

// The survey: load the library in a worker and list its entry points. A
// library whose loading crashes, stops or hangs is the user's fault (1),
// one that cannot be loaded at all a usage error (2). 0 when it loaded.
int survey(const Options &o, const std::string &self, const std::string &scratch,
           WorkerResult &found, std::string &loadOutput) {
    std::vector<std::unique_ptr<Worker>> one;
    one.push_back(std::make_unique<Worker>());
    Worker &w = *one.front();
    w.name = "survey";
    w.shape.kind = WorkerKind::Survey;
    w.shape.nnod = int64_t(o.nodesPerSide) * o.nodesPerSide * o.nodesPerSide;
    w.shape.steps = o.steps;
    std::string error;
    if (!runWorkers(o, self, scratch, one, nullptr, error)) {
        if (platform::interrupted()) return interruptedStatus();
        std::fprintf(stderr, "vulmora-host: %s\n", error.c_str());
        return 2;
    }
    Outcome r = classify(w, true);
    loadOutput = r.printed;
    found = r.result;
    if (r.status == Outcome::EmulatorError && r.result.state == WorkerState::LoadFailed) {
        std::fprintf(stderr, "vulmora-host: %s\n", r.result.message.c_str());
        return 2;
    }
    if (r.status == Outcome::Ok) return 0;
    std::string why;
    switch (r.status) {
    case Outcome::Crashed:
        why = "crashed (" + platform::signalName(r.exitStatus) + ")";
        break;
    case Outcome::TimedOut:
        why = "took longer than the time limit of " + std::to_string(int(o.timeLimit)) + " s";
        break;
    case Outcome::Stopped:
        why = "ended the process with exit status " + std::to_string(r.exitStatus);
        break;
    default:
        why = "failed: " + r.detail;
    }
    std::printf("Problems:\nthe library %s while loading (in its constructors)%s\n", why.c_str(),
                r.printed.empty() ? "" : (", printing " + escaped(r.printed)).c_str());
    if (!r.errors.empty())
        std::printf("  it wrote on stderr:\n%s", lastLines(r.errors, 10, "    | ").c_str());
    std::printf("0 entry points evaluated: the library cannot be used\n");
    return r.status == Outcome::EmulatorError ? 2 : 1;
}

// What a checking worker ended as, when it returned no values.
std::string checkFailure(const Outcome &r) {
    switch (r.status) {
    case Outcome::Stopped:
        return "stopped the process with exit status " + std::to_string(r.exitStatus) +
               ", printing " + escaped(r.printed, 200);
    case Outcome::Crashed:
        return "crashed (" + platform::signalName(r.exitStatus) + ")";
    case Outcome::TimedOut:
        return "took longer than the time limit";
    case Outcome::Modified:
        return "modified the host's arrays";
    default:
        return r.detail.empty() ? "failed" : r.detail;
    }
}

// --check-units and --check-order: more workers for every entry point that
// returned values, each evaluating it differently, compared with its run.
// The findings go into `report`, counted in `found`; false (with `error`)
// when the workers could not be run.
bool runChecks(const Options &o, const std::string &self, const std::string &scratch,
               const std::vector<Outcome> &outcomes, const std::vector<uint8_t> &nodeMaterial,
               std::string &report, size_t &found, std::string &notes, double &inCalls,
               std::string &error) {
    struct Check {
        size_t outcome;
        int variant; // index into the entry's unit variants; -1: the order check
    };
    std::vector<std::unique_ptr<Worker>> workers;
    std::vector<Check> checks;
    std::vector<std::vector<UnitVariant>> variants(outcomes.size());
    const int64_t nnod = int64_t(o.nodesPerSide) * o.nodesPerSide * o.nodesPerSide;
    // variant >= 0: a unit variant; kOrder: shuffled and repeated; kCost: a smaller mesh.
    constexpr int kOrder = -1, kCost = -2;
    auto add = [&](const Outcome &e, size_t k, int variant, const Options &how) {
        auto w = std::make_unique<Worker>();
        w->name = e.name;
        w->tag = variant == kOrder  ? ".order"
                 : variant == kCost ? ".cost"
                                    : ".units" + std::to_string(variant);
        w->args = sampleArguments(how);
        w->shape = ResultShape::values(variant == kOrder ? WorkerKind::Order : WorkerKind::Entry,
                                       static_cast<int32_t>(findEntryPoint(e.name) - kEntryPoints),
                                       how.nodesPerSide, how.steps, how.materials);
        if (variant == kOrder) w->args.insert(w->args.end(), {"--order-seed", "7"});
        workers.push_back(std::move(w));
        checks.push_back({k, variant});
    };
    Options small = o;
    small.nodesPerSide = std::max(4, o.nodesPerSide / 2);
    const double fewer = double(nnod) / std::pow(double(small.nodesPerSide), 3);
    for (size_t k = 0; k < outcomes.size(); ++k) {
        const Outcome &e = outcomes[k];
        if (!e.hasValues() || e.result.values.empty()) continue;
        if (o.checkUnits) {
            variants[k] = unitVariants(o.units, returnedQuantity(e.name));
            for (size_t j = 0; j < variants[k].size(); ++j) {
                Options v = o;
                v.units = variants[k][j].units;
                add(e, k, static_cast<int>(j), v);
            }
        }
        if (o.checkOrder) add(e, k, kOrder, o);
        if (o.checkCost && small.nodesPerSide < o.nodesPerSide) add(e, k, kCost, small);
    }
    Progress bar(workers.size(), !o.quiet, platform::stderrIsTerminal());
    const bool completed = runWorkers(o, self, scratch, workers, &bar, error);
    bar.finish();
    if (!completed) return false;
    std::vector<bool> flagged(outcomes.size());
    size_t changed = 0;
    for (size_t j = 0; j < workers.size(); ++j) {
        const Outcome &base = outcomes[checks[j].outcome];
        const Outcome r = classify(*workers[j], true);
        inCalls += r.result.cpuSeconds;
        const int variant = checks[j].variant;
        const std::string how = variant == kOrder ? "in a shuffled order of the nodes"
                                : variant == kCost
                                    ? "on a smaller mesh"
                                    : "under " + variants[checks[j].outcome][size_t(variant)].label;
        std::string text;
        if (variant == kCost) {
            // A note, not a failure: timings on a shared machine vary.
            // Processor time, which a busy machine does not stretch; the
            // wall clock where that is too coarse to have counted.
            const bool cpu = base.result.cpuSeconds > 0 && r.result.cpuSeconds > 0;
            const double t = cpu ? base.result.cpuSeconds : base.result.seconds;
            const double tSmall = cpu ? r.result.cpuSeconds : r.result.seconds;
            if (r.status == Outcome::Ok && r.result.calls > 0 && base.result.calls > 0)
                notes += costNote(base.name, t / double(base.result.calls),
                                  tSmall / double(r.result.calls), fewer);
            continue;
        }
        if (r.status != Outcome::Ok || r.result.values.empty()) {
            text = "func_" + base.name + " " + how + ": " + checkFailure(r) + " " +
                   where(r.result) + "\n";
        } else if (variant == kOrder) {
            for (const Finding &f :
                 checkOrder(base.name, base.result.values, r.result.values, nodeMaterial)) {
                const bool shuffled = f.what.find("shuffled") != std::string::npos;
                text += findingText(f, shuffled ? "in node order" : "first call",
                                    shuffled ? "shuffled" : "second call");
            }
        } else {
            const UnitVariant &v = variants[checks[j].outcome][size_t(variant)];
            Finding f;
            if (checkUnits(base.name, o.units, base.result.values, v, r.result.values, nodeMaterial,
                           toInternal, f)) {
                text = findingText(f, baseLabel(o.units, v).c_str(), v.label.c_str());
                char raw[160];
                std::snprintf(raw, sizeof raw,
                              "  (in the host's units; as returned: %.17g and %.17g)\n", f.firstRaw,
                              f.secondRaw);
                if (returnedQuantity(base.name) != kNotConverted) text += raw;
            }
        }
        if (text.empty()) continue;
        report += text;
        if (!flagged[checks[j].outcome]) ++found, ++changed;
        flagged[checks[j].outcome] = true;
    }
    if (changed == 0 && (o.checkUnits || o.checkOrder))
        report += std::string(o.checkUnits ? "unit check" : "") +
                  (o.checkUnits && o.checkOrder ? " and " : "") +
                  (o.checkOrder ? "order check" : "") + ": no entry point changed\n";
    return true;
}

// --expect: the values outside the plausible range of their entry point.
void checkExpectations(const Options &o, const std::vector<Outcome> &outcomes,
                       const std::vector<uint8_t> &nodeMaterial, std::string &report,
                       size_t &found) {
    for (const Options::Expectation &x : o.expect) {
        const Outcome *e = nullptr;
        for (const Outcome &c : outcomes)
            if (c.name == x.entry) e = &c;
        if (!e || !e->hasValues() || e->result.values.empty()) {
            report += "func_" + x.entry + ": --expect given, but it returned no values\n";
            ++found;
            continue;
        }
        Finding f;
        if (!checkRange(x.entry, x.lo, x.hi, e->result.values, nodeMaterial, f)) continue;
        char buf[400];
        std::snprintf(buf, sizeof buf,
                      "func_%s: %lld values outside the expected range %g to %g; the first at "
                      "node %d, step %d: %.17g\n",
                      x.entry.c_str(), static_cast<long long>(f.count), x.lo, x.hi, f.node, f.step,
                      f.first);
        report += buf;
        ++found;
    }
}

// Evaluate, tabulate, write; the exit status says whether anything failed.
int runAll(Options &o, const char *argv0) {
    platform::catchInterrupts();
    gUnits = o.units;
    std::string error;
    Scratch scratch;
    if (!scratch.make(error)) {
        std::fprintf(stderr, "vulmora-host: %s\n", error.c_str());
        return 2;
    }
    OutputFolder out;
    if (o.writeOutput && !out.claim(o.output, error)) {
        std::fprintf(stderr, "vulmora-host: %s\n", error.c_str());
        return 2;
    }
    // The memory for one entry point's values at least, again once the
    // library's entry points are known; the disks for all it may have.
    if (!checkSize(o, 1, o.functionsGiven ? o.functions.size() : std::size(kEntryPoints),
                   scratch.dir(), error)) {
        std::fprintf(stderr, "vulmora-host: %s\n", error.c_str());
        return 2;
    }
    Reference reference;
    if (!o.compare.empty() && !readReferenceDescription(o.compare, reference, error)) {
        std::fprintf(stderr, "vulmora-host: %s\n", error.c_str());
        return 2;
    }
    std::string self = platform::executablePath();
    if (self.empty()) self = fs::absolute(argv0).string();
    if (!o.quiet)
        std::printf("vulmora-host: %s\nsample: %d nodes (%d per side), %d elements, %d steps\n",
                    o.library.c_str(), o.nodesPerSide * o.nodesPerSide * o.nodesPerSide,
                    o.nodesPerSide,
                    (o.nodesPerSide - 1) * (o.nodesPerSide - 1) * (o.nodesPerSide - 1), o.steps);
    std::fflush(stdout);

    WorkerResult exports;
    std::string loadOutput;
    if (int status = survey(o, self, scratch.dir(), exports, loadOutput)) return status;

    // Every exported entry point, then func_externalcompute on its own.
    std::vector<std::string> names = o.functions;
    if (!o.functionsGiven)
        for (size_t k = 0; k < std::size(kEntryPoints); ++k)
            if (exports.exported[k]) names.push_back(kEntryPoints[k].name);
    std::vector<Outcome> outcomes(names.size());
    std::vector<std::unique_ptr<Worker>> workers;
    std::vector<size_t> outcomeOf;
    const int64_t nnod = int64_t(o.nodesPerSide) * o.nodesPerSide * o.nodesPerSide;
    auto addWorker = [&](const std::string &name, WorkerKind kind, size_t k) {
        auto w = std::make_unique<Worker>();
        w->name = name;
        w->shape.kind = kind;
        w->shape.nnod = nnod;
        w->shape.steps = o.steps;
        if (kind == WorkerKind::Entry)
            w->shape =
                ResultShape::values(kind, static_cast<int32_t>(findEntryPoint(name) - kEntryPoints),
                                    o.nodesPerSide, o.steps, o.materials);
        workers.push_back(std::move(w));
        outcomeOf.push_back(k);
    };
    for (size_t k = 0; k < names.size(); ++k) {
        outcomes[k].name = names[k];
        const uint8_t exported =
            exports.exported[static_cast<size_t>(findEntryPoint(names[k]) - kEntryPoints)];
        if (exported == 2) { // the survey saw it stop at once with the template's line
            outcomes[k].status = Outcome::Placeholder;
            outcomes[k].printed = placeholderLine(names[k]);
            outcomes[k].exited = true;
            outcomes[k].exitStatus = 1;
            outcomes[k].failure = o.functionsGiven;
        } else if (exported) {
            addWorker(names[k], WorkerKind::Entry, k);
        } else {
            outcomes[k].status = Outcome::NotExported;
            outcomes[k].failure = true;
        }
    }
    if (exports.exportsExternal) {
        outcomes.emplace_back().name = "externalcompute";
        addWorker("externalcompute", WorkerKind::External, outcomes.size() - 1);
    }
    if (!checkSize(o, workers.size(), 0, scratch.dir(), error)) {
        std::fprintf(stderr, "vulmora-host: %s\n", error.c_str());
        return 2;
    }
    Progress bar(workers.size(), !o.quiet, platform::stderrIsTerminal());
    const bool completed = runWorkers(o, self, scratch.dir(), workers, &bar, error);
    bar.finish();
    if (!completed) {
        if (platform::interrupted()) return interruptedStatus();
        std::fprintf(stderr, "vulmora-host: %s\n", error.c_str());
        return 2;
    }

    Sample sample(o.nodesPerSide, o.steps);
    sample.stressScale = o.stressScale;
    const std::vector<uint8_t> selected = selectedNodes(sample, o);
    std::vector<uint8_t> nodeMaterial(selected.size());
    for (size_t i = 0; i < selected.size(); ++i)
        nodeMaterial[i] = selected[i] ? (sample.inCasting(static_cast<int>(i)) ? 1 : 2) : 0;
    for (size_t j = 0; j < workers.size(); ++j) {
        Outcome &r = outcomes[outcomeOf[j]];
        const bool named = o.functionsGiven || r.name == "externalcompute";
        r = classify(*workers[j], named);
        if (r.status == Outcome::Ok && !r.result.values.empty()) {
            computeStatistics(r, static_cast<int>(nnod), &nodeMaterial);
            r.status = r.nonFinite ? Outcome::NonFinite : Outcome::Ok;
            r.failure = r.nonFinite > 0;
        }
    }
    workers.clear();

    std::string checkReport, costNotes;
    size_t checkFound = 0;
    double inCalls = 0; // processor time inside user calls, every worker's
    for (const Outcome &e : outcomes)
        inCalls += e.result.cpuSeconds;
    checkExpectations(o, outcomes, nodeMaterial, checkReport, checkFound);
    if ((o.checkUnits || o.checkOrder || o.checkCost) &&
        !runChecks(o, self, scratch.dir(), outcomes, nodeMaterial, checkReport, checkFound,
                   costNotes, inCalls, error)) {
        if (platform::interrupted()) return interruptedStatus();
        std::fprintf(stderr, "vulmora-host: %s\n", error.c_str());
        return 2;
    }
    std::string compareReport;
    Comparison comparison;
    std::vector<ExtraField> extra;
    if (!o.compare.empty()) {
        const RunDescription current = describeRun(o, outcomes);
        if (shapeDifferences(reference.run, current).empty() &&
            !loadReferenceValues(reference, current.entries, error)) {
            std::fprintf(stderr, "vulmora-host: --compare: %s\n", error.c_str());
            return 2;
        }
        const Tolerance tol{o.rtol, o.atol};
        comparison = compareRuns(reference, current, outcomes, nodeMaterial, tol);
        compareReport = comparisonReport(comparison, reference, tol, sample);
        reference.values.clear();
        for (const EntryComparison &c : comparison.entries)
            if (!c.difference.empty())
                extra.push_back({"difference_func_" + c.name, &c.difference});
    }

    // Answers the accessors gave silently wrong, as the library counted them.
    std::string silent;
    for (const Outcome &e : outcomes) {
        if (!e.hasValues()) continue;
        const uint64_t *c = e.result.probe;
        if (!c[VULMORA_PROBE_OUT_OF_RANGE] && !c[VULMORA_PROBE_NODNUM_MISS] &&
            !c[VULMORA_PROBE_UNSET_FIELD])
            continue;
        silent += "func_" + e.name + ":";
        if (c[VULMORA_PROBE_OUT_OF_RANGE])
            silent += " " + std::to_string(c[VULMORA_PROBE_OUT_OF_RANGE]) +
                      " accessor calls with a node or element number out of range (they "
                      "returned 0);";
        if (c[VULMORA_PROBE_NODNUM_MISS])
            silent += " " + std::to_string(c[VULMORA_PROBE_NODNUM_MISS]) +
                      " nodNum calls that found no node (they returned 0);";
        if (c[VULMORA_PROBE_UNSET_FIELD])
            silent += " " + std::to_string(c[VULMORA_PROBE_UNSET_FIELD]) +
                      " reads of fields the host did not set (they returned 0);";
        silent.back() = '\n';
    }
    const std::string table = summaryTable(outcomes, o.materials == 3);
    std::string problems;
    size_t ok = 0, placeholders = 0, failed = 0, emulator = 0;
    for (const Outcome &e : outcomes) {
        ok += e.status == Outcome::Ok;
        placeholders += e.status == Outcome::Placeholder && !e.failure;
        failed += e.failure && e.status != Outcome::EmulatorError;
        emulator += e.status == Outcome::EmulatorError;
        if (e.failure) problems += problem(e, o, sample);
    }
    std::string verdict = std::to_string(outcomes.size()) + " entry points: " + std::to_string(ok) +
                          " ok, " + std::to_string(placeholders) +
                          " placeholders (not implemented), " + std::to_string(failed) + " failed";
    if (emulator) verdict += ", " + std::to_string(emulator) + " not evaluated (emulator error)";
    verdict += "\n";
    if (o.checkUnits || o.checkOrder || !o.expect.empty())
        verdict += "checks: " + std::to_string(checkFound) +
                   (checkFound == 1 ? " problem found\n" : " problems found\n");
    if (!o.compare.empty())
        verdict += std::string("comparison with the reference: ") +
                   (comparison.failed() ? "differs" : "no difference beyond the tolerance") + "\n";
    // The memory the run took: this process, and the largest worker.
    const Outcome *largest = nullptr;
    for (const Outcome &e : outcomes)
        if (!largest || e.peakBytes > largest->peakBytes) largest = &e;
    char memory[256];
    std::snprintf(
        memory, sizeof memory, "peak memory: emulator %.0f MB, largest worker %.0f MB%s\n",
        double(platform::peakMemory()) / 1e6, largest ? double(largest->peakBytes) / 1e6 : 0.0,
        largest ? (" (" + fieldName(*largest) + ")").c_str() : "");
    // How much of the run was the user's code: processor time, which
    // counts the workers that ran side by side.
    const double cpu = platform::processorSeconds();
    char time[256];
    std::snprintf(time, sizeof time,
                  "processor time: %.2f s, of which %.2f s inside user calls (%.0f %%)\n", cpu,
                  inCalls, cpu > 0 ? 100.0 * std::min(inCalls / cpu, 1.0) : 0.0);
    const std::string printed = printedReport(outcomes, o.writeOutput);
    std::string loadNote;
    if (!loadOutput.empty())
        loadNote = "the library printed " + std::to_string(loadOutput.size()) +
                   " bytes while loading:\n" + lastLines(loadOutput, 5, "  | ");
    if (!o.quiet) std::printf("\n%s\n", table.c_str());
    if (!o.quiet && !(printed + loadNote).empty())
        std::printf("Output:\n%s%s\n", loadNote.c_str(), printed.c_str());
    if (!problems.empty()) std::printf("Problems:\n%s\n", problems.c_str());
    if (!silent.empty()) std::printf("Silent answers:\n%s\n", silent.c_str());
    if (!checkReport.empty()) std::printf("Checks:\n%s\n", checkReport.c_str());
    if (o.checkCost)
        std::printf("Cost:\n%s\n", costNotes.empty()
                                       ? "no entry point's time per call grows with the mesh\n"
                                       : costNotes.c_str());
    if (!compareReport.empty()) std::printf("%s\n", compareReport.c_str());
    std::printf("%s", verdict.c_str());
    if (!o.quiet) std::printf("%s%s", memory, time);
    std::fflush(stdout);
    const bool checksFailed = checkFound > 0 || comparison.failed();
    int status = emulator ? 2 : failed || checksFailed ? 1 : 0;
    if (o.writeOutput) {
        std::string notes;
        const std::string summary =
            table + "\n" + problems + (silent.empty() ? "" : "Silent answers:\n" + silent + "\n") +
            (checkReport.empty() ? "" : "Checks:\n" + checkReport + "\n") +
            (costNotes.empty() ? "" : "Cost:\n" + costNotes + "\n") +
            (compareReport.empty() ? "" : compareReport + "\n") + verdict + memory + time;
        if (!writeOutputs(o, sample, outcomes, summary, loadOutput, out, notes, error, extra)) {
            if (platform::interrupted()) return interruptedStatus();
            std::fprintf(stderr, "vulmora-host: cannot write the results: %s\n", error.c_str());
            return std::max(status, 1);
        }
        if (!o.quiet) std::printf("%s", notes.c_str());
    }
    if (platform::interrupted()) return interruptedStatus();
    return status;
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
    if (o.version) {
        std::printf("vulmora-host %d.%d.%d\n", VULMORA_VERSION_MAJOR, VULMORA_VERSION_MINOR,
                    VULMORA_VERSION_PATCH);
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
    try {
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
    } catch (const std::exception &e) {
        // The last resort: one line, never an abort.
        std::fprintf(stderr, "vulmora-host: %s\n", e.what());
        return 2;
    }
}

// run_report.cpp - building the run's report and rendering it.
#include "run/run_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "checks/check.h"
#include "model/materials.h"
#include "model/caller.h"
#include "model/entries.h"
#include "model/sample.h"
#include "output/report.h"
#include "platform/system.h"

namespace vhost {

namespace {

// The re-run command for one call.
std::string rerun(const RunSettings &r, const std::string &name, int node, int step) {
    const SampleConfig &o = r.sample;
    if (!r.pathWords.empty()) { // the path made again, its point called
        std::string c = r.program;
        for (const std::string &w : r.pathWords)
            c += " " + platform::shellQuoted(w);
        return c + " --library " + platform::shellQuoted(o.library) + " --functions " + name +
               " --node " + std::to_string(node);
    }
    std::string c = r.program + " --library " + platform::shellQuoted(o.library) + " --functions " +
                    name + " --node " + std::to_string(node) + " --step " + std::to_string(step);
    if (o.nodesPerSide != SampleConfig{}.nodesPerSide)
        c += " --nodes-per-side " + std::to_string(o.nodesPerSide);
    if (o.steps != SampleConfig{}.steps) c += " --steps " + std::to_string(o.steps);
    return c;
}

// Why a quantity read in local mode but not in the registration call is wrong.
constexpr const char *kUnmarkedAdvice =
    "the registration call (location = -1) did not read it, so the solver gives it no slot and "
    "the function would read another quantity's value; read every quantity in registration "
    "mode, in every branch";

// The first line of a non-finite result, with the tagged NaN of local mode
// explained; its node and step.
std::string nonFiniteText(const Outcome &e) {
    const char *v = std::isnan(e.badValue) ? "NaN" : e.badValue > 0 ? "+infinity" : "-infinity";
    std::string t = "returned " + std::string(v) + " at step " + std::to_string(e.badStep) +
                    ", node " + std::to_string(e.badNode);
    if (e.nonFinite > 1) t += " (non-finite at " + std::to_string(e.nonFinite) + " calls in all)";
    t += "\n";
    Unmarked kind;
    int index = 0;
    if (decodeUnmarked(e.badValue, kind, index))
        t += "  the NaN is the one local mode returns for " + unmarkedName(kind, index) + ": " +
             kUnmarkedAdvice + "\n";
    return t;
}

// A local-mode read of an unmarked quantity whose NaN the function hid.
std::string unmarkedText(const Outcome &e) {
    const uint64_t n = e.result.silent[VULMORA_PROBE_UNMARKED];
    double first;
    std::memcpy(&first, &e.result.firstUnmarked, sizeof first);
    Unmarked kind;
    int index = 0;
    std::string what = "a quantity";
    if (decodeUnmarked(first, kind, index)) what = unmarkedName(kind, index);
    return "read " + what + " in local mode" +
           (n > 1 ? " (" + std::to_string(n) + " such reads in all)" : "") +
           " and turned the NaN it got into a number (a clamp or a NaN test?): " + kUnmarkedAdvice +
           "\n";
}

// What a failed worker did and where, on one line.
std::string endingText(const Outcome &e, const SampleConfig &o, bool atNode) {
    const std::string at = std::string(atNode ? "at " : "") + where(e.result);
    switch (e.status) {
    case Outcome::Stopped:
        return ending(e, o.timeLimit) + " " + at + ", printing " + escaped(e.printed) + "\n";
    case Outcome::Crashed:
        return ending(e, o.timeLimit) + " " + at +
               (e.printed.empty() ? "\n" : ", printing " + escaped(e.printed) + "\n");
    case Outcome::TimedOut:
        return ending(e, o.timeLimit) + " in one call and was ended, " + at + "\n";
    case Outcome::Modified:
        return ending(e, o.timeLimit) + " " +
               (e.result.modifiedUnguarded ? "during step " + std::to_string(e.result.step) +
                                                 ", after making it writable again (mprotect)"
                                           : at) +
               "; the host's arrays are input, read-only for user code\n";
    case Outcome::Forked:
        return ending(e, o.timeLimit) + " at step " + std::to_string(e.result.forkedStep) +
               ", node " + std::to_string(e.result.forkedNode) +
               "; the copy was ended when the call returned in it, but in the solver it would "
               "go on as a second solver: start a program with posix_spawn or system instead\n";
    default:
        return ending(e, o.timeLimit) + "\n";
    }
}

} // namespace

std::string problemText(const Outcome &e, const RunSettings &o, Sample &sample,
                        const UnitConverter &units) {
    std::string t = "func_" + e.name + ": ";
    const WorkerResult &r = e.result;
    const bool atNode = r.phase == Phase::Call || r.phase == Phase::Registration;
    int node = 0, step = 0;
    if (e.status == Outcome::Placeholder)
        return t + "is the template's placeholder: it stopped with exit status 1 printing " +
               escaped(e.printed) + "\n";
    if (e.status == Outcome::NonFinite) {
        t += nonFiniteText(e);
        node = e.badNode, step = e.badStep;
    } else if (e.status == Outcome::Unmarked) {
        return t + unmarkedText(e);
    } else if (e.status == Outcome::Stopped || e.status == Outcome::Crashed ||
               e.status == Outcome::TimedOut || e.status == Outcome::Modified) {
        t += endingText(e, o.sample, atNode);
        node = atNode ? r.node : 0, step = r.step;
    } else {
        return t + endingText(e, o.sample, atNode);
    }
    if (!e.errors.empty()) t += "  it wrote on stderr:\n" + lastLines(e.errors, 10, "    | ");
    if (node > 0 && step > 0) {
        sample.setStep(step);
        const EntryPoint *ep = findEntryPoint(e.name);
        const bool mechanical = ep && ep->mode == CallMode::Mechanical;
        const ToUserFn toUser = [&units](int code, double x) { return units.toUser(code, x); };
        t += "  the fields there:\n" +
             describeNode(sample, node, units.converts() ? toUser : ToUserFn(), mechanical);
        t += "  re-run that call: " + rerun(o, e.name, node, step) + "\n";
    }
    return t;
}

namespace {

// What the entry points printed without failing: a few lines each, the
// whole text in the output folder.
std::string printedText(const std::vector<Outcome> &outcomes, bool files) {
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

// Answers the accessors gave silently wrong, as the library counted them.
std::string silentText(const std::vector<Outcome> &outcomes) {
    std::string silent;
    for (const Outcome &e : outcomes) {
        if (!e.hasValues()) continue;
        std::string line;
        for (int k = 0; k < VULMORA_PROBE_EVENTS; ++k)
            if (const uint64_t n = e.result.silent[k])
                line += " " + std::to_string(n) + " " + kSilentAnswers[k] + ";";
        if (line.empty()) continue;
        line.back() = '\n';
        silent += "func_" + e.name + ":" + line;
        const WorkerResult &r = e.result;
        if (r.silent[VULMORA_PROBE_OUT_OF_RANGE] && !r.outOfRangeAccessor.empty())
            silent += "  the first: " + r.outOfRangeAccessor + "(" +
                      std::to_string(r.outOfRangeNumber) + ") at node " +
                      std::to_string(r.outOfRangeNode) + ", step " +
                      std::to_string(r.outOfRangeStep) + " (node and element numbers start at 1)\n";
    }
    return silent;
}

// The memory the run took: this process, and the largest worker.
std::string memoryLine(const std::vector<Outcome> &outcomes) {
    const Outcome *largest = nullptr;
    for (const Outcome &e : outcomes)
        if (!largest || e.peakBytes > largest->peakBytes) largest = &e;
    char memory[256];
    std::snprintf(
        memory, sizeof memory, "peak memory: emulator %.0f MB, largest worker %.0f MB%s\n",
        double(platform::peakMemory()) / 1e6, largest ? double(largest->peakBytes) / 1e6 : 0.0,
        largest ? (" (" + fieldName(*largest) + ")").c_str() : "");
    return memory;
}

// How much of the run was the user's code: processor time, which counts
// the workers that ran side by side; then where the rest went, per kind of
// process. Only this run's processes count.
std::string timeLine(const ProcessorTime &t) {
    const double cpu = t.parent + t.workers, inCalls = t.inCalls;
    const double own = std::max(0.0, t.workers - t.inCalls - t.filling);
    char time[512];
    std::snprintf(time, sizeof time,
                  "processor time: %.2f s, of which %.2f s inside user calls (%.0f %%)\n"
                  "  workers %.2f s: user calls %.2f s, filling the host's arrays %.2f s, "
                  "their own work %.2f s; this process %.2f s\n",
                  cpu, inCalls, cpu > 0 ? 100.0 * std::min(inCalls / cpu, 1.0) : 0.0, t.workers,
                  t.inCalls, t.filling, own, t.parent);
    return time;
}

} // namespace

namespace {

// The checks' findings: ranges first, then per entry point, then the
// checks of change that found none.
std::string checksText(const CheckFindings &f, const std::vector<std::unique_ptr<Check>> &checks) {
    std::string t = f.before;
    for (const std::string &entry : f.perEntry)
        t += entry;
    std::string labels;
    for (const auto &c : checks)
        if (c->changeLabel())
            labels += (labels.empty() ? "" : " and ") + std::string(c->changeLabel());
    if (f.changed == 0 && !labels.empty()) t += labels + ": no entry point changed\n";
    return t;
}

// How the entry points ended, counted for the verdict. With --functions
// only those asked for are counted; func_externalcompute, which runs as
// the solver runs it, is then said on its own (`external`).
struct Counts {
    size_t counted = 0, ok = 0, placeholders = 0, failed = 0, notEvaluated = 0;
    std::string external;
};

Counts countOutcomes(const std::vector<Outcome> &outcomes, bool externalAside) {
    Counts n;
    for (const Outcome &e : outcomes) {
        if (externalAside && e.name == "externalcompute") {
            n.external = e.status == Outcome::EmulatorError ? "not evaluated (emulator error)"
                         : e.failure                        ? "failed (above)"
                                                            : "ok";
            continue;
        }
        ++n.counted;
        n.ok += e.status == Outcome::Ok;
        n.placeholders += e.status == Outcome::Placeholder && !e.failure;
        n.failed += e.failure && e.status != Outcome::EmulatorError;
        n.notEvaluated += e.status == Outcome::EmulatorError;
    }
    return n;
}

// The closing lines: how the entry points ended, what the checks found.
std::string verdictText(const ReportInput &in, const Counts &n) {
    std::string v = std::to_string(n.counted) +
                    (n.counted == 1 ? " entry point: " : " entry points: ") + std::to_string(n.ok) +
                    " ok, " + std::to_string(n.placeholders) + " placeholders (not implemented), " +
                    std::to_string(n.failed) + " failed";
    if (n.notEvaluated)
        v += ", " + std::to_string(n.notEvaluated) + " not evaluated (emulator error)";
    v += "\n";
    if (!n.external.empty())
        v +=
            "func_externalcompute (called at every step, as the solver does): " + n.external + "\n";
    bool counted = false;
    for (const auto &c : in.checks)
        counted = counted || c->counted();
    if (counted)
        v += "checks: " + std::to_string(in.findings.found) +
             (in.findings.found == 1 ? " problem found\n" : " problems found\n");
    if (in.findings.warned)
        v += "warnings: " + std::to_string(in.findings.warned) +
             (in.findings.warned == 1 ? " entry point returns" : " entry points return") +
             " values outside their plausible range (--strict makes that a failure)\n";
    if (in.findings.contradictions)
        v += "warnings: " + std::to_string(in.findings.contradictions) +
             (in.findings.contradictions == 1 ? " rule" : " rules") +
             " between entry points broken (--strict makes that a failure)\n";
    if (in.findings.compared)
        v += std::string("comparison with the reference: ") +
             (in.findings.differs ? "differs" : "no difference beyond the tolerance") + "\n";
    return v;
}

} // namespace

namespace {

// The processor time a worker spent in user calls: that of its finished
// steps, and for one ended for its time, all it spent since its last step
// began (the call that did not return).
double userSeconds(const Outcome &r) {
    double s = r.result.cpuSeconds;
    if (r.status == Outcome::TimedOut) s += std::max(0.0, r.cpuSeconds - r.result.stepCpuStart);
    return s;
}

} // namespace

void ProcessorTime::count(const Outcome &r) {
    workers += r.cpuSeconds;
    inCalls += userSeconds(r);
    filling += r.result.fillCpuSeconds;
}

ExitStatus RunReport::status() const {
    if (notEvaluated) return ExitStatus::Usage;
    return failed || checksFailed ? ExitStatus::Failed : ExitStatus::Ok;
}

RunReport buildReport(const ReportInput &in) {
    const RunSettings &o = in.settings;
    RunReport r;
    r.table = summaryTable(in.outcomes, o.sample.materials == material::kAll);
    for (const Outcome &e : in.outcomes) {
        r.failed += e.failure && e.status != Outcome::EmulatorError;
        r.notEvaluated += e.status == Outcome::EmulatorError;
        if (e.failure) r.problems += problemText(e, o, in.sample, in.units);
    }
    if (!in.loadOutput.empty())
        r.printed = "the library printed " + std::to_string(in.loadOutput.size()) +
                    " bytes while loading:\n" + lastLines(in.loadOutput, 5, "  | ");
    r.printed += printedText(in.outcomes, o.output.write);
    r.silent = silentText(in.outcomes);
    r.notes = in.notes;
    for (const Outcome &e : in.outcomes)
        if (!e.refilled.empty())
            r.notes += "func_" + e.name +
                       ": a fault handler the library put in place during a call took the "
                       "emulator's fill-on-first-read fault (the worker " +
                       e.refilled +
                       "); it was run again with every host array filled at once (--fill-all), "
                       "and this report shows that run\n";
    r.checks = checksText(in.findings, in.checks);
    r.warnings = in.findings.warnings;
    r.costChecked = o.checks.cost;
    r.cost = in.findings.cost.empty() && o.checks.cost
                 ? "no entry point's time per call grows with the mesh\n"
                 : in.findings.cost;
    r.comparison = in.findings.comparison;
    r.checksFailed = in.findings.found > 0 || in.findings.differs;
    r.verdict = verdictText(in, countOutcomes(in.outcomes, o.functionsGiven));
    r.memory = memoryLine(in.outcomes);
    r.time = timeLine(in.time);
    return r;
}

namespace {

// The findings and the verdict, as both renderings show them.
std::string findingsText(const RunReport &r) {
    std::string t;
    auto section = [&](const char *title, const std::string &body) {
        if (!body.empty()) t += std::string(title) + "\n" + body + "\n";
    };
    section("Problems:", r.problems);
    section("Silent answers:", r.silent);
    section("Notes:", r.notes);
    section("Checks:", r.checks);
    section("Warnings:", r.warnings);
    if (r.costChecked) section("Cost:", r.cost);
    if (!r.comparison.empty()) t += r.comparison + "\n";
    return t + r.verdict;
}

} // namespace

std::string terminalText(const RunReport &r, bool quiet) {
    std::string t;
    if (!quiet) t += "\n" + r.table + "\n";
    if (!quiet && !r.printed.empty()) t += "Output:\n" + r.printed + "\n";
    t += findingsText(r);
    if (!quiet) t += r.memory + r.time;
    return t;
}

std::string nextStepsText(const RunSettings &o, const std::string &folder, bool examples,
                          const std::string &templateSource) {
    std::string t = "next: open " +
                    shownPath((std::filesystem::path(folder) / "run.pvd").string()) +
                    " in ParaView";
    if (examples && !templateSource.empty())
        t += "; start a library of your own from a copy of " + shownPath(templateSource);
    else if (!examples && !(o.checks.units && o.checks.order))
        t += "; look for quiet faults with --check-units --check-order";
    return t + "\n";
}

std::string summaryText(const RunReport &r) {
    return r.table + "\n" + findingsText(r) + r.memory + r.time;
}

} // namespace vhost

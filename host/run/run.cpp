// run.cpp - the run's phases.
//
// The parent process never calls user code, nor loads the library: a
// survey worker loads it and lists its entry points, then each entry point
// is evaluated by a worker of its own, so a fatal stop, a crash or a hang
// ends only that worker. The parent reads each worker's output, exit
// status and result file (checked before use), runs the checks, and
// reports; the outputs go into a new folder that takes the output
// folder's place only when complete.
#include "run/run.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "model/binding.h"
#include "model/caller.h"
#include "model/entries.h"
#include "model/path.h"
#include "model/sample.h"
#include "output/labels.h"
#include "output/outdir.h"
#include "output/report.h"
#include "run/run_report.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/signals.h"
#include "platform/system.h"
#include "parent/setup.h"
#include "platform/scratch.h"

namespace vhost {

namespace {

// For each entry point that read coordinates a path leaves to the grid, a
// note: its values there depend on where the sample's grid put the points.
std::string coordinateNotes(const Path &path, const std::vector<Outcome> &outcomes) {
    std::string notes;
    std::vector<std::string> named;
    for (const Outcome &e : outcomes) {
        const uint8_t read = e.result.coordinatesRead;
        if (!(read & kCoordinatesKnown) ||
            std::find(named.begin(), named.end(), e.name) != named.end())
            continue;
        std::vector<std::string> unset;
        for (size_t a = 0; a < 3; ++a) {
            const size_t c = column::kCoordinates + a;
            const bool given = c < path.given.size() && path.given[c];
            if (read & 1u << a && !given) unset.push_back(columnName(c));
        }
        if (unset.empty()) continue;
        named.push_back(e.name);
        std::string list = unset[0];
        for (size_t k = 1; k < unset.size(); ++k)
            list += (k + 1 == unset.size() ? " and " : ", ") + unset[k];
        notes += "func_" + e.name + " reads " + list + ", which this path does not set: its " +
                 "points lie on the sample's grid\n";
    }
    return notes;
}

// A run, filled phase by phase. A phase that fails leaves the exit status
// in `status` and returns false.
class Run {
  public:
    Run(const RunSettings &settings, const RunServices &s, const PathRun *path)
        : s_(s), o_(settings), config_(o_.sample), path_(path ? &path->path : nullptr),
          pathLine_(path ? path->line : ""), units_(s.convert, config_.units) {}
    bool prepare();
    bool survey();
    bool evaluate();
    bool check();
    int report();
    bool libraryUnchanged();
    int status = 0;

  private:
    std::string nextSteps() const;
    bool failed(ExitStatus st, const std::string &message);
    bool writePath(std::string &error);
    bool writeFiles(const RunReport &r, int st, int &status);
    bool surveyFailed(const Outcome &r);
    bool pinLibrary();
    void planEntryPoints();
    void collect(size_t j);
    Outcome judged(WorkerJob &w);
    void inspect(size_t k, WorkerJob &w);
    bool valuesNeeded() const;
    // Where the workers ran outside a container the system ends whole, a
    // note saying so; else "".
    std::string containedNote() const {
        if (exports_.contained) return "";
        return "the workers ran outside a container of their own (" + exports_.containNote +
               "): a process user code starts and detaches from its worker may outlive the "
               "run\n";
    }
    RunSize size() const {
        return {config_, o_.jobs, o_.output.folder, o_.output.stepsWritten(config_.steps)};
    }
    bool refill();
    WorkerSetting workers() { return {s_.self, s_.arguments, scratch_.dir(), s_.runner, o_.jobs}; }
    bool runAndCollect(Workers &workers, std::string &error,
                       const std::function<void(size_t)> &ended = {});
    void buildSample();
    CheckContext context() {
        return {o_.checks, config_, identity_, outcomes_, nodeMaterial_, *sample_, units_};
    }

    const RunServices &s_;
    const RunSettings o_;
    SampleConfig config_; // the workers' sample: the path file is written into it
    const Path *path_;
    const std::string pathLine_;
    const UnitConverter units_;
    LibraryIdentity identity_; // of the library file the run started with
    Scratch scratch_;
    OutputFolder out_;
    std::vector<std::unique_ptr<Check>> checks_;
    WorkerResult exports_;
    std::string loadOutput_;
    std::vector<Outcome> outcomes_;
    Workers workers_;
    std::vector<size_t> outcomeOf_; // per worker, its outcome
    std::unique_ptr<Sample> sample_;
    std::vector<uint8_t> nodeMaterial_; // per node: 0 not evaluated, else its material
    size_t evaluatedNodes_ = 0;         // those not 0
    UninitializedVector<double> spare_; // storage of values let go, for the next worker's
    ValueStore store_;                  // storage of values taken, for the next worker's
    CheckFindings findings_;
    ProcessorTime time_;             // the workers' share of the run's processor time
    platform::FileIdentity library_; // the library file the run started with
    std::string recordLine_;         // its build record in one line (or why it has none)
};

// Report `message` (or the interruption that caused it) and stop the run.
bool Run::failed(ExitStatus st, const std::string &message) {
    status = platform::interrupted() ? interruptedStatus() : fail(st, message);
    return false;
}

// Scratch folder, output folder, the size of the run, the checks' inputs.
bool Run::prepare() {
    platform::markProcessorStart();
    platform::catchInterrupts();
    platform::markWorkersParent();
    platform::resumeWhenStopped();
    std::string error;
    const size_t diskEntries = o_.functionsGiven ? o_.functions.size() : std::size(kEntryPoints);
    if (!scratch_.make(error, "vulmora-host-", scratchBytes(config_, diskEntries)))
        return failed(ExitStatus::Usage, error);
    if (path_ && !writePath(error)) return failed(ExitStatus::Usage, error);
    if (o_.output.write && !out_.claim(o_.output.folder, error))
        return failed(ExitStatus::Usage, error);
    // The memory for one entry point's values at least, again once the
    // library's entry points are known; the disks for all it may have.
    if (!checkSize(size(), 1, diskEntries, scratch_.dir(), error))
        return failed(ExitStatus::Usage, error);
    if (!pinLibrary()) return false;
    checks_ = makeChecks(o_.checks);
    for (auto &c : checks_)
        if (!c->prepare(o_.checks, error)) return failed(ExitStatus::Usage, error);
    const int n = config_.nodesPerSide;
    if (!o_.quiet && path_)
        std::printf("vulmora-host: %s\nbuild: %s\n%s", config_.library.c_str(), recordLine_.c_str(),
                    pathLine_.c_str());
    else if (!o_.quiet)
        std::printf("vulmora-host: %s\nbuild: %s\nsample: %d nodes (%d per side), %d elements, %d "
                    "steps\n%s\n",
                    config_.library.c_str(), recordLine_.c_str(), n * n * n, n,
                    (n - 1) * (n - 1) * (n - 1), config_.steps,
                    historyLine(config_.alloy, UnitConverter(s_.convert, config_.units)).c_str());
    std::fflush(stdout);
    return true;
}

// The library file the run starts with: its identity goes into run.txt,
// and to the workers, which refuse to load another file at its path.
bool Run::pinLibrary() {
    std::string error;
    if (!s_.identifyLibrary(config_.library, true, library_, error))
        return failed(ExitStatus::Usage, "cannot read the library " + error);
    identity_.file = library_.text();
    // A file that is no library fails in the survey worker, with the loader's reason.
    if (!s_.readRecord(config_.library, identity_.record, error))
        recordLine_ = error;
    else
        recordLine_ = buildRecordLine(identity_.record);
    platform::setEnvironment(kLibraryFileEnv, libraryFileValue(library_));
    return true;
}

// False (the run fails, status 2) when the library file is not the one
// the run started with: its results could mix two versions.
bool Run::libraryUnchanged() {
    platform::FileIdentity now;
    std::string error;
    if (s_.identifyLibrary(config_.library, true, now, error) && now.sameFile(library_) &&
        now.hash == library_.hash)
        return true;
    return failed(ExitStatus::Usage, config_.library + ": " + kLibraryChanged);
}

// The path into the scratch folder, for the workers: every column, every
// digit, in host units.
bool Run::writePath(std::string &error) {
    config_.pathFile = scratch_.dir() + "/path.csv";
    CheckedFile f(config_.pathFile);
    const std::string text = pathTableText(*path_);
    f.write(text.data(), text.size());
    return f.close(error);
}

// A library whose loading crashed, stopped or hung: the user's fault (1),
// unless the emulator failed (2).
bool Run::surveyFailed(const Outcome &r) {
    std::string why = r.status == Outcome::Stopped
                          ? "ended the process with exit status " + std::to_string(r.exitStatus)
                          : ending(r, config_.timeLimit);
    if (r.status != Outcome::Crashed && r.status != Outcome::TimedOut &&
        r.status != Outcome::Stopped)
        why = "failed: " + why;
    std::printf("Problems:\nthe library %s while loading (in its constructors)%s\n", why.c_str(),
                r.printed.empty() ? "" : (", printing " + escaped(r.printed)).c_str());
    if (!r.errors.empty())
        std::printf("  it wrote on stderr:\n%s", lastLines(r.errors, 10, "    | ").c_str());
    std::printf("0 entry points evaluated: the library cannot be used\n");
    status = code(r.status == Outcome::EmulatorError ? ExitStatus::Usage : ExitStatus::Failed);
    return false;
}

// Load the library in a worker and list its entry points. One that cannot
// be loaded at all is a usage error.
bool Run::survey() {
    Workers one;
    one.push_back(makeWorker("survey", WorkerKind::Survey, config_));
    std::string error;
    if (!runWorkers(workers(), one, nullptr, error)) return failed(ExitStatus::Usage, error);
    Outcome r = classify(*one.front(), true);
    time_.count(r);
    loadOutput_ = r.printed;
    exports_ = r.result;
    if (r.status == Outcome::EmulatorError && r.result.state == WorkerState::LoadFailed)
        return failed(ExitStatus::Usage, r.result.message);
    return r.status == Outcome::Ok || (libraryUnchanged() && surveyFailed(r));
}

// An outcome per entry point asked for (or exported), a worker for each
// that needs one, then func_externalcompute on its own.
void Run::planEntryPoints() {
    std::vector<std::string> names = o_.functions;
    if (!o_.functionsGiven)
        for (size_t k = 0; k < std::size(kEntryPoints); ++k)
            if (exports_.exported[k] != kNotExported) names.push_back(kEntryPoints[k].name);
    outcomes_.resize(names.size());
    for (size_t k = 0; k < names.size(); ++k) {
        Outcome &e = outcomes_[k];
        e.name = names[k];
        const uint8_t exported =
            exports_.exported[static_cast<size_t>(findEntryPoint(names[k]) - kEntryPoints)];
        if (exported == kExportedPlaceholder) { // stopped at once with the template's line
            e.status = Outcome::Placeholder;
            e.printed = placeholderLine(names[k]);
            e.exited = true;
            e.exitStatus = 1;
            e.failure = o_.functionsGiven;
        } else if (exported == kExported) {
            workers_.push_back(makeWorker(names[k], WorkerKind::Entry, config_));
            outcomeOf_.push_back(k);
        } else {
            e.status = Outcome::NotExported;
            e.failure = true;
        }
    }
    if (exports_.exportsExternal) {
        outcomes_.emplace_back().name = "externalcompute";
        workers_.push_back(makeWorker("externalcompute", WorkerKind::External, config_));
        outcomeOf_.push_back(outcomes_.size() - 1);
    }
}

// Run `workers` with a progress bar, `ended` called as each ends; false
// with `error` (or interrupted).
bool Run::runAndCollect(Workers &workers, std::string &error,
                        const std::function<void(size_t)> &ended) {
    Progress bar(workers.size(), !o_.quiet, platform::stderrIsTerminal());
    WorkerSetting setting = this->workers();
    setting.ended = ended;
    setting.store = &store_;
    const bool completed = runWorkers(setting, workers, &bar, error);
    bar.finish();
    return completed;
}

// The parent's sample: which nodes are evaluated, of which material. The
// mesh and the integration points only if an output or a report of a
// failure shows the fields (setStep builds them then).
void Run::buildSample() {
    sample_ = std::make_unique<Sample>(config_.nodesPerSide, config_.steps, Sample::Build::OnDemand,
                                       path_, config_.alloy);
    sample_->stressScale = config_.stressScale;
    nodeMaterial_ = nodeMaterials(*sample_, config_);
    evaluatedNodes_ = size_t(std::count_if(nodeMaterial_.begin(), nodeMaterial_.end(),
                                           [](uint8_t m) { return m != 0; }));
}

// Worker j of the run's, just ended: its outcome, with the statistics of
// its values, shown to the checks; the storage its values were taken into
// goes back for the next.
void Run::collect(size_t j) {
    WorkerJob &w = *workers_[j];
    outcomes_[outcomeOf_[j]] = judged(w);
    inspect(outcomeOf_[j], w);
    if (w.taken.capacity() > 0) store_.push_back(std::move(w.taken));
}

// True when an output or a check reads the entry points' values once every
// worker has ended; otherwise each is let go once collected, so the run
// holds one entry point's values at a time.
bool Run::valuesNeeded() const {
    if (o_.output.write || path_) return true;
    return std::any_of(checks_.begin(), checks_.end(),
                       [](const auto &check) { return check->needsValues(); });
}

// Outcome k, just collected from worker `w`, shown to the checks (its
// values laid out first when one of them asks for them); its values let
// go when nothing reads them later.
void Run::inspect(size_t k, WorkerJob &w) {
    CheckContext c = context();
    Outcome &e = outcomes_[k];
    const ValuePieces evaluated = w.values();
    if (e.valuesRead && w.shape.kind == WorkerKind::Entry &&
        size_t(w.shape.selectedCount()) == evaluatedNodes_)
        c.evaluated = &evaluated;
    for (auto &check : checks_) {
        if (e.valuesRead && e.result.values.empty() && check->wantsValues(c, k)) {
            e.result.values.swap(spare_);
            if (!expandValues(w.values(), w.shape, e.result.values)) {
                e.result.values.swap(spare_);
                return markValuesUnread(e);
            }
        }
        check->inspect(c, k);
    }
    if (valuesNeeded()) return;
    UninitializedVector<double> &v = outcomes_[k].result.values;
    if (v.capacity() > spare_.capacity()) spare_.swap(v); // the next one is read into its pages
    UninitializedVector<double>().swap(v);
}

// How worker `w` ended, with the statistics of its values. Unless they are
// read after the run, the values are not laid out: the statistics are made
// from them as the worker's file keeps them (or as they were taken out of
// it), a piece at a time, and a check that looks at the values themselves
// has them laid out for it (inspect).
Outcome Run::judged(WorkerJob &w) {
    const bool named = o_.functionsGiven || w.name == "externalcompute";
    const bool summarised = !valuesNeeded() && w.shape.kind == WorkerKind::Entry &&
                            size_t(w.shape.selectedCount()) == evaluatedNodes_;
    const bool readByClassify = !summarised && !w.takesValues; // laid out from the file
    Outcome r = classify(w, named, &spare_, readByClassify);
    r.valuesRead = hasValues(w.shape, r.result) && r.status == Outcome::Ok;
    if (r.valuesRead && !readByClassify &&
        !(summarised ? computeStatistics(r, sample_->nnod, nodeMaterial_, w.values())
                     : expandValues(w.values(), w.shape, r.result.values)))
        markValuesUnread(r);
    if (r.status == Outcome::Ok && r.valuesRead) {
        if (!summarised) computeStatistics(r, sample_->nnod, &nodeMaterial_);
        r.status = r.nonFinite ? Outcome::NonFinite : Outcome::Ok;
        // A NaN of local mode that the function hid is as wrong in the
        // solver as one it returns.
        if (r.status == Outcome::Ok && r.result.silent[VULMORA_PROBE_UNMARKED])
            r.status = Outcome::Unmarked;
        r.failure = r.status != Outcome::Ok;
    }
    time_.count(r);
    return r;
}

// Entry points whose workers may have ended so run again with every host
// array filled at once; where the second run ends otherwise, it is the one
// reported, with a note. Arrays are filled at once anyway with --fill-all
// or a capture.
bool Run::refill() {
    if (config_.fillsAtOnce()) return true;
    SampleConfig filled = config_;
    filled.fillAll = true;
    std::vector<size_t> which;
    Workers again;
    for (size_t k = 0; k < outcomes_.size(); ++k)
        if (maybeForeignHandler(outcomes_[k])) {
            which.push_back(k);
            again.push_back(makeWorker(outcomes_[k].name, WorkerKind::Entry, filled, ".filled"));
        }
    std::string error;
    if (again.empty()) return true;
    if (!runAndCollect(again, error)) return failed(ExitStatus::Usage, error);
    for (size_t j = 0; j < again.size(); ++j) {
        Outcome second = judged(*again[j]);
        Outcome &first = outcomes_[which[j]];
        if (second.status == first.status && second.exitStatus == first.exitStatus &&
            second.result.step == first.result.step && second.result.node == first.result.node)
            continue;
        const Phase at = first.result.phase;
        second.refilled = ending(first, config_.timeLimit) +
                          (at == Phase::Call || at == Phase::Registration ? " at " : " ") +
                          where(first.result);
        first = std::move(second);
        inspect(which[j], *again[j]);
    }
    return true;
}

// Every entry point in a worker of its own.
bool Run::evaluate() {
    planEntryPoints();
    std::string error;
    if (!checkSize(size(), workers_.size(), 0, scratch_.dir(), error))
        return failed(ExitStatus::Usage, error);
    buildSample();
    // Each worker is judged as it ends. Large values are taken out of the
    // worker's file as it writes them, and the memory of the steps taken
    // goes back to the system at once: the next steps' writes reuse it
    // instead of fresh pages, which a virtual machine like ours supplies
    // at a high price (at 200^3 nodes, 1.5 GB of result files cost the
    // workers 6 s of processor time when written to fresh pages, under
    // 1 s in reused ones). Smaller ones cost more to take (a copy) than
    // their pages do, and where no memory can be given back, all do.
    const int64_t from = int64_t(o_.takeValuesFrom) << 20; // bytes of a worker's values
    for (auto &w : workers_)
        w->takesValues = platform::releasesFileRanges() && w->shape.kind == WorkerKind::Entry &&
                         w->shape.count * int64_t(sizeof(double)) >= from;
    if (!runAndCollect(workers_, error, [&](size_t j) { collect(j); }))
        return failed(ExitStatus::Usage, error);
    workers_.clear();
    return refill();
}

// The checks' workers for every entry point that returned values, judged
// against its outcome; then each check's own findings.
bool Run::check() {
    const CheckContext c = context();
    std::vector<CheckWork> work;
    for (size_t k = 0; k < outcomes_.size(); ++k)
        if (outcomes_[k].hasValues() && outcomes_[k].valuesRead)
            for (auto &check : checks_)
                check->plan(c, k, work);
    findings_.perEntry.resize(outcomes_.size());
    findings_.flagged.resize(outcomes_.size());
    Workers workers;
    for (CheckWork &w : work)
        workers.push_back(std::move(w.worker));
    std::string error;
    if (!workers.empty() && !runAndCollect(workers, error)) return failed(ExitStatus::Usage, error);
    for (size_t j = 0; j < work.size(); ++j) {
        const Outcome r = classify(*workers[j], true);
        time_.count(r);
        work[j].worker = std::move(workers[j]); // its job: what it left beside its result file
        work[j].check->judge(c, work[j], r, findings_);
    }
    for (auto &check : checks_)
        if (!check->conclude(c, findings_, error)) return failed(ExitStatus::Usage, error);
    return true;
}

// The last line of a run that wrote its files: what to look at next.
std::string Run::nextSteps() const {
    const std::vector<std::string> defaults = defaultLibraryCandidates();
    const bool examples =
        std::find(defaults.begin(), defaults.end(), config_.library) != defaults.end();
    return nextStepsText(o_, out_.target(), examples, examples ? templateSourcePath() : "");
}

// The report on the terminal, then the output folder.
int Run::report() {
    time_.parent = platform::processorSeconds();
    const RunReport r =
        buildReport({o_, outcomes_, findings_, checks_, loadOutput_, *sample_, units_, time_,
                     containedNote() + (path_ ? coordinateNotes(*path_, outcomes_) : "")});
    if (path_ && o_.pointValues)
        std::fputs(pointValuesText(config_.units, outcomes_).c_str(), stdout);
    std::fputs(terminalText(r, o_.quiet).c_str(), stdout);
    std::fflush(stdout);
    int st = code(r.status());
    if (o_.output.write && !writeFiles(r, st, st)) return st;
    if (platform::interrupted()) return interruptedStatus();
    return st;
}

// The output folder: the sample's files, or a path's; false with the
// exit status in `status` when they cannot be written.
bool Run::writeFiles(const RunReport &r, int st, int &status) {
    std::string notes, error;
    const std::string summary = summaryText(r);
    const RunOutput output{o_.output, config_, identity_, outcomes_, summary, loadOutput_};
    const bool written =
        path_ ? writeCurveOutputs(output, *path_, out_, units_, notes, error)
              : writeOutputs(output, *sample_, out_, units_, notes, error, findings_.extra);
    if (!written) {
        status = platform::interrupted()
                     ? interruptedStatus()
                     : std::max(st, fail(ExitStatus::Failed, "cannot write the results: " + error));
        return false;
    }
    if (!o_.quiet)
        std::printf("%sprocessor time writing them: %.2f s\n%s", notes.c_str(),
                    platform::processorSeconds() - time_.parent, path_ ? "" : nextSteps().c_str());
    return true;
}

} // namespace

int runAll(const RunSettings &settings, const RunServices &services, const PathRun *path) {
    Run run(settings, services, path);
    if (!run.prepare() || !run.survey() || !run.evaluate() || !run.check() ||
        !run.libraryUnchanged())
        return run.status;
    return run.report();
}

} // namespace vhost

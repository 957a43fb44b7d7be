// worker.cpp - a worker: open the result file, load the library, survey it
// or evaluate one entry point over every step.
#include "worker/worker.h"

#include <algorithm>
#include <cfenv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <numeric>
#include <random>

#include "model/caller.h"
#include "model/guard.h"
#include "model/path.h"
#include "model/sample.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/signals.h"
#include "platform/system.h"
#include "platform/exit_status.h"

namespace vhost {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// What the crash hook needs; set up by runWorker.
ResultHeader *gHeader = nullptr;
InputGuard *gGuard = nullptr;

// A fault in a host array not filled yet fills it, rounded to nearest
// whatever mode the call that read it runs under: the fields are the same
// in every worker.
bool resolveWorkerFault(const void *address) {
    const int mode = std::fegetround();
    if (mode != FE_TONEAREST) std::fesetround(FE_TONEAREST);
    const bool filled = gGuard && gGuard->resolve(address);
    if (mode != FE_TONEAREST) std::fesetround(mode);
    return filled;
}

// On a crash: flush what user code printed, and name the host array when
// the fault is a write into one.
void onWorkerCrash(const void *address) {
    std::fflush(stdout);
    if (gHeader) gHeader->crashHookRan = 1;
    int32_t array = -1;
    int64_t entry = 0;
    if (gHeader && gGuard && address && gGuard->locate(address, array, entry)) {
        gHeader->modifiedEntry = entry;
        gHeader->modifiedArray = array;
    }
}

// Whether the arrays are filled on first read (the worker's fault handler
// must then see the faults).
bool gLazy = false;

// At exit(): whether user code put a fault handler of its own in place of
// the worker's, which would have taken a fill-on-first-read fault.
void recordExit() {
    if (gHeader)
        gHeader->exitState =
            gLazy && !platform::faultsReachResolver() ? kExitForeignHandler : kExitOwnHandler;
}

// In the worker, just before user code copies it with fork(): say where,
// in the worker's file (the copy may never run before it is ended).
void beforeUserFork() {
    if (gHeader && !gHeader->forkedStep) {
        gHeader->forkedNode = gHeader->pos.node;
        gHeader->forkedStep = gHeader->pos.step > 0 ? gHeader->pos.step : 1;
    }
}

// In the copy: end it as soon as its call returns into the worker.
void onUserFork() {
    Caller::endCopyOnReturn();
}

// A fixed text field of the header, NUL-terminated; `text` is read up to
// its first NUL or the field's size, whichever comes first.
template <size_t N> void setText(char (&field)[N], const char *text) {
    const size_t n = text ? strnlen(text, N - 1) : 0;
    std::memcpy(field, text, n);
    field[n] = 0;
}

// The file the parent made for this worker: its header mapped, null
// (message on stderr) when it is not exactly that file. The values are
// written through `file`, a step at a time (the file's pages are then
// never read in only to be overwritten).
ResultHeader *openResult(const WorkerSettings &w, const ResultShape &shape,
                         platform::FileHandle &file) {
    std::string error;
    file = platform::openExisting(w.resultFile, shape.bytes(), error);
    void *map = file == -1 ? nullptr : platform::mapShared(file, kResultHeaderSize, error);
    auto *h = static_cast<ResultHeader *>(map);
    if (h && !checkHeader(*h, shape, error)) h = nullptr;
    if (!h) std::fprintf(stderr, "vulmora-host worker: %s\n", error.c_str());
    return h;
}

// The first call the solver would make of entry point `e`, on a sample of
// 4 x 4 x 4 nodes (and func_externalcompute before it).
void firstCall(Library &lib, const EntryPoint &e, PropertyFn f, const SampleConfig &o) {
    // A capture asked for is for the run's own calls, not for this look.
    platform::unsetEnvironment("VULMORA_CAPTURE");
    platform::unsetEnvironment("VULMORA_CAPTURE_AT");
    Sample tiny(4, 1);
    Caller caller(lib, tiny, o);
    caller.beginStep(1);
    if (e.mode == CallMode::Mechanical) {
        caller.registration(f);
        return;
    }
    const std::vector<uint8_t> selected = selectedNodes(tiny, o);
    for (int node = 1; node <= tiny.nnod; ++node)
        if (selected[static_cast<size_t>(node - 1)]) {
            *lib.x.location = 1;
            *lib.x.cur_node = node - 1;
            (void)f(node);
            return;
        }
}

// True when the entry point's first call, made in a copy of this worker,
// stops with exactly the template's line: a placeholder, which then needs
// no worker of its own (and no sample of the run's size). Where the system
// makes no copies, every entry point gets its worker.
bool isPlaceholder(Library &lib, const EntryPoint &e, PropertyFn f, const SampleConfig &o) {
    std::string printed;
    bool exited = false;
    int status = 0;
    const double limit = o.timeLimit > 0 ? o.timeLimit : 60;
    return platform::runForked([&] { firstCall(lib, e, f, o); }, limit, printed, exited, status) &&
           exited && status == 1 && printed == placeholderLine(e.name);
}

// A worker of one run: its result file, the library, and what it evaluates.
class WorkerSession {
  public:
    WorkerSession(const WorkerSettings &w, const ResultShape &shape, ResultHeader *h,
                  platform::FileHandle file)
        : w_(w), o_(w.sample), shape_(shape), h_(h), file_(file) {
        platform::identifyOpen(file_, fileId_);
    }
    bool load();
    void survey();
    bool setUp();
    bool evaluate();
    // Record why the worker cannot go on; false. When user code lowered a
    // limit of this process, that is why.
    bool failed(WorkerState state, const std::string &why) {
        const std::string limit = platform::loweredLimit();
        if (!limit.empty())
            state = WorkerState::Interfered,
            setText(h_->message,
                    ("lowered " + limit + ", so the worker could not go on (" + why + ")").c_str());
        else
            setText(h_->message, why.c_str());
        h_->state = static_cast<int32_t>(state);
        return false;
    }
    void complete() {
        h_->peakBytes = platform::peakMemory();
        h_->state = static_cast<int32_t>(WorkerState::Complete);
        h_->pos.phase = static_cast<int32_t>(Phase::Unload); // the library's destructors come next
    }

  private:
    void shareCounters();
    bool sameLibraryFile() const;
    bool guardHeld(int s);
    bool evaluateStep(int s);
    bool loadPath();
    bool writeStep(int s);
    bool resultStillOurs(int32_t written);
    uint8_t coordinatesFilled() const;
    void phase(Phase p) { h_->pos.phase = static_cast<int32_t>(p); }

    const WorkerSettings &w_;
    const SampleConfig &o_; // the sample the parent described
    const ResultShape shape_;
    ResultHeader *h_;
    platform::FileHandle file_;
    platform::FileIdentity fileId_; // the result file, as it was opened
    Library lib_;
    bool lazyFields_ = false;
    const EntryPoint *e_ = nullptr;
    PropertyFn f_ = nullptr;
    Path path_; // the path the parent wrote, when there is one
    std::unique_ptr<Sample> sample_;
    InputGuard guard_;
    std::unique_ptr<Caller> caller_;
    std::vector<uint8_t> selected_;
    std::vector<std::pair<size_t, size_t>> runs_; // the selected nodes: [first, end) in order
    PageVector<double> values_,
        compact_; // the order or numbering check's values by node; the selected nodes'
    // A renumbered sample: its nodes in the grid's order (1-based), as the
    // calls visit them, and, for each selected node of the grid in order,
    // its index in values_.
    std::vector<int> visit_;
    std::vector<size_t> gather_;
};

// The library counts its silently wrong answers into the counters' part
// of the result file, through a descriptor of its own.
void WorkerSession::shareCounters() {
    std::string why;
    const platform::FileHandle counters =
        shape_.kind == WorkerKind::Survey
            ? -1
            : platform::openExisting(w_.resultFile, shape_.bytes(), why);
    if (counters != -1 && !platform::shareWithLibrary(counters, VULMORA_PROBE_ENV))
        platform::closeFile(counters); // the counters stay off
}

// Load the library; its constructors run, and what they print is not the
// entry point's.
bool WorkerSession::load() {
    // Each of the host's arrays is filled when first read (the mesh's once,
    // the fields' each step), unless the sample says every one at once.
    lazyFields_ = !o_.fillsAtOnce() && platform::onFault(resolveWorkerFault);
    gLazy = lazyFields_;
    shareCounters();
    if (!sameLibraryFile()) return failed(WorkerState::SetupFailed, kLibraryChanged);
    phase(Phase::Load);
    const int quiet = shape_.kind == WorkerKind::Survey ? -1 : platform::silenceStdout();
    std::string error;
    const bool loaded = lib_.open(o_.library, error);
    platform::restoreStdout(quiet);
    if (!loaded) return failed(WorkerState::LoadFailed, error);
    phase(Phase::Setup);
    return sameLibraryFile() || failed(WorkerState::SetupFailed, kLibraryChanged);
}

// Whether the library at the path is still the file the run started with
// (checked before and after it is loaded: the file loaded is that one).
bool WorkerSession::sameLibraryFile() const {
    platform::FileIdentity expected, now;
    std::string error;
    if (!parseLibraryFile(std::getenv(kLibraryFileEnv), expected)) return true; // not pinned
    return platform::identifyFile(o_.library, false, now, error) && now.sameFile(expected);
}

// Which entry points the library exports, and which are placeholders. The
// first calls run in copies of this process with their own time limit:
// this process does the emulator's work meanwhile.
void WorkerSession::survey() {
    phase(Phase::Between);
    for (size_t k = 0; k < std::size(kEntryPoints); ++k) {
        PropertyFn entry = lib_.entry(kEntryPoints[k].name);
        h_->exported[k] = entry ? kExported : kNotExported;
        if (entry && isPlaceholder(lib_, kEntryPoints[k], entry, o_))
            h_->exported[k] = kExportedPlaceholder;
    }
    h_->exportsExternal = lib_.externalcompute != nullptr;
    complete();
}

// The entry point, the sample, the caller and the buffers of a step.
bool WorkerSession::setUp() {
    phase(Phase::Setup);
    e_ = shape_.entryIndex >= 0 ? &kEntryPoints[shape_.entryIndex] : nullptr;
    f_ = e_ ? lib_.entry(e_->name) : nullptr;
    if (shape_.kind != WorkerKind::External && !f_)
        return failed(WorkerState::SetupFailed, "no entry point func_" + w_.name);
    if (shape_.kind == WorkerKind::External && !lib_.externalcompute)
        return failed(WorkerState::SetupFailed, "no func_externalcompute");
    if (!o_.pathFile.empty() && !loadPath()) return false;
    try {
        sample_ = std::make_unique<Sample>(
            o_.nodesPerSide, o_.steps, lazyFields_ ? Sample::Build::OnDemand : Sample::Build::Whole,
            o_.pathFile.empty() ? nullptr : &path_, o_.alloy);
    } catch (const std::bad_alloc &) {
        return failed(WorkerState::SetupFailed, "out of memory while building the sample");
    }
    try {
        // A step's values of the selected nodes, as the result file keeps
        // them: an Entry worker's calls write them so. The order check's
        // calls write both runs' values by node, NaN once: every step's
        // calls then write every selected node's value (the others are
        // never read), so a step never clears it.
        const size_t nnod = static_cast<size_t>(shape_.nnod);
        if (shape_.kind == WorkerKind::Order) values_.assign(2 * nnod, kNaN);
        if (w_.renumberSeed && shape_.kind == WorkerKind::Entry) values_.assign(nnod, kNaN);
        compact_.resize(static_cast<size_t>(shape_.selectedCount()));
    } catch (const std::bad_alloc &) {
        return failed(WorkerState::SetupFailed, "out of memory for the values");
    }
    if (w_.renumberSeed) sample_->renumber(static_cast<uint32_t>(w_.renumberSeed));
    sample_->stressScale = o_.stressScale;
    gGuard = &guard_;
    caller_ = std::make_unique<Caller>(lib_, *sample_, o_);
    caller_->track(&h_->pos);
    caller_->guard(&guard_, lazyFields_);
    caller_->round(w_.rounding);
    selected_ = selectedNodes(*sample_, o_);
    size_t selectedCount = 0;
    for (size_t i = 0, end; i < selected_.size(); i = end) {
        end = size_t(
            std::find(selected_.begin() + std::ptrdiff_t(i), selected_.end(), !selected_[i]) -
            selected_.begin());
        if (selected_[i]) runs_.emplace_back(i, end), selectedCount += end - i;
    }
    if (sample_->renumbered()) {
        // The calls go through the nodes in the grid's order, as the plain
        // run's do; the values go back to the grid's numbering.
        const std::vector<uint8_t> grid = shape_.selection();
        for (int i = 0; i < sample_->nnod; ++i) {
            const int node = sample_->numbered(i);
            visit_.push_back(node + 1);
            if (grid[static_cast<size_t>(i)]) gather_.push_back(static_cast<size_t>(node));
        }
    }
    const bool writesValues = shape_.kind == WorkerKind::Entry || shape_.kind == WorkerKind::Order;
    return !writesValues || selectedCount == compact_.size() ||
           failed(WorkerState::SetupFailed, "the nodes selected are not those of the result file");
}

// The path the parent wrote in host units: every column, the points it
// said, a grid that holds them.
bool WorkerSession::loadPath() {
    std::vector<bool> given;
    std::string error;
    const KelvinFn kelvin = [](int, double t) { return t; }; // its temperatures are "[K]"
    if (!loadPathTable(o_.pathFile, 1, kelvin, path_, given, error))
        return failed(WorkerState::SetupFailed, error);
    if (std::find(given.begin(), given.end(), false) != given.end() ||
        path_.points() != size_t(o_.pathPoints) || size_t(shape_.nnod) < path_.points())
        return failed(WorkerState::SetupFailed, "the path file is not the one the run wrote");
    return true;
}

// Before the worker writes into its result file: its descriptor is still
// that file, and its header as the worker left it (`written` steps
// published). User code can close or redirect every descriptor (as code
// that daemonises does), or write into the mapped header through a wild
// pointer; either is its doing, and the worker stops rather than hand the
// parent values it did not write or counts it did not make.
bool WorkerSession::resultStillOurs(int32_t written) {
    platform::FileIdentity now;
    if (!platform::identifyOpen(file_, now) || now.device != fileId_.device ||
        now.inode != fileId_.inode)
        return failed(WorkerState::Interfered,
                      "closed or redirected the worker's result file (its descriptor, by dup2 "
                      "onto it or by closing every descriptor, as code that daemonises does), so "
                      "the worker could not write its values");
    std::string error;
    if (!checkHeader(*h_, shape_, error) || h_->stepsWritten != written ||
        h_->state != static_cast<int32_t>(WorkerState::Running))
        return failed(WorkerState::Interfered,
                      "wrote into the worker's result file, where the worker keeps its position "
                      "and counts (a pointer gone astray?), so its values could not be trusted");
    return true;
}

// Step s's values of the selected nodes into the result file (and, for
// the order check, the repeated calls' into its second half).
bool WorkerSession::writeStep(int s) {
    if (!resultStillOurs(shape_.kind == WorkerKind::Entry ? s - 1 : 0)) return false;
    const size_t nnod = static_cast<size_t>(shape_.nnod), nsel = compact_.size();
    const uint64_t at = static_cast<uint64_t>(s - 1) * nsel, half = uint64_t(shape_.count / 2);
    const int copies = shape_.kind == WorkerKind::Order ? 2 : 1;
    for (int copy = 0; copy < copies; ++copy) {
        const double *from = values_.data() + size_t(copy) * nnod;
        double *to = compact_.data();
        if (!gather_.empty())
            for (const size_t at : gather_)
                *to++ = from[at];
        else if (!values_.empty()) // else the calls wrote them packed
            for (const auto &[first, end] : runs_)
                to = std::copy(from + first, from + end, to);
        const uint64_t offset = kResultHeaderSize + (at + (copy ? half : 0)) * sizeof(double);
        if (!platform::writeAt(file_, compact_.data(), nsel * sizeof(double), offset))
            return failed(WorkerState::SetupFailed,
                          "cannot write the values into the result file " + w_.resultFile + ": " +
                              platform::lastFileError());
    }
    return true;
}

// Every selected node of step s; the time of the calls, less that of
// filling the arrays they read.
bool WorkerSession::evaluateStep(int s) {
    const InputGuard::FillTime filledBefore = guard_.fillTime();
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = platform::threadCpuSeconds();
    h_->stepCpuStart = cpuStart;
    if (shape_.kind == WorkerKind::Order) {
        const std::vector<int> shuffled = shuffledNodes(sample_->nnod, s, uint32_t(w_.orderSeed));
        caller_->evaluate(*e_, f_, values_.data(), selected_, &shuffled,
                          values_.data() + shape_.nnod);
    } else if (!visit_.empty()) {
        caller_->evaluate(*e_, f_, values_.data(), selected_, &visit_);
    } else {
        caller_->evaluate(*e_, f_, compact_.data(), selected_, nullptr, nullptr, true);
    }
    const InputGuard::FillTime filled = guard_.fillTime();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    h_->seconds += std::max(0.0, wall - (filled.seconds - filledBefore.seconds));
    h_->cpuSeconds += std::max(0.0, platform::threadCpuSeconds() - cpuStart -
                                        (filled.cpuSeconds - filledBefore.cpuSeconds));
    return writeStep(s);
}

// Which of the coordinates' arrays are filled (bits as coordinatesRead).
uint8_t WorkerSession::coordinatesFilled() const {
    const void *axes[] = {sample_->x.data(), sample_->y.data(), sample_->z.data()};
    uint8_t bits = 0;
    for (size_t a = 0; a < 3; ++a)
        if (sample_->filled(axes[a])) bits = uint8_t(bits | 1u << a);
    return bits;
}

// After step s's calls: false when user code made one of the host's
// arrays writable again and changed it, recorded as a write into it.
bool WorkerSession::guardHeld(int s) {
    int32_t array = -1;
    int64_t entry = 0;
    if (!guard_.changedBehindGuard(array, entry)) return true;
    h_->pos.step = s;
    h_->pos.node = 0;
    h_->pos.phase = static_cast<int32_t>(Phase::Call);
    h_->modifiedUnguarded = 1;
    h_->modifiedEntry = entry;
    h_->modifiedArray = array;
    return false;
}

// Every step: func_externalcompute, then the entry point's calls. A
// mechprop entry point's name and unit are kept for the report.
bool WorkerSession::evaluate() {
    int mech = 0;
    const bool mechprop =
        e_ && std::sscanf(e_->name, "mechprop%d", &mech) == 1 && mech >= 1 && mech <= 5;
    // The step the library notes with the first out-of-range number.
    auto *probe =
        reinterpret_cast<vulmora_probe *>(reinterpret_cast<char *>(h_) + VULMORA_PROBE_OFFSET);
    // The mesh is filled when first read: the coordinates the entry
    // point's calls read are those filled by them, unless read before.
    bool coordinatesTold = lazyFields_;
    for (int s = 1; s <= o_.steps; ++s) {
        probe->step = s;
        caller_->beginStep(s);
        h_->fillCpuSeconds = caller_->stepCpuSeconds() + guard_.fillTime().cpuSeconds;
        if (s == 1 && coordinatesFilled()) coordinatesTold = false;
        if (!e_) {
            h_->pos.calls = h_->pos.calls + 1; // func_externalcompute's calls
            if (!guardHeld(s)) return false;
            continue;
        }
        const bool written = evaluateStep(s);
        h_->fillCpuSeconds = caller_->stepCpuSeconds() + guard_.fillTime().cpuSeconds;
        if (coordinatesTold) h_->coordinatesRead = kCoordinatesKnown | coordinatesFilled();
        if (!written || !guardHeld(s)) return false;
        // The step's values are in the file, the host's arrays as they
        // were: the parent may take them now.
        if (shape_.kind == WorkerKind::Entry) h_->stepsWritten = s;
        if (mechprop) {
            setText(h_->mechName, (*lib_.x.name_mechprop)[mech - 1]);
            setText(h_->mechUnit, (*lib_.x.unit_mechprop)[mech - 1]);
        }
    }
    std::fflush(stdout);
    if (e_ && !resultStillOurs(shape_.kind == WorkerKind::Entry ? o_.steps : 0)) return false;
    complete();
    return true;
}

} // namespace

ResultShape workerShape(const WorkerSettings &w) {
    const SampleConfig &o = w.sample;
    ResultShape shape;
    shape.side = o.nodesPerSide;
    shape.materials = o.materials;
    shape.nnod = o.nnod();
    shape.steps = o.steps;
    if (w.name == "survey") {
        shape.kind = WorkerKind::Survey;
    } else if (w.name == "externalcompute") {
        shape.kind = WorkerKind::External;
    } else {
        const EntryPoint *e = findEntryPoint(w.name);
        shape = ResultShape::values(w.orderSeed ? WorkerKind::Order : WorkerKind::Entry,
                                    e ? static_cast<int32_t>(e - kEntryPoints) : -1, o.nodesPerSide,
                                    o.steps, o.materials, o.points());
    }
    return shape;
}

// Nothing but user code writes to stdout, so the parent sees exactly what
// the entry point printed.
int runWorker(const WorkerSettings &w) {
    if (!platform::endWithParent()) return code(ExitStatus::WorkerSetup); // the bench is gone
    // Whatever user code starts ends with the worker, however it detaches.
    std::string uncontained;
    const bool contained = platform::containWorker(uncontained);
    const ResultShape shape = workerShape(w);
    platform::FileHandle file = -1;
    ResultHeader *h = openResult(w, shape, file);
    if (!h) return code(ExitStatus::WorkerSetup);
    h->contained = contained;
    setText(h->containNote, uncontained.c_str());
    gHeader = h;
    std::atexit(recordExit);
    platform::keepLimits();
    platform::onCrash(onWorkerCrash);
    WorkerSession worker(w, shape, h, file);
    if (!worker.load()) return code(ExitStatus::WorkerSetup);
    if (shape.kind == WorkerKind::Survey) {
        worker.survey();
        return code(ExitStatus::Ok);
    }
    // The survey makes copies of itself for first calls; an entry point's
    // worker makes none, so a copy of it is user code's.
    platform::onFork(beforeUserFork, onUserFork);
    if (!worker.setUp() || !worker.evaluate()) return code(ExitStatus::WorkerSetup);
    return code(ExitStatus::Ok);
}

std::vector<int> shuffledNodes(int nnod, int step, uint32_t seed) {
    std::vector<int> order(static_cast<size_t>(nnod));
    std::iota(order.begin(), order.end(), 1);
    // The shuffle written out: std::shuffle's sequence differs between
    // standard libraries, this one does not.
    std::mt19937 rng(seed * 1000003u + static_cast<uint32_t>(step));
    for (size_t i = order.size(); i > 1; --i) {
        const size_t j = static_cast<size_t>(rng() % i);
        std::swap(order[i - 1], order[j]);
    }
    return order;
}

} // namespace vhost

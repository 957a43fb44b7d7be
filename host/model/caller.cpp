// calls.cpp - the calling convention, the worker and the single-call probe.
#include "model/caller.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "checks/checks.h"
#include "model/guard.h"
#include "platform/platform.h"
#include "worker/protocol.h"
#include "model/sample.h"

namespace vhost {

namespace {

// Entries of mic_lastp: 0-2, the constituents, the auxiliary variables.
constexpr size_t kLastpSize = VULMORA_LASTP_LEN;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// printf into a std::string.
void appendf(std::string &out, const char *format, ...) {
    char buf[1024];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    out += buf;
}

} // namespace

std::vector<uint8_t> selectedNodes(const Sample &s, const Options &o) {
    return ResultShape::values(WorkerKind::Entry, -1, s.nodesPerSide, 1, o.materials).selection();
}

// ---- the calling convention ---------------------------------------------------

Caller::Caller(Library &lib, Sample &sample, const Options &o)
    : lib_(lib), s_(sample), o_(o), lastp_(kLastpSize, 0), own_(std::make_unique<ResultHeader>()),
      pos_(own_.get()) {}

// Fields of step s, the block pointed at them, then func_externalcompute
// with the number of steps done so far (0 at the first step resets the
// library's control flags).
void Caller::beginStep(int s) {
    pos_->phase = static_cast<int32_t>(Phase::Between);
    pos_->step = s;
    pos_->node = 0;
    if (guard_) guard_->release();
    // A handler the library put before ours would take the first read of
    // a field for a crash: then the fields are filled at once.
    const bool lazy = guard_ && lazyFields_ && platform::faultsReachResolver();
    s_.setStep(s, !lazy);
    lib_.bind(s_, o_);
    if (guard_) guard_->protect(s_, lazy);
    *lib_.x.mic_lastp = lastp_.data();
    if (lib_.externalcompute) {
        pos_->phase = static_cast<int32_t>(Phase::External);
        lib_.externalcompute(nullptr, s - 1);
        pos_->phase = static_cast<int32_t>(Phase::Between);
    }
}

// One call per selected node; the loop writes only cur_node (and, in local
// mode, the node's microstructure values) between calls.
void Caller::evaluate(const EntryPoint &e, PropertyFn f, double *out,
                      const std::vector<uint8_t> &selected, const std::vector<int> *order,
                      double *again) {
    const int n = s_.nnod;
    int *cur = lib_.x.cur_node;
    pos_->step = s_.step;
    const bool local = e.mode != CallMode::Nodal;
    Marks m;
    if (local) m = registration(f);
    *lib_.x.location = local ? 2 : 1;
    pos_->phase = static_cast<int32_t>(Phase::Call);
    for (int k = 1; k <= n; ++k) {
        const int node = order ? (*order)[static_cast<size_t>(k - 1)] : k;
        if (!selected[static_cast<size_t>(node - 1)]) continue;
        pos_->node = node;
        pos_->calls = pos_->calls + 1;
        if (local) fillLocal(m, node);
        *cur = node - 1;
        out[node - 1] = f(node);
        if (again) {
            pos_->calls = pos_->calls + 1;
            if (local) fillLocal(m, node);
            *cur = node - 1;
            again[node - 1] = f(node);
        }
    }
    pos_->phase = static_cast<int32_t>(Phase::Between);
}

// One call at node 1 with location = -1 and mic_lastp zeroed; the marked
// constituents and auxiliary variables then get slots 0, 1, ... each.
Marks Caller::registration(PropertyFn f) {
    std::fill(lastp_.begin(), lastp_.end(), 0);
    *lib_.x.mic_lastp = lastp_.data();
    *lib_.x.location = -1;
    *lib_.x.cur_node = 0;
    pos_->phase = static_cast<int32_t>(Phase::Registration);
    pos_->node = 1;
    pos_->calls = pos_->calls + 1;
    (void)f(1);
    pos_->phase = static_cast<int32_t>(Phase::Between);
    Marks m;
    m.poros = lastp_[VULMORA_LASTP_POROS1] != 0;
    for (int i = 0; i < VULMORA_MAX_CONSTITUENTS; ++i)
        if (lastp_[VULMORA_LASTP_CONSTITUENTS + static_cast<size_t>(i)])
            m.constituents.push_back(i);
    for (int i = 0; i < VULMORA_MAX_AUXILIARIES; ++i)
        if (lastp_[VULMORA_LASTP_AUXILIARIES + static_cast<size_t>(i)]) m.auxiliaries.push_back(i);
    int slot = 0;
    for (int c : m.constituents)
        lastp_[VULMORA_LASTP_CONSTITUENTS + static_cast<size_t>(c)] = slot++;
    // The unmarked ones after them, each in a slot of its own holding the
    // NaN that names it (local values fill only the marked slots); there
    // is room for every index.
    double *loc = *lib_.x.loc_micro;
    for (int i = 0; i < VULMORA_MAX_CONSTITUENTS; ++i)
        if (!std::binary_search(m.constituents.begin(), m.constituents.end(), i)) {
            loc[VULMORA_LOC_MICRO_CONSTITUENTS + static_cast<size_t>(slot)] =
                unmarkedNaN(Unmarked::Constituent, i);
            lastp_[VULMORA_LASTP_CONSTITUENTS + static_cast<size_t>(i)] = slot++;
        }
    slot = 0;
    for (int a : m.auxiliaries)
        lastp_[VULMORA_LASTP_AUXILIARIES + static_cast<size_t>(a)] = slot++;
    for (int i = 0; i < VULMORA_MAX_AUXILIARIES; ++i)
        if (!std::binary_search(m.auxiliaries.begin(), m.auxiliaries.end(), i)) {
            loc[VULMORA_LOC_MICRO_AUXILIARIES + static_cast<size_t>(slot)] =
                unmarkedNaN(Unmarked::Auxiliary, i);
            lastp_[VULMORA_LASTP_AUXILIARIES + static_cast<size_t>(i)] = slot++;
        }
    return m;
}

// The node's values of the marked quantities, where local mode reads them.
// A quantity the model does not have (an index beyond its active ones) is NaN.
void Caller::fillLocal(const Marks &m, int node) {
    const size_t i = static_cast<size_t>(node - 1), n = static_cast<size_t>(s_.nnod);
    double *loc = *lib_.x.loc_micro;
    size_t k = 0;
    for (int c : m.constituents)
        loc[VULMORA_LOC_MICRO_CONSTITUENTS + k++] =
            c < kNumConstituents ? s_.micro[static_cast<size_t>(c) * n + i] : kNaN;
    k = 0;
    for (int a : m.auxiliaries)
        loc[VULMORA_LOC_MICRO_AUXILIARIES + k++] =
            a < kNumAuxiliaries ? s_.aux[static_cast<size_t>(a) * n + i] : kNaN;
    *lib_.x.loc_poro = m.poros ? s_.vf1[i] : unmarkedNaN(Unmarked::Porosity, 0);
}

// Quiet NaNs with a payload: a tag, the kind and the index.
namespace {
constexpr uint64_t kUnmarkedTag = 0x7ff8'0000'5600'0000ull;
}

double unmarkedNaN(Unmarked kind, int index) {
    const uint64_t bits = kUnmarkedTag | uint64_t(static_cast<uint32_t>(kind)) << 16 |
                          uint64_t(static_cast<uint16_t>(index));
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

bool decodeUnmarked(double x, Unmarked &kind, int &index) {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    bits &= ~(1ull << 63); // arithmetic may flip the sign
    if ((bits & ~0xffffffull) != kUnmarkedTag) return false;
    const uint32_t k = static_cast<uint32_t>(bits >> 16) & 0xff;
    index = static_cast<int>(bits & 0xffff);
    if (k > 2) return false;
    kind = static_cast<Unmarked>(k);
    return true;
}

std::string unmarkedName(Unmarked kind, int index) {
    switch (kind) {
    case Unmarked::Constituent:
        return "constituent " + std::to_string(index) +
               (index < kNumConstituents ? " (" + std::string(kConstituents[index]) + ")" : "") +
               ", getFraction(" + std::to_string(index) + ")";
    case Unmarked::Auxiliary:
        return "auxiliary variable " + std::to_string(index) +
               (index < kNumAuxiliaries ? " (" + std::string(kAuxiliaries[index]) + ")" : "") +
               ", getMicro(" + std::to_string(index) + ")";
    case Unmarked::Porosity:
        break;
    }
    return "the porosity (POROS1), getDefect(1)";
}

// ---- the worker ----------------------------------------------------------------

namespace {

// What the crash hook needs; set up by runWorker.
ResultHeader *gHeader = nullptr;
InputGuard *gGuard = nullptr;

// A fault in a host array not filled yet fills it.
bool resolveWorkerFault(const void *address) {
    return gGuard && gGuard->resolve(address);
}

// On a crash: flush what user code printed, and name the host array when
// the fault is a write into one.
void onWorkerCrash(const void *address) {
    std::fflush(stdout);
    int32_t array = -1;
    int64_t entry = 0;
    if (gHeader && gGuard && address && gGuard->locate(address, array, entry)) {
        gHeader->modifiedEntry = entry;
        gHeader->modifiedArray = array;
    }
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
ResultHeader *openResult(const Options &o, const ResultShape &shape, platform::FileHandle &file) {
    std::string error;
    file = platform::openExisting(o.resultFile, shape.bytes(), error);
    void *map = file == -1 ? nullptr : platform::mapShared(file, kResultHeaderSize, error);
    auto *h = static_cast<ResultHeader *>(map);
    if (h && !checkHeader(*h, shape, error)) h = nullptr;
    if (!h) std::fprintf(stderr, "vulmora-host worker: %s\n", error.c_str());
    return h;
}

// The first call the solver would make of entry point `e`, on a sample of
// 4 x 4 x 4 nodes (and func_externalcompute before it).
void firstCall(Library &lib, const EntryPoint &e, PropertyFn f, const Options &o) {
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
bool isPlaceholder(Library &lib, const EntryPoint &e, PropertyFn f, const Options &o) {
    std::string printed;
    bool exited = false;
    int status = 0;
    const double limit = o.timeLimit > 0 ? o.timeLimit : 60;
    return platform::runForked([&] { firstCall(lib, e, f, o); }, limit, printed, exited, status) &&
           exited && status == 1 && printed == placeholderLine(e.name);
}

} // namespace

// The shape of the result file of `o`'s worker.
ResultShape workerShape(const Options &o) {
    ResultShape shape;
    shape.side = o.nodesPerSide;
    shape.materials = o.materials;
    shape.nnod = int64_t(o.nodesPerSide) * o.nodesPerSide * o.nodesPerSide;
    shape.steps = o.steps;
    if (o.worker == "survey") {
        shape.kind = WorkerKind::Survey;
    } else if (o.worker == "externalcompute") {
        shape.kind = WorkerKind::External;
    } else {
        const EntryPoint *e = findEntryPoint(o.worker);
        shape = ResultShape::values(o.orderSeed ? WorkerKind::Order : WorkerKind::Entry,
                                    e ? static_cast<int32_t>(e - kEntryPoints) : -1, o.nodesPerSide,
                                    o.steps, o.materials);
    }
    return shape;
}

// Load the library (its own output then is not the entry point's), then
// rebuild the sample and evaluate every step, writing each value into the
// shared file as it comes. Nothing but user code writes to stdout, so the
// parent sees exactly what the entry point printed.
int runWorker(const Options &o) {
    const ResultShape shape = workerShape(o);
    platform::FileHandle file = -1;
    ResultHeader *h = openResult(o, shape, file);
    if (!h) return 3;
    gHeader = h;
    platform::onCrash(onWorkerCrash);
    // Each of the host's arrays is filled when first read (the mesh's once,
    // the fields' each step), unless a capture is asked for: it saves them,
    // from a handler of the library's own.
    const char *capture = std::getenv("VULMORA_CAPTURE");
    const bool lazyFields =
        !o.fillAll && !(capture && *capture) && platform::onFault(resolveWorkerFault);
    auto fail = [&](WorkerState state, const std::string &why) {
        setText(h->message, why.c_str());
        h->state = static_cast<int32_t>(state);
        return 3;
    };
    // The library counts its silently wrong answers into the counters'
    // part of the result file, through a descriptor of its own.
    std::string why;
    const platform::FileHandle probe =
        shape.kind == WorkerKind::Survey ? -1
                                         : platform::openExisting(o.resultFile, shape.bytes(), why);
    if (probe != -1 && !platform::shareWithLibrary(probe, VULMORA_PROBE_ENV))
        platform::closeFile(probe); // the counters stay off
    // Loading runs the library's constructors.
    h->phase = static_cast<int32_t>(Phase::Load);
    const int quiet = shape.kind == WorkerKind::Survey ? -1 : platform::silenceStdout();
    Library lib;
    std::string error;
    const bool loaded = lib.open(o.library, error);
    platform::restoreStdout(quiet);
    if (!loaded) return fail(WorkerState::LoadFailed, error);
    if (shape.kind == WorkerKind::Survey) {
        // The first calls run in copies of this process with their own time
        // limit: this process does the emulator's work meanwhile.
        h->phase = static_cast<int32_t>(Phase::Between);
        for (size_t k = 0; k < std::size(kEntryPoints); ++k) {
            PropertyFn entry = lib.entry(kEntryPoints[k].name);
            h->exported[k] = entry ? 1 : 0;
            if (entry && isPlaceholder(lib, kEntryPoints[k], entry, o)) h->exported[k] = 2;
        }
        h->exportsExternal = lib.externalcompute != nullptr;
        h->state = static_cast<int32_t>(WorkerState::Complete);
        h->phase = static_cast<int32_t>(Phase::Unload);
        return 0;
    }
    h->phase = static_cast<int32_t>(Phase::Setup);
    const EntryPoint *e = shape.entryIndex >= 0 ? &kEntryPoints[shape.entryIndex] : nullptr;
    PropertyFn f = e ? lib.entry(e->name) : nullptr;
    if (shape.kind != WorkerKind::External && !f)
        return fail(WorkerState::SetupFailed, "no entry point func_" + o.worker);
    if (shape.kind == WorkerKind::External && !lib.externalcompute)
        return fail(WorkerState::SetupFailed, "no func_externalcompute");
    std::unique_ptr<Sample> sample;
    InputGuard guard;
    try {
        sample = std::make_unique<Sample>(o.nodesPerSide, o.steps, lazyFields);
    } catch (const std::bad_alloc &) {
        return fail(WorkerState::SetupFailed, "out of memory while building the sample");
    }
    sample->stressScale = o.stressScale;
    gGuard = &guard;
    Caller caller(lib, *sample, o);
    caller.track(h);
    caller.guard(&guard, lazyFields);
    // One step's values (twice that for the order check), then those of
    // the selected nodes, as the result file keeps them.
    const size_t nnod = static_cast<size_t>(shape.nnod);
    const size_t nsel = static_cast<size_t>(shape.selectedCount());
    std::vector<double> values, compact;
    try {
        values.resize(shape.kind == WorkerKind::Order ? 2 * nnod : nnod);
        compact.resize(nsel);
    } catch (const std::bad_alloc &) {
        return fail(WorkerState::SetupFailed, "out of memory for the values");
    }
    const std::vector<uint8_t> selected = selectedNodes(*sample, o);
    int mech = 0;
    const bool mechprop =
        e && std::sscanf(e->name, "mechprop%d", &mech) == 1 && mech >= 1 && mech <= 5;
    for (int s = 1; s <= o.steps; ++s) {
        caller.beginStep(s);
        if (!e) {
            h->calls = h->calls + 1; // func_externalcompute's calls
            continue;
        }
        std::fill(values.begin(), values.end(), kNaN);
        // The time of the calls, less that of filling the arrays they read.
        const InputGuard::FillTime filledBefore = guard.fillTime();
        auto start = std::chrono::steady_clock::now();
        const double cpuStart = platform::threadCpuSeconds();
        const bool order = shape.kind == WorkerKind::Order;
        if (order) {
            const std::vector<int> shuffled = shuffledNodes(sample->nnod, s, uint32_t(o.orderSeed));
            caller.evaluate(*e, f, values.data(), selected, &shuffled, values.data() + nnod);
        } else {
            caller.evaluate(*e, f, values.data(), selected);
        }
        const InputGuard::FillTime filled = guard.fillTime();
        h->seconds += std::max(
            0.0, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() -
                     (filled.seconds - filledBefore.seconds));
        h->cpuSeconds += std::max(0.0, platform::threadCpuSeconds() - cpuStart -
                                           (filled.cpuSeconds - filledBefore.cpuSeconds));
        // Step s's block (and, for the order check, its block in the second half).
        const uint64_t at = static_cast<uint64_t>(s - 1) * nsel, half = uint64_t(shape.count / 2);
        for (int copy = 0; copy < (order ? 2 : 1); ++copy) {
            const double *from = values.data() + size_t(copy) * nnod;
            for (size_t i = 0, j = 0; i < nnod; ++i)
                if (selected[i]) compact[j++] = from[i];
            const uint64_t offset = kResultHeaderSize + (at + (copy ? half : 0)) * sizeof(double);
            if (!platform::writeAt(file, compact.data(), nsel * sizeof(double), offset))
                return fail(WorkerState::SetupFailed,
                            "cannot write the values into the result file");
        }
        if (mechprop) {
            setText(h->mechName, (*lib.x.name_mechprop)[mech - 1]);
            setText(h->mechUnit, (*lib.x.unit_mechprop)[mech - 1]);
        }
    }
    std::fflush(stdout);
    h->state = static_cast<int32_t>(WorkerState::Complete);
    h->phase = static_cast<int32_t>(Phase::Unload); // the library's destructors come next
    return 0;
}

// ---- describing a node ----------------------------------------------------------

// Everything the accessors read at the node, level 0 and level 1.
std::string describeNode(const Sample &s, int node, ConvertFn fromCGS, bool elements) {
    const size_t i = static_cast<size_t>(node - 1), n = static_cast<size_t>(s.nnod);
    std::string o;
    appendf(o, "  node %d of step %d (level 0 at t = %g s, level 1 at t = %g s)\n", node, s.step,
            s.time(s.step - 1), s.time(s.step));
    appendf(o, "  coordinates      x = %.6g  y = %.6g  z = %.6g cm", s.x[i], s.y[i], s.z[i]);
    if (fromCGS)
        appendf(o, "   (user unit: %.6g %.6g %.6g)", fromCGS(0, s.x[i]), fromCGS(0, s.y[i]),
                fromCGS(0, s.z[i]));
    appendf(o, "\n  temperature      t0 = %.6g K  t1 = %.6g K", double(s.t0[i]), double(s.t1[i]));
    if (fromCGS)
        appendf(o, "   (user unit: %.6g, %.6g)", fromCGS(-1, s.t0[i]), fromCGS(-1, s.t1[i]));
    appendf(o, "\n  solid fraction   fs0 = %.6g  fs1 = %.6g\n", double(s.fs0[i]), double(s.fs1[i]));
    appendf(o, "  velocity         u0 v0 w0 = %.6g %.6g %.6g  u1 v1 w1 = %.6g %.6g %.6g cm/s\n",
            double(s.u0[i]), double(s.v0[i]), double(s.w0[i]), double(s.u1[i]), double(s.v1[i]),
            double(s.w1[i]));
    appendf(o, "  pressure         p0 = %.6g  p1 = %.6g dyn/cm2\n", double(s.p0[i]),
            double(s.p1[i]));
    appendf(o, "  mushy_strain     %.6g\n", double(s.mushy[i]));
    appendf(o, "  porosity         vf_s0 = %.6g  vf_s1 = %.6g (POROS1)\n", double(s.vf0[i]),
            double(s.vf1[i]));
    appendf(o, "  FVOL             f_vol0 = %.6g  f_vol1 = %.6g\n", double(s.fvol0[i]),
            double(s.fvol1[i]));
    appendf(o, "  jctn             jctn0 = %.6g  jctn1 = %.6g (cooling rate, K/s)\n",
            double(s.jctn0[i]), double(s.jctn1[i]));
    appendf(o, "  fatigue_life     %.6g\n", double(s.fatigue[i]));
    o += "  microstructure  ";
    for (int c = 0; c < kNumConstituents; ++c)
        appendf(o, " getFraction(%d) %s = %.6g;", c, kConstituents[c],
                s.micro[static_cast<size_t>(c) * n + i]);
    o += "\n                  ";
    for (int a = 0; a < kNumAuxiliaries; ++a)
        appendf(o, " getMicro(%d) %s = %.6g um;", a, kAuxiliaries[a],
                s.aux[static_cast<size_t>(a) * n + i]);
    o += "\n";
    for (size_t e = 0; elements && e < static_cast<size_t>(s.nel); ++e) {
        bool has = false;
        for (size_t c = 0; c < 8; ++c)
            has = has || s.conn[e * 8 + c] == node - 1;
        if (!has) continue;
        double fv = 0, ep = 0, st[6] = {0, 0, 0, 0, 0, 0};
        for (size_t p = 0; p < 8; ++p) {
            fv += s.fractionVoid[e * 8 + p] / 8.0;
            ep += s.epstn[e * 8 + p] / 8.0;
            for (size_t c = 0; c < 6; ++c)
                st[c] += s.strsg[(e * 8 + p) * 6 + c] / 8.0;
        }
        appendf(
            o, "  element %zu (material %d, %s, volume %.6g cm3): fraction_void %.6g, epstn %.6g\n",
            e + 1, s.matId[e] + 1, s.matId[e] == 0 ? "casting" : "mould", double(s.elVol[e]), fv,
            ep);
        appendf(o, "      stress x stress_scale: %.6g %.6g %.6g %.6g %.6g %.6g\n",
                st[0] * s.stressScale, st[1] * s.stressScale, st[2] * s.stressScale,
                st[3] * s.stressScale, st[4] * s.stressScale, st[5] * s.stressScale);
    }
    return o;
}

// ---- the probe -------------------------------------------------------------------

// Steps 1..S are made current in turn (func_externalcompute sees each),
// then every named entry point is called once at the node, in this process.
int runProbe(const Options &o) {
    // The library's counters of silent answers, in an unnamed file of this
    // process (removed when it ends): their change over each call is shown.
    std::unique_ptr<FILE, int (*)(FILE *)> counters(std::tmpfile(), &std::fclose);
    bool counting = false;
    if (counters) {
        char page[kResultHeaderSize] = {};
        const vulmora_probe p = initialProbe();
        std::memcpy(page + VULMORA_PROBE_OFFSET, &p, sizeof p);
        counting = std::fwrite(page, 1, sizeof page, counters.get()) == sizeof page &&
                   std::fflush(counters.get()) == 0 &&
                   platform::shareWithLibrary(platform::FileHandle(fileno(counters.get())),
                                              VULMORA_PROBE_ENV);
    }
    auto silent = [&](vulmora_probe &now) {
        return counting && platform::readAt(platform::FileHandle(fileno(counters.get())), &now,
                                            sizeof now, VULMORA_PROBE_OFFSET);
    };
    Library lib;
    std::string error;
    if (!lib.open(o.library, error)) {
        std::fprintf(stderr, "vulmora-host: %s\n", error.c_str());
        return 2;
    }
    Sample sample(o.nodesPerSide, o.steps);
    sample.stressScale = o.stressScale;
    Caller caller(lib, sample, o);
    InputGuard guard; // a write into the host's arrays faults where it is made
    caller.guard(&guard);
    for (int s = 1; s <= o.probeStep; ++s)
        caller.beginStep(s);
    const int node = o.probeNode;
    std::printf("What the accessors read:\n%s", describeNode(sample, node, lib.fromCGS).c_str());
    std::printf(
        "  exchange block: cur_node = %d, func_temp = %g, stress_scale = %g, units: temp %d,"
        " length %d, velocity %d\n",
        node - 1, *lib.x.func_temp, *lib.x.stress_scale, *lib.x.user_unit_temp,
        *lib.x.user_unit_coor, *lib.x.user_unit_velocity);
    int status = 0;
    for (const std::string &name : o.functions) {
        const EntryPoint *e = findEntryPoint(name);
        PropertyFn f = lib.entry(name);
        if (!f) {
            std::printf("func_%s: not exported by the library\n", name.c_str());
            status = 1;
            continue;
        }
        if (e->mode == CallMode::Mechanical) {
            std::printf("func_%s(1) in registration mode (location = -1):\n", name.c_str());
            std::fflush(stdout);
            Marks m = caller.registration(f);
            std::printf("  marked:%s", m.poros ? " POROS1" : "");
            for (size_t k = 0; k < m.constituents.size(); ++k)
                std::printf(" constituent %d -> slot %zu;", m.constituents[k], k);
            for (size_t k = 0; k < m.auxiliaries.size(); ++k)
                std::printf(" auxiliary %d -> slot %zu;", m.auxiliaries[k], k);
            caller.fillLocal(m, node);
            *lib.x.location = 2;
            std::printf("\n  loc_poro = %g\n", *lib.x.loc_poro);
        } else {
            *lib.x.location = 1;
        }
        *lib.x.cur_node = node - 1;
        std::printf("func_%s(%d) (location = %d):\n", name.c_str(), node, *lib.x.location);
        std::fflush(stdout);
        vulmora_probe before{}, after{};
        const bool counted = silent(before);
        const double v = f(node);
        std::fflush(stdout);
        std::printf("  = %.17g\n", v);
        if (counted && silent(after)) {
            static const char *const what[VULMORA_PROBE_EVENTS] = {
                "accessor calls with a number out of range (returned 0)",
                "nodNum calls that found no node (returned 0)",
                "reads of fields the host did not set (returned 0)"};
            for (int k = 0; k < VULMORA_PROBE_EVENTS; ++k)
                if (after.counts[k] != before.counts[k])
                    std::printf("  silent answers in this call: %llu %s\n",
                                after.counts[k] - before.counts[k], what[k]);
        }
        if (!std::isfinite(v)) status = 1;
    }
    return status;
}

} // namespace vhost

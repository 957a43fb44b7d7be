// calls.cpp - the calling convention, the worker and the single-call probe.
#include "calls.h"

#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform.h"
#include "sample.h"

namespace vhost {

Position gPosition;

namespace {

// Entries of mic_lastp: 0-2, the constituents, the auxiliary variables.
constexpr size_t kLastpSize = VULMORA_LASTP_LEN;
constexpr char kMagic[8] = {'V', 'M', 'H', 'R', 'E', 'S', '0', '1'};
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

// ---- the calling convention ---------------------------------------------------

Caller::Caller(Library &lib, Sample &sample, const Options &o)
    : lib_(lib), s_(sample), o_(o), lastp_(kLastpSize, 0) {}

// Fields of step s, the block pointed at them, then func_externalcompute
// with the number of steps done so far (0 at the first step resets the
// library's control flags).
void Caller::beginStep(int s) {
    s_.setStep(s);
    lib_.bind(s_, o_);
    *lib_.x.micLastp = lastp_.data();
    if (lib_.externalcompute) {
        gPosition = {s, 0, Phase::External};
        lib_.externalcompute(nullptr, s - 1);
    }
}

// One call per node; the loop writes only cur_node between calls.
void Caller::evaluate(const EntryPoint &e, PropertyFn f, double *out) {
    const int n = s_.nnod;
    int *cur = lib_.x.curNode;
    gPosition.step = s_.step;
    if (e.mode == CallMode::Nodal) {
        *lib_.x.location = 1;
        gPosition.phase = Phase::Call;
        for (int node = 1; node <= n; ++node) {
            gPosition.node = node;
            *cur = node - 1;
            out[node - 1] = f(node);
        }
        return;
    }
    const Marks m = registration(f);
    gPosition.phase = Phase::Call;
    *lib_.x.location = 2;
    for (int node = 1; node <= n; ++node) {
        gPosition.node = node;
        fillLocal(m, node);
        *cur = node - 1;
        out[node - 1] = f(node);
    }
}

// One call at node 1 with location = -1 and mic_lastp zeroed; the marked
// constituents and auxiliary variables then get slots 0, 1, ... each.
Marks Caller::registration(PropertyFn f) {
    std::fill(lastp_.begin(), lastp_.end(), 0);
    *lib_.x.micLastp = lastp_.data();
    *lib_.x.location = -1;
    *lib_.x.curNode = 0;
    gPosition = {s_.step, 1, Phase::Registration};
    (void)f(1);
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
    slot = 0;
    for (int a : m.auxiliaries)
        lastp_[VULMORA_LASTP_AUXILIARIES + static_cast<size_t>(a)] = slot++;
    return m;
}

// The node's values of the marked quantities, where local mode reads them.
// A quantity the model does not have (an index beyond its active ones) is NaN.
void Caller::fillLocal(const Marks &m, int node) {
    const size_t i = static_cast<size_t>(node - 1), n = static_cast<size_t>(s_.nnod);
    double *loc = lib_.x.locMicro;
    size_t k = 0;
    for (int c : m.constituents)
        loc[VULMORA_LOC_MICRO_CONSTITUENTS + k++] =
            c < kNumConstituents ? s_.micro[static_cast<size_t>(c) * n + i] : kNaN;
    k = 0;
    for (int a : m.auxiliaries)
        loc[VULMORA_LOC_MICRO_AUXILIARIES + k++] =
            a < kNumAuxiliaries ? s_.aux[static_cast<size_t>(a) * n + i] : kNaN;
    if (m.poros) *lib_.x.locPoro = s_.vf1[i];
}

// ---- the worker ----------------------------------------------------------------

namespace {

// What the exit handler writes; set up by runWorker.
struct WorkerState {
    FILE *file = nullptr;
    WorkerResult::State state = WorkerResult::Running;
    const std::vector<double> *values = nullptr;
    int64_t calls = 0;
    double seconds = 0;
    const char *mechName = nullptr, *mechUnit = nullptr;
    bool written = false;
};
WorkerState *gWorker = nullptr;

// Write the result file once: at the normal end, or from exit() when user
// code ends the process (the values computed so far and the position).
void writeResultFile() {
    WorkerState *w = gWorker;
    if (!w || w->written || !w->file) return;
    w->written = true;
    int32_t head[4] = {w->state == WorkerResult::Running ? WorkerResult::Ended : w->state,
                       gPosition.step, gPosition.node, static_cast<int32_t>(gPosition.phase)};
    char name[VULMORA_NAME_MECHPROP_LEN] = {0}, unit[VULMORA_UNIT_MECHPROP_LEN] = {0};
    if (w->mechName) std::memcpy(name, w->mechName, VULMORA_NAME_MECHPROP_LEN - 1);
    if (w->mechUnit) std::memcpy(unit, w->mechUnit, VULMORA_UNIT_MECHPROP_LEN - 1);
    int64_t count = w->values ? static_cast<int64_t>(w->values->size()) : 0;
    std::fseek(w->file, 0, SEEK_SET);
    std::fwrite(kMagic, 1, sizeof kMagic, w->file);
    std::fwrite(head, sizeof head, 1, w->file);
    std::fwrite(&w->calls, sizeof w->calls, 1, w->file);
    std::fwrite(&w->seconds, sizeof w->seconds, 1, w->file);
    std::fwrite(name, 1, sizeof name, w->file);
    std::fwrite(unit, 1, sizeof unit, w->file);
    std::fwrite(&count, sizeof count, 1, w->file);
    if (count) std::fwrite(w->values->data(), sizeof(double), w->values->size(), w->file);
    std::fclose(w->file);
    w->file = nullptr;
}

} // namespace

// Rebuild the sample, evaluate every step; nothing but user code writes to
// stdout, so the parent sees exactly what the entry point printed.
int runWorker(const Options &o) {
    static WorkerState state; // trivially destructible: safe during exit()
    gWorker = &state;
    state.file = std::fopen(o.resultFile.c_str(), "wb");
    if (!state.file) {
        std::fprintf(stderr, "vulmora-host worker: cannot write %s\n", o.resultFile.c_str());
        return 3;
    }
    // Unbuffered, so that writing the file after a crash needs no malloc.
    std::setvbuf(state.file, nullptr, _IONBF, 0);
    std::atexit(writeResultFile);
    platform::onCrash(writeResultFile);
    Library lib;
    std::string error;
    if (!lib.open(o.library, error)) {
        std::fprintf(stderr, "vulmora-host worker: %s\n", error.c_str());
        return 3;
    }
    const bool externalOnly = o.worker == "externalcompute";
    const EntryPoint *e = externalOnly ? nullptr : findEntryPoint(o.worker);
    PropertyFn f = e ? lib.entry(e->name) : nullptr;
    if (!externalOnly && !f) {
        std::fprintf(stderr, "vulmora-host worker: no entry point func_%s\n", o.worker.c_str());
        return 3;
    }
    Sample sample(o.nodesPerSide, o.steps);
    sample.stressScale = o.stressScale;
    Caller caller(lib, sample, o);
    auto *values = new std::vector<double>(
        externalOnly ? 0 : static_cast<size_t>(sample.nnod) * static_cast<size_t>(o.steps), kNaN);
    state.values = values;
    int mech = 0;
    if (e && std::sscanf(e->name, "mechprop%d", &mech) == 1 && mech >= 1 &&
        mech <= VULMORA_MECHPROP_COUNT) {
        state.mechName = lib.x.nameMechprop + (mech - 1) * VULMORA_NAME_MECHPROP_LEN;
        state.mechUnit = lib.x.unitMechprop + (mech - 1) * VULMORA_UNIT_MECHPROP_LEN;
    }
    for (int s = 1; s <= o.steps; ++s) {
        caller.beginStep(s);
        if (externalOnly) {
            ++state.calls;
            continue;
        }
        double *out =
            values->data() + static_cast<size_t>(s - 1) * static_cast<size_t>(sample.nnod);
        auto start = std::chrono::steady_clock::now();
        caller.evaluate(*e, f, out);
        state.seconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.calls += sample.nnod;
    }
    state.state = WorkerResult::Complete;
    std::fflush(stdout);
    writeResultFile();
    return 0;
}

// Read back what writeResultFile wrote.
bool readWorkerResult(const std::string &path, WorkerResult &r, std::string &error) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return error = "the worker wrote no result", false;
    char magic[8];
    int32_t head[4];
    char name[VULMORA_NAME_MECHPROP_LEN], unit[VULMORA_UNIT_MECHPROP_LEN];
    int64_t count = 0;
    bool ok = std::fread(magic, 1, 8, f) == 8 && std::memcmp(magic, kMagic, 8) == 0 &&
              std::fread(head, sizeof head, 1, f) == 1 &&
              std::fread(&r.calls, sizeof r.calls, 1, f) == 1 &&
              std::fread(&r.seconds, sizeof r.seconds, 1, f) == 1 &&
              std::fread(name, 1, sizeof name, f) == sizeof name &&
              std::fread(unit, 1, sizeof unit, f) == sizeof unit &&
              std::fread(&count, sizeof count, 1, f) == 1 && count >= 0;
    if (ok) {
        r.values.resize(static_cast<size_t>(count));
        ok = count == 0 ||
             std::fread(r.values.data(), sizeof(double), r.values.size(), f) == r.values.size();
    }
    std::fclose(f);
    if (!ok) return error = "the worker's result is incomplete", false;
    r.state = static_cast<WorkerResult::State>(head[0]);
    r.at = {head[1], head[2], static_cast<Phase>(head[3])};
    name[VULMORA_NAME_MECHPROP_LEN - 1] = unit[VULMORA_UNIT_MECHPROP_LEN - 1] = 0;
    r.mechName = name;
    r.mechUnit = unit;
    return true;
}

// ---- describing a node ----------------------------------------------------------

// Everything the accessors read at the node, level 0 and level 1.
std::string describeNode(const Sample &s, int node, ConvertFn fromCGS) {
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
    for (size_t e = 0; e < static_cast<size_t>(s.nel); ++e) {
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
    Library lib;
    std::string error;
    if (!lib.open(o.library, error)) {
        std::fprintf(stderr, "vulmora-host: %s\n", error.c_str());
        return 2;
    }
    Sample sample(o.nodesPerSide, o.steps);
    sample.stressScale = o.stressScale;
    Caller caller(lib, sample, o);
    for (int s = 1; s <= o.probeStep; ++s)
        caller.beginStep(s);
    const int node = o.probeNode;
    std::printf("What the accessors read:\n%s", describeNode(sample, node, lib.fromCGS).c_str());
    std::printf(
        "  exchange block: cur_node = %d, func_temp = %g, stress_scale = %g, units: temp %d,"
        " length %d, velocity %d\n",
        node - 1, *lib.x.funcTemp, *lib.x.stressScale, *lib.x.unitTemp, *lib.x.unitCoor,
        *lib.x.unitVelocity);
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
            std::printf("\n  loc_poro = %g\n", *lib.x.locPoro);
        } else {
            *lib.x.location = 1;
        }
        *lib.x.curNode = node - 1;
        std::printf("func_%s(%d) (location = %d):\n", name.c_str(), node, *lib.x.location);
        std::fflush(stdout);
        const double v = f(node);
        std::fflush(stdout);
        std::printf("  = %.17g\n", v);
        if (!std::isfinite(v)) status = 1;
    }
    return status;
}

} // namespace vhost

// diagnose.cpp - the diagnostic worker (diagnose.h): the state at a step
// built as --node builds it, then the entry point's call (or every call)
// with traps on; the handler writes where the trap fired and ends the
// process.
#include "worker/diagnose.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "model/caller.h"
#include "model/entries.h"
#include "model/fields.h"
#include "model/guard.h"
#include "model/path.h"
#include "model/sample.h"
#include "platform/exit_status.h"
#include "platform/files.h"
#include "platform/fptrap.h"
#include "platform/system.h"
#include "protocol/protocol.h"

namespace vhost {

namespace {

// What the handler needs, set up before the calls: nothing is made in it.
platform::FileHandle diagFile = -1, probeFile = -1;
uint64_t diagAt = 0;
const CallPosition *position = nullptr;
vulmora_probe probeBefore{};
char line[1024];

void put(const char *text) {
    const size_t n = std::strlen(text);
    if (platform::writeAt(diagFile, text, n, diagAt)) diagAt += n;
}

// A NaN the accessors returned since `probeBefore`: the library counts
// a local-mode read of a quantity the registration did not mark.
void putRead() {
    vulmora_probe now{};
    if (probeFile == -1 || !platform::readAt(probeFile, &now, sizeof now, VULMORA_PROBE_OFFSET))
        return;
    if (now.counts[VULMORA_PROBE_UNMARKED] == probeBefore.counts[VULMORA_PROBE_UNMARKED]) return;
    std::snprintf(line, sizeof line, "read %llx\n", now.first_unmarked);
    put(line);
}

void putFrames(const platform::FpTrap &t) {
    for (int k = 0; k < t.depth; ++k) {
        platform::CodeAddress a;
        if (!platform::codeAddress(t.frames[k], a)) continue;
        std::snprintf(line, sizeof line, "frame %" PRIx64 " %s %s\n", a.offset,
                      a.symbol[0] ? a.symbol : "-", a.module);
        put(line);
    }
}

// In the handler of the trap: the process stopped inside user code.
void onTrap(const platform::FpTrap &t) {
    std::snprintf(line, sizeof line, "trap %s %d %d\n", platform::fpFaultWord(t.fault),
                  int(position->step), int(position->node));
    put(line);
    putRead();
    putFrames(t);
    put("end\n");
}

// Each field at the node that is not a number or infinite: what the
// accessors would return as read, not made.
void putFields(const Sample &s, int node) {
    const size_t i = static_cast<size_t>(node - 1);
#define VHOST_FIELD_LINE(variable, member, type, extent, vtu)                                      \
    if (extent == Extent::Node && !std::isfinite(double(s.member[i]))) {                           \
        std::snprintf(line, sizeof line, "field %s %g\n", #variable, double(s.member[i]));         \
        put(line);                                                                                 \
    }
#define VHOST_FIELD_NONE(label, member, type, extent)
    VHOST_FIELD_ARRAYS(VHOST_FIELD_LINE, VHOST_FIELD_NONE)
#undef VHOST_FIELD_LINE
#undef VHOST_FIELD_NONE
}

bool loadPath(const SampleConfig &o, Path &path, std::string &error) {
    std::vector<bool> given;
    const KelvinFn kelvin = [](int, double t) { return t; };
    return loadPathTable(o.pathFile, 1, kelvin, path, given, error);
}

// The result file's header, where the calls' position is written as a
// worker writes it (the parent's time limit watches it), and its page of
// counters, shared with the library as a worker's is, so that a NaN it
// hands out is counted. Null when there is no such file.
ResultHeader *shareHeader(const DiagnoseSettings &d) {
    std::string error;
    probeFile = platform::openExisting(d.resultFile, platform::kAnySize, error);
    const vulmora_probe p = initialProbe();
    void *map =
        probeFile == -1 ? nullptr : platform::mapShared(probeFile, kResultHeaderSize, error);
    if (!map || !platform::writeAt(probeFile, &p, sizeof p, VULMORA_PROBE_OFFSET) ||
        !platform::shareWithLibrary(probeFile, VULMORA_PROBE_ENV)) {
        platform::closeFile(probeFile);
        probeFile = -1;
        return nullptr;
    }
    return static_cast<ResultHeader *>(map);
}

} // namespace

int runDiagnosis(const DiagnoseSettings &d) {
    const SampleConfig &o = d.sample;
    std::string error;
    diagFile = platform::createExclusive(diagnosisFile(d.resultFile), 0, error);
    if (diagFile == -1) return fail(ExitStatus::WorkerSetup, error);
    const EntryPoint *e = findEntryPoint(d.function);
    if (!e) return fail(ExitStatus::WorkerSetup, "not an entry point: " + d.function);
    ResultHeader *header = shareHeader(d);
    Path path;
    if (!o.pathFile.empty() && !loadPath(o, path, error))
        return fail(ExitStatus::WorkerSetup, error);
    // A capture asked for is for the run's own calls, not for these again.
    platform::unsetEnvironment("VULMORA_CAPTURE");
    platform::unsetEnvironment("VULMORA_CAPTURE_AT");
    Library lib;
    if (!lib.open(o.library, error)) return fail(ExitStatus::WorkerSetup, error);
    PropertyFn f = lib.entry(d.function);
    if (!f) return fail(ExitStatus::WorkerSetup, "func_" + d.function + " is not exported");
    Sample sample(o.nodesPerSide, o.steps, Sample::Build::Whole,
                  o.pathFile.empty() ? nullptr : &path, o.alloy);
    sample.stressScale = o.stressScale;
    Caller caller(lib, sample, o);
    InputGuard guard;
    caller.guard(&guard);
    CallPosition own;
    CallPosition &pos = header ? header->pos : own;
    caller.track(&pos);
    position = &pos;
    if (!platform::catchFpTraps(onTrap, code(ExitStatus::Ok), error))
        return fail(ExitStatus::WorkerSetup, error);
    std::snprintf(line, sizeof line, "%s\nat %d %d\n", kDiagnosisMagic, d.node, d.step);
    put(line);
    if (d.node == 0) {
        // Every call of every step, in the run's order.
        const std::vector<uint8_t> selected = selectedNodes(sample, o);
        std::vector<double> out(static_cast<size_t>(sample.nnod));
        for (int s = 1; s <= o.steps; ++s) {
            caller.beginStep(s);
            platform::enableFpTraps();
            caller.evaluate(*e, f, out.data(), selected);
            platform::disableFpTraps();
        }
        put("end\n");
        return code(ExitStatus::Ok);
    }
    for (int s = 1; s <= d.step; ++s)
        caller.beginStep(s);
    putFields(sample, d.node);
    Marks m;
    if (e->mode == CallMode::Mechanical) {
        m = caller.registration(f);
        caller.fillLocal(m, d.node);
    }
    *lib.x.location = e->mode == CallMode::Mechanical ? 2 : 1;
    *lib.x.cur_node = d.node - 1;
    if (probeFile != -1)
        (void)platform::readAt(probeFile, &probeBefore, sizeof probeBefore, VULMORA_PROBE_OFFSET);
    pos.phase = static_cast<int32_t>(Phase::Call);
    pos.step = d.step;
    pos.node = d.node;
    pos.calls = pos.calls + 1;
    platform::enableFpTraps();
    const double v = f(d.node);
    platform::disableFpTraps();
    std::snprintf(line, sizeof line, "value %.17g\n", v);
    put(line);
    putRead();
    put("end\n");
    return code(ExitStatus::Ok);
}

} // namespace vhost

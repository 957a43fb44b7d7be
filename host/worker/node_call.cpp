// node_call.cpp - --node/--step: one call of each named entry point at one
// node, with what the accessors read there and the silent answers it gave.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "model/caller.h"
#include "model/guard.h"
#include "model/sample.h"
#include "platform/files.h"
#include "platform/exit_status.h"
#include "platform/scratch.h"
#include "worker/worker.h"

namespace vhost {

namespace {

// The library's counters of silent answers, in a file of a private folder
// of this call (removed when it ends): their change over each call is shown.
class SilentCounters {
  public:
    SilentCounters() {
        std::string error;
        if (!scratch_.make(error)) return;
        file_ = platform::createExclusive(scratch_.dir() + "/counters", kResultHeaderSize, error);
        if (file_ == -1) return;
        const vulmora_probe p = initialProbe();
        on_ = platform::writeAt(file_, &p, sizeof p, VULMORA_PROBE_OFFSET) &&
              platform::shareWithLibrary(file_, VULMORA_PROBE_ENV);
    }
    ~SilentCounters() { platform::closeFile(file_); }
    SilentCounters(const SilentCounters &) = delete;
    SilentCounters &operator=(const SilentCounters &) = delete;
    // The counts now; false when the library does not count.
    bool read(vulmora_probe &now) const {
        return on_ && platform::readAt(file_, &now, sizeof now, VULMORA_PROBE_OFFSET);
    }

  private:
    Scratch scratch_;
    platform::FileHandle file_ = -1;
    bool on_ = false;
};

// A mechanical entry point's registration call, and local mode filled for `node`.
void registerAt(Caller &caller, Library &lib, const std::string &name, PropertyFn f, int node) {
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
}

// The call itself, its value and the silent answers it gave; false when
// the value is not finite.
bool callAt(Library &lib, const std::string &name, PropertyFn f, int node,
            const SilentCounters &counters) {
    *lib.x.cur_node = node - 1;
    std::printf("func_%s(%d) (location = %d):\n", name.c_str(), node, *lib.x.location);
    std::fflush(stdout);
    vulmora_probe before{}, after{};
    const bool counted = counters.read(before);
    const double v = f(node);
    std::fflush(stdout);
    std::printf("  = %.17g\n", v);
    if (counted && counters.read(after)) {
        for (int k = 0; k < VULMORA_PROBE_EVENTS; ++k)
            if (after.counts[k] != before.counts[k])
                std::printf("  silent answers in this call: %llu %s\n",
                            after.counts[k] - before.counts[k], kSilentAnswers[k]);
    }
    return std::isfinite(v);
}

} // namespace

// Steps 1..S are made current in turn (func_externalcompute sees each),
// then every named entry point is called once at the node, in this process.
int runNodeCall(const NodeCallSettings &c, const Path *path) {
    const SampleConfig &o = c.sample;
    SilentCounters counters;
    Library lib;
    std::string error;
    if (!lib.open(o.library, error)) return fail(ExitStatus::Usage, error);
    Sample sample(o.nodesPerSide, o.steps, Sample::Build::Whole, path, o.alloy);
    sample.stressScale = o.stressScale;
    Caller caller(lib, sample, c.sample);
    InputGuard guard; // a write into the host's arrays faults where it is made
    caller.guard(&guard);
    for (int s = 1; s <= c.step; ++s)
        caller.beginStep(s);
    const int node = c.node;
    std::printf(
        "What the accessors read:\n%s",
        describeNode(sample, node, lib.fromCGS ? ToUserFn(lib.fromCGS) : ToUserFn()).c_str());
    std::printf(
        "  exchange block: cur_node = %d, func_temp = %g, stress_scale = %g, units: temp %d,"
        " length %d, velocity %d\n",
        node - 1, *lib.x.func_temp, *lib.x.stress_scale, *lib.x.user_unit_temp,
        *lib.x.user_unit_coor, *lib.x.user_unit_velocity);
    ExitStatus status = ExitStatus::Ok;
    for (const std::string &name : c.functions) {
        const EntryPoint *e = findEntryPoint(name);
        PropertyFn f = lib.entry(name);
        if (!f) {
            std::printf("func_%s: not exported by the library\n", name.c_str());
            status = ExitStatus::Failed;
            continue;
        }
        if (e->mode == CallMode::Mechanical)
            registerAt(caller, lib, name, f, node);
        else
            *lib.x.location = 1;
        if (!callAt(lib, name, f, node, counters)) status = ExitStatus::Failed;
    }
    return code(status);
}

} // namespace vhost

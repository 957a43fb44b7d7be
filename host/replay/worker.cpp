// worker.cpp - the worker's side of a replay: bind the state to the
// library's exchange block, make the call, hand back how it went.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "mikral.h"
#include "model/binding.h"
#include "model/entries.h"
#include "model/sample.h"
#include "platform/processes.h"
#include "platform/signals.h"
#include "replay/call.h"
#include "platform/exit_status.h"
#include "replay/replay.h"

namespace vhost {

namespace {

// The microstructure the call can see: the emulator's whole fields for a
// saved sample; for a capture only the recorded look-ups, every other value
// NaN (and reported as not recorded).
struct Micro {
    MikralModel *model = nullptr;
    MikralCatalog *catalog = nullptr;
    bool whole = false;
    ~Micro() {
        mikral_model_destroy(model);
        mikral_catalog_destroy(catalog);
    }
};

// A saved sample's fields, constituents then auxiliaries, node by node.
void wholeMicro(const State &st, const double *cm, const double *am, Micro &m) {
    const vulmora_state_header &h = st.header();
    m.whole = true;
    m.catalog = sampleCatalog();
    const int nc = cm ? h.sample_constituents : 0, na = am ? h.sample_auxiliaries : 0;
    m.model = mikral_model_create(h.nnod, nc, na);
    const size_t n = static_cast<size_t>(h.nnod);
    for (int c = 0; c < nc; ++c)
        for (size_t i = 0; i < n; ++i)
            mikral_model_set_constituent(m.model, c, static_cast<int>(i), cm[size_t(c) * n + i]);
    for (int a = 0; a < na; ++a)
        for (size_t i = 0; i < n; ++i)
            mikral_model_set_auxiliary(m.model, a, static_cast<int>(i), am[size_t(a) * n + i]);
}

// The names the call obtained, and no others.
void recordedNames(const State &st, Micro &m) {
    m.catalog = mikral_catalog_create();
    for (uint64_t k = 0; k < st.count(VULMORA_SECTION_micro_names); ++k) {
        const vulmora_state_name &n = st.array<vulmora_state_name>(VULMORA_SECTION_micro_names)[k];
        if (!n.name[0]) continue; // the library had none: it stays without
        (n.kind ? mikral_catalog_add_auxiliary : mikral_catalog_add_constituent)(m.catalog, n.index,
                                                                                 n.name);
    }
}

// A capture's look-ups: only the recorded nodes hold values; the rest of
// the variables at those nodes are NaN.
void recordedMicro(const State &st, Micro &m) {
    recordedNames(st, m);
    int nc = 0, na = 0;
    for (size_t k = 0; k < st.microCount(); ++k) {
        const vulmora_state_micro &r = st.micro()[k];
        int &top = r.kind == VULMORA_MICRO_CONSTITUENT ? nc : na;
        if (r.index >= top) top = r.index + 1;
    }
    m.model = mikral_model_create(st.header().nnod, nc, na);
    const double nan = std::nan("");
    for (size_t k = 0; k < st.microCount(); ++k) {
        const vulmora_state_micro &r = st.micro()[k];
        for (int i = 0; i < (r.kind ? na : nc); ++i)
            (r.kind ? mikral_model_set_auxiliary : mikral_model_set_constituent)(m.model, i, r.node,
                                                                                 nan);
    }
    for (size_t k = 0; k < st.microCount(); ++k) {
        const vulmora_state_micro &r = st.micro()[k];
        (r.kind ? mikral_model_set_auxiliary : mikral_model_set_constituent)(m.model, r.index,
                                                                             r.node, r.value);
    }
}

void buildMicro(const State &st, Micro &m) {
    const double *cm = st.array<double>(VULMORA_SECTION_sample_micro);
    const double *am = st.array<double>(VULMORA_SECTION_sample_aux);
    if (cm || am)
        wholeMicro(st, cm, am, m);
    else
        recordedMicro(st, m);
}

// True when the state recorded what the look-up `c` (of `kind`) obtained.
bool recorded(const State &st, const MikralCall *c, bool name, int kind) {
    if (name) {
        const auto *names = st.array<vulmora_state_name>(VULMORA_SECTION_micro_names);
        for (uint64_t j = 0; j < st.count(VULMORA_SECTION_micro_names); ++j)
            if (names[j].kind == kind && names[j].index == c->index) return true;
        return false;
    }
    for (size_t j = 0; j < st.microCount(); ++j) {
        const vulmora_state_micro &s = st.micro()[j];
        if (s.kind == kind && s.index == c->index && s.node == c->node) return true;
    }
    return false;
}

// Value look-ups of the call that the state did not record, each once.
void collectUnrecorded(const State &st, const Micro &m, Replayed &r) {
    if (m.whole) return;
    for (int k = 0; k < mikral_calls_count(); ++k) {
        const MikralCall *c = mikral_calls_get(k);
        const bool name =
            c->function == MIKRAL_CALL_NAME_CNT || c->function == MIKRAL_CALL_NAME_AUX;
        const int kind = c->function == MIKRAL_CALL_VALUE_CNT || c->function == MIKRAL_CALL_NAME_CNT
                             ? VULMORA_MICRO_CONSTITUENT
                             : VULMORA_MICRO_AUXILIARY;
        const int node = name ? -1 : c->node; // a name has no node
        bool known = recorded(st, c, name, kind);
        for (const vulmora_state_micro &u : r.unrecorded)
            known = known || (u.kind == kind && u.index == c->index && u.node == node);
        if (!known && r.unrecorded.size() < kMaxUnrecorded)
            r.unrecorded.push_back({kind, c->index, node, 0, std::nan("")});
    }
}

struct WorkerFile {
    FILE *file = nullptr; // opened up front, unbuffered: written even after a crash
    const State *state = nullptr;
    const Micro *micro = nullptr;
    Replayed result;
    bool done = false;
};
WorkerFile *gFile = nullptr;

// (Re)write the result file: after the call, at the end, from exit() when
// the call stopped, or from the crash hook (values so far, no look-ups).
void writeResult(bool crashed) {
    WorkerFile *w = gFile;
    if (!w || !w->file) return;
    Replayed &r = w->result;
    if (!crashed && r.kind != kReplayReturned && w->state && w->micro)
        collectUnrecorded(*w->state, *w->micro, r);
    writeResultFile(w->file, r);
}
void writeAtExit() {
    if (gFile && !gFile->done) writeResult(false);
}
void writeAtCrash(const void *) {
    if (gFile && !gFile->done) writeResult(true);
}

// Fail with the reason on stderr: a usage error.
int refuse(const std::string &why) {
    return fail(ExitStatus::Usage, why);
}

// func_externalcompute with the node as its flag.
int callExternal(Library &lib, const Target &t, const State &st, const Micro &micro,
                 Replayed &out) {
    if (!lib.externalcompute) return refuse("the library has no func_externalcompute");
    mikral_calls_clear();
    lib.externalcompute(nullptr, t.node);
    out.kind = kReplayReturned;
    collectUnrecorded(st, micro, out);
    return 0;
}

// The entry point at every node, in the captured mode, after the call's
// outcome is safe in the result file.
void everyNode(Library &lib, PropertyFn f, int nnod, Replayed &out) {
    out.values.reserve(static_cast<size_t>(nnod)); // no allocation in the loop
    if (gFile) writeResult(false);
    for (int node = 1; node <= nnod; ++node) {
        *lib.x.cur_node = node - 1;
        const double value = f(node);
        out.values.push_back(value);
    }
    std::fflush(stdout);
}

// A property entry point at the target node (then at every node with
// --all-nodes).
int callProperty(const ReplaySettings &o, Library &lib, const Target &t, const State &st,
                 const Micro &micro, Replayed &out) {
    PropertyFn f = lib.entry(findEntryPoint(t.entry)->name);
    if (!f) return refuse("the library has no func_" + t.entry);
    const vulmora_state_header &h = st.header();
    // Another node than the captured one (or a saved sample): the usual
    // convention, cur_node = node - 1.
    if (!h.entry[0] || t.node != h.argument) *lib.x.cur_node = t.node - 1;
    std::fflush(stdout);
    // In local mode the slots are this library's: its registration call
    // first, as the solver's next run would make it.
    if (*lib.x.location == 2) registerAgain(lib, f, st, t.node, out);
    mikral_calls_clear();
    const double v = f(t.node);
    std::fflush(stdout);
    out.bits = toBits(v);
    out.kind = kReplayReturned;
    collectUnrecorded(st, micro, out);
    if (o.allNodes) everyNode(lib, f, h.nnod, out);
    return 0;
}

// Load, bind, call; `out` gets the outcome. Returns 0, or 2 (with the
// reason on stderr) when the state or the library cannot be used.
int makeCall(const ReplaySettings &o, const std::string &file, State &st, Micro &micro,
             Replayed &out) {
    std::string error;
    Library lib;
    if (!loadState(file, st, error) || !lib.open(o.library, error) || !bindState(lib, st, error))
        return refuse(error);
    Target t;
    if (!chooseTarget(o, st, t, error)) return refuse(error);
    buildMicro(st, micro);
    *lib.x.micModelsA = micro.model;
    *lib.x.micCNTA = micro.catalog;
    if (t.entry == "externalcompute") return callExternal(lib, t, st, micro, out);
    return callProperty(o, lib, t, st, micro, out);
}

} // namespace

int replayInThisProcess(const ReplaySettings &o, Replayed &out) {
    static State own; // what the library points at lives as long as it may
    static Micro micro;
    return makeCall(o, o.file, own, micro, out);
}

int runReplayWorker(const ReplaySettings &o) {
    if (!platform::endWithParent()) return code(ExitStatus::WorkerSetup); // the bench is gone
    std::string uncontained; // the replay says nothing of it: one call, watched
    platform::containWorker(uncontained);
    static WorkerFile file; // reachable from exit() and the crash hook
    static State st;
    static Micro micro;
    file.file = std::fopen(o.resultFile.c_str(), "wb");
    if (!file.file) {
        std::fprintf(stderr, "vulmora-host worker: cannot write %s\n", o.resultFile.c_str());
        return code(ExitStatus::Usage);
    }
    std::setvbuf(file.file, nullptr, _IONBF, 0);
    file.state = &st;
    file.micro = &micro;
    gFile = &file;
    std::atexit(writeAtExit);
    platform::onCrash(writeAtCrash);
    const int rc = makeCall(o, o.file, st, micro, file.result);
    if (rc != 0) {
        file.done = true; // nothing to hand back
        return rc;
    }
    file.result.complete = 1;
    writeResult(false);
    file.done = true;
    return 0;
}

} // namespace vhost

// minimal_host.cpp - the bench's calls made the plainest way, for
// tools/bench-host.sh: one process loads the library, builds the bench's
// sample (its own code: the same formulas), fills once per step only the
// arrays the entry points read, and calls each entry point at every
// selected node and step in the solver's modes, as vulmora-host's workers
// do. No isolation, no result files, no guard: the floor the bench is
// measured against.
//
//   vulmora-minimal-host LIBRARY NODES_PER_SIDE STEPS NAME...
//
// prints per entry point: name, min, mean and max of its finite values
// (as the bench's summary table: %.6g), and the count of calls.
//
// Which arrays the calls read is found as they run: every array starts
// unreadable, and the first read of one fills it (a fault handler) and
// adds it to those filled at the start of every later step. Linux only.
#include <signal.h>
#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "model/binding.h"
#include "model/caller.h"
#include "model/sample.h"
#include "platform/pages.h"

using namespace vhost;

namespace {

struct Region {
    char *base = nullptr;
    size_t bytes = 0;
    bool mesh = false, read = false;
};

Sample *gSample = nullptr;
std::vector<Region> gRegions;
constexpr size_t kMesh = kMeshArrays;

// The integration points' three arrays are filled together.
bool isPoint(size_t k) {
    return k + kPointArrays >= gRegions.size();
}

bool openAndFill(size_t k) {
    const size_t first = isPoint(k) ? gRegions.size() - kPointArrays : k;
    const size_t end = isPoint(k) ? gRegions.size() : k + 1;
    for (size_t j = first; j < end; ++j)
        if (mprotect(gRegions[j].base, gRegions[j].bytes, PROT_READ | PROT_WRITE) != 0)
            return false;
    gSample->fill(gRegions[k].base);
    for (size_t j = first; j < end; ++j)
        gRegions[j].read = true;
    return true;
}

// The first read of an array: fill it, and fill it every step from now on.
void onFault(int, siginfo_t *info, void *) {
    const char *at = static_cast<const char *>(info->si_addr);
    for (size_t k = 0; k < gRegions.size(); ++k) {
        const Region &r = gRegions[k];
        if (r.base && at >= r.base && at < r.base + r.bytes && !r.read && openAndFill(k)) return;
    }
    signal(SIGSEGV, SIG_DFL); // a real fault: crash on the access made again
}

struct Stats {
    double min = INFINITY, max = -INFINITY, sum = 0;
    long long finite = 0, calls = 0;
};

// The sample's arrays as regions, every one unreadable until its first
// read fills it (onFault).
void guardArrays(Sample &sample) {
    gSample = &sample;
    auto region = [](auto &v, bool mesh) {
        using T = typename std::remove_reference_t<decltype(v)>::value_type;
        return Region{reinterpret_cast<char *>(v.data()),
                      platform::allocationSize(v.size() * sizeof(T)), mesh, false};
    };
#define MINIMAL_MESH(first, member, ...) gRegions.push_back(region(sample.member, true));
#define MINIMAL_FIELD(first, member, ...) gRegions.push_back(region(sample.member, false));
    VHOST_MESH_ARRAYS(MINIMAL_MESH, MINIMAL_MESH)
    VHOST_FIELD_ARRAYS(MINIMAL_FIELD, MINIMAL_FIELD)
    VHOST_POINT_ARRAYS(MINIMAL_FIELD, MINIMAL_FIELD)
#undef MINIMAL_MESH
#undef MINIMAL_FIELD
    struct sigaction sa {};
    sa.sa_sigaction = onFault;
    sa.sa_flags = SA_SIGINFO;
    sigaction(SIGSEGV, &sa, nullptr);
    for (const Region &r : gRegions)
        if (r.bytes) mprotect(r.base, r.bytes, PROT_NONE);
}

// The fields read so far, filled in place for the step (the mesh stays as
// it is).
void fillReadFields(Sample &sample) {
    for (size_t k = kMesh; k < gRegions.size(); ++k)
        if (gRegions[k].read && (!isPoint(k) || k + kPointArrays == gRegions.size()))
            sample.fill(gRegions[k].base);
}

// One entry point's calls of a step at the selected nodes, in the solver's
// mode: a registration call first for a mechanical one.
void callStep(Library &lib, const Sample &sample, const EntryPoint &e, PropertyFn f,
              const std::vector<uint8_t> &selected, std::vector<int> &lastp, Stats &st) {
    const bool local = e.mode != CallMode::Nodal;
    Marks m;
    if (local) {
        std::fill(lastp.begin(), lastp.end(), 0);
        *lib.x.location = -1;
        *lib.x.cur_node = 0;
        (void)f(1);
        m = assignSlots(lastp.data(), *lib.x.loc_micro);
    }
    *lib.x.location = local ? 2 : 1;
    const size_t n = static_cast<size_t>(sample.nnod);
    for (size_t i = 0; i < n; ++i) {
        if (!selected[i]) continue;
        const int node = static_cast<int>(i) + 1;
        if (local) fillLocalValues(lib, sample, m, node);
        *lib.x.cur_node = node - 1;
        const double v = f(node);
        ++st.calls;
        if (std::isfinite(v)) {
            st.min = std::min(st.min, v), st.max = std::max(st.max, v);
            st.sum += v, ++st.finite;
        }
    }
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s LIBRARY NODES_PER_SIDE STEPS NAME...\n", argv[0]);
        return 2;
    }
    SampleConfig config;
    config.library = argv[1];
    config.nodesPerSide = std::atoi(argv[2]);
    config.steps = std::atoi(argv[3]);
    std::vector<const EntryPoint *> entries;
    for (int a = 4; a < argc; ++a) {
        const EntryPoint *e = findEntryPoint(argv[a]);
        if (!e) return std::fprintf(stderr, "no entry point %s\n", argv[a]), 2;
        entries.push_back(e);
    }
    Library lib;
    std::string error;
    if (!lib.open(config.library, error)) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
    std::vector<PropertyFn> fns;
    for (const EntryPoint *e : entries) {
        fns.push_back(lib.entry(e->name));
        if (!fns.back()) return std::fprintf(stderr, "no func_%s\n", e->name), 1;
    }

    Sample sample(config.nodesPerSide, config.steps, Sample::Build::OnDemand);
    guardArrays(sample);
    const std::vector<uint8_t> selected = selectedNodes(sample, config);
    std::vector<int> lastp(VULMORA_LASTP_LEN, 0);
    std::vector<Stats> stats(entries.size());
    for (int s = 1; s <= config.steps; ++s) {
        sample.setStep(s, false);
        fillReadFields(sample);
        lib.bind(sample, config);
        *lib.x.mic_lastp = lastp.data();
        if (lib.externalcompute) lib.externalcompute(nullptr, s - 1);
        for (size_t k = 0; k < entries.size(); ++k)
            callStep(lib, sample, *entries[k], fns[k], selected, lastp, stats[k]);
    }
    for (size_t k = 0; k < entries.size(); ++k) {
        const Stats &st = stats[k];
        std::printf("%s %.6g %.6g %.6g %lld\n", entries[k]->name, st.min,
                    st.finite ? st.sum / double(st.finite) : NAN, st.max, st.calls);
    }
    return 0;
}

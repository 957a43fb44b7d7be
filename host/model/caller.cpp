// caller.cpp - calling entry points as the solver does.
#include "model/caller.h"

#include <algorithm>
#include <cfenv>
#include <chrono>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "accessors/vulmora_probe.h"
#include "model/guard.h"
#include "platform/signals.h"
#include "platform/system.h"
#include "model/sample.h"

namespace vhost {

namespace {

// Entries of mic_lastp: 0-2, the constituents, the auxiliary variables.
constexpr size_t kLastpSize = VULMORA_LASTP_LEN;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

} // namespace

namespace {
// Set in a copy of the worker made by user code (see endCopyOnReturn).
volatile sig_atomic_t gInCopy = 0;

// After every call of user code: a copy of the worker ends here.
inline void returned() {
    if (gInCopy) std::_Exit(0);
}

// The first node from i on (n when none) whose entry of `sel` is set.
inline int nextSelected(const uint8_t *sel, int i, int n) {
    if (i < n && sel[i]) return i; // within a run
    for (uint64_t eight = 0; i + 8 <= n; i += 8) {
        std::memcpy(&eight, sel + i, sizeof eight);
        if (eight) break;
    }
    while (i < n && !sel[i])
        ++i;
    return i;
}
} // namespace

void Caller::endCopyOnReturn() {
    gInCopy = 1;
}

std::vector<uint8_t> selectedNodes(const Sample &s, const SampleConfig &config) {
    std::vector<uint8_t> grid =
        selectNodes(s.nodesPerSide, config.materials, s.path() ? config.pathPoints : 0, s.nnod);
    if (!s.renumbered()) return grid;
    std::vector<uint8_t> sel(grid.size());
    for (size_t i = 0; i < grid.size(); ++i)
        sel[static_cast<size_t>(s.numbered(static_cast<int>(i)))] = grid[i];
    return sel;
}

std::vector<uint8_t> nodeMaterials(const Sample &s, const SampleConfig &config) {
    std::vector<uint8_t> m = selectedNodes(s, config);
    for (size_t i = 0; i < m.size(); ++i)
        m[i] = m[i] ? (s.inCasting(static_cast<int>(i)) ? 1 : 2) : 0;
    return m;
}

// ---- rounding modes ------------------------------------------------------------

namespace {

struct RoundingMode {
    Rounding rounding;
    int mode; // <cfenv>'s
    const char *name, *word;
};
constexpr RoundingMode kRoundings[] = {
    {Rounding::Nearest, FE_TONEAREST, "to nearest", "nearest"},
    {Rounding::Upward, FE_UPWARD, "upward", "upward"},
    {Rounding::Downward, FE_DOWNWARD, "downward", "downward"},
    {Rounding::TowardZero, FE_TOWARDZERO, "toward zero", "toward-zero"},
};

const RoundingMode &modeOf(Rounding r) {
    return kRoundings[static_cast<size_t>(r)];
}

} // namespace

const char *roundingName(Rounding r) {
    return modeOf(r).name;
}

const char *roundingWord(Rounding r) {
    return modeOf(r).word;
}

bool roundingOfWord(const std::string &word, Rounding &r) {
    for (const RoundingMode &m : kRoundings)
        if (word == m.word) return r = m.rounding, true;
    return false;
}

// ---- the calling convention ---------------------------------------------------

Caller::Caller(Library &lib, Sample &sample, const SampleConfig &config)
    : lib_(lib), s_(sample), config_(config), lastp_(kLastpSize, 0), pos_(&own_) {}

// Fields of step s, the block pointed at them, then func_externalcompute
// with the number of steps done so far (0 at the first step resets the
// library's control flags).
void Caller::beginStep(int s) {
    pos_->phase = static_cast<int32_t>(Phase::Between);
    pos_->step = s;
    pos_->node = 0;
    const double cpuStart = platform::threadCpuSeconds();
    // A handler the library put before ours would take the first read of
    // a field for a crash: then the fields are filled at once, and opened
    // for it first. Filled when first read, they go from read-only to
    // unreadable at once.
    const bool lazy = guard_ && lazyFields_ && platform::faultsReachResolver();
    if (guard_ && !lazy) guard_->release();
    s_.setStep(s, !lazy);
    lib_.bind(s_, config_);
    if (guard_) guard_->protect(s_, lazy);
    *lib_.x.mic_lastp = lastp_.data();
    stepCpuSeconds_ += std::max(0.0, platform::threadCpuSeconds() - cpuStart);
    if (lib_.externalcompute) {
        pos_->phase = static_cast<int32_t>(Phase::External);
        lib_.externalcompute(nullptr, s - 1);
        returned();
        pos_->phase = static_cast<int32_t>(Phase::Between);
    }
}

// One call per selected node; the loop writes only cur_node (and, in local
// mode, the node's microstructure values) between calls.
void Caller::evaluate(const EntryPoint &e, PropertyFn f, double *out,
                      const std::vector<uint8_t> &selected, const std::vector<int> *order,
                      double *again, bool packed) {
    const int n = s_.nnod;
    int *cur = lib_.x.cur_node;
    pos_->step = s_.step;
    const bool local = e.mode != CallMode::Nodal;
    Marks m;
    if (local) m = registration(f);
    *lib_.x.location = local ? 2 : 1;
    pos_->phase = static_cast<int32_t>(Phase::Call);
    double *next = out; // packed: where the next value goes
    if (!order && !again && rounding_ == Rounding::Nearest) {
        // The plain run's loop: the position, the node's local values, the
        // call; nothing else per call, and the nodes not selected passed
        // over eight at a time.
        const uint8_t *sel = selected.data();
        int64_t calls = pos_->calls;
        for (int i = nextSelected(sel, 0, n); i < n; i = nextSelected(sel, i + 1, n)) {
            pos_->node = i + 1;
            pos_->calls = ++calls;
            if (local) fillLocal(m, i + 1);
            *cur = i;
            const double v = f(i + 1);
            returned();
            *(packed ? next++ : out + i) = v;
        }
        pos_->phase = static_cast<int32_t>(Phase::Between);
        return;
    }
    for (int k = 1; k <= n; ++k) {
        const int node = order ? (*order)[static_cast<size_t>(k - 1)] : k;
        if (!selected[static_cast<size_t>(node - 1)]) continue;
        pos_->node = node;
        pos_->calls = pos_->calls + 1;
        if (local) fillLocal(m, node);
        *cur = node - 1;
        *(packed && !order ? next++ : out + (node - 1)) = call(f, node);
        returned();
        if (again) {
            pos_->calls = pos_->calls + 1;
            if (local) fillLocal(m, node);
            *cur = node - 1;
            again[node - 1] = call(f, node);
            returned();
        }
    }
    pos_->phase = static_cast<int32_t>(Phase::Between);
}

// One call of the entry point, under the caller's rounding mode: set just
// before the call, to nearest again as soon as it returns (whatever mode
// user code left), so nothing the caller computes is rounded otherwise.
// A fill-on-first-read fault during the call rounds to nearest itself.
double Caller::call(PropertyFn f, int node) const {
    if (rounding_ == Rounding::Nearest) return f(node);
    std::fesetround(modeOf(rounding_).mode);
    const double v = f(node);
    std::fesetround(FE_TONEAREST);
    return v;
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
    returned();
    pos_->phase = static_cast<int32_t>(Phase::Between);
    return assignSlots(lastp_.data(), *lib_.x.loc_micro);
}

// The marks the registration call left in `lastp`; the marked quantities
// then get slots 0, 1, ... in the order of their indices.
Marks assignSlots(int *lastp, double *loc) {
    Marks m;
    m.poros = lastp[VULMORA_LASTP_POROS1] != 0;
    for (int i = 0; i < VULMORA_MAX_CONSTITUENTS; ++i)
        if (lastp[VULMORA_LASTP_CONSTITUENTS + static_cast<size_t>(i)]) m.constituents.push_back(i);
    for (int i = 0; i < VULMORA_MAX_AUXILIARIES; ++i)
        if (lastp[VULMORA_LASTP_AUXILIARIES + static_cast<size_t>(i)]) m.auxiliaries.push_back(i);
    int slot = 0;
    for (int c : m.constituents)
        lastp[VULMORA_LASTP_CONSTITUENTS + static_cast<size_t>(c)] = slot++;
    // The unmarked ones after them, each in a slot of its own holding the
    // NaN that names it (local values fill only the marked slots); there
    // is room for every index.
    for (int i = 0; i < VULMORA_MAX_CONSTITUENTS; ++i)
        if (!std::binary_search(m.constituents.begin(), m.constituents.end(), i)) {
            loc[VULMORA_LOC_MICRO_CONSTITUENTS + static_cast<size_t>(slot)] =
                unmarkedNaN(Unmarked::Constituent, i);
            lastp[VULMORA_LASTP_CONSTITUENTS + static_cast<size_t>(i)] = slot++;
        }
    slot = 0;
    for (int a : m.auxiliaries)
        lastp[VULMORA_LASTP_AUXILIARIES + static_cast<size_t>(a)] = slot++;
    for (int i = 0; i < VULMORA_MAX_AUXILIARIES; ++i)
        if (!std::binary_search(m.auxiliaries.begin(), m.auxiliaries.end(), i)) {
            loc[VULMORA_LOC_MICRO_AUXILIARIES + static_cast<size_t>(slot)] =
                unmarkedNaN(Unmarked::Auxiliary, i);
            lastp[VULMORA_LASTP_AUXILIARIES + static_cast<size_t>(i)] = slot++;
        }
    return m;
}

// The node's values of the marked quantities, where local mode reads them.
// A quantity the model does not have (an index beyond its active ones) is NaN.
// They come from the step's tables: the microstructure's arrays are filled
// only when user code reads them, and in local mode it reads loc_micro.
void fillLocalValues(Library &lib, const Sample &s, const Marks &m, int node) {
    const size_t i = static_cast<size_t>(node - 1);
    const uint32_t cls = s.depthClassOf(node - 1);
    double *loc = *lib.x.loc_micro;
    size_t k = 0;
    for (int c : m.constituents)
        loc[VULMORA_LOC_MICRO_CONSTITUENTS + k++] =
            c < kNumConstituents ? s.microstructureOf(false, c, cls) : kNaN;
    k = 0;
    for (int a : m.auxiliaries)
        loc[VULMORA_LOC_MICRO_AUXILIARIES + k++] =
            a < kNumAuxiliaries ? s.microstructureOf(true, a, cls) : kNaN;
    *lib.x.loc_poro = m.poros ? s.vf1[i] : unmarkedNaN(Unmarked::Porosity, 0);
}

void Caller::fillLocal(const Marks &m, int node) {
    fillLocalValues(lib_, s_, m, node);
}

// Quiet NaNs with a payload: a tag, the kind and the index.
namespace {
constexpr uint64_t kUnmarkedTag = VULMORA_PROBE_UNMARKED_TAG;
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
    if ((bits & VULMORA_PROBE_UNMARKED_MASK) != kUnmarkedTag) return false;
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

} // namespace vhost

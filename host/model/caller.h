// caller.h - calling entry points as the solver does.
//
// Thermal and flow properties are called in nodal microstructure mode
// (location = 1) at every node. Mechanical properties go through the
// stress analysis' cycle at each step: one call in registration mode
// (location = -1, mic_lastp zeroed) marks the microstructure quantities
// the function reads; the marked constituents and auxiliary variables get
// slots 0, 1, ... in mic_lastp in the order of their active indices; then,
// per node, loc_micro and loc_poro are filled from the marked quantities
// and the function is called in local mode (location = 2). cur_node is
// node - 1 for every call. func_externalcompute(NULL, flag) is called once
// at the start of every step, flag being the number of steps already done.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/binding.h"

namespace vhost {

class Sample;
class InputGuard;

// What the process making the calls is doing. Emulator phases are the
// emulator's own work; a failure there is never blamed on the user's
// library.
enum class Phase : int32_t {
    Setup = 0,        // emulator: opening the file, building the sample
    Load = 1,         // user: loading the library (its constructors run)
    Call = 2,         // user: an entry point at a node
    Registration = 3, // user: the registration call of a mechanical property
    External = 4,     // user: func_externalcompute
    Between = 5,      // emulator: between calls (making a step current)
    Unload = 6,       // user: the process ends (the library's destructors run)
};
inline bool isUserPhase(Phase p) {
    return p == Phase::Load || p == Phase::Call || p == Phase::Registration ||
           p == Phase::External || p == Phase::Unload;
}

// Where the calls are: the caller writes it before every call of user
// code, into memory another process may read (a worker's result file), so
// that whoever reads it knows where a call was however the process ended.
struct CallPosition {
    volatile int32_t phase = 0; // a Phase
    volatile int32_t step = 0, node = 0;
    volatile int64_t calls = 0;
};

// The rounding mode the entry point's calls are made under (the rounding
// check's workers); every other call, and all of the caller's own
// arithmetic, is rounded to nearest.
enum class Rounding : int32_t { Nearest = 0, Upward, Downward, TowardZero };
// "to nearest", "upward", "downward", "toward zero".
const char *roundingName(Rounding r);
// The word a worker is given: "nearest", "upward", "downward", "toward-zero".
const char *roundingWord(Rounding r);
// The mode of `word` (as roundingWord gives it); false when none.
bool roundingOfWord(const std::string &word, Rounding &r);

// What the registration call marked.
struct Marks {
    bool poros = false;
    std::vector<int> constituents, auxiliaries; // active indices, ascending
};

// A quantity the registration call did not mark still gets a slot of its
// own in local mode, holding a NaN that names it: a read that only some
// branches make then returns that NaN instead of another quantity's value,
// and the NaN report says which quantity it was.
enum class Unmarked { Constituent, Auxiliary, Porosity };
double unmarkedNaN(Unmarked kind, int index);
// The quantity `x` names when it is such a NaN; false otherwise.
bool decodeUnmarked(double x, Unmarked &kind, int &index);
// "constituent 1 (eutectic Si), getFraction(1)" and the like.
std::string unmarkedName(Unmarked kind, int index);

// Slots for what a registration call marked in `lastp` (entries set
// non-zero): the marked constituents and auxiliary variables get slots
// 0, 1, ... in the order of their indices, every unmarked one a slot of
// its own after them, holding its unmarked NaN in `loc` (loc_micro).
Marks assignSlots(int *lastp, double *loc);

// Fill `lib`'s loc_micro / loc_poro from the marks for 1-based `node` of
// `s`, where local mode reads them.
void fillLocalValues(Library &lib, const Sample &s, const Marks &m, int node);

// 1 for every node of `s` that `config` selects (the materials: 1 the
// casting, wall included; 2 the mould; or a path's points), else 0, in the
// sample's numbering.
std::vector<uint8_t> selectedNodes(const Sample &s, const SampleConfig &config);

// Per node 0 when `config` does not select it, else its material (1 the
// casting, 2 the mould).
std::vector<uint8_t> nodeMaterials(const Sample &s, const SampleConfig &config);

class Caller {
  public:
    // In a copy of the worker that user code made with fork(): from now on
    // the copy ends, without a word or a write, as soon as a call returns
    // into the caller, so only the worker itself goes on and writes values.
    static void endCopyOnReturn();
    Caller(Library &lib, Sample &sample, const SampleConfig &config);
    Caller(const Caller &) = delete;
    Caller &operator=(const Caller &) = delete;
    // Where the position of every call is written (the worker's result
    // file); by default a position of the caller's own.
    void track(CallPosition *p) { pos_ = p; }
    // Make the input arrays read-only in place at every step; with
    // `lazyFields` each field array is filled only when first read (the
    // guard's resolve() must then be called on memory faults).
    void guard(InputGuard *g, bool lazyFields = false) { guard_ = g, lazyFields_ = lazyFields; }
    // Make the entry point's calls in evaluate() under `r`: the mode is
    // set just before each call and to nearest again as soon as it
    // returns. The registration call and func_externalcompute stay to
    // nearest.
    void round(Rounding r) { rounding_ = r; }
    // Make step s current: fields, block, then func_externalcompute.
    void beginStep(int s);
    // This thread's processor time in beginStep so far, func_externalcompute
    // left out: the fields filled at once, the guard's changes of access.
    double stepCpuSeconds() const { return stepCpuSeconds_; }
    // The entry point at every selected node of the current step into
    // out[0..nnod) (the others are left as they are). With `order` (1-based
    // nodes) the nodes are visited in that order; with `again` each call is
    // made a second time at once, its value into again[0..nnod). With
    // `packed` (and no order), the selected nodes' values go one after
    // another into `out`, in node order, as the result file keeps them.
    void evaluate(const EntryPoint &e, PropertyFn f, double *out,
                  const std::vector<uint8_t> &selected, const std::vector<int> *order = nullptr,
                  double *again = nullptr, bool packed = false);
    // Registration call of a mechanical entry point; assigns the slots.
    Marks registration(PropertyFn f);
    // Fill loc_micro / loc_poro from the marks for 1-based `node`.
    void fillLocal(const Marks &m, int node);

  private:
    double call(PropertyFn f, int node) const;

    Library &lib_;
    Sample &s_;
    const SampleConfig &config_;
    std::vector<int> lastp_;
    CallPosition own_;
    CallPosition *pos_;
    InputGuard *guard_ = nullptr;
    bool lazyFields_ = false;
    double stepCpuSeconds_ = 0;
    Rounding rounding_ = Rounding::Nearest;
};

// What the accessors read at 1-based `node` of the sample's current step,
// as lines of text (host units, with the user units where they differ).
// `toUser` (a converter from the internal units to the user's; none when
// empty) adds the user units. Element data (integration-point means,
// stresses) only when `elements`: a report on a thermal property has no
// use for them.
using ToUserFn = std::function<double(int code, double x)>;
std::string describeNode(const Sample &s, int node, const ToUserFn &toUser, bool elements = true);

} // namespace vhost

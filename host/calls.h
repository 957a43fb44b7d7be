// calls.h - calling entry points as the solver does.
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
#include <string>
#include <vector>

#include "block.h"

namespace vhost {

class Sample;

// Where a call is made; kept for the report when the process ends inside it.
enum class Phase : int32_t { Call = 0, Registration = 1, External = 2 };

// What the registration call marked.
struct Marks {
    bool poros = false;
    std::vector<int> constituents, auxiliaries; // active indices, ascending
};

class Caller {
  public:
    Caller(Library &lib, Sample &sample, const Options &o);
    // Make step s current: fields, block, then func_externalcompute.
    void beginStep(int s);
    // The entry point at every node of the current step into out[0..nnod).
    void evaluate(const EntryPoint &e, PropertyFn f, double *out);
    // Registration call of a mechanical entry point; assigns the slots.
    Marks registration(PropertyFn f);
    // Fill loc_micro / loc_poro from the marks for 1-based `node`.
    void fillLocal(const Marks &m, int node);

  private:
    Library &lib_;
    Sample &s_;
    const Options &o_;
    std::vector<int> lastp_;
};

// Position of the call in progress (for the worker's exit handler).
struct Position {
    int32_t step = 0, node = 0;
    Phase phase = Phase::Call;
};
extern Position gPosition;

// The result file a worker hands back.
struct WorkerResult {
    enum State : int32_t { Running = 0, Complete = 1, Ended = 2 };
    State state = Running; // Ended: the process ended inside user code
    Position at;
    int64_t calls = 0;
    double seconds = 0; // time spent in the calls
    std::string mechName, mechUnit;
    std::vector<double> values; // steps x nnod, step-major
};
bool readWorkerResult(const std::string &path, WorkerResult &r, std::string &error);

// The hidden --worker mode: evaluate one entry point (or "externalcompute")
// over every step and write the result file. Returns the exit status.
int runWorker(const Options &o);

// --node/--step: print what the accessors read at the node, then call each
// entry point of o.functions there, in this process. Returns the exit status.
int runProbe(const Options &o);

// What the accessors read at 1-based `node` of the sample's current step,
// as lines of text (host units, with the user units where they differ).
// `fromCGS` (the library's converter, may be null) adds the user units.
std::string describeNode(const Sample &s, int node, ConvertFn fromCGS);

} // namespace vhost

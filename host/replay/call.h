// call.h - what the two sides of a replay share: the call to make, and the
// result file in which the worker hands back how it went.
//
// The parent checks the file and the library, then runs this program again
// as a hidden worker (--replay-worker FILE) that binds the state to the
// library's exchange block and makes the one call (worker.cpp); the parent
// never runs user code. The worker hands back the result bits and the
// microstructure look-ups the capture had not recorded in a small result
// file, in a fresh private folder; a stop or a crash ends only the worker,
// and the parent (replay.cpp) sees the printed text and the exit status or
// signal as the host would.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "model/caller.h"
#include "output/settings.h"
#include "replay/state.h"

namespace vhost {

// What the user asks of a replay, and what its worker is given.
struct ReplaySettings {
    std::string file;       // the state file
    std::string library;    // the library to call ("": the one the state names)
    std::string entry;      // the entry point to call on a saved sample ("": the captured one)
    int node = 0;           // the node to call it at (0: the captured one)
    bool inProcess = false; // in this process, not in a worker
    bool allNodes = false;  // at every node of the state too
    OutputSettings output;  // where the every-node values go
    std::string resultFile; // the worker's: where it hands back how the call went
};

constexpr int32_t kReplayReturned = 1;
constexpr uint32_t kMaxUnrecorded = 4096; // look-ups reported, at most
constexpr uint32_t kMaxMarksText = 4096;  // the marks' text, at most (bytes)

// What the worker hands back.
struct Replayed {
    int32_t kind = 0;     // kReplayReturned, else the call did not return
    int32_t complete = 0; // 1: the worker did everything (--all-nodes included)
    uint64_t bits = 0;
    std::vector<vulmora_state_micro> unrecorded;
    std::vector<double> values; // --all-nodes: one per node
    int32_t marksDiffer = 0;    // a local-mode call: the registration call marked otherwise
    std::string marks;          // ... and what each marked, in words
};

// The call to make: the captured one, or --functions/--node on a saved state.
struct Target {
    std::string entry;
    int node = 0;
    bool captured = false; // the file holds this call's outcome
};

// The call `r` asks for on the state `st`; false with the reason when it
// names no call or a node outside the state.
bool chooseTarget(const ReplaySettings &r, const State &st, Target &t, std::string &error);

// (Re)write the whole result file from its start; it is written unbuffered,
// so whatever was written survives a crash of the worker.
void writeResultFile(FILE *f, const Replayed &r);
// Read the worker's result file; false when it is missing or incomplete.
bool readResultFile(const std::string &path, Replayed &r);

// The bits of a double and back.
double fromBits(uint64_t bits);
uint64_t toBits(double v);

// ---- the worker's side (worker.cpp) ----

// Load the state, bind it to the library, make the call: 0 with the
// outcome in `out`, or 2 (with the reason on stderr) when the state or the
// library cannot be used. Its state stays alive for the process's life.
int replayInThisProcess(const ReplaySettings &r, Replayed &out);

// ---- a local-mode call (marks.cpp) ----

// What the captured call's registration had marked, read back from the
// state's mic_lastp and loc_micro (an unmarked slot holds an unmarked NaN).
Marks capturedMarks(const State &st);
bool sameMarks(const Marks &a, const Marks &b);
// "as captured: getMicro(0)", or what each call marked when they differ.
std::string marksText(const Marks &now, const Marks &was);
// The registration call of `f` (location -1, mic_lastp zeroed, node 1),
// as the solver makes it before the local calls; then the slots and the
// values at 1-based `node` in loc_micro and loc_poro: the captured value
// where the captured call had marked the quantity too, else the state's
// own record of it, else NaN (noted in out.unrecorded). Sets out.marks
// and out.marksDiffer; location is 2 again afterwards.
void registerAgain(Library &lib, PropertyFn f, const State &st, int node, Replayed &out);

// ---- the results at every node (nodes.cpp) ----

// Report the values of an every-node pass, and write them (unless
// --no-output) as <entry>-replay.csv and .vtu in the output folder; false
// when they could not be written (the reason on stderr).
bool reportEveryNode(const OutputSettings &o, const State &st, const std::string &entry,
                     const std::vector<double> &values);

} // namespace vhost

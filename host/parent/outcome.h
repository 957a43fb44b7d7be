// outcome.h - how one entry point's worker ended, and that in words.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/protocol.h"

namespace vhost {

struct WorkerJob;

// The outcome of one entry point (or of func_externalcompute).
struct Outcome {
    enum Status {
        Ok,
        NonFinite,
        Unmarked, // values, but local mode read a quantity the registration did not mark
        Placeholder,
        Stopped,    // ended the process (exit, a fatal stop) inside user code
        Crashed,    // died of a signal or exception inside user code
        TimedOut,   // a call took longer than --time-limit
        Modified,   // wrote into one of the host's arrays
        Forked,     // made a copy of its process (fork) that went on past the call
        Interfered, // acted on its process or the emulator (a limit lowered, a signal sent)
        NotExported,
        Error,         // the worker's result cannot be used
        EmulatorError, // the emulator's own failure, not the library's
    };
    std::string name; // without func_
    Status status = Error;
    bool failure = false;                      // counts against the exit status
    std::string printed;                       // the worker's standard output (as kept)
    std::string errors;                        // its standard error (as kept)
    uint64_t printedBytes = 0, errorBytes = 0; // as written
    uint64_t peakBytes = 0;                    // the worker's peak memory
    double cpuSeconds = 0;                     // the worker's processor time
    // How a first run ended, when a fault handler of user code's took the
    // emulator's fill-on-first-read fault there and this is a second run
    // with every array filled at once ("" otherwise).
    std::string refilled;
    bool exited = false; // the worker ended through exit
    int exitStatus = 0;  // its exit status (or signal / exception code)
    std::string detail;  // why an Error or EmulatorError
    WorkerResult result; // values and position
    // Statistics over the finite values of the evaluated nodes: all of
    // them, and per material (index material - 1).
    double min = 0, max = 0, mean = 0;
    int64_t finite = 0, nonFinite = 0;
    struct Range {
        double min = 0, max = 0, mean = 0;
        int64_t finite = 0;
    } perMaterial[2];
    int badStep = 0, badNode = 0; // first non-finite value, 1-based
    double badValue = 0;

    bool valuesRead = false; // its values were read (and may have been let go since)

    bool hasValues() const { return status == Ok || status == NonFinite || status == Unmarked; }
};

// How the worker `w` ended, from its result file, exit status and output.
// A stop at the very first call that printed exactly the template's line
// is a placeholder; `named` (the user asked for it) makes that a failure.
// Nothing the worker wrote is used before it is checked; a worker that
// fails outside user code is the emulator's failure, never the library's.
// `reuse`: storage for the values, taken (left empty) when given.
Outcome classify(WorkerJob &w, bool named, UninitializedVector<double> *reuse = nullptr,
                 bool withValues = true);

// Marks an outcome whose values were there but could not be read: the
// worker's fault, as a bad result file is.
void markValuesUnread(Outcome &e);

// Whether a fault handler user code put in place of the worker's may have
// taken a fill-on-first-read fault and ended the worker: a crash that never
// reached the worker's handler, or a stop that did not go through exit()
// with the worker's handler in place.
bool maybeForeignHandler(const Outcome &r);

// Where a worker was, in words: "step 2, node 7", "while the library was
// loading (in its constructors)", ...
std::string where(const WorkerResult &r);

// What the worker of `e` did, in words, without where: "crashed
// (SIGSEGV)", "stopped the process with exit status 1", "took longer than
// the time limit of 60 s", "modified the host's array t1 (entry 5)", else
// why it failed. The one description of an ending every report uses.
std::string ending(const Outcome &e, double timeLimit);

} // namespace vhost

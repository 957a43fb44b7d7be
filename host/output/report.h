// report.h - what a run found, on the terminal and in the output folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/caller.h"
#include "cli/options.h"
#include "worker/protocol.h"

namespace vhost {

class Sample;
class OutputFolder;

// The outcome of one entry point (or of func_externalcompute).
struct Outcome {
    enum Status {
        Ok,
        NonFinite,
        Placeholder,
        Stopped,  // ended the process (exit, a fatal stop) inside user code
        Crashed,  // died of a signal or exception inside user code
        TimedOut, // a call took longer than --time-limit
        Modified, // wrote into one of the host's arrays
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
    bool exited = false;                       // the worker ended through exit
    int exitStatus = 0;                        // its exit status (or signal / exception code)
    std::string detail;                        // why an Error or EmulatorError
    WorkerResult result;                       // values and position
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

    bool hasValues() const { return status == Ok || status == NonFinite; }
};

// Fill min/mean/max and the first non-finite value from result.values.
// `nodeMaterial` (when given) holds per node 0 for a node not evaluated,
// else its material (1 or 2); without it every node is of material 1.
void computeStatistics(Outcome &o, int nnod, const std::vector<uint8_t> *nodeMaterial = nullptr);

// The summary table; a row per material for each entry point when
// `perMaterial`.
std::string summaryTable(const std::vector<Outcome> &outcomes, bool perMaterial = false);

// A printable, C-escaped copy of `text` (the last `keep` bytes of it).
std::string escaped(const std::string &text, size_t keep = 2000);

// The last `lines` lines of `text`, each indented by `indent`.
std::string lastLines(const std::string &text, size_t lines, const std::string &indent);

// "func_<name>", or "externalcompute": the name of an entry point's column.
std::string fieldName(const Outcome &o);

// A field of values per node and step added to the VTU files (steps x
// nnod, step-major), e.g. the differences from a reference.
struct ExtraField {
    std::string name;
    const std::vector<double> *values;
};

// Into the claimed output folder: a CSV per entry point, a VTU per step
// with a PVD collection (and the `extra` fields), the values of every
// entry point exactly (<entry>.values) with run.txt describing the run,
// what each entry point printed, the summary and the plots; then the
// folder is put in place. Notes (files written, plots
// skipped) are appended to `notes`. False with the path and reason of the
// first failure in `error`.
bool writeOutputs(const Options &o, Sample &sample, const std::vector<Outcome> &outcomes,
                  const std::string &summary, const std::string &loadOutput, OutputFolder &dir,
                  std::string &notes, std::string &error,
                  const std::vector<ExtraField> &extra = {});

} // namespace vhost

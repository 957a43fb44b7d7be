// report.h - what a run found, on the terminal and in the output folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "calls.h"
#include "options.h"

namespace vhost {

class Sample;

// The outcome of one entry point (or of func_externalcompute).
struct Outcome {
    enum Status { Ok, NonFinite, Placeholder, Stopped, Crashed, NotExported, Error };
    std::string name; // without func_
    Status status = Error;
    bool failure = false; // counts against the exit status
    std::string printed;  // the worker's standard output
    bool exited = false;  // the worker ended through exit
    int exitStatus = 0;   // its exit status (or signal / exception code)
    std::string detail;   // why an Error
    WorkerResult result;  // values and position
    // Statistics over the finite values.
    double min = 0, max = 0, mean = 0;
    int64_t finite = 0, nonFinite = 0;
    int badStep = 0, badNode = 0; // first non-finite value, 1-based
    double badValue = 0;

    bool hasValues() const { return status == Ok || status == NonFinite; }
};

// Fill min/mean/max and the first non-finite value from result.values.
void computeStatistics(Outcome &o, int nnod);

// The summary table.
std::string summaryTable(const std::vector<Outcome> &outcomes);

// A printable, C-escaped copy of `text` (the last `keep` bytes of it).
std::string escaped(const std::string &text, size_t keep = 2000);

// CSV per entry point, VTU per step with a PVD collection and a summary;
// returns lines of notes (files written, plots skipped, ...).
std::string writeOutputs(const Options &o, Sample &sample, const std::vector<Outcome> &outcomes,
                         const std::string &summary);

} // namespace vhost

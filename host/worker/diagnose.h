// diagnose.h - the diagnostic worker: an entry point's calls made again
// with floating-point traps on, so the operation that makes a NaN or an
// infinity stops the worker where it is made.
//
// It writes a small text file beside its result file (its path and
// ".diag"), created exclusively, a line at a time:
//
//   VMHDIAG1
//   at NODE STEP              the call made again (every call: "at 0 0")
//   field NAME VALUE          a field at the node that is not finite
//   value V                   the call returned V without a trap
//   trap FAULT STEP NODE      a trap: the exception and the call's place
//   read BITS                 a NaN the accessors returned before it (hex)
//   frame OFFSET SYMBOL PATH  the instruction, then the calls, innermost
//                             first (OFFSET hex in the module at PATH,
//                             SYMBOL its exported symbol or "-")
//   end
//
// The parent (checks/fptrap_check.cpp) reads it, checked line by line.
#pragma once

#include <string>

#include "model/sample_config.h"

namespace vhost {

// What a diagnostic worker is given.
struct DiagnoseSettings {
    SampleConfig sample;
    std::string function;   // the entry point, without func_
    std::string resultFile; // made by the parent; the diagnosis goes beside it
    int node = 0, step = 0; // the call made again; 0, 0: every call of every step
};

// The magic of the diagnostic file's first line, and its name beside the
// result file.
constexpr const char *kDiagnosisMagic = "VMHDIAG1";
inline std::string diagnosisFile(const std::string &resultFile) {
    return resultFile + ".diag";
}

// The hidden --diagnose mode. Returns the exit status.
int runDiagnosis(const DiagnoseSettings &d);

} // namespace vhost

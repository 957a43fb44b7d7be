// options.h - the emulator's command line.
//
// The options as the user gave them, grouped by what reads them: a run's
// settings (with the sample every worker builds, the outputs and the
// checks), a curve's path, a replay, and the emulator's own hidden ones. A
// command is handed its group, never the command line.
#pragma once

#include <string>
#include <vector>

#include "curve/path_source.h"
#include "replay/replay.h"
#include "run/settings.h"
#include "worker/diagnose.h"
#include "worker/worker.h"

namespace vhost {

struct Options {
    RunSettings run; // the library ("": the worked examples), the sample, outputs, checks
    bool help = false, version = false;
    int callNode = 0, callStep = 0; // --node / --step
    std::string saveState;          // --save-state FILE
    std::string alloy;              // --alloy FILE or LIST, as given
    // curve: the entry points along a path of states.
    bool curve = false;
    CurveSettings path;
    // about LIBRARY: the library's build record.
    std::string aboutLibrary;
    // replay FILE and its options.
    std::string replayFile;
    bool inProcess = false, allNodes = false;
    // Hidden: run as the isolated worker of one entry point (or of a
    // replay, on its state file), writing into a result file.
    std::string worker, replayWorker, resultFile;
    int orderSeed = 0;    // the checking worker of --check-order (0: a plain worker)
    int renumberSeed = 0; // the checking worker of --check-numbering (0: a plain worker)
    Rounding rounding = Rounding::Nearest;  // a checking worker of --check-rounding
    bool diagnose = false;                  // a diagnostic worker (--diagnose) ...
    int diagnoseNode = 0, diagnoseStep = 0; // ... of this call (0: every call)
    bool operator==(const Options &) const = default;
};

// Parse argv into `o`; false with a message in `error` on a bad command line.
bool parseOptions(int argc, char **argv, Options &o, std::string &error);

// The arguments that give a worker the sample of `s`: the rows a worker is
// given, each as the option table forwards it.
std::vector<std::string> sampleArguments(const SampleConfig &s);

// The options of `curve` that rebuild the same path, as words: the
// temperature unit and the path's own options as given.
std::vector<std::string> pathArguments(const Options &o);

// Read the alloy of --alloy (a file, or key=value,...), its temperatures
// in the user's unit converted by `convert`, into the run's sample; false
// with one line naming the key (or the file) in `error`.
bool applyAlloy(Options &o, UnitConverter::Convert convert, std::string &error);

// What each command is given of the command line.
WorkerSettings workerSettings(const Options &o);
DiagnoseSettings diagnoseSettings(const Options &o);
ReplaySettings replaySettings(const Options &o);

// The text of --help (help.cpp).
const char *helpText();

} // namespace vhost

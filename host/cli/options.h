// options.h - the emulator's command line.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "model/materials.h"
#include "model/units.h"

namespace vhost {

struct Options {
    std::string library;                // "" = the worked examples
    std::string libraryFile;            // set by a run: which file it loaded (run.txt)
    std::vector<std::string> functions; // entry names without func_
    bool functionsGiven = false;        // named with --functions
    int nodesPerSide = 17;
    int steps = 10;
    Units units;
    double stressScale = 1.0;
    bool tempTable = true; // false: func_temp = -9999 (no temperature table)
    bool fillAll = false;  // --fill-all: every host array filled before the calls
    std::string output = "vulmora-out";
    bool writeOutput = true;
    bool plots = true;
    std::vector<uint8_t> writeSteps; // per step (index s-1): 1 when written; empty: all
    bool quiet = false;
    int jobs = 2;                       // workers run at the same time
    double timeLimit = 60;              // s one call (or loading the library) may take; 0: none
    int materials = material::kCasting; // the materials whose nodes are evaluated
    bool help = false, version = false;
    int callNode = 0, callStep = 0; // --node / --step
    // Checks.
    std::string compare; // --compare DIR: a previous run's output folder
    double rtol = 1e-6;  // its tolerance: 32-bit host fields widened to double
    double atol = 0;
    bool checkUnits = false; // --check-units
    bool checkOrder = false; // --check-order
    bool checkCost = false;  // --check-cost
    struct Expectation {
        std::string entry; // without func_
        double lo, hi;
        bool operator==(const Expectation &) const = default;
    };
    std::vector<Expectation> expect; // --expect NAME=LO:HI
    // curve: the entry points along a path of states (curve/curve.h).
    // Temperatures in the user's unit; other fields in the host's.
    bool curve = false;
    bool fromGiven = false, toGiven = false;
    double from = 0, to = 0;
    int points = 200;
    enum class FsRule { Lever, Scheil, Model } fsRule = FsRule::Lever;
    std::vector<std::pair<std::string, double>> scheil; // k, tm, tl as given
    std::string table;                                  // --table FILE
    std::vector<std::pair<std::string, double>> sets;   // --set NAME=VALUE, columns
    std::vector<std::pair<std::string, double>> at;     // --at NAME=VALUE,...
    bool strict = false; // --strict: implausible values, a path's findings fail the run
    // Hidden: the path a worker evaluates (host units) and its points.
    std::string pathFile;
    int pathPoints = 0;
    // replay FILE / --save-state FILE (see replay.h).
    std::string replayFile, saveState;
    bool inProcess = false, allNodes = false;
    std::string replayWorker; // hidden: the worker of a replay, on this file
    // Hidden: run as the isolated worker of one entry point.
    std::string worker, resultFile;
    int takeValuesFrom = 64; // MiB
    // Hidden: the checking worker of --check-order (0: a plain worker).
    int orderSeed = 0;
    bool operator==(const Options &) const = default;
};

// Parse argv into `o`; false with a message in `error` on a bad command line.
bool parseOptions(int argc, char **argv, Options &o, std::string &error);

// True when step s (1-based) goes into the CSV and VTU files.
inline bool stepWritten(const Options &o, int s) {
    return o.writeSteps.empty() || o.writeSteps[static_cast<size_t>(s - 1)];
}

// The options a worker needs to rebuild the same sample and block.
std::vector<std::string> sampleArguments(const Options &o);

// The options of `curve` that rebuild the same path, as words: the
// temperature unit and the path's own options as given.
std::vector<std::string> pathArguments(const Options &o);

// The text of --help (help.cpp).
const char *helpText();

} // namespace vhost

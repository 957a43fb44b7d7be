// run.h - a run of the emulator on the sample casting, as a short
// sequence of phases: prepare (scratch folder, output folder, size,
// checks' inputs), survey (the library's entry points), evaluate (a
// worker per entry point, their outcomes), check (the checks' workers and
// findings), report (one report, on the terminal and in the output folder).
#pragma once

#include "model/build_record.h"
#include <string>

#include "model/build_record.h"
#include "checks/check.h"
#include "model/build_record.h"
#include "parent/workers.h"
#include "model/build_record.h"
#include "platform/files.h"
#include "model/build_record.h"
#include "run/run_report.h"
#include "model/build_record.h"
#include "run/settings.h"

namespace vhost {

struct Path;

// What a run is given besides its settings: this program's path for the
// workers and how they are given a sample, the runner that starts them,
// the library's own converters (linked into the program; no user code) for
// the reports, and how the library's file is told apart from a later one
// and what it says of its build (the tests' runs have none of either).
struct RunServices {
    std::string self;
    SampleArguments arguments;
    WorkerRunner &runner;
    UnitConverter::Convert convert;
    bool (*identifyLibrary)(const std::string &path, bool hash, platform::FileIdentity &id,
                            std::string &error) = platform::identifyFile;
    bool (*readRecord)(const std::string &path, BuildRecord &record,
                       std::string &error) = readBuildRecord;
};

// A path of states to run along instead of the sample casting
// (curve/curve.h), and the line that describes it.
struct PathRun {
    const Path &path;
    std::string line;
};

// Evaluate, check, report and write; the exit status: 0 when every entry
// point asked for worked and every check passed, 1 when the library failed
// or a check found something, 2 when the run could not be carried out,
// 128 + the signal when interrupted. The library of `settings` is chosen.
int runAll(const RunSettings &settings, const RunServices &services, const PathRun *path = nullptr);

} // namespace vhost

// saved_run.h - what an output folder keeps of its run, for a later run to
// compare with.
//
// The output folder describes itself: run.txt names the library, the
// sample's size, the materials, the unit selectors, the history (and a
// curve's path) and the entry points whose values were saved, and <entry>.values holds those values
// exactly (little-endian doubles, step-major, every node).
#pragma once

#include <span>
#include <string>
#include <vector>

#include "model/build_record.h"
#include "model/path.h"
#include "model/sample_config.h"
#include "parent/outcome.h"

namespace vhost {

// What decides the shape and the meaning of a run's values.
struct RunDescription {
    std::string version, library, libraryFile;
    BuildRecord build; // the library's build record ("build" lines)
    int nodesPerSide = 0, steps = 0, materials = 0;
    double stressScale = 1;
    bool tempTable = true;
    Units units;
    std::string history;              // the alloy as alloyText; "" before there was one
    std::string path;                 // a curve's path (pathIdentity); "": the sample casting
    std::vector<std::string> entries; // values saved, in run order
};

// The description of the current run on `sample` of the library file
// `library` (its identity and build record): entries with values.
RunDescription describeRun(const SampleConfig &sample, const LibraryIdentity &library,
                           const std::vector<Outcome> &outcomes, const Path *path = nullptr);

// A path in one line: "200 points from 973 K to 293 K, fnv1a <hex>" (the
// digest of every column, so a path of other states differs).
std::string pathIdentity(const Path &p);

// run.txt as written, and read back (false with the reason).
std::string runDescriptionText(const RunDescription &d);
bool parseRunDescription(const std::string &text, RunDescription &d, std::string &error);

// <entry>.values: the doubles as little-endian bytes.
std::string valuesBytes(std::span<const double> v);

} // namespace vhost

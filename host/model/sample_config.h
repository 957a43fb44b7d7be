// sample_config.h - what decides a run's sample, its exchange block and the
// nodes called.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include "model/alloy.h"
#include "model/materials.h"
#include "model/units.h"

namespace vhost {

// Everything a worker is given to build the same sample and block as its
// parent and to make the same calls (the option table turns it into the
// worker's arguments), and what a check varies by copy: other units, a
// smaller mesh.
struct SampleConfig {
    std::string library; // the library file, absolute
    int nodesPerSide = 17;
    int steps = 10;
    Units units;
    double stressScale = 1.0;
    Alloy alloy;                        // what the history follows (Kelvin)
    bool tempTable = true;              // false: func_temp = -9999 (no temperature table)
    bool fillAll = false;               // every host array filled before the calls of a step
    int materials = material::kCasting; // the materials whose nodes are evaluated
    double timeLimit = 60;              // s one call (or loading the library) may take; 0: none
    // A path of states instead of the cooling history: the file the parent
    // wrote it into (host units) and its points, at the first nodes.
    std::string pathFile;
    int pathPoints = 0;

    int64_t nnod() const { return int64_t(nodesPerSide) * nodesPerSide * nodesPerSide; }
    // Whether a worker fills every host array at once, before the calls of
    // a step: when asked to, and when a capture is asked for (it saves the
    // arrays from a fault handler of the library's own, which would take a
    // fill-on-first-read fault for a crash). Otherwise each array is filled
    // when user code first reads it.
    bool fillsAtOnce() const {
        const char *capture = std::getenv("VULMORA_CAPTURE");
        return fillAll || (capture && *capture);
    }
    // The path's points, or 0 when there is no path.
    int64_t points() const { return pathFile.empty() ? 0 : pathPoints; }
    bool operator==(const SampleConfig &) const = default;
};

} // namespace vhost

// settings.h - what the user asks of a run on the sample casting or along
// a path.
#pragma once

#include <string>
#include <vector>

#include "checks/check.h"
#include "model/sample_config.h"
#include "output/settings.h"

namespace vhost {

struct RunSettings {
    SampleConfig sample;                // what every worker builds and calls
    std::vector<std::string> functions; // entry names without func_
    bool functionsGiven = false;        // named by the user (else: every one exported)
    int jobs = 2;                       // workers run at the same time
    bool quiet = false;                 // only problems and the verdict on the terminal
    // The size in MiB of a worker's values from which they are taken out of
    // its file as it writes them.
    int takeValuesFrom = 64;
    OutputSettings output;
    CheckSettings checks;
    // Along a path: the words that make the same path again (`curve` and
    // its options, as given), with which a failure's re-run command starts;
    // and whether each entry point's value at its one point is printed.
    std::vector<std::string> pathWords;
    bool pointValues = false;
    // The bench as a command the user can paste: its name when that is the
    // program PATH finds, else its path, quoted.
    std::string program = "vulmora-host";
    bool operator==(const RunSettings &) const = default;
};

} // namespace vhost

// setup.h - what a run needs before any worker starts: the library, and
// room for its size.
#pragma once

#include <cstddef>
#include <string>

#include "model/sample_config.h"

namespace vhost {

// `library` as given (--library), else the first default candidate that
// exists; made absolute. False with the reason in `error`.
bool chooseLibrary(std::string &library, std::string &error);

// What a run's size is checked against: its sample, how many workers run
// at a time, and the output folder with the steps written into it (0: no
// output files).
struct RunSize {
    const SampleConfig &sample;
    int jobs = 2;
    std::string outputFolder;
    int stepsWritten = 0;
};

// Refuse a run that cannot fit: memory (the parent's sample and the values
// of `entries` entry points, each worker's sample and a step's values),
// then, unless `diskEntries` is 0, the scratch folder (the workers' result
// files) and the output files of that many entry points.
bool checkSize(const RunSize &r, size_t entries, size_t diskEntries, const std::string &scratchDir,
               std::string &error);
// `bytes` for a message: "2.5 GiB", or "37.2 MiB" under a tenth of a GiB.
std::string sizeText(double bytes);

// The bytes the result files of `diskEntries` entry points take, every
// one kept until the run ends (and a checker's worker besides).
uint64_t scratchBytes(const SampleConfig &s, size_t diskEntries);

} // namespace vhost

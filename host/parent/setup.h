// setup.h - what a run needs before any worker starts: the library, and
// room for its size.
#pragma once

#include <cstddef>
#include <string>

#include "cli/options.h"
#include "platform/platform.h"

namespace vhost {

// --library as given, else the first default candidate that exists; made
// absolute. False with the reason in `error`.
bool chooseLibrary(Options &o, std::string &error);

// Refuse a run that cannot fit: memory (the parent's sample and the values
// of `entries` entry points, each worker's sample and a step's values),
// then, unless `diskEntries` is 0, the scratch folder (the workers' result
// files) and the output files of that many entry points.
bool checkSize(const Options &o, size_t entries, size_t diskEntries, const std::string &scratchDir,
               std::string &error);
// The bytes the result files of `diskEntries` entry points take, every
// one kept until the run ends (and a checker's worker besides).
uint64_t scratchBytes(const Options &o, size_t diskEntries);

} // namespace vhost

// setup.h - what a run needs before any worker starts: the library, a
// private scratch folder, and room for its size.
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

// A private folder of this run for the workers' result files, removed with
// everything in it when the run ends. The run holds a lock on a file in it
// for as long as it lasts; a run killed without warning (SIGKILL) cannot
// remove its folder, and the next one that makes a folder of the same kind
// removes it, once its lock is free.
class Scratch {
  public:
    Scratch() = default;
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
    ~Scratch();
    // Make it under the system's temporary folder (in memory when that has
    // `room` bytes free: platform::tempDirectory), its name starting with
    // `prefix`; false with `error`.
    bool make(std::string &error, const char *prefix = "vulmora-host-", uint64_t room = 0);
    const std::string &dir() const { return dir_; }

  private:
    std::string dir_;
    platform::FileHandle owner_ = -1; // locked while the run lasts
};

} // namespace vhost

// scratch.h - a private folder of a run's own, for the files its
// processes exchange.
#pragma once

#include <cstdint>
#include <string>

#include "platform/files.h"

namespace vhost {

// A private folder of this run for the files its processes exchange, removed with
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

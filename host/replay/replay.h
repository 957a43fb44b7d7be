// replay.h - replaying a captured call, and saving the sample as a state.
#pragma once

#include "cli/options.h"

namespace vhost {

// vulmora-host replay FILE: check the file, run the captured call in a
// worker (or in this process with --in-process) and report it next to the
// captured outcome. 0 reproduced, 1 differs, 2 bad file or command line.
int runReplay(const Options &o, const char *argv0);

// The hidden worker of a replay: make the call, write the result file.
int runReplayWorker(const Options &o);

// --save-state FILE: the sample at --step (default: the last step), as a
// state file. 0 or 2.
int saveSampleState(const Options &o);

} // namespace vhost

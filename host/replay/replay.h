// replay.h - replaying a captured call, and saving the sample as a state.
#pragma once

#include <string>

#include "model/sample_config.h"
#include "replay/call.h"

namespace vhost {

// vulmora-host replay FILE: check the file, run the captured call in a
// worker (or in this process with --in-process) and report it next to the
// captured outcome. 0 reproduced, 1 differs, 2 bad file or command line.
int runReplay(const ReplaySettings &r, const char *argv0);

// The hidden worker of a replay: make the call, write the result file.
int runReplayWorker(const ReplaySettings &r);

// --save-state FILE: the sample of `s` at `step` (1-based; 0: the last
// step), as a state file. 0 or 2.
int saveSampleState(const SampleConfig &s, int step, const std::string &file);

} // namespace vhost

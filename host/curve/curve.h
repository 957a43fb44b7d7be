// curve.h - `vulmora-host curve`: the entry points along a path of states.
//
// The path is a state source beside the sample casting: the parent builds
// it (a temperature range with a rule for the solid fraction, a table, or
// a single point), writes it into the run's scratch folder in host units,
// and the run goes on as a run of the sample does, each worker putting
// point i at node i of its grid. The outputs are curve.csv and an SVG per
// entry point; the smoothness check reports what jumps along the path.
// The path itself is made by path_source.h.
#pragma once

#include "run/run.h"

namespace vhost {

// The command: build the path, run the entry points along it, report.
int runCurve(const RunSetting &s);

} // namespace vhost

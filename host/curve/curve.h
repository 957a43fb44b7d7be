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

#include "curve/path_source.h"
#include "run/run.h"

namespace vhost {

// The command: build the path `c` asks for, run the entry points of `run`
// along it (its sample made the path's grid), report.
int runCurve(const CurveSettings &c, RunSettings run, const RunServices &services);

} // namespace vhost

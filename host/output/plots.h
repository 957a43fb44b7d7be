// plots.h - the plots of a run: each entry point's values against temperature.
#pragma once

#include <string>
#include <vector>

#include "model/units.h"
#include "parent/outcome.h"

namespace vhost {

// Into `dir`: one gnuplot run for every plot (the axes named with their
// units, the values' by `units`), in the output folder (the script names
// the files relative to it, so it can be run again there); a missing
// gnuplot is a note, not an error. At most about 6000 points per plot,
// taken evenly from the rows.
// `plotted` says whether plots were made; false with `error` when gnuplot
// failed.
bool makePlots(const std::string &dir, const std::vector<const Outcome *> &evaluated,
               const Units &units, std::string &notes, bool &plotted, std::string &error);

} // namespace vhost

// path_source.h - the path of a curve, from the command line or a table.
#pragma once

#include <string>
#include <vector>

#include "checks/checks.h"
#include "cli/options.h"
#include "model/path.h"

namespace vhost {

// The sample alloy's defaults: the margin above the liquidus where a path
// starts, room temperature where it ends, and the Scheil parameters.
constexpr double kPathMargin = 50.0, kRoomTemperature = 293.0; // K
constexpr double kScheilK = 0.13, kScheilTm = 933.47;          // -, K

// Scheil's solid fraction at T (K): 1 - ((tm - T)/(tm - tl))^(1/(k - 1)),
// clipped to [0, 1], and 1 from the solidus down.
double scheilFraction(double T, double k, double tm, double tl, double solidus);

// The path `o` describes, in host units, every column filled; false with
// a message of one line (a table's naming its file, line and column).
bool buildPath(const Options &o, ToInternalFn toInternal, Path &p, std::string &error);

} // namespace vhost

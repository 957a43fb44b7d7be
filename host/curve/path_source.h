// path_source.h - the path of a curve, from the command line or a table.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "model/path.h"
#include "model/units.h"

namespace vhost {

// The path the user asks for. Temperatures in the user's unit; other
// fields in the host's.
struct CurveSettings {
    bool fromGiven = false, toGiven = false;
    double from = 0, to = 0;
    int points = 200; // points along the path, ends included
    enum class FsRule { Lever, Scheil, Model } fsRule = FsRule::Lever;
    std::vector<std::pair<std::string, double>> scheil; // k, tm, tl as given
    std::string table;                                  // a table of the path's points
    std::vector<std::pair<std::string, double>> sets;   // columns fixed along the path
    std::vector<std::pair<std::string, double>> at;     // a single point
    int node = 0; // a point called in this process (--node), 0: none
    bool operator==(const CurveSettings &) const = default;
};

// The path `c` describes for `alloy` (by default from its pouring to its
// end temperature, the solid fraction by its laws), its temperatures in the
// user's unit of `units`, in host units, every column filled; false with a
// message of one line (a table's naming its file, line and column).
// Path::given keeps the columns the user gave.
bool buildPath(const CurveSettings &c, const Alloy &alloy, const UnitConverter &units, Path &p,
               std::string &error);

// What a table or a single point built by `c` left out and how the path
// filled it, as a note of one line (temperatures in the user's unit of
// `units`): "note: fs by the lever rule of the alloy (liquidus 888 K,
// solidus 833 K); ..."; "" for a range, or when nothing was left out.
std::string derivedNote(const CurveSettings &c, const Path &p, const Alloy &alloy,
                        const UnitConverter &units);

} // namespace vhost

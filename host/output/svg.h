// svg.h - the plot writer of a path: plain SVG, no program needed.
#pragma once

#include <string>
#include <vector>

namespace vhost {

// One entry point along a path: its values against temperature as a line,
// the solid fraction on a second axis, liquidus and solidus marked; below,
// the derivative along the path.
struct CurvePlot {
    std::string title;                  // "func_yieldstress along the path"
    std::string xLabel, yLabel, dLabel; // the axes' names with units
    std::vector<double> x, y, fs;       // temperature (user's unit), values, solid fraction
    double liquidus = 0, solidus = 0;   // user's unit
};

// The SVG document of `p`: elements svg, rect, line, polyline, text and g
// only, every text escaped.
std::string curveSvg(const CurvePlot &p);

} // namespace vhost

// path.h - a path of states: the points at which a curve evaluates entry
// points, one node of the sample's grid each.
//
// A path has a column per nodal field of the exchange block (named as its
// variable), then one per active constituent and auxiliary variable of the
// microstructure (named as the catalogue names them), then the node's
// coordinates (x_cord, y_cord, z_cord), every value in the host's units
// (Kelvin, CGS). Sample(..., &path) puts point i at node i.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "model/fields.h"
#include "model/sample.h"

namespace vhost {

// The columns' indices: the nodal fields in the order of fields.h, then
// the constituents, the auxiliary variables and the coordinates.
namespace column {
#define VHOST_PATH_COLUMN(variable, member, type, extent, vtu) variable,
enum : size_t {
    VHOST_FIELD_ARRAYS(VHOST_PATH_COLUMN, VHOST_ARRAY_NONE) kConstituents,
    kAuxiliaries = kConstituents + kNumConstituents,
    kCoordinates = kAuxiliaries + kNumAuxiliaries,
    kCount = kCoordinates + 3
};
#undef VHOST_PATH_COLUMN
} // namespace column

struct Path {
    std::vector<double> values[column::kCount]; // [column][point]
    // K: where its solid fraction leaves 0, where it reaches 1, the
    // eutectic's hold (0: none), marked on plots and expected to kink.
    double liquidus = 0, solidus = 0, eutectic = 0;
    // Per column, whether the user gave it (a table, --at, --set) rather
    // than a rule or the sample's laws; empty when no one said.
    std::vector<bool> given;
    size_t points() const { return values[column::t1].size(); }
    double at(size_t c, size_t point) const { return values[c][point]; }
};

// The name of column c ("t1", "fs1", "eutectic Si", "SDAS", "x_cord").
std::string columnName(size_t c);
// The column a table's header or --set names: its name, any case, or
// "temperature"/"T" for t1 and "fs"/"solid fraction" for fs1;
// column::kCount when none.
size_t findColumn(const std::string &name);
// The known name nearest to `name` (a column's or an alias, by edit
// distance regardless of case) when it is close enough to be a slip of
// the keyboard: at most a third of its letters apart (one for a short
// name); "" when none is.
std::string nearestColumnName(const std::string &name);
// True for the columns that hold a temperature (read in the user's unit).
bool isTemperatureColumn(size_t c);
// The name of temperature selector `sel`: "K", "°C", "°F", "°R" ("?" else).
const char *temperatureUnitName(int sel);

// Why value `v` (host units: Kelvin for a temperature) cannot stand in
// column c of a path, or "": a field of the host is a 32-bit float, a
// temperature lies above absolute zero, a solid fraction from 0 to 1.
std::string pathValueProblem(size_t c, double v);

// Nodes per side of the smallest grid (at least 4) holding `points` nodes.
int pathSide(size_t points);

// Fill every column that `given` (per column) leaves unset from the path's
// temperatures and solid fractions, by the sample's laws for `alloy`: the previous
// level is the previous point (cooling along the path), the cooling rate
// `rate` K/s where jctn is not given (it also times the freezing for the
// arm spacing), a sound casting (no porosity), the convection of the
// liquid along x and the atmosphere's pressure; each point where the
// sample's grid for the path puts its node.
void completePath(Path &p, const std::vector<bool> &given, double rate, const Alloy &alloy);

// The most points a path may have, and the longest line of a table.
constexpr size_t kMaxPathPoints = 100000;
constexpr size_t kMaxTableLine = 65536;

// Kelvin from temperature `t` in the unit of selector `sel` (1 K, 2 C, 3 F, 4 R).
using KelvinFn = std::function<double(int sel, double t)>;

// Read a path table: a header row of column names, each as findColumn
// takes it (a temperature's may be followed by its unit in brackets,
// "temperature [°C]"; without one it is in the unit of `userTemp`), then a
// row of numbers per point, the temperatures strictly falling or strictly
// rising. Blank lines and lines starting with '#' are skipped. The cells
// are separated by commas, or by semicolons when the header has one: then
// a comma in a number is its decimal mark ("0,5"), as spreadsheets write
// them in many locales. Every
// column of the table is marked in `given`. False with "line L, column C
// (NAME): reason" in `error`, one line, the input shown escaped.
bool readPathTable(std::string_view text, int userTemp, const KelvinFn &toKelvin, Path &p,
                   std::vector<bool> &given, std::string &error);

// The derivative of y against x at every point of a path: central
// differences, one-sided at the ends; NaN where a neighbour is not finite.
std::vector<double> derivative(const std::vector<double> &x, const std::vector<double> &y);

// The table file at `path` (at most 64 MB, a regular file); false with
// "FILE: ..." in `error`.
bool loadPathTable(const std::string &file, int userTemp, const KelvinFn &toKelvin, Path &p,
                   std::vector<bool> &given, std::string &error);

// A path as a CSV table in host units, every number with all its digits:
// what the workers are given (read back by readPathTable in Kelvin).
std::string pathTableText(const Path &p);

} // namespace vhost

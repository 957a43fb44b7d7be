// csv.h - the CSV file of one entry point: a row per evaluated node and step.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vhost {

class CheckedFile;
class Sample;
class UnitConverter;

// The header row of an entry point's CSV file, each column with its unit
// (the user's for coordinates and temperature): "step,node,material,
// x [mm],y [mm],z [mm],temperature [°C],fs,density [g/cm³]".
std::string csvHeader(const std::string &valueLabel, const UnitConverter &units);

// A row per evaluated node of one step: step, node, material, the node's
// coordinates and temperature in the user's units, its solid fraction, the
// value. Each number is the shortest text that reads back as exactly it
// (a field the user's unit leaves as it is: as the host's float).
void writeCsvRows(CheckedFile &f, const Sample &s, int step, const double *v,
                  const std::vector<uint8_t> &nodeMaterial, const UnitConverter &units);

// A path's CSV: the header `names`, then a row per point of every column
// (each of the same length), each number the shortest text that reads
// back as exactly it.
std::string columnsCsvText(const std::vector<std::string> &names,
                           const std::vector<std::vector<double>> &columns);

} // namespace vhost

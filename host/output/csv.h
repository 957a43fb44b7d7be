// csv.h - the CSV file of one entry point: a row per evaluated node and step.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vhost {

class CheckedFile;
class Sample;

// The header row of every entry point's CSV file.
inline constexpr const char *kCsvHeader = "step,node,material,x_cm,y_cm,z_cm,T_K,fs,value\n";

// A row per evaluated node of one step: step, node, material, the node's
// coordinates (cm), temperature (K) and solid fraction, the value. Each
// number is the shortest text that reads back as exactly it.
void writeCsvRows(CheckedFile &f, const Sample &s, int step, const double *v,
                  const std::vector<uint8_t> &nodeMaterial);

// A path's CSV: the header `names`, then a row per point of every column
// (each of the same length), each number the shortest text that reads
// back as exactly it.
std::string columnsCsvText(const std::vector<std::string> &names,
                           const std::vector<std::vector<double>> &columns);

} // namespace vhost

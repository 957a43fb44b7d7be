// report.h - what a run found, on the terminal and in the output folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/build_record.h"
#include "model/sample_config.h"
#include "output/settings.h"
#include "parent/outcome.h"

namespace vhost {

struct Path;

class Sample;
class OutputFolder;

// Fill min/mean/max and the first non-finite value from result.values.
// `nodeMaterial` (when given) holds per node 0 for a node not evaluated,
// else its material (1 or 2); without it every node is of material 1.
void computeStatistics(Outcome &o, int nnod, const std::vector<uint8_t> *nodeMaterial = nullptr);
// The same from the values of the evaluated nodes alone (those of
// `nodeMaterial` not 0), in node order a step after another, as `read`
// gives them, a piece at a time to its callback; false (nothing changed)
// when it cannot read them all, or no node is evaluated.
bool computeStatistics(Outcome &o, int nnod, const std::vector<uint8_t> &nodeMaterial,
                       const ValuePieces &read);

// The summary table; a row per material for each entry point when
// `perMaterial`.
std::string summaryTable(const std::vector<Outcome> &outcomes, bool perMaterial = false);

// A printable, C-escaped copy of `text` (the last `keep` bytes of it).
std::string escaped(const std::string &text, size_t keep = 2000);

// `path` as it is when every byte of it prints as itself, else escaped():
// a newline or other control character in a path never breaks a report's
// lines.
std::string shownPath(const std::string &path);

// The last `lines` lines of `text`, each indented by `indent`.
std::string lastLines(const std::string &text, size_t lines, const std::string &indent);

// "func_<name>", or "externalcompute": the name of an entry point's column.
std::string fieldName(const Outcome &o);

// A field of values per node and step added to the VTU files (steps x
// nnod, step-major), e.g. the differences from a reference.
struct ExtraField {
    std::string name;
    const std::vector<double> *values;
};

// What the writers are given of a run.
struct RunOutput {
    const OutputSettings &settings;
    const SampleConfig &sample;
    const LibraryIdentity &library; // the library file run and its build record (run.txt)
    const std::vector<Outcome> &outcomes;
    const std::string &summary;
    const std::string &loadOutput; // what the library printed while loading
};

// Into the claimed output folder: a CSV per entry point, a VTU per step
// with a PVD collection (and the `extra` fields), the values of every
// entry point exactly (<entry>.values) with run.txt describing the run,
// what each entry point printed, the summary and the plots; then the
// folder is put in place. `notes` then starts with the files written,
// followed by what was skipped (plots without gnuplot). False with the
// path and reason of the first failure in `error`.
bool writeOutputs(const RunOutput &r, Sample &sample, OutputFolder &dir,
                  const UnitConverter &userUnits, std::string &notes, std::string &error,
                  const std::vector<ExtraField> &extra = {});

// Into the claimed output folder, for a path: curve.csv (temperature in
// the user's unit by `units`, solid fraction, each entry point's
// values), an SVG per entry point that returned values, what each printed
// and the summary; then the folder is put in place. False as above.
bool writeCurveOutputs(const RunOutput &r, const Path &path, OutputFolder &dir,
                       const UnitConverter &units, std::string &notes, std::string &error);

} // namespace vhost

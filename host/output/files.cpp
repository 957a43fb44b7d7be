// files.cpp - the output folder's files: a CSV per entry point, a VTU per
// step with its PVD collection, the exact values and the run's shape, what
// each entry point printed, the summary and the plots.
#include <cstdio>
#include <filesystem>
#include <memory>

#include "output/saved_run.h"
#include "model/caller.h"
#include "model/sample.h"
#include "include/vulmora/getVar.h"
#include "model/path.h"
#include "output/csv.h"
#include "output/labels.h"
#include "output/svg.h"
#include "output/outdir.h"
#include "output/plots.h"
#include "output/report.h"
#include "output/vtu.h"
#include "platform/processes.h"
#include "platform/signals.h"

namespace vhost {

namespace fs = std::filesystem;

namespace {

// "N files, X MB": what the folder holds.
std::string folderSize(const fs::path &dir) {
    std::error_code ec;
    uintmax_t bytes = 0, files = 0;
    for (const auto &e : fs::directory_iterator(dir, ec))
        if (e.is_regular_file(ec)) bytes += e.file_size(ec), ++files;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%ju files, %.1f MB", files, double(bytes) / 1e6);
    return buf;
}

// A file of the output folder, written whole and checked.
bool writeText(const fs::path &path, const std::string &text, std::string &error) {
    CheckedFile f(path.string());
    f.write(text.data(), text.size());
    return f.close(error);
}

// What each entry point (and the library while loading) printed.
bool writePrinted(const fs::path &dir, const std::vector<Outcome> &outcomes,
                  const std::string &loadOutput, std::string &error) {
    for (const Outcome &e : outcomes) {
        if (!e.printed.empty() && !writeText(dir / (e.name + ".stdout.txt"), e.printed, error))
            return false;
        if (!e.errors.empty() && !writeText(dir / (e.name + ".stderr.txt"), e.errors, error))
            return false;
    }
    return loadOutput.empty() || writeText(dir / "library-load.stdout.txt", loadOutput, error);
}

// The CSV files and a VTU file per step written, with run.pvd. Steps in
// the outer loop: the sample is rebuilt once per step and every entry
// point's rows of that step are appended to its CSV. `written` counts the
// VTU files.
bool writeSteps(const fs::path &dir, const RunOutput &r, Sample &s, const UnitConverter &userUnits,
                const std::vector<const Outcome *> &evaluated, const std::vector<ExtraField> &extra,
                int &written, std::string &error) {
    std::vector<std::unique_ptr<CheckedFile>> csv;
    for (const Outcome *e : evaluated) {
        csv.push_back(std::make_unique<CheckedFile>((dir / (e->name + ".csv")).string()));
        const std::string name = e->result.mechName.empty() ? e->name : e->result.mechName;
        const std::string header =
            csvHeader(withUnit(name, valueUnit(*e, r.sample.units)), userUnits);
        csv.back()->write(header.data(), header.size());
    }
    const std::vector<uint8_t> nodeMaterial = nodeMaterials(s, r.sample);
    const size_t n = static_cast<size_t>(s.nnod);
    CheckedFile pvd((dir / "run.pvd").string());
    pvd.printf("<?xml version=\"1.0\"?>\n<VTKFile type=\"Collection\" "
               "version=\"0.1\">\n<Collection>\n");
    for (int step = 1; step <= r.sample.steps; ++step) {
        if (platform::interrupted()) return error = "interrupted", false;
        if (!r.settings.stepWritten(step)) continue;
        ++written;
        s.setStep(step);
        for (size_t k = 0; k < evaluated.size(); ++k)
            writeCsvRows(*csv[k], s, step, &evaluated[k]->result.values[size_t(step - 1) * n],
                         nodeMaterial, userUnits);
        char name[32];
        std::snprintf(name, sizeof name, "step_%04d.vtu", step);
        CheckedFile vtu((dir / name).string());
        VtuWriter(vtu).step(s, evaluated, nodeMaterial, extra);
        if (!vtu.close(error)) return false;
        pvd.printf("<DataSet timestep=\"%g\" part=\"0\" file=\"%s\"/>\n", s.time(step), name);
    }
    pvd.printf("</Collection>\n</VTKFile>\n");
    if (!pvd.close(error)) return false;
    for (auto &f : csv)
        if (!f->close(error)) return false;
    return true;
}

// What a later run compares with: every value exactly, and the run's shape.
bool writeExact(const fs::path &dir, const RunOutput &r,
                const std::vector<const Outcome *> &evaluated, std::string &error,
                const Path *path = nullptr) {
    for (const Outcome *e : evaluated)
        if (!writeText(dir / (e->name + ".values"), valuesBytes(e->result.values), error))
            return false;
    return writeText(dir / "run.txt",
                     runDescriptionText(describeRun(r.sample, r.library, r.outcomes, path)), error);
}

// A path's values as plots: one SVG per entry point; how many in `plots`.
bool writeCurvePlots(const fs::path &dir, const Units &units, const CurvePlot &base,
                     const std::vector<const Outcome *> &evaluated, size_t points, int &plots,
                     std::string &error) {
    const std::string perT = "/" + std::string(temperatureUnitName(units.temp));
    for (const Outcome *e : evaluated) {
        CurvePlot p = base;
        const std::string unit = valueUnit(*e, units);
        const std::string name = e->result.mechName.empty() ? e->name : e->result.mechName;
        p.title = "func_" + e->name + " along the path";
        p.yLabel = withUnit(name, unit);
        p.dLabel = withUnit("d " + name + " / dT", (unit.empty() ? "1" : unit) + perT);
        p.y.assign(e->result.values.begin(), e->result.values.begin() + std::ptrdiff_t(points));
        if (!writeText(dir / (e->name + ".svg"), curveSvg(p), error)) return false;
        ++plots;
    }
    return true;
}

} // namespace

bool writeCurveOutputs(const RunOutput &r, const Path &path, OutputFolder &out,
                       const UnitConverter &userUnits, std::string &notes, std::string &error) {
    const Units &units = r.sample.units;
    auto userUnit = [&](int code, double x) { return userUnits.toUser(code, x); };
    const fs::path dir = out.partial();
    const size_t n = path.points();
    CurvePlot base;
    base.xLabel = withUnit("temperature", temperatureUnitName(units.temp));
    for (double t : path.values[column::t1])
        base.x.push_back(userUnit(VULMORA_QTY_TEMPERATURE, t));
    base.fs = path.values[column::fs1];
    base.liquidus = userUnit(VULMORA_QTY_TEMPERATURE, path.liquidus);
    base.solidus = userUnit(VULMORA_QTY_TEMPERATURE, path.solidus);
    std::vector<std::string> names = {base.xLabel, "fs"};
    std::vector<std::vector<double>> columns = {base.x, base.fs};
    std::vector<const Outcome *> evaluated;
    for (const Outcome &e : r.outcomes)
        if (e.hasValues() && e.result.values.size() >= n) {
            evaluated.push_back(&e);
            names.push_back(withUnit(e.name, valueUnit(e, units)));
            columns.emplace_back(e.result.values.begin(),
                                 e.result.values.begin() + std::ptrdiff_t(n));
        }
    int plots = 0;
    if (!writePrinted(dir, r.outcomes, r.loadOutput, error) ||
        !writeText(dir / "curve.csv", columnsCsvText(names, columns), error) ||
        !writeText(dir / "summary.txt", r.summary, error) ||
        !writeExact(dir, r, evaluated, error, &path) ||
        (r.settings.plots && !writeCurvePlots(dir, units, base, evaluated, n, plots, error)) ||
        !out.commit(error))
        return false;
    notes = "results: " + shownPath(out.target()) + " (curve.csv, " + std::to_string(plots) +
            (plots == 1 ? " SVG plot" : " SVG plots") + ", summary.txt, run.txt)\n";
    return true;
}

bool writeOutputs(const RunOutput &r, Sample &s, OutputFolder &out, const UnitConverter &userUnits,
                  std::string &notes, std::string &error, const std::vector<ExtraField> &extra) {
    const fs::path dir = out.partial();
    std::vector<const Outcome *> evaluated;
    for (const Outcome &e : r.outcomes)
        if (e.hasValues() && !e.result.values.empty()) evaluated.push_back(&e);
    int written = 0;
    bool plotted = false;
    if (!writePrinted(dir, r.outcomes, r.loadOutput, error) ||
        !writeSteps(dir, r, s, userUnits, evaluated, extra, written, error) ||
        !writeText(dir / "summary.txt", r.summary, error) ||
        !writeExact(dir, r, evaluated, error) ||
        (r.settings.plots &&
         !makePlots(dir.string(), evaluated, r.sample.units, notes, plotted, error)) ||
        !out.commit(error))
        return false;
    notes = "results: " + shownPath(out.target()) + " (" + folderSize(out.target()) +
            "; CSV per entry point, run.pvd with " + std::to_string(written) +
            " VTU files, summary.txt)\n" + notes;
    if (plotted) notes += "plots: " + shownPath((fs::path(out.target()) / "*.svg").string()) + "\n";
    return true;
}

} // namespace vhost

// plots.cpp - the plot writer: a gnuplot script, run in the output folder.
#include "output/plots.h"

#include <filesystem>

#include "model/path.h"
#include "output/labels.h"
#include "output/outdir.h"
#include "output/report.h"
#include "output/svg_plain.h"
#include "platform/processes.h"

namespace vhost {

namespace fs = std::filesystem;

namespace {

// Single quotes doubled, for a gnuplot string.
std::string gnuplotQuoted(const std::string &s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("''") : std::string(1, c);
    return q + "'";
}

} // namespace

bool makePlots(const std::string &folder, const std::vector<const Outcome *> &evaluated,
               const Units &units, std::string &notes, bool &plotted, std::string &error) {
    const fs::path dir = folder;
    if (evaluated.empty()) return true;
    const size_t rows = evaluated.front()->result.values.size();
    const size_t every = rows / 6000 + 1;
    CheckedFile f((dir / "plots.gp").string());
    f.printf("set encoding utf8\n"
             "set terminal svg size 800,560 dynamic noenhanced background rgb 'white'\n"
             "set datafile separator ','\nset grid\nset key off\n"
             "set xlabel %s\nset cblabel 'time step'\n",
             gnuplotQuoted(withUnit("temperature", temperatureUnitName(units.temp))).c_str());
    for (const Outcome *e : evaluated) {
        const std::string label = withUnit(
            e->result.mechName.empty() ? e->name : e->result.mechName, valueUnit(*e, units));
        f.printf("set output %s\nset title %s\nset ylabel %s\n"
                 "plot %s skip 1 every %zu using 7:9:1 with points pt 7 ps 0.4 palette\n",
                 gnuplotQuoted(e->name + ".svg").c_str(),
                 gnuplotQuoted("func_" + e->name + " against temperature").c_str(),
                 gnuplotQuoted(label).c_str(), gnuplotQuoted(e->name + ".csv").c_str(), every);
    }
    if (!f.close(error)) return false;
    platform::RunResult r = platform::runCaptured(
        {"gnuplot", "-e", "cd " + gnuplotQuoted(dir.string()), (dir / "plots.gp").string()});
    if (!r.started) {
        notes += "gnuplot not found (" + r.error + "): no plots made\n";
        return true;
    }
    if (!r.exited || r.status != 0) {
        error = "gnuplot failed making the plots in " + dir.string() + ": " +
                lastLines(r.err.text(), 1, "");
        while (!error.empty() && error.back() == '\n')
            error.pop_back();
        return false;
    }
    for (const Outcome *e : evaluated) {
        std::error_code ec;
        const fs::path svg = dir / (e->name + ".svg");
        if (fs::file_size(svg, ec) == 0 || ec) {
            error = svg.string() + ": gnuplot wrote no plot";
            return false;
        }
        if (!inlineUsesInFile(svg.string(), error)) return false;
    }
    plotted = true;
    return true;
}

} // namespace vhost

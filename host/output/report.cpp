// report.cpp - the summary table and the files of the output folder.
#include "output/report.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>

#include "checks/compare.h"
#include "output/outdir.h"
#include "platform/platform.h"
#include "model/caller.h"
#include "model/sample.h"
#include "output/statistics.h"
#include "output/vtu.h"

namespace vhost {

namespace fs = std::filesystem;

namespace {

// A time per call, in the unit that keeps it readable.
std::string perCall(double seconds, int64_t calls) {
    if (calls <= 0) return "-";
    double t = seconds / static_cast<double>(calls);
    char buf[32];
    if (t < 1e-6)
        std::snprintf(buf, sizeof buf, "%.0f ns", t * 1e9);
    else if (t < 1e-3)
        std::snprintf(buf, sizeof buf, "%.1f us", t * 1e6);
    else
        std::snprintf(buf, sizeof buf, "%.1f ms", t * 1e3);
    return buf;
}

// Calls per second, "-" when nothing was timed.
std::string perSecond(double seconds, int64_t calls) {
    if (calls <= 0 || !(seconds > 0)) return "-";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3g", static_cast<double>(calls) / seconds);
    return buf;
}

// The status column.
std::string statusText(const Outcome &o) {
    switch (o.status) {
    case Outcome::Ok:
        return "ok";
    case Outcome::NonFinite:
        return "non-finite";
    case Outcome::Placeholder:
        return "placeholder";
    case Outcome::Stopped:
        return "stopped (" + std::to_string(o.exitStatus) + ")";
    case Outcome::Crashed:
        return "crashed";
    case Outcome::TimedOut:
        return "timed out";
    case Outcome::Modified:
        return "wrote input";
    case Outcome::NotExported:
        return "not exported";
    case Outcome::EmulatorError:
        return "emulator error";
    case Outcome::Error:
        break;
    }
    return "error";
}

// Single quotes doubled, for a gnuplot string.
std::string gnuplotQuoted(const std::string &s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("''") : std::string(1, c);
    return q + "'";
}

// A row per evaluated node of one step: step, node, material, the node's
// coordinates (cm), temperature (K) and solid fraction, the value. Each
// number is the shortest text that reads back as exactly it.
void writeCsvRows(CheckedFile &f, const Sample &s, int step, const double *v,
                  const std::vector<uint8_t> &nodeMaterial) {
    std::string out;
    char row[512];
    char *p = row;
    // A number and the separator after it (one byte is always kept for it).
    auto put = [&](auto x, char after) {
        p = std::to_chars(p, row + sizeof row - 1, x).ptr;
        *p++ = after;
    };
    for (size_t i = 0, n = static_cast<size_t>(s.nnod); i < n && f.ok(); ++i) {
        if (!nodeMaterial[i]) continue;
        p = row;
        put(step, ',');
        put(i + 1, ',');
        put(int(nodeMaterial[i]), ',');
        put(s.x[i], ',');
        put(s.y[i], ',');
        put(s.z[i], ',');
        put(s.t1[i], ',');
        put(s.fs1[i], ',');
        put(v[i], '\n');
        out.append(row, p);
        if (out.size() >= 1 << 16) {
            f.write(out.data(), out.size());
            out.clear();
        }
    }
    f.write(out.data(), out.size());
}

} // namespace

std::string fieldName(const Outcome &o) {
    return o.name == "externalcompute" ? o.name : "func_" + o.name;
}

// ---- statistics ------------------------------------------------------------

// One pass in step-major order, so the first non-finite value is the
// earliest step's lowest node.
void computeStatistics(Outcome &o, int nnod, const std::vector<uint8_t> *nodeMaterial) {
    const auto &v = o.result.values;
    const size_t n = static_cast<size_t>(nnod);
    ValueStatistics all;
    ValueRange material[2];
    for (size_t k = 0, node = 0; k < v.size(); ++k, node = node + 1 == n ? 0 : node + 1) {
        const int m = nodeMaterial ? (*nodeMaterial)[node] : 1;
        if (m == 0) continue; // not evaluated
        all.add(v[k], k);
        if (std::isfinite(v[k])) material[m - 1].add(v[k]);
    }
    o.min = all.finite.min, o.max = all.finite.max, o.mean = all.finite.mean();
    o.finite = all.finite.finite, o.nonFinite = all.nonFinite;
    if (all.nonFinite) {
        o.badStep = static_cast<int>(all.firstBad / n) + 1;
        o.badNode = static_cast<int>(all.firstBad % n) + 1;
        o.badValue = all.firstBadValue;
    }
    for (int m = 0; m < 2; ++m)
        o.perMaterial[m] = {material[m].min, material[m].max, material[m].mean(),
                            material[m].finite};
}

// ---- the terminal ---------------------------------------------------------

std::string summaryTable(const std::vector<Outcome> &outcomes, bool perMaterial) {
    std::string t;
    char line[256];
    std::snprintf(line, sizeof line, "%-30s %-14s %13s %13s %13s %10s %10s %10s\n", "entry point",
                  "status", "min", "mean", "max", "evaluated", "time/call", "calls/s");
    t += line;
    for (const Outcome &o : outcomes) {
        std::string name = fieldName(o);
        if (!o.result.mechName.empty()) name += " (" + o.result.mechName + ")";
        const int64_t calls = o.hasValues() ? o.result.calls : 0;
        if (o.hasValues() && o.finite > 0)
            std::snprintf(line, sizeof line, "%-30s %-14s %13.6g %13.6g %13.6g %10lld %10s %10s\n",
                          name.c_str(), statusText(o).c_str(), o.min, o.mean, o.max,
                          static_cast<long long>(calls), perCall(o.result.seconds, calls).c_str(),
                          perSecond(o.result.seconds, calls).c_str());
        else
            std::snprintf(line, sizeof line, "%-30s %-14s %13s %13s %13s %10lld %10s %10s\n",
                          name.c_str(), statusText(o).c_str(), "-", "-", "-",
                          static_cast<long long>(calls), perCall(o.result.seconds, calls).c_str(),
                          perSecond(o.result.seconds, calls).c_str());
        t += line;
        if (!perMaterial || !o.hasValues()) continue;
        static const char *const materials[2] = {"  material 1 (casting)", "  material 2 (mould)"};
        for (int m = 0; m < 2; ++m) {
            const Outcome::Range &r = o.perMaterial[m];
            if (r.finite == 0) continue;
            std::snprintf(line, sizeof line, "%-30s %-14s %13.6g %13.6g %13.6g\n", materials[m], "",
                          r.min, r.mean, r.max);
            t += line;
        }
    }
    return t;
}

// Printable ASCII as is; newline, tab, quote, backslash and the rest escaped.
std::string escaped(const std::string &text, size_t keep) {
    std::string out = "\"";
    size_t from = text.size() > keep ? text.size() - keep : 0;
    if (from) out = "...\"";
    for (size_t i = from; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '"' || c == '\\')
            out += std::string("\\") + static_cast<char>(c);
        else if (c < 32 || c > 126) {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02x", c);
            out += b;
        } else
            out += static_cast<char>(c);
    }
    return out + "\"";
}

std::string lastLines(const std::string &text, size_t lines, const std::string &indent) {
    std::vector<std::string> all;
    size_t at = 0;
    while (at < text.size()) {
        size_t nl = text.find('\n', at);
        if (nl == std::string::npos) nl = text.size();
        all.push_back(text.substr(at, nl - at));
        at = nl + 1;
    }
    std::string out;
    for (size_t k = all.size() > lines ? all.size() - lines : 0; k < all.size(); ++k) {
        out += indent;
        for (char c : all[k])
            out += (c >= 32 && c < 127) || c == '\t' ? c : '?';
        out += "\n";
    }
    return out;
}

// ---- the output folder -----------------------------------------------------

namespace {

// One gnuplot run for every plot, in the output folder (the script names
// the files relative to it, so it can be run again there); a missing
// gnuplot is a note, not an error. At most about 6000 points per plot,
// taken evenly from the rows.
bool makePlots(const fs::path &dir, const std::vector<const Outcome *> &evaluated,
               std::string &notes, bool &plotted, std::string &error) {
    if (evaluated.empty()) return true;
    const size_t rows = evaluated.front()->result.values.size();
    const size_t every = rows / 6000 + 1;
    CheckedFile f((dir / "plots.gp").string());
    f.printf("set terminal svg size 800,560 dynamic noenhanced background rgb 'white'\n"
             "set datafile separator ','\nset grid\nset key off\n"
             "set xlabel 'temperature (K)'\nset cblabel 'time step'\n");
    for (const Outcome *e : evaluated) {
        std::string label = e->result.mechName.empty()
                                ? "value (user unit)"
                                : e->result.mechName + " (" + e->result.mechUnit + ")";
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
    }
    plotted = true;
    return true;
}

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

} // namespace

// Steps in the outer loop: the sample is rebuilt once per step and every
// entry point's rows of that step are appended to its CSV.
bool writeOutputs(const Options &o, Sample &s, const std::vector<Outcome> &outcomes,
                  const std::string &summary, const std::string &loadOutput, OutputFolder &out,
                  std::string &notes, std::string &error, const std::vector<ExtraField> &extra) {
    const fs::path dir = out.partial();
    std::vector<const Outcome *> evaluated;
    std::vector<std::unique_ptr<CheckedFile>> csv;
    const std::vector<uint8_t> selected = selectedNodes(s, o);
    std::vector<uint8_t> nodeMaterial(selected.size());
    for (size_t i = 0; i < selected.size(); ++i)
        nodeMaterial[i] = selected[i] ? (s.inCasting(static_cast<int>(i)) ? 1 : 2) : 0;
    for (const Outcome &e : outcomes) {
        if (!e.printed.empty() && !writeText(dir / (e.name + ".stdout.txt"), e.printed, error))
            return false;
        if (!e.errors.empty() && !writeText(dir / (e.name + ".stderr.txt"), e.errors, error))
            return false;
        if (!e.hasValues() || e.result.values.empty()) continue;
        evaluated.push_back(&e);
        csv.push_back(std::make_unique<CheckedFile>((dir / (e.name + ".csv")).string()));
        csv.back()->printf("step,node,material,x_cm,y_cm,z_cm,T_K,fs,value\n");
    }
    if (!loadOutput.empty() && !writeText(dir / "library-load.stdout.txt", loadOutput, error))
        return false;
    const size_t n = static_cast<size_t>(s.nnod);
    CheckedFile pvd((dir / "run.pvd").string());
    pvd.printf("<?xml version=\"1.0\"?>\n<VTKFile type=\"Collection\" "
               "version=\"0.1\">\n<Collection>\n");
    int written = 0;
    for (int step = 1; step <= o.steps; ++step) {
        if (platform::interrupted()) return error = "interrupted", false;
        if (!stepWritten(o, step)) continue;
        ++written;
        s.setStep(step);
        for (size_t k = 0; k < evaluated.size(); ++k)
            writeCsvRows(*csv[k], s, step, &evaluated[k]->result.values[size_t(step - 1) * n],
                         nodeMaterial);
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
    if (!writeText(dir / "summary.txt", summary, error)) return false;
    // What a later run compares with: every value exactly, and the run's shape.
    for (const Outcome *e : evaluated)
        if (!writeText(dir / (e->name + ".values"), valuesBytes(e->result.values), error))
            return false;
    if (!writeText(dir / "run.txt", runDescriptionText(describeRun(o, outcomes)), error))
        return false;
    bool plotted = false;
    if (o.plots && !makePlots(dir, evaluated, notes, plotted, error)) return false;
    if (!out.commit(error)) return false;
    notes = "results: " + out.target() + " (" + folderSize(out.target()) +
            "; CSV per entry point, run.pvd with " + std::to_string(written) +
            " VTU files, summary.txt)\n" + notes;
    if (plotted) notes += "plots: " + (fs::path(out.target()) / "*.svg").string() + "\n";
    return true;
}

} // namespace vhost

// report.cpp - the summary table and the files of the output folder.
#include "report.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "platform.h"
#include "sample.h"

namespace vhost {

namespace fs = std::filesystem;

namespace {

using File = std::unique_ptr<FILE, int (*)(FILE *)>;

// fopen for writing, closed when the handle goes.
File openFile(const fs::path &p) {
    return File(std::fopen(p.string().c_str(), "w"), &std::fclose);
}

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
    case Outcome::NotExported:
        return "not exported";
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

// The name of column `name` for one of the entry points.
std::string fieldName(const Outcome &o) {
    return o.name == "externalcompute" ? o.name : "func_" + o.name;
}

} // namespace

// ---- statistics ------------------------------------------------------------

// One pass in step-major order, so the first non-finite value is the
// earliest step's lowest node.
void computeStatistics(Outcome &o, int nnod) {
    const auto &v = o.result.values;
    double sum = 0;
    bool first = true;
    for (size_t k = 0; k < v.size(); ++k) {
        const double x = v[k];
        if (!std::isfinite(x)) {
            if (o.nonFinite++ == 0) {
                o.badStep = static_cast<int>(k / static_cast<size_t>(nnod)) + 1;
                o.badNode = static_cast<int>(k % static_cast<size_t>(nnod)) + 1;
                o.badValue = x;
            }
            continue;
        }
        if (first || x < o.min) o.min = x;
        if (first || x > o.max) o.max = x;
        first = false;
        sum += x;
        ++o.finite;
    }
    o.mean = o.finite ? sum / static_cast<double>(o.finite) : 0.0;
}

// ---- the terminal ---------------------------------------------------------

std::string summaryTable(const std::vector<Outcome> &outcomes) {
    std::string t;
    char line[256];
    std::snprintf(line, sizeof line, "%-30s %-14s %13s %13s %13s %10s %10s\n", "entry point",
                  "status", "min", "mean", "max", "evaluated", "time/call");
    t += line;
    for (const Outcome &o : outcomes) {
        std::string name = fieldName(o);
        if (!o.result.mechName.empty()) name += " (" + o.result.mechName + ")";
        if (o.hasValues() && o.finite > 0)
            std::snprintf(line, sizeof line, "%-30s %-14s %13.6g %13.6g %13.6g %10lld %10s\n",
                          name.c_str(), statusText(o).c_str(), o.min, o.mean, o.max,
                          static_cast<long long>(o.result.calls),
                          perCall(o.result.seconds, o.result.calls).c_str());
        else
            std::snprintf(line, sizeof line, "%-30s %-14s %13s %13s %13s %10lld %10s\n",
                          name.c_str(), statusText(o).c_str(), "-", "-", "-",
                          static_cast<long long>(o.hasValues() ? o.result.calls : 0),
                          perCall(o.result.seconds, o.hasValues() ? o.result.calls : 0).c_str());
        t += line;
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

// ---- the output folder -----------------------------------------------------

namespace {

// One step of the run as a VTK XML unstructured grid (ASCII).
void writeVtu(const fs::path &path, const Sample &s,
              const std::vector<const Outcome *> &evaluated) {
    File f = openFile(path);
    if (!f) return;
    FILE *o = f.get();
    const size_t n = static_cast<size_t>(s.nnod), ne = static_cast<size_t>(s.nel);
    std::fprintf(o,
                 "<?xml version=\"1.0\"?>\n<VTKFile type=\"UnstructuredGrid\" version=\"0.1\" "
                 "byte_order=\"LittleEndian\">\n<UnstructuredGrid>\n"
                 "<Piece NumberOfPoints=\"%zu\" NumberOfCells=\"%zu\">\n"
                 "<PointData Scalars=\"T_K\">\n",
                 n, ne);
    auto floats = [&](const char *name, const std::vector<float> &v, size_t off = 0) {
        std::fprintf(o, "<DataArray type=\"Float32\" Name=\"%s\" format=\"ascii\">\n", name);
        for (size_t i = 0; i < n; ++i)
            std::fprintf(o, "%.9g\n", double(v[off + i]));
        std::fprintf(o, "</DataArray>\n");
    };
    floats("T_K", s.t1);
    floats("T0_K", s.t0);
    floats("fs", s.fs1);
    floats("vf_s1", s.vf1);
    floats("f_vol1", s.fvol1);
    floats("cooling_rate", s.jctn1);
    floats("fatigue_life", s.fatigue);
    floats("pressure", s.p1);
    floats("mushy_strain", s.mushy);
    std::fprintf(o, "<DataArray type=\"Float32\" Name=\"velocity\" NumberOfComponents=\"3\" "
                    "format=\"ascii\">\n");
    for (size_t i = 0; i < n; ++i)
        std::fprintf(o, "%.9g %.9g %.9g\n", double(s.u1[i]), double(s.v1[i]), double(s.w1[i]));
    std::fprintf(o, "</DataArray>\n");
    auto doubles = [&](const std::string &name, const double *v) {
        std::fprintf(o, "<DataArray type=\"Float64\" Name=\"%s\" format=\"ascii\">\n",
                     name.c_str());
        for (size_t i = 0; i < n; ++i)
            std::fprintf(o, "%.12g\n", std::isfinite(v[i]) ? v[i] : 0.0);
        std::fprintf(o, "</DataArray>\n");
    };
    for (int c = 0; c < kNumConstituents; ++c)
        doubles(kConstituents[c], &s.micro[static_cast<size_t>(c) * n]);
    for (int a = 0; a < kNumAuxiliaries; ++a)
        doubles(kAuxiliaries[a], &s.aux[static_cast<size_t>(a) * n]);
    // Entry points; non-finite values are written as 0 and flagged.
    for (const Outcome *e : evaluated) {
        const double *v = &e->result.values[static_cast<size_t>(s.step - 1) * n];
        doubles(fieldName(*e), v);
        if (!e->nonFinite) continue;
        std::fprintf(o, "<DataArray type=\"UInt8\" Name=\"%s_finite\" format=\"ascii\">\n",
                     fieldName(*e).c_str());
        for (size_t i = 0; i < n; ++i)
            std::fprintf(o, "%d\n", std::isfinite(v[i]) ? 1 : 0);
        std::fprintf(o, "</DataArray>\n");
    }
    std::fprintf(o, "</PointData>\n<CellData Scalars=\"material\">\n"
                    "<DataArray type=\"Int32\" Name=\"material\" format=\"ascii\">\n");
    for (size_t e = 0; e < ne; ++e)
        std::fprintf(o, "%d\n", s.matId[e] + 1);
    std::fprintf(o, "</DataArray>\n</CellData>\n<Points>\n"
                    "<DataArray type=\"Float64\" NumberOfComponents=\"3\" format=\"ascii\">\n");
    for (size_t i = 0; i < n; ++i)
        std::fprintf(o, "%.12g %.12g %.12g\n", s.x[i], s.y[i], s.z[i]);
    std::fprintf(o, "</DataArray>\n</Points>\n<Cells>\n"
                    "<DataArray type=\"Int64\" Name=\"connectivity\" format=\"ascii\">\n");
    for (size_t e = 0; e < ne; ++e) {
        const int *c = &s.conn[e * 8];
        std::fprintf(o, "%d %d %d %d %d %d %d %d\n", c[0], c[1], c[2], c[3], c[4], c[5], c[6],
                     c[7]);
    }
    std::fprintf(o, "</DataArray>\n<DataArray type=\"Int64\" Name=\"offsets\" format=\"ascii\">\n");
    for (size_t e = 0; e < ne; ++e)
        std::fprintf(o, "%zu\n", (e + 1) * 8);
    std::fprintf(o, "</DataArray>\n<DataArray type=\"UInt8\" Name=\"types\" format=\"ascii\">\n");
    for (size_t e = 0; e < ne; ++e)
        std::fprintf(o, "12\n");
    std::fprintf(o, "</DataArray>\n</Cells>\n</Piece>\n</UnstructuredGrid>\n</VTKFile>\n");
}

// One gnuplot run for every plot; a missing gnuplot is a note, not an error.
// At most about 6000 points per plot, taken evenly from the rows.
std::string makePlots(const fs::path &dir, const std::vector<const Outcome *> &evaluated) {
    if (evaluated.empty()) return "";
    const size_t rows = evaluated.front()->result.values.size();
    const size_t every = rows / 6000 + 1;
    const fs::path script = dir / "plots.gp";
    {
        File f = openFile(script);
        if (!f) return "cannot write " + script.string() + "\n";
        std::fprintf(f.get(),
                     "set terminal svg size 800,560 dynamic noenhanced background rgb 'white'\n"
                     "set datafile separator ','\nset grid\nset key off\n"
                     "set xlabel 'temperature (K)'\nset cblabel 'time step'\n");
        for (const Outcome *e : evaluated) {
            std::string label = e->result.mechName.empty()
                                    ? "value (user unit)"
                                    : e->result.mechName + " (" + e->result.mechUnit + ")";
            std::fprintf(f.get(),
                         "set output %s\nset title %s\nset ylabel %s\n"
                         "plot %s skip 1 every %zu using 6:8:1 with points pt 7 ps 0.4 palette\n",
                         gnuplotQuoted((dir / (e->name + ".svg")).string()).c_str(),
                         gnuplotQuoted("func_" + e->name + " against temperature").c_str(),
                         gnuplotQuoted(label).c_str(),
                         gnuplotQuoted((dir / (e->name + ".csv")).string()).c_str(), every);
        }
    }
    platform::RunResult r = platform::runCaptured({"gnuplot", script.string()});
    if (!r.started) return "gnuplot not found (" + r.error + "): no plots made\n";
    if (!r.exited || r.status != 0) return "gnuplot failed: some plots may be missing\n";
    return "plots: " + (dir / "*.svg").string() + "\n";
}

} // namespace

// Steps in the outer loop: the sample is rebuilt once per step and every
// entry point's rows of that step are appended to its CSV.
std::string writeOutputs(const Options &o, Sample &s, const std::vector<Outcome> &outcomes,
                         const std::string &summary) {
    const fs::path dir = fs::absolute(o.output);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return "cannot create " + dir.string() + ": " + ec.message() + "\n";
    std::vector<const Outcome *> evaluated;
    std::vector<File> csv;
    for (const Outcome &e : outcomes) {
        if (!e.hasValues() || e.result.values.empty()) continue;
        evaluated.push_back(&e);
        csv.push_back(openFile(dir / (e.name + ".csv")));
        if (csv.back()) std::fprintf(csv.back().get(), "step,node,x_cm,y_cm,z_cm,T_K,fs,value\n");
    }
    const size_t n = static_cast<size_t>(s.nnod);
    File pvd = openFile(dir / "run.pvd");
    if (pvd)
        std::fprintf(pvd.get(), "<?xml version=\"1.0\"?>\n<VTKFile type=\"Collection\" "
                                "version=\"0.1\">\n<Collection>\n");
    for (int step = 1; step <= o.steps; ++step) {
        s.setStep(step);
        for (size_t k = 0; k < evaluated.size(); ++k) {
            FILE *f = csv[k].get();
            if (!f) continue;
            const double *v = &evaluated[k]->result.values[static_cast<size_t>(step - 1) * n];
            for (size_t i = 0; i < n; ++i)
                std::fprintf(f, "%d,%zu,%.17g,%.17g,%.17g,%.9g,%.9g,%.17g\n", step, i + 1, s.x[i],
                             s.y[i], s.z[i], double(s.t1[i]), double(s.fs1[i]), v[i]);
        }
        char name[32];
        std::snprintf(name, sizeof name, "step_%04d.vtu", step);
        writeVtu(dir / name, s, evaluated);
        if (pvd)
            std::fprintf(pvd.get(), "<DataSet timestep=\"%g\" part=\"0\" file=\"%s\"/>\n",
                         s.time(step), name);
    }
    if (pvd) std::fprintf(pvd.get(), "</Collection>\n</VTKFile>\n");
    csv.clear();
    if (File f = openFile(dir / "summary.txt")) std::fputs(summary.c_str(), f.get());
    std::string notes = "results: " + dir.string() + " (CSV per entry point, run.pvd with " +
                        std::to_string(o.steps) + " VTU files, summary.txt)\n";
    if (o.plots) notes += makePlots(dir, evaluated);
    return notes;
}

} // namespace vhost

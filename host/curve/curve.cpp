// curve.cpp - the path a curve evaluates, from the command line or a table,
// and the command that runs the entry points along it.
#include "curve/curve.h"

#include "curve/path_source.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "model/materials.h"
#include "include/vulmora/getVar.h"
#include "platform/exit_status.h"
#include "worker/worker.h"

namespace vhost {

namespace {

// `v` as the user may have written it.
std::string number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", v);
    return buf;
}

// A named value of --scheil, or `fallback`.
double scheilValue(const CurveSettings &o, const char *name, double fallback, bool temperature,
                   const std::function<double(double)> &kelvin) {
    for (const auto &[n, v] : o.scheil)
        if (n == name) return temperature ? kelvin(v) : v;
    return fallback;
}

// The solid fraction of every point by the rule of --fs and the alloy; the
// liquidus, solidus and eutectic marked on the plots are the rule's.
bool applyRule(const CurveSettings &o, const Alloy &alloy,
               const std::function<double(double)> &kelvin, Path &p, std::string &error) {
    std::vector<double> &fs = p.values[column::fs1];
    const std::vector<double> &T = p.values[column::t1];
    fs.resize(T.size());
    p.liquidus = alloy.liquidus, p.solidus = alloy.freezingEnd(), p.eutectic = alloy.eutectic;
    if (o.fsRule == CurveSettings::FsRule::Scheil) {
        const double k = scheilValue(o, "k", alloy.k, false, kelvin);
        const double tm = scheilValue(o, "tm", alloy.tm, true, kelvin);
        const double tl = scheilValue(o, "tl", alloy.liquidus, true, kelvin);
        if (!(tl < tm)) return error = "--scheil: tl must lie below tm", false;
        if (!(alloy.freezingEnd() < tl))
            return error = alloy.eutectic > 0 ? "--scheil: tl must lie above the eutectic"
                                              : "--scheil: tl must lie above the solidus",
                   false;
        for (size_t i = 0; i < T.size(); ++i)
            fs[i] = alloy.scheilFraction(T[i], k, tm, tl);
        p.liquidus = tl;
        return true;
    }
    for (size_t i = 0; i < T.size(); ++i)
        fs[i] = alloy.leverFraction(T[i]);
    return true;
}

// The lowest all-liquid and the highest all-solid temperature of a path
// whose solid fraction was given, when it has such points; else the
// alloy's.
void markFreezingRange(Path &p, const Alloy &alloy) {
    p.liquidus = alloy.liquidus, p.solidus = alloy.freezingEnd(), p.eutectic = alloy.eutectic;
    double liquid = INFINITY, solid = -INFINITY;
    for (size_t i = 0; i < p.points(); ++i) {
        const double T = p.at(column::t1, i), fs = p.at(column::fs1, i);
        if (fs <= 1e-12) liquid = std::min(liquid, T);
        if (fs >= 1 - 1e-12) solid = std::max(solid, T);
    }
    if (std::isfinite(liquid)) p.liquidus = liquid;
    if (std::isfinite(solid)) p.solidus = solid;
}

// The temperatures of the path: the table's, the single point's, or N
// evenly spaced from --from to --to.
bool pathTemperatures(const CurveSettings &o, const Alloy &alloy, int userTemp,
                      const KelvinFn &kelvin, Path &p, std::vector<bool> &given,
                      std::string &error) {
    const auto user = [&](double t) { return kelvin(userTemp, t); };
    if (!o.table.empty()) return loadPathTable(o.table, userTemp, kelvin, p, given, error);
    if (!o.at.empty()) {
        for (const auto &[name, v] : o.at) {
            const size_t c = findColumn(name);
            p.values[c] = {isTemperatureColumn(c) ? user(v) : v};
            given[c] = true;
            if (const std::string why = pathValueProblem(c, p.values[c][0]); !why.empty())
                return error = "--at " + name + "=" + number(v) + ": " + why, false;
        }
        if (!given[column::t1]) return error = "--at needs the temperature: T=VALUE", false;
        return true;
    }
    const double from = o.fromGiven ? user(o.from) : alloy.pour;
    const double to = o.toGiven ? user(o.to) : alloy.end;
    if (!(from > 0) || !(to > 0)) return error = "--from/--to: below absolute zero", false;
    const size_t n = static_cast<size_t>(o.points);
    std::vector<double> &T = p.values[column::t1];
    T.resize(n);
    for (size_t i = 0; i < n; ++i)
        T[i] = from + (to - from) * static_cast<double>(i) / static_cast<double>(n - 1);
    given[column::t1] = true;
    return true;
}

} // namespace

bool buildPath(const CurveSettings &o, const Alloy &alloy, const UnitConverter &units, Path &p,
               std::string &error) {
    const int userTemp = units.units().temp;
    const KelvinFn kelvin = [&](int sel, double t) {
        Units u = units.units();
        u.temp = sel;
        return units.under(u).toInternal(VULMORA_QTY_TEMPERATURE, t);
    };
    std::vector<bool> given(column::kCount, false);
    if (!pathTemperatures(o, alloy, userTemp, kelvin, p, given, error)) return false;
    const size_t n = p.points();
    for (const auto &[name, v] : o.sets) {
        const size_t c = findColumn(name);
        p.values[c].assign(n, isTemperatureColumn(c) ? kelvin(userTemp, v) : v);
        if (const std::string why = pathValueProblem(c, p.values[c].front()); !why.empty())
            return error = "--set " + name + "=" + number(v) + ": " + why, false;
        given[c] = true;
    }
    if (given[column::fs1])
        markFreezingRange(p, alloy);
    else if (!applyRule(
                 o, alloy, [&](double t) { return kelvin(userTemp, t); }, p, error))
        return false;
    p.given = given;
    given[column::fs1] = true;
    completePath(p, given, 1.0, alloy);
    return true;
}

std::string derivedNote(const CurveSettings &c, const Path &p, const Alloy &alloy,
                        const UnitConverter &units) {
    if ((c.table.empty() && c.at.empty()) || p.given.size() != column::kCount) return "";
    const auto left = [&](std::initializer_list<size_t> columns) {
        return std::any_of(columns.begin(), columns.end(), [&](size_t k) { return !p.given[k]; });
    };
    const auto anyLeft = [&](size_t first, size_t end) {
        for (size_t k = first; k < end; ++k)
            if (!p.given[k]) return true;
        return false;
    };
    const char *unit = temperatureUnitName(units.units().temp);
    const auto temperature = [&](double kelvin) {
        return number(units.toUser(VULMORA_QTY_TEMPERATURE, kelvin)) + " " + unit;
    };
    std::vector<std::string> parts;
    if (left({column::fs1}) && c.fsRule == CurveSettings::FsRule::Scheil) {
        std::string k = number(alloy.k);
        for (const auto &[name, v] : c.scheil)
            if (name == "k") k = number(v);
        parts.push_back("fs by Scheil's rule (k " + k + ", liquidus " + temperature(p.liquidus) +
                        ")");
    } else if (left({column::fs1})) {
        parts.push_back("fs by the alloy's lever rule (liquidus " + temperature(p.liquidus) +
                        (p.eutectic > 0 ? ", eutectic " + temperature(p.eutectic)
                                        : ", solidus " + temperature(p.solidus)) +
                        ")");
    }
    if (left({column::t0, column::fs0}))
        parts.push_back(c.table.empty() ? "t0, fs0 the point's own"
                                        : "t0, fs0 from the previous row");
    if (left({column::jctn1})) parts.push_back("jctn1 1 K/s");
    if (anyLeft(column::kConstituents, column::kCoordinates))
        parts.push_back("microstructure from fs and jctn1");
    if (left({column::vf_s1, column::f_vol1})) parts.push_back("no porosity");
    if (parts.empty()) return "";
    std::string note = "note: ";
    for (size_t k = 0; k < parts.size(); ++k)
        note += (k ? "; " : "") + parts[k];
    return note + "\n";
}

int runCurve(const CurveSettings &c, RunSettings run, const RunServices &services) {
    const UnitConverter units(services.convert, run.sample.units);
    Path path;
    std::string error;
    if (!buildPath(c, run.sample.alloy, units, path, error)) return fail(ExitStatus::Usage, error);
    SampleConfig &config = run.sample; // a grid holding the path, its one step
    config.pathPoints = static_cast<int>(path.points());
    config.nodesPerSide = pathSide(path.points());
    config.steps = 1;
    config.materials = material::kCasting;
    if (c.node) {
        if (size_t(c.node) > path.points())
            return fail(ExitStatus::Usage,
                        "--node: the path has only " + std::to_string(path.points()) + " points");
        return runNodeCall({config, run.functions, c.node, 1}, &path);
    }
    run.checks.path = true;
    if (!c.at.empty()) run.output.write = false, run.pointValues = true;
    const char *unit = temperatureUnitName(config.units.temp);
    const double first = units.toUser(VULMORA_QTY_TEMPERATURE, path.at(column::t1, 0));
    const double last =
        units.toUser(VULMORA_QTY_TEMPERATURE, path.at(column::t1, path.points() - 1));
    char line[512];
    if (path.points() == 1)
        std::snprintf(line, sizeof line, "point: T = %.6g %s\n", first, unit);
    else
        std::snprintf(line, sizeof line, "path: %zu points, %.6g to %.6g %s\n", path.points(),
                      first, last, unit);
    std::string header = line + derivedNote(c, path, run.sample.alloy, units);
    const double lastFs = path.at(column::fs1, path.points() - 1);
    if (path.points() > 1 && lastFs < 1) {
        std::snprintf(line, sizeof line,
                      "note: the path ends at fs = %.3g, before the casting is all solid\n",
                      lastFs);
        header += line;
    }
    const PathRun along{path, header};
    return runAll(run, services, &along);
}

} // namespace vhost

// compare.cpp - reading a reference run, comparing with it.
#include "checks/compare.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <span>
#include <sstream>

#include "model/caller.h"
#include "model/entries.h"
#include "model/path.h"
#include "output/report.h"
#include "model/sample.h"
#include "platform/numbers.h"
#include "include/vulmora/getVar.h"
#include "model/alloy.h"

namespace vhost {

namespace fs = std::filesystem;

namespace {

constexpr uintmax_t kMaxDescription = 64 * 1024;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Selector k of the list's order.
int *selectors(Units &u, size_t k) {
    return k < kNumSelectors ? &(u.*kUnitSelectors[k].member) : nullptr;
}

} // namespace

bool readReferenceDescription(const std::string &dir, Reference &ref, std::string &error) {
    ref.dir = dir;
    const fs::path path = fs::path(dir) / "run.txt";
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        // A test of the user's build names the target that saves its reference.
        const char *maker = std::getenv("VULMORA_REFERENCE_TARGET");
        error = "--compare " + dir + ": no such folder";
        if (maker && *maker)
            error += std::string(" (no reference saved yet: build the target ") + maker +
                     " to save one)";
        return false;
    }
    const uintmax_t size = fs::file_size(path, ec);
    if (ec || !fs::is_regular_file(path, ec))
        return error = "--compare " + dir +
                       ": no run.txt (not the output folder of a run of this version)",
               false;
    if (size > kMaxDescription) return error = path.string() + ": too large", false;
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) return error = path.string() + ": cannot be read", false;
    if (!parseRunDescription(text, ref.run, error)) {
        error = path.string() + ": " + error;
        return false;
    }
    return true;
}

namespace {

// The alloy of a history line of run.txt (read when it was loaded).
Alloy historyAlloy(const std::string &history) {
    Alloy a;
    std::string ignored;
    readAlloy(
        history, [](double t) { return t; }, a, ignored);
    return a;
}

// The histories' differences, key by key; a saved run from before the
// history was kept had the old fixed one.
void historyDifferences(const RunDescription &ref, const RunDescription &cur,
                        std::vector<std::string> &d) {
    if (ref.history == cur.history) return;
    if (ref.history.empty()) {
        d.push_back("history: reference the old default (poured at 973 K into a mould at 573 K, "
                    "180 s), this run " +
                    historyLine(historyAlloy(cur.history), UnitConverter()).substr(9));
        return;
    }
    const Alloy a = historyAlloy(ref.history), b = historyAlloy(cur.history);
    for (const AlloyKey &key : kAlloyKeys) {
        if (a.*key.member == b.*key.member) continue;
        const char *unit = key.temperature ? " K" : key.member == &Alloy::time ? " s" : "";
        char line[160];
        std::snprintf(line, sizeof line, "history (%s): reference %.6g%s, this run %.6g%s",
                      key.name, a.*key.member, unit, b.*key.member, unit);
        d.push_back(line);
    }
}

} // namespace

std::vector<std::string> shapeDifferences(const RunDescription &ref, const RunDescription &cur) {
    std::vector<std::string> d;
    auto differ = [&](const std::string &what, const std::string &a, const std::string &b) {
        if (a != b) d.push_back(std::string(what) + ": reference " + a + ", this run " + b);
    };
    if (ref.path.empty() && cur.path.empty()) { // a path's grid follows from its points
        differ("nodes per side", std::to_string(ref.nodesPerSide),
               std::to_string(cur.nodesPerSide));
        differ("steps", std::to_string(ref.steps), std::to_string(cur.steps));
    }
    differ("materials", std::to_string(ref.materials), std::to_string(cur.materials));
    char a[32], b[32];
    std::snprintf(a, sizeof a, "%.17g", ref.stressScale);
    std::snprintf(b, sizeof b, "%.17g", cur.stressScale);
    differ("stress scale", a, b);
    differ("temperature table", ref.tempTable ? "yes" : "no", cur.tempTable ? "yes" : "no");
    differ("path", ref.path.empty() ? "none (the sample casting)" : ref.path,
           cur.path.empty() ? "none (the sample casting)" : cur.path);
    Units ru = ref.units, cu = cur.units;
    for (size_t k = 0; k < kNumSelectors; ++k)
        differ((std::string(kUnitSelectors[k].label) + " unit").c_str(),
               "selector " + std::to_string(*selectors(ru, k)),
               "selector " + std::to_string(*selectors(cu, k)));
    historyDifferences(ref, cur, d);
    return d;
}

bool loadReferenceValues(Reference &ref, const std::vector<std::string> &names,
                         std::string &error) {
    const uint64_t n = uint64_t(ref.run.nodesPerSide) * uint64_t(ref.run.nodesPerSide) *
                       uint64_t(ref.run.nodesPerSide) * uint64_t(ref.run.steps);
    for (const std::string &name : names) {
        if (std::find(ref.run.entries.begin(), ref.run.entries.end(), name) ==
            ref.run.entries.end())
            continue;
        const fs::path path = fs::path(ref.dir) / (name + ".values");
        std::error_code ec;
        const uintmax_t size = fs::file_size(path, ec);
        if (ec || !fs::is_regular_file(path, ec)) return error = path.string() + ": missing", false;
        if (size != n * 8)
            return error = path.string() + ": " + std::to_string(size) + " bytes, not the " +
                           std::to_string(n * 8) + " its run.txt gives",
                   false;
        std::ifstream in(path, std::ios::binary);
        std::vector<unsigned char> raw(static_cast<size_t>(n * 8));
        if (!in.read(reinterpret_cast<char *>(raw.data()),
                     static_cast<std::streamsize>(raw.size())))
            return error = path.string() + ": cannot be read", false;
        std::vector<double> v(static_cast<size_t>(n));
        for (size_t i = 0; i < v.size(); ++i) {
            uint64_t bits = 0;
            for (size_t b = 0; b < 8; ++b)
                bits |= uint64_t(raw[i * 8 + b]) << (8 * b);
            std::memcpy(&v[i], &bits, sizeof bits);
        }
        ref.loaded.push_back(name);
        ref.values.push_back(std::move(v));
    }
    return true;
}

bool Comparison::failed() const {
    if (!shape.empty()) return true;
    for (const EntryComparison &e : entries)
        if (e.verdict == EntryComparison::Differs || e.verdict == EntryComparison::NotEvaluated ||
            e.verdict == EntryComparison::OnlyInReference)
            return true;
    return false;
}

namespace {

// |a - b| over the larger magnitude: 0 when both are 0, NaN when either
// is not finite (no scale to measure by).
double relativeDifference(double a, double b) {
    if (!std::isfinite(a) || !std::isfinite(b)) return kNaN;
    const double scale = std::max(std::fabs(a), std::fabs(b));
    return scale > 0 ? std::fabs(a - b) / scale : 0.0;
}

// One entry point, value by value over the evaluated nodes.
void compareValues(EntryComparison &c, std::span<const double> cur, std::span<const double> ref,
                   const std::vector<uint8_t> &nodeMaterial, const Tolerance &tol) {
    const size_t n = nodeMaterial.size();
    c.difference.assign(cur.size(), kNaN);
    double worstExcess = -1;
    for (size_t k = 0; k < cur.size(); ++k) {
        if (!nodeMaterial[k % n]) continue;
        const double a = cur[k], b = ref[k];
        uint64_t ba, bb;
        std::memcpy(&ba, &a, 8);
        std::memcpy(&bb, &b, 8);
        const bool same = ba == bb || (std::isnan(a) && std::isnan(b));
        c.difference[k] = same ? 0.0 : a - b;
        if (same) continue;
        ++c.differing;
        const double diff = std::fabs(a - b);
        const double allowed = tol.atol + tol.rtol * std::max(std::fabs(a), std::fabs(b));
        // A value that is not finite on one side only (or infinite with
        // the other sign) is beyond any tolerance: the relative one would
        // take an infinity for its own scale.
        const bool finite = std::isfinite(a) && std::isfinite(b);
        const bool beyond = !finite || !(diff <= allowed);
        c.beyond += beyond;
        // The place reported: the worst excess over the tolerance (the
        // first value that is not finite before any other).
        const double excess = !finite ? std::numeric_limits<double>::infinity()
                                      : (allowed > 0 ? diff / allowed : diff);
        if (excess > worstExcess || c.node == 0) {
            worstExcess = excess;
            c.largest = diff;
            c.relative = relativeDifference(a, b);
            c.node = static_cast<int>(k % n) + 1;
            c.step = static_cast<int>(k / n) + 1;
            c.value = a, c.reference = b;
        }
    }
    c.verdict = c.beyond      ? EntryComparison::Differs
                : c.differing ? EntryComparison::Within
                              : EntryComparison::Same;
}

} // namespace

Comparison compareRuns(const Reference &ref, const RunDescription &cur,
                       const std::vector<Outcome> &outcomes,
                       const std::vector<uint8_t> &nodeMaterial, const Tolerance &tol) {
    Comparison c;
    c.build = buildRecordChanges(ref.run.build, cur.build);
    c.shape = shapeDifferences(ref.run, cur);
    if (!c.shape.empty()) return c;
    auto has = [](const std::vector<std::string> &v, const std::string &s) {
        return std::find(v.begin(), v.end(), s) != v.end();
    };
    for (const Outcome &o : outcomes) {
        if (o.name == "externalcompute") continue;
        const bool inRef = has(ref.run.entries, o.name);
        const bool here = has(cur.entries, o.name);
        if (!inRef && !here) continue;
        EntryComparison e;
        e.name = o.name;
        if (!inRef) {
            e.verdict = EntryComparison::OnlyHere;
        } else if (!here) {
            e.verdict = EntryComparison::NotEvaluated;
        } else {
            const size_t k = static_cast<size_t>(
                std::find(ref.loaded.begin(), ref.loaded.end(), o.name) - ref.loaded.begin());
            if (k == ref.loaded.size()) continue; // not loaded: cannot happen after a load
            compareValues(e, o.result.values, ref.values[k], nodeMaterial, tol);
        }
        c.entries.push_back(std::move(e));
    }
    for (const std::string &name : ref.run.entries) {
        bool seen = false;
        for (const Outcome &o : outcomes)
            seen = seen || o.name == name;
        if (!seen) {
            EntryComparison e;
            e.name = name;
            e.verdict = EntryComparison::OnlyInReference;
            c.entries.push_back(std::move(e));
        }
    }
    return c;
}

namespace {
// The report's line of one entry point; a difference beyond the tolerance
// comes with the sample's fields where it is largest.
std::string entryLine(const EntryComparison &e, Sample &sample, const UnitConverter &units) {
    const std::string name = "func_" + e.name;
    char buf[512];
    switch (e.verdict) {
    case EntryComparison::Same:
        std::snprintf(buf, sizeof buf, "  %-30s same\n", name.c_str());
        return buf;
    case EntryComparison::Within:
    case EntryComparison::Differs: {
        char where[96];
        if (const Path *p = sample.path(); p && size_t(e.node) <= p->points())
            std::snprintf(
                where, sizeof where, "point %d (%.6g %s)", e.node,
                units.toUser(VULMORA_QTY_TEMPERATURE, p->at(column::t1, size_t(e.node - 1))),
                temperatureUnitName(units.units().temp));
        else
            std::snprintf(where, sizeof where, "node %d, step %d", e.node, e.step);
        std::snprintf(buf, sizeof buf,
                      "  %-30s %s: %lld values not identical, %lld beyond the tolerance; the "
                      "largest at %s: %.17g, reference %.17g (difference %.3g, relative %.3g)\n",
                      name.c_str(),
                      e.verdict == EntryComparison::Differs ? "DIFFERS" : "within tolerance",
                      static_cast<long long>(e.differing), static_cast<long long>(e.beyond), where,
                      e.value, e.reference, e.largest, e.relative);
        if (e.verdict != EntryComparison::Differs) return buf;
        sample.setStep(e.step);
        return buf + ("    the fields there:\n" + describeNode(sample, e.node, nullptr, false));
    }
    case EntryComparison::OnlyHere:
        std::snprintf(buf, sizeof buf,
                      "  %-30s only in this run (the reference has no values of it)\n",
                      name.c_str());
        return buf;
    case EntryComparison::OnlyInReference:
        std::snprintf(buf, sizeof buf,
                      "  %-30s DIFFERS: only in the reference (not evaluated in this run)\n",
                      name.c_str());
        return buf;
    case EntryComparison::NotEvaluated:
        std::snprintf(buf, sizeof buf,
                      "  %-30s DIFFERS: the reference has values, this run has none (it "
                      "failed or is a placeholder)\n",
                      name.c_str());
        return buf;
    }
    return "";
}
} // namespace

// The comparison as text: the runs' shape differences, or the tolerance and
// a line per entry point.
std::string comparisonReport(const Comparison &c, const Reference &ref, const Tolerance &tol,
                             Sample &sample, const UnitConverter &units) {
    std::string t = "Comparison with " + ref.dir + " (" + ref.run.library + ", vulmora-host " +
                    ref.run.version + "):\n";
    if (!c.build.empty()) {
        t += "  note: the library was built from other sources or otherwise than the "
             "reference's:\n";
        for (const std::string &s : c.build)
            t += "    " + s + "\n";
    }
    if (!c.shape.empty()) {
        t += "  the runs differ in shape, so no values were compared:\n";
        for (const std::string &s : c.shape)
            t += "    " + s + "\n";
        const char *maker = std::getenv("VULMORA_REFERENCE_TARGET");
        if (maker && *maker)
            t += std::string("  to make this run the reference: build the target ") + maker + "\n";
        else
            t += "  to make this run the reference: run it again with --output " + ref.dir +
                 " in place of --compare\n";
        return t;
    }
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  "  tolerance: |value - reference| <= %g + %g x max(|value|, |reference|)\n",
                  tol.atol, tol.rtol);
    t += buf;
    for (const EntryComparison &e : c.entries)
        t += entryLine(e, sample, units);
    return t;
}

} // namespace vhost

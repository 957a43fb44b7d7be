// saved_run.cpp - run.txt, the description an output folder keeps of its
// run, written and read back, and the exact values beside it.
#include "output/saved_run.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "model/alloy.h"
#include "model/entries.h"
#include "model/path.h"
#include "platform/files.h"
#include "model/materials.h"
#include "platform/numbers.h"

namespace vhost {

namespace {

constexpr const char *kFirstLine = "vulmora-host run 1";

std::string version() {
    return std::to_string(VULMORA_VERSION_MAJOR) + "." + std::to_string(VULMORA_VERSION_MINOR) +
           "." + std::to_string(VULMORA_VERSION_PATCH);
}

// Selector k of the list's order, for writing and reading alike.
int *selectors(Units &u, size_t k) {
    return k < kNumSelectors ? &(u.*kUnitSelectors[k].member) : nullptr;
}

} // namespace

std::string pathIdentity(const Path &p) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (const std::vector<double> &c : p.values)
        h = platform::fnv1a(c.data(), c.size() * sizeof(double), h);
    char buf[160];
    const size_t n = p.points();
    std::snprintf(buf, sizeof buf, "%zu points from %.17g K to %.17g K, fnv1a %016llx", n,
                  n ? p.at(column::t1, 0) : 0.0, n ? p.at(column::t1, n - 1) : 0.0,
                  static_cast<unsigned long long>(h));
    return buf;
}

RunDescription describeRun(const SampleConfig &o, const LibraryIdentity &library,
                           const std::vector<Outcome> &outcomes, const Path *path) {
    RunDescription d;
    d.version = version();
    d.library = o.library;
    d.libraryFile = library.file;
    d.build = library.record;
    d.nodesPerSide = o.nodesPerSide;
    d.steps = o.steps;
    d.materials = o.materials;
    d.stressScale = o.stressScale;
    d.tempTable = o.tempTable;
    d.units = o.units;
    d.history = alloyText(o.alloy);
    if (path) d.path = pathIdentity(*path);
    for (const Outcome &e : outcomes)
        if (e.hasValues() && !e.result.values.empty()) d.entries.push_back(e.name);
    return d;
}

std::string runDescriptionText(const RunDescription &d) {
    std::string t = std::string(kFirstLine) + "\n";
    char buf[64];
    t += "version " + d.version + "\n";
    t += "library " + d.library + "\n";
    if (!d.libraryFile.empty()) t += "library-file " + d.libraryFile + "\n";
    std::istringstream build(d.build.text);
    for (std::string line; std::getline(build, line);)
        t += "build " + line + "\n";
    t += "nodes-per-side " + std::to_string(d.nodesPerSide) + "\n";
    t += "steps " + std::to_string(d.steps) + "\n";
    t += "materials " + std::to_string(d.materials) + "\n";
    std::snprintf(buf, sizeof buf, "stress-scale %.17g\n", d.stressScale);
    t += buf;
    t += std::string("temp-table ") + (d.tempTable ? "1" : "0") + "\n";
    Units u = d.units;
    t += "units";
    for (size_t k = 0; k < kNumSelectors; ++k)
        t += " " + std::to_string(*selectors(u, k));
    t += "\n";
    if (!d.history.empty()) t += "history " + d.history + "\n";
    if (!d.path.empty()) t += "path " + d.path + "\n";
    for (const std::string &e : d.entries)
        t += "entry " + e + "\n";
    return t;
}

namespace {

// The selectors of a "units" line, in the list's order.
std::string readUnits(const std::string &value, RunDescription &d) {
    std::istringstream w(value);
    std::string s;
    size_t k = 0;
    const std::string wrong = "units must be " + std::to_string(kNumSelectors) +
                              " selectors from " + std::to_string(kMinSelector) + " to " +
                              std::to_string(kMaxSelector);
    while (w >> s) {
        int *slot = selectors(d.units, k++);
        if (!slot || !parseInt(s, kMinSelector, kMaxSelector, *slot)) return wrong;
    }
    return k == kNumSelectors ? "" : wrong;
}

// An "entry" line: a known entry point, named once.
std::string readEntry(const std::string &value, RunDescription &d) {
    const EntryPoint *e = findEntryPoint(value);
    if (!e || value != e->name) return "unknown entry point '" + value + "'";
    if (std::find(d.entries.begin(), d.entries.end(), value) != d.entries.end())
        return "entry point " + value + " given twice";
    d.entries.push_back(value);
    return "";
}

// A whole number in [lo, hi] into `out`, else `why`.
std::string readInt(const std::string &value, int lo, int hi, int &out, const char *why) {
    return parseInt(value, lo, hi, out) ? "" : why;
}

// A line of run.txt: its key, how often it may stand there, and how its
// value is read (the reason it is wrong, or "").
struct DescriptionKey {
    const char *key;
    enum { Optional, Required, Repeated } times;
    std::string (*read)(const std::string &value, RunDescription &d);
};
using V = const std::string &;
using D = RunDescription &;
const DescriptionKey kKeys[] = {
    {"version", DescriptionKey::Optional, [](V v, D d) { return d.version = v, std::string(); }},
    {"library", DescriptionKey::Optional, [](V v, D d) { return d.library = v, std::string(); }},
    {"library-file", DescriptionKey::Optional,
     [](V v, D d) { return d.libraryFile = v, std::string(); }},
    {"nodes-per-side", DescriptionKey::Required,
     [](V v, D d) {
         return readInt(v, 4, 1000, d.nodesPerSide, "nodes-per-side must be 4 to 1000");
     }},
    {"steps", DescriptionKey::Required,
     [](V v, D d) { return readInt(v, 1, 100000, d.steps, "steps must be 1 to 100000"); }},
    {"materials", DescriptionKey::Required,
     [](V v, D d) {
         return readInt(v, 1, material::kAll, d.materials, "materials must be 1 to 3");
     }},
    {"stress-scale", DescriptionKey::Required,
     [](V v, D d) {
         return std::string(parseFinite(v, d.stressScale) ? ""
                                                          : "stress-scale must be a finite number");
     }},
    {"temp-table", DescriptionKey::Required,
     [](V v, D d) {
         d.tempTable = v == "1";
         return std::string(v == "0" || v == "1" ? "" : "temp-table must be 0 or 1");
     }},
    {"units", DescriptionKey::Required, readUnits},
    {"history", DescriptionKey::Optional,
     [](V v, D d) {
         Alloy a;
         std::string error;
         if (!readAlloy(
                 v, [](double t) { return t; }, a, error))
             return "history: " + error;
         return d.history = alloyText(a), std::string();
     }},
    {"path", DescriptionKey::Optional, [](V v, D d) { return d.path = v, std::string(); }},
    // The library's build record, a line of it each (parsed once all are read).
    {"build", DescriptionKey::Repeated,
     [](V v, D d) { return d.build.text += v + "\n", std::string(); }},
    {"entry", DescriptionKey::Repeated, readEntry},
};

} // namespace

bool parseRunDescription(const std::string &text, RunDescription &d, std::string &error) {
    d = RunDescription{};
    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    bool seen[std::size(kKeys)] = {};
    auto bad = [&](const std::string &why) {
        error = "line " + std::to_string(lineNo) + ": " + why;
        return false;
    };
    while (std::getline(in, line)) {
        if (++lineNo == 1) {
            if (line != kFirstLine) return bad("not the description of a vulmora-host run");
            continue;
        }
        const size_t sp = line.find(' ');
        const std::string key = line.substr(0, sp);
        const std::string value = sp == std::string::npos ? "" : line.substr(sp + 1);
        size_t k = 0;
        while (k < std::size(kKeys) && key != kKeys[k].key)
            ++k;
        if (k == std::size(kKeys)) return bad("unknown key '" + key.substr(0, 40) + "'");
        if (seen[k] && kKeys[k].times != DescriptionKey::Repeated) return bad(key + " given twice");
        seen[k] = true;
        if (const std::string why = kKeys[k].read(value, d); !why.empty()) return bad(why);
    }
    if (lineNo == 0) return error = "empty", false;
    if (!d.build.empty() && !parseBuildRecord(d.build.text, d.build))
        return error = "its build lines are no build record", false;
    for (size_t k = 0; k < std::size(kKeys); ++k)
        if (kKeys[k].times == DescriptionKey::Required && !seen[k])
            return error = "incomplete (no nodes-per-side, steps, materials, "
                           "stress-scale, temp-table or units line)",
                   false;
    return true;
}

std::string valuesBytes(std::span<const double> v) {
    std::string raw(v.size() * 8, '\0');
    for (size_t i = 0; i < v.size(); ++i) {
        uint64_t bits;
        std::memcpy(&bits, &v[i], sizeof bits);
        for (size_t b = 0; b < 8; ++b)
            raw[i * 8 + b] = static_cast<char>(static_cast<unsigned char>(bits >> (8 * b)));
    }
    return raw;
}

} // namespace vhost

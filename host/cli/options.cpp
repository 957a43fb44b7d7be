// options.cpp - reading the command line with the rows of option_table.cpp,
// and the arguments a worker is given.
#include "cli/options.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/numbers.h"
#include "cli/option_table.h"
#include "model/entries.h"
#include "model/path.h"

namespace vhost {

// Index (1-based) of `s` in `names`, 0 when absent.
int selectorOf(const std::string &s, std::initializer_list<const char *> names) {
    int k = 1;
    for (const char *n : names) {
        if (s == n) return k;
        ++k;
    }
    return 0;
}

// The selector variable of QUANTITY in --unit QUANTITY=SELECTOR (by name or code).
int *unitSlot(Units &u, const std::string &q) {
    const UnitSelector *s = findUnitSelector(q);
    return s ? &(u.*s->member) : nullptr;
}

namespace {

// Call `item` with each comma-separated item of `list`, empty ones
// included; false as soon as it returns false.
bool eachItem(const std::string &list, const std::function<bool(const std::string &)> &item) {
    size_t start = 0;
    for (;;) {
        const size_t comma = list.find(',', start);
        if (!item(list.substr(start, comma == std::string::npos ? comma : comma - start)))
            return false;
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

// Levenshtein distance between `a` and `b`: the fewest insertions,
// deletions and substitutions that make one the other.
size_t editDistance(const std::string &a, const std::string &b) {
    std::vector<size_t> prev(b.size() + 1), cur(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        prev[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        cur[0] = i;
        for (size_t j = 1; j <= b.size(); ++j)
            cur[j] = std::min(
                {prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
        std::swap(prev, cur);
    }
    return prev[b.size()];
}

// ": did you mean NAME?" for the entry point nearest to `name` (without
// func_), when a typing slip away (at most 3 edits, and fewer than half
// its letters); else nothing.
std::string suggestion(std::string name) {
    if (name.rfind("func_", 0) == 0) name = name.substr(5);
    const char *best = nullptr;
    size_t bestDistance = 4;
    for (const EntryPoint &e : kEntryPoints) {
        const size_t d = editDistance(name, e.name);
        if (d < bestDistance && 2 * d < std::string(e.name).size()) best = e.name, bestDistance = d;
    }
    return best ? std::string(": did you mean ") + best + "?" : std::string();
}

} // namespace

// Split a comma-separated list of entry names; false on an unknown name.
bool parseFunctions(const std::string &list, std::vector<std::string> &out, std::string &error) {
    const bool known = eachItem(list, [&](const std::string &name) {
        if (name.empty()) return true;
        const EntryPoint *e = findEntryPoint(name);
        if (!e) {
            error = "unknown entry point '" + name + "'" + suggestion(name) + " (see --help)";
            return false;
        }
        // Once each: two workers of one entry point would share a result file.
        if (std::find(out.begin(), out.end(), e->name) == out.end()) out.push_back(e->name);
        return true;
    });
    if (known && out.empty()) error = "--functions needs at least one entry point";
    return known && !out.empty();
}

// --materials: "all", or a comma-separated list of 1 (the casting) and 2
// (the mould).
bool parseMaterials(const std::string &list, int &mask, std::string &error) {
    mask = list == "all" ? material::kAll : 0;
    if (mask) return true;
    return eachItem(list, [&](const std::string &item) {
        int m = 0;
        if (!parseInt(item, 1, material::kCount, m)) {
            error = "--materials takes all, or 1 (the casting) and 2 (the mould): '" + list + "'";
            return false;
        }
        mask |= material::bit(m);
        return true;
    });
}

// --write-steps: "all", "last", or a comma-separated list of steps.
bool parseWriteSteps(const std::string &list, int steps, std::vector<uint8_t> &written,
                     std::string &error) {
    written.assign(static_cast<size_t>(steps), 0);
    if (list == "all") {
        written.clear();
        return true;
    }
    if (list == "last") {
        written.back() = 1;
        return true;
    }
    return eachItem(list, [&](const std::string &item) {
        int s = 0;
        if (!parseInt(item, 1, steps, s)) {
            error = "--write-steps takes all, last or steps from 1 to " + std::to_string(steps) +
                    ": '" + list + "'";
            return false;
        }
        written[static_cast<size_t>(s - 1)] = 1;
        return true;
    });
}

namespace {

// A number with every digit, so it reads back as the same double.
std::string exactly(double x) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", x);
    return buf;
}

// NAME=VALUE,... of `pairs`.
std::string pairList(const std::vector<std::pair<std::string, double>> &pairs) {
    std::string list;
    for (const auto &[name, v] : pairs)
        list += (list.empty() ? "" : ",") + name + "=" + exactly(v);
    return list;
}

} // namespace

std::vector<std::string> pathArguments(const Options &options) {
    const CurveSettings &o = options.path;
    std::vector<std::string> w = {"curve", "--unit",
                                  "temp=" + std::to_string(options.run.sample.units.temp)};
    if (o.fromGiven) w.insert(w.end(), {"--from", exactly(o.from)});
    if (o.toGiven) w.insert(w.end(), {"--to", exactly(o.to)});
    if (o.points != CurveSettings{}.points)
        w.insert(w.end(), {"--points", std::to_string(o.points)});
    const char *rules[] = {"lever", "scheil", "model"};
    if (o.fsRule != CurveSettings::FsRule::Lever)
        w.insert(w.end(), {"--fs", rules[static_cast<int>(o.fsRule)]});
    if (!o.scheil.empty()) w.insert(w.end(), {"--scheil", pairList(o.scheil)});
    if (!o.table.empty()) w.insert(w.end(), {"--table", o.table});
    for (const auto &set : o.sets)
        w.insert(w.end(), {"--set", pairList({set})});
    if (!o.at.empty()) w.insert(w.end(), {"--at", pairList(o.at)});
    return w;
}

std::string parsePairs(const std::string &arg, const char *option, PairKnown known,
                       std::vector<std::pair<std::string, double>> &out) {
    std::string error;
    eachItem(arg, [&](const std::string &item) {
        const size_t eq = item.find('=');
        std::string name = item.substr(0, eq);
        double v = 0;
        if (eq == item.npos || !parseFinite(item.substr(eq + 1), v))
            error = std::string(option) + " takes NAME=NUMBER: '" + item + "'";
        else if (!known(name, v))
            error = std::string(option) + ": unknown name or value in '" + item + "'";
        else if (std::any_of(out.begin(), out.end(),
                             [&](const auto &p) { return p.first == name; }))
            error = std::string(option) + ": " + name + " given twice ('" + item + "')";
        if (!error.empty()) return false;
        out.emplace_back(name, v);
        return true;
    });
    return error;
}

bool pathColumn(std::string &name, double) {
    const size_t c = findColumn(name);
    if (c == column::kCount) return false;
    name = columnName(c);
    return true;
}

namespace {

// True when the options so far are those of a replay (or of its worker).
bool inReplay(const Options &o) {
    return !o.replayFile.empty() || !o.replayWorker.empty();
}

// The row of the option `word` at position `i` of the command line;
// nullptr when no option of that name may stand there.
const OptionRow *optionAt(const std::string &word, int i, const Options &o) {
    const OptionRow *row = findOption(word);
    if (!row) return nullptr;
    switch (row->place) {
    case OptionPlace::First:
        return i == 1 ? row : nullptr;
    case OptionPlace::Replay:
        return inReplay(o) ? row : nullptr;
    case OptionPlace::Curve:
        return o.curve ? row : nullptr;
    case OptionPlace::Anywhere:
        break;
    }
    return row;
}

// Why `word` is no option where it stands: an option of a command given
// without it, a command not first, or no option at all.
std::string misplaced(const std::string &word) {
    const OptionRow *row = findOption(word);
    switch (row ? row->place : OptionPlace::Anywhere) {
    case OptionPlace::Curve:
        return "'" + word + "' is an option of curve: vulmora-host curve " + word + " ...";
    case OptionPlace::Replay:
        return "'" + word + "' is an option of replay: vulmora-host replay FILE " + word;
    case OptionPlace::First:
        return "'" + word + "' is a command: it comes first (vulmora-host " + word + " ...)";
    case OptionPlace::Anywhere:
        break;
    }
    return "unknown option '" + word + "' (see --help)";
}

// What a curve's options must satisfy together: one source of the path,
// and none of the sample casting's own commands (--node N is the path's
// point N, checked once the path is made).
bool curveTogether(const Options &o, std::string &error) {
    const CurveSettings &p = o.path;
    if (!p.table.empty() && !p.at.empty())
        return error = "--table and --at exclude each other", false;
    if (o.callStep || !o.saveState.empty())
        return error = "curve evaluates a path: --step and --save-state are the sample's", false;
    if (o.callNode && o.run.functions.empty())
        return error = "--node needs --functions NAME", false;
    if (o.run.checks.cost)
        return error = "curve: --check-cost takes the sample casting's runs", false;
    if (o.run.checks.numbering)
        return error = "curve: --check-numbering takes the sample casting's runs", false;
    if (p.fromGiven && p.toGiven && p.from == p.to)
        return error = "--from and --to must differ", false;
    return true;
}

// What the options must satisfy together, once all are read.
bool checkTogether(const Options &o, std::string &error) {
    if (inReplay(o)) {
        if (o.run.functions.size() > 1) return error = "replay takes one entry point", false;
        return true; // the node is one of the state's, checked against it
    }
    if (o.curve) return curveTogether(o, error);
    if ((o.callNode != 0) != (o.callStep != 0) && (o.saveState.empty() || o.callNode != 0))
        return error = "--node and --step go together", false;
    const SampleConfig &s = o.run.sample;
    if (o.callNode > s.nnod())
        return error = "--node: the sample has only " + std::to_string(s.nnod()) + " nodes", false;
    if (o.callStep > s.steps)
        return error = "--step: the run has only " + std::to_string(s.steps) + " steps", false;
    return true;
}

} // namespace

// One option at a time, each read by its row; an option with an argument
// takes the next word. Late rows are read at the end, with their last
// argument.
bool parseOptions(int argc, char **argv, Options &o, std::string &error) {
    std::vector<std::pair<const OptionRow *, std::string>> late;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        const OptionRow *row = optionAt(word, i, o);
        if (!row) return error = misplaced(word), false;
        std::string arg;
        if (row->arg) {
            if (i + 1 >= argc) return error = word + " needs " + row->needs, false;
            arg = argv[++i];
        }
        if (row->late) {
            auto same = [&](const auto &l) { return l.first == row; };
            std::erase_if(late, same);
            late.emplace_back(row, arg);
            continue;
        }
        if (!(error = row->set(o, arg, *row)).empty()) return false;
    }
    for (const auto &[row, arg] : late)
        if (!(error = row->set(o, arg, *row)).empty()) return false;
    return checkTogether(o, error);
}

// Everything that decides the sample and the exchange block: the rows a
// worker is given.
std::vector<std::string> sampleArguments(const SampleConfig &s) {
    std::vector<std::string> words;
    for (const OptionRow &row : optionTable())
        if (row.forward) row.forward(s, words, row);
    return words;
}

bool applyAlloy(Options &o, UnitConverter::Convert convert, std::string &error) {
    if (o.alloy.empty()) return true;
    const UnitConverter units(convert, o.run.sample.units);
    const auto toKelvin = [&](double t) { return units.toInternal(VULMORA_QTY_TEMPERATURE, t); };
    std::string text = o.alloy, where = "--alloy: ";
    if (o.alloy.find('=') == std::string::npos) {
        platform::FileImage file;
        if (!platform::loadFileImage(o.alloy, file, error))
            return error = "--alloy " + o.alloy + ": " + error, false;
        text.assign(reinterpret_cast<const char *>(file.data), file.size);
        platform::freeFileImage(file);
        where = "--alloy " + o.alloy + ": ";
        if (text.size() > 65536) return error = where + "larger than 64 KiB", false;
    }
    Alloy &alloy = o.run.sample.alloy;
    if (!readAlloy(text, toKelvin, alloy, error)) return error = where + error, false;
    if (const std::string why = alloyProblem(alloy, units); !why.empty())
        return error = where + why, false;
    return true;
}

WorkerSettings workerSettings(const Options &o) {
    return {o.run.sample, o.worker, o.resultFile, o.orderSeed, o.renumberSeed, o.rounding};
}

DiagnoseSettings diagnoseSettings(const Options &o) {
    return {o.run.sample, o.worker, o.resultFile, o.diagnoseNode, o.diagnoseStep};
}

ReplaySettings replaySettings(const Options &o) {
    ReplaySettings r;
    r.file = o.replayWorker.empty() ? o.replayFile : o.replayWorker;
    r.library = o.run.sample.library;
    if (!o.run.functions.empty()) r.entry = o.run.functions.front();
    r.node = o.callNode;
    r.inProcess = o.inProcess;
    r.allNodes = o.allNodes;
    r.output = o.run.output;
    r.resultFile = o.resultFile;
    return r;
}

} // namespace vhost

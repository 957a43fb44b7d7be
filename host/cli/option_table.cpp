// option_table.cpp - the rows of the command line: one per option, with
// what it does to the options and what a worker is given of it.
#include "cli/option_table.h"
#include "cli/option_kinds.h"

#include <cstdio>

#include "platform/numbers.h"
#include "model/entries.h"

namespace vhost {

namespace {

using namespace option_kinds;

// ---- what an option does to the options ----------------------------------------

// --time-limit: seconds from 0 (no limit) to 1e6.
std::string setTimeLimit(Options &o, const std::string &arg, const OptionRow &) {
    double t = 0;
    if (!parseNumber(arg, t) || t < 0 || t > 1e6)
        return "--time-limit: not a number of seconds from 0 to 1e6: " + arg;
    o.run.sample.timeLimit = t;
    return {};
}

// --stress-scale: any finite number.
std::string setStressScale(Options &o, const std::string &arg, const OptionRow &) {
    if (!parseFinite(arg, o.run.sample.stressScale))
        return "--stress-scale: not a finite number: " + arg;
    return {};
}

// --temp by the unit's name.
std::string setTemp(Options &o, const std::string &arg, const OptionRow &) {
    int &temp = o.run.sample.units.temp;
    temp = selectorOf(arg, {"K", "C", "F", "R"});
    return temp ? "" : "--temp takes K, C, F or R";
}

// --length by the unit's name.
std::string setLength(Options &o, const std::string &arg, const OptionRow &) {
    int &coor = o.run.sample.units.coor;
    coor = selectorOf(arg, {"m", "cm", "mm", "ft", "in"});
    return coor ? "" : "--length takes m, cm, mm, ft or in";
}

// --unit QUANTITY=SEL: the raw selector of one quantity.
std::string setUnit(Options &o, const std::string &arg, const OptionRow &) {
    const size_t eq = arg.find('=');
    int *slot = eq == std::string::npos ? nullptr : unitSlot(o.run.sample.units, arg.substr(0, eq));
    if (!slot) return "--unit: unknown quantity in '" + arg + "'";
    if (!parseInt(arg.substr(eq + 1), 1, 10, *slot))
        return "--unit: the selector in '" + arg + "' must be 1 to 10";
    return {};
}

// --functions: more entry points to evaluate.
std::string setFunctions(Options &o, const std::string &arg, const OptionRow &) {
    std::string error;
    if (!parseFunctions(arg, o.run.functions, error)) return error;
    o.run.functionsGiven = true;
    return {};
}

// --materials LIST.
std::string setMaterials(Options &o, const std::string &arg, const OptionRow &) {
    std::string error;
    parseMaterials(arg, o.run.sample.materials, error);
    return error;
}

// --write-steps LIST, read once --steps is known; "" leaves every step written.
std::string setWriteSteps(Options &o, const std::string &arg, const OptionRow &) {
    std::string error;
    if (!arg.empty()) parseWriteSteps(arg, o.run.sample.steps, o.run.output.steps, error);
    return error;
}

// --expect NAME=LO:HI: one more range to check.
// NAME is an entry point, or a user property's own name (name_mechprop),
// which only the run finds out.
std::string setExpect(Options &o, const std::string &arg, const OptionRow &) {
    const size_t eq = arg.find('='), colon = arg.find(':', eq == std::string::npos ? 0 : eq);
    const std::string name = arg.substr(0, eq == std::string::npos ? 0 : eq);
    const EntryPoint *e = findEntryPoint(name);
    if (name.empty() || colon == std::string::npos)
        return "--expect takes NAME=LO:HI with NAME an entry point or a user property's name: '" +
               arg + "'";
    Expectation x{e ? e->name : name, 0, 0};
    if (!parseNumber(arg.substr(eq + 1, colon - eq - 1), x.lo) ||
        !parseNumber(arg.substr(colon + 1), x.hi) || x.lo > x.hi)
        return "--expect " + arg + ": LO and HI must be numbers, LO <= HI";
    o.run.checks.expect.push_back(x);
    return {};
}

// --expect-kink T,fs=F,...: temperatures (user's unit) and solid fractions
// where a path's properties may kink.
std::string setExpectKink(Options &o, const std::string &arg, const OptionRow &row) {
    CheckSettings &c = o.run.checks;
    for (size_t start = 0; start <= arg.size();) {
        const size_t stop = std::min(arg.find(',', start), arg.size());
        const std::string item = arg.substr(start, stop - start);
        start = stop + 1;
        const bool fraction = item.rfind("fs=", 0) == 0;
        double v = 0;
        if (!parseFinite(fraction ? item.substr(3) : item, v) || (fraction && !(v >= 0 && v <= 1)))
            return std::string(row.name) +
                   " takes temperatures and fs=F (0 to 1), comma-separated: '" + item + "'";
        (fraction ? c.kinkFractions : c.kinkTemperatures).push_back(v);
    }
    return {};
}

// --alloy-kelvin KEY=VALUE,...: a worker's alloy, every temperature in Kelvin.
std::string setAlloyKelvin(Options &o, const std::string &arg, const OptionRow &row) {
    std::string error;
    if (!readAlloy(
            arg, [](double t) { return t; }, o.run.sample.alloy, error))
        return std::string(row.name) + ": " + error;
    return {};
}

// A checking worker's rounding mode, by its word.
std::string setRounding(Options &o, const std::string &arg, const OptionRow &row) {
    if (!roundingOfWord(arg, o.rounding))
        return std::string(row.name) + " takes nearest, upward, downward or toward-zero";
    return {};
}

// A diagnostic worker's call: NODE:STEP, or "every" call.
std::string setDiagnose(Options &o, const std::string &arg, const OptionRow &row) {
    o.diagnose = true;
    if (arg == "every") return o.diagnoseNode = o.diagnoseStep = 0, std::string();
    const size_t colon = arg.find(':');
    if (colon == std::string::npos || !parseInt(arg.substr(0, colon), 1, 1 << 30, o.diagnoseNode) ||
        !parseInt(arg.substr(colon + 1), 1, 1 << 30, o.diagnoseStep))
        return std::string(row.name) + " takes NODE:STEP or every";
    return {};
}

// --fs by the rule's name.
std::string setFsRule(Options &o, const std::string &arg, const OptionRow &) {
    const int rule = selectorOf(arg, {"lever", "scheil", "model"});
    if (!rule) return "--fs takes lever, scheil or model";
    o.path.fsRule = static_cast<CurveSettings::FsRule>(rule - 1);
    return {};
}

// --scheil k=K,tm=TM,tl=TL: 0 < k < 1, temperatures any.
std::string setScheil(Options &o, const std::string &arg, const OptionRow &row) {
    auto known = [](std::string &n, double v) {
        return (n == "k" && v > 0 && v < 1) || n == "tm" || n == "tl";
    };
    std::string error = parsePairs(arg, row.name, known, o.path.scheil);
    if (!error.empty()) error += " (k from 0 to 1 exclusive, tm, tl)";
    return error;
}

// --set NAME=VALUE: one more column fixed along the path.
std::string setColumn(Options &o, const std::string &arg, const OptionRow &row) {
    if (arg.find(',') != arg.npos) return "--set takes one NAME=VALUE: '" + arg + "'";
    return parsePairs(arg, row.name, pathColumn, o.path.sets);
}

// --at NAME=VALUE,...: a single point.
std::string setAt(Options &o, const std::string &arg, const OptionRow &row) {
    return parsePairs(arg, row.name, pathColumn, o.path.at);
}

// ---- what a worker is given of an option ------------------------------------------

// --stress-scale with every digit, so the worker's value is the same double.
void giveStressScale(const SampleConfig &o, std::vector<std::string> &words, const OptionRow &row) {
    char scale[64];
    std::snprintf(scale, sizeof scale, "%.17g", o.stressScale);
    words.insert(words.end(), {row.name, scale});
}

// --time-limit with every digit: the survey's first calls keep it too.
void giveTimeLimit(const SampleConfig &o, std::vector<std::string> &words, const OptionRow &row) {
    char limit[64];
    std::snprintf(limit, sizeof limit, "%.17g", o.timeLimit);
    words.insert(words.end(), {row.name, limit});
}

// The path's file and points, when there is a path.
void givePath(const SampleConfig &o, std::vector<std::string> &words, const OptionRow &) {
    if (o.pathFile.empty()) return;
    words.insert(words.end(), {"--path", o.pathFile});
    if (o.pathPoints > 0)
        words.insert(words.end(), {"--path-points", std::to_string(o.pathPoints)});
}

// The alloy in Kelvin with every digit, when it is not the sample's.
void giveAlloy(const SampleConfig &o, std::vector<std::string> &words, const OptionRow &row) {
    if (o.alloy != Alloy{}) words.insert(words.end(), {row.name, alloyText(o.alloy)});
}

// --materials as the list it was read from.
void giveMaterials(const SampleConfig &o, std::vector<std::string> &words, const OptionRow &row) {
    const char *list = o.materials == material::kAll     ? "all"
                       : o.materials == material::kMould ? "2"
                                                         : "1";
    words.insert(words.end(), {row.name, list});
}

// Every unit selector as --unit QUANTITY=SEL (--temp and --length included).
void giveUnits(const SampleConfig &o, std::vector<std::string> &words, const OptionRow &row) {
    for (const UnitSelector &s : kUnitSelectors)
        words.insert(words.end(),
                     {row.name, std::string(s.name) + "=" + std::to_string(o.units.*s.member)});
}

using enum HelpSection;
using O = Options;
using R = RunSettings;
using S = SampleConfig;
using C = CheckSettings;
using P = CurveSettings;
using Out = OutputSettings;

// clang-format off
const OptionRow kRows[] = {
    // ---- Library and entry points
    {.name = "--library", .arg = "PATH", .section = LibraryAndEntries,
     .help = "the user-function library to load (any library built\n"
             "with vulmora_add_user_library; default: the worked\n"
             "examples, libvulmora_examples)",
     .set = text<&O::run, &R::sample, &S::library>, .forward = giveText<&S::library>, .example = "/x/libu.so"},
    {.name = "--functions", .arg = "A,B,...", .section = LibraryAndEntries,
     .help = "entry points to evaluate, with or without func_\n"
             "(default: every entry point the library implements;\n"
             "placeholders are found by calling each once)",
     .set = setFunctions, .example = "func_yieldstress,density", .bad = ","},

    // ---- The sample casting
    {.name = "--nodes-per-side", .arg = "N", .section = SampleCasting,
     .help = "nodes along each edge of the cube mesh, N^3 nodes in\n"
             "all (default 17; at least 4)",
     .set = whole<4, 1000, &O::run, &R::sample, &S::nodesPerSide>,
     .forward = giveWhole<&S::nodesPerSide>,
     .example = "6", .bad = "3"},
    {.name = "--alloy", .arg = "FILE|LIST", .section = SampleCasting,
     .help = "the alloy and the process, as a file of key = value\n"
             "lines (# comments) or key=value,... : liquidus,\n"
             "solidus, eutectic (the remaining liquid freezes\n"
             "there), k (partition coefficient) and tm (the pure\n"
             "solvent's melting point) for Scheil, pour, mould\n"
             "(its initial temperature), end (default 20 °C),\n"
             "time (the history's length, s); temperatures in the\n"
             "unit of --temp; a key left out keeps the sample\n"
             "alloy's value (liquidus 888 K, solidus 833 K, pour\n"
             "973 K, mould 573 K, 3600 s). The sample's history\n"
             "and curve's paths follow it",
     .set = text<&O::alloy>, .example = "liquidus=615,solidus=555,pour=700"},
    {.name = "--steps", .arg = "S", .section = SampleCasting,
     .help = "time steps over the cooling history, from the pour to\n"
             "the alloy's end temperature (default 10)",
     .set = whole<1, 100000, &O::run, &R::sample, &S::steps>, .forward = giveWhole<&S::steps>, .example = "3",
     .bad = "0"},
    {.name = "--stress-scale", .arg = "X", .section = SampleCasting,
     .help = "value of stress_scale (default 1)",
     .set = setStressScale, .forward = giveStressScale,
     .example = "1.0000000000000002", .bad = "nan"}, // every digit reaches the worker
    {.name = "--no-temp-table", .section = SampleCasting,
     .help = "set func_temp to -9999: the properties have no\n"
             "temperature table (checkTempTable stops)",
     .set = flag<false, &O::run, &R::sample, &S::tempTable>,
     .forward = giveFlag<&S::tempTable, false>},
    {.name = "--fill-all", .section = SampleCasting,
     .help = "fill every host array before the calls of each\n"
             "step, as the solver does; by default a worker fills\n"
             "each array when user code first reads it, and an\n"
             "array handed unread to a system call (write(fd,\n"
             "t1, n)) then fails with EFAULT",
     .set = flag<true, &O::run, &R::sample, &S::fillAll>, .forward = giveFlag<&S::fillAll, true>},

    // ---- User units
    {.name = "--temp", .arg = "K|C|F|R", .section = UserUnits,
     .help = "temperature unit (default K)",
     .set = setTemp, .example = "F", .bad = "k"},
    {.name = "--length", .arg = "m|cm|mm|ft|in", .section = UserUnits,
     .help = "length unit (default cm)",
     .set = setLength, .example = "in", .bad = "CM"},
    {.name = "--unit", .arg = "QUANTITY=SEL", .section = UserUnits,
     .help = "raw selector 1..10 of a quantity: temp, coor,\n"
             "thermalconductivity, time, heatflux,\n"
             "heattransfercoeff, velocity, massflowrate (or the\n"
             "quantity code -1, 0, 3, 4, 6, 7, 8, 13); defaults are\n"
             "the CGS columns: 2, except time 1 (seconds)",
     .set = setUnit, .forward = giveUnits, .example = "13=9", .bad = "velocity=11"},

    // ---- Where and how long
    {.name = "--materials", .arg = "LIST", .section = WhereAndHowLong,
     .help = "materials whose nodes are evaluated: 1 the casting\n"
             "(default; its wall nodes included), 2 the mould,\n"
             "\"1,2\" or \"all\" (the solver calls a user property for\n"
             "the material it is assigned to)",
     .set = setMaterials, .forward = giveMaterials, .example = "2", .bad = "3"},
    {.name = "--time-limit", .arg = "S", .section = WhereAndHowLong,
     .help = "longest time in seconds one call of an entry point\n"
             "(or the loading of the library) may take; a call\n"
             "over it is killed and reported where it was\n"
             "(default 60; 0: no limit)",
     .set = setTimeLimit, .forward = giveTimeLimit, .example = "0.5", .bad = "-1"},

    // ---- Finding a fault
    {.name = "--node", .arg = "N", .section = FindingAFault,
     .help = "call the entry points of --functions once, at node N\n"
             "of step S, in this process (for a debugger), after\n"
             "printing everything the accessors read there (a stop\n"
             "ends the program)",
     .term = "--node N --step S",
     .set = whole<1, 1 << 30, &O::callNode>, .example = "9", .bad = "0"},
    {.name = "--step", .arg = "S", .section = FindingAFault,
     .set = whole<1, 100000, &O::callStep>, .example = "3", .bad = "0"},

    // ---- Checks
    {.name = "--compare", .arg = "DIR", .section = Checks,
     .help = "compare with the run saved in DIR (a previous\n"
             "--output folder): per entry point same, within\n"
             "tolerance or DIFFERS, with the largest difference,\n"
             "its node and step and the fields there; runs of\n"
             "another size, steps, materials or units, and entry\n"
             "points in one run only, are reported, not compared.\n"
             "The VTU files get a difference_func_<name> field",
     .set = folder<&O::run, &R::checks, &C::compare>, .example = "earlier", .bad = ""},
    {.name = "--rtol", .arg = "R", .section = Checks,
     .help = "the tolerance of --compare: |value - reference| <=\n"
             "A + R * max(|value|, |reference|) (default R 1e-6,\n"
             "A 0: the host's fields are 32-bit floats)",
     .term = "--rtol R, --atol A",
     .set = tolerance<&O::run, &R::checks, &C::rtol>, .example = "1e-3", .bad = "-1"},
    {.name = "--atol", .arg = "A", .section = Checks,
     .set = tolerance<&O::run, &R::checks, &C::atol>, .example = "0.5", .bad = "inf"},
    {.name = "--check-units", .section = Checks,
     .help = "evaluate again under other units (temperature K, C,\n"
             "F, R; length m, cm, mm, in; velocity; the unit of\n"
             "the quantity returned) and report a result that,\n"
             "converted to the host's units, changes",
     .set = flag<true, &O::run, &R::checks, &C::units>},
    {.name = "--check-order", .section = Checks,
     .help = "evaluate again visiting the nodes in a shuffled\n"
             "order, calling each node twice: any result not\n"
             "bit-identical shows hidden state (a static variable)",
     .set = flag<true, &O::run, &R::checks, &C::order>},
    {.name = "--check-numbering", .section = Checks,
     .help = "evaluate again with the nodes and elements numbered\n"
             "in another order: a result that differs at the same\n"
             "node shows an index mistake (node - 1, a fixed node\n"
             "number, an array kept in the old numbering)",
     .set = flag<true, &O::run, &R::checks, &C::numbering>},
    {.name = "--check-rounding", .section = Checks,
     .help = "evaluate again rounding upward, downward and toward\n"
             "zero: a result whose relative difference from the\n"
             "run to nearest exceeds --rounding-tol depends on its\n"
             "last bits (cancellation, a huge term)",
     .set = flag<true, &O::run, &R::checks, &C::rounding>},
    {.name = "--trap-fp", .section = Checks,
     .help = "evaluate again with floating-point traps on (invalid,\n"
             "division by zero, overflow): the first call of each\n"
             "entry point that raises one is named with the line\n"
             "that raised it, as a note (a NaN handled is no failure)",
     .set = flag<true, &O::run, &R::checks, &C::trapFp>},
    {.name = "--rounding-tol", .arg = "R", .section = Checks,
     .help = "the relative difference --check-rounding allows\n"
             "(default 1e-6)",
     .set = tolerance<&O::run, &R::checks, &C::roundingTol>, .example = "1e-9", .bad = "-1"},
    {.name = "--expect", .arg = "NAME=LO:HI", .section = Checks,
     .help = "report values of func_NAME outside LO..HI (repeatable);\n"
             "NAME may be a user property's own name (name_mechprop)",
     .set = setExpect, .example = "func_density=-inf:2.5", .bad = "density=2:1"},
    {.name = "--strict", .section = Checks,
     .help = "fail the run (exit status 1) on values outside the\n"
             "plausible range of their quantity (and, in curve, on\n"
             "jumps and kinks along the path); every run reports\n"
             "them, by default as warnings",
     .set = flag<true, &O::run, &R::checks, &C::strict>},
    {.name = "--expect-kink", .arg = "LIST", .section = Checks,
     .help = "T,fs=F,...: temperatures (user's unit) and solid\n"
             "fractions where a path's properties may kink, beyond\n"
             "its liquidus, solidus and eutectic (a coherency point,\n"
             "a table's breakpoints; repeatable)",
     .set = setExpectKink, .place = OptionPlace::Curve, .example = "598.5,fs=0.3",
     .bad = "fs=2"},
    {.name = "--check-cost", .section = Checks,
     .help = "time each entry point again on a mesh with half the\n"
             "nodes per side; a note when its time per call grows\n"
             "with the mesh (a search at every call)",
     .set = flag<true, &O::run, &R::checks, &C::cost>},

    // ---- Capture and replay
    {.name = "replay", .arg = "FILE", .section = CaptureAndReplay,
     .help = "load a state file written by a library's capture\n"
             "(VULMORA_CAPTURE) or by --save-state, call the captured\n"
             "entry point at the captured node in a worker (in this\n"
             "process with --in-process, e.g. under gdb --args) and\n"
             "report the outcome next to the captured one; a fixed\n"
             "library can be given with --library; --all-nodes\n"
             "also evaluates the entry point at every node of the\n"
             "state; a saved sample needs --functions NAME --node N",
     .term = "replay FILE [--library PATH] [--in-process] [--all-nodes]",
     .set = text<&O::replayFile>, .place = OptionPlace::First, .needs = "a state file",
     .example = "s.vstate"},
    {.name = "--in-process", .section = CaptureAndReplay,
     .set = flag<true, &O::inProcess>, .place = OptionPlace::Replay},
    {.name = "--all-nodes", .section = CaptureAndReplay,
     .set = flag<true, &O::allNodes>, .place = OptionPlace::Replay},
    {.name = "about", .arg = "LIBRARY", .section = CaptureAndReplay,
     .help = "print the build record the library carries (Vulmora\n"
             "version, compiler, build type, flags, each source's\n"
             "SHA-256), read from its file without loading it",
     .term = "about LIBRARY",
     .set = text<&O::aboutLibrary>, .place = OptionPlace::First, .needs = "a library file",
     .example = "libmyprops.so"},
    {.name = "--save-state", .arg = "FILE", .section = CaptureAndReplay,
     .help = "write the sample at --step S (default: the last step)\n"
             "as a state file and stop",
     .set = text<&O::saveState>, .example = "s.vstate"},

    // ---- Properties along a path
    {.name = "curve", .section = Curve,
     .help = "evaluate the entry points along a path of states\n"
             "(a temperature range, or a table) instead of the\n"
             "sample casting, as the solver calls them, each in a\n"
             "worker; writes curve.csv and an SVG per entry point\n"
             "(value and its derivative against temperature) and\n"
             "reports jumps, kinks, non-finite values and sign\n"
             "changes along the path",
     .term = "curve [OPTIONS]",
     .set = flag<true, &O::curve>, .place = OptionPlace::First},
    {.name = "--from", .arg = "T", .section = Curve,
     .help = "the path's temperatures, in the user's unit (default:\n"
             "the alloy's pouring temperature down to its end)",
     .term = "--from T, --to T",
     .set = temperature<&P::from, &P::fromGiven>, .place = OptionPlace::Curve, .example = "700",
     .bad = "warm"},
    {.name = "--to", .arg = "T", .section = Curve,
     .set = temperature<&P::to, &P::toGiven>, .place = OptionPlace::Curve, .example = "20",
     .bad = "inf"},
    {.name = "--points", .arg = "N", .section = Curve,
     .help = "points along the path, ends included (default 200)",
     .set = whole<2, 100000, &O::path, &P::points>, .place = OptionPlace::Curve, .example = "50",
     .bad = "1"},
    {.name = "--fs", .arg = "RULE", .section = Curve,
     .help = "the solid fraction along the path, by the alloy:\n"
             "lever, linear from liquidus to solidus (default);\n"
             "scheil, the Scheil path of --scheil; both all solid\n"
             "at the eutectic, or the solidus; model, the sample\n"
             "history's own (the lever rule)",
     .set = setFsRule, .place = OptionPlace::Curve, .example = "scheil", .bad = "Lever"},
    {.name = "--scheil", .arg = "LIST", .section = Curve,
     .help = "k=K,tm=TM,tl=TL: the Scheil path's partition\n"
             "coefficient, melting point of the pure solvent and\n"
             "liquidus (user's unit), any of them:\n"
             "fs = 1 - ((TM - T)/(TM - TL))^(1/(K - 1)); default\n"
             "the alloy's k, tm and liquidus (--alloy)",
     .set = setScheil, .place = OptionPlace::Curve, .example = "k=0.2,tl=610", .bad = "k=1"},
    {.name = "--table", .arg = "FILE", .section = Curve,
     .help = "the path as a CSV table: a header row naming the\n"
             "columns (temperature [°C], fs, constituents and\n"
             "auxiliary variables by name, any nodal field by its\n"
             "exchange name, host units but for temperatures), a\n"
             "row per point, temperatures strictly monotonic;\n"
             "what it leaves out follows from T and fs",
     .set = text<&O::path, &P::table>, .place = OptionPlace::Curve, .example = "scheil.csv"},
    {.name = "--set", .arg = "NAME=VALUE", .section = Curve,
     .help = "fix a field along the path (repeatable): fs1=0.3,\n"
             "jctn1=5 (cooling rate, K/s; default 1), SDAS=40",
     .set = setColumn, .place = OptionPlace::Curve, .example = "fs1=0.3", .bad = "nofield=1"},
    {.name = "--at", .arg = "LIST", .section = Curve,
     .help = "T=X,NAME=VALUE,...: a single point; prints each\n"
             "entry point's value there",
     .set = setAt, .place = OptionPlace::Curve, .example = "T=650,fs=0.3", .bad = "T=hot"},

    // ---- Output
    {.name = "--output", .arg = "DIR", .section = Output,
     .help = "folder for the results (default vulmora-out): one CSV\n"
             "per entry point, one VTK file per step with a .pvd\n"
             "collection, SVG plots of value against temperature,\n"
             "what each entry point printed, summary.txt. The run\n"
             "writes a new folder beside DIR and puts it in DIR's\n"
             "place only when complete; DIR must be a folder an\n"
             "earlier run wrote, an empty folder or new.",
     .set = folder<&O::run, &R::output, &Out::folder>, .example = "out/dir", .bad = ""},
    {.name = "--no-output", .section = Output,
     .help = "write no files",
     .set = flag<false, &O::run, &R::output, &Out::write>},
    {.name = "--write-steps", .arg = "LIST", .section = Output,
     .help = "steps whose values go into the CSV and VTU files:\n"
             "all (default), last, or a list such as 1,5,10",
     .set = setWriteSteps, .late = true, .example = "3,1", .bad = "11"},
    {.name = "--no-plots", .section = Output,
     .help = "make no plots (they need gnuplot)",
     .set = flag<false, &O::run, &R::output, &Out::plots>},
    {.name = "--jobs", .arg = "N", .section = Output,
     .help = "entry points evaluated at the same time (default 2)",
     .set = whole<1, 256, &O::run, &R::jobs>, .example = "7", .bad = "257"},
    {.name = "--quiet", .alias = "-q", .section = Output,
     .help = "print only problems and the final verdict",
     .set = flag<true, &O::run, &R::quiet>},
    {.name = "--version", .section = Output,
     .help = "the emulator's version",
     .set = flag<true, &O::version>},
    {.name = "--help", .alias = "-h", .section = Output,
     .help = "this text",
     .set = flag<true, &O::help>},

    // ---- The emulator's own: the workers it starts
    // The worker of one entry point ("survey", "externalcompute" or an entry
    // point), writing into its result file.
    {.name = "--worker", .arg = "NAME", .section = Hidden,
     .set = text<&O::worker>, .example = "density"},
    {.name = "--result", .arg = "FILE", .section = Hidden,
     .set = text<&O::resultFile>, .example = "r.bin"},
    // The checking worker of --check-order: its shuffle.
    {.name = "--order-seed", .arg = "N", .section = Hidden,
     .set = whole<1, 1 << 30, &O::orderSeed>, .example = "7", .bad = "0"},
    // The checking worker of --check-numbering: its other numbering.
    {.name = "--renumber-seed", .arg = "N", .section = Hidden,
     .set = whole<1, 1 << 30, &O::renumberSeed>, .example = "7", .bad = "0"},
    // A checking worker of --check-rounding: the mode of its calls.
    {.name = "--rounding-mode", .arg = "MODE", .section = Hidden,
     .set = setRounding, .example = "toward-zero", .bad = "up"},
    // The diagnostic worker: its call made again with traps on.
    {.name = "--diagnose", .arg = "NODE:STEP", .section = Hidden,
     .set = setDiagnose, .example = "7:2", .bad = "7"},
    // The path a worker evaluates (written by the parent) and its points.
    {.name = "--path", .arg = "FILE", .section = Hidden,
     .set = text<&O::run, &R::sample, &S::pathFile>, .forward = givePath, .example = "p.csv"},
    // The alloy of a worker's sample, in Kelvin.
    {.name = "--alloy-kelvin", .arg = "LIST", .section = Hidden,
     .set = setAlloyKelvin, .forward = giveAlloy, .example = "liquidus=900,pour=1000"},
    {.name = "--path-points", .arg = "N", .section = Hidden,
     .set = whole<1, 100000, &O::run, &R::sample, &S::pathPoints>, .example = "7", .bad = "0"},
    // The size in MiB of a worker's values from which they are taken out of
    // its file as it writes them (the tests' small runs take them too).
    {.name = "--take-values-from", .arg = "MIB", .section = Hidden,
     .set = whole<0, 1 << 20, &O::run, &R::takeValuesFrom>, .example = "0", .bad = "-1"},
    // The worker of a replay, on this state file.
    {.name = "--replay-worker", .arg = "FILE", .section = Hidden,
     .set = text<&O::replayWorker>, .example = "s.vstate"},
};
// clang-format on

} // namespace

// Every option, in the order of --help.
std::span<const OptionRow> optionTable() {
    return kRows;
}

// The row of `word`, by name or alias.
const OptionRow *findOption(const std::string &word) {
    for (const OptionRow &r : kRows)
        if (word == r.name || (r.alias && word == r.alias)) return &r;
    return nullptr;
}

} // namespace vhost

// options.cpp - parsing the command line.
#include "cli/options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "model/entries.h"

namespace vhost {

namespace {

// A whole decimal integer in [lo, hi].
bool parseInt(const std::string &s, int lo, int hi, int &out) {
    if (s.empty()) return false;
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(s.c_str(), &end, 10);
    if (*end || errno || v < lo || v > hi) return false;
    out = static_cast<int>(v);
    return true;
}

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

// Split a comma-separated list of entry names; false on an unknown name.
bool parseFunctions(const std::string &list, std::vector<std::string> &out, std::string &error) {
    const bool known = eachItem(list, [&](const std::string &name) {
        if (name.empty()) return true;
        const EntryPoint *e = findEntryPoint(name);
        if (!e) {
            error = "unknown entry point '" + name + "' (see --help)";
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
    mask = list == "all" ? 3 : 0;
    if (mask) return true;
    return eachItem(list, [&](const std::string &item) {
        int m = 0;
        if (!parseInt(item, 1, 2, m)) {
            error = "--materials takes all, or 1 (the casting) and 2 (the mould): '" + list + "'";
            return false;
        }
        mask |= 1 << (m - 1);
        return true;
    });
}

// --write-steps: "all", "last", or a comma-separated list of steps.
bool parseWriteSteps(const std::string &list, Options &o, std::string &error) {
    o.writeSteps.assign(static_cast<size_t>(o.steps), 0);
    if (list == "all") {
        o.writeSteps.clear();
        return true;
    }
    if (list == "last") {
        o.writeSteps.back() = 1;
        return true;
    }
    return eachItem(list, [&](const std::string &item) {
        int s = 0;
        if (!parseInt(item, 1, o.steps, s)) {
            error = "--write-steps takes all, last or steps from 1 to " + std::to_string(o.steps) +
                    ": '" + list + "'";
            return false;
        }
        o.writeSteps[static_cast<size_t>(s - 1)] = 1;
        return true;
    });
}

} // namespace

// One option at a time; every option that takes a value takes the next word.
bool parseOptions(int argc, char **argv, Options &o, std::string &error) {
    std::string writeSteps; // checked once the number of steps is known
    int first = 1;
    if (argc > 1 && std::strcmp(argv[1], "replay") == 0) {
        if (argc < 3) return error = "replay needs a state file", false;
        o.replayFile = argv[2];
        first = 3;
    }
    for (int i = first; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string &v) {
            if (i + 1 >= argc) {
                error = a + " needs a value";
                return false;
            }
            v = argv[++i];
            return true;
        };
        auto number = [&](int lo, int hi, int &out) {
            std::string v;
            if (!value(v)) return false;
            if (parseInt(v, lo, hi, out)) return true;
            error = a + ": '" + v + "' is not a whole number from " + std::to_string(lo) + " to " +
                    std::to_string(hi);
            return false;
        };
        std::string v;
        if (a == "-h" || a == "--help") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a == "--time-limit") {
            if (!value(v)) return false;
            char *end = nullptr;
            o.timeLimit = std::strtod(v.c_str(), &end);
            if (v.empty() || *end || !(o.timeLimit >= 0) || o.timeLimit > 1e6)
                return error = "--time-limit: not a number of seconds from 0 to 1e6: " + v, false;
        } else if (a == "--materials") {
            if (!value(v) || !parseMaterials(v, o.materials, error)) return false;
        } else if (a == "--library") {
            if (!value(o.library)) return false;
        } else if (a == "--functions") {
            if (!value(v) || !parseFunctions(v, o.functions, error)) return false;
            o.functionsGiven = true;
        } else if (a == "--nodes-per-side") {
            if (!number(4, 1000, o.nodesPerSide)) return false;
        } else if (a == "--steps") {
            if (!number(1, 100000, o.steps)) return false;
        } else if (a == "--jobs") {
            if (!number(1, 256, o.jobs)) return false;
        } else if (a == "--node") {
            if (!number(1, 1 << 30, o.probeNode)) return false;
        } else if (a == "--step") {
            if (!number(1, 100000, o.probeStep)) return false;
        } else if (a == "--temp") {
            if (!value(v)) return false;
            o.units.temp = selectorOf(v, {"K", "C", "F", "R"});
            if (!o.units.temp) return error = "--temp takes K, C, F or R", false;
        } else if (a == "--length") {
            if (!value(v)) return false;
            o.units.coor = selectorOf(v, {"m", "cm", "mm", "ft", "in"});
            if (!o.units.coor) return error = "--length takes m, cm, mm, ft or in", false;
        } else if (a == "--unit") {
            if (!value(v)) return false;
            size_t eq = v.find('=');
            int *slot = eq == std::string::npos ? nullptr : unitSlot(o.units, v.substr(0, eq));
            if (!slot) return error = "--unit: unknown quantity in '" + v + "'", false;
            if (!parseInt(v.substr(eq + 1), 1, 10, *slot))
                return error = "--unit: the selector in '" + v + "' must be 1 to 10", false;
        } else if (a == "--stress-scale") {
            if (!value(v)) return false;
            char *end = nullptr;
            o.stressScale = std::strtod(v.c_str(), &end);
            if (*end || v.empty() || !std::isfinite(o.stressScale))
                return error = "--stress-scale: not a finite number: " + v, false;
        } else if (a == "--fill-all") {
            o.fillAll = true;
        } else if (a == "--no-temp-table") {
            o.tempTable = false;
        } else if (a == "--output") {
            if (!value(o.output)) return false;
            if (o.output.empty()) return error = "--output needs a folder name", false;
        } else if (a == "--no-output") {
            o.writeOutput = false;
        } else if (a == "--write-steps") {
            if (!value(writeSteps)) return false;
        } else if (a == "--no-plots") {
            o.plots = false;
        } else if (a == "-q" || a == "--quiet") {
            o.quiet = true;
        } else if (a == "--compare") {
            if (!value(o.compare)) return false;
            if (o.compare.empty()) return error = "--compare needs a folder name", false;
        } else if (a == "--rtol" || a == "--atol") {
            if (!value(v)) return false;
            char *end = nullptr;
            const double t = std::strtod(v.c_str(), &end);
            if (v.empty() || *end || !(t >= 0) || !std::isfinite(t))
                return error = a + ": not a number from 0 up: " + v, false;
            (a == "--rtol" ? o.rtol : o.atol) = t;
        } else if (a == "--check-units") {
            o.checkUnits = true;
        } else if (a == "--check-order") {
            o.checkOrder = true;
        } else if (a == "--check-cost") {
            o.checkCost = true;
        } else if (a == "--expect") {
            if (!value(v)) return false;
            const size_t eq = v.find('='), colon = v.find(':', eq == std::string::npos ? 0 : eq);
            const EntryPoint *e =
                eq == std::string::npos ? nullptr : findEntryPoint(v.substr(0, eq));
            if (!e || colon == std::string::npos)
                return error = "--expect takes NAME=LO:HI with NAME an entry point: '" + v + "'",
                       false;
            const std::string lo = v.substr(eq + 1, colon - eq - 1), hi = v.substr(colon + 1);
            char *end1 = nullptr, *end2 = nullptr;
            Options::Expectation x{e->name, std::strtod(lo.c_str(), &end1),
                                   std::strtod(hi.c_str(), &end2)};
            if (lo.empty() || hi.empty() || *end1 || *end2 || std::isnan(x.lo) ||
                std::isnan(x.hi) || x.lo > x.hi)
                return error = "--expect " + v + ": LO and HI must be numbers, LO <= HI", false;
            o.expect.push_back(x);
        } else if (a == "--order-seed") {
            if (!number(1, 1 << 30, o.orderSeed)) return false;
        } else if (a == "--save-state") {
            if (!value(o.saveState)) return false;
        } else if (a == "--in-process" && (!o.replayFile.empty() || !o.replayWorker.empty())) {
            o.inProcess = true;
        } else if (a == "--all-nodes" && (!o.replayFile.empty() || !o.replayWorker.empty())) {
            o.allNodes = true;
        } else if (a == "--replay-worker") {
            if (!value(o.replayWorker)) return false;
        } else if (a == "--worker") {
            if (!value(o.worker)) return false;
        } else if (a == "--result") {
            if (!value(o.resultFile)) return false;
        } else {
            error = "unknown option '" + a + "' (see --help)";
            return false;
        }
    }
    if (!writeSteps.empty() && !parseWriteSteps(writeSteps, o, error)) return false;
    if (!o.replayFile.empty() || !o.replayWorker.empty()) {
        if (o.functions.size() > 1) return error = "replay takes one entry point", false;
        return true; // the node is one of the state's, checked against it
    }
    if ((o.probeNode != 0) != (o.probeStep != 0) && (o.saveState.empty() || o.probeNode != 0))
        return error = "--node and --step go together", false;
    if (o.probeNode > o.nodesPerSide * o.nodesPerSide * o.nodesPerSide)
        return error = "--node: the sample has only " +
                       std::to_string(o.nodesPerSide * o.nodesPerSide * o.nodesPerSide) + " nodes",
               false;
    if (o.probeStep > o.steps)
        return error = "--step: the run has only " + std::to_string(o.steps) + " steps", false;
    return true;
}

// Everything that decides the sample and the exchange block.
std::vector<std::string> sampleArguments(const Options &o) {
    const Units &u = o.units;
    char scale[64];
    std::snprintf(scale, sizeof scale, "%.17g", o.stressScale);
    std::vector<std::string> a = {
        "--library",        o.library,
        "--nodes-per-side", std::to_string(o.nodesPerSide),
        "--steps",          std::to_string(o.steps),
        "--stress-scale",   scale,
        "--materials",      o.materials == 3 ? "all" : o.materials == 2 ? "2" : "1"};
    const std::pair<const char *, int> sel[] = {{"temp", u.temp},
                                                {"coor", u.coor},
                                                {"thermalconductivity", u.thermalconductivity},
                                                {"time", u.time},
                                                {"heatflux", u.heatflux},
                                                {"heattransfercoeff", u.heattransfercoeff},
                                                {"velocity", u.velocity},
                                                {"massflowrate", u.massflowrate}};
    for (const auto &[q, s] : sel) {
        a.push_back("--unit");
        a.push_back(std::string(q) + "=" + std::to_string(s));
    }
    if (!o.tempTable) a.push_back("--no-temp-table");
    if (o.fillAll) a.push_back("--fill-all");
    return a;
}

// One help line per entry point of the list whose mode is `mode`.
#define VHOST_HELP_NODAL_NODAL(name) "    func_" #name "\n"
#define VHOST_HELP_NODAL_MECHANICAL(name)
#define VHOST_HELP_NODAL_STEP(name)
#define VHOST_HELP_MECHANICAL_NODAL(name)
#define VHOST_HELP_MECHANICAL_MECHANICAL(name) "    func_" #name "\n"
#define VHOST_HELP_MECHANICAL_STEP(name)
#define VHOST_HELP_NODAL(name, kind, mode) VHOST_HELP_NODAL_##mode(name)
#define VHOST_HELP_MECHANICAL(name, kind, mode) VHOST_HELP_MECHANICAL_##mode(name)
// clang-format off
#define VHOST_ENTRY_POINT_HELP                                                                     \
    "Entry points (declared in getVar.h)\n"                                                        \
    "  double func_<name>(int node), called in nodal mode at every node:\n"                       \
    VULMORA_ENTRY_POINTS(VHOST_HELP_NODAL)                                                         \
    "  double func_<name>(int node), called by the stress analysis (registration,\n"              \
    "  then local mode at every node):\n"                                                          \
    VULMORA_ENTRY_POINTS(VHOST_HELP_MECHANICAL)                                                    \
    "  void func_externalcompute(void *unused, int flag), once at the start of\n"                 \
    "    every step, flag = the number of steps done\n"
// clang-format on

const char *helpText() {
    return R"(Usage: vulmora-host [OPTIONS]

Runs a user-function library on a built-in sample casting, calling its entry
points exactly as the casting solver does, and reports what they return.
With no options it runs the worked examples built next to it.

Library and entry points
  --library PATH        the user-function library to load (any library built
                        with vulmora_add_user_library; default: the worked
                        examples, libvulmora_examples)
  --functions A,B,...   entry points to evaluate, with or without func_
                        (default: every entry point the library implements;
                        placeholders are found by calling each once)

The sample casting
  --nodes-per-side N    nodes along each edge of the cube mesh, N^3 nodes in
                        all (default 17; at least 4)
  --steps S             time steps over the 180 s cooling history (default 10)
  --stress-scale X      value of stress_scale (default 1)
  --no-temp-table       set func_temp to -9999: the properties have no
                        temperature table (checkTempTable stops)
  --fill-all            fill every host array before the calls of each
                        step, as the solver does; by default a worker fills
                        each array when user code first reads it, and an
                        array handed unread to a system call (write(fd,
                        t1, n)) then fails with EFAULT

User units (what the accessors return)
  --temp K|C|F|R        temperature unit (default K)
  --length m|cm|mm|ft|in   length unit (default cm)
  --unit QUANTITY=SEL   raw selector 1..10 of a quantity: temp, coor,
                        thermalconductivity, time, heatflux,
                        heattransfercoeff, velocity, massflowrate (or the
                        quantity code -1, 0, 3, 4, 6, 7, 8, 13); defaults are
                        the CGS columns: 2, except time 1 (seconds)

Where and how long
  --materials LIST      materials whose nodes are evaluated: 1 the casting
                        (default; its wall nodes included), 2 the mould,
                        "1,2" or "all" (the solver calls a user property for
                        the material it is assigned to)
  --time-limit S        longest time in seconds one call of an entry point
                        (or the loading of the library) may take; a call
                        over it is killed and reported where it was
                        (default 60; 0: no limit)

Finding a fault
  --node N --step S     call the entry points of --functions once, at node N
                        of step S, in this process (for a debugger), after
                        printing everything the accessors read there (a stop
                        ends the program)

Checks (each entry point that returned values; exit status 1 on a finding)
  --compare DIR         compare with the run saved in DIR (a previous
                        --output folder): per entry point same, within
                        tolerance or DIFFERS, with the largest difference,
                        its node and step and the fields there; runs of
                        another size, steps, materials or units, and entry
                        points in one run only, are reported, not compared.
                        The VTU files get a difference_func_<name> field
  --rtol R, --atol A    the tolerance of --compare: |value - reference| <=
                        A + R * max(|value|, |reference|) (default R 1e-6,
                        A 0: the host's fields are 32-bit floats)
  --check-units         evaluate again under other units (temperature K, C,
                        F, R; length m, cm, mm, in; velocity; the unit of
                        the quantity returned) and report a result that,
                        converted to the host's units, changes
  --check-order         evaluate again visiting the nodes in a shuffled
                        order, calling each node twice: any result not
                        bit-identical shows hidden state (a static variable)
  --expect NAME=LO:HI   report values of func_NAME outside LO..HI (repeatable)
  --check-cost          time each entry point again on a mesh with half the
                        nodes per side; a note when its time per call grows
                        with the mesh (a search at every call)

Capture and replay
  replay FILE [--library PATH] [--in-process] [--all-nodes]
                        load a state file written by a library's capture
                        (VULMORA_CAPTURE) or by --save-state, call the captured
                        entry point at the captured node in a worker (in this
                        process with --in-process, e.g. under gdb --args) and
                        report the outcome next to the captured one; a fixed
                        library can be given with --library; --all-nodes
                        also evaluates the entry point at every node of the
                        state; a saved sample needs --functions NAME --node N
  --save-state FILE     write the sample at --step S (default: the last step)
                        as a state file and stop

Output
  --output DIR          folder for the results (default vulmora-out): one CSV
                        per entry point, one VTK file per step with a .pvd
                        collection, SVG plots of value against temperature,
                        what each entry point printed, summary.txt. The run
                        writes a new folder beside DIR and puts it in DIR's
                        place only when complete; DIR must be a folder an
                        earlier run wrote, an empty folder or new.
  --no-output           write no files
  --write-steps LIST    steps whose values go into the CSV and VTU files:
                        all (default), last, or a list such as 1,5,10
  --no-plots            make no plots (they need gnuplot)
  --jobs N              entry points evaluated at the same time (default 2)
  -q, --quiet           print only problems and the final verdict
  --version             the emulator's version
  -h, --help            this text

Every entry point runs in a worker process of its own: the emulator never
runs user code itself (but with --node), and a crash, stop, hang or write
into the host's arrays ends only that worker and is reported.

Exit status of replay: 0 reproduced, 1 differs, 2 bad state file or
command line.

Exit status: 0 when every evaluated entry point returned finite values at
every node and every file was written; 1 when one stopped, crashed, timed
out, wrote into the host's arrays or returned NaN or an infinite value (or
was named with --functions and is a placeholder), when a check found a
problem or the comparison a difference, or when a result file could not
be written; 2 on a bad command line, a library that cannot be
loaded, an output folder that cannot be made or claimed, a run too large
for this machine, or a failure of the emulator itself; 130 or 143 when
interrupted by SIGINT or SIGTERM (nothing is written then).

)" VHOST_ENTRY_POINT_HELP;
}

} // namespace vhost

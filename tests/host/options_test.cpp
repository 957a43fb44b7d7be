// host_options_test.cpp - the emulator's command line: every option's
// effect on the options, every rejection with its message, the arguments
// handed to a worker, and the exit status of the program on bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "hostlib/host_run.h"
#include "platform/numbers.h"
#include "cli/option_table.h"
#include "cli/options.h"

using vhost::OptionPlace;
using vhost::OptionRow;
using vhost::Options;

namespace {

// Parse shell-free words (split on spaces) as the program's argv.
bool parse(const std::string &words, Options &o, std::string &error) {
    std::vector<std::string> args = {"vulmora-host"};
    size_t start = 0;
    while (start < words.size()) {
        size_t end = words.find(' ', start);
        if (end == std::string::npos) end = words.size();
        if (end > start) args.push_back(words.substr(start, end - start));
        start = end + 1;
    }
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return vhost::parseOptions(static_cast<int>(args.size()), argv.data(), o, error);
}

// Parse `words` as the program's argv (after its name), empty words kept.
bool parseWords(std::vector<std::string> words, Options &o, std::string &error) {
    words.insert(words.begin(), "vulmora-host");
    std::vector<char *> argv;
    for (auto &a : words)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return vhost::parseOptions(static_cast<int>(words.size()), argv.data(), o, error);
}

// The words that put `row` with `arg` where it may stand: a replay's own
// options after `replay FILE`, a curve's after `curve`.
std::vector<std::string> wordsFor(const OptionRow &row, const char *arg) {
    std::vector<std::string> w;
    if (row.place == OptionPlace::Replay) w = {"replay", "s.vstate"};
    if (row.place == OptionPlace::Curve) w = {"curve"};
    w.push_back(row.name);
    if (arg) w.push_back(arg);
    return w;
}

// The options after `row` alone, read by its setter from its example
// argument ("" for a flag).
Options withExample(const OptionRow &row) {
    Options o;
    const std::string error = row.set(o, row.arg ? row.example : "", row);
    EXPECT_EQ(error, "") << row.name;
    return o;
}

// Parse `words` that must be accepted.
Options accepted(const std::string &words) {
    Options o;
    std::string error;
    EXPECT_TRUE(parse(words, o, error)) << words << ": " << error;
    return o;
}

// The unit selectors as one comparable list.
std::vector<int> selectors(const vhost::Units &u) {
    return {u.temp,     u.coor,        u.thermalconductivity,
            u.time,     u.heatflux,    u.heattransfercoeff,
            u.velocity, u.massflowrate};
}

} // namespace

// ---- numbers read from text ------------------------------------------------------

TEST(HostNumbers, WholeNumbersAreAllOfTheTextAndInRange) {
    struct Case {
        const char *text;
        int lo, hi;
        bool ok;
        int value;
    } cases[] = {
        {"5", 1, 10, true, 5},
        {"1", 1, 10, true, 1},
        {"10", 1, 10, true, 10},
        {"-3", -5, 0, true, -3},
        {"+7", 1, 10, true, 7},
        {" 7", 1, 10, true, 7}, // strtol's leading blanks
        {"0", 1, 10, false, 0},
        {"11", 1, 10, false, 0},
        {"", 1, 10, false, 0},
        {"-", 1, 10, false, 0},
        {"7 ", 1, 10, false, 0},
        {"4.5", 1, 10, false, 0},
        {"0x5", 0, 10, false, 0},
        {"5s", 1, 10, false, 0},
        // Out of range of long, and of int though inside long.
        {"99999999999999999999", 1, 2147483647, false, 0},
        {"-99999999999999999999", -2147483647, 0, false, 0},
        {"2147483648", 0, 2147483647, false, 0},
        {"2147483647", 0, 2147483647, true, 2147483647},
    };
    for (const Case &c : cases) {
        int out = -42;
        EXPECT_EQ(vhost::parseInt(c.text, c.lo, c.hi, out), c.ok) << c.text;
        EXPECT_EQ(out, c.ok ? c.value : -42) << c.text;
    }
}

// An infinity is a number when it is written as one; a number too large for
// a double is not (it would become one unnoticed).
TEST(HostNumbers, NumbersAreAllOfTheTextAndNeverNaN) {
    const double inf = HUGE_VAL;
    struct Case {
        const char *text;
        bool number, finite;
        double value;
    } cases[] = {
        {"2.5e-3", true, true, 2.5e-3}, {"-1", true, true, -1.0},    {"0", true, true, 0.0},
        {"inf", true, false, inf},      {"-inf", true, false, -inf}, {"1e999", false, false, 0},
        {"-1e999", false, false, 0},    {"1e-400", true, true, 0.0}, {"infinity", true, false, inf},
        {"nan", false, false, 0},       {"", false, false, 0},       {"1.5x", false, false, 0},
        {"abc", false, false, 0},       {"1 ", false, false, 0},     {".", false, false, 0},
    };
    for (const Case &c : cases) {
        double n = -42, f = -42;
        EXPECT_EQ(vhost::parseNumber(c.text, n), c.number) << c.text;
        EXPECT_EQ(vhost::parseFinite(c.text, f), c.finite) << c.text;
        EXPECT_EQ(n, c.number ? c.value : -42) << c.text;
        EXPECT_EQ(f, c.finite ? c.value : -42) << c.text;
    }
}

// ---- accepted options ----------------------------------------------------------

TEST(HostOptions, TemperatureAndLengthNamesGiveTheirSelectors) {
    struct Case {
        const char *words;
        int temp, coor;
    } cases[] = {
        {"", 1, 2},
        {"--temp K", 1, 2},
        {"--temp C", 2, 2},
        {"--temp F", 3, 2},
        {"--temp R", 4, 2},
        {"--length m", 1, 1},
        {"--length cm", 1, 2},
        {"--length mm", 1, 3},
        {"--length ft", 1, 4},
        {"--length in", 1, 5},
        {"--temp F --length in --temp C", 2, 5},
    };
    for (const Case &c : cases) {
        Options o = accepted(c.words);
        EXPECT_EQ(o.run.sample.units.temp, c.temp) << c.words;
        EXPECT_EQ(o.run.sample.units.coor, c.coor) << c.words;
    }
}

TEST(HostOptions, UnitSetsExactlyTheNamedQuantity) {
    // Each quantity by name and by its quantity code: position in selectors().
    struct Case {
        const char *name, *code;
        size_t slot;
    } cases[] = {
        {"temp", "-1", 0},         {"temperature", "-1", 0},        {"coor", "0", 1},
        {"length", "0", 1},        {"thermalconductivity", "3", 2}, {"time", "4", 3},
        {"heatflux", "6", 4},      {"heattransfercoeff", "7", 5},   {"velocity", "8", 6},
        {"massflowrate", "13", 7},
    };
    const std::vector<int> defaults = selectors(Options{}.run.sample.units);
    for (const Case &c : cases)
        for (const char *q : {c.name, c.code})
            for (int sel : {1, 7, 10}) {
                const std::string words = "--unit " + std::string(q) + "=" + std::to_string(sel);
                std::vector<int> expected = defaults;
                expected[c.slot] = sel;
                EXPECT_EQ(selectors(accepted(words).run.sample.units), expected) << words;
            }
}

TEST(HostOptions, ValuesOfTheOtherOptions) {
    struct Case {
        const char *words;
        std::function<bool(const Options &)> holds;
    } cases[] = {
        {"--library /x/libu.so",
         [](const Options &o) { return o.run.sample.library == "/x/libu.so"; }},
        {"--nodes-per-side 4", [](const Options &o) { return o.run.sample.nodesPerSide == 4; }},
        {"--nodes-per-side 1000",
         [](const Options &o) { return o.run.sample.nodesPerSide == 1000; }},
        {"--steps 1", [](const Options &o) { return o.run.sample.steps == 1; }},
        {"--jobs 7", [](const Options &o) { return o.run.jobs == 7; }},
        {"--nodes-per-side 5 --node 125 --step 10",
         [](const Options &o) { return o.callNode == 125 && o.callStep == 10; }},
        // The bounds of --node/--step hold whatever the order of the options.
        {"--node 126 --step 3 --nodes-per-side 6 --steps 3",
         [](const Options &o) { return o.callNode == 126 && o.callStep == 3; }},
        {"--stress-scale 2.5e-3",
         [](const Options &o) { return o.run.sample.stressScale == 2.5e-3; }},
        {"--stress-scale -1", [](const Options &o) { return o.run.sample.stressScale == -1.0; }},
        {"--no-temp-table", [](const Options &o) { return !o.run.sample.tempTable; }},
        {"--output out/dir", [](const Options &o) { return o.run.output.folder == "out/dir"; }},
        {"--no-output", [](const Options &o) { return !o.run.output.write && o.run.output.plots; }},
        {"--no-plots", [](const Options &o) { return o.run.output.write && !o.run.output.plots; }},
        {"-q", [](const Options &o) { return o.run.quiet; }},
        {"--version", [](const Options &o) { return o.version; }},
        {"--time-limit 0.5", [](const Options &o) { return o.run.sample.timeLimit == 0.5; }},
        {"--time-limit 0", [](const Options &o) { return o.run.sample.timeLimit == 0.0; }},
        {"--materials 2",
         [](const Options &o) { return o.run.sample.materials == vhost::material::kMould; }},
        {"--materials 1,2",
         [](const Options &o) { return o.run.sample.materials == vhost::material::kAll; }},
        {"--materials all",
         [](const Options &o) { return o.run.sample.materials == vhost::material::kAll; }},
        {"--write-steps all", [](const Options &o) { return o.run.output.steps.empty(); }},
        // The step list is checked against --steps whatever the order.
        {"--write-steps last --steps 3",
         [](const Options &o) {
             return o.run.output.steps == std::vector<uint8_t>{0, 0, 1};
         }},
        {"--write-steps 3,1 --steps 4",
         [](const Options &o) {
             return o.run.output.steps == std::vector<uint8_t>{1, 0, 1, 0};
         }},
        // Only the last list counts.
        {"--write-steps 0 --write-steps 2 --steps 2",
         [](const Options &o) {
             return o.run.output.steps == std::vector<uint8_t>{0, 1};
         }},
        {"--write-steps 1 --write-steps all",
         [](const Options &o) { return o.run.output.steps.empty(); }},
        {"--quiet", [](const Options &o) { return o.run.quiet; }},
        {"-h", [](const Options &o) { return o.help; }},
        {"--help", [](const Options &o) { return o.help; }},
        {"--worker density --result r.bin",
         [](const Options &o) { return o.worker == "density" && o.resultFile == "r.bin"; }},
        {"--check-rounding",
         [](const Options &o) {
             return o.run.checks.rounding && o.run.checks.roundingTol == 1e-6;
         }},
        {"--rounding-tol 0", [](const Options &o) { return o.run.checks.roundingTol == 0.0; }},
        {"--rounding-mode downward",
         [](const Options &o) { return o.rounding == vhost::Rounding::Downward; }},
    };
    for (const Case &c : cases)
        EXPECT_TRUE(c.holds(accepted(c.words))) << c.words;
}

TEST(HostOptions, FunctionListsNormaliseNamesAndDropRepeats) {
    struct Case {
        const char *words;
        std::vector<std::string> expected;
    } cases[] = {
        {"--functions density", {"density"}},
        {"--functions func_yieldstress,density", {"yieldstress", "density"}},
        {"--functions ,density,,mechprop5,", {"density", "mechprop5"}},
        // Repeats would give two workers one result file.
        {"--functions density,func_density,density", {"density"}},
        {"--functions density --functions heatflux,density", {"density", "heatflux"}},
    };
    for (const Case &c : cases) {
        Options o = accepted(c.words);
        EXPECT_TRUE(o.run.functionsGiven) << c.words;
        EXPECT_EQ(o.run.functions, c.expected) << c.words;
    }
    EXPECT_FALSE(accepted("").run.functionsGiven);
}

// ---- rejected command lines ------------------------------------------------------

TEST(HostOptions, BadInputIsRejectedWithItsMessage) {
    struct Case {
        const char *words, *error;
    } cases[] = {
        {"--bogus", "unknown option '--bogus' (see --help)"},
        {"density", "unknown option 'density' (see --help)"},
        {"--temp", "--temp needs a value"},
        {"--library", "--library needs a value"},
        {"--temp X", "--temp takes K, C, F or R"},
        {"--temp k", "--temp takes K, C, F or R"},
        {"--length furlong", "--length takes m, cm, mm, ft or in"},
        {"--length CM", "--length takes m, cm, mm, ft or in"},
        {"--unit speed=2", "--unit: unknown quantity in 'speed=2'"},
        {"--unit velocity", "--unit: unknown quantity in 'velocity'"},
        {"--unit =2", "--unit: unknown quantity in '=2'"},
        {"--unit velocity=11", "--unit: the selector in 'velocity=11' must be 1 to 10"},
        {"--unit velocity=0", "--unit: the selector in 'velocity=0' must be 1 to 10"},
        {"--unit temp=2x", "--unit: the selector in 'temp=2x' must be 1 to 10"},
        {"--unit temp=", "--unit: the selector in 'temp=' must be 1 to 10"},
        {"--functions notanentry", "unknown entry point 'notanentry' (see --help)"},
        {"--functions density,func_", "unknown entry point 'func_' (see --help)"},
        {"--functions densty", "unknown entry point 'densty': did you mean density? (see --help)"},
        {"--functions func_heatflx",
         "unknown entry point 'func_heatflx': did you mean heatflux? (see --help)"},
        {"--functions yeildstress,density",
         "unknown entry point 'yeildstress': did you mean yieldstress? (see --help)"},
        {"--functions vx", "unknown entry point 'vx' (see --help)"},
        {"--functions ,", "--functions needs at least one entry point"},
        {"--nodes-per-side 3", "--nodes-per-side: '3' is not a whole number from 4 to 1000"},
        {"--nodes-per-side 1001", "--nodes-per-side: '1001' is not a whole number from 4 to 1000"},
        {"--nodes-per-side 4.5", "--nodes-per-side: '4.5' is not a whole number from 4 to 1000"},
        {"--steps 0", "--steps: '0' is not a whole number from 1 to 100000"},
        {"--steps 99999999999999999999",
         "--steps: '99999999999999999999' is not a whole number from 1 to 100000"},
        {"--steps 5s", "--steps: '5s' is not a whole number from 1 to 100000"},
        {"--jobs 0", "--jobs: '0' is not a whole number from 1 to 256"},
        {"--node 0 --step 1", "--node: '0' is not a whole number from 1 to 1073741824"},
        {"--node 5", "--node and --step go together"},
        {"--step 1", "--node and --step go together"},
        {"--nodes-per-side 5 --node 126 --step 1", "--node: the sample has only 125 nodes"},
        {"--steps 2 --node 1 --step 3", "--step: the run has only 2 steps"},
        {"--time-limit -1", "--time-limit: not a number of seconds from 0 to 1e6: -1"},
        {"--time-limit nan", "--time-limit: not a number of seconds from 0 to 1e6: nan"},
        {"--materials 3", "--materials takes all, or 1 (the casting) and 2 (the mould): '3'"},
        {"--materials 1,,2", "--materials takes all, or 1 (the casting) and 2 (the mould): '1,,2'"},
        {"--steps 2 --write-steps 3", "--write-steps takes all, last or steps from 1 to 2: '3'"},
        {"--write-steps 0", "--write-steps takes all, last or steps from 1 to 10: '0'"},
        {"--stress-scale abc", "--stress-scale: not a finite number: abc"},
        {"--stress-scale 1.5x", "--stress-scale: not a finite number: 1.5x"},
        {"--stress-scale nan", "--stress-scale: not a finite number: nan"},
        {"--stress-scale inf", "--stress-scale: not a finite number: inf"},
        {"--stress-scale 1e999", "--stress-scale: not a finite number: 1e999"},
    };
    for (const Case &c : cases) {
        Options o;
        std::string error;
        EXPECT_FALSE(parse(c.words, o, error)) << c.words;
        EXPECT_EQ(error, c.error) << c.words;
    }
}

TEST(HostOptions, ProgramExitsWithStatus2AndTheMessageOnStderr) {
    struct Case {
        const char *args, *message;
    } cases[] = {
        {"--temp X", "--temp takes K, C, F or R"},
        {"--steps -1", "--steps: '-1' is not a whole number from 1 to 100000"},
        {"--library /nonexistent/libu.so", "no such library: /nonexistent/libu.so"},
        {"--library '" HOSTLIB_KNOWN "' --node 1 --step 1", "--node/--step need --functions NAME"},
    };
    for (const Case &c : cases) {
        vtest::HostResult r = vtest::runHost(VULMORA_HOST_EXE, c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_EQ(r.err, "vulmora-host: " + std::string(c.message) + "\n") << c.args;
        EXPECT_EQ(r.out, "") << c.args;
    }
    // A file that is no user-function library (the host program itself).
    vtest::HostResult r =
        vtest::runHost(VULMORA_HOST_EXE, "--no-output --library '" VULMORA_HOST_EXE "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("vulmora-host: ", 0), 0u) << r.err;
}

// ---- what a worker is given -------------------------------------------------------

TEST(HostOptions, WorkerArgumentsRebuildTheSameSampleAndBlock) {
    Options o = accepted("--library /x/libu.so --nodes-per-side 6 --steps 3 --temp F --length in "
                         "--unit heatflux=5 --unit 13=9 --stress-scale 0.1 --no-temp-table "
                         "--functions density --output elsewhere -q");
    std::string words;
    for (const std::string &a : vhost::sampleArguments(o.run.sample))
        words += a + " ";
    const vhost::SampleConfig w = accepted(words).run.sample;
    EXPECT_EQ(w.library, o.run.sample.library);
    EXPECT_EQ(w.nodesPerSide, 6);
    EXPECT_EQ(w.steps, 3);
    EXPECT_EQ(selectors(w.units), selectors(o.run.sample.units));
    EXPECT_EQ(w.units.heatflux, 5);
    EXPECT_EQ(w.units.massflowrate, 9);
    EXPECT_EQ(w.stressScale, 0.1); // printed with every digit
    EXPECT_FALSE(w.tempTable);
    // Defaults come back as defaults.
    Options d = accepted("--library /x/libu.so");
    words.clear();
    for (const std::string &a : vhost::sampleArguments(d.run.sample))
        words += a + " ";
    const vhost::SampleConfig wd = accepted(words).run.sample;
    EXPECT_EQ(selectors(wd.units), selectors(Options{}.run.sample.units));
    EXPECT_TRUE(wd.tempTable);
}

TEST(HostOptions, HelpDocumentsEveryOption) {
    vtest::HostResult r = vtest::runHost(VULMORA_HOST_EXE, "--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, vhost::helpText());
    for (const OptionRow &row : vhost::optionTable()) {
        // Every documented option is one the parser knows, and only those.
        Options o;
        std::string error;
        parseWords(wordsFor(row, row.example), o, error);
        EXPECT_EQ(error.find("unknown option"), std::string::npos) << row.name << ": " << error;
        const bool hidden = row.section == vhost::HelpSection::Hidden;
        for (const char *name : {row.name, row.alias})
            if (name) {
                EXPECT_EQ(r.out.find(name) == std::string::npos, hidden) << name;
            }
    }
    // Every line fits a terminal of 80 columns.
    size_t start = 0;
    for (size_t nl; (nl = r.out.find('\n', start)) != std::string::npos; start = nl + 1)
        EXPECT_LE(nl - start, 79u) << r.out.substr(start, nl - start);
}

// ---- the table of options --------------------------------------------------------

TEST(HostOptionTable, HelpParagraphsStandInTheSecondColumn) {
    const std::string help = vhost::helpText();
    for (const OptionRow &row : vhost::optionTable()) {
        if (!row.help || row.section == vhost::HelpSection::Hidden) continue;
        // Each line of the paragraph, in order, starts at column 24; the
        // first one after its term and a gap of at least two blanks.
        size_t at = help.find(std::string("  ") + (row.alias ? row.alias : row.name));
        ASSERT_NE(at, std::string::npos) << row.name;
        const std::string text = row.help;
        bool first = true;
        for (size_t start = 0; start <= text.size(); first = false) {
            size_t nl = text.find('\n', start);
            if (nl == std::string::npos) nl = text.size();
            const std::string line = text.substr(start, nl - start) + "\n";
            at = help.find(line, at);
            ASSERT_NE(at, std::string::npos) << row.name << ": " << line;
            const size_t column = at - help.rfind('\n', at) - 1;
            EXPECT_TRUE(first ? column >= 24 && help.compare(at - 2, 2, "  ") == 0 : column == 24)
                << row.name << ": " << line << " at column " << column;
            start = nl + 1;
        }
    }
}

TEST(HostOptionTable, EveryNameIsFoundAndOnlyOnce) {
    std::vector<std::string> names;
    for (const OptionRow &row : vhost::optionTable())
        for (const char *name : {row.name, row.alias})
            if (name) {
                EXPECT_EQ(vhost::findOption(name), &row) << name;
                EXPECT_EQ(std::count(names.begin(), names.end(), name), 0) << name;
                names.push_back(name);
            }
    EXPECT_EQ(vhost::findOption("--nonexistent"), nullptr);
    EXPECT_EQ(vhost::findOption(""), nullptr);
}

TEST(HostOptionTable, EveryOptionChangesTheOptions) {
    for (const OptionRow &row : vhost::optionTable()) {
        ASSERT_NE(row.set, nullptr) << row.name;
        // An option with an argument shows one it accepts; a flag has none.
        ASSERT_EQ(row.example != nullptr, row.arg != nullptr) << row.name;
        EXPECT_FALSE(withExample(row) == Options{}) << row.name;
    }
}

TEST(HostOptionTable, ForwardedOptionsReachTheWorkerUnchanged) {
    Options all;
    for (const OptionRow &row : vhost::optionTable()) {
        if (!row.forward) continue;
        const Options o = withExample(row);
        EXPECT_EQ(row.set(all, row.arg ? row.example : "", row), "") << row.name;
        Options w;
        std::string error;
        EXPECT_TRUE(parseWords(vhost::sampleArguments(o.run.sample), w, error))
            << row.name << ": " << error;
        EXPECT_TRUE(w == o) << row.name;
    }
    // All of them at once, and none (the defaults, the empty library included).
    for (const Options &o : {all, Options{}}) {
        Options w;
        std::string error;
        EXPECT_TRUE(parseWords(vhost::sampleArguments(o.run.sample), w, error)) << error;
        EXPECT_TRUE(w == o);
    }
    EXPECT_FALSE(all == Options{});
}

TEST(HostOptionTable, EveryArgumentIsNeededAndABadOneIsRejected) {
    for (const OptionRow &row : vhost::optionTable()) {
        if (!row.arg) continue;
        Options o;
        std::string error;
        EXPECT_FALSE(parseWords(wordsFor(row, nullptr), o, error)) << row.name;
        EXPECT_EQ(error, std::string(row.name) + " needs " + row.needs);
        if (!row.bad) continue;
        EXPECT_FALSE(parseWords(wordsFor(row, row.bad), o, error)) << row.name;
        EXPECT_EQ(error.rfind(row.name, 0), 0u) << row.name << ": " << error;
        // The program says the same on stderr, and exits with status 2.
        std::string args;
        for (const std::string &w : wordsFor(row, row.bad))
            args += " '" + w + "'";
        vtest::HostResult r = vtest::runHost(VULMORA_HOST_EXE, args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.err, "vulmora-host: " + error + "\n") << args;
        EXPECT_EQ(r.out, "") << args;
    }
}

TEST(HostOptionTable, OptionsStandOnlyWhereTheirPlaceAllows) {
    for (const OptionRow &row : vhost::optionTable()) {
        if (row.place == OptionPlace::Anywhere) continue;
        // Elsewhere than its place the word is refused, saying where it goes.
        std::vector<std::string> words = {"--steps", "3", row.name};
        if (row.arg) words.push_back(row.example);
        Options o;
        std::string error;
        EXPECT_FALSE(parseWords(words, o, error)) << row.name;
        const std::string name = row.name;
        EXPECT_EQ(error,
                  row.place == OptionPlace::Curve
                      ? "'" + name + "' is an option of curve: vulmora-host curve " + name + " ..."
                  : row.place == OptionPlace::Replay
                      ? "'" + name + "' is an option of replay: vulmora-host replay FILE " + name
                      : "'" + name + "' is a command: it comes first (vulmora-host " + name +
                            " ...)");
        // In its place it is read.
        Options in;
        EXPECT_TRUE(parseWords(wordsFor(row, row.example), in, error)) << row.name << error;
        EXPECT_FALSE(in == Options{}) << row.name;
    }
}

// ---- replay and --save-state ------------------------------------------------------

TEST(HostOptions, ReplayAndSaveStateTakeTheirOwnOptions) {
    Options o = accepted("replay s.vstate --in-process --all-nodes --functions density --node 9");
    EXPECT_EQ(o.replayFile, "s.vstate");
    EXPECT_TRUE(o.inProcess);
    EXPECT_TRUE(o.allNodes);
    EXPECT_EQ(o.run.functions, std::vector<std::string>{"density"});
    EXPECT_EQ(o.callNode, 9); // a node of the state: no --step, no sample bound
    o = accepted("--save-state s.vstate --steps 4 --step 3");
    EXPECT_EQ(o.saveState, "s.vstate");
    EXPECT_EQ(o.callStep, 3);
    EXPECT_TRUE(accepted("replay s.vstate").run.functions.empty());

    struct Case {
        const char *words, *error;
    } cases[] = {
        {"replay", "replay needs a state file"},
        {"--in-process",
         "'--in-process' is an option of replay: vulmora-host replay FILE --in-process"},
        {"--all-nodes",
         "'--all-nodes' is an option of replay: vulmora-host replay FILE --all-nodes"},
        {"replay s.vstate --functions density,heatflux", "replay takes one entry point"},
        {"--save-state", "--save-state needs a value"},
        {"--save-state s --steps 2 --step 3", "--step: the run has only 2 steps"},
    };
    for (const Case &c : cases) {
        Options bad;
        std::string error;
        EXPECT_FALSE(parse(c.words, bad, error)) << c.words;
        EXPECT_EQ(error, c.error) << c.words;
    }
}

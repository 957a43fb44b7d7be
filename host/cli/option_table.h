// option_table.h - every option of the command line as one row: its names,
// its argument, its --help paragraph, whether a worker is given it, and what
// it does to the options. The parser, --help and the arguments of a worker
// are all made from these rows.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "cli/options.h"

namespace vhost {

// The sections of --help, in the order they are printed; Hidden rows are
// for the emulator's own use and are not shown.
enum class HelpSection {
    LibraryAndEntries,
    SampleCasting,
    UserUnits,
    WhereAndHowLong,
    FindingAFault,
    Checks,
    CaptureAndReplay,
    Curve,
    Output,
    Hidden,
};

// Where a word may stand to be read as the option.
enum class OptionPlace {
    Anywhere,
    Replay, // only after `replay FILE`, or in a replay worker
    Curve,  // only after `curve`
    First,  // a command: only as the first word
};

struct OptionRow;

// Reads the argument `arg` of `row` ("" for a flag) into `o`; returns the
// message for a bad one, "" when it is accepted.
using OptionSetter = std::string (*)(Options &o, const std::string &arg, const OptionRow &row);

// Appends to `words` what gives a worker the setting of `row` in the
// sample `s`.
using OptionForward = void (*)(const SampleConfig &s, std::vector<std::string> &words,
                               const OptionRow &row);

struct OptionRow {
    const char *name;                          // "--steps": the name its messages use
    const char *alias = nullptr;               // a short form ("-q"), shown before the name
    const char *arg = nullptr;                 // the argument's metavariable; nullptr: a flag
    HelpSection section = HelpSection::Hidden; // rows for the emulator itself say so
    // The --help paragraph, lines split by '\n'; nullptr: the paragraph of
    // the row before covers this one (its term names both).
    const char *help = nullptr;
    const char *term = nullptr; // the paragraph's left column when not "alias, name arg"
    OptionSetter set = nullptr;
    OptionForward forward = nullptr; // nullptr: a worker is not given it
    OptionPlace place = OptionPlace::Anywhere;
    bool late = false;             // read after every other option (its range depends on them)
    const char *needs = "a value"; // the message "NAME needs ..." when the argument is missing
    // For the tests: an argument it accepts that changes the options, and one
    // it rejects (nullptr: it accepts any word).
    const char *example = nullptr;
    const char *bad = nullptr;
};

// Every option, in the order of --help.
std::span<const OptionRow> optionTable();

// The row whose name or alias is `word`; nullptr when there is none.
const OptionRow *findOption(const std::string &word);

// The readers of the arguments with a syntax of their own (options.cpp).
int selectorOf(const std::string &s, std::initializer_list<const char *> names);
int *unitSlot(Units &u, const std::string &q);
bool parseFunctions(const std::string &list, std::vector<std::string> &out, std::string &error);
bool parseMaterials(const std::string &list, int &mask, std::string &error);
bool parseWriteSteps(const std::string &list, int steps, std::vector<uint8_t> &written,
                     std::string &error);
// NAME=VALUE items of `arg`, comma-separated, each VALUE a finite number and
// each NAME accepted by `known` (which may rename it) into `out`, none of
// them there already; "" or the message.
using PairKnown = bool (*)(std::string &name, double value);
std::string parsePairs(const std::string &arg, const char *option, PairKnown known,
                       std::vector<std::pair<std::string, double>> &out);
// A column of a path (model/path.h), renamed to its canonical name.
bool pathColumn(std::string &name, double value);

} // namespace vhost

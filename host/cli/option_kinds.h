// option_kinds.h - the kinds of option the rows of option_table.cpp are
// made of: what each does to the options (a flag, a word, a folder, a whole
// number in a range, a tolerance, a temperature), the field it sets named
// by the member pointers that lead to it, and how a worker is given one.
#pragma once

#include <string>
#include <vector>

#include "cli/option_table.h"
#include "platform/numbers.h"

namespace vhost::option_kinds {

// ---- what an option does to the options ----------------------------------------

// The field that the member pointers `Path` lead to from `o`, one group in
// another: field<&O::run, &RunSettings::jobs>(o) is o.run.jobs.
template <auto... Path> auto &field(Options &o) {
    return (o.*....*Path);
}

// A flag: sets `Field` to `Value`.
template <auto Value, auto... Field>
std::string flag(Options &o, const std::string &, const OptionRow &) {
    field<Field...>(o) = Value;
    return {};
}

// Any word, kept as it is (a path, a name).
template <auto... Field> std::string text(Options &o, const std::string &arg, const OptionRow &) {
    field<Field...>(o) = arg;
    return {};
}

// The name of a folder: any word but the empty one.
template <auto... Field>
std::string folder(Options &o, const std::string &arg, const OptionRow &row) {
    if (arg.empty()) return std::string(row.name) + " needs a folder name";
    field<Field...>(o) = arg;
    return {};
}

// A whole number from Lo to Hi.
template <int Lo, int Hi, auto... Field>
std::string whole(Options &o, const std::string &arg, const OptionRow &row) {
    if (parseInt(arg, Lo, Hi, field<Field...>(o))) return {};
    return std::string(row.name) + ": '" + arg + "' is not a whole number from " +
           std::to_string(Lo) + " to " + std::to_string(Hi);
}

// A tolerance of --compare: a finite number from 0 up.
template <auto... Field>
std::string tolerance(Options &o, const std::string &arg, const OptionRow &row) {
    double t = 0;
    if (!parseFinite(arg, t) || t < 0)
        return std::string(row.name) + ": not a number from 0 up: " + arg;
    field<Field...>(o) = t;
    return {};
}

// --from / --to: a finite temperature, marked as given.
template <auto Field, auto Given>
std::string temperature(Options &o, const std::string &arg, const OptionRow &row) {
    if (!parseFinite(arg, o.path.*Field))
        return std::string(row.name) + ": not a temperature: " + arg;
    o.path.*Given = true;
    return {};
}

// ---- what a worker is given of an option ------------------------------------------

// The option with its value as it is.
template <auto Field>
void giveText(const SampleConfig &s, std::vector<std::string> &words, const OptionRow &row) {
    words.insert(words.end(), {row.name, s.*Field});
}

// The option with its whole number.
template <auto Field>
void giveWhole(const SampleConfig &s, std::vector<std::string> &words, const OptionRow &row) {
    words.insert(words.end(), {row.name, std::to_string(s.*Field)});
}

// The flag, when `Field` holds the flag's `Value`.
template <auto Field, auto Value>
void giveFlag(const SampleConfig &s, std::vector<std::string> &words, const OptionRow &row) {
    if (s.*Field == Value) words.push_back(row.name);
}

} // namespace vhost::option_kinds

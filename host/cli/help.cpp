// help.cpp - the text of --help, made from the rows of option_table.cpp.
#include <string>

#include "cli/option_table.h"
#include "model/entries.h"

namespace vhost {

namespace {

// One help line per entry point of the list whose mode is `mode`.
#define VHOST_HELP_NODAL_NODAL(name) "    func_" #name "\n"
#define VHOST_HELP_NODAL_MECHANICAL(name)
#define VHOST_HELP_NODAL_STEP(name)
#define VHOST_HELP_MECHANICAL_NODAL(name)
#define VHOST_HELP_MECHANICAL_MECHANICAL(name) "    func_" #name "\n"
#define VHOST_HELP_MECHANICAL_STEP(name)
#define VHOST_HELP_NODAL(name, kind, mode, quantity) VHOST_HELP_NODAL_##mode(name)
#define VHOST_HELP_MECHANICAL(name, kind, mode, quantity) VHOST_HELP_MECHANICAL_##mode(name)
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

// What comes before the options.
constexpr const char *kIntro = R"(Usage: vulmora-host [OPTIONS]

Runs a user-function library on a built-in sample casting, calling its entry
points exactly as the casting solver does, and reports what they return.
With no options it runs the worked examples built next to it.

)";

// What comes after the options, before the entry points.
constexpr const char *kOutro =
    R"(Every entry point runs in a worker process of its own: the emulator never
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

)";

// The heading of each section, in the order of HelpSection.
constexpr const char *kSections[] = {
    "Library and entry points",
    "The sample casting",
    "User units (what the accessors return)",
    "Where and how long",
    "Finding a fault",
    "Checks (each entry point that returned values; exit status 1 on a finding)",
    "Capture and replay",
    "Properties along a path (after `curve`)",
    "Output",
};
static_assert(std::size(kSections) == static_cast<size_t>(HelpSection::Hidden),
              "one heading per section shown");

// The paragraphs' second column, and the least gap before it after a long term.
constexpr size_t kColumn = 24, kGap = 3;
// A term that would push the text past this column has a line of its own.
constexpr size_t kLongTerm = 30;

// The left column of `row`'s paragraph: "-q, --quiet", "--steps S".
std::string termOf(const OptionRow &row) {
    if (row.term) return row.term;
    std::string t = row.alias ? std::string(row.alias) + ", " : "";
    t += row.name;
    if (row.arg) t += std::string(" ") + row.arg;
    return t;
}

// The paragraph of `row`: its term, then its lines in the second column.
std::string paragraph(const OptionRow &row) {
    std::string p = "  " + termOf(row);
    if (p.size() + kGap > kLongTerm)
        p += "\n" + std::string(kColumn, ' ');
    else
        p += std::string(p.size() + kGap > kColumn ? kGap : kColumn - p.size(), ' ');
    for (const char *c = row.help; *c; ++c) {
        p += *c;
        if (*c == '\n') p += std::string(kColumn, ' ');
    }
    return p + "\n";
}

// Every section with its heading and paragraphs, each followed by a blank line.
std::string sections() {
    std::string text;
    for (size_t s = 0; s < std::size(kSections); ++s) {
        text += std::string(kSections[s]) + "\n";
        for (const OptionRow &row : optionTable())
            if (static_cast<size_t>(row.section) == s && row.help) text += paragraph(row);
        text += "\n";
    }
    return text;
}

} // namespace

// Made once from the rows.
const char *helpText() {
    static const std::string text =
        kIntro + sections() + kOutro + std::string(VHOST_ENTRY_POINT_HELP);
    return text.c_str();
}

} // namespace vhost

// run_report.h - the one report of a run.
//
// The run's phases fill a RunReport once; the terminal and summary.txt are
// two renderings of the same data, and the exit status is derived from it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "model/units.h"
#include "parent/outcome.h"
#include "platform/exit_status.h"
#include "run/settings.h"

namespace vhost {

class Sample;
struct CheckFindings;
class Check;

struct RunReport {
    std::string table;    // the summary table
    std::string printed;  // what the library printed loading and calling (terminal only)
    std::string problems; // every failure: what, where, the fields there, a re-run command
    std::string silent;   // answers the accessors gave silently wrong
    std::string notes;    // what the emulator did differently for an entry point, and why
    std::string checks;   // the checks' findings
    std::string warnings; // findings that do not fail the run
    bool costChecked = false;
    std::string cost;       // --check-cost's notes
    std::string comparison; // the comparison with a saved run
    std::string verdict;    // the closing lines: counts, checks, comparison
    std::string memory, time;
    size_t failed = 0, notEvaluated = 0; // entry points failed; not evaluated (emulator)
    bool checksFailed = false;
    // 2 when the emulator failed, 1 when the library or a check did, else 0.
    ExitStatus status() const;
};

// Where a run's processor time went, in seconds: the workers' (every
// worker's whole time, of which the user's calls and filling the host's
// arrays are parts) and this process's own until the report.
struct ProcessorTime {
    double parent = 0, workers = 0, inCalls = 0, filling = 0;
    // A worker's processor time, and its parts, into these.
    void count(const Outcome &r);
};

// Everything the report is made of.
struct ReportInput {
    const RunSettings &settings;
    const std::vector<Outcome> &outcomes;
    const CheckFindings &findings;
    const std::vector<std::unique_ptr<Check>> &checks;
    const std::string &loadOutput; // what the library printed while loading
    Sample &sample;
    UnitConverter units; // the library's converters under the run's units
    ProcessorTime time;
    std::string notes = ""; // what the run did otherwise than it should, and why
};

// Build the report of a run.
RunReport buildReport(const ReportInput &in);

// The report as the terminal shows it (`quiet`: findings and verdict only).
std::string terminalText(const RunReport &r, bool quiet);

// The report as summary.txt holds it: everything but the printed output.
std::string summaryText(const RunReport &r);

// The line that ends a run which wrote its files into `folder`: where to
// look at them, and what to do next: after a run of the worked examples
// (`examples`), copy the template (`templateSource`, "" if none was found);
// after a run of the user's library, the checks not asked for.
std::string nextStepsText(const RunSettings &r, const std::string &folder, bool examples,
                          const std::string &templateSource);

// The report of one failure: what, where, what it printed, the fields there
// (in the user's units through `units`) and the command that re-runs it.
std::string problemText(const Outcome &e, const RunSettings &r, Sample &sample,
                        const UnitConverter &units);

} // namespace vhost

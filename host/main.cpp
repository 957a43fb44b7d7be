// main.cpp - vulmora-host: parse the command line and dispatch.
//
// Without a subcommand the program runs a user-function library on the
// sample casting (run/run.h); `curve` runs them along a path of states
// (curve/curve.h); `replay FILE` replays a captured call;
// --save-state saves the sample; --node re-runs one call; the hidden
// --worker and --replay-worker options make this program a worker of a
// run. host/README.md is the map of the rest.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "cli/options.h"
#include "curve/curve.h"
#include "exchange/exchange.h"
#include "model/build_record.h"
#include "parent/setup.h"
#include "platform/exit_status.h"
#include "platform/system.h"
#include "replay/replay.h"
#include "run/run.h"
#include "units/units.h"
#include "worker/worker.h"

using namespace vhost;

namespace {

// Write the selectors `u` into this program's own copy of the block, for
// the library's converters that it links.
void selectUnits(const Units &u) {
#define VHOST_SELECT(member, variable, code, fallback, label, alias) variable = u.member;
    VHOST_UNIT_SELECTORS(VHOST_SELECT)
#undef VHOST_SELECT
}

// A value converted by the library's own converters under the units `u`
// (the emulator links the converters: no user code).
double convert(UnitConverter::Way way, int code, const Units &u, double x) {
    selectUnits(u);
    return way == UnitConverter::Way::ToInternal ? fconvertToCGS(code, x)
                                                 : fconvertFromCGS(code, x);
}

// This program as a command to paste: its name when that is what PATH
// runs, else its path.
std::string commandName(const std::string &self) {
    std::error_code ec;
    const std::string onPath = platform::programOnPath("vulmora-host");
    if (!onPath.empty() && std::filesystem::equivalent(onPath, self, ec)) return "vulmora-host";
    return platform::shellQuoted(self);
}

// about LIBRARY: the build record, or the line that it has none (both
// status 0); a file that cannot be read or is no library, status 2.
int showAbout(const std::string &library) {
    BuildRecord record;
    std::string error;
    if (!readBuildRecord(library, record, error)) return fail(ExitStatus::Usage, error);
    std::fputs(record.empty() ? (library + ": " + kNoBuildRecord + "\n").c_str()
                              : record.text.c_str(),
               stdout);
    return code(ExitStatus::Ok);
}

// The commands that need a library: save the sample, re-run one call, run
// along a path, or run.
int runCommand(const Options &o, const char *argv0) {
    if (!o.replayFile.empty()) return runReplay(replaySettings(o), argv0);
    RunSettings run = o.run;
    std::string error;
    if (!chooseLibrary(run.sample.library, error)) return fail(ExitStatus::Usage, error);
    if (!o.saveState.empty()) return saveSampleState(run.sample, o.callStep, o.saveState);
    if (o.callNode && !o.curve) {
        if (run.functions.empty())
            return fail(ExitStatus::Usage, "--node/--step need --functions NAME");
        return runNodeCall({run.sample, run.functions, o.callNode, o.callStep});
    }
    std::string self = platform::executablePath();
    if (self.empty()) self = std::filesystem::absolute(argv0).string();
    run.program = commandName(self);
    ProcessRunner runner;
    const RunServices services{self, sampleArguments, runner, convert};
    if (!o.curve) return runAll(run, services);
    run.pathWords = pathArguments(o);
    CurveSettings path = o.path;
    path.node = o.callNode;
    return runCurve(path, run, services);
}

} // namespace

int main(int argc, char **argv) {
    Options o;
    std::string error;
    if (!parseOptions(argc, argv, o, error)) return fail(ExitStatus::Usage, error);
    if (o.help) {
        std::fputs(helpText(), stdout);
        return code(ExitStatus::Ok);
    }
    if (o.version) {
        std::printf("vulmora-host %d.%d.%d\n", VULMORA_VERSION_MAJOR, VULMORA_VERSION_MINOR,
                    VULMORA_VERSION_PATCH);
        return code(ExitStatus::Ok);
    }
    if (!o.aboutLibrary.empty()) {
        if (argc != 3) return fail(ExitStatus::Usage, "about takes the library file alone");
        return showAbout(o.aboutLibrary);
    }
    if (!o.worker.empty()) {
        platform::rawStdout();
        if (o.diagnose) return runDiagnosis(diagnoseSettings(o));
        return runWorker(workerSettings(o));
    }
    if (!o.replayWorker.empty()) {
        platform::rawStdout();
        return runReplayWorker(replaySettings(o));
    }
    if (!applyAlloy(o, convert, error)) return fail(ExitStatus::Usage, error);
    try {
        return runCommand(o, argv[0]);
    } catch (const std::exception &e) {
        // The last resort: one line, never an abort.
        return fail(ExitStatus::Usage, e.what());
    }
}

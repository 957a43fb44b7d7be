// run_test.cpp - the run's orchestration without processes: a
// fake WorkerRunner writes each worker's result file as the test scripts
// it, and the run classifies, checks and reports as it would for real
// workers.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "child.h"
#include "hostlib/host_run.h"
#include "model/entries.h"
#include "platform/files.h"
#include "platform/system.h"
#include "cli/options.h"
#include "fake_runner.h"
#include "run/run.h"

using namespace vhost;
using vtest::FakeRunner;
using vtest::Script;

namespace {

// The fake library's converters: every unit the internal one.
double same(UnitConverter::Way, int, const Units &, double x) {
    return x;
}

// A run of the fake library on a small sample; what it printed and its status.
struct Ran {
    std::string out;
    int status = -1;
};
// The fake library's file: the same at every look.
bool fakeLibraryFile(const std::string &, bool, platform::FileIdentity &id, std::string &) {
    id = platform::FileIdentity{1, 2, 3, 4, 5};
    return true;
}

Ran runWith(FakeRunner &runner, RunSettings o) {
    if (o.sample.library.empty()) o.sample.library = "/nowhere/libfake.so";
    o.sample.nodesPerSide = 5;
    o.sample.steps = 3;
    o.output.write = false;
    Ran r;
    r.out = vtest::captureStdout([&] {
        r.status =
            runAll(o, {"/nowhere/vulmora-host", sampleArguments, runner, same, fakeLibraryFile});
    });
    return r;
}

// The survey of a library with func_density and func_emissivity (a
// placeholder), and func_externalcompute.
FakeRunner library() {
    FakeRunner runner;
    Script survey;
    survey.exports = {{"density", kExported}, {"emissivity", kExportedPlaceholder}};
    survey.external = true;
    runner.scripts["survey"] = survey;
    runner.scripts["density"] = Script{};
    runner.scripts["externalcompute"] = Script{};
    return runner;
}

bool has(const std::string &text, const std::string &what) {
    return text.find(what) != std::string::npos;
}

} // namespace

// How each ending of func_density's worker is reported, and the exit status.
TEST(Run, EachEndingOfAWorkerIsReportedWithItsStatus) {
    struct Case {
        const char *what;
        std::function<void(Script &)> script;
        int status;
        const char *says;
    };
    const Case cases[] = {
        {"ok", [](Script &) {}, 0,
         "3 entry points: 2 ok, 1 placeholders (not implemented), 0 failed\n"},
        {"crash",
         [](Script &s) {
             s.state = WorkerState::Running, s.phase = Phase::Call, s.step = 2, s.node = 7;
             s.exited = false, s.status = SIGSEGV;
         },
         1, "func_density: crashed (SIGSEGV) at step 2, node 7\n"},
        {"stop",
         [](Script &s) {
             s.state = WorkerState::Running, s.phase = Phase::Call, s.step = 1, s.node = 3;
             s.status = 1, s.out = "gave up\n";
         },
         1, "func_density: stopped the process with exit status 1 at step 1, node 3, printing"},
        {"NaN",
         [](Script &s) {
             s.value = [](size_t i, int st) { return i == 4 && st == 2 ? NAN : 1.0; };
         },
         1, "func_density: returned NaN at step 2, node "},
        {"bad file", [](Script &s) { s.badMagic = true; }, 1,
         "func_density: the worker's result file is invalid (magic)\n"},
        {"a count of steps written ahead of its calls", [](Script &s) { s.forgedWritten = 3; }, 1,
         "func_density: the worker's result file contradicted itself"},
        {"not started", [](Script &s) { s.started = false; }, 2,
         "1 not evaluated (emulator error)\n"},
        {"emulator's own work",
         [](Script &s) {
             s.state = WorkerState::Running, s.phase = Phase::Between, s.step = 2;
             s.exited = false, s.status = SIGSEGV;
         },
         2, "func_density: the worker died of SIGSEGV in the emulator's own work at step 2\n"},
    };
    for (const Case &c : cases) {
        FakeRunner runner = library();
        c.script(runner.scripts["density"]);
        const Ran r = runWith(runner, RunSettings{});
        EXPECT_EQ(r.status, c.status) << c.what << "\n" << r.out;
        EXPECT_TRUE(has(r.out, c.says)) << c.what << "\n" << r.out;
        // Only the survey, func_density and func_externalcompute ran, and
        // for a NaN the worker that makes its call again with traps on:
        // the placeholder needs no worker.
        EXPECT_EQ(runner.commands.size(), std::string(c.what) == "NaN" ? 4u : 3u) << c.what;
    }
}

// A crash or stop where a handler of user code's was in place runs again
// with every array filled; the second ending is reported when it differs.
TEST(Run, AnEndingUnderAHandlerOfTheLibrarysRunsAgainWithEveryArrayFilled) {
    const struct {
        const char *what;
        bool secondOk;
        int status;
        const char *says;
    } cases[] = {
        {"the emulator's fault", true, 0,
         "Notes:\nfunc_density: a fault handler the library put in place during a call took the "
         "emulator's fill-on-first-read fault (the worker crashed (SIGSEGV) at step 2, node 7)"},
        {"its own fault", false, 1, "func_density: crashed (SIGSEGV) at step 2, node 7\n"},
    };
    for (const auto &c : cases) {
        FakeRunner runner = library();
        for (const char *name : {"density", "density.filled"}) {
            Script &s = runner.scripts[name];
            s.state = WorkerState::Running, s.phase = Phase::Call, s.step = 2, s.node = 7;
            s.exited = false, s.status = SIGSEGV, s.ownHandler = false;
        }
        if (c.secondOk) runner.scripts["density.filled"] = Script{};
        const Ran r = runWith(runner, RunSettings{});
        EXPECT_EQ(r.status, c.status) << c.what << "\n" << r.out;
        EXPECT_TRUE(has(r.out, c.says)) << c.what << "\n" << r.out;
        ASSERT_EQ(runner.commands.size(), 4u) << c.what;
        EXPECT_EQ(runner.commands.back().at(2), "density") << c.what;
        EXPECT_NE(
            std::find(runner.commands.back().begin(), runner.commands.back().end(), "--fill-all"),
            runner.commands.back().end())
            << c.what;
    }
}

// The verdict counts the entry points asked for: all of them by default
// (func_externalcompute among them), only those named by --functions (then
// func_externalcompute, which runs anyway, is said on a line of its own).
TEST(Run, VerdictCountsWhatWasAskedFor) {
    const struct {
        bool named;
        bool externalFails;
        const char *says;
    } cases[] = {
        {false, false, "3 entry points: 2 ok, 1 placeholders (not implemented), 0 failed\n"},
        {true, false,
         "1 entry point: 1 ok, 0 placeholders (not implemented), 0 failed\n"
         "func_externalcompute (called at every step, as the solver does): ok\n"},
        {true, true,
         "1 entry point: 1 ok, 0 placeholders (not implemented), 0 failed\n"
         "func_externalcompute (called at every step, as the solver does): failed (above)\n"},
    };
    for (const auto &c : cases) {
        FakeRunner runner = library();
        if (c.externalFails) {
            Script &s = runner.scripts["externalcompute"];
            s.state = WorkerState::Running, s.phase = Phase::External, s.step = 1;
            s.status = 1, s.out = "gave up\n";
        }
        RunSettings o;
        if (c.named) o.functions = {"density"}, o.functionsGiven = true;
        const Ran r = runWith(runner, o);
        EXPECT_TRUE(has(r.out, c.says)) << r.out;
        EXPECT_EQ(r.status, c.externalFails ? 1 : 0) << r.out;
    }
}

// Workers that ran outside a container the system ends whole are noted
// with the reason; contained ones are not.
TEST(Run, WorkersOutsideAContainerAreNoted) {
    for (bool contained : {true, false}) {
        FakeRunner runner = library();
        runner.scripts["survey"].contained = contained;
        runner.scripts["survey"].uncontained = "no PID namespace can be made here (EPERM)";
        const Ran r = runWith(runner, RunSettings{});
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(has(r.out, "Notes:\nthe workers ran outside a container of their own (no PID "
                             "namespace can be made here (EPERM)): a process user code starts "
                             "and detaches from its worker may outlive the run\n"),
                  !contained)
            << r.out;
    }
}

// Two workers of one entry point are told apart on the progress line.
TEST(Run, ProgressLabelsNameEachCheckWorker) {
    const struct {
        const char *name, *tag, *label;
    } cases[] = {
        {"interhtransfer", "", "interhtransfer"},
        {"interhtransfer", ".units1", "interhtransfer (units 1)"},
        {"interhtransfer", ".units10", "interhtransfer (units 10)"},
        {"density", ".order", "density (order)"},
        {"density", ".cost", "density (cost)"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(vhost::progressLabel(c.name, c.tag), c.label) << c.tag;
}

// A failure at a node names the fields there and a command that re-runs it.
TEST(Run, AFailureAtANodeGivesTheFieldsAndTheReRunCommand) {
    FakeRunner runner = library();
    Script &s = runner.scripts["density"];
    s.state = WorkerState::Running, s.phase = Phase::Call, s.step = 2, s.node = 7;
    s.exited = false, s.status = SIGSEGV;
    const Ran r = runWith(runner, RunSettings{});
    EXPECT_TRUE(has(r.out, "  the fields there:\n  node 7 of step 2")) << r.out;
    EXPECT_TRUE(has(r.out, "  re-run that call: vulmora-host --library '/nowhere/libfake.so' "
                           "--functions density --node 7 --step 2 --nodes-per-side 5 --steps 3\n"))
        << r.out;
}

// A library that cannot load is reported once, and no entry point runs.
TEST(Run, ALibraryThatCrashesWhileLoadingRunsNoEntryPoint) {
    FakeRunner runner = library();
    Script &s = runner.scripts["survey"];
    s.state = WorkerState::Running, s.phase = Phase::Load, s.step = 0;
    s.exited = false, s.status = SIGSEGV;
    const Ran r = runWith(runner, RunSettings{});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.out, "the library crashed (SIGSEGV) while loading (in its constructors)\n"))
        << r.out;
    EXPECT_EQ(runner.commands.size(), 1u);
}

// Workers are given the run's sample; a check's workers their own options.
TEST(Run, WorkersGetTheirCommandLines) {
    FakeRunner runner = library();
    runner.scripts["density.order"] = Script{};
    RunSettings o;
    o.checks.order = true;
    const Ran r = runWith(runner, o);
    ASSERT_EQ(runner.commands.size(), 4u) << r.out;
    const std::vector<std::string> &order = runner.commands.back();
    EXPECT_EQ(order.at(2), "density");
    const std::string line = [&] {
        std::string t;
        for (const std::string &a : order)
            t += a + " ";
        return t;
    }();
    EXPECT_TRUE(has(line, "--nodes-per-side 5 ")) << line;
    EXPECT_TRUE(has(line, "--order-seed 7 ")) << line;
    EXPECT_TRUE(has(runner.commands[1][4], "density.bin")) << runner.commands[1][4];
}

// The order check flags a worker whose values depend on the order of the
// calls, and says so when none does; either way in the verdict.
TEST(Run, TheOrderCheckJudgesItsWorkerAgainstTheRun) {
    for (const bool changes : {false, true}) {
        FakeRunner runner = library();
        Script order;
        if (changes) order.value = [](size_t i, int st) { return double(i) + st + 0.5; };
        runner.scripts["density.order"] = order;
        RunSettings o;
        o.checks.order = true;
        const Ran r = runWith(runner, o);
        EXPECT_EQ(r.status, changes ? 1 : 0) << r.out;
        EXPECT_TRUE(
            has(r.out, changes ? "checks: 1 problem found\n" : "checks: 0 problems found\n"))
            << r.out;
        EXPECT_EQ(has(r.out, "order check: no entry point changed\n"), !changes) << r.out;
    }
}

// A check's worker that fails says what it did and where.
TEST(Run, ACheckWorkerThatFailsIsAFinding) {
    FakeRunner runner = library();
    Script order;
    order.state = WorkerState::Running, order.phase = Phase::Call, order.step = 1, order.node = 2;
    order.exited = false, order.status = SIGSEGV;
    runner.scripts["density.order"] = order;
    RunSettings o;
    o.checks.order = true;
    const Ran r = runWith(runner, o);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.out, "func_density in a shuffled order of the nodes: crashed (SIGSEGV) at "
                           "step 1, node 2\n"))
        << r.out;
}

// The re-run command is safe to paste whatever the library's path holds:
// the shell gives back each word as it was, and runs nothing of it.
TEST(Run, TheReRunCommandQuotesTheLibraryForTheShell) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("rerun-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string touched = (dir / "RAN").string();
    const std::string paths[] = {
        "/tmp/x'$(touch " + touched + ")'y/libn.so",
        "/tmp/a b/`touch " + touched + "`/lib.so",
        "/tmp/semi;touch " + touched + ";/lib\\.so",
        "/tmp/new\nline/\t$HOME/\"q\"/lib.so",
        "/tmp/''/'/lib.so",
    };
    for (const std::string &path : paths) {
        FakeRunner runner = library();
        Script &s = runner.scripts["density"];
        s.state = WorkerState::Running, s.phase = Phase::Call, s.step = 1, s.node = 2;
        s.exited = false, s.status = SIGSEGV;
        RunSettings o;
        o.sample.library = path;
        const Ran r = runWith(runner, o);
        const std::string mark = "  re-run that call: vulmora-host ";
        const size_t at = r.out.find(mark);
        ASSERT_NE(at, std::string::npos) << r.out;
        // Everything up to the end of the quoted words, newlines inside the
        // quotes included: the arguments start after the program's name.
        const size_t from = at + mark.size();
        const size_t end = r.out.find(" --steps 3\n", from);
        ASSERT_NE(end, std::string::npos) << r.out;
        const std::string words = r.out.substr(from, end + 10 - from);
        const std::string script = "printf '%s\\n' " + words;
        const vtest::HostResult sh =
            vtest::runHost("/bin/sh", "-c " + platform::shellQuoted(script));
        EXPECT_EQ(sh.out, "--library\n" + path +
                              "\n--functions\ndensity\n--node\n2\n--step\n1\n"
                              "--nodes-per-side\n5\n--steps\n3\n")
            << words;
        EXPECT_FALSE(std::filesystem::exists(touched)) << words;
    }
    std::filesystem::remove_all(dir);
}

// Processor time spent before the run, in a child this process waited
// for, is not the run's; the workers' time is split as they report it.
TEST(Run, TheProcessorTimeIsTheRunsOwnSplitByKindOfProcess) {
    // About 0.4 s of processor time in a child, waited for.
    const vtest::ChildResult busy = vtest::runInChild([] {
        const double start = platform::threadCpuSeconds();
        volatile double x = 0;
        while (platform::threadCpuSeconds() - start < 0.4)
            for (int k = 0; k < 100000; ++k)
                x = x + 1e-9 * k;
    });
    ASSERT_TRUE(busy.exited);
    const struct {
        double survey, density, densityCalls, densityFill, external;
        const char *split; // the second line, up to this process's time
    } cases[] = {
        {0, 0, 0, 0, 0,
         "  workers 0.00 s: user calls 0.00 s, filling the host's arrays 0.00 s, their own work "
         "0.00 s; this process "},
        {0.25, 2.0, 1.25, 0.5, 0.1,
         "  workers 2.35 s: user calls 1.25 s, filling the host's arrays 0.50 s, their own work "
         "0.60 s; this process "},
        // A worker that reports more than the system counted: no negative share.
        {0, 0.5, 0.75, 0.25, 0,
         "  workers 0.50 s: user calls 0.75 s, filling the host's arrays 0.25 s, their own work "
         "0.00 s; this process "},
    };
    for (const auto &c : cases) {
        FakeRunner runner = library();
        runner.scripts["survey"].cpu = c.survey, runner.scripts["survey"].inCalls = 0;
        Script &density = runner.scripts["density"];
        density.cpu = c.density, density.inCalls = c.densityCalls, density.filling = c.densityFill;
        runner.scripts["externalcompute"].cpu = c.external;
        runner.scripts["externalcompute"].inCalls = 0;
        const Ran r = runWith(runner, RunSettings{});
        ASSERT_EQ(r.status, 0) << r.out;
        const size_t at = r.out.find("processor time: ");
        ASSERT_NE(at, std::string::npos) << r.out;
        double total = -1, inCalls = -1, parent = -1;
        ASSERT_EQ(std::sscanf(r.out.c_str() + at, "processor time: %lf s, of which %lf s", &total,
                              &inCalls),
                  2)
            << r.out;
        const size_t split = r.out.find(c.split, at);
        ASSERT_NE(split, std::string::npos) << r.out;
        ASSERT_EQ(std::sscanf(r.out.c_str() + split + std::strlen(c.split), "%lf s\n", &parent), 1);
        EXPECT_DOUBLE_EQ(inCalls, std::round(c.densityCalls * 100) / 100);
        const double workers = c.survey + c.density + c.external;
        // The run's own process took well under the child's 0.4 s.
        EXPECT_LT(parent, 0.3) << r.out;
        EXPECT_NEAR(total, workers + parent, 0.011) << r.out;
    }
}

// A worker's peak memory: the system's count, lowered to the worker's own
// where it gives one (on Linux the system's holds what the parent had
// resident when it started the worker), never raised by it.
TEST(Run, AWorkersPeakMemoryIsItsOwn) {
    const struct {
        uint64_t system, own;
        const char *shown;
    } cases[] = {{300'000'000, 20'000'000, "largest worker 20 MB (func_density)"},
                 {30'000'000, 0, "largest worker 30 MB (func_density)"},
                 {30'000'000, 300'000'000, "largest worker 30 MB (func_density)"}};
    for (const auto &c : cases) {
        FakeRunner runner = library();
        runner.scripts["density"].peak = c.system, runner.scripts["density"].ownPeak = c.own;
        const Ran r = runWith(runner, RunSettings{});
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find(c.shown), std::string::npos) << c.own << "\n" << r.out;
    }
}

// The run lets each entry point's values go once they are judged unless an
// output or a check reads them later: the plausibility warning, the
// statistics and the checks' workers are the same either way.
TEST(Run, ValuesLetGoEarlyAreStillJudgedAndChecked) {
    const struct {
        const char *how;
        bool order, cost;
    } cases[] = {{"no check", false, false}, {"order", true, false}, {"cost", false, true}};
    for (const auto &c : cases) {
        FakeRunner runner = library();
        runner.scripts["density"].value = [](size_t i, int) { return i == 3 ? 1e5 : 2.7; };
        runner.scripts["density.order"] = runner.scripts["density"];
        runner.scripts["density.cost"] = Script{};
        RunSettings o;
        o.checks.order = c.order, o.checks.cost = c.cost;
        const Ran r = runWith(runner, o);
        EXPECT_EQ(r.status, 0) << c.how << "\n" << r.out;
        EXPECT_TRUE(has(r.out, "func_density: 3 values outside the plausible range of a density"))
            << c.how << "\n"
            << r.out;
        EXPECT_TRUE(has(r.out, "2.7        3706.3        100000")) << c.how << "\n" << r.out;
        size_t cost = 0, order = 0;
        for (const auto &job : runner.commands) {
            const std::string file = std::filesystem::path(job.at(4)).filename().string();
            cost += file.find(".cost") != std::string::npos;
            order += file.find(".order") != std::string::npos;
        }
        EXPECT_EQ(cost, c.cost ? 1u : 0u) << c.how;
        EXPECT_EQ(order, c.order ? 1u : 0u) << c.how;
    }
}

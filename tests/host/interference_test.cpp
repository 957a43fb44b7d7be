// interference_test.cpp - user code that acts on its own process, on the
// emulator or on the library's file while a run goes on: the run never
// reports success it did not achieve, and names the user as the cause.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "hostlib/host_run.h"

namespace fs = std::filesystem;

namespace {

// Run `functions` of the library at `library`, one worker at a time, with
// `env` (shell words).
vtest::HostResult runLibrary(const fs::path &library, const std::string &functions,
                             const std::string &env, const std::string &more = "--no-output") {
    return vtest::runHost(VULMORA_HOST_EXE,
                          "--library '" + library.string() +
                              "' --nodes-per-side 4 --steps 2 --jobs 1 --materials all "
                              "--functions " +
                              functions + " " + more,
                          env);
}

} // namespace

// A library rebuilt while the run goes on (a new file renamed over it, or
// the file rewritten in place): the run stops with status 2 and says why,
// and no entry point is reported from the other version.
TEST(Interference, ALibraryChangedDuringTheRunIsNeverReportedAsOneRun) {
    const struct {
        const char *how;
        std::string (*action)(const fs::path &dir);
    } cases[] = {
        {"replaced",
         [](const fs::path &d) {
             return "replace:" + (d / "other.so").string() + ":" + (d / "lib.so").string();
         }},
        {"rewritten in place",
         [](const fs::path &d) { return "append:" + (d / "lib.so").string(); }},
    };
    for (const auto &c : cases) {
        vtest::PrivateFolder dir("vulmora-interfere");
        fs::copy_file(HOSTLIB_HOSTILE, dir.path / "lib.so");
        fs::copy_file(HOSTLIB_KNOWN, dir.path / "other.so");
        // ztranslation changes the file at its first call; density comes after.
        const vtest::HostResult r =
            runLibrary(dir.path / "lib.so", "ztranslation,emissivity",
                       "VULMORA_TEST_INTERFERE='" + c.action(dir.path) + "'");
        EXPECT_EQ(r.status, 2) << c.how << "\n" << r.out << r.err;
        EXPECT_NE(r.err.find("the library file changed after the run started"), std::string::npos)
            << c.how << "\n"
            << r.err;
        EXPECT_EQ(r.out.find("2 ok"), std::string::npos) << c.how << "\n" << r.out;
    }
}

// run.txt names the file the run loaded: its size and a hash of its bytes.
TEST(Interference, RunTxtRecordsTheLibraryFile) {
    vtest::PrivateFolder dir("vulmora-interfere");
    const vtest::HostResult r =
        runLibrary(HOSTLIB_HOSTILE, "ztranslation", "",
                   "--no-plots --output '" + (dir.path / "out").string() + "'");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string run = vtest::slurp(dir.path / "out" / "run.txt");
    const std::string size = std::to_string(fs::file_size(HOSTLIB_HOSTILE));
    EXPECT_NE(run.find("\nlibrary-file " + size + " bytes, modified "), std::string::npos) << run;
    EXPECT_NE(run.find(", fnv1a "), std::string::npos) << run;
}

// What user code does to its own process or to the emulator is the user's
// fault, named as such; the other entry points and the time limit hold.
// (A SIGSTOP to its parent cannot reach the bench: the worker's parent is
// the first process of its PID namespace, which no signal from inside
// stops; the run goes on.)
TEST(Interference, LimitsAndSignalsFromUserCodeAreTheUsersFault) {
    const struct {
        const char *action, *report;
    } cases[] = {
        {"fsize", "func_ztranslation: lowered the process's file size limit (RLIMIT_FSIZE)"},
        {"term", "func_ztranslation: sent SIGTERM to the emulator, its parent process"},
        {"devnull", "func_ztranslation: closed or redirected the worker's result file"},
        {"closeall", "func_ztranslation: closed or redirected the worker's result file"},
    };
    for (const auto &c : cases) {
        const vtest::HostResult r = runLibrary(HOSTLIB_HOSTILE, "ztranslation,emissivity",
                                               std::string("VULMORA_TEST_INTERFERE=") + c.action,
                                               "--no-output --time-limit 5");
        EXPECT_EQ(r.status, 1) << c.action << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find(c.report), std::string::npos) << c.action << "\n" << r.out;
        EXPECT_NE(r.out.find("2 entry points: 1 ok, 0 placeholders (not implemented), 1 failed"),
                  std::string::npos)
            << c.action << "\n"
            << r.out;
    }
    const vtest::HostResult r =
        runLibrary(HOSTLIB_HOSTILE, "ztranslation,emissivity", "VULMORA_TEST_INTERFERE=stop",
                   "--no-output --time-limit 5");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
}

// Nothing user code starts outlives its worker, however it detaches: a
// daemon (two forks and a new session) that would write a file two
// seconds later never does.
TEST(Interference, ADaemonOfUserCodeEndsWithItsWorker) {
    vtest::PrivateFolder dir("vulmora-interfere");
    const fs::path file = dir.path / "daemon-was-here";
    const vtest::HostResult r = runLibrary(HOSTLIB_HOSTILE, "ztranslation",
                                           "VULMORA_TEST_INTERFERE='daemon:" + file.string() + "'");
    EXPECT_EQ(r.status, 1) << r.out << r.err; // a copy of the worker's process
    EXPECT_NE(r.out.find("func_ztranslation: made a copy of its process (fork)"), std::string::npos)
        << r.out;
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    EXPECT_FALSE(fs::exists(file)) << "the daemon outlived its worker";
}

// A call ended for its time spent its processor time inside user code:
// the time line counts it there, not as the emulator's.
TEST(Interference, ACallEndedForItsTimeCountsAsTimeInUserCode) {
    const vtest::HostResult r = vtest::runHost(
        VULMORA_HOST_EXE,
        std::string("--library '") + HOSTLIB_HOSTILE +
            "' --nodes-per-side 4 --steps 1 --materials all --functions density --no-output "
            "--time-limit 2");
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    double total = 0, inside = 0;
    const size_t at = r.out.find("processor time: ");
    ASSERT_NE(at, std::string::npos) << r.out;
    ASSERT_EQ(
        std::sscanf(r.out.c_str() + at, "processor time: %lf s, of which %lf s", &total, &inside),
        2)
        << r.out;
    // The spinning call is nearly all of the run's processor time.
    EXPECT_GT(inside, 0.5 * total) << r.out;
}

// A crash handler user code puts in place during a call takes the faults
// by which the emulator fills an array on first read: the entry point runs
// again with every array filled, and only a fault of its own is reported.
TEST(Interference, AHandlerOfTheLibrarysOwnNeverTakesTheBlameForTheEmulatorsFaults) {
    const struct {
        const char *how;
        bool ok;
        const char *report; // and the line the report must not hold
        const char *absent;
    } cases[] = {
        {"reads", true,
         "Notes:\nfunc_vzimposed: a fault handler the library put in place during a call took "
         "the emulator's fill-on-first-read fault (the worker stopped the process with exit "
         "status 42 at step 1, node 2)",
         "func_vzimposed: stopped"},
        {"crash", false,
         "func_vzimposed: stopped the process with exit status 42 at step 1, node 3",
         "func_vzimposed: stopped the process with exit status 42 at step 1, node 2"},
    };
    for (const auto &c : cases) {
#ifdef VULMORA_SANITIZED
        // The sanitizers catch the null write first and end the process themselves.
        if (!c.ok) continue;
#endif
        const vtest::HostResult r =
            runLibrary(HOSTLIB_HOSTILE, "vzimposed", std::string("VULMORA_TEST_HANDLER=") + c.how);
        EXPECT_EQ(r.status, c.ok ? 0 : 1) << c.how << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find(c.report), std::string::npos) << c.how << "\n" << r.out;
        EXPECT_EQ(r.out.find(c.absent), std::string::npos) << c.how << "\n" << r.out;
    }
}

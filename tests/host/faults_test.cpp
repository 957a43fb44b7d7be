// host_faults_test.cpp - vulmora-host under faults: a hostile or unlucky
// user's library, environment and output folder. Each case runs the
// program as a user would and checks the exit status, the one-line error or
// the report, and what is left behind; the pieces that guard the scratch
// folder and the files are also checked on their own.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "hostlib/host_run.h"
#include "output/outdir.h"
#include "platform/files.h"
#include "protocol/protocol.h"
#include "model/sample.h"
#include "runtime/messages.h"

namespace fs = std::filesystem;

namespace {

std::string lib(const char *path) {
    return std::string("--library '") + path + "' ";
}

bool says(const vtest::HostResult &r, const std::string &text) {
    return r.out.find(text) != std::string::npos;
}

// A folder of this test alone, removed when it goes.
struct TempDir {
    fs::path path;
    explicit TempDir(const std::string &name) {
        std::string t =
            (fs::temp_directory_path() / ("vulmora-faults-" + name + "-XXXXXX")).string();
        path = mkdtemp(t.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    bool empty() const { return fs::is_empty(path); }
};

// Seconds since `start`.
double since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// True when a process whose command line contains `text` (and `also`)
// is running.
bool processWith(const std::string &text, const std::string &also = "") {
    std::error_code ec;
    for (const auto &p : fs::directory_iterator("/proc", ec)) {
        std::string cmd = vtest::slurp(p.path() / "cmdline");
        std::replace(cmd.begin(), cmd.end(), '\0', ' '); // the words, as a shell shows them
        if (cmd.find(text) != std::string::npos && cmd.find(also) != std::string::npos &&
            p.path().filename() != std::to_string(getpid()))
            return true;
    }
    return false;
}

int exitStatus(pid_t pid);

// The emulator started in the background. A test that ends before it has
// waited for it (a failed assertion) kills and reaps it, and a test
// process that dies takes it along: no run outlives its test.
struct Started {
    pid_t pid = -1;
    bool reaped = false;
    // Wait for it to end; its exit status (-1: a signal ended it).
    int status() {
        reaped = true;
        return exitStatus(pid);
    }
    ~Started() {
        if (pid <= 0 || reaped) return;
        kill(pid, SIGKILL);
        exitStatus(pid);
    }
};

// Start the emulator in the background with `args` and TMPDIR=tmp.
Started startHost(const std::vector<std::string> &args, const fs::path &tmp) {
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        setenv("TMPDIR", tmp.c_str(), 1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char *> argv = {const_cast<char *>(VULMORA_HOST_EXE)};
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(VULMORA_HOST_EXE, argv.data());
        _exit(127);
    }
    return Started{pid};
}

// Wait until `dir` holds something (at most 60 s).
bool waitForEntry(const fs::path &dir) {
    for (int k = 0; k < 1200; ++k) {
        if (!fs::is_empty(dir)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// True once `done` holds, checked every 20 ms for up to 60 s: the test waits
// for the event it is about, however busy the machine is.
bool waitUntil(const std::function<bool()> &done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return done();
}

int exitStatus(pid_t pid) {
    int st = 0;
    waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

} // namespace

// ---- the scratch folder and the workers' files ------------------------------------

TEST(HostFaults, ScratchFoldersArePrivateAndUnpredictable) {
    TempDir parent("scratch");
    std::string error;
    const std::string a = vhost::platform::makePrivateFolder(parent.path.string(), "p-", error);
    const std::string b = vhost::platform::makePrivateFolder(parent.path.string(), "p-", error);
    ASSERT_FALSE(a.empty()) << error;
    ASSERT_FALSE(b.empty()) << error;
    EXPECT_NE(a, b);
    struct stat st {};
    ASSERT_EQ(stat(a.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A result file is never opened through a link or over an existing file.
    const fs::path target = parent.path / "victim";
    fs::create_symlink(target, fs::path(a) / "density.bin");
    EXPECT_EQ(vhost::platform::createExclusive(a + "/density.bin", 64, error), -1);
    EXPECT_EQ(vhost::platform::openExisting(a + "/density.bin", 0, error), -1);
    EXPECT_FALSE(fs::exists(target));
    EXPECT_TRUE(vhost::platform::makePrivateFolder("/nonexistent", "p-", error).empty());
}

TEST(HostFaults, BadEnvironmentAndPathsAreOneLineErrorsWithStatus2) {
    TempDir dir("paths");
    const fs::path file = dir.path / "a-file", loop = dir.path / "loop";
    { std::ofstream(file) << "x"; }
    fs::create_symlink(loop, loop);
    const std::string longName(5000, 'a');
    struct Case {
        std::string env, args, message;
    } cases[] = {
        {"TMPDIR=/nonexistent", "", "/nonexistent: No such file or directory"},
        {"TMPDIR='" + file.string() + "'", "", "is not a folder"},
        {"TMPDIR=/proc", "", "cannot make a folder in /proc"},
        {"TMPDIR='" + loop.string() + "'", "", "Too many levels of symbolic links"},
        {"", "--output ''", "--output needs a folder name"},
        {"", "--output '" + file.string() + "'", "names a file, not a folder"},
        {"", "--output /proc/x", "/proc/x"},
        {"", "--library '" + loop.string() + "'", "Too many levels of symbolic links"},
        {"", "--library /" + longName, "File name too long"},
        {"", "--nodes-per-side 1000 --no-output", "of memory"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.env + " " + c.args);
        vtest::HostResult r = vtest::runHost(VULMORA_HOST_EXE, "--no-plots " + c.args, c.env);
        EXPECT_EQ(r.status, 2) << r.out;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("vulmora-host: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

// ---- user code that never ends, or leaves processes behind ----------------------------

TEST(HostFaults, ConstructorFaultsAreTheLibrarysAndNeverTheParents) {
    struct Case {
        const char *how;
        int status;
        std::string report;
    } cases[] = {
        {"crash", 1, "the library crashed (SIGSEGV) while loading (in its constructors)"},
        {"exit0", 1, "the library ended the process with exit status 0 while loading"},
        {"hang", 1, "the library took longer than the time limit of 1 s while loading"},
        {"print", 0,
         "the library printed 34 bytes while loading:\n  | loading: hello from a "
         "constructor\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.how);
#ifdef VULMORA_SANITIZED
        // The sanitizers catch the null write first and end the worker themselves.
        if (std::string(c.how) == "crash") continue;
#endif
        vtest::HostResult r =
            vtest::runHost(VULMORA_HOST_EXE,
                           lib(HOSTLIB_LOADING) + "--nodes-per-side 4 --steps 1 --time-limit 1 "
                                                  "--no-output",
                           std::string("VULMORA_TEST_LOAD=") + c.how);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_TRUE(says(r, c.report)) << r.out;
    }
    // Printing while loading leaves the placeholders what they are.
    vtest::HostResult r = vtest::runHost(VULMORA_HOST_EXE,
                                         lib(HOSTLIB_LOADING) + "--nodes-per-side 4 --steps 1 -q "
                                                                "--no-output",
                                         "VULMORA_TEST_LOAD=print");
    EXPECT_TRUE(says(r, "37 entry points: 2 ok, 35 placeholders (not implemented), 0 failed\n"))
        << r.out;
}

TEST(HostFaults, HangIsEndedAtTheTimeLimitAndTheRunGoesOn) {
    const auto start = std::chrono::steady_clock::now();
    vtest::HostResult r = vtest::runHost(
        VULMORA_HOST_EXE, lib(HOSTLIB_HOSTILE) + "--nodes-per-side 4 --steps 2 --materials all "
                                                 "--functions density,texternal --time-limit 1 "
                                                 "--no-output");
    EXPECT_LT(since(start), 20.0);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(says(r, "func_density: took longer than the time limit of 1 s in one call and "
                        "was ended, at step 1, node 20\n"))
        << r.out;
    EXPECT_TRUE(says(r, "--functions density --node 20 --step 1")) << r.out;
    // Only the entry points asked for are counted; func_externalcompute on its own.
    EXPECT_TRUE(says(r, "2 entry points: 1 ok, 0 placeholders (not implemented), 1 failed\n"
                        "func_externalcompute (called at every step, as the solver does): ok\n"))
        << r.out;
}

// The time limit holds for every call of user code, the survey's first
// look at an entry point included: one that never returns from its first
// call is reported after about the limit, not after the default's minute.
TEST(HostFaults, TheTimeLimitHoldsForTheSurveysFirstCalls) {
    const auto start = std::chrono::steady_clock::now();
    vtest::HostResult r =
        vtest::runHost(VULMORA_HOST_EXE,
                       lib(HOSTLIB_HOSTILE) + "--nodes-per-side 4 --steps 1 --functions "
                                              "masssourceflowrate --time-limit 1 --no-output",
                       "VULMORA_TEST_HANG_FIRST=1");
    EXPECT_LT(since(start), 30.0);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(says(r, "func_masssourceflowrate: took longer than the time limit of 1 s in one "
                        "call and was ended"))
        << r.out;
}

TEST(HostFaults, ProcessesLeftBehindAreEndedWithTheWorker) {
    const auto start = std::chrono::steady_clock::now();
    const std::string sleep = "29." + std::to_string(getpid()); // this run's own
    vtest::HostResult r =
        vtest::runHost(VULMORA_HOST_EXE,
                       lib(HOSTLIB_HOSTILE) + "--nodes-per-side 4 --steps 1 --functions "
                                              "emissivity --no-output",
                       "VULMORA_TEST_SLEEP=" + sleep);
    EXPECT_LT(since(start), 15.0);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    // Ended at once: a few seconds, not the 30 it would sleep.
    const auto left = std::chrono::steady_clock::now();
    while (processWith("sleep " + sleep) && since(left) < 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(processWith("sleep " + sleep)) << "what the worker left in its group outlives it";
}

TEST(HostFaults, InterruptionEndsEveryWorkerAndLeavesNothing) {
    for (int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        TempDir tmp("interrupt"), out("interrupt-out");
        const fs::path results = out.path / "results";
        Started host =
            startHost({"--library", HOSTLIB_HOSTILE, "--nodes-per-side", "4", "--materials", "all",
                       "--functions", "density", "--time-limit", "0", "--output", results.string()},
                      tmp.path);
        ASSERT_TRUE(waitForEntry(tmp.path));
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the worker is spinning
        kill(host.pid, sig);
        EXPECT_EQ(host.status(), 128 + sig);
        EXPECT_TRUE(tmp.empty()) << "the scratch folder is left";
        EXPECT_TRUE(out.empty()) << "results or a partial folder are left";
        // A killed worker's group may take a moment to die once the bench
        // has gone: wait for that, with a generous deadline.
        EXPECT_TRUE(waitUntil([&] { return !processWith(tmp.path.string()); }))
            << "a worker is left";
    }
}

// A bench killed without warning (SIGKILL) can clean nothing up: its
// workers end with it, and the next run clears the scratch folder and the
// partial output folder it left, once they are a minute old.
TEST(HostFaults, AKilledBenchLeavesNoWorkerAndTheNextRunClearsUp) {
    TempDir tmp("killed"), out("killed-out");
    const fs::path results = out.path / "results";
    Started host =
        startHost({"--library", HOSTLIB_HOSTILE, "--nodes-per-side", "4", "--materials", "all",
                   "--functions", "density", "--time-limit", "0", "--output", results.string()},
                  tmp.path);
    // Until func_density's worker runs (it never returns at node 20).
    const std::string worker = tmp.path.string() + "/vulmora-host-";
    // (the worker of this run's own: another test's may be running too)
    ASSERT_TRUE(waitUntil([&] { return processWith(worker, "density.bin"); }));
    kill(host.pid, SIGKILL);
    host.status();
    EXPECT_TRUE(waitUntil([&] { return !processWith(tmp.path.string()); })) << "a worker is left";
    // What it left, made older than a run could be that is still starting.
    std::vector<fs::path> left;
    for (const fs::path &dir : {tmp.path, out.path})
        for (const auto &e : fs::directory_iterator(dir))
            left.push_back(e.path());
    ASSERT_EQ(left.size(), 3u) << "its scratch folder, results and a partial folder";
    const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(2);
    for (const fs::path &p : left)
        if (fs::is_directory(p)) {
            for (const auto &e : fs::directory_iterator(p))
                fs::last_write_time(e.path(), old);
            fs::last_write_time(p, old);
        }
    const vtest::HostResult r = vtest::runHost(VULMORA_HOST_EXE,
                                               lib(HOSTLIB_KNOWN) +
                                                   "--nodes-per-side 4 --steps 1 --no-plots "
                                                   "--functions density --output '" +
                                                   results.string() + "'",
                                               "TMPDIR='" + tmp.path.string() + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(tmp.empty()) << "the killed run's scratch folder is left";
    std::vector<std::string> beside;
    for (const auto &e : fs::directory_iterator(out.path))
        beside.push_back(e.path().filename().string());
    EXPECT_EQ(beside, std::vector<std::string>{"results"}) << "a partial folder is left";
}

// The survey's first call of an entry point runs in a copy of the survey
// worker; a copy that spins, with no time limit left to end it, ends with
// the bench all the same when the bench is killed outright.
TEST(HostFaults, AKilledBenchEndsTheSurveysCopiesToo) {
    TempDir tmp("killed-survey");
    setenv("VULMORA_TEST_HANG_FIRST", "1", 1); // func_masssourceflowrate spins at its first call
    Started host = startHost({"--library", HOSTLIB_HOSTILE, "--nodes-per-side", "4", "--functions",
                              "masssourceflowrate", "--time-limit", "0", "--no-output"},
                             tmp.path);
    unsetenv("VULMORA_TEST_HANG_FIRST");
    const std::string worker = tmp.path.string() + "/vulmora-host-";
    ASSERT_TRUE(waitUntil([&] { return processWith(worker, "survey"); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // its copy spins by now
    kill(host.pid, SIGKILL);
    host.status();
    const auto killed = std::chrono::steady_clock::now();
    while (processWith(tmp.path.string()) && since(killed) < 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(processWith(tmp.path.string())) << "a copy of the survey outlives the bench";
}

// An interrupted replay ends its worker and removes its folder, as a run does.
TEST(HostFaults, AnInterruptedReplayLeavesNothing) {
    TempDir tmp("replay-interrupt"), files("replay-state");
    const fs::path state = files.path / "sample.vstate";
    ASSERT_EQ(vtest::runHost(VULMORA_HOST_EXE, lib(HOSTLIB_KNOWN) +
                                                   "--nodes-per-side 4 --save-state '" +
                                                   state.string() + "'")
                  .status,
              0);
    // func_density of the hostile library never returns at node 20.
    Started host = startHost({"replay", state.string(), "--library", HOSTLIB_HOSTILE, "--functions",
                              "density", "--node", "20"},
                             tmp.path);
    const std::string worker = tmp.path.string() + "/vulmora-replay-";
    ASSERT_TRUE(waitUntil([&] { return processWith(worker); }))
        << "the replay's worker never started";
    kill(host.pid, SIGTERM);
    EXPECT_EQ(host.status(), 128 + SIGTERM);
    EXPECT_TRUE(tmp.empty()) << "the replay's folder is left";
    EXPECT_FALSE(processWith(worker)) << "the replay's worker is left";
}

// User code that forks is reported where it forked, and its values (which
// the copy returning into the worker could have mixed into) are not kept.
TEST(HostFaults, AForkInUserCodeIsReportedAndItsValuesAreNotKept) {
    TempDir out("fork-out");
    const fs::path results = out.path / "results";
    const std::string args = lib(HOSTLIB_HOSTILE) +
                             "--nodes-per-side 4 --steps 2 --materials all --no-plots "
                             "--functions vyimposed --output '" +
                             results.string() + "'";
    const vtest::HostResult plain = vtest::runHost(VULMORA_HOST_EXE, args);
    EXPECT_EQ(plain.status, 0) << plain.out;
    const vtest::HostResult r = vtest::runHost(VULMORA_HOST_EXE, args, "VULMORA_TEST_FORK=1");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(says(r, "func_vyimposed: made a copy of its process (fork) at step 1, node 3; "))
        << r.out;
    const std::string values = vtest::slurp(results / "vyimposed.values");
    EXPECT_TRUE(values.empty()) << "a forked entry point's values are not kept";
}

// ---- the output folder ---------------------------------------------------------------

// The output folder ends up with the permissions any folder of the user
// gets (the umask's), not those of the private folder it was written in.
TEST(HostFaults, TheOutputFolderFollowsTheUsersUmask) {
    TempDir dir("umask");
    for (const mode_t mask : {mode_t(022), mode_t(077), mode_t(002)}) {
        const fs::path out = dir.path / ("out" + std::to_string(mask));
        const mode_t old = umask(mask);
        const vtest::HostResult r =
            vtest::runHost(VULMORA_HOST_EXE, lib(HOSTLIB_KNOWN) +
                                                 "--nodes-per-side 4 --steps 1 --no-plots "
                                                 "--functions density --output '" +
                                                 out.string() + "'");
        umask(old);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(static_cast<unsigned>(fs::status(out).permissions() & fs::perms::all),
                  0777u & ~unsigned(mask))
            << "umask " << mask;
    }
}

TEST(HostFaults, OutputFolderHoldsOneWholeRunOrIsRefused) {
    TempDir dir("output");
    const fs::path out = dir.path / "out";
    auto run = [&](const std::string &functions, const fs::path &where) {
        return vtest::runHost(VULMORA_HOST_EXE, lib(HOSTLIB_KNOWN) +
                                                    "--nodes-per-side 4 --steps 1 --no-plots "
                                                    "--functions " +
                                                    functions + " --output '" + where.string() +
                                                    "'");
    };
    ASSERT_EQ(run("density,yieldstress", out).status, 0);
    EXPECT_TRUE(fs::exists(out / "yieldstress.csv"));
    // A second run replaces the first whole: nothing of the first is left.
    ASSERT_EQ(run("density", out).status, 0);
    EXPECT_TRUE(fs::exists(out / "density.csv"));
    EXPECT_FALSE(fs::exists(out / "yieldstress.csv"));
    std::vector<std::string> beside;
    for (const auto &e : fs::directory_iterator(dir.path))
        beside.push_back(e.path().filename().string());
    EXPECT_EQ(beside, std::vector<std::string>{"out"}) << "a partial or old folder is left";
    // A folder of something else is never replaced.
    const fs::path mine = dir.path / "mine";
    fs::create_directory(mine);
    { std::ofstream(mine / "thesis.tex") << "x"; }
    vtest::HostResult r = run("density", mine);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("holds files no run of vulmora-host wrote"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(mine / "thesis.tex"));
    // A folder another run is writing is refused.
    TempDir tmp("busy");
    Started host =
        startHost({"--library", HOSTLIB_HOSTILE, "--nodes-per-side", "4", "--materials", "all",
                   "--functions", "density", "--time-limit", "0", "--output", out.string()},
                  tmp.path);
    ASSERT_TRUE(waitForEntry(tmp.path));
    r = run("density", out);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("another run of vulmora-host is writing"), std::string::npos) << r.err;
    kill(host.pid, SIGTERM);
    EXPECT_EQ(host.status(), 128 + SIGTERM);
    // The interrupted run left the earlier results as they were.
    EXPECT_TRUE(fs::exists(out / "density.csv"));
}

// A disk that fills while the run goes on: the results cannot be written,
// the run says where and why, exits 1 and leaves nothing behind.
TEST(HostFaults, FullDiskIsAFailureAndLeavesNothing) {
    TempDir dir("full");
    const fs::path mnt = dir.path / "mnt";
    fs::create_directory(mnt);
    if (std::system(
            ("mount -t tmpfs -o size=512k tmpfs '" + mnt.string() + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here";
    vtest::HostResult r =
        vtest::runHost(VULMORA_HOST_EXE,
                       lib(HOSTLIB_HOSTILE) +
                           "--nodes-per-side 10 --steps 1 --materials all --no-plots "
                           "--functions xtranslation --output '" +
                           (mnt / "out").string() + "'",
                       "VULMORA_TEST_FILL='" + (mnt / "filler").string() + "'");
    std::vector<std::string> left;
    for (const auto &e : fs::directory_iterator(mnt))
        left.push_back(e.path().filename().string());
    EXPECT_EQ(std::system(("umount '" + mnt.string() + "'").c_str()), 0);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("vulmora-host: cannot write the results: " + mnt.string()),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(": No space left on device\n"), std::string::npos) << r.err;
    EXPECT_EQ(left, std::vector<std::string>{"filler"});
}

// A scratch folder whose file system fills during the run, before the
// workers' result files are made or while a worker writes its values: the
// run says the file system is full, and could not be carried out.
TEST(HostFaults, AFullScratchFolderIsSaidToBeFull) {
    for (const char *after : {"0", "1500"}) { // in the survey's first call; in step 2
        SCOPED_TRACE(after);
        TempDir dir("scratchfull");
        const fs::path mnt = dir.path / "mnt";
        fs::create_directory(mnt);
        if (std::system(
                ("mount -t tmpfs -o size=2m tmpfs '" + mnt.string() + "' 2>/dev/null").c_str()) !=
            0)
            GTEST_SKIP() << "no tmpfs can be mounted here";
        const vtest::HostResult r = vtest::runHost(
            VULMORA_HOST_EXE,
            lib(HOSTLIB_HOSTILE) + "--nodes-per-side 10 --steps 4 --materials all --no-output "
                                   "--functions xtranslation",
            "TMPDIR='" + mnt.string() + "' VULMORA_TEST_FILL='" + (mnt / "filler").string() +
                "' VULMORA_TEST_FILL_AFTER=" + after);
        EXPECT_EQ(std::system(("umount '" + mnt.string() + "'").c_str()), 0);
        EXPECT_EQ(r.status, 2) << r.out << r.err;
        EXPECT_NE((r.out + r.err).find("No space left on device, the file system is full"),
                  std::string::npos)
            << r.out << r.err;
    }
}

TEST(HostFaults, FailedWritesAreReportedWithThePathAndTheReason) {
    vhost::CheckedFile f("/dev/full");
    std::string line(8192, 'x');
    for (int k = 0; k < 4; ++k)
        f.write(line.data(), line.size());
    std::string error;
    EXPECT_FALSE(f.close(error));
    EXPECT_EQ(error, "/dev/full: No space left on device");
    vhost::CheckedFile g("/nonexistent/file");
    EXPECT_FALSE(g.close(error));
    EXPECT_EQ(error, "/nonexistent/file: No such file or directory");
}

// ---- user code that writes where it must not, or prints ------------------------------

TEST(HostFaults, FaultsInUserCodeAreNamedWhereTheyHappen) {
    TempDir dir("user");
    vtest::HostResult r = vtest::runHost(
        VULMORA_HOST_EXE, lib(HOSTLIB_HOSTILE) +
                              "--nodes-per-side 5 --steps 12 --materials all --no-plots "
                              "--functions heatflux,yieldstress,mechprop2,convehtransfer,"
                              "interhtransfer,texternal --output '" +
                              (dir.path / "out").string() + "'");
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    char index100[512], index1e6[512];
    std::snprintf(index100, sizeof index100, VULMORA_MSG_CONSTITUENT_INDEX, 100, 100);
    std::snprintf(index1e6, sizeof index1e6, VULMORA_MSG_AUX_INDEX, 1000000, 100);
    const std::string reports[] = {
        "func_heatflux: modified the host's array x_cord (entry 0) at step 1, node 9;",
        "--functions heatflux --node 9 --step 1",
        "func_yieldstress: stopped the process with exit status 1 at step 1, node 1 "
        "(registration call, location = -1)",
        "func_mechprop2: stopped the process with exit status 1 at step 1, node 1 "
        "(registration call, location = -1)",
#ifndef VULMORA_SANITIZED // the sanitizers end the worker themselves
        // What a function printed before it crashed is kept.
        "func_convehtransfer: crashed (SIGSEGV) at step 2, node 4, printing \"last words at node "
        "4\\n\"",
#endif
        // Output of functions that end well: labelled, counted, saved.
        "func_interhtransfer printed 301500 bytes on stdout (in interhtransfer.stdout.txt)",
        "func_texternal printed 420 bytes on stderr (in texternal.stderr.txt); the last lines:\n"
        "  | texternal: using the default table\n",
    };
    for (const std::string &text : reports)
        EXPECT_TRUE(says(r, text)) << text << "\n" << r.out;
    for (const char *text : {index100, index1e6}) {
        std::string q;
        for (const char *p = text; *p; ++p)
            q += *p == '\n' ? std::string("\\n") : std::string(1, *p);
        EXPECT_TRUE(says(r, q)) << q << "\n" << r.out;
    }
    // The flood is kept bounded, head and tail, with the count of what was dropped.
    const std::string flood = vtest::slurp(dir.path / "out" / "interhtransfer.stdout.txt");
    EXPECT_LT(flood.size(), 140000u);
    EXPECT_NE(flood.find("bytes not kept ...]"), std::string::npos);
    std::string notes;
    for (int step = 0; step < 12; ++step)
        notes += "texternal: using the default table\n";
    EXPECT_EQ(vtest::slurp(dir.path / "out" / "texternal.stderr.txt"), notes);
}

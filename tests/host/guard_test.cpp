// guard_test.cpp - user code that writes into the host's arrays: the
// write must fault in the call that made it and be named, whether the
// array was filled ahead of the calls (--fill-all, a capture) or on its
// first read in an earlier step (the mesh, filled once, at step 2 and
// later).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "hostlib/host_run.h"

namespace fs = std::filesystem;

namespace {

// Run func_vximposed of the hostile library over three steps with `options`
// and the environment `env`, on a sample of `side` nodes per side.
vtest::HostResult runWriter(const std::string &options, const std::string &env, int side = 5) {
    return vtest::runHost(VULMORA_HOST_EXE,
                          std::string("--library '") + HOSTLIB_HOSTILE + "' --nodes-per-side " +
                              std::to_string(side) +
                              " --steps 3 --materials all --functions vximposed --no-output " +
                              options,
                          env);
}

} // namespace

// Each way of filling the arrays, each kind of array (coordinates, the
// elements' materials and volumes, a field): the write is reported at the
// step and node where it happened, with the entry written. At 82 nodes per
// side the arrays span huge pages (2 MiB and more), whose protection
// changes whole.
TEST(HostGuard, WritesIntoFilledArraysAreNamedWhereTheyHappen) {
    vtest::PrivateFolder states("vulmora-guard");
    const std::string capture = "VULMORA_CAPTURE='" + states.path.string() + "' ";
    const struct {
        const char *how;
        std::string options, env;
        const char *array;
        int step;
        bool unprotect = false; // the library makes the page writable first
        int side = 5;
    } cases[] = {
        {"filled ahead, huge pages", "--fill-all", "", "x_cord", 2, false, 82},
        {"filled ahead, huge pages", "--fill-all", "", "t1", 3, false, 82},
        {"filled on first read, huge pages", "", "", "x_cord", 2, false, 82},
        {"filled on first read, huge pages", "", "", "t1", 2, false, 82},
        {"filled on first read, huge pages", "", "", "mat_id", 1, false, 82},
        {"filled ahead", "--fill-all", "", "x_cord", 1},
        {"filled ahead", "--fill-all", "", "mat_id", 1},
        {"filled ahead", "--fill-all", "", "el_vol", 2},
        {"filled ahead", "--fill-all", "", "t1", 1},
        {"filled ahead", "--fill-all", "", "t1", 3},
        {"captured", "", capture, "x_cord", 1},
        {"captured", "", capture, "el_vol", 1},
        {"captured", "", capture, "t1", 2},
        {"filled on first read", "", "", "x_cord", 2},
        {"filled on first read", "", "", "mat_id", 3},
        {"filled on first read", "", "", "el_vol", 2},
        {"filled on first read", "", "", "t1", 2},
        {"made writable", "", "", "x_cord", 2, true},
        {"made writable", "", "", "t1", 1, true},
        {"made writable", "--fill-all", "", "el_vol", 3, true},
    };
    for (const auto &c : cases) {
        const std::string write =
            std::string(c.array) + ":" + std::to_string(c.step) + (c.unprotect ? ":mprotect" : "");
        const vtest::HostResult r =
            runWriter(c.options, c.env + "VULMORA_TEST_WRITE=" + write, c.side);
        const std::string report =
            "func_vximposed: modified the host's array " + std::string(c.array) + " (entry 5) " +
            (c.unprotect ? "during step " + std::to_string(c.step) +
                               ", after making it writable again (mprotect);"
                         : "at step " + std::to_string(c.step) + ", node 3;");
        EXPECT_EQ(r.status, 1) << c.how << ", " << write << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find(report), std::string::npos)
            << c.how << ", " << write << ": no \"" << report << "\"\n"
            << r.out;
    }
    // The captured runs saved the state of the call, as a crash.
    size_t saved = 0;
    for (const auto &e : fs::directory_iterator(states.path))
        saved += e.path().filename().string().find("-vximposed-crash.vstate") != std::string::npos;
    EXPECT_EQ(saved, 3u);
}

// Without a write the same runs end well: the reports above come from the
// writes alone.
TEST(HostGuard, TheSameRunsWithoutAWriteEndWell) {
    vtest::PrivateFolder states("vulmora-guard");
    for (const char *options : {"--fill-all", ""}) {
        const vtest::HostResult r = runWriter(options, "VULMORA_CAPTURE='" + states.path.string() +
                                                           "' VULMORA_TEST_WRITE=t1:9");
        EXPECT_EQ(r.status, 0) << options << "\n" << r.out << r.err;
        EXPECT_EQ(r.out.find("modified the host's array"), std::string::npos) << r.out;
    }
}

// The mesh's arrays stay read-only from step to step; one that user code
// made writable at an earlier step is read-only again at the next, and a
// write there is caught where it happens.
TEST(HostGuard, AMeshArrayMadeWritableAtAnEarlierStepIsReadOnlyAgain) {
    for (const char *options : {"", "--fill-all"})
        for (const char *array : {"x_cord", "mat_id"}) {
            const vtest::HostResult r =
                runWriter(options, "VULMORA_TEST_WRITE=" + std::string(array) + ":2:opened", 5);
            const std::string report = "func_vximposed: modified the host's array " +
                                       std::string(array) + " (entry 5) at step 2, node 3;";
            EXPECT_EQ(r.status, 1) << options << " " << array << "\n" << r.out << r.err;
            EXPECT_NE(r.out.find(report), std::string::npos)
                << options << " " << array << ": no \"" << report << "\"\n"
                << r.out;
        }
}

// An array filled while user code runs threads (into fresh pages that take
// its place) is as read-only as one filled in place.
TEST(Guard, AnArrayFilledWhileThreadsRunIsReadOnlyToo) {
    const vtest::HostResult r =
        vtest::runHost(VULMORA_HOST_EXE,
                       std::string("--library '") + HOSTLIB_POINTS +
                           "' --nodes-per-side 5 --steps 1 --materials all --functions "
                           "masssourceflowrate --no-output",
                       "VULMORA_TEST_WRITE_T1=1");
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("func_masssourceflowrate: modified the host's array t1"),
              std::string::npos)
        << r.out;
    // Caught by the guard at the write itself, not only after the step as
    // a write into pages user code had made writable.
    EXPECT_NE(r.out.find("t1 (entry 0) at step 1, node 1;"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("mprotect"), std::string::npos) << r.out;
}

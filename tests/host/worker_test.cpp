// worker_test.cpp - the worker: what its result file holds for each name
// it is given, the shuffled order of the order check, and how each way a
// worker ends in the middle of a run is reported (real workers of a
// library that stops, crashes and returns).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "hostlib/host_run.h"
#include "model/entries.h"
#include "runtime/messages.h"
#include "worker/worker.h"

namespace {

// The report's quoted form of a message: newlines written as \n.
std::string quoted(const std::string &text) {
    std::string q = "\"";
    for (char c : text)
        q += c == '\n' ? std::string("\\n") : std::string(1, c);
    return q + "\"";
}

} // namespace

// ---- what a worker is asked to do --------------------------------------------------

// The name a worker is given decides the kind of its result file and the
// values it holds: the selected nodes (the materials or a path's points)
// at every step, twice for the order check.
TEST(Worker, ItsNameAndSampleGiveTheShapeOfItsResultFile) {
    using vhost::WorkerKind;
    const int64_t casting = 27, all = 125; // a 5-node side: 3 x 3 x 3 inside
    const struct {
        const char *name;
        int orderSeed, materials, pathPoints;
        WorkerKind kind;
        int64_t count; // doubles after the header
    } cases[] = {
        {"survey", 0, 1, 0, WorkerKind::Survey, 0},
        {"externalcompute", 0, 1, 0, WorkerKind::External, 0},
        {"density", 0, 1, 0, WorkerKind::Entry, 2 * casting},
        {"func_density", 0, 3, 0, WorkerKind::Entry, 2 * all},
        {"density", 0, 2, 0, WorkerKind::Entry, 2 * (all - casting)},
        {"density", 7, 1, 0, WorkerKind::Order, 4 * casting},
        {"density", 0, 1, 40, WorkerKind::Entry, 2 * 40},
    };
    for (const auto &c : cases) {
        vhost::WorkerSettings w;
        w.name = c.name;
        w.orderSeed = c.orderSeed;
        w.sample.nodesPerSide = 5;
        w.sample.steps = 2;
        w.sample.materials = c.materials;
        if (c.pathPoints) w.sample.pathFile = "p.csv", w.sample.pathPoints = c.pathPoints;
        const vhost::ResultShape shape = vhost::workerShape(w);
        EXPECT_EQ(shape.kind, c.kind) << c.name << " " << c.materials;
        EXPECT_EQ(shape.count, c.count) << c.name << " " << c.materials;
        EXPECT_EQ(shape.nnod, all);
        EXPECT_EQ(shape.entryIndex, c.kind == WorkerKind::Entry || c.kind == WorkerKind::Order
                                        ? vhost::findEntryPoint("density") - vhost::kEntryPoints
                                        : -1)
            << c.name;
    }
}

// Each step's shuffle is a permutation of the nodes, another for each step.
TEST(Worker, TheOrderCheckVisitsEveryNodeOnceInAShuffledOrder) {
    const auto a = vhost::shuffledNodes(50, 1, 7), b = vhost::shuffledNodes(50, 2, 7);
    EXPECT_NE(a, b);
    EXPECT_EQ(a, vhost::shuffledNodes(50, 1, 7));
    for (std::vector<int> sorted : {a, b}) {
        std::sort(sorted.begin(), sorted.end());
        for (int k = 0; k < 50; ++k)
            EXPECT_EQ(sorted[size_t(k)], k + 1);
    }
}

// ---- workers that end in the middle of a run -----------------------------------------

class WorkerEndings : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        run_ = vtest::runHost(VULMORA_HOST_EXE,
                              std::string("--library '") + HOSTLIB_ENDINGS +
                                  "' --nodes-per-side 5 --steps 2 --materials all --no-output");
    }
    // The table row of func_<name>.
    static std::string row(const std::string &name) {
        size_t at = run_.out.find("\nfunc_" + name + " ");
        if (at == std::string::npos) return "";
        return run_.out.substr(at + 1, run_.out.find('\n', at + 1) - at - 1);
    }
    static bool says(const std::string &text) { return run_.out.find(text) != std::string::npos; }
    static inline vtest::HostResult run_;
};

TEST_F(WorkerEndings, EachEndingIsReportedAndTheRunCompletes) {
    EXPECT_EQ(run_.status, 1) << run_.out;
    struct Case {
        const char *entry, *status;
        std::string report;
    } cases[] = {
        {"density", "stopped (0)",
         "func_density: stopped the process with exit status 0 at step 2, node 7, printing \"\"\n"},
        {"emissivity", "crashed",
         "func_emissivity: crashed (SIGSEGV) at step 1, node 5\n  the fields there:\n"},
        {"heatflux", "stopped (1)",
         "func_heatflux: stopped the process with exit status 1 at step 1, node 3, printing "
         "\"heat flux undefined at node 3\\n\"\n"},
        // FVOL may not be read in the stress analysis: the registration call stops.
        {"mechprop1", "stopped (1)",
         "func_mechprop1: stopped the process with exit status 1 at step 1, node 1 (registration "
         "call, location = -1), printing " +
             quoted(VULMORA_MSG_FVOL_REGISTRATION)},
        {"interhtransfer", "ok", ""},
    };
    for (const Case &c : cases) {
#ifdef VULMORA_SANITIZED
        // The sanitizers catch the null read first and end the worker themselves.
        if (std::string(c.status) == "crashed") continue;
#endif
        const std::string r = row(c.entry);
        ASSERT_FALSE(r.empty()) << c.entry << "\n" << run_.out;
        EXPECT_EQ(r.substr(31, std::string(c.status).size()), c.status) << r;
        if (!c.report.empty()) {
            EXPECT_TRUE(says(c.report)) << c.report << "\n" << run_.out;
        }
    }
    // Every entry point has its row (and func_externalcompute, the build's
    // empty one, its own): the ones after a failure ran too.
    EXPECT_EQ(vtest::occurrences(run_.out, " placeholder "), 31u) << run_.out;
    EXPECT_TRUE(says("37 entry points: 2 ok, 31 placeholders (not implemented), 4 failed\n"));
}

TEST_F(WorkerEndings, OkEntryPointHasItsStatisticsAfterTheFailures) {
    // func_interhtransfer returns node / 2 at nodes 1..125 of both steps.
    const std::string r = row("interhtransfer");
    double mn = 0, mean = 0, mx = 0;
    long long calls = 0;
    ASSERT_EQ(std::sscanf(r.c_str() + 46, "%lf %lf %lf %lld", &mn, &mean, &mx, &calls), 4) << r;
    EXPECT_EQ(mn, 0.5);
    EXPECT_DOUBLE_EQ(mean, 31.5);
    EXPECT_EQ(mx, 62.5);
    EXPECT_EQ(calls, 250);
}

TEST_F(WorkerEndings, StopsPointAtTheNodeWithItsFieldsAndARerunCommand) {
    for (const char *text : {"node 3 of step 1", "--functions heatflux --node 3 --step 1",
                             "node 7 of step 2", "--functions density --node 7 --step 2"})
        EXPECT_TRUE(says(text)) << text << "\n" << run_.out;
    // The re-run reproduces the stop in the foreground with its exact line.
    vtest::HostResult r = vtest::runHost(
        VULMORA_HOST_EXE, std::string("--library '") + HOSTLIB_ENDINGS +
                              "' --nodes-per-side 5 --steps 2 --functions heatflux --node 3 "
                              "--step 1");
    EXPECT_EQ(r.status, 1);
    const std::string tail = "func_heatflux(3) (location = 1):\nheat flux undefined at node 3\n";
    ASSERT_GE(r.out.size(), tail.size()) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << r.out;
}

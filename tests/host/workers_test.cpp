// workers_test.cpp - what the parent does while its workers run, through
// the fake runner (no process, no sleep): a call over the time limit is
// ended, only in user code and only while it does not move on, and an
// entry point's values are taken out of its file as they are written.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fake_runner.h"
#include "parent/workers.h"
#include "platform/files.h"

namespace fs = std::filesystem;
using vhost::Phase;
using vhost::SampleConfig;
using vhost::WorkerKind;
using vhost::WorkerState;
using vtest::FakeRunner;
using vtest::Script;

namespace {

// A folder of this test alone, removed when it goes.
struct TempDir {
    fs::path path;
    TempDir() {
        std::string t = (fs::temp_directory_path() / "vulmora-workers-XXXXXX").string();
        path = mkdtemp(t.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

// No arguments: the fake runner reads none.
std::vector<std::string> noArguments(const SampleConfig &) {
    return {};
}

// func_density's worker on `config`, run by `runner`; the worker afterwards.
std::unique_ptr<vhost::WorkerJob> runDensity(FakeRunner &runner, const SampleConfig &config,
                                             bool takesValues = false) {
    TempDir dir;
    vhost::Workers workers;
    workers.push_back(vhost::makeWorker("density", WorkerKind::Entry, config));
    workers.front()->takesValues = takesValues;
    vhost::ValueStore store;
    const vhost::WorkerSetting setting{
        "/nowhere/vulmora-host", noArguments, dir.path.string(), runner, 1, {}, &store};
    std::string error;
    EXPECT_TRUE(vhost::runWorkers(setting, workers, nullptr, error)) << error;
    return std::move(workers.front());
}

} // namespace

// A worker that stays where it is is ended once the time limit has passed
// since it last moved, when it is in user code; one that counts calls, is
// in the emulator's own work or has no limit runs on.
TEST(Workers, ACallOverTheTimeLimitIsEndedWhereItHangs) {
    const struct {
        const char *what;
        double limit;
        Phase phase;
        bool progressing, ended;
    } cases[] = {
        {"a call that does not return", 2, Phase::Call, false, true},
        {"a registration call", 2, Phase::Registration, false, true},
        {"func_externalcompute", 0.5, Phase::External, false, true},
        {"loading the library", 2, Phase::Load, false, true},
        {"calls still counted", 2, Phase::Call, true, false},
        {"the emulator's own work", 2, Phase::Between, false, false},
        {"no time limit", 0, Phase::Call, false, false},
    };
    for (const auto &c : cases) {
        SampleConfig config;
        config.nodesPerSide = 4, config.steps = 3, config.timeLimit = c.limit;
        FakeRunner runner;
        Script &s = runner.scripts["density"];
        s.state = WorkerState::Running, s.phase = c.phase, s.step = 2, s.node = 7;
        s.hang = 10, s.progressing = c.progressing;
        const auto w = runDensity(runner, config);
        EXPECT_EQ(w->timedOut, c.ended) << c.what;
        ASSERT_EQ(runner.killedAt.size(), 1u);
        if (c.ended) {
            // It stood still from 0.2 s on (a look after its one step, one after it stopped).
            EXPECT_GT(runner.killedAt[0] - 0.2, c.limit) << c.what;
            EXPECT_LT(runner.killedAt[0] - 0.2, c.limit + 0.15) << c.what;
            EXPECT_TRUE(w->run.killed) << c.what;
        } else {
            EXPECT_EQ(runner.killedAt[0], -1) << c.what;
        }
        EXPECT_EQ(w->step, 2) << c.what; // where it was last seen
    }
}

// Values taken as they are written are those the worker wrote, and the
// file's pages they were in are let go at once; a worker whose values are
// not taken keeps them in its file.
TEST(Workers, ValuesAreTakenAsTheyAreWrittenAndTheirPagesLetGo) {
    SampleConfig config;
    config.nodesPerSide = 10, config.steps = 4; // 8^3 casting nodes: a step fills one page
    for (bool takes : {true, false}) {
        FakeRunner runner;
        runner.scripts["density"] = Script{};
        const auto w = runDensity(runner, config, takes);
        EXPECT_EQ(w->stepsTaken, takes ? 4 : 0);
        EXPECT_EQ(runner.released, takes && vhost::platform::releasesFileRanges() ? 4u : 0u);
        std::vector<double> got;
        ASSERT_TRUE(
            w->values()([&](const double *v, size_t n) { got.insert(got.end(), v, v + n); }));
        ASSERT_EQ(got.size(), 4u * 512u) << takes;
        for (size_t k = 0; k < got.size(); ++k)
            ASSERT_EQ(got[k], Script{}.value(k % 512, int(k / 512) + 1)) << takes << " " << k;
    }
}

// A count of steps written that runs ahead of the worker's calls (written
// into its header by something in its process) is never believed: no step
// is taken on its word, and the worker is judged for it.
TEST(Workers, ACountAheadOfTheCallsIsNeverTaken) {
    SampleConfig config;
    config.nodesPerSide = 10, config.steps = 4;
    FakeRunner runner;
    runner.scripts["density"].forgedWritten = 4;
    const auto w = runDensity(runner, config, true);
    EXPECT_TRUE(w->contradicted);
    EXPECT_EQ(w->stepsTaken, 1); // the one step written when the count was still true
}

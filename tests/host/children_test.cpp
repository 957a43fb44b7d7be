// children_test.cpp - runMany's loop on children that are not processes: a
// scripted child lasts a number of rounds, fails to start, or runs until it
// is killed, so the limit, the hand-over and the watch are seen exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/children.h"
#include "platform/files.h"

namespace {

using vhost::platform::RunResult;
namespace children = vhost::platform::children;

// A child of the script "rounds N" (ends after N rounds), "fail" (cannot
// start) or "forever" (ends only when killed).
struct FakeChild {
    size_t index = 0;
    bool ended = false;
    children::Clock::time_point endedAt;
    RunResult res;
    int roundsLeft = 0;
    bool open = false;
};

size_t gRunning = 0, gMostRunning = 0;

bool spawnChild(const std::vector<std::string> &args, FakeChild &c) {
    if (args[0] == "fail") {
        c.res.error = "cannot start";
        return false;
    }
    c.roundsLeft = args[0] == "forever" ? 1 << 30 : std::stoi(args[1]);
    c.open = true;
    c.res.started = true;
    gMostRunning = std::max(gMostRunning, ++gRunning);
    return true;
}

void killChild(FakeChild &c) {
    c.res.killed = true;
    c.roundsLeft = 0;
}

void endChild(FakeChild &c, bool block) {
    if (c.ended || (!block && c.roundsLeft > 0)) return;
    c.ended = true;
    c.endedAt = children::Clock::now();
    c.res.exited = !c.res.killed;
    c.res.status = c.res.killed ? 9 : 0;
    c.open = false; // its output ends with it
    --gRunning;
}

void closeChild(FakeChild &c) {
    c.open = false;
}

bool pipesOpen(const FakeChild &c) {
    return c.open;
}

void pump(std::vector<FakeChild> &active) {
    for (FakeChild &c : active)
        --c.roundsLeft;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

struct Ended {
    size_t index;
    RunResult res;
};

// The jobs of `scripts` through the loop; what each ended with, in the
// order they ended.
std::vector<Ended> runScripts(const std::vector<std::vector<std::string>> &scripts, int parallel,
                              const std::function<bool(size_t)> &watch = nullptr) {
    gRunning = gMostRunning = 0;
    std::vector<Ended> ended;
    const bool whole = children::runAll<FakeChild>(
        scripts, parallel,
        [&](size_t k, RunResult &r) {
            ended.push_back({k, r});
        },
        watch, nullptr);
    EXPECT_TRUE(whole);
    EXPECT_EQ(gRunning, 0u) << "a child was handed over before it ended";
    return ended;
}

TEST(ChildrenLoop, EveryJobEndsOnceWithinTheLimit) {
    const std::vector<std::vector<std::string>> jobs = {
        {"rounds", "3"}, {"fail"}, {"rounds", "1"}, {"rounds", "5"}, {"rounds", "2"}, {"fail"}};
    const struct {
        int parallel;
        size_t most;
    } cases[] = {{0, 1}, {1, 1}, {2, 2}, {3, 3}, {8, 4}};
    for (const auto &t : cases) {
        SCOPED_TRACE("parallel " + std::to_string(t.parallel));
        const std::vector<Ended> ended = runScripts(jobs, t.parallel);
        ASSERT_EQ(ended.size(), jobs.size());
        std::vector<int> seen(jobs.size(), 0);
        for (const Ended &e : ended) {
            ++seen[e.index];
            const bool fails = jobs[e.index][0] == "fail";
            EXPECT_EQ(e.res.started, !fails) << e.index;
            EXPECT_EQ(e.res.error.empty(), !fails) << e.index;
            EXPECT_EQ(e.res.exited, !fails) << e.index;
        }
        EXPECT_EQ(seen, std::vector<int>(jobs.size(), 1));
        EXPECT_EQ(gMostRunning, t.most);
    }
}

TEST(ChildrenLoop, ShorterJobsEndFirst) {
    const std::vector<Ended> ended =
        runScripts({{"rounds", "40"}, {"rounds", "2"}, {"rounds", "20"}}, 3);
    ASSERT_EQ(ended.size(), 3u);
    EXPECT_EQ(ended[0].index, 1u);
    EXPECT_EQ(ended[1].index, 2u);
    EXPECT_EQ(ended[2].index, 0u);
}

TEST(ChildrenLoop, TheWatchKillsOnlyTheChildItNames) {
    std::vector<size_t> watched;
    const std::vector<Ended> ended =
        runScripts({{"forever"}, {"rounds", "1"}, {"forever"}}, 3, [&](size_t k) {
            watched.push_back(k);
            return k != 1;
        });
    ASSERT_EQ(ended.size(), 3u);
    for (const Ended &e : ended) {
        EXPECT_EQ(e.res.killed, e.index != 1) << e.index;
        EXPECT_EQ(e.res.exited, e.index == 1) << e.index;
    }
    EXPECT_EQ(std::count(watched.begin(), watched.end(), size_t{1}), 0)
        << "a child that had ended was watched";
}

TEST(ChildrenLoop, AnEndedChildWaitsForItsPipesUpToASecond) {
    const auto now = children::Clock::now();
    const struct {
        bool ended, open;
        children::Clock::duration since;
        bool finished;
    } cases[] = {
        {false, false, {}, false},
        {false, true, std::chrono::seconds(5), false},
        {true, false, {}, true},
        {true, true, std::chrono::milliseconds(10), false},
        {true, true, std::chrono::milliseconds(1100), true},
    };
    for (const auto &t : cases) {
        FakeChild c;
        c.ended = t.ended;
        c.open = t.open;
        c.endedAt = now - t.since;
        EXPECT_EQ(children::finished(c), t.finished) << "ended " << t.ended << ", open " << t.open;
    }
}

} // namespace

// Where the scratch folder goes: the shared-memory folder only when the
// user set no TMPDIR, it is a memory file system this user can use, no
// other user can remove what is in it, and the run's files fit.
TEST(Platform, TheScratchFolderIsInMemoryOnlyWhenItIsSafeAndTheFilesFit) {
    using vhost::platform::MemoryFolder;
    const MemoryFolder shm{true, true, true, true, 1000}; // /dev/shm: 1777, tmpfs
    MemoryFolder notTmpfs = shm, notUsable = shm, notSticky = shm, privateFolder = shm;
    notTmpfs.tmpfs = false, notUsable.usable = false, notSticky.sticky = false;
    privateFolder.shared = privateFolder.sticky = false;
    const struct {
        const char *tmpdir;
        MemoryFolder m;
        uint64_t room;
        bool memory;
    } cases[] = {
        {nullptr, shm, 1000, true},        {"", shm, 1, true},
        {"/scratch", shm, 1, false},       {nullptr, shm, 1001, false},
        {nullptr, shm, 0, false},          {nullptr, notTmpfs, 1, false},
        {nullptr, notUsable, 1, false},    {nullptr, notSticky, 1, false},
        {nullptr, privateFolder, 1, true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(vhost::platform::useMemoryFolder(c.tmpdir, c.m, c.room), c.memory)
            << (c.tmpdir ? c.tmpdir : "unset") << " " << c.room;
}

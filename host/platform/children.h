// children.h - runMany's loop, the same on every system: start children up
// to the limit, let them run, kill those the watch or an interruption ends,
// and hand over each one that has finished.
//
// Each system's file gives its own Child type (members index, ended,
// endedAt of Clock, res) and, in the namespace of that type, the functions
// the loop calls on it:
//   bool spawnChild(const std::vector<std::string> &args, Child &c)
//       started, or false with the reason in c.res.error;
//   void killChild(Child &c)       kill it and what it started, res.killed set;
//   void endChild(Child &c, bool block)  reap it once it has ended (wait when block);
//   void closeChild(Child &c)      close what is left open of it;
//   bool pipesOpen(const Child &c) its output is not yet at end of file;
//   void pump(std::vector<Child> &active)  wait briefly for output and take it.
#pragma once

#include "platform/processes.h"
#include "platform/signals.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vhost::platform::children {

using Clock = std::chrono::steady_clock;
using Jobs = std::vector<std::vector<std::string>>;
using Done = std::function<void(size_t, RunResult &)>;

// Start jobs until `limit` children run or none is left; a job that cannot
// be started is done at once.
template <class Child>
void startJobs(const Jobs &jobs, size_t &next, size_t limit, std::vector<Child> &active,
               const Done &done) {
    while (active.size() < limit && next < jobs.size()) {
        Child c{};
        c.index = next++;
        if (spawnChild(jobs[c.index], c))
            active.push_back(std::move(c));
        else
            done(c.index, c.res);
    }
}

// Kill every running child and reap it: the run was interrupted.
template <class Child> void killAll(std::vector<Child> &active) {
    for (Child &c : active) {
        killChild(c);
        endChild(c, true);
        closeChild(c);
    }
}

// A child has finished when it has been reaped and its pipes are at end of
// file, or a second has passed since it ended: a process that left its
// group may hold them.
template <class Child> bool finished(const Child &c) {
    if (!c.ended) return false;
    return !pipesOpen(c) || Clock::now() - c.endedAt >= std::chrono::seconds(1);
}

// Kill the children `watch` asks for (on a tick), reap those that ended, and
// hand over each finished one.
template <class Child>
void retire(std::vector<Child> &active, bool tick, const std::function<bool(size_t)> &watch,
            const Done &done) {
    for (size_t k = active.size(); k-- > 0;) {
        Child &c = active[k];
        if (!c.ended && tick && watch && watch(c.index)) killChild(c);
        endChild(c, false);
        if (!finished(c)) continue;
        closeChild(c);
        Child over = std::move(c);
        active.erase(active.begin() + static_cast<std::ptrdiff_t>(k));
        done(over.index, over.res);
    }
}

// This process was stopped and continued by the watchdog since `resumed`:
// by a worker, alone or one of several.
template <class Child> void noteResumes(std::vector<Child> &active, int &resumed) {
    const int now = timesResumed();
    if (now == resumed) return;
    resumed = now;
    for (Child &c : active)
        c.res.stoppedParent = active.size() == 1 ? 1 : 2;
}

// runMany: the loop itself; `watch` and `idle` are called about every
// 100 ms.
template <class Child>
bool runAll(const Jobs &jobs, int parallel, const Done &done,
            const std::function<bool(size_t)> &watch, const std::function<void()> &idle) {
    std::vector<Child> active;
    size_t next = 0;
    const size_t limit = parallel < 1 ? 1 : static_cast<size_t>(parallel);
    Clock::time_point lastWatch = Clock::now();
    int resumed = timesResumed();
    while (next < jobs.size() || !active.empty()) {
        noteResumes(active, resumed);
        if (interrupted()) {
            killAll(active);
            return false;
        }
        startJobs(jobs, next, limit, active, done);
        if (active.empty()) continue;
        pump(active);
        // Again before any is handed over: a child that stopped this
        // process may end while it is stopped.
        noteResumes(active, resumed);
        const bool tick = Clock::now() - lastWatch >= std::chrono::milliseconds(100);
        if (tick) lastWatch = Clock::now();
        retire(active, tick, watch, done);
        if (tick && idle) idle();
    }
    return true;
}

} // namespace vhost::platform::children

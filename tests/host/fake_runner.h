// fake_runner.h - a WorkerRunner that starts no process: it writes each
// worker's result file as the test scripts it, a step at a time as a
// worker does, and looks in (watch, idle) after every step and while a
// call hangs, on a clock of its own that a look moves on by 0.1 s. The
// run's orchestration, its time limit and its taking of values are tested
// with it without processes or sleeps.
#pragma once

#include <gtest/gtest.h>

#include <signal.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "model/entries.h"
#include "parent/workers.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "protocol/protocol.h"

namespace vtest {

// What one worker does and leaves behind, as a test scripts it.
struct Script {
    vhost::WorkerState state = vhost::WorkerState::Complete;
    vhost::Phase phase = vhost::Phase::Unload;
    int step = -1, node = 0; // where it ends; -1: the last step
    bool started = true, exited = true;
    int status = 0;
    std::string out;
    bool badMagic = false;
    // A crash or exit() found the worker's own fault handler in place (not
    // one user code put there).
    bool ownHandler = true;
    // The value at the i-th called node of a step; NaN and the like allowed.
    std::function<double(size_t i, int step)> value = [](size_t i, int s) {
        return 1.0 + double(i % 97) * 0.01 + s;
    };
    // Survey: the entry points exported, as kExported / kExportedPlaceholder.
    std::map<std::string, uint8_t> exports;
    bool external = false;
    // In a container the system ends whole (or why not).
    bool contained = true;
    std::string uncontained;
    // Processor time: the worker's whole (as the system counts it), inside
    // the user's calls and filling the host's arrays (as it reports them).
    double cpu = 0, inCalls = 1e-3, filling = 0;
    // Peak memory as the system counts it, and as the worker says (0: says none).
    uint64_t peak = 0, ownPeak = 0;
    // Where it ends, it stays for `hang` seconds of the runner's clock
    // before it ends as scripted (a call that does not return, or the
    // emulator's own work), its calls counted on when `progressing`;
    // watch() may end it meanwhile.
    double hang = 0;
    bool progressing = false;
    // Something in the worker's process writes this count of steps written
    // into its header in the middle of step 2 (0: nothing does).
    int forgedWritten = 0;
};

class FakeRunner final : public vhost::WorkerRunner {
  public:
    std::map<std::string, Script> scripts; // by worker name, "name.order" for a tagged one
    std::vector<std::vector<std::string>> commands;
    double now = 0;
    // Per job: the clock when watch() ended it, or -1.
    std::vector<double> killedAt;
    // Steps whose values were no longer in the file when the worker ended:
    // the parent took them as they were written and let their pages go.
    size_t released = 0;

    bool run(const std::vector<std::vector<std::string>> &jobs, int, const Done &done,
             const Watch &watch, const Idle &idle) override {
        for (size_t k = 0; k < jobs.size(); ++k) {
            commands.push_back(jobs[k]);
            const std::string name = jobs[k].at(2), path = jobs[k].at(4);
            const std::string stem = std::filesystem::path(path).stem().string();
            const Script &s = scripts.count(stem) ? scripts.at(stem) : scripts.at(name);
            vhost::platform::RunResult r;
            r.started = s.started;
            r.exited = s.exited;
            r.status = s.status;
            r.cpuSeconds = s.cpu;
            r.peakBytes = s.peak;
            r.out.add(s.out.data(), s.out.size());
            killedAt.push_back(-1);
            if (s.started && play(path, s, [&] { return look(k, watch, idle); })) {
                r.killed = true, r.exited = false, r.status = SIGKILL;
                killedAt.back() = now;
            }
            done(k, r);
        }
        return true;
    }
    double seconds() const override { return now; }

  private:
    // One look of the parent's at job k: true when it ends the job.
    bool look(size_t k, const Watch &watch, const Idle &idle) {
        now += 0.1;
        const bool end = watch && watch(k);
        if (idle) idle();
        return end;
    }

    // The worker's side of the result file: its steps' values one after
    // another with a look after each, then where it ends; true when a look
    // ended it.
    bool play(const std::string &path, const Script &s, const std::function<bool()> &look) {
        std::string error;
        const vhost::platform::FileHandle f =
            vhost::platform::openExisting(path, std::filesystem::file_size(path), error);
        EXPECT_NE(f, -1) << error;
        vhost::ResultHeader h;
        EXPECT_TRUE(vhost::platform::readAt(f, &h, sizeof h, 0));
        const bool killed = writeSteps(f, s, h, look) || stay(f, s, h, look);
        vhost::platform::closeFile(f);
        return killed;
    }

    // The values of the steps it completes, each followed by a look.
    bool writeSteps(vhost::platform::FileHandle f, const Script &s, vhost::ResultHeader &h,
                    const std::function<bool()> &look) {
        const bool order = h.kind == int32_t(vhost::WorkerKind::Order);
        const size_t steps = size_t(h.steps),
                     perStep = h.count ? size_t(h.count) / steps / (order ? 2 : 1) : 0;
        const bool complete = s.state == vhost::WorkerState::Complete;
        const size_t done = complete ? steps : size_t(s.step > 1 ? s.step - 1 : 0);
        std::vector<std::vector<double>> written;
        for (size_t st = 1; perStep && st <= done; ++st) {
            std::vector<double> v(perStep);
            for (size_t i = 0; i < perStep; ++i)
                v[i] = s.value(i, int(st));
            for (size_t copy = 0; copy < (order ? 2u : 1u); ++copy) {
                const uint64_t at = ((st - 1) + copy * steps) * perStep * sizeof(double);
                EXPECT_TRUE(vhost::platform::writeAt(f, v.data(), perStep * sizeof(double),
                                                     vhost::kResultHeaderSize + at));
            }
            written.push_back(std::move(v));
            h.pos = {int32_t(vhost::Phase::Between), int32_t(st), 0, int64_t(st * perStep)};
            if (!order) h.stepsWritten = int32_t(st);
            EXPECT_TRUE(vhost::platform::writeAt(f, &h, sizeof h, 0));
            if (look()) return true;
            if (st == 1 && s.forgedWritten) {
                vhost::ResultHeader forged = h;
                forged.pos = {int32_t(vhost::Phase::Call), 2, 3, h.pos.calls + 3};
                forged.stepsWritten = s.forgedWritten;
                EXPECT_TRUE(vhost::platform::writeAt(f, &forged, sizeof forged, 0));
                if (look()) return true;
            }
        }
        // The steps the parent took meanwhile are gone from the file.
        for (size_t st = 1; st <= written.size(); ++st) {
            std::vector<double> now(perStep);
            EXPECT_TRUE(vhost::platform::readAt(f, now.data(), perStep * sizeof(double),
                                                vhost::kResultHeaderSize +
                                                    (st - 1) * perStep * sizeof(double)));
            released +=
                std::memcmp(now.data(), written[st - 1].data(), perStep * sizeof(double)) != 0;
        }
        return false;
    }

    // Where it ends, for as long as the script says, then as it says.
    bool stay(vhost::platform::FileHandle f, const Script &s, vhost::ResultHeader &h,
              const std::function<bool()> &look) {
        h.state = static_cast<int32_t>(s.state);
        h.pos.phase = static_cast<int32_t>(s.phase);
        h.pos.step = static_cast<int32_t>(s.step < 0 ? h.steps : s.step);
        h.pos.node = s.node;
        h.pos.calls = h.count > 0 ? h.count : h.steps;
        h.cpuSeconds = h.seconds = s.inCalls;
        h.fillCpuSeconds = s.filling;
        h.peakBytes = s.ownPeak;
        if (s.badMagic) h.magic[0] = 'X';
        for (size_t k = 0; k < std::size(vhost::kEntryPoints); ++k) {
            auto e = s.exports.find(vhost::kEntryPoints[k].name);
            h.exported[k] = e == s.exports.end() ? vhost::kNotExported : e->second;
        }
        h.exportsExternal = s.external;
        h.contained = s.contained;
        std::snprintf(h.containNote, sizeof h.containNote, "%s", s.uncontained.c_str());
        h.crashHookRan = !s.exited && s.ownHandler;
        h.exitState = !s.exited      ? vhost::kExitNotSeen
                      : s.ownHandler ? vhost::kExitOwnHandler
                                     : vhost::kExitForeignHandler;
        EXPECT_TRUE(vhost::platform::writeAt(f, &h, sizeof h, 0));
        for (const double end = now + s.hang; now < end;) {
            if (s.progressing) {
                h.pos.calls = h.pos.calls + 1;
                EXPECT_TRUE(vhost::platform::writeAt(f, &h, sizeof h, 0));
            }
            if (look()) return true;
        }
        return false;
    }
};

} // namespace vtest

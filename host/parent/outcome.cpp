// outcome.cpp - classifying a worker's ending and putting it in words.
#include "parent/outcome.h"

#include "model/entries.h"
#include "model/guard.h"
#include "platform/processes.h"
#include "platform/signals.h"
#include "parent/workers.h"

namespace vhost {

std::string where(const WorkerResult &r) {
    const std::string s = "step " + std::to_string(r.step);
    switch (r.phase) {
    case Phase::Load:
        return "while the library was loading (in its constructors)";
    case Phase::Unload:
        return "after the last call, while the process ended (in the library's destructors or "
               "exit handlers)";
    case Phase::External:
        return s + ", in func_externalcompute";
    case Phase::Registration:
        return s + ", node " + std::to_string(r.node) + " (registration call, location = -1)";
    case Phase::Call:
        return s + ", node " + std::to_string(r.node);
    case Phase::Setup:
    case Phase::Between:
        break;
    }
    return "in the emulator's own work at " + s;
}

std::string ending(const Outcome &e, double timeLimit) {
    const WorkerResult &r = e.result;
    switch (e.status) {
    case Outcome::Stopped:
        return "stopped the process with exit status " + std::to_string(e.exitStatus);
    case Outcome::Crashed:
        return "crashed (" + platform::signalName(e.exitStatus) + ")";
    case Outcome::TimedOut:
        return "took longer than the time limit of " + std::to_string(int(timeLimit)) + " s";
    case Outcome::Modified:
        return "modified the host's array " + std::string(kGuardedArrays[r.modifiedArray]) +
               " (entry " + std::to_string(r.modifiedEntry) + ")";
    case Outcome::Forked:
        return "made a copy of its process (fork)";
    case Outcome::Interfered:
        return e.detail;
    default:
        return e.detail.empty() ? "failed" : e.detail;
    }
}

namespace {

// The status of a worker that ended inside user code with a valid result
// file: complete, a placeholder, stopped or crashed.
Outcome::Status userEnding(const WorkerJob &w, const Outcome &r) {
    const WorkerResult &res = r.result;
    const platform::RunResult &run = w.run;
    if (!run.exited) return Outcome::Crashed;
    if (res.state == WorkerState::Complete && run.status == 0) return Outcome::Ok;
    const bool firstCall = res.step == 1 && res.calls == 1 &&
                           (res.phase == Phase::Call || res.phase == Phase::Registration);
    return firstCall && run.status == 1 && run.out.complete() &&
                   r.printed == placeholderLine(w.name)
               ? Outcome::Placeholder
               : Outcome::Stopped;
}

// Status (and detail) of `r` from its checked result file and how the
// process ended; Ok still needs its values checked by the caller.
void judgeEnding(const WorkerJob &w, bool valid, const std::string &error, Outcome &r) {
    const WorkerResult &res = r.result;
    const platform::RunResult &run = w.run;
    if (!valid) {
        r.status = Outcome::Error, r.detail = error;
    } else if (w.contradicted) {
        r.status = Outcome::Error;
        r.detail = "the worker's result file contradicted itself (its count of the steps written "
                   "ran ahead of its calls): something in its process wrote into it";
    } else if (w.timedOut) {
        r.status = Outcome::TimedOut;
    } else if (run.signalledParent) {
        r.status = Outcome::Interfered;
        r.detail = "sent " + platform::signalName(run.signalledParent) +
                   " to the emulator, its parent process (ignored here; in the solver it would "
                   "end or stop the solver)";
    } else if (run.stoppedParent) {
        r.status = Outcome::Interfered;
        r.detail =
            std::string(run.stoppedParent == 2 ? "(or an entry point running beside it) " : "") +
            "stopped the emulator, its parent process (SIGSTOP; continued here, in the solver "
            "it would stop the solver)";
    } else if (res.state == WorkerState::Interfered) {
        r.status = Outcome::Interfered, r.detail = res.message;
    } else if (run.killed) {
        r.status = Outcome::EmulatorError, r.detail = "the worker was ended by the emulator";
    } else if (res.modifiedArray >= 0) {
        r.status = Outcome::Modified;
    } else if (res.state == WorkerState::SetupFailed || res.state == WorkerState::LoadFailed) {
        r.status = Outcome::EmulatorError, r.detail = res.message;
    } else if (!isUserPhase(res.phase)) {
        r.status = Outcome::EmulatorError;
        r.detail = std::string("the worker ") +
                   (run.exited ? "ended with exit status " + std::to_string(run.status)
                               : "died of " + platform::signalName(run.status)) +
                   " " + where(res);
    } else {
        r.status = userEnding(w, r);
        if (r.status == Outcome::Ok && res.forkedStep > 0) r.status = Outcome::Forked;
    }
}

} // namespace

Outcome classify(WorkerJob &w, bool named, UninitializedVector<double> *reuse, bool withValues) {
    Outcome r;
    r.name = w.name;
    platform::RunResult &run = w.run;
    if (!run.started) {
        r.status = Outcome::EmulatorError;
        r.detail = "cannot start the worker: " + run.error;
        r.failure = true;
        return r;
    }
    r.printed = run.out.text();
    r.errors = run.err.text();
    r.printedBytes = run.out.total;
    r.peakBytes = run.peakBytes;
    r.cpuSeconds = run.cpuSeconds;
    r.errorBytes = run.err.total;
    r.exited = run.exited;
    r.exitStatus = run.status;
    std::string error;
    if (reuse) r.result.values.swap(*reuse);
    const bool valid = readResult(w.file, w.shape, r.result, error, withValues);
    // The system's figure holds, on Linux, what this process had resident
    // when it started the worker; the worker's own, when it gave one, is
    // taken only to lower it.
    if (valid && r.result.peakBytes > 0) r.peakBytes = std::min(r.peakBytes, r.result.peakBytes);
    judgeEnding(w, valid, error, r);
    r.failure = r.status != Outcome::Ok && (r.status != Outcome::Placeholder || named);
    return r;
}

void markValuesUnread(Outcome &e) {
    e.status = Outcome::Error, e.detail = "the worker's values cannot be read";
    e.failure = true, e.valuesRead = false;
}

bool maybeForeignHandler(const Outcome &r) {
    return (r.status == Outcome::Crashed && !r.result.crashHookRan) ||
           (r.status == Outcome::Stopped && r.result.exitState != kExitOwnHandler);
}

} // namespace vhost

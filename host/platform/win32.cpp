// win32.cpp - child processes on Windows (native or MinGW): the workers,
// each in a job object of its own, run with their output captured.
#include "platform/processes.h"
#include "platform/system.h"
#include "platform/children.h"
#include "platform/win32_system.h"

#include <windows.h>

namespace vhost::platform {

// ---- child processes -------------------------------------------------------

// One argument quoted for CommandLineToArgvW / the C runtime's parser, as
// it is shown to the user; an argument needing none stays as it is.
static std::string quoteArgument(const std::string &a) {
    if (!a.empty() && a.find_first_of(" \t\n\v\"") == std::string::npos) return a;
    return shellQuoted(a);
}

// The inheritable handle of a standard stream, or null.
static HANDLE inheritable(DWORD which) {
    HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return nullptr;
    HANDLE dup = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &dup, 0, TRUE,
                         DUPLICATE_SAME_ACCESS))
        return nullptr;
    return dup;
}

// Read what is available in the pipe into `out`; false at end of data.
static bool readAvailable(HANDLE pipe, Captured &out) {
    DWORD avail = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &avail, nullptr)) return false;
    while (avail > 0) {
        char buf[65536];
        DWORD n = 0;
        DWORD want = avail < sizeof buf ? avail : static_cast<DWORD>(sizeof buf);
        if (!ReadFile(pipe, buf, want, &n, nullptr) || n == 0) return false;
        out.add(buf, n);
        avail -= n;
    }
    return true;
}

namespace {

using Clock = children::Clock;

// A running child: process handle, its job object, the read ends of its
// stdout and stderr pipes, output.
struct Child {
    HANDLE process = nullptr, job = nullptr, pipe[2] = {nullptr, nullptr};
    size_t index = 0;
    bool ended = false;
    Clock::time_point endedAt;
    RunResult res;
};

// A failure to start a process that may pass when tried again: the system
// was short of memory or handles for a moment (an emulated system also
// reports a busy server as an internal error). A missing or bad program
// is not retried.
static bool transientStartError(DWORD code) {
    switch (code) {
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_COMMITMENT_LIMIT:
    case ERROR_INTERNAL_ERROR:
    case ERROR_TOO_MANY_OPEN_FILES:
        return true;
    default:
        return false;
    }
}

// Anonymous pipes for the child's stdout and stderr: the read ends stay
// here (not inherited), the write ends go to the child. False, with the
// reason in res.error and nothing left open, when one cannot be made.
bool makePipes(Child &c, HANDLE writeEnd[2]) {
    SECURITY_ATTRIBUTES sa{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    for (int k = 0; k < 2; ++k) {
        if (!CreatePipe(&c.pipe[k], &writeEnd[k], &sa, 0)) {
            c.res.error = systemMessage(GetLastError());
            for (int j = 0; j < k; ++j)
                CloseHandle(c.pipe[j]), CloseHandle(writeEnd[j]);
            return false;
        }
        SetHandleInformation(c.pipe[k], HANDLE_FLAG_INHERIT, 0);
    }
    return true;
}

// The command line of `args`, each quoted as its parser needs, writable
// and terminated as CreateProcess wants it.
std::vector<char> commandLine(const std::vector<std::string> &args) {
    std::string cmd;
    for (const auto &a : args) {
        if (!cmd.empty()) cmd += ' ';
        cmd += quoteArgument(a);
    }
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    return line;
}

// CreateProcess, suspended, tried again after a pause (0.5, 1, 2 s) while
// it fails for a reason that may pass; `error` is the last try's error.
bool createSuspended(std::vector<char> &line, STARTUPINFOA &si, PROCESS_INFORMATION &pi,
                     DWORD &error) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (attempt > 0) Sleep(250u << attempt);
        if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                           nullptr, &si, &pi))
            return true;
        error = GetLastError();
        if (!transientStartError(error)) break;
    }
    return false;
}

// A job object of its own for `process`: everything it starts stays in
// it, and closing the job kills them. Null when there is none.
HANDLE ownJob(HANDLE process) {
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (!job) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limit{};
    limit.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limit, sizeof limit);
    if (AssignProcessToJobObject(job, process)) return job;
    CloseHandle(job);
    return nullptr;
}

// CreateProcess, suspended until it is in a job object of its own, with
// stdout and stderr on anonymous pipes whose read ends stay here; false
// (reason in res.error) when it cannot be started.
bool spawnChild(const std::vector<std::string> &args, Child &c) {
    HANDLE writeEnd[2] = {nullptr, nullptr};
    if (!makePipes(c, writeEnd)) return false;
    std::vector<char> line = commandLine(args);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd[0];
    si.hStdError = writeEnd[1];
    si.hStdInput = inheritable(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    DWORD createError = 0;
    const bool ok = createSuspended(line, si, pi, createError);
    CloseHandle(writeEnd[0]);
    CloseHandle(writeEnd[1]);
    if (si.hStdInput) CloseHandle(si.hStdInput);
    if (!ok) {
        CloseHandle(c.pipe[0]);
        CloseHandle(c.pipe[1]);
        c.res.error = systemMessage(createError);
        return false;
    }
    c.job = ownJob(pi.hProcess);
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);
    c.process = pi.hProcess;
    c.res.started = true;
    return true;
}

// Kill the child and everything in its job.
void killChild(Child &c) {
    c.res.killed = true;
    if (c.job) TerminateJobObject(c.job, 1);
    TerminateProcess(c.process, 1);
}

// Once the process has ended: its exit code, then whatever is left in its
// job is killed.
void endChild(Child &c, bool block) {
    if (c.ended) return;
    if (WaitForSingleObject(c.process, block ? INFINITE : 0) != WAIT_OBJECT_0) return;
    DWORD code = 0;
    GetExitCodeProcess(c.process, &code);
    c.res.cpuSeconds = processSeconds(c.process);
    if (c.job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION info{};
        if (QueryInformationJobObject(c.job, JobObjectExtendedLimitInformation, &info, sizeof info,
                                      nullptr))
            c.res.peakBytes = info.PeakProcessMemoryUsed;
        TerminateJobObject(c.job, 1);
    }
    c.ended = true;
    c.endedAt = Clock::now();
    // Exception codes (access violation 0xC0000005, ...) mark a crash.
    c.res.exited = code < 0xC0000000u;
    c.res.status = static_cast<int>(code);
}

// Close the pipes, the job and the process handle still open.
void closeChild(Child &c) {
    for (HANDLE &p : c.pipe)
        if (p) CloseHandle(p), p = nullptr;
    if (c.job) CloseHandle(c.job), c.job = nullptr;
    if (c.process) CloseHandle(c.process), c.process = nullptr;
}

// Whether a pipe of the child is still open.
bool pipesOpen(const Child &c) {
    return c.pipe[0] || c.pipe[1];
}

// Anonymous pipes cannot be waited on together, so every pipe is drained
// in turn; when none had anything, a short sleep.
void pump(std::vector<Child> &active) {
    bool progress = false;
    for (Child &c : active)
        for (int s = 0; s < 2; ++s) {
            if (!c.pipe[s]) continue;
            Captured &into = s == 0 ? c.res.out : c.res.err;
            const uint64_t before = into.total;
            if (!readAvailable(c.pipe[s], into)) CloseHandle(c.pipe[s]), c.pipe[s] = nullptr;
            progress = progress || into.total != before;
        }
    if (!progress) Sleep(10);
}

} // namespace

// The job object the worker runs in ends every process in it with it.
bool containWorker(std::string &) {
    return true;
}

bool runForked(const std::function<void()> &, double, std::string &, bool &, int &) {
    return false;
}

// The children are polled: every pipe drained, the children watched and
// reaped.
bool runMany(const std::vector<std::vector<std::string>> &jobs, int parallel,
             const std::function<void(size_t, RunResult &)> &done,
             const std::function<bool(size_t)> &watch, const std::function<void()> &idle) {
    return children::runAll<Child>(jobs, parallel, done, watch, idle);
}

} // namespace vhost::platform

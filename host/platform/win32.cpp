// win32.cpp - the platform layer on Windows (native or MinGW).
// rand_s, the C runtime's interface to the system's random numbers, is
// declared only when this is defined before the first standard header.
#define _CRT_RAND_S
#include <stdlib.h>

#include "platform/platform.h"

#include <windows.h>
#include <psapi.h>
#include <fcntl.h>
#include <io.h>
#include <chrono>
#include <cstdio>

namespace vhost::platform {

// ---- libraries ---------------------------------------------------------------

// The system's text for error code `code`, without the trailing newline.
std::string systemMessage(DWORD code) {
    char *text = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string s = n && text ? std::string(text, n) : "error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s;
}

// LoadLibraryEx, so that DLLs the library needs (the microstructure
// library) are searched next to it first.
void *loadLibrary(const std::string &path, std::string &error) {
    HMODULE h = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!h) error = systemMessage(GetLastError());
    return reinterpret_cast<void *>(h);
}

// GetProcAddress: also gives the address of data exported with DATA.
void *findSymbol(void *library, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

// ---- process facts -----------------------------------------------------------

// GetModuleFileName of the executable.
std::string executablePath() {
    char buf[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) return "";
    return std::string(buf, n);
}

// lib<name>.dll, the name the user-library build gives on Windows.
std::string libraryFileName(const std::string &name) {
    return "lib" + name + ".dll";
}

// Binary mode (the C runtime would write "\r\n"), and no buffering: the
// runtime's line buffering is full buffering, which would lose the last
// lines before a crash.
void rawStdout() {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
}

int silenceStdout() {
    std::fflush(stdout);
    int saved = _dup(1);
    int null = _open("NUL", _O_WRONLY);
    if (saved < 0 || null < 0 || _dup2(null, 1) < 0) {
        if (saved >= 0) _close(saved);
        if (null >= 0) _close(null);
        return -1;
    }
    _close(null);
    return saved;
}

void restoreStdout(int token) {
    if (token < 0) return;
    std::fflush(stdout);
    _dup2(token, 1);
    _close(token);
}

uint64_t availableMemory() {
    MEMORYSTATUSEX m{};
    m.dwLength = sizeof m;
    return GlobalMemoryStatusEx(&m) ? m.ullAvailPhys : 0;
}

uint64_t peakMemory() {
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof pmc;
    return GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc) ? pmc.PeakWorkingSetSize : 0;
}

double threadCpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    auto ticks = [](const FILETIME &f) {
        return double((uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) * 1e-7; // 100 ns units
}

namespace {
double gProcessorStart = 0; // this process's own time when the run began

double seconds(const FILETIME &f) {
    return double((uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime) * 1e-7; // 100 ns
}

// User and kernel time of the process `p`.
double processSeconds(HANDLE p) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(p, &created, &exited, &kernel, &user)) return 0;
    return seconds(kernel) + seconds(user);
}
} // namespace

void markProcessorStart() {
    gProcessorStart = processSeconds(GetCurrentProcess());
}

double processorSeconds() {
    const double now = processSeconds(GetCurrentProcess()) - gProcessorStart;
    return now > 0 ? now : 0;
}

uint64_t freeDiskSpace(const std::string &path) {
    ULARGE_INTEGER avail{};
    if (!GetDiskFreeSpaceExA(path.c_str(), &avail, nullptr, nullptr)) return UINT64_MAX;
    return avail.QuadPart;
}

// The exception codes a crash ends with; others in hexadecimal.
// Backslashes are literal except before a quote, where each is doubled and
// the quote escaped; the closing quote doubles the trailing ones.
std::string shellQuoted(const std::string &arg) {
    std::string q = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        q.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        q += c;
    }
    q.append(2 * backslashes, '\\');
    return q + "\"";
}

std::string signalName(int code) {
    static const struct {
        DWORD code;
        const char *name;
    } names[] = {{0xC0000005u, "EXCEPTION_ACCESS_VIOLATION"},
                 {0xC0000094u, "EXCEPTION_INT_DIVIDE_BY_ZERO"},
                 {0xC00000FDu, "EXCEPTION_STACK_OVERFLOW"},
                 {0xC000001Du, "EXCEPTION_ILLEGAL_INSTRUCTION"},
                 {0xC0000096u, "EXCEPTION_PRIV_INSTRUCTION"},
                 {0xC000008Eu, "EXCEPTION_FLT_DIVIDE_BY_ZERO"},
                 {0xC0000409u, "STATUS_STACK_BUFFER_OVERRUN"},
                 {0xC0000374u, "STATUS_HEAP_CORRUPTION"},
                 {0x80000003u, "EXCEPTION_BREAKPOINT"}};
    for (const auto &n : names)
        if (n.code == static_cast<DWORD>(code)) return n.name;
    char buf[32];
    std::snprintf(buf, sizeof buf, "exception 0x%08lX",
                  static_cast<unsigned long>(static_cast<DWORD>(code)));
    return buf;
}

// ---- crashes and interruption ---------------------------------------------------

namespace {
void (*gCrashHook)(const void *) = nullptr;
volatile LONG gInterrupted = 0;

// Run the hook once, then let Windows end the process as it would have.
LONG WINAPI crashed(EXCEPTION_POINTERS *info) {
    if (void (*hook)(const void *) = gCrashHook) {
        gCrashHook = nullptr;
        const EXCEPTION_RECORD *r = info ? info->ExceptionRecord : nullptr;
        const void *address = nullptr;
        if (r && r->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && r->NumberParameters >= 2)
            address = reinterpret_cast<const void *>(r->ExceptionInformation[1]);
        hook(address);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// Ctrl-C is SIGINT's 2, the others SIGTERM's 15.
BOOL WINAPI consoleEvent(DWORD event) {
    InterlockedCompareExchange(&gInterrupted, event == CTRL_C_EVENT ? 2 : 15, 0);
    return TRUE;
}
} // namespace

void onCrash(void (*hook)(const void *)) {
    gCrashHook = hook;
    ULONG guarantee = 1 << 16; // room for the hook after a stack overflow
    SetThreadStackGuarantee(&guarantee);
    SetUnhandledExceptionFilter(crashed);
}

// Faults are not resumed here: whoever asks fills its pages beforehand.
bool onFault(bool (*)(const void *)) {
    return false;
}

bool faultsReachResolver() {
    return false;
}

void catchInterrupts() {
    SetConsoleCtrlHandler(consoleEvent, TRUE);
}

void onFork(void (*)(), void (*)()) {}

// Workers are in the bench's job object, which ends them with it.
void markWorkersParent() {}
bool endWithParent() {
    return true;
}

int interrupted() {
    return static_cast<int>(gInterrupted);
}

// ---- child processes -------------------------------------------------------

// One argument quoted for CommandLineToArgvW / the C runtime's parser:
// backslashes are literal except before a quote, where they are doubled.
static std::string quoteArgument(const std::string &a) {
    if (!a.empty() && a.find_first_of(" \t\n\v\"") == std::string::npos) return a;
    std::string q = "\"";
    size_t slashes = 0;
    for (char c : a) {
        if (c == '\\') {
            ++slashes;
        } else if (c == '"') {
            q.append(slashes * 2 + 1, '\\');
            q += '"';
            slashes = 0;
        } else {
            q.append(slashes, '\\');
            q += c;
            slashes = 0;
        }
    }
    q.append(slashes * 2, '\\');
    q += '"';
    return q;
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

using Clock = std::chrono::steady_clock;

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

// CreateProcess, suspended until it is in a job object of its own, with
// stdout and stderr on anonymous pipes whose read ends stay here; false
// (reason in res.error) when it cannot be started.
bool spawnChild(const std::vector<std::string> &args, Child &c) {
    SECURITY_ATTRIBUTES sa{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE writeEnd[2] = {nullptr, nullptr};
    for (int k = 0; k < 2; ++k) {
        if (!CreatePipe(&c.pipe[k], &writeEnd[k], &sa, 0)) {
            c.res.error = systemMessage(GetLastError());
            for (int j = 0; j < k; ++j)
                CloseHandle(c.pipe[j]), CloseHandle(writeEnd[j]);
            return false;
        }
        SetHandleInformation(c.pipe[k], HANDLE_FLAG_INHERIT, 0);
    }
    std::string cmd;
    for (const auto &a : args) {
        if (!cmd.empty()) cmd += ' ';
        cmd += quoteArgument(a);
    }
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd[0];
    si.hStdError = writeEnd[1];
    si.hStdInput = inheritable(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    BOOL ok = FALSE;
    DWORD createError = 0;
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (attempt > 0) Sleep(250u << attempt);
        ok = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                            nullptr, &si, &pi);
        createError = ok ? 0 : GetLastError();
        if (ok || !transientStartError(createError)) break;
    }
    CloseHandle(writeEnd[0]);
    CloseHandle(writeEnd[1]);
    if (si.hStdInput) CloseHandle(si.hStdInput);
    if (!ok) {
        CloseHandle(c.pipe[0]);
        CloseHandle(c.pipe[1]);
        c.res.error = systemMessage(createError);
        return false;
    }
    // Everything it starts stays in its job; closing the job kills them.
    c.job = CreateJobObjectA(nullptr, nullptr);
    if (c.job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limit{};
        limit.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(c.job, JobObjectExtendedLimitInformation, &limit, sizeof limit);
        if (!AssignProcessToJobObject(c.job, pi.hProcess)) {
            CloseHandle(c.job);
            c.job = nullptr;
        }
    }
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

void closeChild(Child &c) {
    for (HANDLE &p : c.pipe)
        if (p) CloseHandle(p), p = nullptr;
    if (c.job) CloseHandle(c.job), c.job = nullptr;
    if (c.process) CloseHandle(c.process), c.process = nullptr;
}

} // namespace

// No signals stop a process on Windows.
void resumeWhenStopped() {}
int timesResumed() {
    return 0;
}

// Windows has no per-process limits user code would lower this way.
void keepLimits() {}
std::string loweredLimit() {
    return "";
}

void setEnvironment(const char *name, const std::string &value) {
    _putenv_s(name, value.c_str());
}

void unsetEnvironment(const char *name) {
    _putenv_s(name, "");
}

bool runForked(const std::function<void()> &, double, std::string &, bool &, int &) {
    return false;
}

// Anonymous pipes cannot be waited on together, so the children are
// polled: drain every pipe, watch and reap the children, then sleep briefly
// when nothing happened.
bool runMany(const std::vector<std::vector<std::string>> &jobs, int parallel,
             const std::function<void(size_t, RunResult &)> &done,
             const std::function<bool(size_t)> &watch, const std::function<void()> &idle) {
    std::vector<Child> active;
    size_t next = 0;
    const size_t limit = parallel < 1 ? 1 : static_cast<size_t>(parallel);
    Clock::time_point lastWatch = Clock::now();
    while (next < jobs.size() || !active.empty()) {
        if (interrupted()) {
            for (Child &c : active) {
                killChild(c);
                endChild(c, true);
                closeChild(c);
            }
            return false;
        }
        while (active.size() < limit && next < jobs.size()) {
            Child c;
            c.index = next++;
            if (spawnChild(jobs[c.index], c))
                active.push_back(std::move(c));
            else
                done(c.index, c.res);
        }
        bool progress = false;
        const bool tick = Clock::now() - lastWatch >= std::chrono::milliseconds(100);
        if (tick) lastWatch = Clock::now();
        for (size_t k = active.size(); k-- > 0;) {
            Child &c = active[k];
            for (int s = 0; s < 2; ++s) {
                if (!c.pipe[s]) continue;
                Captured &into = s == 0 ? c.res.out : c.res.err;
                uint64_t before = into.total;
                if (!readAvailable(c.pipe[s], into)) CloseHandle(c.pipe[s]), c.pipe[s] = nullptr;
                progress = progress || into.total != before;
            }
            if (!c.ended && tick && watch && watch(c.index)) killChild(c);
            endChild(c, false);
            const bool open = c.pipe[0] || c.pipe[1];
            if (!c.ended || (open && Clock::now() - c.endedAt < std::chrono::seconds(1))) continue;
            Child finished = std::move(c);
            active.erase(active.begin() + static_cast<std::ptrdiff_t>(k));
            closeChild(finished);
            done(finished.index, finished.res);
            progress = true;
        }
        if (tick && idle) idle();
        if (!progress && !active.empty()) Sleep(10);
    }
    return true;
}

} // namespace vhost::platform

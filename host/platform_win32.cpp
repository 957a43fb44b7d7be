// platform_win32.cpp - the platform layer on Windows (native or MinGW).
#include "platform.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <cstdio>

namespace vhost::platform {

// ---- libraries ---------------------------------------------------------------

// The system's text for error code `code`, without the trailing newline.
static std::string systemMessage(DWORD code) {
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

// GetCurrentProcessId
long processId() {
    return static_cast<long>(GetCurrentProcessId());
}

// _isatty on the C runtime's stderr.
bool stderrIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
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
static bool readAvailable(HANDLE pipe, std::string &out) {
    DWORD avail = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &avail, nullptr)) return false;
    while (avail > 0) {
        char buf[65536];
        DWORD n = 0;
        DWORD want = avail < sizeof buf ? avail : static_cast<DWORD>(sizeof buf);
        if (!ReadFile(pipe, buf, want, &n, nullptr) || n == 0) return false;
        out.append(buf, n);
        avail -= n;
    }
    return true;
}

namespace {

// A running child: process handle, read end of its stdout pipe, output.
struct Child {
    HANDLE process = nullptr, pipe = nullptr;
    size_t index = 0;
    bool open = true; // the pipe still has a writer
    RunResult res;
};

// CreateProcess with stdout on an anonymous pipe whose read end stays in
// this process; false (reason in res.error) when it cannot be started.
bool spawnChild(const std::vector<std::string> &args, Child &c) {
    SECURITY_ATTRIBUTES sa{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&c.pipe, &writeEnd, &sa, 0)) {
        c.res.error = systemMessage(GetLastError());
        return false;
    }
    SetHandleInformation(c.pipe, HANDLE_FLAG_INHERIT, 0);
    std::string cmd;
    for (const auto &a : args) {
        if (!cmd.empty()) cmd += ' ';
        cmd += quoteArgument(a);
    }
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = inheritable(STD_ERROR_HANDLE);
    si.hStdInput = inheritable(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    BOOL ok =
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    DWORD createError = ok ? 0 : GetLastError();
    CloseHandle(writeEnd);
    if (si.hStdError) CloseHandle(si.hStdError);
    if (si.hStdInput) CloseHandle(si.hStdInput);
    if (!ok) {
        CloseHandle(c.pipe);
        c.res.error = systemMessage(createError);
        return false;
    }
    CloseHandle(pi.hThread);
    c.process = pi.hProcess;
    c.res.started = true;
    return true;
}

// Take what is left in the pipe, then the exit code; close both handles.
void reap(Child &c) {
    for (;;) {
        char buf[65536];
        DWORD n = 0;
        if (!ReadFile(c.pipe, buf, sizeof buf, &n, nullptr) || n == 0) break;
        c.res.out.append(buf, n);
    }
    WaitForSingleObject(c.process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(c.process, &code);
    CloseHandle(c.process);
    CloseHandle(c.pipe);
    // Exception codes (access violation 0xC0000005, ...) mark a crash.
    c.res.exited = code < 0xC0000000u;
    c.res.status = static_cast<int>(code);
}

} // namespace

// Anonymous pipes cannot be waited on together, so the children are
// polled: drain every pipe, reap the children that have ended, then sleep
// briefly when nothing happened.
void runMany(const std::vector<std::vector<std::string>> &jobs, int parallel,
             const std::function<void(size_t, RunResult &)> &done,
             const std::function<void()> &idle) {
    std::vector<Child> active;
    size_t next = 0;
    const size_t limit = parallel < 1 ? 1 : static_cast<size_t>(parallel);
    DWORD quiet = 0;
    while (next < jobs.size() || !active.empty()) {
        while (active.size() < limit && next < jobs.size()) {
            Child c;
            c.index = next++;
            if (spawnChild(jobs[c.index], c))
                active.push_back(std::move(c));
            else
                done(c.index, c.res);
        }
        bool progress = false;
        for (size_t k = active.size(); k-- > 0;) {
            Child &c = active[k];
            size_t before = c.res.out.size();
            if (c.open) c.open = readAvailable(c.pipe, c.res.out);
            progress = progress || c.res.out.size() != before;
            if (WaitForSingleObject(c.process, 0) != WAIT_OBJECT_0 && c.open) continue;
            Child ended = std::move(c);
            active.erase(active.begin() + static_cast<std::ptrdiff_t>(k));
            reap(ended);
            done(ended.index, ended.res);
            progress = true;
        }
        if (progress || active.empty()) continue;
        Sleep(10);
        quiet += 10;
        if (quiet >= 200) {
            quiet = 0;
            if (idle) idle();
        }
    }
}

// One job through runMany.
RunResult runCaptured(const std::vector<std::string> &args, const std::function<void()> &idle) {
    RunResult out;
    runMany(
        {args}, 1, [&](size_t, RunResult &r) { out = std::move(r); }, idle);
    return out;
}

namespace {
void (*gCrashHook)() = nullptr;

// Run the hook once, then let Windows end the process as it would have.
LONG WINAPI crashed(EXCEPTION_POINTERS *) {
    if (void (*hook)() = gCrashHook) {
        gCrashHook = nullptr;
        hook();
    }
    return EXCEPTION_CONTINUE_SEARCH;
}
} // namespace

void onCrash(void (*hook)()) {
    gCrashHook = hook;
    SetUnhandledExceptionFilter(crashed);
}

void rawStdout() {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

} // namespace vhost::platform

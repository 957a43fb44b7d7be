// win32_system.cpp - the platform layer's facts about this process and
// system on Windows: libraries, memory, time, disk, the environment.
#include "platform/descriptors.h"
#include "platform/system.h"
#include "platform/win32_system.h"

#include <windows.h>
#include <stdlib.h>
#include <psapi.h>
#include <fcntl.h>
#include <io.h>
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

// What the shell would run for `name` (`name`.exe on PATH).
std::string programOnPath(const std::string &name) {
    char found[MAX_PATH * 4];
    const DWORD n = SearchPathA(nullptr, name.c_str(), ".exe", sizeof found, found, nullptr);
    return n > 0 && n < sizeof found ? std::string(found, n) : std::string();
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

namespace {
double gProcessorStart = 0; // this process's own time when the run began

// FILETIME counts 100 ns units.
double seconds(const FILETIME &f) {
    return double((uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime) * 1e-7;
}
} // namespace

// User and kernel time of the calling thread.
double threadCpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    return seconds(kernel) + seconds(user);
}

// User and kernel time of the process `p`.
double processSeconds(HANDLE p) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(p, &created, &exited, &kernel, &user)) return 0;
    return seconds(kernel) + seconds(user);
}

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

// ---- descriptors ---------------------------------------------------------------

// _dup.
int fd::duplicate(int fd) {
    return _dup(fd);
}

// _dup2.
bool fd::duplicateOnto(int from, int to) {
    return _dup2(from, to) >= 0;
}

// _close.
void fd::close(int fd) {
    _close(fd);
}

// NUL.
int fd::openNullForWriting() {
    return _open("NUL", _O_WRONLY);
}

} // namespace vhost::platform

// system.h - the running program and what the system tells it: libraries loaded,
// standard output, the program's own path, memory and disk free, processor
// time, resource limits and the environment (posix_system.cpp,
// win32_system.cpp).
#pragma once

#include <cstdint>
#include <string>

namespace vhost::platform {

// The printf format check of a function whose argument `fmt` is the format
// and `first` the first value (members count `this` as 1); MinGW's C99
// printf (__USE_MINGW_ANSI_STDIO) is gnu_printf there.
#if defined(__MINGW32__)
#define VHOST_PRINTF_FORMAT(fmt, first) __attribute__((format(gnu_printf, fmt, first)))
#elif defined(__GNUC__)
#define VHOST_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define VHOST_PRINTF_FORMAT(fmt, first)
#endif

// Load the shared library at `path`; null on failure with the reason in
// `error`. The library stays loaded until the process ends.
void *loadLibrary(const std::string &path, std::string &error);

// Address of the exported symbol `name` in `library`, or null.
void *findSymbol(void *library, const char *name);

// Absolute path of the running executable ("" when unknown).
std::string executablePath();

// The file the shell runs for the command `name` (a program on PATH), or
// "" when there is none.
std::string programOnPath(const std::string &name);

// File name of a user-function library built from target `name`
// (libname.so or libname.dll).
std::string libraryFileName(const std::string &name);

// Make standard output pass bytes through unchanged (Windows opens it in
// text mode, which would turn a library's "\n" into "\r\n") and line
// buffered, so the last lines before a crash reach the parent. A worker
// calls this first.
void rawStdout();

// Point standard output at the null device until restoreStdout(token);
// what a library prints while it loads is then not mixed with what its
// entry points print. Returns a token, or -1 when it cannot.
int silenceStdout();
void restoreStdout(int token);

// True when standard error is an interactive terminal.
bool stderrIsTerminal();

// Bytes of memory available to a new process (0 when unknown), and free
// bytes on the file system holding `path` (UINT64_MAX when unknown).
uint64_t availableMemory();
uint64_t freeDiskSpace(const std::string &path);

// `arg` as one word of a command line the user may paste into this
// system's shell: nothing in it runs or expands. POSIX: in single quotes,
// each ' as '\'' (a newline or other control character stays literal
// inside the quotes). Windows: in double quotes by the C runtime's rules
// for backslashes and quotes.
std::string shellQuoted(const std::string &arg);

// Peak resident memory of this process so far, in bytes (0 when unknown):
// its own since its program started. (The system's resource count of a
// process started by another also holds, on Linux, what the starter had
// resident then: a worker would seem as large as the parent.)
uint64_t peakMemory();

// Processor time of the calling thread, in seconds: unlike the wall clock it
// does not grow while the thread waits for a busy machine. 0 when unknown,
// and coarse on Windows (the scheduler's tick).
double threadCpuSeconds();

// Processor time of this process alone, in seconds, since
// markProcessorStart(). A shell that runs this program in its own process
// (its last command) leaves in that process's counters its own time and
// that of every child it waited for before: the mark leaves them out.
// Workers' time is each worker's RunResult::cpuSeconds.
void markProcessorStart();
double processorSeconds();

// Note this process's resource limits, and have a write beyond the file
// size limit fail rather than end the process; loweredLimit() then names a
// limit lowered since ("" when none, or where there are none).
void keepLimits();
std::string loweredLimit();

// Remove `name` from this process's environment.
void unsetEnvironment(const char *name);
// Set an environment variable of this process (its children inherit it).
void setEnvironment(const char *name, const std::string &value);

} // namespace vhost::platform

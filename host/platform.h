// platform.h - the few operating-system services the emulator needs.
//
// Everything that differs between POSIX and Windows lives behind these
// functions: loading a user-function library and finding its symbols, and
// running a program (the emulator itself as an isolated worker, or the
// plotting tool) while capturing its standard output and exit status.
// platform_posix.cpp and platform_win32.cpp implement them.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vhost::platform {

// Load the shared library at `path`; null on failure with the reason in
// `error`. The library stays loaded until the process ends.
void *loadLibrary(const std::string &path, std::string &error);

// Address of the exported symbol `name` in `library`, or null.
void *findSymbol(void *library, const char *name);

// Absolute path of the running executable ("" when unknown).
std::string executablePath();

// File name of a user-function library built from target `name`
// (libname.so or libname.dll).
std::string libraryFileName(const std::string &name);

// Identifier of this process, to make temporary file names unique.
long processId();

// Make standard output pass bytes through unchanged (Windows opens it in
// text mode, which would turn a library's "\n" into "\r\n"). A worker calls
// this first, so the parent sees exactly the bytes user code printed.
void rawStdout();

// Call `hook` when the process is about to die of a crash (a fatal signal
// on POSIX, an unhandled exception on Windows), then let it die as it
// would have. The hook must not allocate.
void onCrash(void (*hook)());

// True when standard error is an interactive terminal.
bool stderrIsTerminal();

// How a child program ended.
struct RunResult {
    bool started = false; // false: the program could not be started
    std::string error;    // why it could not be started
    std::string out;      // every byte it wrote to standard output
    bool exited = false;  // ended by exit (not by a signal or crash)
    int status = -1;      // exit status when exited, else signal/exception code
};

// Run args[0] (searched on PATH when it has no directory part) with the
// arguments args[1..], standard error shared with ours, standard output
// captured. `idle`, when given, is called about every 200 ms while waiting.
RunResult runCaptured(const std::vector<std::string> &args,
                      const std::function<void()> &idle = nullptr);

// Run every command of `jobs` as runCaptured does, at most `parallel` at a
// time, calling done(index, result) as each one ends (in the calling
// thread, in the order they end).
void runMany(const std::vector<std::vector<std::string>> &jobs, int parallel,
             const std::function<void(size_t, RunResult &)> &done,
             const std::function<void()> &idle = nullptr);

} // namespace vhost::platform

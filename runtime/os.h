// os.h - the few calls of the capture and the state writer that differ
// between POSIX and Windows (os_posix.cpp, os_win32.cpp).
//
// Library code: only the C library and the system's own interfaces, no
// allocation, nothing of the C++ runtime. Every call here may be made from
// a crash handler, and none keeps state of its own but the crash hook.
#pragma once

#include <stddef.h>

namespace vulmora::os {

// Write up to `n` bytes to the descriptor `fd`; the bytes written, or -1.
long writeSome(int fd, const void *data, size_t n);

// Create the new file `path` for writing, with permission bits `mode`
// (where the system has them), never opening one that is there already or
// following a link: a descriptor, or -1 with errno set.
int createExclusive(const char *path, unsigned mode);

// Close a descriptor from createExclusive: 0, or -1 with errno set.
int closeFile(int fd);

// Remove the file `path`: 0, or -1 with errno set.
int removeFile(const char *path);

// The number of this process, as the system's first PID namespace numbers
// it (a process in a namespace of its own, as each worker of the bench
// is, has a number there that other namespaces' processes share).
// Async-signal-safe.
long processId();

// What ended the process: a POSIX signal, a Windows exception, or the C
// runtime's abort() where that is no signal of the system's.
enum class Crash { signal, exception, abort };

// Call `hook(kind, code)` when the process is about to die of a crash in
// any thread, on a stack that still has room after a stack overflow; the
// process then dies (or the host's own handlers run) as it would have.
// Installed once; the hook must be async-signal-safe.
void catchCrashes(void (*hook)(Crash kind, long long code));

// The path of the loaded library that holds `address` into `path` (of
// `size` bytes, left as it is when the code is linked into the program
// itself).
void libraryPath(const void *address, char *path, size_t size);

} // namespace vulmora::os

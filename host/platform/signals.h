// signals.h - crashes, memory faults, interruption, forks and stops, and the
// names of signals (posix_signals.cpp, win32_signals.cpp).
#pragma once

#include <string>

namespace vhost::platform {

// Call `hook(address)` when the process is about to die of a crash (a fatal
// signal on POSIX, an unhandled exception on Windows) with the faulting
// address (null when none), on a stack of its own so that a stack overflow
// is caught too; then let the process die as it would have. The hook must
// not allocate.
void onCrash(void (*hook)(const void *address));

// Before a memory fault counts as a crash, ask `resolve` whether it can
// make the faulting address readable (it then returns true and the access
// is made again). The resolver must not allocate. False where faults
// cannot be resumed this way (Windows): the caller then never needs it.
bool onFault(bool (*resolve)(const void *address));
// True while memory faults still reach that resolver first: code loaded
// since (a user library) may have put a handler of its own before it.
bool faultsReachResolver();

// Catch SIGINT and SIGTERM (Ctrl-C, Ctrl-Break and close on Windows): the
// first one only sets a flag that interrupted() returns (the signal's
// number; 0 while none came). Runs of children end early when it is set.
void catchInterrupts();
int interrupted();

// Whenever this process is copied by fork() (not by posix_spawn or system,
// which start a program): call `before` in it just before, and `child` in
// the copy. Windows has no such copies: nothing is registered there.
void onFork(void (*before)(), void (*child)());

// In the bench: say that this process's workers are to end with it (it
// records its process id in the environment they inherit).
void markWorkersParent();
// In a worker: end at once, killed, when the process that started it ends
// however it ends (SIGKILL included); false when that process has already
// gone. Where the system ends children with their parent by other means
// (Windows: the job object), true.
bool endWithParent();

// The name of a signal (POSIX) or exception code (Windows): "SIGSEGV",
// "EXCEPTION_ACCESS_VIOLATION", else the number.
std::string signalName(int code);

// Start a watchdog that continues this process and its children when
// something (user code's kill(getppid(), SIGSTOP)) stopped them, so time
// limits hold; timesResumed() counts the times it continued this process.
// The user's own job control (Ctrl-Z) stops the watchdog too.
void resumeWhenStopped();
int timesResumed();

} // namespace vhost::platform

// os_win32.cpp - the capture's system calls on Windows.
#include "os.h"

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <signal.h>
#include <windows.h>

namespace vulmora::os {

namespace {

void (*gHook)(Crash, long long);

// A vectored handler sees an exception before any frame's handler: it
// tells the hook of a crash and lets the search go on, so the host handles
// (or dies of) the exception as it would have.
LONG CALLBACK crashed(EXCEPTION_POINTERS *info) {
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_STACK_OVERFLOW:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
        if (gHook) gHook(Crash::exception, static_cast<long long>(code));
        break;
    default:
        break;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// abort() raises SIGABRT through the C runtime, not as an exception.
void (*gPreviousAbort)(int);
void aborted(int sig) {
    signal(SIGABRT, gPreviousAbort);
    if (gHook) gHook(Crash::abort, sig);
    raise(sig);
}

} // namespace

long writeSome(int fd, const void *data, size_t n) {
    return _write(fd, data, static_cast<unsigned>(n));
}

// The C runtime's descriptors: no links to follow, and O_EXCL refuses
// whatever is there.
int createExclusive(const char *path, unsigned mode) {
    return _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, static_cast<int>(mode));
}

int closeFile(int fd) {
    return _close(fd);
}

int removeFile(const char *path) {
    return _unlink(path);
}

long processId() {
    return _getpid();
}

// Room for the handler after a stack overflow, in this thread.
void catchCrashes(void (*hook)(Crash, long long)) {
    gHook = hook;
    ULONG reserve = 64 * 1024;
    SetThreadStackGuarantee(&reserve);
    AddVectoredExceptionHandler(1, crashed);
    gPreviousAbort = signal(SIGABRT, aborted);
}

void libraryPath(const void *address, char *path, size_t size) {
    HMODULE self = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCSTR>(address), &self))
        GetModuleFileNameA(self, path, static_cast<DWORD>(size));
}

} // namespace vulmora::os

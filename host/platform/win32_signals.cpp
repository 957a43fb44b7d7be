// win32_signals.cpp - crashes and interruption on Windows: the unhandled
// exception filter, the console's Ctrl-C and close events; and what has
// no counterpart here (stopped processes, fork, a parent's death).

#include "platform/signals.h"

#include <windows.h>
#include <cstdio>

namespace vhost::platform {

// The exception codes a crash ends with; others in hexadecimal.
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

// No signals stop a process on Windows.
void resumeWhenStopped() {}
int timesResumed() {
    return 0;
}

} // namespace vhost::platform

// fptrap_win32.cpp - floating-point traps on Windows: _controlfp_s unmasks
// them, a vectored exception handler takes STATUS_FLOAT_* with the
// faulting instruction from its record and the calls from the stack, and
// the module of an address from the loader.
#include "platform/fptrap.h"

#include <windows.h>

#include <float.h>
#include <stdlib.h>

#include <cstring>

namespace vhost::platform {

namespace {

constexpr unsigned kTrapped = _EM_INVALID | _EM_ZERODIVIDE | _EM_OVERFLOW;

void (*trapHook)(const FpTrap &) = nullptr;
int trapStatus = 0;
FpTrap trap;

// The exception's own code, or for SSE (reported as several traps) the
// flags raised in MXCSR: invalid (bit 0), division by zero (2), overflow (3).
FpFault faultOf(const EXCEPTION_POINTERS *e) {
    switch (e->ExceptionRecord->ExceptionCode) {
    case STATUS_FLOAT_INVALID_OPERATION:
        return FpFault::Invalid;
    case STATUS_FLOAT_DIVIDE_BY_ZERO:
    case STATUS_INTEGER_DIVIDE_BY_ZERO:
        return FpFault::DivideByZero;
    case STATUS_FLOAT_OVERFLOW:
        return FpFault::Overflow;
    default:
        break;
    }
#if defined(_M_X64) || defined(__x86_64__)
    const DWORD mx = e->ContextRecord->MxCsr;
    if (mx & 0x1) return FpFault::Invalid;
    if (mx & 0x4) return FpFault::DivideByZero;
    if (mx & 0x8) return FpFault::Overflow;
#endif
    return FpFault::Other;
}

bool isFloatTrap(DWORD code) {
    switch (code) {
    case STATUS_FLOAT_INVALID_OPERATION:
    case STATUS_FLOAT_DIVIDE_BY_ZERO:
    case STATUS_FLOAT_OVERFLOW:
    case STATUS_FLOAT_INEXACT_RESULT:
    case STATUS_FLOAT_UNDERFLOW:
    case STATUS_FLOAT_DENORMAL_OPERAND:
    case STATUS_FLOAT_STACK_CHECK:
    case 0xC00002B4: // STATUS_FLOAT_MULTIPLE_FAULTS
    case 0xC00002B5: // STATUS_FLOAT_MULTIPLE_TRAPS
        return true;
    default:
        return false;
    }
}

LONG CALLBACK onFloat(EXCEPTION_POINTERS *e) {
    if (!isFloatTrap(e->ExceptionRecord->ExceptionCode)) return EXCEPTION_CONTINUE_SEARCH;
    unsigned cw = 0;
    _controlfp_s(&cw, _MCW_EM, _MCW_EM);
    trap.fault = faultOf(e);
    trap.frames[0] = e->ExceptionRecord->ExceptionAddress;
    void *walked[kMaxTrapFrames + 8];
    const USHORT n = RtlCaptureStackBackTrace(0, kMaxTrapFrames + 8, walked, nullptr);
    // The dispatcher's frames come first, then the faulting instruction
    // itself (from the context the dispatcher unwinds through): the calls
    // follow it. Where the walk does not reach it, every frame is kept.
    keepCallsAfterFault(trap, walked, n, 0);
    if (trapHook) trapHook(trap);
    _exit(trapStatus);
}

} // namespace

bool catchFpTraps(void (*hook)(const FpTrap &), int status, std::string &error) {
    trapHook = hook;
    trapStatus = status;
    if (!AddVectoredExceptionHandler(1, onFloat))
        return error = "cannot put the floating-point exception handler in place", false;
    return true;
}

void enableFpTraps() {
    _clearfp();
    unsigned cw = 0;
    _controlfp_s(&cw, ~kTrapped & _MCW_EM, _MCW_EM);
}

void disableFpTraps() {
    unsigned cw = 0;
    _controlfp_s(&cw, _MCW_EM, _MCW_EM);
    _clearfp();
}

bool codeAddress(const void *address, CodeAddress &out) {
    HMODULE m = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &m) ||
        !m)
        return false;
    if (!GetModuleFileNameA(m, out.module, sizeof out.module)) return false;
    out.symbol[0] = '\0';
    out.offset = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(address) -
                                       reinterpret_cast<uintptr_t>(m));
    return true;
}

} // namespace vhost::platform

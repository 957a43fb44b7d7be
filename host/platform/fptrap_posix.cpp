// fptrap_posix.cpp - floating-point traps on glibc: feenableexcept, a
// SIGFPE handler that takes the faulting instruction from the signal and
// the calls from backtrace(), and dladdr for modules.
#include "platform/fptrap.h"

#include <dlfcn.h>
#include <execinfo.h>
#include <fenv.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace vhost::platform {

namespace {

constexpr int kTrapped = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;

void (*trapHook)(const FpTrap &) = nullptr;
int trapStatus = 0;
FpTrap trap; // filled in the handler: no room taken on a stack that may be short

FpFault faultOfCode(int code) {
    switch (code) {
    case FPE_FLTINV:
        return FpFault::Invalid;
    case FPE_FLTDIV:
    case FPE_INTDIV:
        return FpFault::DivideByZero;
    case FPE_FLTOVF:
    case FPE_INTOVF:
        return FpFault::Overflow;
    default:
        return FpFault::Other;
    }
}

// The instruction comes from the signal; the calls from the stack walker,
// whose frames start with this handler and the signal's trampoline: they
// are skipped up to the faulting instruction's own frame.
void onFpe(int, siginfo_t *info, void *) {
#if defined(__GLIBC__)
    fedisableexcept(FE_ALL_EXCEPT);
#endif
    trap.fault = faultOfCode(info->si_code);
    trap.frames[0] = info->si_addr;
    void *walked[kMaxTrapFrames + 4];
    const int n = backtrace(walked, kMaxTrapFrames + 4);
    // Past this handler and the signal's trampoline where the walk does not
    // reach the instruction's frame.
    keepCallsAfterFault(trap, walked, n, n > 2 ? 2 : n);
    if (trapHook) trapHook(trap);
    _exit(trapStatus);
}

} // namespace

bool catchFpTraps(void (*hook)(const FpTrap &), int status, std::string &error) {
    void *warm[4];
    (void)backtrace(warm, 4); // loads the unwinder now, not in the handler
    trapHook = hook;
    trapStatus = status;
    struct sigaction sa {};
    sa.sa_sigaction = onFpe;
    sa.sa_flags = SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    if (sigaction(SIGFPE, &sa, nullptr) != 0)
        return error = std::string("cannot catch SIGFPE: ") + std::strerror(errno), false;
    return true;
}

void enableFpTraps() {
    std::feclearexcept(FE_ALL_EXCEPT);
#if defined(__GLIBC__)
    feenableexcept(kTrapped);
#endif
}

void disableFpTraps() {
#if defined(__GLIBC__)
    fedisableexcept(FE_ALL_EXCEPT);
#endif
    std::feclearexcept(FE_ALL_EXCEPT);
}

bool codeAddress(const void *address, CodeAddress &out) {
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname) return false;
    std::strncpy(out.module, info.dli_fname, sizeof out.module - 1);
    out.symbol[0] = '\0';
    if (info.dli_sname && info.dli_saddr)
        std::snprintf(out.symbol, sizeof out.symbol, "%s+0x%llx", info.dli_sname,
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(address) -
                                                      reinterpret_cast<uintptr_t>(info.dli_saddr)));
    out.offset = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(address) -
                                       reinterpret_cast<uintptr_t>(info.dli_fbase));
    return true;
}

} // namespace vhost::platform

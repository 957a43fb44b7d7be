// fptrap.h - floating-point traps: the operation that makes a NaN or an
// infinity stops the process where it is made (fptrap_posix.cpp,
// fptrap_win32.cpp), and code addresses as a module and an offset in it.
#pragma once

#include <cstdint>
#include <string>

namespace vhost::platform {

// Which exception trapped.
enum class FpFault : int32_t { None = 0, Invalid, DivideByZero, Overflow, Other };
// "invalid operation", "division by zero", "overflow", "floating-point exception".
const char *fpFaultName(FpFault f);
// The word in a diagnostic file: "invalid", "divide-by-zero", "overflow", "other".
const char *fpFaultWord(FpFault f);
// The fault of `word` (as fpFaultWord gives it); false when none.
bool fpFaultOfWord(const std::string &word, FpFault &f);

constexpr int kMaxTrapFrames = 48;

// A trap as the handler saw it: the faulting instruction and the calls
// that led to it, innermost first (frames[0] is the instruction itself).
struct FpTrap {
    FpFault fault = FpFault::None;
    const void *frames[kMaxTrapFrames] = {};
    int depth = 0;
};

// Put the handler of floating-point traps in place for the rest of the
// process: when a trap fires, `hook` runs in the handler (it must not
// allocate: the process was stopped in the middle of user code), then the
// process ends with `status` at once (_exit). False with `error` when it
// cannot be put in place. Warms up the stack walker, so that its first use
// is not in the handler.
// Keep in `trap`, after its faulting instruction (frames[0]), the `n`
// frames of `walked` that follow that instruction's own frame; from frame
// `fallback` on where the walk does not reach it. Safe in the handler.
void keepCallsAfterFault(FpTrap &trap, void *const *walked, int n, int fallback);

bool catchFpTraps(void (*hook)(const FpTrap &trap), int status, std::string &error);
// Trap invalid operations, divisions by zero and overflows in this thread
// from now on (the flags raised so far cleared first); and no more.
void enableFpTraps();
void disableFpTraps();

// A code address as the module holding it (its file's path), the offset
// from the module's start the toolchain's tools take, and the exported
// symbol at or before it with the distance from it ("func_density+0x1a";
// "" when not known). Writes into the buffers
// given (they are truncated to fit); false when no module holds it. Safe
// in the trap handler.
struct CodeAddress {
    char module[512] = {};
    char symbol[128] = {};
    uint64_t offset = 0;
};
bool codeAddress(const void *address, CodeAddress &out);

} // namespace vhost::platform

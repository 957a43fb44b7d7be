// trap.h - fatal stops and console lines, caught inside a fuzz target.
//
// The library ends the process only through vulmora_stop and prints its one
// non-fatal line through vulmora_say. The fuzz build links the replacements
// in trap.cpp instead of the runtime's: a stop is checked against the
// library's own messages and then returns to the target with longjmp, so
// one input can run many calls (a fork per stop would cost far more
// executions per second). A stop whose format is no known message, or one
// that comes where the caller expected none, aborts: a finding.
//
// A longjmp leaves the library function without running anything more in
// it. The library holds a resource only inside the material search, which
// never stops; if that changed, LeakSanitizer would report the lost block.
#pragma once

#include <csetjmp>
#include <string>

namespace vfuzz {

// Where the next stop returns to; set by VFUZZ_CALL.
extern std::jmp_buf *landing;
// The format of the last stop and the text it printed (formatted).
extern const char *stopFormat;
extern std::string stopText;
// Number of vulmora_say lines since the last reset, and the last one.
extern int sayCount;
extern const char *sayText;

// Abort with a message (a finding).
[[noreturn]] void fail(const char *what, const char *detail = "");

// True when `format` is one of the library's fatal messages.
bool knownStop(const char *format);

} // namespace vfuzz

// Run `call` (a statement). Afterwards `stopped` tells whether it ended in a
// fatal stop; vfuzz::stopFormat then names the message.
#define VFUZZ_CALL(stopped, call)                                                                  \
    do {                                                                                           \
        std::jmp_buf here_;                                                                        \
        vfuzz::landing = &here_;                                                                   \
        vfuzz::stopFormat = nullptr;                                                               \
        if (setjmp(here_) == 0) {                                                                  \
            call;                                                                                  \
            stopped = false;                                                                       \
        } else {                                                                                   \
            stopped = true;                                                                        \
        }                                                                                          \
        vfuzz::landing = nullptr;                                                                  \
    } while (0)

// stop.cpp - the one place where the library ends the process.

#include "stop.h"

#include "capture.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

extern "C" {

// The message is the format: the texts are fixed constants of messages.h,
// so passing them as the format is safe and gives the bytes exactly.
void vulmora_stop(const char *format, ...) {
    va_list args;
    if (vulmora_capture_mode == VULMORA_CAPTURE_ACTIVE) { // the state, before anything is printed
        va_start(args, format);
        vulmora_capture_stop(format, args);
        va_end(args);
    }
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::exit(1);
}

void vulmora_say(const char *text) {
    std::fputs(text, stdout);
}

} // extern "C"

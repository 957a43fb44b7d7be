// trap.cpp - the fuzz build's vulmora_stop and vulmora_say (see trap.h).

#include "trap.h"

#include "runtime/messages.h"
#include "runtime/stop.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vfuzz {

std::jmp_buf *landing = nullptr;
const char *stopFormat = nullptr;
std::string stopText;
int sayCount = 0;
const char *sayText = nullptr;

void fail(const char *what, const char *detail) {
    std::fprintf(stderr, "fuzz finding: %s %s\n", what, detail);
    std::abort();
}

namespace {
// Every fatal message of the library (the placeholders are not reached
// from the accessors).
const char *const kStops[] = {
    VULMORA_MSG_VF_S,
    VULMORA_MSG_F_VOL,
    VULMORA_MSG_JCTN,
    VULMORA_MSG_FATIGUE_LIFE,
    VULMORA_MSG_EL_VOL,
    VULMORA_MSG_P0,
    VULMORA_MSG_P1,
    VULMORA_MSG_FRACTION_VOID,
    VULMORA_MSG_EPSTN,
    VULMORA_MSG_STRSG,
    VULMORA_MSG_STRESS_3D,
    VULMORA_MSG_MICRO_OFF,
    VULMORA_MSG_MICRO_CLASS,
    VULMORA_MSG_CONSTITUENT_INACTIVE,
    VULMORA_MSG_AUX_INACTIVE,
    VULMORA_MSG_FRACTION_MODE,
    VULMORA_MSG_MICRO_MODE,
    VULMORA_MSG_DEFECT_INACTIVE,
    VULMORA_MSG_DEFECT_UNAUTHORIZED,
    VULMORA_MSG_DEFECT_MODE,
    VULMORA_MSG_FVOL_REGISTRATION,
    VULMORA_MSG_FVOL_LOCAL,
    VULMORA_MSG_TEMP_TABLE,
};
} // namespace

bool knownStop(const char *format) {
    for (const char *m : kStops)
        if (std::strcmp(m, format) == 0) return true;
    return false;
}

} // namespace vfuzz

extern "C" {

// Check the message, format it (so a bad %s argument shows up under the
// sanitizers), then return to the caller's VFUZZ_CALL.
void vulmora_stop(const char *format, ...) {
    if (format == nullptr || !vfuzz::knownStop(format)) vfuzz::fail("unknown stop:", format);
    if (vfuzz::landing == nullptr) vfuzz::fail("stop outside VFUZZ_CALL:", format);
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    vfuzz::stopFormat = format;
    vfuzz::stopText = text;
    std::longjmp(*vfuzz::landing, 1);
}

// The only non-fatal line is the nearest-node search's "nothing found".
void vulmora_say(const char *text) {
    if (text == nullptr || std::strcmp(text, VULMORA_MSG_NODNUM) != 0)
        vfuzz::fail("unknown console line:", text ? text : "(null)");
    ++vfuzz::sayCount;
    vfuzz::sayText = text;
}

} // extern "C"

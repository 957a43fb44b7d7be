// probe.cpp - the emulator's counters of silently wrong answers.
//
// Called only on the rare paths (an out-of-range number, a miss, an unset
// field), so the common path pays nothing. The first call looks for the
// emulator's descriptor once; afterwards a count is one increment.
#include "vulmora_probe.h"

#include "../exchange/exchange.h"

#include <stdlib.h>
#include <string.h>

#ifndef _WIN32
#include <sys/mman.h>
#endif

namespace {

// 0 not looked for yet, 1 counting into `gProbe`, -1 not under the emulator.
int gState = 0;
vulmora_probe *gProbe = nullptr;

void lookForTheEmulator() {
    gState = -1;
#ifndef _WIN32
    const char *v = getenv(VULMORA_PROBE_ENV);
    if (v == nullptr || *v == 0) return;
    char *end = nullptr;
    const long fd = strtol(v, &end, 10);
    if (*end != 0 || fd < 0 || fd > 1000000) return;
    void *page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, static_cast<int>(fd), 0);
    if (page == MAP_FAILED) return;
    auto *p = reinterpret_cast<vulmora_probe *>(static_cast<char *>(page) + VULMORA_PROBE_OFFSET);
    if (memcmp(p->magic, VULMORA_PROBE_MAGIC, sizeof p->magic) != 0) {
        munmap(page, 4096);
        return;
    }
    gProbe = p;
    gState = 1;
#endif
}

} // namespace

extern "C" void vulmora_probe_note(int event) {
    if (gState == 0) lookForTheEmulator();
    if (gState == 1 && event >= 0 && event < VULMORA_PROBE_EVENTS) ++gProbe->counts[event];
}

extern "C" void vulmora_probe_out_of_range(const char *accessor, int number) {
#ifdef _WIN32
    // No emulator's counters to reach here (see lookForTheEmulator).
    (void)accessor, (void)number;
    vulmora_probe_note(VULMORA_PROBE_OUT_OF_RANGE);
#else
    if (gState == 0) lookForTheEmulator();
    if (gState != 1) return;
    if (gProbe->counts[VULMORA_PROBE_OUT_OF_RANGE]++ != 0) return;
    gProbe->out_of_range_number = number;
    gProbe->out_of_range_node = cur_node + 1;
    gProbe->out_of_range_step = gProbe->step;
    char *name = gProbe->out_of_range_accessor;
    const size_t room = sizeof gProbe->out_of_range_accessor - 1;
    const size_t n = accessor ? strnlen(accessor, room) : 0;
    memcpy(name, accessor, n);
    name[n] = 0;
#endif
}

extern "C" void vulmora_probe_local_nan(double value) {
    unsigned long long bits;
    memcpy(&bits, &value, sizeof bits);
    if ((bits & VULMORA_PROBE_UNMARKED_MASK) != VULMORA_PROBE_UNMARKED_TAG) return;
    if (gState == 0) lookForTheEmulator();
    if (gState != 1) return;
    if (gProbe->counts[VULMORA_PROBE_UNMARKED]++ == 0) gProbe->first_unmarked = bits;
}

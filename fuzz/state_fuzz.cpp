// state_fuzz.cpp - the emulator's state-file reader on any bytes.
//
// Whatever the input, parse() either refuses it with one line, or every
// pointer it hands out lies inside its copy of the file: each section is
// read from end to end (AddressSanitizer sees any byte outside), every
// connectivity row names nodes of the mesh, and every section's extent is
// the one its counts give.

#include "host/replay/state.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vhost::State st;
    std::string error;
    if (!st.parse(data, size, error)) {
        if (error.empty() || error.find('\n') != std::string::npos) std::abort();
        return 0;
    }
    const vulmora_state_header &h = st.header();
    unsigned sum = 0;
    for (int s = 0; s < VULMORA_SECTION_COUNT; ++s) {
        const auto *p = static_cast<const unsigned char *>(st.data(s));
        if (!p) continue;
        if (reinterpret_cast<uintptr_t>(p) % VULMORA_STATE_ALIGN) std::abort();
        const uint64_t bytes = st.count(s) * (s == VULMORA_SECTION_micro_values ? 24u : 1u);
        for (uint64_t k = 0; k < bytes; ++k) // every byte of the smaller unit at least
            sum += p[k];
    }
    if (st.data(VULMORA_SECTION_x_cord) && st.count(VULMORA_SECTION_x_cord) != uint64_t(h.nnod))
        std::abort();
    for (size_t e = 0; e < st.rows().size(); ++e) {
        const int *row = st.rows()[e];
        if (!row) continue;
        const int type = st.array<int>(VULMORA_SECTION_el_type)[e];
        for (int j = 0; j < st.array<int>(VULMORA_SECTION_el_nnode)[type]; ++j)
            if (row[j] < 0 || row[j] >= h.nnod) std::abort();
    }
    return static_cast<int>(sum & 0);
}

// A user library in C++ that includes the header as <vulmora/getVar.h>
// and defines its entry point without extern "C": the prototypes of
// getVar.h give it C linkage.
#include <vulmora/getVar.h>

#include <cmath>

static_assert(VULMORA_VERSION >= 100, "the package version is at least 0.1.0");

// Emissivity rising with the temperature in Kelvin, between 0.2 and 0.6.
double func_emissivity(int node) {
    const double kelvin = fconvertToCGS(VULMORA_QTY_TEMPERATURE, getT1(node));
    return 0.2 + 0.4 * (1.0 - std::exp(-kelvin / 1000.0));
}

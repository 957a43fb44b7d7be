// expected_surface.h - the dynamic interface every user-function library
// must have: names, and for data the smallest size the host relies on.
#pragma once

#include <cstddef>

#include "exchange_symbols.h"

namespace vtest {

struct DataSymbol {
    const char *name;
    std::size_t min_size; // bytes
};

// The 36 template placeholders with the name their line prints.
inline constexpr const char *kPlaceholders[] = {
    "convehtransfer",
    "density",
    "emissivity",
    "hardeningexponent",
    "hardeningkinematic1",
    "hardeningkinematic2",
    "hardeningplasticmodulus",
    "hardeningultimatestress",
    "heatflux",
    "interhtransfer",
    "masssourceflowrate",
    "mechprop1",
    "mechprop2",
    "mechprop3",
    "mechprop4",
    "mechprop5",
    "poissonratio",
    "texternal",
    "thermalexpansion",
    "viscoplasticstrainpower",
    "viscoplasticstresspower",
    "viscoplasticviscousparam",
    "vximposed",
    "vxsolidtransport",
    "vyimposed",
    "vysolidtransport",
    "vzimposed",
    "vzsolidtransport",
    "xmasssource",
    "xtranslation",
    "yieldstress",
    "ymasssource",
    "youngsmodulus",
    "ytranslation",
    "zmasssource",
    "ztranslation",
};

inline constexpr const char *kOtherFunctions[] = {"func_externalcompute", "fconvertToCGS",
                                                  "fconvertFromCGS"};

#define VULMORA_DATA_ROW(name, size) {#name, size},
inline constexpr DataSymbol kData[] = {
    VULMORA_EXCHANGE_SYMBOLS(VULMORA_DATA_ROW){"el_nnode", 12 * 4},
    {"el_ngp", 12 * 4},
};
#undef VULMORA_DATA_ROW

} // namespace vtest

// expected_surface.h - the dynamic interface every user-function library
// must have: names, and for data the smallest size the host relies on.
#pragma once

#include <cstddef>

#include "include/vulmora/vulmora_entry_points.h"
#include "include/vulmora/vulmora_layout.h"

namespace vtest {

struct DataSymbol {
    const char *name;
    std::size_t min_size; // bytes
};

// The template placeholders (every entry point of kind PROPERTY), with the
// name their line prints.
#define VTEST_PLACEHOLDER_PROPERTY(name) #name,
#define VTEST_PLACEHOLDER_STEP(name)
#define VTEST_PLACEHOLDER(name, kind, mode, quantity) VTEST_PLACEHOLDER_##kind(name)
inline constexpr const char *kPlaceholders[] = {VULMORA_ENTRY_POINTS(VTEST_PLACEHOLDER)};
#undef VTEST_PLACEHOLDER
#undef VTEST_PLACEHOLDER_STEP
#undef VTEST_PLACEHOLDER_PROPERTY

inline constexpr const char *kOtherFunctions[] = {"func_externalcompute", "fconvertToCGS",
                                                  "fconvertFromCGS"};

#define VTEST_DATA_ROW(name, size) {#name, size},
inline constexpr DataSymbol kData[] = {VULMORA_EXCHANGE_DATA(VTEST_DATA_ROW)
                                           VULMORA_EXCHANGE_TABLES(VTEST_DATA_ROW)};
#undef VTEST_DATA_ROW

} // namespace vtest

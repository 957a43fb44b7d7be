// entries.h - the entry points of a user-function library.
#pragma once

#include <cstdio>
#include <iterator>
#include <string>

#include "include/vulmora/vulmora_entry_points.h"
#include "model/quantity.h"
#include "runtime/messages.h"

namespace vhost {

// How the solver calls a property entry point.
enum class CallMode {
    Nodal,     // thermal and flow analyses: location = 1, every node
    Mechanical // stress analysis: one registration call, then local mode
};

struct EntryPoint {
    const char *name; // without the func_ prefix
    CallMode mode;
    Quantity quantity; // what it returns
};

// The property entry points, double func_<name>(int node), in the order
// of the one list; func_externalcompute (kind STEP) is called apart.
#define VHOST_MODE_NODAL CallMode::Nodal
#define VHOST_MODE_MECHANICAL CallMode::Mechanical
#define VHOST_ROW_PROPERTY(name, mode, quantity)                                                   \
    {#name, VHOST_MODE_##mode, quantityNamed(#quantity)},
#define VHOST_ROW_STEP(name, mode, quantity)
#define VHOST_ROW(name, kind, mode, quantity) VHOST_ROW_##kind(name, mode, quantity)
inline constexpr EntryPoint kEntryPoints[] = {VULMORA_ENTRY_POINTS(VHOST_ROW)};
#undef VHOST_ROW
#undef VHOST_ROW_STEP
#undef VHOST_ROW_PROPERTY
#undef VHOST_MODE_MECHANICAL
#undef VHOST_MODE_NODAL
static_assert(std::size(kEntryPoints) == VULMORA_PROPERTY_ENTRY_POINT_COUNT);

// Every token of the list's quantity column is a kind the emulator knows.
#define VHOST_KNOWN(name, kind, mode, quantity) &&known(#quantity)
constexpr bool everyQuantityKnown() {
    auto known = [](const char *token) {
        bool k = false;
        quantityNamed(token, &k);
        return k;
    };
    return true VULMORA_ENTRY_POINTS(VHOST_KNOWN);
}
#undef VHOST_KNOWN
static_assert(everyQuantityKnown(), "a quantity of the list of entry points");

// The entry point called `name` (with or without func_), or null.
inline const EntryPoint *findEntryPoint(std::string name) {
    if (name.rfind("func_", 0) == 0) name = name.substr(5);
    for (const auto &e : kEntryPoints)
        if (name == e.name) return &e;
    return nullptr;
}

// The quantity code of what entry point `name` returns (that of the unit
// converters: -1 temperature, 0 length, 6 heat flux, 7 heat-transfer
// coefficient, 8 velocity, 13 mass flow rate), or kNotConverted for a
// value in an internal unit (or a name that is no entry point).
inline int returnedQuantity(const std::string &name) {
    const EntryPoint *e = findEntryPoint(name);
    return e ? quantityInfo(e->quantity).code : kNotConverted;
}

// The line a template placeholder prints before it stops.
inline std::string placeholderLine(const std::string &name) {
    char buf[256];
    std::snprintf(buf, sizeof buf, VULMORA_MSG_PLACEHOLDER("%s"), name.c_str());
    return buf;
}

} // namespace vhost

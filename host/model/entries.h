// entries.h - the entry points of a user-function library.
#pragma once

#include <cstdio>
#include <iterator>
#include <string>

#include "include/vulmora/vulmora_entry_points.h"
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
};

// The property entry points, double func_<name>(int node), in the order
// of the one list; func_externalcompute (kind STEP) is called apart.
#define VHOST_MODE_NODAL CallMode::Nodal
#define VHOST_MODE_MECHANICAL CallMode::Mechanical
#define VHOST_ROW_PROPERTY(name, mode) {#name, VHOST_MODE_##mode},
#define VHOST_ROW_STEP(name, mode)
#define VHOST_ROW(name, kind, mode) VHOST_ROW_##kind(name, mode)
inline constexpr EntryPoint kEntryPoints[] = {VULMORA_ENTRY_POINTS(VHOST_ROW)};
#undef VHOST_ROW
#undef VHOST_ROW_STEP
#undef VHOST_ROW_PROPERTY
#undef VHOST_MODE_MECHANICAL
#undef VHOST_MODE_NODAL
static_assert(std::size(kEntryPoints) == VULMORA_PROPERTY_ENTRY_POINT_COUNT);

// The entry point called `name` (with or without func_), or null.
inline const EntryPoint *findEntryPoint(std::string name) {
    if (name.rfind("func_", 0) == 0) name = name.substr(5);
    for (const auto &e : kEntryPoints)
        if (name == e.name) return &e;
    return nullptr;
}

// The line a template placeholder prints before it stops.
inline std::string placeholderLine(const std::string &name) {
    char buf[256];
    std::snprintf(buf, sizeof buf, VULMORA_MSG_PLACEHOLDER("%s"), name.c_str());
    return buf;
}

} // namespace vhost

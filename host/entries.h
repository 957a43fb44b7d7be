// entries.h - the entry points of a user-function library.
#pragma once

#include <cstdio>
#include <string>

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

// The 36 property entry points, double func_<name>(int node).
inline constexpr EntryPoint kEntryPoints[] = {
    {"convehtransfer", CallMode::Nodal},
    {"density", CallMode::Nodal},
    {"emissivity", CallMode::Nodal},
    {"hardeningexponent", CallMode::Mechanical},
    {"hardeningkinematic1", CallMode::Mechanical},
    {"hardeningkinematic2", CallMode::Mechanical},
    {"hardeningplasticmodulus", CallMode::Mechanical},
    {"hardeningultimatestress", CallMode::Mechanical},
    {"heatflux", CallMode::Nodal},
    {"interhtransfer", CallMode::Nodal},
    {"masssourceflowrate", CallMode::Nodal},
    {"mechprop1", CallMode::Mechanical},
    {"mechprop2", CallMode::Mechanical},
    {"mechprop3", CallMode::Mechanical},
    {"mechprop4", CallMode::Mechanical},
    {"mechprop5", CallMode::Mechanical},
    {"poissonratio", CallMode::Mechanical},
    {"texternal", CallMode::Nodal},
    {"thermalexpansion", CallMode::Mechanical},
    {"viscoplasticstrainpower", CallMode::Mechanical},
    {"viscoplasticstresspower", CallMode::Mechanical},
    {"viscoplasticviscousparam", CallMode::Mechanical},
    {"vximposed", CallMode::Nodal},
    {"vxsolidtransport", CallMode::Nodal},
    {"vyimposed", CallMode::Nodal},
    {"vysolidtransport", CallMode::Nodal},
    {"vzimposed", CallMode::Nodal},
    {"vzsolidtransport", CallMode::Nodal},
    {"xmasssource", CallMode::Nodal},
    {"xtranslation", CallMode::Nodal},
    {"yieldstress", CallMode::Mechanical},
    {"ymasssource", CallMode::Nodal},
    {"youngsmodulus", CallMode::Mechanical},
    {"ytranslation", CallMode::Nodal},
    {"zmasssource", CallMode::Nodal},
    {"ztranslation", CallMode::Nodal},
};

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

// labels.cpp - the units of the values an entry point returns.
#include "output/labels.h"

#include <cstdio>
#include <cstring>

#include "checks/checks.h"
#include "include/vulmora/getVar.h"
#include "model/path.h"

namespace vhost {

namespace {

// The entry points the list gives an internal unit for.
struct Internal {
    const char *entry, *unit;
};
constexpr Internal kInternal[] = {
    {"density", "g/cm^3"},
    {"hardeningplasticmodulus", "dyn/cm^2"},
    {"hardeningultimatestress", "dyn/cm^2"},
    {"thermalexpansion", "1/K"},
    {"yieldstress", "dyn/cm^2"},
    {"youngsmodulus", "dyn/cm^2"},
};

// "cm^2" as "cm²", "cm^3" as "cm³".
std::string superscripts(std::string u) {
    for (auto [from, to] : {std::pair{"^2", "\xc2\xb2"}, std::pair{"^3", "\xc2\xb3"}})
        for (size_t at; (at = u.find(from)) != std::string::npos;)
            u.replace(at, 2, to);
    return u;
}

} // namespace

std::string internalUnit(const std::string &entry) {
    for (const Internal &i : kInternal)
        if (entry == i.entry) return i.unit;
    return "";
}

std::string valueUnit(const Outcome &e, const Units &u) {
    if (!e.result.mechUnit.empty()) return e.result.mechUnit;
    const int q = returnedQuantity(e.name);
    if (q == VULMORA_QTY_TEMPERATURE) return temperatureUnitName(u.temp);
    if (q != kNotConverted) return userUnitName(q, u);
    return superscripts(internalUnit(e.name));
}

std::string withUnit(const std::string &name, const std::string &unit) {
    return unit.empty() ? name : name + " [" + unit + "]";
}

std::string pointValuesText(const Options &o, const std::vector<Outcome> &outcomes) {
    std::string text;
    for (const Outcome &e : outcomes) {
        if (!e.hasValues() || e.result.values.empty()) continue;
        char line[160];
        std::snprintf(line, sizeof line, "func_%s = %.9g%s%s\n", e.name.c_str(),
                      e.result.values.front(), valueUnit(e, o.units).empty() ? "" : " ",
                      valueUnit(e, o.units).c_str());
        text += line;
    }
    return text;
}

} // namespace vhost

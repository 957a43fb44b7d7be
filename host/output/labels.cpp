// labels.cpp - the units of the values an entry point returns.
#include "output/labels.h"

#include <cstdio>
#include <cstring>

#include "model/entries.h"
#include "include/vulmora/getVar.h"
#include "model/path.h"

namespace vhost {

namespace {

// "cm2" as "cm²", "cm3" as "cm³".
std::string superscripts(std::string u) {
    for (auto [from, to] : {std::pair{"m2", "m\xc2\xb2"}, std::pair{"m3", "m\xc2\xb3"}})
        for (size_t at; (at = u.find(from)) != std::string::npos;)
            u.replace(at, 2, to);
    return u;
}

} // namespace

std::string internalUnit(const std::string &entry) {
    const EntryPoint *e = findEntryPoint(entry);
    if (!e || quantityInfo(e->quantity).code != kNotConverted) return "";
    return quantityInfo(e->quantity).unit;
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

std::string pointValuesText(const Units &u, const std::vector<Outcome> &outcomes) {
    std::string text;
    for (const Outcome &e : outcomes) {
        if (!e.hasValues() || e.result.values.empty()) continue;
        char line[160];
        std::snprintf(line, sizeof line, "func_%s = %.9g%s%s\n", e.name.c_str(),
                      e.result.values.front(), valueUnit(e, u).empty() ? "" : " ",
                      valueUnit(e, u).c_str());
        text += line;
    }
    return text;
}

} // namespace vhost

// units.h - the user unit selectors, listed once.
//
// Each selector is an int of the exchange block (user_unit_*) that tells
// the library's converters which unit the user works in for one quantity.
// The command line, the block, the emulator's own converter calls, the
// unit check and the run description all take the selectors from the list
// below, in its order.
#pragma once

#include <cstddef>
#include <string>
#include <iterator>
#include <string_view>

#include "include/vulmora/getVar.h"

namespace vhost {

// X(member, variable, code, fallback, label, alias):
//   member    the field of Units, and the name --unit QUANTITY=SEL takes
//   variable  the exchange variable written with it
//   code      the quantity code the converters take (also accepted by --unit)
//   fallback  the selector used when none is given: the CGS column, except
//             time (seconds)
//   label     the quantity in words, for reports
//   alias     another name --unit takes, or "" for none
// clang-format off
#define VHOST_UNIT_SELECTORS(X) \
    X(temp,                user_unit_temp,                -1, 1, "temperature",               "temperature") /* 1 K, 2 C, 3 F, 4 R */ \
    X(coor,                user_unit_coor,                 0, 2, "length",                    "length") /* 1 m, 2 cm, 3 mm, 4 ft, 5 in */ \
    X(thermalconductivity, user_unit_thermalconductivity,  3, 2, "thermal conductivity",      "") \
    X(time,                user_unit_time,                 4, 1, "time",                      "") /* 1 s */ \
    X(heatflux,            user_unit_heatflux,             6, 2, "heat flux",                 "") \
    X(heattransfercoeff,   user_unit_heattransfercoeff,    7, 2, "heat-transfer coefficient", "") \
    X(velocity,            user_unit_velocity,             8, 2, "velocity",                  "") /* 2 cm/s */ \
    X(massflowrate,        user_unit_massflowrate,        13, 2, "mass flow rate",            "")
// clang-format on

// The selectors a run writes into the exchange block, one per quantity.
struct Units {
#define VHOST_UNIT_MEMBER(member, variable, code, fallback, label, alias) int member = fallback;
    VHOST_UNIT_SELECTORS(VHOST_UNIT_MEMBER)
#undef VHOST_UNIT_MEMBER
    bool operator==(const Units &) const = default;
};

// The range of a selector (--unit, the run description).
constexpr int kMinSelector = 1, kMaxSelector = 10;

// One entry of the list, as data.
struct UnitSelector {
    const char *name;     // the member's name
    const char *alias;    // "" for none
    const char *variable; // the exchange variable
    int code;             // the quantity code
    int fallback;         // the default selector
    const char *label;    // the quantity in words
    int Units::*member;
};

inline constexpr UnitSelector kUnitSelectors[] = {
#define VHOST_UNIT_ENTRY(member, variable, code, fallback, label, alias)                           \
    {#member, alias, #variable, code, fallback, label, &Units::member},
    VHOST_UNIT_SELECTORS(VHOST_UNIT_ENTRY)
#undef VHOST_UNIT_ENTRY
};
constexpr size_t kNumSelectors = std::size(kUnitSelectors);

// The selector named `q` (its name, its alias or its quantity code in
// decimal), or null.
inline const UnitSelector *findUnitSelector(std::string_view q) {
    for (const UnitSelector &s : kUnitSelectors)
        if (q == s.name || (*s.alias && q == s.alias) || q == std::to_string(s.code)) return &s;
    return nullptr;
}

// The selector of quantity `code`, or null.
constexpr const UnitSelector *unitSelectorOfCode(int code) {
    for (const UnitSelector &s : kUnitSelectors)
        if (s.code == code) return &s;
    return nullptr;
}

// The selector list's quantity codes are the converters'.
constexpr bool selects(int code, std::string_view variable) {
    for (const UnitSelector &s : kUnitSelectors)
        if (s.code == code) return variable == s.variable;
    return false;
}
static_assert(selects(VULMORA_QTY_TEMPERATURE, "user_unit_temp") &&
                  selects(VULMORA_QTY_LENGTH, "user_unit_coor") &&
                  selects(VULMORA_QTY_THERMALCONDUCTIVITY, "user_unit_thermalconductivity") &&
                  selects(VULMORA_QTY_TIME, "user_unit_time") &&
                  selects(VULMORA_QTY_HEATFLUX, "user_unit_heatflux") &&
                  selects(VULMORA_QTY_HEATTRANSFERCOEFF, "user_unit_heattransfercoeff") &&
                  selects(VULMORA_QTY_VELOCITY, "user_unit_velocity") &&
                  selects(VULMORA_QTY_MASSFLOWRATE, "user_unit_massflowrate"),
              "a selector's quantity code");

// The units the reports name, per quantity, in the order the unit check
// tries them (it tries exactly these); a selector not named here is shown
// as "selector N".
struct NamedUnit {
    int selector = 0;
    const char *name = nullptr; // null: no more units
};
struct UnitNames {
    int code;
    NamedUnit units[4];
};
inline constexpr UnitNames kUnitNames[] = {
    {VULMORA_QTY_TEMPERATURE, {{1, "K"}, {2, "C"}, {3, "F"}, {4, "R"}}},
    {VULMORA_QTY_LENGTH, {{1, "m"}, {2, "cm"}, {3, "mm"}, {5, "in"}}},
    {VULMORA_QTY_VELOCITY, {{1, "m/s"}, {2, "cm/s"}, {3, "mm/s"}}},
    {VULMORA_QTY_HEATFLUX, {{1, "W/m2"}, {2, "cal/(s cm2)"}, {4, "BTU/(s ft2)"}}},
    {VULMORA_QTY_HEATTRANSFERCOEFF, {{1, "W/(m2 K)"}, {2, "cal/(s cm2 K)"}, {4, "BTU/(s ft2 F)"}}},
    {VULMORA_QTY_MASSFLOWRATE, {{1, "kg/s"}, {2, "g/s"}, {3, "lb/s"}}},
};

// Converts single values of a quantity between the user's units and the
// internal ones (CGS, Kelvin) by the library's own converters, which the
// program links (no user code runs), under the selection of units it
// carries. `Convert` is the one function that does it either way under any
// selection: main.cpp's, or a test's.
class UnitConverter {
  public:
    enum class Way { ToInternal, ToUser };
    using Convert = double (*)(Way way, int code, const Units &units, double x);
    UnitConverter() = default; // no converter: values are left as they are
    UnitConverter(Convert convert, const Units &units) : convert_(convert), units_(units) {}
    // `x` of quantity `code` from the user's unit to the internal one.
    double toInternal(int code, double x) const { return convert(Way::ToInternal, code, x); }
    // `x` of quantity `code` from the internal unit to the user's.
    double toUser(int code, double x) const { return convert(Way::ToUser, code, x); }
    // The same converters under the units `u`.
    UnitConverter under(const Units &u) const { return {convert_, u}; }
    const Units &units() const { return units_; }
    // False for the default one, which converts nothing.
    bool converts() const { return convert_ != nullptr; }

  private:
    double convert(Way way, int code, double x) const {
        return convert_ ? convert_(way, code, units_, x) : x;
    }
    Convert convert_ = nullptr;
    Units units_{};
};

// The name of selector `sel` of quantity `code` ("W/m2"), or "selector N".
inline std::string unitName(int code, int sel) {
    for (const UnitNames &v : kUnitNames)
        for (const NamedUnit &n : v.units)
            if (v.code == code && n.name && n.selector == sel) return n.name;
    return "selector " + std::to_string(sel);
}

// The name of the unit `u` selects for quantity `code`; "" for a code no
// selector has.
inline std::string userUnitName(int code, const Units &u) {
    const UnitSelector *s = unitSelectorOfCode(code);
    return s ? unitName(code, u.*s->member) : "";
}

} // namespace vhost

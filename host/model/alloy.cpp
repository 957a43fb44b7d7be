// alloy.cpp - the alloy's laws, its checks and its text.
#include "model/alloy.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "model/path.h"
#include "platform/numbers.h"

namespace vhost {

namespace {

// A temperature in the user's unit, with the unit: "615 °C".
std::string shown(const UnitConverter &units, double kelvin) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6g %s", units.toUser(VULMORA_QTY_TEMPERATURE, kelvin),
                  temperatureUnitName(units.units().temp));
    return buf;
}

} // namespace

double Alloy::eutecticFraction() const {
    return eutectic > 0 ? (liquidus - eutectic) / (liquidus - solidus) : 0.55;
}

double Alloy::leverFraction(double T) const {
    if (T <= freezingEnd()) return 1.0;
    return std::clamp((liquidus - T) / (liquidus - solidus), 0.0, 1.0);
}

double Alloy::scheilFraction(double T, double kk, double tmm, double tl) const {
    if (T <= freezingEnd()) return 1.0;
    if (T >= tl) return 0.0;
    const double fs = 1.0 - std::pow((tmm - T) / (tmm - tl), 1.0 / (kk - 1.0));
    return std::clamp(fs, 0.0, 1.0);
}

double Alloy::leverTemperature(double fs) const {
    if (eutectic > 0 && fs >= eutecticFraction()) return eutectic;
    return liquidus - fs * (liquidus - solidus);
}

std::string alloyProblem(const Alloy &a, const UnitConverter &units) {
    for (const AlloyKey &key : kAlloyKeys) {
        const double v = a.*key.member;
        if (key.temperature && !(v > 0) && !(key.member == &Alloy::eutectic && v == 0))
            return std::string(key.name) + ": " + shown(units, v) + " is below absolute zero";
    }
    // A bound: "KEY: VALUE must lie above|below WHAT (VALUE)".
    auto order = [&](const char *key, double v, bool above, const char *what, double bound) {
        return std::string(key) + ": " + shown(units, v) + " must lie " +
               (above ? "above" : "below") + " the " + what + " (" + shown(units, bound) + ")";
    };
    if (!(a.solidus < a.liquidus))
        return order("solidus", a.solidus, false, "liquidus", a.liquidus);
    if (a.eutectic > 0 && !(a.eutectic < a.liquidus))
        return order("eutectic", a.eutectic, false, "liquidus", a.liquidus);
    if (a.eutectic > 0 && !(a.eutectic >= a.solidus))
        return order("eutectic", a.eutectic, true, "solidus", a.solidus);
    if (!(a.pour > a.liquidus)) return order("pour", a.pour, true, "liquidus", a.liquidus);
    if (!(a.tm > a.liquidus)) return order("tm", a.tm, true, "liquidus", a.liquidus);
    if (!(a.end < a.freezingEnd()))
        return order("end", a.end, false, a.eutectic > 0 ? "eutectic" : "solidus", a.freezingEnd());
    if (!(a.k > 0 && a.k < 1)) return "k: must lie between 0 and 1";
    if (!(a.time > 0 && a.time <= 1e7)) return "time: must be more than 0 and at most 1e7 s";
    return "";
}

std::string historyLine(const Alloy &a, const UnitConverter &units) {
    char time[32];
    std::snprintf(time, sizeof time, "%.6g s", a.time);
    std::string t = "history: poured at " + shown(units, a.pour) + " into a mould at " +
                    shown(units, a.mould) + ", cooled to " + shown(units, a.end) + " in " + time +
                    " (liquidus " + shown(units, a.liquidus) + ", solidus " +
                    shown(units, a.solidus);
    if (a.eutectic > 0) t += ", eutectic " + shown(units, a.eutectic);
    return t + ")";
}

std::string alloyText(const Alloy &a) {
    std::string t;
    char buf[64];
    for (const AlloyKey &key : kAlloyKeys) {
        std::snprintf(buf, sizeof buf, "%s%s=%.17g", t.empty() ? "" : ",", key.name, a.*key.member);
        t += buf;
    }
    return t;
}

bool readAlloy(std::string_view text, const std::function<double(double)> &toKelvin, Alloy &a,
               std::string &error) {
    auto trim = [](std::string_view s) {
        const size_t b = s.find_first_not_of(" \t\r"), e = s.find_last_not_of(" \t\r");
        return b == s.npos ? std::string_view() : s.substr(b, e - b + 1);
    };
    bool seen[std::size(kAlloyKeys)] = {};
    for (size_t start = 0; start <= text.size();) {
        const size_t stop = std::min(text.find_first_of(",\n", start), text.size());
        std::string_view item = text.substr(start, stop - start);
        start = stop + 1;
        if (const size_t hash = item.find('#'); hash != item.npos) item = item.substr(0, hash);
        item = trim(item);
        if (item.empty()) continue;
        const size_t eq = item.find('=');
        const std::string name(trim(item.substr(0, eq)));
        size_t k = 0;
        while (k < std::size(kAlloyKeys) && name != kAlloyKeys[k].name)
            ++k;
        if (k == std::size(kAlloyKeys)) {
            std::string keys;
            for (const AlloyKey &key : kAlloyKeys)
                keys += std::string(keys.empty() ? "" : ", ") + key.name;
            return error = "unknown key '" + name.substr(0, 40) + "' (keys: " + keys + ")", false;
        }
        double v = 0;
        const std::string value(eq == item.npos ? "" : trim(item.substr(eq + 1)));
        if (!parseFinite(value, v))
            return error = name + ": not a number: '" + value.substr(0, 40) + "'", false;
        if (seen[k]) return error = name + " given twice", false;
        seen[k] = true;
        a.*kAlloyKeys[k].member = kAlloyKeys[k].temperature ? toKelvin(v) : v;
    }
    return true;
}

} // namespace vhost

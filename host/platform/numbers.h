// numbers.h - numbers read from text: the command line's arguments and the
// lines of a saved run's description.
#pragma once

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

namespace vhost {

// A whole decimal integer in [lo, hi] that is all of `s` (strtol's syntax:
// leading blanks and a sign allowed, no trailing text); `out` is left alone
// when `s` is not one.
inline bool parseInt(const std::string &s, int lo, int hi, int &out) {
    if (s.empty()) return false;
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (*end || errno || v < lo || v > hi) return false;
    out = static_cast<int>(v);
    return true;
}

// A number that is all of `s` (strtod's syntax), infinities written as
// such included; NaN and a number too large for a double (which would turn
// into an infinity) not. `out` is left alone when `s` is not one.
inline bool parseNumber(const std::string &s, double &out) {
    if (s.empty()) return false;
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(s.c_str(), &end);
    if (*end || std::isnan(v) || (errno == ERANGE && std::isinf(v))) return false;
    out = v;
    return true;
}

// A finite number that is all of `s`; `out` is left alone when `s` is not one.
inline bool parseFinite(const std::string &s, double &out) {
    double v = 0;
    if (!parseNumber(s, v) || !std::isfinite(v)) return false;
    out = v;
    return true;
}

} // namespace vhost

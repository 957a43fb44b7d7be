// smoothness.h - what changes abruptly along a path: the findings of the
// smoothness check.
#pragma once

#include <string>
#include <vector>

namespace vhost {

struct Roughness {
    enum Kind { NonFinite, SignChange, Jump, Kink } kind;
    size_t point; // where it happens (a jump or sign change: the later point)
};

// Along the path x (temperatures), y's non-finite values, its turns to
// zero or below when it must stay positive, its jumps (a change between
// neighbours far above the changes beside it and the path's median one)
// and its kinks (a slope change between the two sides of a point over
// half the larger slope and 10 times the path's median change; not beside
// a jump). In the order of the path.
std::vector<Roughness> roughness(const std::vector<double> &x, const std::vector<double> &y,
                                 bool positive);

// Temperatures (as x) where a property may change its slope, or its value,
// by design: the path's liquidus and solidus, where the eutectic starts,
// the user's coherency point or table breakpoints; a jump where the
// eutectic freezes at one temperature.
struct ExpectedAt {
    std::vector<double> kinks, jumps;
};

// `found` without the findings an expected temperature explains: a kink
// within two points of it (a breakpoint between points shows at both
// neighbours), a jump between the points beside it.
std::vector<Roughness> unexpected(const std::vector<Roughness> &found, const std::vector<double> &x,
                                  const ExpectedAt &expected);

// The x at which y crosses `level` between neighbouring points, linearly
// interpolated (a solid fraction's temperatures).
std::vector<double> crossings(const std::vector<double> &x, const std::vector<double> &y,
                              double level);

// True for an entry point whose value must stay positive (a density, a
// modulus, a strength, a coefficient of heat transfer).
bool mustBePositive(const std::string &entry);

} // namespace vhost

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

// True for an entry point whose value must stay positive (a density, a
// modulus, a strength, a coefficient of heat transfer).
bool mustBePositive(const std::string &entry);

} // namespace vhost

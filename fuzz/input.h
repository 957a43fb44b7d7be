// input.h - turning fuzz bytes into host data.
//
// Numbers come either from a small palette of values that make ties and
// edge cases likely (zeros, equal values, NaN, infinities, the largest
// finite double, subnormals) or straight from the input bits.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace vfuzz {

// A double: a palette value or any bit pattern.
inline double pickDouble(FuzzedDataProvider &in) {
    static const double kPalette[] = {0.0,
                                      -0.0,
                                      1.0,
                                      -1.0,
                                      0.5,
                                      2.0,
                                      3.0,
                                      1e10,
                                      -1e10,
                                      DBL_MAX,
                                      -DBL_MAX,
                                      DBL_MIN,
                                      4.9e-324,
                                      1e154,
                                      std::numeric_limits<double>::infinity(),
                                      -std::numeric_limits<double>::infinity(),
                                      std::numeric_limits<double>::quiet_NaN()};
    if (in.ConsumeBool())
        return kPalette[in.ConsumeIntegralInRange<size_t>(0, std::size(kPalette) - 1)];
    std::uint64_t bits = in.ConsumeIntegral<std::uint64_t>();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// A float, the same way.
inline float pickFloat(FuzzedDataProvider &in) {
    if (in.ConsumeBool()) return static_cast<float>(pickDouble(in));
    std::uint32_t bits = in.ConsumeIntegral<std::uint32_t>();
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// An integer, mostly in [lo, hi], sometimes any 32-bit value.
inline int pickInt(FuzzedDataProvider &in, int lo, int hi) {
    if (in.ConsumeIntegralInRange<int>(0, 15) == 0) return in.ConsumeIntegral<int>();
    return in.ConsumeIntegralInRange<int>(lo, hi);
}

// Bit-for-bit equality that also accepts two NaNs.
inline bool same(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

} // namespace vfuzz

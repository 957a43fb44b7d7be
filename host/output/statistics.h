// statistics.h - the minimum, mean and maximum of finite values, and the
// first value that is not finite: the one routine of the summary table and
// of replay's every-node run.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace vhost {

// A running minimum, maximum and sum of finite values, in the order added.
struct ValueRange {
    double min = 0, max = 0, sum = 0;
    int64_t finite = 0;
    void add(double x) {
        if (finite == 0) min = max = x;
        min = x < min ? x : min; // without branches: the summary's loops are long
        max = x > max ? x : max;
        sum += x;
        ++finite;
    }
    double mean() const { return finite ? sum / static_cast<double>(finite) : 0.0; }
};

// The finite values' range, and how many are not finite; the first of
// those (0-based index and value).
struct ValueStatistics {
    ValueRange finite;
    int64_t nonFinite = 0;
    size_t firstBad = 0;
    double firstBadValue = 0;
    // Count `x`, at index `k`.
    void add(double x, size_t k) {
        if (std::isfinite(x)) return finite.add(x);
        if (nonFinite++ == 0) firstBad = k, firstBadValue = x;
    }
};

// The statistics of v[0..n).
inline ValueStatistics statistics(const double *v, size_t n) {
    ValueStatistics s;
    for (size_t k = 0; k < n; ++k)
        s.add(v[k], k);
    return s;
}

} // namespace vhost

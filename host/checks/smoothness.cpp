// smoothness.cpp - jumps, kinks, non-finite values and sign changes along a path.
#include "checks/smoothness.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vhost {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The median of the finite entries of v (0 when none).
double medianOf(std::vector<double> v) {
    std::erase_if(v, [](double d) { return !std::isfinite(d); });
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(v.size() / 2), v.end());
    return v[v.size() / 2];
}

// Per neighbour pair (index i: from point i-1 to i), the change's size.
std::vector<double> steps(const std::vector<double> &y) {
    std::vector<double> d(y.size(), kNaN);
    for (size_t i = 1; i < y.size(); ++i)
        d[i] = std::fabs(y[i] - y[i - 1]);
    return d;
}

// True when the change into point i is a jump: over 2 % of the larger
// value, over 3 times the change on either side of it and over 10 times
// the path's median change.
bool isJump(const std::vector<double> &y, const std::vector<double> &d, size_t i, double typical) {
    if (i == 0 || !std::isfinite(d[i])) return false;
    const double scale = std::max(std::fabs(y[i]), std::fabs(y[i - 1]));
    const double before = i >= 2 && std::isfinite(d[i - 1]) ? d[i - 1] : 0;
    const double after = i + 1 < d.size() && std::isfinite(d[i + 1]) ? d[i + 1] : 0;
    return d[i] > 0.02 * scale && d[i] > 3 * std::max(before, after) && d[i] > 10 * typical;
}

// Slope change at each inner point i, relative to its larger side.
std::vector<double> slopeChanges(const std::vector<double> &x, const std::vector<double> &y) {
    std::vector<double> k(y.size(), kNaN);
    for (size_t i = 1; i + 1 < y.size(); ++i) {
        const double left = (y[i] - y[i - 1]) / (x[i] - x[i - 1]);
        const double right = (y[i + 1] - y[i]) / (x[i + 1] - x[i]);
        const double scale = std::max(std::fabs(left), std::fabs(right));
        k[i] = scale > 0 ? std::fabs(right - left) / scale : 0.0;
    }
    return k;
}

} // namespace

std::vector<Roughness> roughness(const std::vector<double> &x, const std::vector<double> &y,
                                 bool positive) {
    std::vector<Roughness> out;
    const std::vector<double> d = steps(y), k = slopeChanges(x, y);
    const double typicalStep = medianOf(d), typicalKink = medianOf(k);
    std::vector<bool> jump(y.size(), false);
    for (size_t i = 0; i < y.size(); ++i) {
        if (!std::isfinite(y[i])) {
            out.push_back({Roughness::NonFinite, i});
            continue;
        }
        if (positive && y[i] <= 0 && (i == 0 || y[i - 1] > 0))
            out.push_back({Roughness::SignChange, i});
        if (isJump(y, d, i, typicalStep)) {
            out.push_back({Roughness::Jump, i});
            jump[i] = true;
        }
    }
    for (size_t i = 1; i + 1 < y.size(); ++i) {
        const bool besideJump =
            jump[i] || jump[i + 1] || jump[i - 1] || (i + 2 < y.size() && jump[i + 2]);
        if (std::isfinite(k[i]) && k[i] > 0.5 && k[i] > 10 * typicalKink && !besideJump)
            out.push_back({Roughness::Kink, i});
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const Roughness &a, const Roughness &b) { return a.point < b.point; });
    return out;
}

std::vector<Roughness> unexpected(const std::vector<Roughness> &found, const std::vector<double> &x,
                                  const ExpectedAt &expected) {
    // True when one of `at` lies between points a and b of the path.
    auto within = [&](const std::vector<double> &at, size_t a, size_t b) {
        const double lo = std::min(x[a], x[b]), hi = std::max(x[a], x[b]);
        return std::any_of(at.begin(), at.end(), [&](double t) { return t >= lo && t <= hi; });
    };
    std::vector<Roughness> out;
    for (const Roughness &r : found) {
        const size_t i = r.point;
        if (r.kind == Roughness::Kink &&
            within(expected.kinks, i >= 2 ? i - 2 : 0, std::min(i + 2, x.size() - 1)))
            continue;
        if (r.kind == Roughness::Jump && i >= 1 && within(expected.jumps, i - 1, i)) continue;
        out.push_back(r);
    }
    return out;
}

std::vector<double> crossings(const std::vector<double> &x, const std::vector<double> &y,
                              double level) {
    std::vector<double> out;
    for (size_t i = 1; i < y.size(); ++i) {
        const double a = y[i - 1] - level, b = y[i] - level;
        if (a == b || !(a * b <= 0)) continue;
        out.push_back(x[i - 1] + (x[i] - x[i - 1]) * a / (a - b));
    }
    return out;
}

bool mustBePositive(const std::string &entry) {
    for (const char *e : {"density", "youngsmodulus", "yieldstress", "hardeningultimatestress",
                          "convehtransfer", "interhtransfer"})
        if (entry == e) return true;
    return false;
}

} // namespace vhost

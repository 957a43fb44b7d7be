// path.cpp - the columns of a path and the fields it leaves to the sample's laws.
#include "model/path.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace vhost {

namespace {

constexpr double kAtmosphere = 1.01325e6; // dyn/cm2

// The previous point's value of column `from` (the point's own at the start).
void previousLevel(Path &p, size_t from, size_t to) {
    const size_t n = p.points();
    p.values[to].resize(n);
    for (size_t i = n; i-- > 0;)
        p.values[to][i] = p.values[from][i > 0 ? i - 1 : 0];
}

// Column c, when not given, set point by point by `law`.
template <class Law> void derive(Path &p, const std::vector<bool> &given, size_t c, Law law) {
    if (given[c]) return;
    p.values[c].resize(p.points());
    for (size_t i = 0; i < p.points(); ++i)
        p.values[c][i] = law(i);
}

// The microstructure at each point, its time in the mushy zone taken from
// the cooling rate there; a column given stays as it is.
void deriveMicrostructure(Path &p, const std::vector<bool> &given, double fe) {
    const size_t n = p.points();
    for (size_t i = 0; i < n; ++i) {
        const double rate = std::max(std::fabs(p.at(column::jctn1, i)), 1e-9);
        const double mushy =
            p.at(column::t1, i) < p.liquidus ? (p.liquidus - p.at(column::t1, i)) / rate : -1.0;
        double c[kNumConstituents], a[kNumAuxiliaries];
        Sample::microstructure(p.at(column::fs1, i), mushy, (p.liquidus - p.solidus) / rate, fe, c,
                               a);
        for (size_t q = 0; q < size_t(kNumConstituents + kNumAuxiliaries); ++q) {
            const size_t col = column::kConstituents + q;
            if (given[col]) continue;
            p.values[col].resize(n);
            p.values[col][i] = q < size_t(kNumConstituents) ? c[q] : a[q - kNumConstituents];
        }
    }
}

} // namespace

int pathSide(size_t points) {
    int n = 4;
    while (size_t(n) * size_t(n) * size_t(n) < points)
        ++n;
    return n;
}

void completePath(Path &p, const std::vector<bool> &given, double rate, const Alloy &alloy) {
    using namespace column;
    const auto at = [&](size_t c) { return [&p, c](size_t i) { return p.at(c, i); }; };
    if (!given[t0]) previousLevel(p, t1, t0);
    if (!given[fs0]) previousLevel(p, fs1, fs0);
    derive(p, given, jctn1, [&](size_t) { return rate; });
    derive(p, given, jctn0, at(jctn1));
    for (size_t c : {vf_s1, vf_s0, f_vol1, f_vol0, w0, w1})
        derive(p, given, c, [](size_t) { return 0.0; });
    derive(p, given, mushy_strain, [&](size_t i) { return Sample::mushyStrainAt(p.at(fs1, i)); });
    derive(p, given, u1, [&](size_t i) { return Sample::flowAt(p.at(fs1, i)); });
    derive(p, given, u0, [&](size_t i) { return Sample::flowAt(p.at(fs0, i)); });
    derive(p, given, v1, [&](size_t i) { return 0.1 * p.at(u1, i); });
    derive(p, given, v0, [&](size_t i) { return 0.1 * p.at(u0, i); });
    derive(p, given, p1, [](size_t) { return kAtmosphere; });
    derive(p, given, p0, at(p1));
    deriveMicrostructure(p, given, alloy.eutecticFraction());
    derive(p, given, fatigue_life, [&](size_t i) {
        return Sample::fatigueLife(p.at(vf_s1, i), p.at(column::kAuxiliaries, i));
    });
    // Node i of the grid that holds the path, as the sample numbers them.
    const size_t n = size_t(pathSide(p.points()));
    const double h = Alloy::side / static_cast<double>(n - 1);
    for (size_t axis = 0; axis < 3; ++axis)
        derive(p, given, kCoordinates + axis, [&](size_t i) {
            const size_t index = axis == 0 ? i % n : axis == 1 ? i / n % n : i / (n * n);
            return static_cast<double>(index) * h;
        });
}

std::string pathTableText(const Path &p) {
    std::string text;
    for (size_t c = 0; c < column::kCount; ++c)
        text += (c ? "," : "") + columnName(c) + (isTemperatureColumn(c) ? " [K]" : "");
    text += '\n';
    char number[40];
    for (size_t i = 0; i < p.points(); ++i) {
        for (size_t c = 0; c < column::kCount; ++c) {
            std::snprintf(number, sizeof number, "%s%.17g", c ? "," : "", p.at(c, i));
            text += number;
        }
        text += '\n';
    }
    return text;
}

std::vector<double> derivative(const std::vector<double> &x, const std::vector<double> &y) {
    const size_t n = std::min(x.size(), y.size());
    std::vector<double> d(n, std::numeric_limits<double>::quiet_NaN());
    for (size_t i = 0; n > 1 && i < n; ++i) {
        const size_t a = i > 0 ? i - 1 : 0, b = i + 1 < n ? i + 1 : n - 1;
        d[i] = (y[b] - y[a]) / (x[b] - x[a]);
    }
    return d;
}

} // namespace vhost

// sample_fields.cpp - the sample casting's cooling history: the fields,
// the microstructure and the integration points of each step.
#include "model/sample.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "mikral.h"

namespace vhost {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFlow = 2.0;              // cm/s, convection speed in the liquid
constexpr double kRhoG = 2.4 * 981.0;      // dyn/cm3, metallostatic pressure gradient
constexpr double kAtmosphere = 1.01325e6;  // dyn/cm2
constexpr double kExpansion = 2.3e-5;      // 1/K, casting alloy
constexpr double kMouldExpansion = 1.2e-5; // 1/K, steel
constexpr double kYoungCast = 7.0e11;      // dyn/cm2 at room temperature
constexpr double kYoungMould = 2.0e12;     // dyn/cm2

// The history runs on its progress u, 0 at the pour and 1 at the end, one
// step for each equal share of it. Time (s) at progress u of a history of
// `length` s: the steps grow as the casting cools.
double timeAt(double u, double length) {
    return length * u * (1 + 3 * u) / 4;
}

// When a casting node at relative depth d (0 wall, 1 centre) reaches the
// liquidus, and when its last liquid has frozen, as progress: the wall
// first and fastest, the centre last, each over at least 30 % of the
// history.
double liquidusAt(double d) {
    return 0.02 + 0.18 * d;
}
double frozenAt(double d) {
    return liquidusAt(d) + 0.30 + 0.20 * d;
}

// Temperature and solid fraction of a casting node at depth d at progress
// u: it cools at an even pace to the liquidus, freezes at an even pace in
// solid fraction, at the lever rule's temperatures (so a eutectic holds
// its temperature while its liquid freezes), then cools ever more slowly
// to the end temperature, reached at u = 1.
std::pair<double, double> castingAt(const Alloy &a, double d, double u) {
    const double ul = liquidusAt(d), us = frozenAt(d);
    if (u <= ul) return {a.pour - (a.pour - a.liquidus) * u / ul, 0.0};
    if (u < us) {
        const double fs = (u - ul) / (us - ul);
        return {a.leverTemperature(fs), fs};
    }
    const double v = (u - us) / (1 - us);
    return {a.end + (a.freezingEnd() - a.end) * (1 - v) * (1 - v), 1.0};
}

// Temperature of a mould node d cm from the casting (d < 0) at progress u:
// the casting wall's temperature, fading with the distance over a heated
// layer that grows with time, over a mould that goes from its initial
// temperature to the end temperature.
double mouldAt(const Alloy &a, double d, double u) {
    const double base = a.end + (a.mould - a.end) * (1 - u) * (1 - u);
    const double layer = 0.3 + 0.1 * std::sqrt(timeAt(u, a.time));
    return base + (castingAt(a, 0, u).first - base) * std::exp(d / layer);
}

// Trilinear shape function of corner c (VTK order) at local point (r, s, t).
double shape(int c, double r, double s, double t) {
    static const int sr[8] = {-1, 1, 1, -1, -1, 1, 1, -1};
    static const int ss[8] = {-1, -1, 1, 1, -1, -1, 1, 1};
    static const int st[8] = {-1, -1, -1, -1, 1, 1, 1, 1};
    return 0.125 * (1 + sr[c] * r) * (1 + ss[c] * s) * (1 + st[c] * t);
}

} // namespace

// ---- the laws shared with the paths ----------------------------------------

// Convection slows as the dendrites grow: (1 - fs)^2 of the liquid's speed.
double Sample::flowAt(double fs) {
    return kFlow * (1 - fs) * (1 - fs);
}

// Strain of the mushy zone, largest half way through freezing.
double Sample::mushyStrainAt(double fs) {
    return 4e-3 * fs * (1 - fs);
}

// Constituents follow the solid fraction: primary alpha-Al up to the
// eutectic's fraction fe, then the Al-Si eutectic with its silicon and a
// little Mg2Si.
// The dendrite arm spacing coarsens with the time spent mushy (10 um *
// t^(1/3)); the grain size is fixed by the local freezing time at
// nucleation (120 um * t_f^(1/4)).
void Sample::microstructure(double fs, double mushy, double tf, double fe, double *c, double *a) {
    const double eut = std::max(fs - fe, 0.0);
    c[1] = 0.12 * eut;
    c[2] = 0.01 * eut;
    c[0] = fs - c[1] - c[2];
    a[0] = a[1] = 0.0;
    if (mushy > 0) {
        a[0] = 10.0 * std::cbrt(std::min(mushy, tf));
        a[1] = 120.0 * std::pow(tf, 0.25);
    }
}

// Fatigue life falls with porosity and with coarser dendrites.
double Sample::fatigueLife(double vf, double sdas) {
    return 1e7 * std::exp(-150.0 * vf) / (1.0 + sdas / 50.0);
}

// ---- the cooling history ---------------------------------------------------

double Sample::time(int s) const {
    return timeAt(static_cast<double>(s) / steps, alloy.time);
}

// The temperature by castingAt or mouldAt; the cooling rate from the
// temperature a moment before (after, at the pour).
Sample::DepthState Sample::depthState(double d, int step) const {
    DepthState s;
    const double u = static_cast<double>(step) / steps, du = 1e-4;
    auto temperature = [&](double at) {
        return d < 0 ? mouldAt(alloy, d, at) : castingAt(alloy, d, at).first;
    };
    const double before = u > du ? u - du : u, after = u > du ? u : u + du;
    s.T = temperature(u);
    s.coolingRate = (temperature(before) - temperature(after)) /
                    (timeAt(after, alloy.time) - timeAt(before, alloy.time));
    if (d < 0) return s;
    s.fs = castingAt(alloy, d, u).second;
    s.flow = flowAt(s.fs);
    s.mushyStrain = mushyStrainAt(s.fs);
    // Shrinkage porosity and FVOL gather at the hot spot, late in freezing.
    s.vf = 0.02 * d * d * std::max(s.fs - 0.9, 0.0) / 0.1;
    s.fvol = 0.05 * d * d * d * d * std::max(s.fs - 0.7, 0.0) / 0.3;
    s.liquidusTime = timeAt(liquidusAt(d), alloy.time);
    s.freezingTime = timeAt(frozenAt(d), alloy.time) - s.liquidusTime;
    return s;
}

// The depth's share, then the flow (a roll in the x-z plane) and the
// metallostatic pressure, which depend on the position.
NodeState Sample::state(int i, int step) const {
    const size_t id = static_cast<size_t>(gridNode(i));
    const float depth = depthAt(id);
    const DepthState ds = depthState(depth, step);
    NodeState s;
    s.T = ds.T, s.coolingRate = ds.coolingRate, s.p = kAtmosphere;
    if (depth < 0) return s;
    s.fs = ds.fs, s.mushyStrain = ds.mushyStrain, s.vf = ds.vf, s.fvol = ds.fvol;
    const double span = castHi - castLo;
    const size_t side = static_cast<size_t>(nodesPerSide);
    const double xc = static_cast<int>(id % side) * h, zc = static_cast<int>(id / side / side) * h;
    const double xi = (xc - castLo) / span, zeta = (zc - castLo) / span;
    s.u = ds.flow * std::sin(kPi * xi) * std::cos(kPi * zeta);
    s.w = -ds.flow * std::cos(kPi * xi) * std::sin(kPi * zeta);
    s.v = 0.1 * s.u;
    s.p = kAtmosphere + kRhoG * (castHi - zc);
    return s;
}

// The distinct depths (each node's index into them is made with the
// depths, by buildMesh), room to work out a field per kind of row, and the
// flow's direction per grid line.
void Sample::buildDepthClasses() {
    classDepth = rows_.classes;
    rowValues_.resize(rows_.kindClasses.size());
    rowMicro_.resize(rows_.kindClasses.size());
    level0.resize(classDepth.size());
    level1.resize(classDepth.size());
    classLife.assign(classDepth.size(), 0.0f);
    classMicro.assign(classDepth.size() * kNumConstituents, 0.0);
    classAux.assign(classDepth.size() * kNumAuxiliaries, 0.0);
    const size_t n = static_cast<size_t>(nodesPerSide);
    const double span = castHi - castLo;
    for (auto *v : {&sinX, &cosX, &sinZ, &cosZ})
        v->resize(n);
    for (size_t a = 0; a < n; ++a) {
        const double c = static_cast<int>(a) * h; // as the coordinates have it
        const double xi = (c - castLo) / span, zeta = (c - castLo) / span;
        sinX[a] = std::sin(kPi * xi), cosX[a] = std::cos(kPi * xi);
        sinZ[a] = std::sin(kPi * zeta), cosZ[a] = std::cos(kPi * zeta);
    }
}

// The tables of step s, then (with `fields`) every field array.
void Sample::setStep(int s, bool fields) {
    step = s;
    if (path_) {
        setPathStep();
    } else {
        level0.compute(*this, s - 1);
        level1.compute(*this, s);
        fillMicrostructure();
    }
    if (!fields) return;
    for (const void *a : meshArrays())
        if (!filled(a)) fill(a);
    for (const void *f : {VHOST_FIELD_ARRAYS(VHOST_ARRAY_DATA, VHOST_ARRAY_DATA)})
        fill(f);
    fill(fractionVoid.data()); // the integration points' three at once
}

void Sample::Level::resize(size_t classes) {
    for (auto *v : {&T, &fs, &vf, &fvol, &coolingRate, &mushy})
        v->assign(classes, 0.0f);
    flow.assign(classes, 0.0);
}

// One time level of the fields that depend on the depth alone, per depth
// class, as the host stores them.
void Sample::Level::compute(const Sample &sample, int step) {
    for (size_t k = 0; k < sample.classDepth.size(); ++k) {
        const DepthState s = sample.depthState(sample.classDepth[k], step);
        T[k] = static_cast<float>(s.T), fs[k] = static_cast<float>(s.fs);
        vf[k] = static_cast<float>(s.vf), fvol[k] = static_cast<float>(s.fvol);
        coolingRate[k] = static_cast<float>(s.coolingRate);
        mushy[k] = static_cast<float>(s.mushyStrain);
        flow[k] = s.flow;
    }
}

// A field that depends on the depth alone: each node's class's value.
// Without a path, worked out per kind of row and copied row by row.
template <class T> void Sample::gather(T *out, const T *perClass) {
    if (path_) {
        const uint32_t *cls = depthClass.data();
        for (size_t i = 0, n = static_cast<size_t>(nnod); i < n; ++i)
            out[i] = perClass[cls[i]];
        return;
    }
    T *kinds = nullptr;
    if constexpr (std::is_same_v<T, float>)
        kinds = rowValues_.data();
    else
        kinds = rowMicro_.data();
    const uint32_t *kindClasses = rows_.kindClasses.data();
    for (size_t k = 0, end = rows_.kindClasses.size(); k < end; ++k)
        kinds[k] = perClass[kindClasses[k]];
    const size_t n = static_cast<size_t>(nodesPerSide);
    for (size_t row = 0, rows = rows_.rowKind.size(); row < rows; ++row)
        std::memcpy(out + row * n, kinds + size_t(rows_.rowKind[row]) * n, n * sizeof(T));
}

// A velocity component (0 u, 1 v, 2 w) of one level: a roll in the x-z
// plane, its speed the class's flow; zero in the mould.
void Sample::fillFlow(float *out, const std::vector<double> &flow, int component) const {
    const size_t n = static_cast<size_t>(nodesPerSide);
    for (size_t kz = 0; kz < n; ++kz)
        for (size_t row = kz * n * n, end = row + n * n; row < end; row += n)
            for (size_t i = 0; i < n; ++i) {
                const size_t k = row + i;
                const double f = flow[depthClass[k]];
                const double u = f * sinX[i] * cosZ[kz];
                const double value = component == 0   ? u
                                     : component == 1 ? 0.1 * u
                                                      : -f * cosX[i] * sinZ[kz];
                out[k] = depthAt(k) < 0 ? 0.0f : static_cast<float>(value);
            }
}

// The metallostatic pressure in the casting, the atmosphere in the mould
// (the same at both levels).
void Sample::fillPressure(float *out) const {
    const size_t n = static_cast<size_t>(nodesPerSide);
    const float mould = static_cast<float>(kAtmosphere);
    for (size_t row = 0; row < static_cast<size_t>(nnod); row += n) {
        const double zc = static_cast<int>(row / n / n) * h;
        const float p = static_cast<float>(kAtmosphere + kRhoG * (castHi - zc));
        for (size_t i = 0; i < n; ++i)
            out[row + i] = depthAt(row + i) < 0 ? mould : p;
    }
}

bool Sample::fill(const void *base, const FillTargets *into) {
    into_ = into;
    const bool done = fillMesh(base) || fillArray(base);
    if (done && renumbered()) renumberArray(base);
    into_ = nullptr;
    return done;
}

bool Sample::fillArray(const void *base) {
    if (path_ && fillPathField(base)) return true;
    const struct {
        PageVector<float> *array;
        const std::vector<float> *perClass;
    } gathered[] = {{&t0, &level0.T},
                    {&t1, &level1.T},
                    {&fs0, &level0.fs},
                    {&fs1, &level1.fs},
                    {&vf0, &level0.vf},
                    {&vf1, &level1.vf},
                    {&fvol0, &level0.fvol},
                    {&fvol1, &level1.fvol},
                    {&jctn0, &level0.coolingRate},
                    {&jctn1, &level1.coolingRate},
                    {&mushy, &level1.mushy},
                    {&fatigue, &classLife}};
    for (const auto &g : gathered)
        if (g.array->data() == base) return gather(out(*g.array), g.perClass->data()), true;
    const struct {
        PageVector<float> *array;
        const Level *level;
        int component;
    } flows[] = {{&u0, &level0, 0}, {&v0, &level0, 1}, {&w0, &level0, 2},
                 {&u1, &level1, 0}, {&v1, &level1, 1}, {&w1, &level1, 2}};
    for (const auto &f : flows)
        if (f.array->data() == base)
            return fillFlow(out(*f.array), f.level->flow, f.component), true;
    for (PageVector<float> *p : {&p0, &p1})
        if (p->data() == base) return fillPressure(out(*p)), true;
    for (const PageVector<float> *p : {&fractionVoid, &epstn, &strsg})
        if (p->data() == base) return ensureElementKinds(), fillIntegrationPoints(), true;
    // The microstructure: each quantity's row from its per-class values.
    const size_t n = static_cast<size_t>(nnod), classes = classDepth.size();
    const struct {
        PageVector<double> *array;
        const std::vector<double> *perClass;
        size_t rows;
    } micros[] = {{&micro, &classMicro, kNumConstituents}, {&aux, &classAux, kNumAuxiliaries}};
    for (const auto &m : micros) {
        if (m.array->data() != base) continue;
        for (size_t q = 0; q < m.rows; ++q)
            gather(out(*m.array) + q * n, m.perClass->data() + q * classes);
        return true;
    }
    return false;
}

// The microstructure of each depth class at the current step (mould nodes
// have none), and its fatigue life. All of it depends on the depth alone:
// worked out per depth class here, gathered per node by fill().
void Sample::fillMicrostructure() {
    const double t = time(step);
    const size_t classes = classDepth.size();
    double c[kNumConstituents], a[kNumAuxiliaries];
    for (size_t k = 0; k < classes; ++k) {
        std::fill(c, c + kNumConstituents, 0.0);
        std::fill(a, a + kNumAuxiliaries, 0.0);
        if (classDepth[k] >= 0.0f) {
            const DepthState s = depthState(classDepth[k], step);
            const double mushy = t > s.liquidusTime ? t - s.liquidusTime : -1.0;
            microstructure(level1.fs[k], mushy, s.freezingTime, alloy.eutecticFraction(), c, a);
            classLife[k] = static_cast<float>(fatigueLife(level1.vf[k], a[0]));
        } else {
            classLife[k] = 1e9f;
        }
        for (size_t q = 0; q < size_t(kNumConstituents); ++q)
            classMicro[q * classes + k] = c[q];
        for (size_t q = 0; q < size_t(kNumAuxiliaries); ++q)
            classAux[q * classes + k] = a[q];
    }
}

// Void fraction, strain and stress at the 8 Gauss points of each element,
// interpolated from the nodes: thermal strain below the solidus and the
// stress of a constrained body (casting in tension, mould in compression).
// They depend on the element's material and its corners' depths alone:
// worked out once per such kind of element, then copied to each element.
void Sample::fillIntegrationPoints() {
    const double g = 1.0 / std::sqrt(3.0);
    const int sr[8] = {-1, 1, 1, -1, -1, 1, 1, -1}, ss[8] = {-1, -1, 1, 1, -1, -1, 1, 1},
              st[8] = {-1, -1, -1, -1, 1, 1, 1, 1};
    // N[c][p]: corner c's weight at point p. Sums run over the corners in
    // order, all eight points at once.
    double N[8][8], f0[8], f1[8];
    for (int p = 0; p < 8; ++p) {
        for (int c = 0; c < 8; ++c)
            N[c][p] = shape(c, sr[p] * g, ss[p] * g, st[p] * g);
        f0[p] = 1.0 + 0.1 * sr[p] * g;
        f1[p] = 1.0 + 0.1 * ss[p] * g;
    }
    const size_t kinds = elementKinds.size() / kKindKey;
    float *table = kindPoints.data();
    for (size_t kind = 0; kind < kinds; ++kind) {
        const uint32_t *key = &elementKinds[kind * kKindKey];
        const bool cast = key[8] == 0;
        double T[8] = {}, vf[8] = {};
        for (int c = 0; c < 8; ++c) {
            const double tc = level1.T[key[c]], vc = level1.vf[key[c]];
            for (int p = 0; p < 8; ++p) {
                T[p] += N[c][p] * tc;
                vf[p] += N[c][p] * vc;
            }
        }
        float *out = &table[kind * kPointValues];
        for (int p = 0; p < 8; ++p) {
            double eps = cast ? kExpansion * std::max(alloy.freezingEnd() - T[p], 0.0)
                              : -kMouldExpansion * (T[p] - alloy.mould);
            double E =
                cast ? kYoungCast * std::max(1.0 - (T[p] - 293.0) / 700.0, 0.05) : kYoungMould;
            double sig = E * eps;
            out[p] = static_cast<float>(cast ? vf[p] : 0.0);
            out[8 + p] = static_cast<float>(eps);
            float *s = &out[16 + 6 * p];
            s[0] = static_cast<float>(sig * f0[p]);
            s[1] = static_cast<float>(sig * f1[p]);
            s[2] = static_cast<float>(sig * 0.6);
            s[3] = static_cast<float>(sig * 0.05 * (sr[p] - ss[p]) * g);
            s[4] = static_cast<float>(sig * 0.05 * (ss[p] - st[p]) * g);
            s[5] = static_cast<float>(sig * 0.05 * (st[p] - sr[p]) * g);
        }
    }
    float *voids = out(fractionVoid), *strains = out(epstn), *stresses = out(strsg);
    for (size_t e = 0; e < static_cast<size_t>(nel); ++e) {
        const float *in = &table[elementKind[e] * kPointValues];
        std::memcpy(&voids[e * 8], in, 8 * sizeof(float));
        std::memcpy(&strains[e * 8], in + 8, 8 * sizeof(float));
        std::memcpy(&stresses[e * 48], in + 16, 48 * sizeof(float));
    }
}

// Each element's kind: its corners' depth classes and its material. Its
// storage is whole pages (PageVector), so that it may be built in the
// fault handler that first fills the integration points.
void Sample::buildElementKinds() {
    // An open table of kind indices, kept at most half full, keyed by the
    // kinds' keys in elementKinds.
    using Key = std::array<uint32_t, kKindKey>;
    auto hashOf = [](const uint32_t *k) {
        uint64_t h = 1469598103934665603ull;
        for (size_t i = 0; i < kKindKey; ++i)
            h = (h ^ k[i]) * 1099511628211ull;
        return static_cast<size_t>(h ^ (h >> 29));
    };
    size_t slots = 1024, kinds = 0;
    PageVector<uint32_t> table(slots, UINT32_MAX);
    auto slotOf = [&](const uint32_t *key) -> uint32_t & {
        size_t at = hashOf(key) & (slots - 1);
        while (table[at] != UINT32_MAX &&
               std::memcmp(&elementKinds[table[at] * kKindKey], key, sizeof(Key)) != 0)
            at = (at + 1) & (slots - 1);
        return table[at];
    };
    elementKind.resize(static_cast<size_t>(nel));
    elementKinds.clear();
    Key previous{};
    const size_t n = static_cast<size_t>(nodesPerSide), ne = n - 1;
    const size_t lo = static_cast<size_t>(layers), hi = ne - lo;
    const size_t corner[8] = {0, 1, n + 1, n, n * n, n * n + 1, n * n + n + 1, n * n + n};
    for (size_t e = 0; e < static_cast<size_t>(nel); ++e) {
        // Its first corner, and whether it is inside the casting's box.
        const size_t i = e % ne, j = e / ne % ne, k = e / (ne * ne);
        const size_t first = (k * n + j) * n + i;
        Key key;
        // Along a path each element takes its first corner's point whole.
        for (size_t c = 0; c < 8; ++c)
            key[c] = depthClass[first + (path_ ? 0 : corner[c])];
        const bool inside = path_ || (i >= lo && i < hi && j >= lo && j < hi && k >= lo && k < hi);
        key[8] = inside ? 0u : 1u;
        // Neighbours along a grid line are often alike.
        if (e > 0 && key == previous) {
            elementKind[e] = elementKind[e - 1];
            continue;
        }
        previous = key;
        uint32_t &slot = slotOf(key.data());
        if (slot == UINT32_MAX) {
            slot = static_cast<uint32_t>(kinds++);
            elementKinds.insert(elementKinds.end(), key.begin(), key.end());
        }
        elementKind[e] = slot;
        if (kinds * 2 > slots) {
            slots *= 2;
            table.assign(slots, UINT32_MAX);
            for (uint32_t k = 0; k < kinds; ++k)
                slotOf(&elementKinds[k * kKindKey]) = k;
        }
    }
    kindPoints.assign(kinds * kPointValues, 0.0f);
}

} // namespace vhost

// sample.cpp - mesh, cooling history and microstructure of the sample casting.
#include "sample.h"

#include <algorithm>
#include <cmath>

#include "mikral.h"

namespace vhost {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTauWall = 40.0;          // s, cooling time constant at the mould wall
constexpr double kTauCentre = 400.0;       // s, at the hot spot
constexpr double kFlow = 2.0;              // cm/s, convection speed in the liquid
constexpr double kRhoG = 2.4 * 981.0;      // dyn/cm3, metallostatic pressure gradient
constexpr double kAtmosphere = 1.01325e6;  // dyn/cm2
constexpr double kExpansion = 2.3e-5;      // 1/K, casting alloy
constexpr double kMouldExpansion = 1.2e-5; // 1/K, steel
constexpr double kYoungCast = 7.0e11;      // dyn/cm2 at room temperature
constexpr double kYoungMould = 2.0e12;     // dyn/cm2

// Solid fraction between liquidus and solidus (linear in temperature).
double solidFraction(double T) {
    double th = (Alloy::liquidus - T) / (Alloy::liquidus - Alloy::solidus);
    return std::clamp(th, 0.0, 1.0);
}

// Cooling time constant of a casting node at relative depth d (0 wall, 1 centre).
double tauAt(double d) {
    return kTauWall + (kTauCentre - kTauWall) * d;
}

// Time (s) at which a casting node of time constant tau reaches temperature T.
double timeToReach(double T, double tau) {
    return tau * std::log((Alloy::pour - Alloy::mould0) / (T - Alloy::mould0));
}

// Trilinear shape function of corner c (VTK order) at local point (r, s, t).
double shape(int c, double r, double s, double t) {
    static const int sr[8] = {-1, 1, 1, -1, -1, 1, 1, -1};
    static const int ss[8] = {-1, -1, 1, 1, -1, -1, 1, 1};
    static const int st[8] = {-1, -1, -1, -1, 1, 1, 1, 1};
    return 0.125 * (1 + sr[c] * r) * (1 + ss[c] * s) * (1 + st[c] * t);
}

} // namespace

// The names of the sample's microstructure, by global index.
MikralCatalog *sampleCatalog() {
    MikralCatalog *catalog = mikral_catalog_create();
    for (int g = 0; g < kNumConstituents; ++g)
        mikral_catalog_add_constituent(catalog, g, kConstituents[g]);
    for (int g = 0; g < 2; ++g)
        mikral_catalog_add_constituent(catalog, kNumConstituents + g, kInactiveConstituents[g]);
    for (int g = 0; g < kNumAuxiliaries; ++g)
        mikral_catalog_add_auxiliary(catalog, g, kAuxiliaries[g]);
    mikral_catalog_add_auxiliary(catalog, kNumAuxiliaries, kInactiveAuxiliaries[0]);
    return catalog;
}

// ---- construction ----------------------------------------------------------

// Mesh, catalogue and model; the fields are filled by setStep.
Sample::Sample(int n, int nsteps) : nodesPerSide(n), steps(nsteps) {
    nnod = n * n * n;
    nel = (n - 1) * (n - 1) * (n - 1);
    h = Alloy::side / (n - 1);
    buildMesh();
    catalog = sampleCatalog();
    model = mikral_model_create(nnod, kNumConstituents, kNumAuxiliaries);
    auto size = static_cast<size_t>(nnod);
    // Zeros until setStep fills them (fresh pages: no memory taken till then).
    for (auto *f : {&t0,      &t1, &fs0, &fs1, &vf0, &vf1, &fvol0, &fvol1, &jctn0, &jctn1,
                    &fatigue, &u0, &v0,  &w0,  &u1,  &v1,  &w1,    &p0,    &p1,    &mushy})
        f->resize(size);
    micro.assign(size * kNumConstituents, 0.0);
    aux.assign(size * kNumAuxiliaries, 0.0);
    fractionVoid.resize(static_cast<size_t>(nel) * 8);
    epstn.resize(static_cast<size_t>(nel) * 8);
    strsg.resize(static_cast<size_t>(nel) * 8 * 6);
}

Sample::~Sample() {
    mikral_model_destroy(model);
    mikral_catalog_destroy(catalog);
}

// Nodes on a regular grid; elements in VTK hexahedron order; the outer
// layers of elements are the mould, the rest the casting.
void Sample::buildMesh() {
    const int n = nodesPerSide, ne = n - 1;
    const int layers = std::max(1, ne / 6);
    castLo = layers * h;
    castHi = (ne - layers) * h;
    x.resize(static_cast<size_t>(nnod));
    y.resize(x.size());
    z.resize(x.size());
    depth.resize(x.size());
    const double half = (castHi - castLo) / 2;
    for (int k = 0; k < n; ++k)
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                size_t id = static_cast<size_t>((k * n + j) * n + i);
                double p[3] = {i * h, j * h, k * h};
                x[id] = p[0], y[id] = p[1], z[id] = p[2];
                double wall = half, out = 0;
                for (double c : p) {
                    wall = std::min({wall, c - castLo, castHi - c});
                    double d = std::max({castLo - c, c - castHi, 0.0});
                    out += d * d;
                }
                const double eps = 1e-9 * h;
                depth[id] = out > eps * eps ? static_cast<float>(-std::sqrt(out))
                                            : static_cast<float>(std::max(wall, 0.0) / half);
            }
    elType.assign(static_cast<size_t>(nel), 1);
    matId.resize(static_cast<size_t>(nel));
    conn.resize(static_cast<size_t>(nel) * 8);
    ncon.resize(static_cast<size_t>(nel));
    elVol.assign(static_cast<size_t>(nel), static_cast<float>(h * h * h));
    const int di[8] = {0, 1, 1, 0, 0, 1, 1, 0}, dj[8] = {0, 0, 1, 1, 0, 0, 1, 1},
              dk[8] = {0, 0, 0, 0, 1, 1, 1, 1};
    size_t e = 0;
    for (int k = 0; k < ne; ++k)
        for (int j = 0; j < ne; ++j)
            for (int i = 0; i < ne; ++i, ++e) {
                for (int c = 0; c < 8; ++c)
                    conn[e * 8 + static_cast<size_t>(c)] =
                        ((k + dk[c]) * n + (j + dj[c])) * n + (i + di[c]);
                ncon[e] = &conn[e * 8];
                auto inside = [&](int a) { return a >= layers && a < ne - layers; };
                matId[e] = inside(i) && inside(j) && inside(k) ? 0 : 1;
            }
}

// ---- the cooling history ---------------------------------------------------

// Casting nodes cool exponentially towards the mould temperature; mould
// nodes take the casting wall's temperature, fading with the distance
// from the wall over a heated layer that grows with time.
NodeState Sample::state(int i, double t) const {
    NodeState s;
    const double d = depth[static_cast<size_t>(i)];
    const double range = Alloy::pour - Alloy::mould0;
    auto castingT = [&](double tau, double when) {
        return Alloy::mould0 + range * std::exp(-when / tau);
    };
    if (d < 0) {
        double layer = 0.3 + 0.1 * std::sqrt(t);
        double fade = std::exp(d / layer);
        s.T = Alloy::mould0 + (castingT(kTauWall, t) - Alloy::mould0) * fade;
        double before = std::max(t - 1.0, 0.0);
        double layerBefore = 0.3 + 0.1 * std::sqrt(before);
        double Tb = Alloy::mould0 +
                    (castingT(kTauWall, before) - Alloy::mould0) * std::exp(d / layerBefore);
        s.coolingRate = Tb - s.T;
        s.p = kAtmosphere;
        return s;
    }
    const double tau = tauAt(d);
    s.T = castingT(tau, t);
    s.coolingRate = (s.T - Alloy::mould0) / tau;
    s.fs = solidFraction(s.T);
    const size_t id = static_cast<size_t>(i);
    const double span = castHi - castLo;
    const double xi = (x[id] - castLo) / span, zeta = (z[id] - castLo) / span;
    const double flow = kFlow * (1 - s.fs) * (1 - s.fs);
    s.u = flow * std::sin(kPi * xi) * std::cos(kPi * zeta);
    s.w = -flow * std::cos(kPi * xi) * std::sin(kPi * zeta);
    s.v = 0.1 * s.u;
    s.p = kAtmosphere + kRhoG * (castHi - z[id]);
    s.mushyStrain = 4e-3 * s.fs * (1 - s.fs);
    // Shrinkage porosity and FVOL gather at the hot spot, late in freezing.
    s.vf = 0.02 * d * d * std::max(s.fs - 0.9, 0.0) / 0.1;
    s.fvol = 0.05 * d * d * d * d * std::max(s.fs - 0.7, 0.0) / 0.3;
    return s;
}

// Both time levels of every nodal field, then microstructure and
// integration points, for step s.
void Sample::setStep(int s) {
    step = s;
    fillNodes();
    fillMicrostructure();
    fillIntegrationPoints();
}

// Nodal fields at the two time levels.
void Sample::fillNodes() {
    const double ta = time(step - 1), tb = time(step);
    for (int i = 0; i < nnod; ++i) {
        const size_t k = static_cast<size_t>(i);
        const NodeState a = state(i, ta), b = state(i, tb);
        t0[k] = static_cast<float>(a.T), t1[k] = static_cast<float>(b.T);
        fs0[k] = static_cast<float>(a.fs), fs1[k] = static_cast<float>(b.fs);
        vf0[k] = static_cast<float>(a.vf), vf1[k] = static_cast<float>(b.vf);
        fvol0[k] = static_cast<float>(a.fvol), fvol1[k] = static_cast<float>(b.fvol);
        jctn0[k] = static_cast<float>(a.coolingRate), jctn1[k] = static_cast<float>(b.coolingRate);
        u0[k] = static_cast<float>(a.u), v0[k] = static_cast<float>(a.v);
        w0[k] = static_cast<float>(a.w), u1[k] = static_cast<float>(b.u);
        v1[k] = static_cast<float>(b.v), w1[k] = static_cast<float>(b.w);
        p0[k] = static_cast<float>(a.p), p1[k] = static_cast<float>(b.p);
        mushy[k] = static_cast<float>(b.mushyStrain);
    }
}

// Constituents follow the solid fraction: primary alpha-Al up to 55 %
// solid, then the Al-Si eutectic with its silicon and a little Mg2Si.
// The dendrite arm spacing coarsens with the time spent mushy (10 um *
// t^(1/3)); the grain size is fixed by the local freezing time at
// nucleation (120 um * t_f^(1/4)). Mould nodes have no microstructure.
void Sample::fillMicrostructure() {
    const double t = time(step);
    const size_t n = static_cast<size_t>(nnod);
    for (int i = 0; i < nnod; ++i) {
        const size_t k = static_cast<size_t>(i);
        double c[kNumConstituents] = {0, 0, 0}, a[kNumAuxiliaries] = {0, 0};
        if (inCasting(i)) {
            const double fs = fs1[k];
            const double eut = std::max(fs - 0.55, 0.0);
            c[1] = 0.12 * eut;
            c[2] = 0.01 * eut;
            c[0] = fs - c[1] - c[2];
            const double tau = tauAt(depth[k]);
            const double tl = timeToReach(Alloy::liquidus, tau);
            const double tf = timeToReach(Alloy::solidus, tau) - tl;
            if (t > tl) {
                a[0] = 10.0 * std::cbrt(std::min(t - tl, tf));
                a[1] = 120.0 * std::pow(tf, 0.25);
            }
        }
        for (int q = 0; q < kNumConstituents; ++q) {
            micro[static_cast<size_t>(q) * n + k] = c[q];
            mikral_model_set_constituent(model, q, i, c[q]);
        }
        for (int q = 0; q < kNumAuxiliaries; ++q) {
            aux[static_cast<size_t>(q) * n + k] = a[q];
            mikral_model_set_auxiliary(model, q, i, a[q]);
        }
        // Fatigue life falls with porosity and with coarser dendrites.
        fatigue[k] = inCasting(i)
                         ? static_cast<float>(1e7 * std::exp(-150.0 * vf1[k]) / (1.0 + a[0] / 50.0))
                         : 1e9f;
    }
}

// Void fraction, strain and stress at the 8 Gauss points of each element,
// interpolated from the nodes: thermal strain below the solidus and the
// stress of a constrained body (casting in tension, mould in compression).
void Sample::fillIntegrationPoints() {
    const double g = 1.0 / std::sqrt(3.0);
    const int sr[8] = {-1, 1, 1, -1, -1, 1, 1, -1}, ss[8] = {-1, -1, 1, 1, -1, -1, 1, 1},
              st[8] = {-1, -1, -1, -1, 1, 1, 1, 1};
    double N[8][8];
    for (int p = 0; p < 8; ++p)
        for (int c = 0; c < 8; ++c)
            N[p][c] = shape(c, sr[p] * g, ss[p] * g, st[p] * g);
    for (size_t e = 0; e < static_cast<size_t>(nel); ++e) {
        const bool cast = matId[e] == 0;
        for (int p = 0; p < 8; ++p) {
            double T = 0, vf = 0;
            for (int c = 0; c < 8; ++c) {
                size_t node = static_cast<size_t>(conn[e * 8 + static_cast<size_t>(c)]);
                T += N[p][c] * t1[node];
                vf += N[p][c] * vf1[node];
            }
            const size_t q = e * 8 + static_cast<size_t>(p);
            double eps = cast ? kExpansion * std::max(Alloy::solidus - T, 0.0)
                              : -kMouldExpansion * (T - Alloy::mould0);
            double E = cast ? kYoungCast * std::max(1.0 - (T - 293.0) / 700.0, 0.05) : kYoungMould;
            double sig = E * eps;
            fractionVoid[q] = static_cast<float>(cast ? vf : 0.0);
            epstn[q] = static_cast<float>(eps);
            float *s = &strsg[q * 6];
            s[0] = static_cast<float>(sig * (1.0 + 0.1 * sr[p] * g));
            s[1] = static_cast<float>(sig * (1.0 + 0.1 * ss[p] * g));
            s[2] = static_cast<float>(sig * 0.6);
            s[3] = static_cast<float>(sig * 0.05 * (sr[p] - ss[p]) * g);
            s[4] = static_cast<float>(sig * 0.05 * (ss[p] - st[p]) * g);
            s[5] = static_cast<float>(sig * 0.05 * (st[p] - sr[p]) * g);
        }
    }
}

} // namespace vhost

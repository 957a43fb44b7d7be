// describe.cpp - what the accessors read at a node, in words.
#include <cstdarg>
#include <cstdio>

#include "model/caller.h"
#include "model/sample.h"

namespace vhost {

namespace {

// printf into a std::string.
void appendf(std::string &out, const char *format, ...) {
    char buf[1024];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    out += buf;
}

// The constituents' fractions and the auxiliary quantities at node index `i`.
void describeMicrostructure(std::string &o, const Sample &s, size_t i) {
    const size_t n = static_cast<size_t>(s.nnod);
    o += "  microstructure  ";
    for (int c = 0; c < kNumConstituents; ++c)
        appendf(o, " getFraction(%d) %s = %.6g;", c, kConstituents[c],
                s.micro[static_cast<size_t>(c) * n + i]);
    o += "\n                  ";
    for (int a = 0; a < kNumAuxiliaries; ++a)
        appendf(o, " getMicro(%d) %s = %.6g um;", a, kAuxiliaries[a],
                s.aux[static_cast<size_t>(a) * n + i]);
    o += "\n";
}

// Element `e` (index) when it has the node: its material and volume, and
// the means over its eight integration points of fraction_void, epstn and
// the scaled stress.
void describeElement(std::string &o, const Sample &s, size_t e, int node) {
    bool has = false;
    for (size_t c = 0; c < 8; ++c)
        has = has || s.conn[e * 8 + c] == node - 1;
    if (!has) return;
    double fv = 0, ep = 0, st[6] = {0, 0, 0, 0, 0, 0};
    for (size_t p = 0; p < 8; ++p) {
        fv += s.fractionVoid[e * 8 + p] / 8.0;
        ep += s.epstn[e * 8 + p] / 8.0;
        for (size_t c = 0; c < 6; ++c)
            st[c] += s.strsg[(e * 8 + p) * 6 + c] / 8.0;
    }
    appendf(o, "  element %zu (material %d, %s, volume %.6g cm3): fraction_void %.6g, epstn %.6g\n",
            e + 1, s.matId[e] + 1, s.matId[e] == 0 ? "casting" : "mould", double(s.elVol[e]), fv,
            ep);
    appendf(o, "      stress x stress_scale: %.6g %.6g %.6g %.6g %.6g %.6g\n",
            st[0] * s.stressScale, st[1] * s.stressScale, st[2] * s.stressScale,
            st[3] * s.stressScale, st[4] * s.stressScale, st[5] * s.stressScale);
}

} // namespace

// Everything the accessors read at the node, level 0 and level 1.
std::string describeNode(const Sample &s, int node, const ToUserFn &fromCGS, bool elements) {
    const size_t i = static_cast<size_t>(node - 1);
    std::string o;
    appendf(o, "  node %d of step %d (level 0 at t = %g s, level 1 at t = %g s)\n", node, s.step,
            s.time(s.step - 1), s.time(s.step));
    appendf(o, "  coordinates      x = %.6g  y = %.6g  z = %.6g cm", s.x[i], s.y[i], s.z[i]);
    if (fromCGS)
        appendf(o, "   (user unit: %.6g %.6g %.6g)", fromCGS(0, s.x[i]), fromCGS(0, s.y[i]),
                fromCGS(0, s.z[i]));
    appendf(o, "\n  temperature      t0 = %.6g K  t1 = %.6g K", double(s.t0[i]), double(s.t1[i]));
    if (fromCGS)
        appendf(o, "   (user unit: %.6g, %.6g)", fromCGS(-1, s.t0[i]), fromCGS(-1, s.t1[i]));
    appendf(o, "\n  solid fraction   fs0 = %.6g  fs1 = %.6g\n", double(s.fs0[i]), double(s.fs1[i]));
    appendf(o, "  velocity         u0 v0 w0 = %.6g %.6g %.6g  u1 v1 w1 = %.6g %.6g %.6g cm/s\n",
            double(s.u0[i]), double(s.v0[i]), double(s.w0[i]), double(s.u1[i]), double(s.v1[i]),
            double(s.w1[i]));
    appendf(o, "  pressure         p0 = %.6g  p1 = %.6g dyn/cm2\n", double(s.p0[i]),
            double(s.p1[i]));
    appendf(o, "  mushy_strain     %.6g\n", double(s.mushy[i]));
    appendf(o, "  porosity         vf_s0 = %.6g  vf_s1 = %.6g (POROS1)\n", double(s.vf0[i]),
            double(s.vf1[i]));
    appendf(o, "  FVOL             f_vol0 = %.6g  f_vol1 = %.6g\n", double(s.fvol0[i]),
            double(s.fvol1[i]));
    appendf(o, "  jctn             jctn0 = %.6g  jctn1 = %.6g (cooling rate, K/s)\n",
            double(s.jctn0[i]), double(s.jctn1[i]));
    appendf(o, "  fatigue_life     %.6g\n", double(s.fatigue[i]));
    describeMicrostructure(o, s, i);
    for (size_t e = 0; elements && e < static_cast<size_t>(s.nel); ++e)
        describeElement(o, s, e, node);
    return o;
}

} // namespace vhost

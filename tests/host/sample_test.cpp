// host_sample_test.cpp - the emulator's sample casting and the exchange
// block it fills: mesh consistency, the cooling history across steps, the
// microstructure model, integration-point arrays, and every pointer the
// block gets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "model/binding.h"
#include "hostlib/host_run.h"
#include "model/caller.h"
#include "mikral.h"
#include "protocol/protocol.h"
#include "paths.h"
#include "model/sample.h"

using vhost::Alloy;
using vhost::Sample;

namespace {

// Signed volume of a hexahedron in VTK order (6 tetrahedra, all positive
// for a correctly oriented element).
double hexVolume(const Sample &s, size_t e) {
    auto p = [&](int c) {
        size_t n = static_cast<size_t>(s.conn[e * 8 + static_cast<size_t>(c)]);
        return std::vector<double>{s.x[n], s.y[n], s.z[n]};
    };
    auto tet = [&](int a, int b, int c, int d) {
        auto A = p(a), B = p(b), C = p(c), D = p(d);
        double u[3], v[3], w[3];
        for (int k = 0; k < 3; ++k)
            u[k] = B[k] - A[k], v[k] = C[k] - A[k], w[k] = D[k] - A[k];
        return (u[0] * (v[1] * w[2] - v[2] * w[1]) - u[1] * (v[0] * w[2] - v[2] * w[0]) +
                u[2] * (v[0] * w[1] - v[1] * w[0])) /
               6.0;
    };
    return tet(0, 1, 3, 4) + tet(1, 2, 3, 6) + tet(1, 3, 4, 6) + tet(1, 6, 4, 5) + tet(3, 4, 6, 7);
}

// Every field, the microstructure, the points and the mesh at `node` of
// the sample's current step, hashed (FNV-1a) in the order the test
// library hashes what it reads.
uint64_t sampleHash(const Sample &s, size_t node) {
    using vhost::platform::fnv1a;
    const size_t nnod = static_cast<size_t>(s.nnod);
    const vhost::PageVector<float> *nodal[] = {
        &s.t0,      &s.t1, &s.fs0, &s.fs1, &s.vf0, &s.vf1, &s.fvol0, &s.fvol1, &s.jctn0, &s.jctn1,
        &s.fatigue, &s.u0, &s.v0,  &s.w0,  &s.u1,  &s.v1,  &s.w1,    &s.p0,    &s.p1,    &s.mushy};
    uint64_t h = 1469598103934665603ull;
    for (const auto *f : nodal)
        h = fnv1a(&(*f)[node], sizeof(float), h);
    double micro[5];
    for (size_t q = 0; q < 3; ++q)
        micro[q] = s.micro[q * nnod + node];
    for (size_t q = 0; q < 2; ++q)
        micro[3 + q] = s.aux[q * nnod + node];
    h = fnv1a(micro, sizeof micro, h);
    const size_t e = node % static_cast<size_t>(s.nel);
    h = fnv1a(&s.fractionVoid[e * 8], 8 * sizeof(float), h);
    h = fnv1a(&s.epstn[e * 8], 8 * sizeof(float), h);
    h = fnv1a(&s.strsg[e * 48], 48 * sizeof(float), h);
    for (const auto *c : {&s.x, &s.y, &s.z})
        h = fnv1a(&(*c)[node], sizeof(double), h);
    h = fnv1a(s.ncon[e], 8 * sizeof(int), h);
    h = fnv1a(&s.elType[e], sizeof(int), h);
    h = fnv1a(&s.matId[e], sizeof(int), h);
    return fnv1a(&s.elVol[e], sizeof(float), h);
}

// The value of `node` (0-based) at `step` (1-based) in a .values file's bytes.
double valueAt(const std::string &bytes, int step, size_t node, size_t nnod) {
    double v;
    std::memcpy(&v, bytes.data() + ((size_t(step) - 1) * nnod + node) * sizeof v, sizeof v);
    return v;
}

} // namespace

// ---- the mesh --------------------------------------------------------------------

TEST(HostSample, MeshIsConsistentForEverySize) {
    for (int n : {4, 5, 7, 13}) {
        SCOPED_TRACE("nodes per side " + std::to_string(n));
        Sample s(n, 2);
        ASSERT_EQ(s.nnod, n * n * n);
        ASSERT_EQ(s.nel, (n - 1) * (n - 1) * (n - 1));
        const size_t nn = static_cast<size_t>(s.nnod), ne = static_cast<size_t>(s.nel);
        ASSERT_EQ(s.x.size(), nn);
        ASSERT_EQ(s.conn.size(), ne * 8);
        ASSERT_EQ(s.elType.size(), ne);
        ASSERT_EQ(s.matId.size(), ne);
        ASSERT_EQ(s.elVol.size(), ne);
        // Coordinates in cm inside the 12 cm cube, corners included.
        for (size_t i = 0; i < nn; ++i)
            for (double c : {s.x[i], s.y[i], s.z[i]})
                ASSERT_TRUE(c >= 0.0 && c <= Alloy::side + 1e-12) << "node " << i + 1;
        EXPECT_DOUBLE_EQ(s.x[nn - 1], Alloy::side);
        EXPECT_DOUBLE_EQ(s.z[nn - 1], Alloy::side);
        std::vector<int> used(nn, 0);
        double total = 0;
        for (size_t e = 0; e < ne; ++e) {
            EXPECT_EQ(s.elType[e], 1);
            EXPECT_EQ(s.ncon[e], &s.conn[e * 8]);
            std::set<int> distinct;
            for (size_t c = 0; c < 8; ++c) {
                const int k = s.conn[e * 8 + c];
                ASSERT_TRUE(k >= 0 && k < s.nnod) << "element " << e + 1;
                distinct.insert(k);
                used[static_cast<size_t>(k)] = 1;
            }
            EXPECT_EQ(distinct.size(), 8u);
            // Oriented as VTK expects, and the volume the block reports.
            EXPECT_NEAR(hexVolume(s, e), s.h * s.h * s.h, 1e-9) << "element " << e + 1;
            EXPECT_FLOAT_EQ(s.elVol[e], static_cast<float>(s.h * s.h * s.h));
            total += s.elVol[e];
        }
        EXPECT_NEAR(total, Alloy::side * Alloy::side * Alloy::side, 1e-2);
        EXPECT_EQ(std::count(used.begin(), used.end(), 1), s.nnod);
    }
}

TEST(HostSample, MouldShellSurroundsTheCasting) {
    for (int n : {4, 5, 9, 17}) {
        SCOPED_TRACE("nodes per side " + std::to_string(n));
        Sample s(n, 1);
        const size_t ne = static_cast<size_t>(s.nel);
        size_t casting = 0;
        for (size_t e = 0; e < ne; ++e) {
            ASSERT_TRUE(s.matId[e] == 0 || s.matId[e] == 1);
            casting += s.matId[e] == 0;
            // An element with a node on the outer surface is mould.
            bool outer = false;
            for (size_t c = 0; c < 8; ++c) {
                size_t k = static_cast<size_t>(s.conn[e * 8 + c]);
                for (double v : {s.x[k], s.y[k], s.z[k]})
                    outer = outer || v == 0.0 || std::fabs(v - Alloy::side) < 1e-9;
            }
            if (outer) {
                EXPECT_EQ(s.matId[e], 1) << "element " << e + 1;
            }
            // Every node of a casting element belongs to the casting, and a
            // node of the casting only to elements of either material.
            if (s.matId[e] == 0) {
                for (size_t c = 0; c < 8; ++c)
                    EXPECT_TRUE(s.inCasting(s.conn[e * 8 + c]));
            }
        }
        EXPECT_GT(casting, 0u);
        EXPECT_LT(casting, ne);
        // Nodes of mould-only elements are outside the casting.
        for (int i = 0; i < s.nnod; ++i) {
            bool inCastingElement = false;
            for (size_t e = 0; e < ne && !inCastingElement; ++e)
                for (size_t c = 0; c < 8; ++c)
                    inCastingElement =
                        inCastingElement || (s.matId[e] == 0 && s.conn[e * 8 + c] == i);
            EXPECT_EQ(s.inCasting(i), inCastingElement) << "node " << i + 1;
        }
    }
}

// ---- the cooling history --------------------------------------------------------

TEST(HostSample, TimeLevelsFollowOnFromStepToStep) {
    for (int steps : {1, 2, 5}) {
        SCOPED_TRACE("steps " + std::to_string(steps));
        Sample s(5, steps);
        EXPECT_DOUBLE_EQ(s.time(0), 0.0);
        EXPECT_DOUBLE_EQ(s.time(steps), s.alloy.time);
        vhost::PageVector<float> prevT1, prevFs1, prevVf1;
        for (int step = 1; step <= steps; ++step) {
            s.setStep(step);
            EXPECT_EQ(s.step, step);
            if (step == 1) {
                // Level 0 of the first step is the pour.
                for (int i = 0; i < s.nnod; ++i) {
                    if (!s.inCasting(i)) continue;
                    EXPECT_FLOAT_EQ(s.t0[static_cast<size_t>(i)], float(s.alloy.pour));
                }
            } else {
                EXPECT_EQ(s.t0, prevT1);
                EXPECT_EQ(s.fs0, prevFs1);
                EXPECT_EQ(s.vf0, prevVf1);
            }
            // The casting cools, and the values at level 1 are those of the
            // end of the step.
            for (int i = 0; i < s.nnod; ++i) {
                const size_t k = static_cast<size_t>(i);
                if (s.inCasting(i)) {
                    EXPECT_LT(s.t1[k], s.t0[k]) << "node " << i + 1;
                }
                EXPECT_FLOAT_EQ(s.t1[k], float(s.state(i, step).T));
                EXPECT_TRUE(s.t1[k] >= s.alloy.end && s.t1[k] <= s.alloy.pour);
            }
            prevT1 = s.t1, prevFs1 = s.fs1, prevVf1 = s.vf1;
        }
    }
}

TEST(HostSample, SolidFractionFollowsTheFreezingRange) {
    Sample s(7, 6);
    std::vector<std::pair<float, float>> tFs; // casting nodes, every step, both levels
    size_t liquid = 0, mushy = 0, solid = 0;
    for (int step = 1; step <= s.steps; ++step) {
        s.setStep(step);
        for (int i = 0; i < s.nnod; ++i) {
            if (!s.inCasting(i)) continue;
            const size_t k = static_cast<size_t>(i);
            for (auto [T, fs] : {std::pair{s.t0[k], s.fs0[k]}, std::pair{s.t1[k], s.fs1[k]}}) {
                ASSERT_TRUE(fs >= 0.0f && fs <= 1.0f);
                if (T <= s.alloy.solidus) {
                    EXPECT_EQ(fs, 1.0f) << T;
                }
                if (T >= s.alloy.liquidus) {
                    EXPECT_EQ(fs, 0.0f) << T;
                }
                tFs.emplace_back(T, fs);
            }
            liquid += s.t1[k] > s.alloy.liquidus;
            solid += s.t1[k] < s.alloy.solidus;
            mushy += s.t1[k] < s.alloy.liquidus && s.t1[k] > s.alloy.solidus;
        }
    }
    // The history shows all three states, and fs never rises with T.
    EXPECT_GT(liquid, 0u);
    EXPECT_GT(mushy, 0u);
    EXPECT_GT(solid, 0u);
    std::sort(tFs.begin(), tFs.end());
    for (size_t k = 1; k < tFs.size(); ++k)
        EXPECT_LE(tFs[k].second, tFs[k - 1].second) << "T " << tFs[k].first;
}

TEST(HostSample, MicrostructureFollowsTheSolidFraction) {
    Sample s(5, 3);
    const size_t n = static_cast<size_t>(s.nnod);
    ASSERT_EQ(s.micro.size(), n * vhost::kNumConstituents);
    ASSERT_EQ(s.aux.size(), n * vhost::kNumAuxiliaries);
    for (int step = 1; step <= s.steps; ++step) {
        s.setStep(step);
        for (int i = 0; i < s.nnod; ++i) {
            const size_t k = static_cast<size_t>(i);
            double sum = 0;
            for (int c = 0; c < vhost::kNumConstituents; ++c) {
                const double v = s.micro[static_cast<size_t>(c) * n + k];
                EXPECT_GE(v, 0.0);
                sum += v;
                // The model the accessors read holds the same value.
                EXPECT_EQ(micModels_gCNTibyAind_checkIndices(s.model, c, i), v);
            }
            for (int a = 0; a < vhost::kNumAuxiliaries; ++a) {
                const double v = s.aux[static_cast<size_t>(a) * n + k];
                EXPECT_EQ(micModels_vAuxibyAind_checkIndices(s.model, a, i), v);
                if (s.fs1[k] == 0.0f) {
                    EXPECT_EQ(v, 0.0);
                }
            }
            // Constituents split the solid; mould nodes have none.
            EXPECT_NEAR(sum, s.inCasting(i) ? double(s.fs1[k]) : 0.0, 1e-6) << "node " << i + 1;
        }
    }
    // The catalogue names the active quantities by their indices.
    for (int c = 0; c < vhost::kNumConstituents; ++c)
        EXPECT_STREQ(micCNT_GindToName_CNT(s.catalog, c), vhost::kConstituents[c]);
    for (int a = 0; a < vhost::kNumAuxiliaries; ++a)
        EXPECT_STREQ(micCNT_GindToName_Aux(s.catalog, a), vhost::kAuxiliaries[a]);
}

TEST(HostSample, IntegrationPointArraysHoldEightPointsPerElement) {
    Sample s(5, 2);
    const size_t ne = static_cast<size_t>(s.nel);
    EXPECT_EQ(s.fractionVoid.size(), ne * 8);
    EXPECT_EQ(s.epstn.size(), ne * 8);
    EXPECT_EQ(s.strsg.size(), ne * 8 * 6);
    s.setStep(2);
    for (const auto *v : {&s.fractionVoid, &s.epstn, &s.strsg})
        for (float f : *v)
            ASSERT_TRUE(std::isfinite(f));
    // The last element's points are filled (a short loop would leave zeros),
    // and void appears only in the casting.
    const size_t last = (ne - 1) * 8;
    EXPECT_NE(s.epstn[last + 7], 0.0f);
    EXPECT_NE(s.strsg[(last + 7) * 6], 0.0f);
    for (size_t e = 0; e < ne; ++e)
        if (s.matId[e] == 1) {
            for (size_t p = 0; p < 8; ++p)
                EXPECT_EQ(s.fractionVoid[e * 8 + p], 0.0f);
        }
}

// The nodes each choice of materials selects, worked out from the grid
// alone, are the sample's, and so is their count.
TEST(HostSample, CastingNodesFromTheGridAreTheSamples) {
    for (int n : {4, 5, 7, 8, 13, 20, 31}) {
        Sample s(n, 1);
        for (int materials : {1, 2, 3}) {
            const auto shape =
                vhost::ResultShape::values(vhost::WorkerKind::Entry, 0, n, 2, materials);
            const std::vector<uint8_t> sel = shape.selection();
            int64_t count = 0;
            for (int i = 0; i < s.nnod; ++i) {
                const int material = s.inCasting(i) ? 1 : 2;
                ASSERT_EQ(sel[size_t(i)], (materials >> (material - 1)) & 1) << n << " " << i;
                count += sel[size_t(i)];
            }
            EXPECT_EQ(shape.selectedCount(), count) << n << " " << materials;
            EXPECT_EQ(shape.count, 2 * count);
        }
    }
}

// The depths found per kind of row are those of a plain scan of the nodes,
// bit for bit, and so are the classes, in the order of their first node:
// on the sample's grids, with and without a path, and on tables of few
// values where both zeros meet and sums round otherwise in another order.
TEST(HostSample, DepthRowsAreTheNodesDepthsAndClasses) {
    std::vector<std::pair<std::string, vhost::DepthAxes>> cases;
    for (int n : {2, 3, 7, 8, 100})
        for (bool path : {false, true})
            cases.emplace_back("side " + std::to_string(n) + (path ? " path" : ""),
                               vhost::depthAxes(n, path));
    // (a + b) + c and (a + c) + b round to neighbouring doubles whose
    // roots round to two floats.
    const double a = 0x1.222dd9884670dp+0, b = 0x1.4p-52, c = 0x1p-53;
    const double inside[] = {-0.0, 0.0, 0.1, 0.2, 0.35, -0.3, 1.5};
    const double outside[] = {0.0, 0.1, 0.2, 0.3, 1e-17, a, b, c};
    cases.emplace_back("table of 3", vhost::DepthAxes{{0, 0, 0}, {a, b, c}, 0, 0, 0.35, 1e-9});
    std::mt19937 rng(11);
    for (auto [n, mould] : {std::pair{1, true}, {4, true}, {9, true}, {9, false}}) {
        vhost::DepthAxes a;
        for (int k = 0; k < n; ++k) {
            a.inside.push_back(inside[rng() % std::size(inside)]);
            a.outside.push_back(outside[rng() % std::size(outside)]);
        }
        a.half = 0.35, a.eps = 1e-9, a.mould = mould;
        cases.emplace_back("table of " + std::to_string(n) + (mould ? "" : " path"), a);
    }
    auto bits = [](float f) {
        uint32_t b;
        std::memcpy(&b, &f, sizeof b);
        return b;
    };
    for (const auto &[name, axes] : cases) {
        SCOPED_TRACE(name);
        const vhost::DepthAxes &a = axes;
        const vhost::DepthRows rows = vhost::depthRows(a);
        const size_t n = a.inside.size();
        ASSERT_EQ(rows.rowKind.size(), n * n);
        std::map<uint32_t, uint32_t> classOf;
        std::vector<uint32_t> classBits;
        for (size_t k = 0, row = 0; k < n; ++k)
            for (size_t j = 0; j < n; ++j, ++row) {
                const double wallJK = std::min({a.half, a.inside[j], a.inside[k]});
                const size_t kind = rows.rowKind[row];
                ASSERT_LE((kind + 1) * n, rows.kindClasses.size());
                for (size_t i = 0; i < n; ++i) {
                    const double wall = std::min(wallJK, a.inside[i]);
                    const double out = 0.0 + a.outside[i] + a.outside[j] + a.outside[k];
                    const float depth = out > a.eps * a.eps && a.mould
                                            ? static_cast<float>(-std::sqrt(out))
                                            : static_cast<float>(std::max(wall, 0.0) / a.half);
                    const auto [c, fresh] = classOf.try_emplace(bits(depth), classBits.size());
                    if (fresh) classBits.push_back(bits(depth));
                    ASSERT_EQ(rows.kindClasses[kind * n + i], c->second) << row * n + i;
                }
            }
        ASSERT_EQ(rows.classes.size(), classBits.size());
        for (size_t c = 0; c < classBits.size(); ++c)
            EXPECT_EQ(bits(rows.classes[c]), classBits[c]) << c;
    }
}

// The selection, made a row at a time, is the plain rule per node: a node
// inside the casting's box on every axis is casting, any other mould; a
// count short of the grid cuts it, one beyond leaves the rest unselected.
TEST(HostSample, SelectedNodesFollowTheRuleWhateverTheCount) {
    for (int side : {1, 2, 3, 7, 13})
        for (int64_t extra : {-5, 0, 3})
            for (int materials : {0, 1, 2, 3}) {
                const int64_t grid = int64_t(side) * side * side,
                              nnod = std::max<int64_t>(grid + extra, 0);
                const std::vector<uint8_t> sel = vhost::selectNodes(side, materials, 0, nnod);
                ASSERT_EQ(int64_t(sel.size()), nnod);
                const int lo = vhost::mouldLayers(side), hi = side - 1 - lo;
                for (int64_t i = 0; i < nnod; ++i) {
                    const int x = int(i % side), y = int(i / side % side), z = int(i / side / side);
                    auto in = [&](int a) { return a >= lo && a <= hi; };
                    const int material = in(x) && in(y) && in(z) ? 1 : 2;
                    ASSERT_EQ(sel[size_t(i)], i < grid && (materials & material) ? 1 : 0)
                        << side << " " << extra << " " << materials << " node " << i;
                }
            }
}

// A mesh left for fill() comes out as the mesh built at once, an array at
// a time; the fields need none of it (the element kinds are made when the
// integration points are first filled).
TEST(HostSample, MeshFilledOnDemandIsTheMesh) {
    for (int n : {4, 9}) {
        Sample eager(n, 2), lazy(n, 2, Sample::Build::OnDemand);
        lazy.setStep(2, false);
        for (const void *a : {(const void *)lazy.fs1.data(), (const void *)lazy.strsg.data()})
            ASSERT_TRUE(lazy.fill(a));
        EXPECT_FALSE(lazy.filled(lazy.x.data()));
        EXPECT_FALSE(lazy.filled(lazy.conn.data()));
        for (const void *a : {(const void *)lazy.x.data(), (const void *)lazy.y.data(),
                              (const void *)lazy.z.data(), (const void *)lazy.elType.data(),
                              (const void *)lazy.matId.data(), (const void *)lazy.ncon.data(),
                              (const void *)lazy.conn.data(), (const void *)lazy.elVol.data()}) {
            ASSERT_TRUE(lazy.fill(a));
            EXPECT_TRUE(lazy.filled(a));
        }
        EXPECT_EQ(lazy.x, eager.x);
        EXPECT_EQ(lazy.y, eager.y);
        EXPECT_EQ(lazy.z, eager.z);
        EXPECT_EQ(lazy.elType, eager.elType);
        EXPECT_EQ(lazy.matId, eager.matId);
        EXPECT_EQ(lazy.conn, eager.conn);
        EXPECT_EQ(lazy.elVol, eager.elVol);
        for (size_t e = 0; e < size_t(lazy.nel); ++e)
            ASSERT_EQ(lazy.ncon[e], &lazy.conn[e * 8]);
        eager.setStep(2);
        EXPECT_EQ(lazy.fs1, eager.fs1);
        EXPECT_EQ(lazy.strsg, eager.strsg);
    }
}

// A sample built OnDemand and a step's fields filled by setStep: every
// array as a sample built whole has it, at every step, whatever step comes
// first.
TEST(HostSample, BuiltOnDemandEveryArrayIsTheWholeSamples) {
    const struct {
        int n, steps;
        std::vector<int> order;
    } cases[] = {{4, 1, {1}}, {9, 3, {1, 2, 3}}, {9, 3, {3, 1}}, {12, 2, {2, 2}}};
    for (const auto &c : cases) {
        Sample whole(c.n, c.steps), lazy(c.n, c.steps, Sample::Build::OnDemand);
        for (int step : c.order) {
            whole.setStep(step);
            lazy.setStep(step);
#define EXPECT_SAME_ARRAY(first, member, ...)                                                      \
    EXPECT_EQ(0, std::memcmp(lazy.member.data(), whole.member.data(),                              \
                             whole.member.size() * sizeof whole.member[0]))                        \
        << #member << " n=" << c.n << " step " << step;
            VHOST_MESH_ARRAYS(VHOST_ARRAY_NONE, VHOST_ARRAY_NONE)
            VHOST_FIELD_ARRAYS(EXPECT_SAME_ARRAY, EXPECT_SAME_ARRAY)
            VHOST_POINT_ARRAYS(EXPECT_SAME_ARRAY, EXPECT_SAME_ARRAY)
#undef EXPECT_SAME_ARRAY
            EXPECT_EQ(lazy.x, whole.x);
            EXPECT_EQ(lazy.conn, whole.conn);
            EXPECT_EQ(lazy.matId, whole.matId);
            EXPECT_EQ(lazy.elVol, whole.elVol);
        }
    }
}

// A renumbered sample holds every item of the grid's at its new number,
// built whole (its mesh renumbered once filled) or on demand (each array as
// it is filled): each node's values where numbered() puts it, each
// element's (found by its first corner) with its corners' new numbers.
TEST(HostSample, RenumberedArraysHoldTheGridsItemsAtTheirNewNumbers) {
    using vhost::Extent;
    const struct {
        int n;
        Sample::Build build;
        uint32_t seed;
    } cases[] = {{4, Sample::Build::Whole, 7},
                 {6, Sample::Build::OnDemand, 7},
                 {9, Sample::Build::Whole, 12345}};
    vhost::SampleConfig config;
    config.materials = vhost::material::kCasting | vhost::material::kMould;
    for (const auto &c : cases) {
        Sample grid(c.n, 2), renumbered(c.n, 2, c.build);
        renumbered.renumber(c.seed);
        grid.setStep(2);
        renumbered.setStep(2);
        const size_t nnod = size_t(grid.nnod);
        const std::vector<uint8_t> selected = vhost::selectedNodes(grid, config),
                                   selectedThere = vhost::selectedNodes(renumbered, config);
        size_t moved = 0;
        for (size_t i = 0; i < nnod; ++i) {
            const size_t j = size_t(renumbered.numbered(int(i)));
            ASSERT_EQ(size_t(renumbered.gridNode(int(j))), i);
            moved += j != i;
            EXPECT_EQ(renumbered.inCasting(int(j)), grid.inCasting(int(i)));
            EXPECT_EQ(selectedThere[j], selected[i]);
#define EXPECT_SAME_NODE(first, member, type, extent, ...)                                         \
    if (extent == Extent::Node) {                                                                  \
        ASSERT_EQ(0, std::memcmp(&renumbered.member[j], &grid.member[i], sizeof(type)))            \
            << #member << " n=" << c.n << " node " << i;                                           \
    }
            VHOST_MESH_ARRAYS(EXPECT_SAME_NODE, EXPECT_SAME_NODE)
            VHOST_FIELD_ARRAYS(EXPECT_SAME_NODE, EXPECT_SAME_NODE)
#undef EXPECT_SAME_NODE
            for (size_t q = 0; q < size_t(vhost::kNumConstituents); ++q)
                ASSERT_EQ(renumbered.micro[q * nnod + j], grid.micro[q * nnod + i]);
            for (size_t q = 0; q < size_t(vhost::kNumAuxiliaries); ++q)
                ASSERT_EQ(renumbered.aux[q * nnod + j], grid.aux[q * nnod + i]);
        }
        EXPECT_GT(moved, nnod / 2) << "n=" << c.n;
        std::vector<int> elementAt(nnod, -1); // the grid's element by its first corner
        for (size_t e = 0; e < size_t(grid.nel); ++e)
            elementAt[size_t(grid.conn[e * 8])] = int(e);
        for (size_t f = 0; f < size_t(renumbered.nel); ++f) {
            const int e = elementAt[size_t(renumbered.gridNode(renumbered.conn[f * 8]))];
            ASSERT_GE(e, 0) << "element " << f << " n=" << c.n;
            const size_t g = size_t(e);
            for (size_t k = 0; k < 8; ++k)
                ASSERT_EQ(renumbered.conn[f * 8 + k], renumbered.numbered(grid.conn[g * 8 + k]));
            ASSERT_EQ(renumbered.ncon[f], &renumbered.conn[f * 8]);
            ASSERT_EQ(renumbered.matId[f], grid.matId[g]);
            ASSERT_EQ(renumbered.elType[f], grid.elType[g]);
            ASSERT_EQ(renumbered.elVol[f], grid.elVol[g]);
            ASSERT_EQ(0, std::memcmp(&renumbered.fractionVoid[f * 8], &grid.fractionVoid[g * 8],
                                     8 * sizeof(float)));
            ASSERT_EQ(0,
                      std::memcmp(&renumbered.epstn[f * 8], &grid.epstn[g * 8], 8 * sizeof(float)));
            ASSERT_EQ(
                0, std::memcmp(&renumbered.strsg[f * 48], &grid.strsg[g * 48], 48 * sizeof(float)));
        }
    }
}

// Every nodal field, both time levels, is the node's state as the cooling
// history gives it, rounded to the host's float: the fields are filled per
// class of equal depth, the history is worked out per node.
TEST(HostSample, FieldsAreTheStateOfEachNode) {
    for (int n : {4, 9, 16}) {
        Sample s(n, 4);
        for (int step : {1, 3, 4}) {
            s.setStep(step);
            for (int i = 0; i < s.nnod; ++i) {
                const size_t k = static_cast<size_t>(i);
                const vhost::NodeState a = s.state(i, step - 1), b = s.state(i, step);
                const std::pair<float, double> fields[] = {
                    {s.t0[k], a.T},
                    {s.t1[k], b.T},
                    {s.fs0[k], a.fs},
                    {s.fs1[k], b.fs},
                    {s.vf0[k], a.vf},
                    {s.vf1[k], b.vf},
                    {s.fvol0[k], a.fvol},
                    {s.fvol1[k], b.fvol},
                    {s.jctn0[k], a.coolingRate},
                    {s.jctn1[k], b.coolingRate},
                    {s.u0[k], a.u},
                    {s.u1[k], b.u},
                    {s.v0[k], a.v},
                    {s.v1[k], b.v},
                    {s.w0[k], a.w},
                    {s.w1[k], b.w},
                    {s.p0[k], a.p},
                    {s.p1[k], b.p},
                    {s.mushy[k], b.mushyStrain},
                };
                for (size_t f = 0; f < std::size(fields); ++f)
                    ASSERT_EQ(fields[f].first, static_cast<float>(fields[f].second))
                        << "n " << n << " step " << step << " node " << i + 1 << " field " << f;
            }
        }
    }
}

// The points' values, worked out here element by element from the nodes'
// temperature and porosity, are those the sample gives every element.
TEST(HostSample, IntegrationPointsFollowTheirElementsNodes) {
    const double g = 1.0 / std::sqrt(3.0);
    const int sr[8] = {-1, 1, 1, -1, -1, 1, 1, -1}, ss[8] = {-1, -1, 1, 1, -1, -1, 1, 1},
              st[8] = {-1, -1, -1, -1, 1, 1, 1, 1};
    for (int n : {4, 11}) {
        Sample s(n, 3);
        for (int step = 1; step <= 3; ++step) {
            s.setStep(step);
            for (size_t e = 0; e < static_cast<size_t>(s.nel); ++e)
                for (int p = 0; p < 8; ++p) {
                    double T = 0, vf = 0;
                    for (int c = 0; c < 8; ++c) {
                        const double N = 0.125 * (1 + sr[c] * sr[p] * g) * (1 + ss[c] * ss[p] * g) *
                                         (1 + st[c] * st[p] * g);
                        const size_t node = static_cast<size_t>(s.conn[e * 8 + size_t(c)]);
                        T += N * s.t1[node];
                        vf += N * s.vf1[node];
                    }
                    const bool cast = s.matId[e] == 0;
                    const double eps = cast ? 2.3e-5 * std::max(s.alloy.solidus - T, 0.0)
                                            : -1.2e-5 * (T - s.alloy.mould);
                    const size_t q = e * 8 + size_t(p);
                    ASSERT_NEAR(s.fractionVoid[q], cast ? vf : 0.0, 1e-6) << e << " " << p;
                    ASSERT_NEAR(s.epstn[q], eps, 1e-9 + 1e-6 * std::fabs(eps)) << e << " " << p;
                    const double E =
                        cast ? 7.0e11 * std::max(1.0 - (T - 293.0) / 700.0, 0.05) : 2.0e12;
                    const double sig = 0.6 * E * eps;
                    ASSERT_NEAR(s.strsg[q * 6 + 2], sig, 1e-6 * std::fabs(sig) + 1e-3)
                        << e << " " << p;
                }
        }
    }
}

// A worker fills the points only when user code first reads them: the
// means read there are those of the sample filled at once, and a write
// into the points before any read is still caught as one.
TEST(HostSample, PointsFilledWhenFirstReadInAWorkerAreTheSamples) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("vulmora-host-points-" + std::to_string(getpid()));
    Sample s(6, 3);
    const struct {
        const char *entry;
        const vhost::PageVector<float> *points;
        size_t stride, component;
    } cases[] = {{"density", &s.fractionVoid, 1, 0},
                 {"emissivity", &s.epstn, 1, 0},
                 {"interhtransfer", &s.strsg, 6, 2}};
    const size_t nnod = static_cast<size_t>(s.nnod);
    // The second library has a crash handler of its own: points filled at once.
    for (const char *library : {HOSTLIB_POINTS, HOSTLIB_POINTS_HANDLER}) {
        std::filesystem::remove_all(dir);
        const bool own = std::string(library) == HOSTLIB_POINTS_HANDLER;
        const vtest::HostResult r =
            vtest::runHost(VULMORA_HOST_EXE,
                           std::string("--library '") + library +
                               "' --nodes-per-side 6 --steps 3 --materials all --no-plots "
                               "--functions density,emissivity,interhtransfer,heatflux" +
                               (own ? "" : ",convehtransfer") + " --output '" + dir.string() + "'");
        EXPECT_EQ(r.status, own ? 0 : 1) << r.out << r.err;
        if (!own) {
            EXPECT_NE(r.out.find("func_convehtransfer: modified the host's array strsg (entry 5) "
                                 "at step 1, node 3;"),
                      std::string::npos)
                << r.out;
        }
        for (const auto &c : cases) {
            const std::string bytes = vtest::slurp(dir / (std::string(c.entry) + ".values"));
            ASSERT_EQ(bytes.size(), nnod * 3 * sizeof(double)) << library << " " << c.entry;
            for (int step = 1; step <= 3; ++step) {
                s.setStep(step);
                for (size_t node = 0; node < nnod; ++node) {
                    const size_t e = node % static_cast<size_t>(s.nel);
                    double sum = 0;
                    for (size_t p = 0; p < 8; ++p)
                        sum += (*c.points)[(e * 8 + p) * c.stride + c.component];
                    ASSERT_DOUBLE_EQ(valueAt(bytes, step, node, nnod), sum / 8)
                        << library << " " << c.entry << " step " << step << " node " << node + 1;
                }
            }
        }
        // Every field, the microstructure and the points, hashed.
        const std::string hashes = vtest::slurp(dir / "heatflux.values");
        ASSERT_EQ(hashes.size(), nnod * 3 * sizeof(double)) << library;
        for (int step = 1; step <= 3; ++step) {
            s.setStep(step);
            for (size_t node = 0; node < nnod; ++node)
                ASSERT_EQ(valueAt(hashes, step, node, nnod), double(sampleHash(s, node) >> 11))
                    << library << " step " << step << " node " << node + 1;
        }
    }
    std::filesystem::remove_all(dir);
}

// Threads of user code reading an array no call has read yet all see it
// filled; an unread array handed to a system call is unreadable to it
// unless every array is filled before the calls (--fill-all).
TEST(HostSample, ThreadsSeeFilledArraysAndFillAllServesSystemCalls) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("vulmora-host-threads-" + std::to_string(getpid()));
    Sample s(6, 2);
    const size_t nnod = size_t(s.nnod);
    for (const bool all : {false, true}) {
        std::filesystem::remove_all(dir);
        const vtest::HostResult r = vtest::runHost(
            VULMORA_HOST_EXE, std::string("--library '") + HOSTLIB_POINTS +
                                  "' --nodes-per-side 6 --steps 2 --materials all --no-plots "
                                  "--functions masssourceflowrate,texternal --output '" +
                                  dir.string() + "'" + (all ? " --fill-all" : ""));
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        const std::string sums = vtest::slurp(dir / "masssourceflowrate.values");
        const std::string written = vtest::slurp(dir / "texternal.values");
        ASSERT_EQ(sums.size(), nnod * 2 * 8);
        ASSERT_EQ(written.size(), nnod * 2 * 8);
        for (int step = 1; step <= 2; ++step) {
            s.setStep(step);
            double expected = 0, sum, bytes;
            for (size_t i = 0; i < nnod; ++i)
                expected += s.t1[i];
            std::memcpy(&sum, sums.data() + size_t(step - 1) * nnod * 8, 8);
            std::memcpy(&bytes, written.data() + size_t(step - 1) * nnod * 8, 8);
            EXPECT_EQ(sum, expected) << step;
            EXPECT_EQ(bytes, all ? double(nnod * sizeof(float)) : -1.0) << step << " " << all;
        }
    }
    std::filesystem::remove_all(dir);
}

// ---- the exchange block ------------------------------------------------------------

TEST(HostSample, BindPointsEveryFieldAtTheSampleAndWritesTheScalars) {
    vhost::Library lib;
    std::string error;
    ASSERT_TRUE(lib.open(vtest::deliveredLibrary(), error)) << error;
    vhost::SampleConfig o;
    o.units.temp = 3, o.units.coor = 5, o.units.velocity = 4, o.units.time = 2;
    o.stressScale = 0.25;
    o.tempTable = false;
    Sample s(4, 2);
    s.setStep(1);
    lib.bind(s, o);
    const vhost::Exchange &x = lib.x;
    EXPECT_EQ(*x.nnod, 64);
    EXPECT_EQ(*x.nvnod, 64);
    EXPECT_EQ(*x.nel, 27);
    EXPECT_EQ(*x.nstr1, 6);
    EXPECT_EQ(*x.TWO_D, 0);
    EXPECT_EQ(std::vector<int>(
                  {*x.user_unit_temp, *x.user_unit_coor, *x.user_unit_velocity, *x.user_unit_time}),
              std::vector<int>({3, 5, 4, 2}));
    EXPECT_EQ(*x.stress_scale, 0.25);
    EXPECT_EQ(*x.func_temp, -9999.0);
    const std::pair<float **, const vhost::PageVector<float> *> floats[] = {
        {x.el_vol, &s.elVol},
        {x.t0, &s.t0},
        {x.t1, &s.t1},
        {x.fs0, &s.fs0},
        {x.fs1, &s.fs1},
        {x.vf_s0, &s.vf0},
        {x.vf_s1, &s.vf1},
        {x.f_vol0, &s.fvol0},
        {x.f_vol1, &s.fvol1},
        {x.jctn0, &s.jctn0},
        {x.jctn1, &s.jctn1},
        {x.fatigue_life, &s.fatigue},
        {x.u0, &s.u0},
        {x.v0, &s.v0},
        {x.w0, &s.w0},
        {x.u1, &s.u1},
        {x.v1, &s.v1},
        {x.w1, &s.w1},
        {x.p0, &s.p0},
        {x.p1, &s.p1},
        {x.mushy_strain, &s.mushy},
        {x.fraction_void, &s.fractionVoid},
        {x.epstn_new, &s.epstn},
        {x.strsg, &s.strsg},
    };
    for (size_t k = 0; k < std::size(floats); ++k) {
        ASSERT_NE(*floats[k].first, nullptr) << "field " << k;
        EXPECT_EQ(*floats[k].first, floats[k].second->data()) << "field " << k;
    }
    EXPECT_EQ(*x.x_cord, s.x.data());
    EXPECT_EQ(*x.y_cord, s.y.data());
    EXPECT_EQ(*x.z_cord, s.z.data());
    EXPECT_EQ(*x.el_type, s.elType.data());
    EXPECT_EQ(*x.mat_id, s.matId.data());
    EXPECT_EQ(*x.ncon, s.ncon.data());
    EXPECT_EQ(*x.micModelsA, static_cast<void *>(s.model));
    EXPECT_EQ(*x.micCNTA, static_cast<void *>(s.catalog));
    // The worker's step makes mic_lastp point at the host's array as well.
    vhost::Caller caller(lib, s, o);
    caller.beginStep(2);
    EXPECT_NE(*x.mic_lastp, nullptr);
    EXPECT_EQ(s.step, 2);
    EXPECT_EQ(*x.t1, s.t1.data());
    // With a temperature table, func_temp is no longer the marker.
    o.tempTable = true;
    lib.bind(s, o);
    EXPECT_EQ(*x.func_temp, 0.0);
}

// The storage of the host's arrays: whole pages, and for an array of a
// huge page (2 MiB) or more whole huge pages, aligned to one, so that the
// guard's change of access covers each page whole.
TEST(HostSample, ArraysTakeWholePagesAndLargeOnesWholeHugePages) {
    namespace platform = vhost::platform;
    const size_t page = platform::pageSize(), huge = size_t(2) << 20;
    const struct {
        size_t bytes, taken;
    } cases[] = {
        {1, page},    {page, page},         {page + 1, 2 * page}, {huge - 1, huge},
        {huge, huge}, {huge + 1, 2 * huge}, {4000000, 2 * huge}, // a float per node at 100^3 nodes
    };
    for (const auto &c : cases) {
        EXPECT_EQ(platform::allocationSize(c.bytes), c.taken) << c.bytes;
        char *p = static_cast<char *>(platform::allocatePages(c.bytes));
        ASSERT_NE(p, nullptr) << c.bytes;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % (c.taken >= huge ? huge : page), 0u) << c.bytes;
        p[0] = 1, p[c.taken - 1] = 2; // every byte taken is the array's
        EXPECT_TRUE(platform::protectPages(p, c.taken, true)) << c.bytes;
        EXPECT_EQ(p[0] + p[c.taken - 1], 3);
        EXPECT_TRUE(platform::protectPages(p, c.taken, false)) << c.bytes;
        platform::freePages(p, c.bytes);
    }
}

// caller_test.cpp - calling entry points as the solver does: nodal mode,
// and the stress analysis' registration, slots and local values.
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include "model/caller.h"
#include "hostlib/host_run.h"
#include "runtime/messages.h"
#include "model/sample.h"

using vhost::Sample;

namespace {

// What one node of the sample holds, for a cycle.c entry point.
using Expected = std::function<double(const Sample &, size_t node0)>;

double constituent(const Sample &s, int c, size_t i) {
    return s.micro[static_cast<size_t>(c) * static_cast<size_t>(s.nnod) + i];
}
double auxiliary(const Sample &s, int a, size_t i) {
    return s.aux[static_cast<size_t>(a) * static_cast<size_t>(s.nnod) + i];
}

// The library loaded into this process, with the sample and a caller.
struct Bench {
    vhost::Library lib;
    vhost::SampleConfig o;
    Sample s{5, 2};
    std::unique_ptr<vhost::Caller> caller;
    explicit Bench(const char *path) {
        std::string error;
        if (!lib.open(path, error)) throw std::runtime_error(error);
        caller = std::make_unique<vhost::Caller>(lib, s, o);
    }
    vhost::PropertyFn entry(const char *name) const {
        vhost::PropertyFn f = lib.entry(name);
        if (!f) throw std::runtime_error(std::string("no func_") + name);
        return f;
    }
};

} // namespace

// ---- the calling convention, in this process ------------------------------------

TEST(HostCalls, NodalAndLocalModesReadTheSameQuantitiesAtEveryNode) {
    Bench b(HOSTLIB_CYCLE);
    const Expected fraction2 = [](const Sample &s, size_t i) { return constituent(s, 2, i); };
    const Expected micro1 = [](const Sample &s, size_t i) { return auxiliary(s, 1, i); };
    const Expected poros = [](const Sample &s, size_t i) { return double(s.vf1[i]); };
    struct Case {
        const char *entry;
        Expected expected;
    } cases[] = {
        {"density", fraction2},
        {"youngsmodulus", fraction2},
        {"emissivity", micro1},
        {"poissonratio", micro1},
        {"heatflux", poros},
        {"thermalexpansion", poros},
        {"yieldstress",
         [](const Sample &s, size_t i) {
             return 1000.0 * constituent(s, 2, i) + constituent(s, 0, i) +
                    0.001 * auxiliary(s, 1, i) + 1e6 * double(s.vf1[i]);
         }},
    };
    std::vector<double> out(static_cast<size_t>(b.s.nnod));
    const std::vector<uint8_t> every(out.size(), 1);
    for (int step = 1; step <= b.s.steps; ++step) {
        b.caller->beginStep(step);
        for (const Case &c : cases) {
            const vhost::EntryPoint *e = vhost::findEntryPoint(c.entry);
            std::fill(out.begin(), out.end(), -1.0);
            b.caller->evaluate(*e, b.entry(c.entry), out.data(), every);
            size_t nonzero = 0;
            for (size_t i = 0; i < out.size(); ++i) {
                const double want = c.expected(b.s, i);
                EXPECT_DOUBLE_EQ(out[i], want) << c.entry << " step " << step << " node " << i + 1;
                nonzero += want != 0.0;
            }
            // The comparison means something only where the quantity is not 0.
            if (step == b.s.steps) {
                EXPECT_GT(nonzero, 0u) << c.entry;
            }
        }
    }
    // The quantities differ from their neighbours, so a wrong index shows.
    size_t differ = 0;
    for (size_t i = 0; i < static_cast<size_t>(b.s.nnod); ++i)
        differ += constituent(b.s, 2, i) != constituent(b.s, 1, i) &&
                  auxiliary(b.s, 1, i) != auxiliary(b.s, 0, i);
    EXPECT_GT(differ, 0u);
}

TEST(HostCalls, RegistrationMarksQuantitiesAndAssignsSlotsInIndexOrder) {
    Bench b(HOSTLIB_CYCLE);
    b.caller->beginStep(1);
    struct Case {
        const char *entry;
        bool poros;
        std::vector<int> constituents, auxiliaries;
    } cases[] = {
        {"youngsmodulus", false, {2}, {}},
        {"poissonratio", false, {}, {1}},
        {"thermalexpansion", true, {}, {}},
        {"yieldstress", true, {0, 2}, {1}},
    };
    for (const Case &c : cases) {
        const vhost::Marks m = b.caller->registration(b.entry(c.entry));
        EXPECT_EQ(m.poros, c.poros) << c.entry;
        EXPECT_EQ(m.constituents, c.constituents) << c.entry;
        EXPECT_EQ(m.auxiliaries, c.auxiliaries) << c.entry;
        // The slots the accessors will read in local mode, 0, 1, ... in order;
        // nothing left marked from a previous registration. Every unmarked
        // quantity has a slot of its own after them, holding the NaN that
        // names it.
        const int *lastp = *b.lib.x.mic_lastp;
        const double *loc = *b.lib.x.loc_micro;
        for (int kind = 0; kind < 2; ++kind) {
            const std::vector<int> &marked = kind == 0 ? c.constituents : c.auxiliaries;
            std::vector<int> slots;
            for (int k = 0; k < 100; ++k) {
                const int slot = lastp[3 + 100 * kind + k];
                slots.push_back(slot);
                auto pos = std::find(marked.begin(), marked.end(), k);
                if (pos != marked.end()) {
                    EXPECT_EQ(slot, pos - marked.begin()) << c.entry << " quantity " << k;
                    continue;
                }
                EXPECT_GE(slot, static_cast<int>(marked.size())) << c.entry;
                vhost::Unmarked named;
                int index = -1;
                ASSERT_TRUE(vhost::decodeUnmarked(loc[100 * kind + slot], named, index));
                EXPECT_EQ(named,
                          kind == 0 ? vhost::Unmarked::Constituent : vhost::Unmarked::Auxiliary);
                EXPECT_EQ(index, k);
            }
            std::sort(slots.begin(), slots.end());
            EXPECT_EQ(std::adjacent_find(slots.begin(), slots.end()), slots.end()) << c.entry;
        }
        EXPECT_EQ(lastp[2] != 0, c.poros) << c.entry;
        EXPECT_EQ(*b.lib.x.location, -1);
    }
}

// Local values come from the step's tables, not the microstructure's
// arrays (a worker fills those only when user code reads them): the same
// values, in the sample's numbering whatever it is.
TEST(HostCalls, LocalValuesAreThoseOfTheNodeAskedFor) {
    for (const uint32_t seed : {0u, 7u}) {
        Bench b(HOSTLIB_CYCLE);
        if (seed) b.s.renumber(seed);
        b.caller->beginStep(2);
        const vhost::Marks m = b.caller->registration(b.entry("yieldstress"));
        for (int node : {1, 63, 100, 125}) {
            const size_t i = static_cast<size_t>(node - 1);
            b.caller->fillLocal(m, node);
            const double *loc = *b.lib.x.loc_micro;
            EXPECT_EQ(loc[0], constituent(b.s, 0, i)) << node << " seed " << seed;
            EXPECT_EQ(loc[1], constituent(b.s, 2, i)) << node << " seed " << seed;
            EXPECT_EQ(loc[100], auxiliary(b.s, 1, i)) << node << " seed " << seed;
            EXPECT_EQ(*b.lib.x.loc_poro, double(b.s.vf1[i])) << node << " seed " << seed;
        }
    }
}

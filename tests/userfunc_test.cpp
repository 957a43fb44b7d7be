// The template entry points, called the way the host calls them: through a
// dlopen'ed library, resolved by name, each fatal call in a child process.

#include "runtime/messages.h"
#include "support/child.h"
#include "support/expected_surface.h"
#include "support/loaded_library.h"
#include "support/paths.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using namespace vtest;
using Entry = double (*)(int);
using External = void (*)(void *, int);

std::string placeholderLine(const std::string &name) {
    return "---> exit in C user function " + name + " <---\n";
}

// The delivered library, and a user library built from the copyable
// template source, must behave alike.
struct Template : ::testing::TestWithParam<std::string> {
    LoadedLibrary lib{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(Libraries, Template,
                         ::testing::Values(deliveredLibrary(),
                                           std::string(VULMORA_TEMPLATE_COPY_LIB)),
                         [](const auto &info) {
                             return info.index == 0 ? std::string("Delivered")
                                                    : std::string("TemplateSource");
                         });

// The template source programs func_convehtransfer; everything else is
// the build's placeholder, as in the delivered library.
bool programmedInTemplateSource(const std::string &library, const std::string &name) {
    return library == VULMORA_TEMPLATE_COPY_LIB && name == "convehtransfer";
}

TEST_P(Template, EveryPlaceholderPrintsItsLineAndStops) {
    for (const char *name : kPlaceholders) {
        if (programmedInTemplateSource(GetParam(), name)) continue;
        Entry f = lib.fn<Entry>(("func_" + std::string(name)).c_str());
        ChildResult r = runInChild([f] { f(1); });
        EXPECT_TRUE(stoppedWith(r, placeholderLine(name)))
            << name << ": status " << r.status << ", printed \"" << r.out << "\"";
    }
}

TEST_P(Template, MessageConstantMatchesTheLine) {
    EXPECT_STREQ(VULMORA_MSG_PLACEHOLDER("density"), "---> exit in C user function density <---\n");
}

// The stop goes through exit(): handlers registered by the host run, and
// what the host had buffered on stdout comes out before the line.
TEST_P(Template, StopRunsExitHandlersAndFlushes) {
    Entry f = lib.fn<Entry>("func_yieldstress");
    ChildResult r = runInChild([f] {
        std::atexit([] { std::fputs("[atexit]", stdout); });
        std::fputs("buffered;", stdout);
        f(0);
    });
    EXPECT_TRUE(stoppedWith(r, "buffered;" + placeholderLine("yieldstress") + "[atexit]")) << r.out;
}

// func_mechpropN empties buffer N-1 of both text arrays, and no other.
TEST_P(Template, MechpropEmptiesOnlyItsOwnBuffers) {
    auto &names = lib.var<char[5][101]>("name_mechprop");
    auto &units = lib.var<char[5][21]>("unit_mechprop");
    for (int n = 1; n <= 5; ++n) {
        Entry f = lib.fn<Entry>(("func_mechprop" + std::to_string(n)).c_str());
        ChildResult r = runInChild([&, f] {
            for (int b = 0; b < 5; ++b) {
                std::snprintf(names[b], sizeof names[b], "name%d", b);
                std::snprintf(units[b], sizeof units[b], "unit%d", b);
            }
            // Report the buffers from an exit handler: the entry point never returns.
            static char(*pn)[101];
            static char(*pu)[21];
            pn = names;
            pu = units;
            std::atexit([] {
                for (int b = 0; b < 5; ++b)
                    std::printf("|%s,%s", pn[b], pu[b]);
            });
            f(1);
        });
        std::string want = placeholderLine("mechprop" + std::to_string(n));
        for (int b = 0; b < 5; ++b)
            want += b == n - 1 ? "|," : "|name" + std::to_string(b) + ",unit" + std::to_string(b);
        EXPECT_TRUE(stoppedWith(r, want)) << r.out;
    }
}

TEST_P(Template, ExternalComputeResetsFlagsOnlyForZero) {
    External f = lib.fn<External>("func_externalcompute");
    int &t = lib.var<int>("tnodecontrol");
    int &v = lib.var<int>("vnodecontrol");
    for (int flag : {1, -1, 2, 0}) {
        t = 7;
        v = -3;
        f(nullptr, flag);
        EXPECT_EQ(t, flag == 0 ? 0 : 7) << "flag " << flag;
        EXPECT_EQ(v, flag == 0 ? 0 : -3) << "flag " << flag;
    }
}

TEST_P(Template, ConvertersThroughTheLoadedLibrary) {
    using Conv = double (*)(int, double);
    Conv to = lib.fn<Conv>("fconvertToCGS");
    Conv from = lib.fn<Conv>("fconvertFromCGS");
    int &temp = lib.var<int>("user_unit_temp");
    int &coor = lib.var<int>("user_unit_coor");
    EXPECT_EQ(to(0, 7.0), 7.0); // selectors are 0 at load
    temp = 2;
    coor = 3;
    EXPECT_EQ(to(-1, 20.0), 293.0);
    EXPECT_EQ(from(0, 2.0), 2.0 / 0.1);
    temp = coor = 0;
}

// The template's working entry point, against values worked out by hand:
// at 1000 K, h = 2.4e-4 + 0.8 * 1.3543e-12 * (1000^2 + 293^2) * 1293
// = 1.761153e-3 cal/(s cm^2 K) = 73.7347 W/(m^2 K); at 300 K, 3.52979e-4.
TEST(TemplateSource, ConvectionCoefficientInTheUsersUnits) {
    LoadedLibrary lib{std::string(VULMORA_TEMPLATE_COPY_LIB)};
    Entry f = lib.fn<Entry>("func_convehtransfer");
    float temps[2] = {1000.0f, 300.0f}; // stored in Kelvin, read in the user's unit
    lib.var<float *>("t1") = temps;
    lib.var<int>("nnod") = 2;
    int &tempUnit = lib.var<int>("user_unit_temp");
    int &htcUnit = lib.var<int>("user_unit_heattransfercoeff");
    struct Row {
        int node, temp, htc;
        double want;
    } rows[] = {
        {1, 1, 2, 1.761153e-3}, // K, cal/(s cm^2 K)
        {1, 1, 1, 73.7347},     // K, W/(m^2 K)
        {2, 2, 2, 3.52979e-4},  // 300 K read as 27 C, cal/(s cm^2 K)
    };
    for (const Row &r : rows) {
        tempUnit = r.temp;
        htcUnit = r.htc;
        EXPECT_NEAR(f(r.node), r.want, 2e-6 * r.want) << "node " << r.node << " htc " << r.htc;
    }
    // A temperature at or below 0 K, or NaN, is a stop that names the node.
    temps[1] = -27.0f;
    ChildResult r = runInChild([f] { f(2); });
    EXPECT_TRUE(stoppedWith(r, "convehtransfer: temperature -27 K at node 2\n")) << r.out;
    tempUnit = htcUnit = 0;
    lib.var<float *>("t1") = nullptr;
    lib.var<int>("nnod") = 0;
}

} // namespace

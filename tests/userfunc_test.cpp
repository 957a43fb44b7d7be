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

TEST_P(Template, EveryPlaceholderPrintsItsLineAndStops) {
    for (const char *name : kPlaceholders) {
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

} // namespace

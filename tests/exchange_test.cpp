// The exported surface of the delivered library, read the way the host and
// the dynamic loader see it.

#include "support/elf_tools.h"
#include "support/expected_surface.h"
#include "support/loaded_library.h"
#include "support/paths.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <set>
#include <string>

namespace {

using namespace vtest;

std::set<std::string> expectedNames() {
    std::set<std::string> names;
    for (const char *p : kPlaceholders)
        names.insert(std::string("func_") + p);
    for (const char *f : kOtherFunctions)
        names.insert(f);
    for (const DataSymbol &d : kData)
        names.insert(d.name);
    return names;
}

// The lists are the host's interface: growing or shrinking them is a
// change of that interface, never a side effect of an edit.
static_assert(VULMORA_ENTRY_POINT_COUNT == 37 && VULMORA_PROPERTY_ENTRY_POINT_COUNT == 36);
static_assert(std::size(kData) == 78);

TEST(Surface, DefinesExactlyTheExchangeBlockEntryPointsAndConverters) {
    std::set<std::string> actual;
    for (const auto &[name, size] : definedDynamicSymbols(deliveredLibrary()))
        actual.insert(name);
    EXPECT_EQ(actual, expectedNames());
    EXPECT_EQ(actual.size(), 117u);
}

TEST(Surface, DataSymbolsHaveAtLeastTheirSizes) {
    auto syms = definedDynamicSymbols(deliveredLibrary());
    for (const DataSymbol &d : kData) {
        ASSERT_TRUE(syms.count(d.name)) << d.name;
        EXPECT_GE(syms[d.name], d.min_size) << d.name;
    }
    EXPECT_EQ(syms["loc_micro"], 200 * sizeof(double));
    EXPECT_EQ(syms["name_mechprop"], 5u * 101);
    EXPECT_EQ(syms["unit_mechprop"], 5u * 21);
}

TEST(Surface, NeedsOnlyTheCLibraryAndTheMicrostructureLibrary) {
#ifdef VULMORA_SANITIZED
    GTEST_SKIP() << "a sanitizer build needs the sanitizer runtimes";
#endif
    auto needed = dynamicEntries(deliveredLibrary(), "NEEDED");
    EXPECT_TRUE(needed.count("libc.so.6"));
    for (const std::string &lib : needed)
        EXPECT_TRUE(lib == "libc.so.6" || lib == "libMikral.so") << "unexpected NEEDED " << lib;
    EXPECT_EQ(dynamicEntries(deliveredLibrary(), "SONAME"), std::set<std::string>{"libvulmora.so"});
}

TEST(Surface, HasNoStaticConstructors) {
    // g++ names the initialiser of a translation unit _GLOBAL__sub_I_<file>.
    std::string all = capture("nm '" + deliveredLibrary() + "'");
    EXPECT_EQ(all.find("_GLOBAL__sub_I"), std::string::npos);
    // Nothing of the C++ runtime is imported.
    for (const std::string &sym : undefinedDynamicSymbols(deliveredLibrary()))
        EXPECT_NE(sym.rfind("_Z", 0), 0u) << sym;
}

TEST(Surface, EveryVariableIsZeroAtLoad) {
    LoadedLibrary lib(deliveredLibrary());
    auto syms = definedDynamicSymbols(deliveredLibrary());
    for (const DataSymbol &d : kData) {
        std::string name = d.name;
        if (name == "el_nnode" || name == "el_ngp") continue;
        const auto *bytes = static_cast<const unsigned char *>(lib.find(d.name));
        ASSERT_NE(bytes, nullptr) << name;
        for (unsigned long i = 0; i < syms[name]; ++i)
            ASSERT_EQ(bytes[i], 0) << name << "+" << i;
    }
}

TEST(Surface, PerTypeTables) {
    LoadedLibrary lib(deliveredLibrary());
    const int *nnode = static_cast<const int *>(lib.find("el_nnode"));
    const int *ngp = static_cast<const int *>(lib.find("el_ngp"));
    const int want_nnode[12] = {0, 8, 4, 6, 8, 6, 4, 3, 4, 2, 10, 12};
    const int want_ngp[12] = {0, 8, 1, 6, 8, 6, 4, 3, 4, 2, 4, 8};
    for (int t = 0; t < 12; ++t) {
        EXPECT_EQ(nnode[t], want_nnode[t]) << "type " << t;
        EXPECT_EQ(ngp[t], want_ngp[t]) << "type " << t;
    }
}

} // namespace

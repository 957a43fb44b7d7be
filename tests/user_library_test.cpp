// A user library built with vulmora_add_user_library from two_entries.c:
// the two entry points it defines run the user's code, the other 35 are
// the template's, and the exported surface is the same as the template's.
//
// The library is found through VULMORA_USER_LIB: the one built in this tree,
// or (from the consumer test) one built against the installed package.

#include "support/child.h"
#include "support/elf_tools.h"
#include "support/expected_surface.h"
#include "support/loaded_library.h"
#include "support/paths.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

using namespace vtest;
using Entry = double (*)(int);

std::string userLibrary() {
    return envOr("VULMORA_USER_LIB", VULMORA_DEFAULT_USER_LIB);
}

TEST(UserLibrary, ProgrammedEntryPointsRunUserCode) {
    LoadedLibrary lib(userLibrary());
    lib.var<int>("user_unit_coor") = 5; // inches: 254 cm = 100 in
    EXPECT_EQ(lib.fn<Entry>("func_density")(3), 203.0);
    EXPECT_EQ(lib.fn<Entry>("func_mechprop2")(1), 42.0);
    EXPECT_STREQ(lib.var<char[5][101]>("name_mechprop")[1], "hardness");
    EXPECT_STREQ(lib.var<char[5][21]>("unit_mechprop")[1], "HV");
    lib.var<int>("user_unit_coor") = 0;
}

TEST(UserLibrary, TheOthersArePlaceholders) {
    LoadedLibrary lib(userLibrary());
    int placeholders = 0;
    for (const char *name : kPlaceholders) {
        std::string n = name;
        if (n == "density" || n == "mechprop2") continue;
        Entry f = lib.fn<Entry>(("func_" + n).c_str());
        ChildResult r = runInChild([f] { f(1); });
        EXPECT_TRUE(stoppedWith(r, "---> exit in C user function " + n + " <---\n")) << n;
        ++placeholders;
    }
    EXPECT_EQ(placeholders, 34);
    // The 35th is the template's func_externalcompute.
    int &t = lib.var<int>("tnodecontrol");
    t = 5;
    lib.fn<void (*)(void *, int)>("func_externalcompute")(nullptr, 0);
    EXPECT_EQ(t, 0);
}

TEST(UserLibrary, ExportsTheSameSurfaceAsTheTemplate) {
    std::set<std::string> user, delivered;
    for (const auto &[name, size] : definedDynamicSymbols(userLibrary()))
        user.insert(name);
    for (const auto &[name, size] : definedDynamicSymbols(deliveredLibrary()))
        delivered.insert(name);
    EXPECT_EQ(user, delivered);
    EXPECT_FALSE(user.count("userlib_twice"));
}

} // namespace

// site_mikral_test.cpp - a user library linked against a site's own
// microstructure library (VULMORA_MIKRAL_LIBRARY) uses that library, and
// only that one.

#include "loaded_library.h"
#include "child.h"
#include "runtime/messages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

using Property = double (*)(int);

// Path of the site user library.
std::string sitePath() {
    return SITE_USER_LIB;
}

// Set the block for a nodal-mode call at 0-based node `node`.
void nodalMode(const vtest::LoadedLibrary &lib, int node, std::uintptr_t models) {
    lib.var<int>("location") = 1;
    lib.var<int>("cur_node") = node;
    lib.var<void *>("micModelsA") = reinterpret_cast<void *>(models);
    lib.var<void *>("micCNTA") = nullptr;
}

TEST(SiteMikral, NodalValuesComeFromTheSiteLibrary) {
    vtest::LoadedLibrary lib(sitePath());
    nodalMode(lib, 3, 7);
    // handle 7, active index 2, node 3 as the site library encodes them.
    EXPECT_EQ(lib.fn<Property>("func_mechprop1")(4), 7002003.5);
    EXPECT_EQ(lib.fn<Property>("func_mechprop2")(4), -7001003.5);
}

TEST(SiteMikral, NamesComeFromTheSiteLibrary) {
    vtest::ChildResult r = vtest::runInChild([] {
        vtest::LoadedLibrary lib(sitePath());
        nodalMode(lib, 0, 1);
        lib.fn<Property>("func_mechprop3")(1);
    });
    char expected[1024];
    std::snprintf(expected, sizeof expected, VULMORA_MSG_CONSTITUENT_INACTIVE,
                  "site constituent 3");
    EXPECT_TRUE(vtest::stoppedWith(r, expected)) << r.out;
}

TEST(SiteMikral, OnlyTheSiteLibraryIsNeeded) {
    std::string dynamic;
    FILE *p = popen(("readelf -d '" + sitePath() + "'").c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        dynamic.append(buf, n);
    pclose(p);
    EXPECT_NE(dynamic.find("Shared library: [libSiteMikral.so]"), std::string::npos) << dynamic;
    EXPECT_EQ(dynamic.find("[libMikral.so]"), std::string::npos) << dynamic;
}

} // namespace

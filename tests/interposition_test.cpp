// interposition_test.cpp - the library reads its own exchange block, not a
// variable of the same name that the host or another library exports.
//
// This program is linked with -rdynamic and has a global user_unit_temp
// of its own, as a solver with globals of those names may have. Without
// binding its reads to its own definitions, a user-function library would
// read the program's variable instead of the one the host set by name.

#include "support/paths.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <string>

// The host's own variables, exported from the executable. Written as the
// solver would: plain globals of the same names as the exchange block.
extern "C" {
int user_unit_temp = 0;
int user_unit_coor = 0;
}

namespace {

struct Handle {
    Handle(const std::string &path, int flags) : h(dlopen(path.c_str(), RTLD_NOW | flags)) {}
    ~Handle() {
        if (h) dlclose(h);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    template <class T> T *sym(const char *name) const {
        return reinterpret_cast<T *>(dlsym(h, name));
    }
    void *h;
};

// Celsius set in the library: 300 K reads as 27 C, whatever the program's
// own user_unit_temp holds.
TEST(Interposition, LibraryReadsItsOwnVariablesNotTheHostsGlobals) {
    for (int flags : {RTLD_LOCAL, RTLD_GLOBAL}) {
        SCOPED_TRACE(flags == RTLD_LOCAL ? "RTLD_LOCAL" : "RTLD_GLOBAL");
        Handle lib(vtest::deliveredLibrary(), flags);
        ASSERT_NE(lib.h, nullptr) << dlerror();
        int *unit = lib.sym<int>("user_unit_temp");
        ASSERT_NE(unit, nullptr);
        ASSERT_NE(unit, &user_unit_temp);
        *unit = 2;
        user_unit_temp = 1;
        EXPECT_EQ(lib.sym<double(int, double)>("fconvertFromCGS")(-1, 300.0), 27.0);
        *unit = 1;
        user_unit_temp = 2;
        EXPECT_EQ(lib.sym<double(int, double)>("fconvertFromCGS")(-1, 300.0), 300.0);
        user_unit_temp = 0;
    }
}

// Two user libraries, the first loaded with RTLD_GLOBAL: each still reads
// its own block, in the converters and in the user's code. The second
// library's func_density is 2 * 254 cm in the user's length unit + node.
TEST(Interposition, TwoLibrariesEachReadTheirOwnBlock) {
    Handle first(vtest::deliveredLibrary(), RTLD_GLOBAL);
    Handle second(VULMORA_SECOND_LIB, RTLD_LOCAL);
    ASSERT_NE(first.h, nullptr) << dlerror();
    ASSERT_NE(second.h, nullptr) << dlerror();
    *first.sym<int>("user_unit_temp") = 1;
    *second.sym<int>("user_unit_temp") = 2;
    EXPECT_EQ(first.sym<double(int, double)>("fconvertFromCGS")(-1, 300.0), 300.0);
    EXPECT_EQ(second.sym<double(int, double)>("fconvertFromCGS")(-1, 300.0), 27.0);
    user_unit_coor = 3;                     // mm, in the program
    *first.sym<int>("user_unit_coor") = 2;  // cm
    *second.sym<int>("user_unit_coor") = 1; // m
    EXPECT_EQ(second.sym<double(int)>("func_density")(1), 2 * 2.54 + 1);
    user_unit_coor = 0;
}

} // namespace

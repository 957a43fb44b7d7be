// binding_test.cpp - the host's view of the exchange block against the
// layout, the sample's arrays against the state file's sections, and the
// unit selectors from the command line to the block.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <unistd.h>

#include "checks/compare.h"
#include "cli/options.h"
#include "model/binding.h"
#include "model/fields.h"
#include "model/sample.h"
#include "model/units.h"
#include "paths.h"
#include "platform/system.h"
#include "replay/state.h"

using vhost::Extent;
using vhost::Library;
using vhost::Sample;

namespace {

// A library opened for the test, or a failure.
void openDelivered(Library &lib) {
    std::string error;
    ASSERT_TRUE(lib.open(vtest::deliveredLibrary(), error)) << error;
}

// One variable of the layout as the binding holds it.
struct Bound {
    const char *name;
    const void *address; // where the binding says it is
    size_t size;         // the size of what it points at
    size_t bytes;        // the layout's size
};

std::vector<Bound> boundVariables(const vhost::Exchange &x) {
    return {
#define VTEST_BOUND(name, bytes) {#name, x.name, sizeof(*x.name), (bytes)},
        VULMORA_EXCHANGE_DATA(VTEST_BOUND) VULMORA_EXCHANGE_TABLES(VTEST_BOUND)
#undef VTEST_BOUND
    };
}

// One section of the state format.
struct Section {
    const char *name;
    int type, extent;
};
constexpr Section kSections[] = {
#define VTEST_SECTION(name, type, extent) {#name, VULMORA_STATE_##type, VULMORA_EXTENT_##extent},
    VULMORA_STATE_BLOCK_SECTIONS(VTEST_SECTION)
#undef VTEST_SECTION
};

const Section *sectionNamed(std::string_view name) {
    for (const Section &s : kSections)
        if (name == s.name) return &s;
    return nullptr;
}

// One array of the sample that a variable points at.
struct SampleArray {
    const char *variable;
    const void *data;
    size_t items, itemSize;
    bool rows; // an array of row pointers (ncon)
    Extent extent;
    int type; // the state format's item type for it
};

// The state format's item type for items of type T (the rows of ncon hold
// 32-bit node numbers).
template <class T> constexpr int stateType() {
    if constexpr (std::is_pointer_v<T> || std::is_same_v<T, int>) return VULMORA_STATE_I32;
    if constexpr (std::is_same_v<T, float>) return VULMORA_STATE_F32;
    if constexpr (std::is_same_v<T, double>) return VULMORA_STATE_F64;
    return 0;
}

std::vector<SampleArray> sampleArrays(const Sample &s) {
    return {
#define VTEST_ARRAY(variable, member, type, extent, vtu)                                           \
    {#variable, s.member.data(),  s.member.size(), sizeof(type), std::is_pointer_v<type>,          \
     extent,    stateType<type>()},
        VHOST_SAMPLE_ARRAYS(VTEST_ARRAY, VHOST_ARRAY_NONE)
#undef VTEST_ARRAY
    };
}

} // namespace

// ---- the exchange block -------------------------------------------------------------

TEST(HostBinding, EveryVariableOfTheLayoutIsBoundAtItsSymbolWithItsSize) {
    Library lib;
    openDelivered(lib);
    std::string error;
    void *handle = vhost::platform::loadLibrary(vtest::deliveredLibrary(), error);
    ASSERT_NE(handle, nullptr) << error;
    for (const Bound &b : boundVariables(lib.x)) {
        ASSERT_NE(b.address, nullptr) << b.name;
        EXPECT_EQ(b.address, vhost::platform::findSymbol(handle, b.name)) << b.name;
        if (sizeof(void *) == 8) {
            EXPECT_EQ(b.size, b.bytes) << b.name;
        }
    }
}

TEST(HostBinding, SampleArraysAgreeWithTheirStateSections) {
    const Sample s(5, 1);
    const size_t nnod = 125, nel = 64, points = nel * 8;
    for (const SampleArray &a : sampleArrays(s)) {
        const Section *sec = sectionNamed(a.variable);
        ASSERT_NE(sec, nullptr) << a.variable << " has no section of the state file";
        EXPECT_EQ(sec->type, a.type) << a.variable;
        // The sample's count of items, from the section's extent.
        size_t expected = 0;
        switch (sec->extent) {
        case VULMORA_EXTENT_NNOD:
        case VULMORA_EXTENT_NVNOD:
            expected = nnod;
            break;
        case VULMORA_EXTENT_NEL:
            expected = nel;
            break;
        case VULMORA_EXTENT_CONN:
            expected = a.rows ? nel : 0;
            break; // one row per element
        case VULMORA_EXTENT_POINTS:
            expected = points;
            break;
        case VULMORA_EXTENT_STRESS:
            expected = points * 6;
            break;
        default:
            ADD_FAILURE() << a.variable << ": extent " << sec->extent;
        }
        EXPECT_EQ(a.items, expected) << a.variable;
        EXPECT_EQ(a.items, s.items(a.extent)) << a.variable;
    }
}

TEST(HostBinding, TheSampleSurvivesTheStateFile) {
    Library lib;
    openDelivered(lib);
    vhost::SampleConfig o;
    o.units.temp = 3, o.units.massflowrate = 7;
    o.stressScale = 0.5;
    Sample s(4, 2);
    s.setStep(2);
    lib.bind(s, o);
    std::vector<int> lastp(VULMORA_STATE_LASTP_LEN, 0);
    lastp[VULMORA_LASTP_POROS1] = 4;
    *lib.x.mic_lastp = lastp.data();
    (*lib.x.loc_micro)[7] = 0.25;
    std::strcpy((*lib.x.name_mechprop)[2], "elongation");
    const vulmora_state_view v = lib.view();
    for (const SampleArray &a : sampleArrays(s))
        EXPECT_EQ(v.data[sectionNamed(a.variable) - kSections], a.data) << a.variable;
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("binding_test_" + std::to_string(getpid()));
    vulmora_state_call call{};
    call.writer = "binding_test";
    std::string error;
    ASSERT_TRUE(vhost::saveState(file.string(), v, call, error)) << error;
    // Another block, cleared, then bound to the file.
    *lib.x.nnod = 0, *lib.x.user_unit_temp = 0, *lib.x.stress_scale = 0, (*lib.x.loc_micro)[7] = 0;
    (*lib.x.name_mechprop)[2][0] = 0;
    vhost::State st;
    ASSERT_TRUE(vhost::loadState(file.string(), st, error)) << error;
    std::filesystem::remove(file);
    ASSERT_TRUE(vhost::bindState(lib, st, error)) << error;
    EXPECT_EQ(*lib.x.nnod, 64);
    EXPECT_EQ(*lib.x.user_unit_temp, 3);
    EXPECT_EQ(*lib.x.user_unit_massflowrate, 7);
    EXPECT_EQ(*lib.x.stress_scale, 0.5);
    EXPECT_EQ((*lib.x.mic_lastp)[VULMORA_LASTP_POROS1], 4);
    EXPECT_EQ((*lib.x.loc_micro)[7], 0.25);
    EXPECT_STREQ((*lib.x.name_mechprop)[2], "elongation");
    for (int e = 0; e < s.nel; ++e)
        for (int c = 0; c < 8; ++c)
            ASSERT_EQ((*lib.x.ncon)[e][c], s.ncon[static_cast<size_t>(e)][c]) << e;
    const vulmora_state_view back = lib.view();
    for (const SampleArray &a : sampleArrays(s)) {
        const void *read = back.data[sectionNamed(a.variable) - kSections];
        ASSERT_NE(read, nullptr) << a.variable;
        EXPECT_NE(read, a.data) << a.variable << " still points at the sample";
        if (!a.rows) {
            EXPECT_EQ(std::memcmp(read, a.data, a.items * a.itemSize), 0) << a.variable;
        }
    }
}

// ---- the unit selectors -------------------------------------------------------------

TEST(HostUnits, EverySelectorGoesFromItsNameToItsVariable) {
    Library lib;
    openDelivered(lib);
    std::string error;
    void *handle = vhost::platform::loadLibrary(vtest::deliveredLibrary(), error);
    ASSERT_NE(handle, nullptr) << error;
    Sample s(4, 1);
    s.setStep(1);
    for (const vhost::UnitSelector &u : vhost::kUnitSelectors) {
        std::vector<std::string> names = {u.name, std::to_string(u.code)};
        if (*u.alias) names.push_back(u.alias);
        for (const std::string &name : names) {
            const int value = u.fallback == 5 ? 6 : 5; // not the default
            std::string arg = name + "=" + std::to_string(value);
            std::vector<char *> argv = {const_cast<char *>("vulmora-host"),
                                        const_cast<char *>("--unit"), arg.data()};
            vhost::Options o;
            ASSERT_TRUE(vhost::parseOptions(3, argv.data(), o, error)) << arg << ": " << error;
            for (const vhost::UnitSelector &other : vhost::kUnitSelectors)
                EXPECT_EQ(o.run.sample.units.*other.member, &other == &u ? value : other.fallback)
                    << arg << " set " << other.name;
            lib.bind(s, o.run.sample);
            const auto *variable =
                static_cast<const int *>(vhost::platform::findSymbol(handle, u.variable));
            ASSERT_NE(variable, nullptr) << u.variable;
            EXPECT_EQ(*variable, value) << arg;
        }
    }
}

TEST(HostUnits, TheRunDescriptionKeepsEverySelector) {
    vhost::RunDescription d;
    d.version = "1.0.0", d.library = "lib", d.nodesPerSide = 5, d.steps = 2, d.materials = 1;
    int k = 0;
    for (const vhost::UnitSelector &u : vhost::kUnitSelectors)
        d.units.*u.member = 1 + k++ % vhost::kMaxSelector;
    vhost::RunDescription back;
    std::string error;
    ASSERT_TRUE(vhost::parseRunDescription(vhost::runDescriptionText(d), back, error)) << error;
    for (const vhost::UnitSelector &u : vhost::kUnitSelectors) {
        EXPECT_EQ(back.units.*u.member, d.units.*u.member) << u.name;
        // A change of this selector alone is named by its quantity.
        vhost::RunDescription other = d;
        other.units.*u.member = d.units.*u.member % vhost::kMaxSelector + 1;
        const std::vector<std::string> diff = vhost::shapeDifferences(d, other);
        ASSERT_EQ(diff.size(), 1u) << u.name;
        EXPECT_EQ(diff[0].rfind(std::string(u.label) + " unit: ", 0), 0u) << diff[0];
    }
}

// micro_test.cpp - the microstructure and defect accessors, linked directly
// against the core archive and the stand-in microstructure library.
//
// Fatal paths run in a child process. The host's mic_lastp array lives in
// a shared mapping, so the parent also sees whatever a child wrote into it
// before stopping.

#include "exchange/exchange.h"
#include "getVar.h"
#include "mikral.h"
#include "runtime/messages.h"

#include "child.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/mman.h>
#include <vector>

namespace {

constexpr int kLastpLen = 256;
constexpr int kSentinel = -7;

// Text of a message with one %s filled in.
std::string withName(const char *format, const char *name) {
    char buf[1024];
    std::snprintf(buf, sizeof buf, format, name);
    return buf;
}

// ----------------------------------------------------------------------
// Fixture: a fresh exchange block, a catalogue, a model and a shared,
// sentinel-filled mic_lastp array.
// ----------------------------------------------------------------------
class Micro : public ::testing::Test {
  protected:
    void SetUp() override {
        void *p = mmap(nullptr, kLastpLen * sizeof(int), PROT_READ | PROT_WRITE,
                       MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(p, MAP_FAILED);
        lastp_ = static_cast<int *>(p);
        for (int k = 0; k < kLastpLen; ++k)
            lastp_[k] = kSentinel;

        cat_ = mikral_catalog_create();
        ASSERT_NE(cat_, nullptr);
        ASSERT_EQ(mikral_catalog_add_constituent(cat_, 0, "alpha-Al"), 0);
        ASSERT_EQ(mikral_catalog_add_constituent(cat_, INT_MAX, "last constituent"), 0);
        ASSERT_EQ(mikral_catalog_add_auxiliary(cat_, 99, "SDAS"), 0);
        model_ = mikral_model_create(3, 4, 2);
        ASSERT_NE(model_, nullptr);

        location = 0;
        cur_node = 0;
        micCNTA = cat_;
        micModelsA = model_;
        mic_lastp = lastp_;
        loc_poro = 0.0;
        func_temp = 0.0;
        vf_s1 = f_vol1 = nullptr;
        for (double &v : loc_micro)
            v = 0.0;
        mikral_calls_clear();
    }
    void TearDown() override {
        mic_lastp = nullptr;
        micCNTA = micModelsA = nullptr;
        vf_s1 = f_vol1 = nullptr;
        mikral_model_destroy(model_);
        mikral_catalog_destroy(cat_);
        munmap(lastp_, kLastpLen * sizeof(int));
    }
    // Entries of mic_lastp that no longer hold the sentinel.
    std::vector<int> changedEntries() const {
        std::vector<int> out;
        for (int k = 0; k < kLastpLen; ++k)
            if (lastp_[k] != kSentinel) out.push_back(k);
        return out;
    }

    int *lastp_ = nullptr;
    MikralCatalog *cat_ = nullptr;
    MikralModel *model_ = nullptr;
};

// ======================================================================
// Every refused call: exact bytes, status 1, host array untouched
// ======================================================================

struct Refusal {
    const char *what;
    int mode;
    std::function<void()> call;
    std::string message;
};

// A message with the index and the table's size in it.
std::string withIndex(const char *format, int index) {
    char buf[512];
    std::snprintf(buf, sizeof buf, format, index, 100);
    return buf;
}

TEST_F(Micro, EveryRefusalPrintsItsMessageAndStops) {
    const Refusal rows[] = {
        // Argument tests come before the mode, so a neutral mode still stops.
        {"getFraction(-99999) neutral", 0, [] { getFraction(-99999); }, VULMORA_MSG_MICRO_OFF},
        {"getMicro(-99999) nodal", 1, [] { getMicro(-99999); }, VULMORA_MSG_MICRO_OFF},
        {"getFraction(-9999) no mode", 3, [] { getFraction(-9999); }, VULMORA_MSG_MICRO_CLASS},
        {"getMicro(-9999) registration", -1, [] { getMicro(-9999); }, VULMORA_MSG_MICRO_CLASS},
        {"getFraction(-1): global 0", 0, [] { getFraction(-1); },
         withName(VULMORA_MSG_CONSTITUENT_INACTIVE, "alpha-Al")},
        {"getFraction(INT_MIN): global INT_MAX", -1, [] { getFraction(INT_MIN); },
         withName(VULMORA_MSG_CONSTITUENT_INACTIVE, "last constituent")},
        {"getMicro(-100): global 99", 2, [] { getMicro(-100); },
         withName(VULMORA_MSG_AUX_INACTIVE, "SDAS")},
        // No name in the catalogue: a placeholder, never a null %s.
        {"getFraction(-5): unnamed", 0, [] { getFraction(-5); },
         withName(VULMORA_MSG_CONSTITUENT_INACTIVE, "(unnamed)")},
        {"getMicro(-1): unnamed", 0, [] { getMicro(-1); },
         withName(VULMORA_MSG_AUX_INACTIVE, "(unnamed)")},
        {"getFraction(0) mode 3", 3, [] { getFraction(0); }, VULMORA_MSG_FRACTION_MODE},
        {"getMicro(0) mode -2", -2, [] { getMicro(0); }, VULMORA_MSG_MICRO_MODE},
        // An index beyond the host's table of 100 per kind, where the table is used.
        {"getFraction(100) registration", -1, [] { getFraction(100); },
         withIndex(VULMORA_MSG_CONSTITUENT_INDEX, 100)},
        {"getFraction(1000000) local", 2, [] { getFraction(1000000); },
         withIndex(VULMORA_MSG_CONSTITUENT_INDEX, 1000000)},
        {"getMicro(100) local", 2, [] { getMicro(100); }, withIndex(VULMORA_MSG_AUX_INDEX, 100)},
        {"getMicro(INT_MAX) registration", -1, [] { getMicro(INT_MAX); },
         withIndex(VULMORA_MSG_AUX_INDEX, INT_MAX)},
        {"getDefect(-1)", 1, [] { getDefect(-1); },
         withName(VULMORA_MSG_DEFECT_INACTIVE, "POROS1 shrinkage microporosity")},
        {"getDefect(-2)", -1, [] { getDefect(-2); }, withName(VULMORA_MSG_DEFECT_INACTIVE, "FVOL")},
        {"getDefect(-3)", 0, [] { getDefect(-3); },
         withName(VULMORA_MSG_DEFECT_INACTIVE, "an unknown defect")},
        {"getDefect(INT_MIN)", 0, [] { getDefect(INT_MIN); },
         withName(VULMORA_MSG_DEFECT_INACTIVE, "an unknown defect")},
        {"getDefect(0) neutral", 0, [] { getDefect(0); }, VULMORA_MSG_DEFECT_UNAUTHORIZED},
        {"getDefect(3) no mode", 3, [] { getDefect(3); }, VULMORA_MSG_DEFECT_UNAUTHORIZED},
        {"getDefect(INT_MAX) registration", -1, [] { getDefect(INT_MAX); },
         VULMORA_MSG_DEFECT_UNAUTHORIZED},
        {"getDefect(1) mode 3", 3, [] { getDefect(1); }, VULMORA_MSG_DEFECT_MODE},
        {"getDefect(2) mode -2", -2, [] { getDefect(2); }, VULMORA_MSG_DEFECT_MODE},
        {"getDefect(2) registration", -1, [] { getDefect(2); }, VULMORA_MSG_FVOL_REGISTRATION},
        {"getDefect(2) local", 2, [] { getDefect(2); }, VULMORA_MSG_FVOL_LOCAL},
        {"checkTempTable(-9999.0)", 0,
         [] {
             func_temp = -9999.0;
             checkTempTable();
         },
         VULMORA_MSG_TEMP_TABLE},
        // A host array the mode needs is missing: the field's message, not a crash.
        {"getDefect(1) nodal, vf_s1 null", 1, [] { getDefect(1); }, VULMORA_MSG_VF_S},
        {"getDefect(2) nodal, f_vol1 null", 1, [] { getDefect(2); }, VULMORA_MSG_F_VOL},
        {"getFraction(0) registration, mic_lastp null", -1,
         [] {
             mic_lastp = nullptr;
             getFraction(0);
         },
         VULMORA_MSG_MIC_LASTP},
        {"getMicro(4) local, mic_lastp null", 2,
         [] {
             mic_lastp = nullptr;
             getMicro(4);
         },
         VULMORA_MSG_MIC_LASTP},
        {"getDefect(1) registration, mic_lastp null", -1,
         [] {
             mic_lastp = nullptr;
             getDefect(1);
         },
         VULMORA_MSG_MIC_LASTP},
    };
    for (const Refusal &row : rows) {
        SCOPED_TRACE(row.what);
        location = row.mode;
        vtest::ChildResult r = vtest::runInChild(row.call);
        EXPECT_TRUE(vtest::stoppedWith(r, row.message)) << "status " << r.status << ", printed:\n"
                                                        << r.out;
        EXPECT_TRUE(changedEntries().empty());
    }
}

// A catalogue the host never set: the name look-up gets a null handle and
// the message still prints.
TEST_F(Micro, NullCatalogueStillNamesSomething) {
    micCNTA = nullptr;
    vtest::ChildResult r = vtest::runInChild([] { getFraction(-1); });
    EXPECT_TRUE(vtest::stoppedWith(r, withName(VULMORA_MSG_CONSTITUENT_INACTIVE, "(unnamed)")))
        << r.out;
}

// ======================================================================
// Neutral and registration modes
// ======================================================================

TEST_F(Micro, NeutralModeGivesOneAndTouchesNothing) {
    location = 0;
    EXPECT_EQ(getFraction(0), 1.0);
    EXPECT_EQ(getFraction(99), 1.0);
    EXPECT_EQ(getMicro(7), 1.0);
    EXPECT_EQ(getDefect(1), 1.0);
    EXPECT_EQ(getDefect(2), 1.0);
    EXPECT_TRUE(changedEntries().empty());
    EXPECT_EQ(mikral_calls_total(), 0);
}

struct Mark {
    const char *what;
    std::function<double()> call;
    int entry;
};

TEST_F(Micro, RegistrationMarksExactlyOneEntry) {
    const Mark rows[] = {
        {"getFraction(0)", [] { return getFraction(0); }, 3},
        {"getFraction(5)", [] { return getFraction(5); }, 8},
        {"getFraction(99)", [] { return getFraction(99); }, 102},
        {"getMicro(0)", [] { return getMicro(0); }, 103},
        {"getMicro(5)", [] { return getMicro(5); }, 108},
        {"getDefect(1)", [] { return getDefect(1); }, 2},
    };
    location = -1;
    for (const Mark &row : rows) {
        SCOPED_TRACE(row.what);
        for (int k = 0; k < kLastpLen; ++k)
            lastp_[k] = kSentinel;
        EXPECT_EQ(row.call(), 1.0);
        EXPECT_EQ(changedEntries(), std::vector<int>{row.entry});
        EXPECT_EQ(lastp_[row.entry], 1);
    }
    EXPECT_EQ(mikral_calls_total(), 0);
}

// ======================================================================
// Local mode
// ======================================================================

TEST_F(Micro, LocalModeReadsTheHostsSlots) {
    location = 2;
    for (int k = 0; k < VULMORA_LOC_MICRO_LEN; ++k)
        loc_micro[k] = 1000.0 + k;
    lastp_[3] = 7;   // constituent 0 -> slot 7
    lastp_[8] = 0;   // constituent 5 -> slot 0
    lastp_[103] = 7; // auxiliary 0 -> slot 7 of the second half
    lastp_[104] = 99;
    loc_poro = 0.125;
    EXPECT_EQ(getFraction(0), 1007.0);
    EXPECT_EQ(getFraction(5), 1000.0);
    EXPECT_EQ(getMicro(0), 1107.0);
    EXPECT_EQ(getMicro(1), 1199.0);
    EXPECT_EQ(getDefect(1), 0.125);
    EXPECT_EQ(mikral_calls_total(), 0);
    for (int k : {3, 8, 103, 104})
        lastp_[k] = kSentinel;
    EXPECT_TRUE(changedEntries().empty());
}

// ======================================================================
// Nodal mode
// ======================================================================

// The look-ups receive the handle as written, the active index and
// cur_node unchanged, and their result comes back untouched.
TEST_F(Micro, NodalModeAsksTheMicrostructureLibrary) {
    location = 1;
    ASSERT_EQ(mikral_model_set_constituent(model_, 1, 2, 0.3125), 0);
    ASSERT_EQ(mikral_model_set_constituent(model_, 1, 1, 0.5), 0);
    ASSERT_EQ(mikral_model_set_auxiliary(model_, 1, 2, -42.75), 0);
    cur_node = 2;
    EXPECT_EQ(getFraction(1), 0.3125);
    EXPECT_EQ(getMicro(1), -42.75);
    // An index the model lacks: the library's NaN is passed through.
    EXPECT_TRUE(std::isnan(getFraction(3 + 1)));

    ASSERT_EQ(mikral_calls_count(), 3);
    const MikralCall *c = mikral_calls_get(0);
    EXPECT_EQ(c->function, MIKRAL_CALL_VALUE_CNT);
    EXPECT_EQ(c->handle, static_cast<void *>(model_));
    EXPECT_EQ(c->index, 1);
    EXPECT_EQ(c->node, 2);
    c = mikral_calls_get(1);
    EXPECT_EQ(c->function, MIKRAL_CALL_VALUE_AUX);
    EXPECT_EQ(c->handle, static_cast<void *>(model_));
    EXPECT_EQ(c->index, 1);
    EXPECT_EQ(c->node, 2);
    EXPECT_EQ(mikral_calls_get(2)->index, 4);
    EXPECT_TRUE(changedEntries().empty());
}

TEST_F(Micro, NodalDefectsAreWidenedFromFloat) {
    location = 1;
    float poros[3] = {0.1f, 0.2f, 0.3f};
    float fvol[3] = {1.7f, 2.9f, 3.1f};
    vf_s1 = poros;
    f_vol1 = fvol;
    cur_node = 0;
    EXPECT_EQ(getDefect(1), static_cast<double>(0.1f));
    EXPECT_EQ(getDefect(2), static_cast<double>(1.7f));
    cur_node = 2;
    EXPECT_EQ(getDefect(1), static_cast<double>(0.3f));
    EXPECT_EQ(getDefect(2), static_cast<double>(3.1f));
    EXPECT_NE(getDefect(1), 0.3); // no round trip through a decimal value
}

// ======================================================================
// Temperature table
// ======================================================================

TEST_F(Micro, TemperatureTableGuardStopsOnlyOnTheExactMarker) {
    const double passing[] = {0.0,
                              -0.0,
                              std::nan(""),
                              9999.0,
                              -9999.5,
                              std::nextafter(-9999.0, 0.0),
                              std::nextafter(-9999.0, -1e9)};
    for (double v : passing) {
        SCOPED_TRACE(v);
        vtest::ChildResult r = vtest::runInChild([v] {
            func_temp = v;
            checkTempTable();
        });
        EXPECT_TRUE(r.exited && r.status == 0 && r.out.empty()) << r.out;
    }
}

// ======================================================================
// The delivered library imports the four look-ups from libMikral
// ======================================================================

// Output of a shell command.
std::string run(const std::string &command) {
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

TEST(DeliveredLibrary, NeedsMikralAndLeavesTheLookUpsUndefined) {
    const char *lib = std::getenv("VULMORA_LIB");
    if (lib == nullptr) lib = VULMORA_DEFAULT_LIB;
    const std::string dynamic = run(std::string("readelf -d '") + lib + "'");
    EXPECT_NE(dynamic.find("(NEEDED)             Shared library: [libMikral.so]"),
              std::string::npos)
        << dynamic;
    const std::string undefined = run(std::string("nm -D --undefined-only '") + lib + "'");
    const std::string defined = run(std::string("nm -D --defined-only '") + lib + "'");
    for (const char *name :
         {"micCNT_GindToName_CNT", "micCNT_GindToName_Aux", "micModels_gCNTibyAind_checkIndices",
          "micModels_vAuxibyAind_checkIndices"}) {
        EXPECT_NE(undefined.find(std::string(" U ") + name + "\n"), std::string::npos) << name;
        EXPECT_EQ(defined.find(name), std::string::npos) << name;
    }
}

} // namespace

// probe_test.cpp - the accessors' counters of silently wrong answers. The
// library looks for the emulator once per process, at its first silent
// answer, so every case runs in a child of its own (this process gives
// none): each kind of answer is counted once per call, right answers are
// not counted, and without the variable or with a descriptor whose file
// lacks the magic nothing is written anywhere.
#include "accessors/vulmora_probe.h"
#include "exchange/exchange.h"
#include "getVar.h"

#include "child.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

namespace {

// A page like the head of a worker's result file, with or without the
// counters' magic, and the counters as the parent sees them.
struct Page {
    FILE *file = std::tmpfile();
    void *map = nullptr;
    explicit Page(bool magic) {
        char page[4096] = {};
        if (magic) std::memcpy(page + VULMORA_PROBE_OFFSET, VULMORA_PROBE_MAGIC, 8);
        std::fwrite(page, 1, sizeof page, file);
        std::fflush(file);
        map = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fileno(file), 0);
    }
    ~Page() {
        munmap(map, 4096);
        std::fclose(file);
    }
    unsigned long long count(int k) const {
        vulmora_probe p;
        std::memcpy(&p, static_cast<const char *>(map) + VULMORA_PROBE_OFFSET, sizeof p);
        return p.counts[k];
    }
    std::string fd() const { return std::to_string(fileno(file)); }
};

float gT[4] = {300, 400, 500, 600};
double gX[4] = {0, 1, 2, 3}, gY[4] = {0, 0, 0, 0}, gZ[4] = {0, 0, 0, 0};

// Four nodes on a line, no elements.
void smallModel() {
    nnod = 4;
    nel = 0;
    TWO_D = 0;
    user_unit_temp = 1;
    user_unit_coor = 2;
    t1 = gT;
    t0 = nullptr; // unset
    x_cord = gX, y_cord = gY, z_cord = gZ;
    el_type = mat_id = nullptr;
    ncon = nullptr;
}

TEST(Probe, EachSilentAnswerIsCountedOnceUnderTheEmulator) {
    const struct {
        const char *what;
        std::function<void()> calls;
        unsigned long long range, miss, unset;
    } cases[] = {
        {"right answers", [] { (void)(getT1(1) + getT1(4) + getX(2)); }, 0, 0, 0},
        {"numbers out of range", [] { (void)(getT1(0) + getT1(5) + getX(-1)); }, 3, 0, 0},
        {"unset fields", [] { (void)(getT0(1) + getT0(2) + getMatId(1)); }, 0, 0, 3},
        {"nodNum in a material with no node",
         [] { (void)nodNum(0.0, 0.0, 0.0, 3, nullptr, nullptr, nullptr); }, 0, 1, 0},
    };
    for (const auto &c : cases) {
        const Page page(true);
        smallModel();
        setenv(VULMORA_PROBE_ENV, page.fd().c_str(), 1);
        const auto r = vtest::runInChild(c.calls);
        unsetenv(VULMORA_PROBE_ENV);
        EXPECT_TRUE(r.exited && r.status == 0) << c.what;
        EXPECT_EQ(page.count(VULMORA_PROBE_OUT_OF_RANGE), c.range) << c.what;
        EXPECT_EQ(page.count(VULMORA_PROBE_NODNUM_MISS), c.miss) << c.what;
        EXPECT_EQ(page.count(VULMORA_PROBE_UNSET_FIELD), c.unset) << c.what;
    }
}

TEST(Probe, NothingIsWrittenOutsideTheEmulator) {
    const Page decoy(false);
    const struct {
        const char *what;
        std::string value; // of the variable; empty: unset
    } cases[] = {
        {"no variable", ""},
        {"a file without the magic", decoy.fd()},
        {"no such descriptor", "987654"},
        {"not a number", "3x"},
    };
    for (const auto &c : cases) {
        smallModel();
        if (c.value.empty())
            unsetenv(VULMORA_PROBE_ENV);
        else
            setenv(VULMORA_PROBE_ENV, c.value.c_str(), 1);
        const auto r = vtest::runInChild([] { (void)(getT1(0) + getT0(1)); });
        unsetenv(VULMORA_PROBE_ENV);
        EXPECT_TRUE(r.exited && r.status == 0) << c.what;
        for (int k = 0; k < VULMORA_PROBE_EVENTS; ++k)
            EXPECT_EQ(decoy.count(k), 0u) << c.what;
    }
}

} // namespace

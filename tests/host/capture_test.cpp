// capture_test.cpp - the capture in a user library, end to end: a host
// that is not the emulator (dlopen in a forked child) and the emulator run
// a library whose entry points go wrong at one node, with VULMORA_CAPTURE
// set; the host must see exactly what it sees without it, one state file
// must appear per entry point and trigger, and vulmora-host replay must
// reproduce it (and show the fix with the fixed library).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "child.h"
#include "host/replay/state.h"
#include "hostlib/host_run.h"
#include "hostlib/vtu_arrays.h"
#include "loaded_library.h"
#include "mikral/mikral.h"
#include "runtime/capture.h"
#include "runtime/stop.h"

namespace fs = std::filesystem;

namespace {

// A fresh private folder, removed at the end of the test.
struct Folder {
    fs::path path;
    Folder() {
        std::string t = (fs::temp_directory_path() / "capture_test-XXXXXX").string();
        path = mkdtemp(t.data());
    }
    ~Folder() { fs::remove_all(path); }
    std::vector<fs::path> states() const {
        std::vector<fs::path> out;
        for (const auto &e : fs::directory_iterator(path))
            out.push_back(e.path());
        return out;
    }
};

constexpr int kNodes = 64;

// The dlopen host: a block of kNodes nodes (no elements), nodal mode, a
// stand-in microstructure where constituent 1 is 0 at node 9; two steps
// over every node, each result printed as its bits.
void dlopenHost(const char *library, const char *entry) {
    vtest::LoadedLibrary lib(library);
    static std::vector<float> t1(kNodes), fs1(kNodes);
    for (int i = 0; i < kNodes; ++i)
        t1[size_t(i)] = 600.0f + float(i), fs1[size_t(i)] = float(i) / kNodes;
    static MikralModel *model = nullptr; // reachable until the child ends
    model = mikral_model_create(kNodes, 2, 1);
    for (int i = 0; i < kNodes; ++i) {
        mikral_model_set_constituent(model, 1, i, i == 8 ? 0.0 : 0.1 + i * 0.001);
        mikral_model_set_auxiliary(model, 0, i, 20.0 + i);
    }
    lib.var<int>("nnod") = lib.var<int>("nvnod") = kNodes;
    lib.var<float *>("t1") = t1.data();
    lib.var<float *>("fs1") = fs1.data();
    lib.var<int>("location") = 1;
    lib.var<int>("user_unit_temp") = 1;
    lib.var<void *>("micModelsA") = model;
    static MikralCatalog *names = nullptr;
    names = mikral_catalog_create();
    mikral_catalog_add_constituent(names, 1, "Cr-rich phase");
    lib.var<void *>("micCNTA") = names;
    auto f = lib.fn<double (*)(int)>((std::string("func_") + entry).c_str());
    for (int step = 0; step < 2; ++step)
        for (int node = 1; node <= kNodes; ++node) {
            lib.var<int>("cur_node") = node - 1;
            const double v = f(node);
            uint64_t bits;
            std::memcpy(&bits, &v, sizeof bits);
            std::printf("%d %016llx\n", node, static_cast<unsigned long long>(bits));
        }
}

vtest::ChildResult runDlopenHost(const char *entry, const std::string &folder,
                                 const std::string &at = "") {
    return vtest::runInChild([&] {
        if (!folder.empty()) setenv("VULMORA_CAPTURE", folder.c_str(), 1);
        if (!at.empty()) setenv("VULMORA_CAPTURE_AT", at.c_str(), 1);
        dlopenHost(CAPTURE_FAULTY, entry);
    });
}

// Field `field` of line `line` (0: the header) of a CSV text.
std::string csvField(const std::string &csv, size_t line, size_t field) {
    std::istringstream in(csv);
    std::string row, cell;
    for (size_t k = 0; k <= line; ++k)
        std::getline(in, row);
    std::istringstream cells(row);
    for (size_t k = 0; k <= field; ++k)
        std::getline(cells, cell, ',');
    return cell;
}

vtest::HostResult replay(const fs::path &file, const std::string &extra = "") {
    return vtest::runHost(VULMORA_HOST_EXE, "replay '" + file.string() + "' " + extra);
}

// NaN, crash, stop, on request and an infinity from microstructure values:
// the host sees the same bytes and ending, one file names the node and
// the outcome, and replay reproduces it; the fixed library differs.
TEST(Capture, DlopenHostFailuresAreSavedOnceAndReplayed) {
    const struct {
        const char *entry;
        const char *at;
        int node, trigger, outcome;
        bool fixedDiffers;
    } cases[] = {
        {"density", "", 5, VULMORA_TRIGGER_NONFINITE, VULMORA_OUTCOME_RETURNED, true},
        {"heatflux", "", 7, VULMORA_TRIGGER_CRASH, VULMORA_OUTCOME_SIGNAL, true},
        {"texternal", "", 17, VULMORA_TRIGGER_CRASH, VULMORA_OUTCOME_SIGNAL, true},
        {"interhtransfer", "", 42, VULMORA_TRIGGER_STOP, VULMORA_OUTCOME_STOPPED, true},
        {"density", "func_density:3:2", 3, VULMORA_TRIGGER_REQUEST, VULMORA_OUTCOME_NONE, false},
        {"emissivity", "", 9, VULMORA_TRIGGER_NONFINITE, VULMORA_OUTCOME_RETURNED, true},
        {"vximposed", "", 13, VULMORA_TRIGGER_STOP, VULMORA_OUTCOME_STOPPED, true},
    };
    for (const auto &c : cases) {
#ifdef VULMORA_SANITIZED
        // The sanitizers catch the null write first and end the process themselves.
        if (c.trigger == VULMORA_TRIGGER_CRASH) continue;
#endif
        SCOPED_TRACE(std::string(c.entry) + " " + c.at);
        Folder dir;
        const vtest::ChildResult plain = runDlopenHost(c.entry, "");
        const vtest::ChildResult captured = runDlopenHost(c.entry, dir.path.string(), c.at);
        EXPECT_EQ(captured.out, plain.out);
        EXPECT_EQ(captured.exited, plain.exited);
        EXPECT_EQ(captured.status, plain.status);

        // One file for this trigger (func_density also returns NaN at node 5).
        const char *word[] = {"", "-nonfinite", "-crash", "-stop", "-request"};
        std::vector<fs::path> files;
        for (const fs::path &f : dir.states())
            if (f.filename().string().find(std::string(c.entry) + word[c.trigger] + ".vstate") !=
                std::string::npos)
                files.push_back(f);
        ASSERT_EQ(files.size(), 1u);
        vhost::State st;
        std::string error;
        ASSERT_TRUE(vhost::loadState(files[0].string(), st, error)) << error;
        const vulmora_state_header &h = st.header();
        EXPECT_STREQ(h.entry, c.entry);
        EXPECT_EQ(h.argument, c.node);
        EXPECT_EQ(h.cur_node, c.node - 1);
        EXPECT_EQ(h.trigger, c.trigger);
        EXPECT_EQ(h.outcome, c.outcome);
        EXPECT_EQ(h.nnod, kNodes);
        EXPECT_EQ(fs::path(h.library), fs::path(CAPTURE_FAULTY));
        if (c.outcome == VULMORA_OUTCOME_SIGNAL) {
            EXPECT_EQ(h.signal, captured.status);
        }
        if (c.outcome == VULMORA_OUTCOME_STOPPED) { // the text the host saw last
            const std::string text = h.stop_text;
            ASSERT_GE(captured.out.size(), text.size());
            EXPECT_EQ(captured.out.substr(captured.out.size() - text.size()), text);
        }
        if (std::strcmp(c.entry, "vximposed") == 0) { // the name in the stop text
            ASSERT_EQ(st.count(VULMORA_SECTION_micro_names), 1u);
            EXPECT_STREQ(st.array<vulmora_state_name>(VULMORA_SECTION_micro_names)[0].name,
                         "Cr-rich phase");
            EXPECT_NE(std::string(h.stop_text).find("Cr-rich phase"), std::string::npos);
        }
        if (std::strcmp(c.entry, "emissivity") == 0) { // the look-ups it made
            ASSERT_EQ(st.microCount(), 2u);
            EXPECT_EQ(st.micro()[0].value, 0.0);
            EXPECT_EQ(st.micro()[1].value, 28.0);
        }

        auto r = replay(files[0]);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_NE(r.out.find(c.outcome ? "reproduced" : "no captured outcome"), std::string::npos)
            << r.out;
        EXPECT_EQ(r.out.find("not recorded"), std::string::npos) << r.out;
        r = replay(files[0], "--library " CAPTURE_FIXED);
        if (c.fixedDiffers) {
            EXPECT_EQ(r.status, 1) << r.out << r.err;
            EXPECT_NE(r.out.find("differs"), std::string::npos) << r.out;
        }
    }
}

// A value the capture did not record is reported, not invented: replay a
// NaN of func_density as func_emissivity, which reads the microstructure.
TEST(Capture, ReplayReportsMicrostructureTheCaptureDidNotRecord) {
    Folder dir;
    runDlopenHost("density", dir.path.string());
    const auto files = dir.states();
    ASSERT_EQ(files.size(), 1u);
    auto r = replay(files[0], "--functions emissivity --node 5");
    EXPECT_NE(r.out.find("not recorded: the call read constituent 1 at node index 4"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("no captured outcome"), std::string::npos) << r.out;
}

// The emulator as the host: the same report with and without the capture,
// and each failure's file replays as reproduced.
TEST(Capture, EmulatorRunIsUnchangedAndEveryFailureReplays) {
    Folder dir;
#ifdef VULMORA_SANITIZED
    const char *functions = "density,interhtransfer,yieldstress"; // no crash: see above
    const size_t failures = 3;
#else
    const char *functions = "density,heatflux,interhtransfer,yieldstress";
    const size_t failures = 4;
#endif
    const std::string args = std::string("--library " CAPTURE_FAULTY " --functions ") + functions +
                             " --nodes-per-side 4 --steps 2 --materials all --no-output --jobs 1";
    const auto plain = vtest::runHost(VULMORA_HOST_EXE, args);
    const auto captured =
        vtest::runHost(VULMORA_HOST_EXE, args, "VULMORA_CAPTURE=" + dir.path.string());
    // The same report but for the time per call and the calls per second,
    // the memory taken and the capture's line on each failing worker's
    // stderr, which the report shows.
    const std::regex time(
        " +[0-9.]+ [mun]?s +[0-9.e+]+\n|peak memory: .*\n|processor time: .*\n  workers .*\n"),
        capture("  it wrote on stderr:\n    \\| vulmora capture: .*\n");
    auto same = [&](const std::string &out) {
        return std::regex_replace(std::regex_replace(out, capture, ""), time, "\n");
    };
    EXPECT_EQ(same(captured.out), same(plain.out));
    EXPECT_EQ(captured.status, plain.status);
    EXPECT_EQ(vtest::occurrences(captured.out, "| vulmora capture: "), failures) << captured.out;
    const auto files = dir.states();
    ASSERT_EQ(files.size(), failures);
    for (const fs::path &f : files) {
        auto r = replay(f);
        EXPECT_EQ(r.status, 0) << f << r.out << r.err;
        EXPECT_NE(r.out.find("reproduced"), std::string::npos) << r.out;
    }
}

// A capture that cannot save says which file it could not make and why.
TEST(Capture, AStateThatCannotBeSavedSaysWhy) {
    Folder dir;
    const fs::path file = dir.path / "states";
    std::ofstream(file) << "a file where the folder should be\n";
    fs::create_directory(dir.path / "readonly");
    fs::permissions(dir.path / "readonly", fs::perms::owner_read | fs::perms::owner_exec);
    const struct {
        fs::path folder;
        const char *why;
        bool asRoot; // root writes anywhere
    } cases[] = {
        {file, "part of the path is not a folder", true},
        {dir.path / "missing", "no such folder", true},
        {dir.path / "readonly", "permission denied", false},
    };
    for (const auto &c : cases) {
        if (!c.asRoot && geteuid() == 0) continue;
        const auto r = vtest::runHost(VULMORA_HOST_EXE,
                                      "--library " CAPTURE_FAULTY
                                      " --functions density --nodes-per-side 4 --steps 1 "
                                      "--materials all --no-output",
                                      "VULMORA_CAPTURE='" + c.folder.string() + "'");
        const std::string said = "could not save the state in " + c.folder.string() + "/vulmora-";
        EXPECT_NE(r.out.find(said), std::string::npos) << c.why << "\n" << r.out;
        EXPECT_NE(r.out.find(".vstate.part: " + std::string(c.why) + ")"), std::string::npos)
            << c.why << "\n"
            << r.out;
    }
}

// A state from a host that never began a time step shows its step as
// unknown rather than as a step of its own numbering.
TEST(Capture, StepUnknownOutsideATimeStep) {
    Folder dir;
    runDlopenHost("density", dir.path.string());
    const auto files = dir.states();
    ASSERT_EQ(files.size(), 1u);
    const auto r = replay(files[0]);
    EXPECT_NE(r.out.find("non-finite result, step unknown)"), std::string::npos) << r.out;
}

// The state carries the build record the library read from its own file,
// as `about` prints it; replayed with a library built from another source,
// the replay names the sources that differ (a note: the replay still runs).
TEST(Capture, StateCarriesTheLibrarysBuildRecord) {
    Folder dir;
    runDlopenHost("density", dir.path.string());
    const auto files = dir.states();
    ASSERT_EQ(files.size(), 1u);
    vhost::State st;
    std::string error;
    ASSERT_TRUE(vhost::loadState(files[0].string(), st, error)) << error;
    const auto about = vtest::runHost(VULMORA_HOST_EXE, "about " CAPTURE_FAULTY);
    ASSERT_EQ(about.status, 0) << about.err;
    EXPECT_EQ(st.buildRecord(), about.out);
    EXPECT_NE(about.out.find("source tests/capturelib/forwarded.c "), std::string::npos);
    const auto r = replay(files[0], "--library " HOSTLIB_KNOWN);
    EXPECT_NE(r.out.find("the one that made the state:\n            tests/capturelib/forwarded.c: "
                         "removed\n            tests/hostlib/known.c: added ("),
              std::string::npos)
        << r.out;
}

// A local-mode call that read a quantity its registration call never
// marked, captured in the emulator's run: the step the run reports is the
// step the state and the replay show; replayed with the faulty library it
// reproduces with the same marks; with the fixed one the replay makes that
// library's registration call, says the marks differ, and differs.
TEST(Capture, LocalModeReplayMakesTheRegistrationCallOfItsLibrary) {
    Folder dir;
    const auto run = vtest::runHost(VULMORA_HOST_EXE,
                                    "--library " CAPTURE_FAULTY " --functions youngsmodulus "
                                    "--nodes-per-side 4 --steps 2 --materials all --no-output",
                                    "VULMORA_CAPTURE=" + dir.path.string());
    EXPECT_NE(run.out.find("returned NaN at step 1, node 11"), std::string::npos) << run.out;
    const auto files = dir.states();
    ASSERT_EQ(files.size(), 1u);
    vhost::State st;
    std::string error;
    ASSERT_TRUE(vhost::loadState(files[0].string(), st, error)) << error;
    EXPECT_EQ(st.header().step, 1);
    EXPECT_EQ(st.header().location, 2);
    EXPECT_EQ(st.header().argument, 11);
    const struct {
        const char *library;
        int status;
        const char *marks, *verdict;
    } cases[] = {
        {CAPTURE_FAULTY, 0, "marks:    as captured: getMicro(0)\n", "\nreproduced\n"},
        {CAPTURE_FIXED, 1,
         "marks:    this library's registration call marks getFraction(1), getMicro(0); the "
         "captured call's had marked getMicro(0)\n",
         "\ndiffers: the registration call marks other quantities"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.library);
        const auto r = replay(files[0], std::string("--library ") + c.library);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_NE(r.out.find("non-finite result, step 1)"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(c.marks), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(c.verdict), std::string::npos) << r.out;
    }
    // The value the fix reads now was never captured: said, not invented.
    const auto fixed = replay(files[0], "--library " CAPTURE_FIXED);
    EXPECT_NE(fixed.out.find("not recorded: the call read constituent 1 at node index 10"),
              std::string::npos)
        << fixed.out;
}

// In process (for a debugger), and at every node of the captured state.
TEST(Capture, ReplayInProcessAndAtEveryNode) {
    Folder dir;
    runDlopenHost("density", dir.path.string());
    const auto files = dir.states();
    ASSERT_EQ(files.size(), 1u);
    auto r = replay(files[0], "--in-process");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("replaying in this process"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("reproduced"), std::string::npos) << r.out;
    const fs::path out = dir.path / "out";
    r = replay(files[0], "--all-nodes --output '" + out.string() + "'");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("every node: 64 values, 1 non-finite (first at node 5)"),
              std::string::npos)
        << r.out;
    // Results that cannot be written make the replay fail, saying where.
    auto unwritten = replay(files[0], "--all-nodes --output /proc/x");
    EXPECT_EQ(unwritten.status, 1) << unwritten.out;
    EXPECT_NE(unwritten.err.find("vulmora-host: cannot write the results: cannot make /proc/x"),
              std::string::npos)
        << unwritten.err;
    const std::string csv = vtest::slurp(out / "density-replay.csv");
    EXPECT_EQ(vtest::occurrences(csv, "\n"), 65u);
    EXPECT_NE(csv.find("\n5,0,0,0,604,0.0625,-nan\n"), std::string::npos) << csv.substr(0, 400);
    const std::string vtu = vtest::slurp(out / "density-replay.vtu");
#ifndef VULMORA_SANITIZED // (the sanitizers catch the null write first)
    // A crash at another node ends the every-node pass, not the call's report.
    r = replay(files[0], "--functions heatflux --node 1 --all-nodes --no-output");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("replayed: returned 1 "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("every node: the worker crashed (SIGSEGV) at node 7"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("every node: 6 values, 0 non-finite"), std::string::npos) << r.out;
    // A stop likewise, with what it printed.
    r = replay(files[0], "--functions interhtransfer --node 1 --all-nodes --no-output");
    EXPECT_NE(r.out.find("every node: the worker stopped (exit status 1) at node 42, printing "
                         "\"Error: An unauthorized defect"),
              std::string::npos)
        << r.out;
#endif
    EXPECT_NE(vtu.find("NumberOfPoints=\"64\" NumberOfCells=\"64\""), std::string::npos);
    // No elements: one vertex per node; every value as the CSV has it, in
    // binary, the NaN at node 5 kept as NaN.
    EXPECT_EQ(vtu.find("format=\"ascii\""), std::string::npos);
    EXPECT_EQ(vtest::binaryArray<uint8_t>(vtu, "types"), std::vector<uint8_t>(64, 1));
    const auto values = vtest::binaryArray<double>(vtu, "func_density");
    ASSERT_EQ(values.size(), 64u);
    for (size_t i = 0; i < values.size(); ++i) {
        if (i == 4) {
            EXPECT_TRUE(std::isnan(values[i]));
            continue;
        }
        const double fromCsv = std::stod(csvField(csv, i + 1, 6));
        EXPECT_EQ(values[i], fromCsv) << "node " << i + 1;
    }
}

// The hooks called directly: dormant without the variable (the result is
// passed through bit for bit, nothing written), and nested calls.
TEST(Capture, HooksPassResultsThroughAndStayDormantWithoutTheVariable) {
    Folder dir;
    auto r = vtest::runInChild([] {
        unsetenv("VULMORA_CAPTURE");
        const uint64_t payload = 0x7ff80000deadbeefull;
        double nan;
        std::memcpy(&nan, &payload, sizeof nan);
        vulmora_capture_before("density", 1);
        const double back = vulmora_capture_after(nan);
        std::printf("%d %d", vulmora_capture_mode, std::memcmp(&back, &nan, sizeof nan));
    });
    EXPECT_EQ(r.out, std::to_string(VULMORA_CAPTURE_DORMANT) + " 0");
    r = vtest::runInChild([&] {
        setenv("VULMORA_CAPTURE", dir.path.c_str(), 1);
        const double inf = HUGE_VAL;
        vulmora_capture_before("youngsmodulus", 2);
        vulmora_capture_before("yieldstress", 2); // called from inside the first
        const double inner = vulmora_capture_after(1.0);
        const double outer = vulmora_capture_after(-inf);
        std::printf("%d %g %g", vulmora_capture_mode, inner, outer);
    });
    EXPECT_EQ(r.out, std::to_string(VULMORA_CAPTURE_ACTIVE) + " 1 -inf");
    const auto files = dir.states();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(files[0].filename().string().find("-youngsmodulus-nonfinite.vstate"),
              std::string::npos);

    // Deeper than the capture follows: a stop is still saved, for the
    // deepest call it follows, and printed and ended as without it.
    Folder deep;
    r = vtest::runInChild([&] {
        setenv("VULMORA_CAPTURE", deep.path.c_str(), 1);
        vulmora_capture_before("density", 1);
        for (int k = 2; k <= 40; ++k)
            vulmora_capture_before("heatflux", k);
        vulmora_stop("deep %d\n", 40);
    });
    EXPECT_TRUE(vtest::stoppedWith(r, "deep 40\n"));
    const auto stops = deep.states();
    ASSERT_EQ(stops.size(), 1u);
    vhost::State st;
    std::string error;
    ASSERT_TRUE(vhost::loadState(stops[0].string(), st, error)) << error;
    EXPECT_STREQ(st.header().entry, "heatflux");
    EXPECT_EQ(st.header().argument, 16);
    EXPECT_STREQ(st.header().stop_text, "deep 40\n");
}

} // namespace

namespace {

// VULMORA_CAPTURE_AT: which call is saved, and what is refused (one line on
// stderr, then no request is saved).
TEST(Capture, RequestNamesOneCall) {
    const struct {
        const char *at;
        int node; // argument of the saved call, 0 for none
        bool refused;
    } cases[] = {
        {"density:5", 5, false},    {"func_density:5", 5, false},
        {"density:5:2", 5, false},  {"density:5:3", 0, false},
        {"heatflux:5", 0, false},   {"density:9", 0, false},
        {"density", 0, true},       {"density:", 0, true},
        {"density:x", 0, true},     {"density:5:0", 0, true},
        {"density:5:", 0, true},    {":5", 0, true},
        {"density:5:2:1", 0, true}, {"density:99999999999", 0, true},
    };
    for (const auto &c : cases) {
        Folder dir;
        auto r = vtest::runInChild([&] {
            dup2(STDOUT_FILENO, STDERR_FILENO); // the stderr line, where the test sees it
            setenv("VULMORA_CAPTURE", dir.path.c_str(), 1);
            setenv("VULMORA_CAPTURE_AT", c.at, 1);
            for (int pass = 0; pass < 2; ++pass)
                for (int node = 1; node <= 8; ++node) {
                    vulmora_capture_before("density", node);
                    (void)vulmora_capture_after(1.0);
                }
        });
        EXPECT_EQ(r.out.find("is not <entry>:<node>[:<n>]; ignored") != std::string::npos,
                  c.refused)
            << c.at << ": " << r.out;
        const auto files = dir.states();
        ASSERT_EQ(files.size(), c.node ? 1u : 0u) << c.at;
        if (!c.node) continue;
        vhost::State st;
        std::string error;
        ASSERT_TRUE(vhost::loadState(files[0].string(), st, error)) << error;
        EXPECT_EQ(st.header().argument, c.node) << c.at;
        EXPECT_EQ(st.header().trigger, VULMORA_TRIGGER_REQUEST) << c.at;
        EXPECT_EQ(st.header().outcome, VULMORA_OUTCOME_NONE) << c.at;
    }
}

// VULMORA_CAPTURE_AT without VULMORA_CAPTURE saves nothing, and says so
// once on stderr, however many calls follow; with both, nothing is said.
TEST(Capture, RequestWithoutFolderSaysWhyNothingIsSaved) {
    const struct {
        bool folder;
        size_t lines;
    } cases[] = {{false, 1}, {true, 0}};
    for (const auto &c : cases) {
        Folder dir;
        const auto r = vtest::runInChild([&] {
            dup2(STDOUT_FILENO, STDERR_FILENO); // the stderr line, where the test sees it
            if (c.folder)
                setenv("VULMORA_CAPTURE", dir.path.c_str(), 1);
            else
                unsetenv("VULMORA_CAPTURE");
            setenv("VULMORA_CAPTURE_AT", "density:9", 1);
            for (int node = 1; node <= 8; ++node) {
                vulmora_capture_before("density", node);
                (void)vulmora_capture_after(1.0);
            }
        });
        EXPECT_EQ(vtest::occurrences(r.out, "vulmora capture: VULMORA_CAPTURE_AT needs "
                                            "VULMORA_CAPTURE=<folder> as well"),
                  c.lines)
            << r.out;
        EXPECT_TRUE(dir.states().empty());
    }
}

// The capture's C library calls (signals, files, the loader's object list)
// ask for no newer C library than the rest of the library: a library built
// here still loads on older sites.
TEST(Capture, NeedsNoNewerCLibrary) {
#ifdef VULMORA_SANITIZED
    GTEST_SKIP() << "a sanitizer build needs the sanitizer runtimes";
#endif
    FILE *p = popen("nm -D --undefined-only '" CAPTURE_FAULTY "'", "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    ASSERT_NE(out.find("sigaction@GLIBC_"), std::string::npos) << out; // the capture is in
    const std::regex version("@GLIBC_([0-9]+)\\.([0-9]+)");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), version);
         it != std::sregex_iterator(); ++it) {
        const int major = std::stoi((*it)[1]), minor = std::stoi((*it)[2]);
        EXPECT_TRUE(major < 2 || (major == 2 && minor <= 17)) << it->str();
    }
}

} // namespace

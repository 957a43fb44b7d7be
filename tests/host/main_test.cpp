// host_test.cpp - vulmora-host end to end: the program is run as a user
// runs it, on the delivered template and on two small test libraries, and
// its exit status, report and output files are checked.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "paths.h"
#include "cli/options.h"
#include "hostlib/host_run.h"
#include "runtime/messages.h"

namespace fs = std::filesystem;

namespace {

using HostRun = vtest::HostResult;

// Run the emulator with `args` (shell words), capturing stdout and status.
HostRun host(const std::string &args) {
    return vtest::runHost(VULMORA_HOST_EXE, args);
}

std::string lib(const char *path) {
    return std::string("--library '") + path + "' ";
}

// The report's quoted form of a message: newlines written as \n.
std::string quoted(const std::string &text) {
    std::string q = "\"";
    for (char c : text)
        q += c == '\n' ? std::string("\\n") : std::string(1, c);
    return q + "\"";
}

// A fresh scratch folder for one test, of this process alone: CTest runs
// the cases of this file in parallel processes.
fs::path scratch(const std::string &name) {
    fs::path d =
        fs::temp_directory_path() / ("vulmora-host-test-" + name + "-" + std::to_string(getpid()));
    fs::remove_all(d);
    return d;
}

// The value's column of a CSV, whatever its name and unit.
constexpr const char *kValue = "value";

// Rows of a CSV written by the emulator, as columns by header name (the
// last one, the value, as kValue).
std::vector<std::map<std::string, double>> readCsv(const fs::path &p, std::string &header) {
    std::ifstream in(p);
    std::getline(in, header);
    std::vector<std::string> names;
    std::stringstream hs(header);
    for (std::string c; std::getline(hs, c, ',');)
        names.push_back(c);
    std::vector<std::map<std::string, double>> rows;
    for (std::string line; std::getline(in, line);) {
        std::stringstream ls(line);
        std::map<std::string, double> row;
        size_t k = 0;
        for (std::string c; std::getline(ls, c, ',') && k < names.size(); ++k)
            row[k + 1 == names.size() ? kValue : names[k]] = std::strtod(c.c_str(), nullptr);
        rows.push_back(row);
    }
    return rows;
}

// The hot spot of the sample's history (3600 s, steps growing as
// t = 3600 u (1 + 3u) / 4 with progress u): liquidus (888 K) at u = 0.2,
// all solid (833 K) at u = 0.7, evenly in solid fraction between, and
// 293 K at the end. With two steps, u = 0.5 and 1.
double hotSpotTime(double u) {
    return 3600.0 * u * (1 + 3 * u) / 4;
}

// 5 nodes per side: node 63 is the centre of the cube (6, 6, 6 cm), the
// hot spot of the casting; node 1 is a corner of the mould.
constexpr const char *kSmall = "--nodes-per-side 5 --steps 2 --materials all ";
constexpr int kCentre = 63;

} // namespace

// ---- the delivered template --------------------------------------------------

TEST(Host, TemplateRunCompletesWithEveryEntryPointAPlaceholder) {
    HostRun r = host(lib(vtest::deliveredLibrary().c_str()) + kSmall + "--no-output");
    EXPECT_EQ(r.status, 0) << r.out;
    size_t rows = 0;
    for (size_t at = r.out.find(" placeholder "); at != std::string::npos;
         at = r.out.find(" placeholder ", at + 1))
        ++rows;
    EXPECT_EQ(rows, 36u) << r.out;
    EXPECT_NE(r.out.find("36 placeholders (not implemented), 0 failed"), std::string::npos)
        << r.out;
}

TEST(Host, PlaceholderNamedExplicitlyIsAFailure) {
    HostRun r = host(lib(vtest::deliveredLibrary().c_str()) + kSmall +
                     "--no-output --functions density,func_yieldstress");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("func_density: is the template's placeholder: it stopped with exit "
                         "status 1 printing " +
                         quoted(VULMORA_MSG_PLACEHOLDER("density"))),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(quoted(VULMORA_MSG_PLACEHOLDER("yieldstress"))), std::string::npos);
}

// ---- faults at one node ---------------------------------------------------------

TEST(Host, NaNAndStopAreReportedWithTheirNodeAndTheRunGoesOn) {
    HostRun r = host(lib(HOSTLIB_FAULTY) + kSmall + "--no-output");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("func_density: returned NaN at step 1, node 5 (non-finite at 2 calls"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("func_interhtransfer: stopped the process with exit status 1 at step 1, "
                         "node 42, printing " +
                         quoted(VULMORA_MSG_DEFECT_UNAUTHORIZED)),
              std::string::npos)
        << r.out;
    // The fields at the faulty node are printed, with the command to re-run it.
    EXPECT_NE(r.out.find("node 42 of step 1"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("--functions interhtransfer --node 42 --step 1"), std::string::npos);
    // The entry point after them was still evaluated.
    EXPECT_NE(r.out.find("func_heatflux                  ok"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("2 ok, 33 placeholders (not implemented), 2 failed"), std::string::npos);
}

TEST(Host, ProbeRerunsOneCallInTheForeground) {
    HostRun r =
        host(lib(HOSTLIB_FAULTY) + kSmall + "--functions interhtransfer --node 42 --step 1");
    EXPECT_EQ(r.status, 1);
    const std::string tail =
        "func_interhtransfer(42) (location = 1):\n" + std::string(VULMORA_MSG_DEFECT_UNAUTHORIZED);
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << r.out;
    EXPECT_NE(r.out.find("node 42 of step 1"), std::string::npos);
}

// ---- values against hand computations -------------------------------------------

class KnownValues : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = scratch("known");
        run_ = host(lib(HOSTLIB_KNOWN) + kSmall + "--no-plots --temp C --length mm --output '" +
                    dir_.string() + "'");
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    static double value(const char *entry, int step, int node) {
        std::string header;
        auto rows = readCsv(dir_ / (std::string(entry) + ".csv"), header);
        for (const auto &row : rows)
            if (row.at("step") == step && row.at("node") == node) return row.at(kValue);
        ADD_FAILURE() << "no row for step " << step << " node " << node;
        return NAN;
    }
    static inline fs::path dir_;
    static inline HostRun run_;
};

TEST_F(KnownValues, RunSucceeds) {
    EXPECT_EQ(run_.status, 0) << run_.out;
    EXPECT_NE(run_.out.find("5 ok, 32 placeholders (not implemented), 0 failed"), std::string::npos)
        << run_.out;
}

TEST_F(KnownValues, TemperaturesAndCoordinatesInUserUnits) {
    struct Case {
        const char *entry;
        int step, node;
        double expected, tolerance;
    } cases[] = {
        // getT1 in Celsius at the hot spot: fs = 0.6 by the lever rule at
        // u = 0.5, then the end of the history.
        {"density", 1, kCentre, 888.0 - 0.6 * 55.0 - 273.0, 1e-3},
        {"density", 2, kCentre, 20.0, 1e-3},
        // getX in millimetres: node 63 is at 6 cm, node 2 at 3 cm, node 1 at 0.
        {"emissivity", 1, kCentre, 60.0, 1e-9},
        {"emissivity", 2, 2, 30.0, 1e-9},
        {"emissivity", 2, 1, 0.0, 1e-9},
    };
    for (const Case &c : cases)
        EXPECT_NEAR(value(c.entry, c.step, c.node), c.expected, c.tolerance)
            << c.entry << " step " << c.step << " node " << c.node;
}

TEST_F(KnownValues, MechanicalPropertyReadsTheMarkedQuantitiesInLocalMode) {
    // yieldstress = eutectic Si + 10 SDAS + 1000 porosity. Eutectic Si is
    // 0.12 (fs - 0.55); SDAS 10 um * (time mushy, at most the local freezing
    // time)^(1/3); porosity 2 % once the hot spot is solid.
    const double liquidus = hotSpotTime(0.2), tf = hotSpotTime(0.7) - liquidus;
    const double mushy = 0.12 * 0.05 + 10.0 * (10.0 * std::cbrt(hotSpotTime(0.5) - liquidus));
    const double solid = 0.12 * 0.45 + 10.0 * (10.0 * std::cbrt(tf)) + 1000.0 * 0.02;
    EXPECT_NEAR(value("yieldstress", 1, kCentre), mushy, 1e-3);
    EXPECT_NEAR(value("yieldstress", 2, kCentre), solid, 1e-3);
    // The mould corner never has a microstructure: every quantity read is 0.
    EXPECT_EQ(value("yieldstress", 2, 1), 0.0);
}

TEST_F(KnownValues, ProbeGivesTheValueOfTheRun) {
    HostRun r = host(lib(HOSTLIB_KNOWN) + kSmall +
                     "--temp C --length mm --functions yieldstress "
                     "--node 63 --step 2");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("marked: POROS1 constituent 1 -> slot 0; auxiliary 0 -> slot 0;"),
              std::string::npos)
        << r.out;
    size_t at = r.out.rfind("  = ");
    ASSERT_NE(at, std::string::npos) << r.out;
    EXPECT_EQ(std::strtod(r.out.c_str() + at + 4, nullptr), value("yieldstress", 2, kCentre));
}

TEST_F(KnownValues, CsvAndVtkFilesAreComplete) {
    std::string header;
    auto rows = readCsv(dir_ / "density.csv", header);
    // Coordinates and temperature in the run's units (mm, °C), the value
    // with its own.
    EXPECT_EQ(header, "step,node,material,x [mm],y [mm],z [mm],temperature [\xc2\xb0"
                      "C],fs,density [g/cm\xc2\xb3]");
    for (const auto &row : rows) {
        EXPECT_EQ(row.at("temperature [\xc2\xb0"
                         "C]"),
                  row.at(kValue)); // density returns getT1 in the user's unit
        EXPECT_EQ(std::fmod(row.at("x [mm]"), 30.0), 0.0);
    }
    EXPECT_EQ(rows.size(), 2u * 125u);
    for (int step = 1; step <= 2; ++step) {
        char name[32];
        std::snprintf(name, sizeof name, "step_%04d.vtu", step);
        std::ifstream in(dir_ / name);
        std::stringstream all;
        all << in.rdbuf();
        const std::string vtu = all.str();
        EXPECT_NE(vtu.find("<Piece NumberOfPoints=\"125\" NumberOfCells=\"64\">"),
                  std::string::npos);
        // Every evaluated entry point is a binary point array with one double per
        // node: base64 of an 8-byte count and 125 x 8 bytes is 1344 characters.
        for (const char *entry : {"func_density", "func_emissivity", "func_yieldstress"}) {
            size_t at = vtu.find(std::string("Name=\"") + entry + "\" format=\"binary\"");
            ASSERT_NE(at, std::string::npos) << entry;
            size_t from = vtu.find('\n', at) + 1, to = vtu.find("\n</DataArray>", from);
            EXPECT_EQ(to - from, 1344u) << entry;
        }
        EXPECT_EQ(std::count(vtu.begin(), vtu.end(), '<') - std::count(vtu.begin(), vtu.end(), '>'),
                  0);
        EXPECT_EQ(vtu.substr(vtu.size() - 11), "</VTKFile>\n");
    }
    std::ifstream pvd(dir_ / "run.pvd");
    std::stringstream all;
    all << pvd.rdbuf();
    EXPECT_NE(all.str().find("timestep=\"3600\" part=\"0\" file=\"step_0002.vtu\""),
              std::string::npos);
}

// ---- the command line -------------------------------------------------------------

// Values taken out of a worker's file while it runs (its steps slow) are
// those it wrote: the same statistics with and without an output folder
// (values laid out, or summarised as they come), slow or not.
TEST(Host, ValuesTakenWhileAWorkerRunsAreTheValuesItWrote) {
    vtest::PrivateFolder dir("vulmora-taken");
    const std::string args = lib(HOSTLIB_HOSTILE) + "--nodes-per-side 5 --steps 4 --materials all "
                                                    "--functions ymasssource --take-values-from 0 ";
    // node + 1000 * step over 125 nodes and 4 steps
    const std::string row = "func_ymasssource               ok                      1001          "
                            "2563          4125";
    const struct {
        const char *how, *env, *options;
    } cases[] = {
        {"slow, no output", "VULMORA_TEST_SLOW_STEPS=1", "--no-output"},
        {"slow, output", "VULMORA_TEST_SLOW_STEPS=1", "--output"},
        {"quick, no output", "", "--no-output"},
        {"quick, output", "", "--output"},
    };
    int outputs = 0;
    for (const auto &c : cases) {
        std::string options = c.options;
        if (options == "--output")
            options += " '" + (dir.path / ("out" + std::to_string(++outputs))).string() + "'";
        const HostRun r = vtest::runHost(VULMORA_HOST_EXE, args + options, c.env);
        EXPECT_EQ(r.status, 0) << c.how << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find(row), std::string::npos) << c.how << "\n" << r.out;
    }
}

TEST(Host, BadCommandLinesExitWithStatus2) {
    for (const char *args :
         {"--bogus", "--temp X", "--length furlong", "--unit velocity=11", "--functions notanentry",
          "--nodes-per-side 3", "--node 5", "--library /nonexistent/lib.so"}) {
        HostRun r = host(args);
        EXPECT_EQ(r.status, 2) << args;
    }
    // --help prints the text made from the table of options, which the
    // options test checks row by row.
    HostRun help = host("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, vhost::helpText());
}

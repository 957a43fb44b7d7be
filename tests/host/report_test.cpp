// host_report_test.cpp - what the emulator reports: statistics, the
// escaped text of what a function printed, the summary table, and the
// output folder (CSV, VTU, PVD, plots) of a real run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "hostlib/host_run.h"
#include "hostlib/vtu_arrays.h"
#include "output/report.h"
#include "model/materials.h"
#include "protocol/protocol.h"
#include "run/run_report.h"
#include "output/svg_plain.h"
#include "model/sample.h"

namespace fs = std::filesystem;
using vhost::Outcome;
using vtest::binaryArray;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Split on `sep`, keeping empty fields.
std::vector<std::string> split(const std::string &s, char sep) {
    std::vector<std::string> out;
    std::stringstream in(s);
    for (std::string f; std::getline(in, f, sep);)
        out.push_back(f);
    if (!s.empty() && s.back() == sep) out.emplace_back();
    return out;
}

// True when every element is closed in order (a well-formedness check for
// the emulator's XML, which has no comments, CDATA or '<' in text).
bool wellFormed(const std::string &xml, std::string &why) {
    std::vector<std::string> open;
    static const std::regex tag(R"(<(/?)([A-Za-z?][A-Za-z0-9]*)[^<>]*?(/?)>)");
    size_t tags = 0;
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), tag); it != std::sregex_iterator();
         ++it, ++tags) {
        const std::string name = (*it)[2];
        if (name[0] == '?' || (*it)[3] == "/") continue;
        if ((*it)[1] == "") {
            open.push_back(name);
        } else if (open.empty() || open.back() != name) {
            why = "</" + name + "> closes " + (open.empty() ? "nothing" : open.back());
            return false;
        } else {
            open.pop_back();
        }
    }
    if (std::count(xml.begin(), xml.end(), '<') != static_cast<long>(tags))
        return why = "a '<' outside a tag", false;
    if (!open.empty()) return why = "<" + open.back() + "> left open", false;
    return true;
}

} // namespace

// ---- statistics, escaping, the table ------------------------------------------------

TEST(HostReport, StatisticsSkipNonFiniteValuesAndFindTheFirstOne) {
    struct Case {
        std::vector<double> values; // 2 steps x 3 nodes
        double min, mean, max;
        int64_t finite, nonFinite;
        int badStep, badNode;
        double badValue;
    } cases[] = {
        {{1, 2, 3, 4, 5, 6}, 1, 3.5, 6, 6, 0, 0, 0, 0},
        {{-5, 2, 3, 4, 5, -6}, -6, 0.5, 5, 6, 0, 0, 0, 0},
        {{-5, -2, -3, -4, -1, -6}, -6, -3.5, -1, 6, 0, 0, 0, 0}, // the maximum below 0
        {{1, 2, 3, 4, kNaN, 6}, 1, 3.2, 6, 5, 1, 2, 2, kNaN},
        {{1, 2, -kInf, 4, kNaN, 6}, 1, 3.25, 6, 4, 2, 1, 3, -kInf},
        {{kInf, 2, 3, 4, 5, 6}, 2, 4, 6, 5, 1, 1, 1, kInf},
        {{kNaN, kNaN, kNaN, kNaN, kNaN, kNaN}, 0, 0, 0, 0, 6, 1, 1, kNaN},
    };
    for (const Case &c : cases) {
        Outcome o;
        o.result.values.assign(c.values.begin(), c.values.end());
        vhost::computeStatistics(o, 3);
        SCOPED_TRACE(::testing::PrintToString(c.values));
        EXPECT_EQ(o.min, c.min);
        EXPECT_DOUBLE_EQ(o.mean, c.mean);
        EXPECT_EQ(o.max, c.max);
        EXPECT_EQ(o.finite, c.finite);
        EXPECT_EQ(o.nonFinite, c.nonFinite);
        EXPECT_EQ(o.badStep, c.badStep);
        EXPECT_EQ(o.badNode, c.badNode);
        if (std::isnan(c.badValue)) {
            EXPECT_TRUE(std::isnan(o.badValue));
        } else {
            EXPECT_EQ(o.badValue, c.badValue);
        }
    }
}

namespace {

// `packed` handed over `size` values at a time, as a file or a worker
// would give them.
vhost::ValuePieces inPieces(const std::vector<double> &packed, size_t size) {
    return [&packed, size](const vhost::ValuePiece &piece) {
        for (size_t at = 0; at < packed.size(); at += size)
            piece(packed.data() + at, std::min(size, packed.size() - at));
        return true;
    };
}

// Each outcome field the statistics fill, bit for bit.
void expectSameStatistics(const Outcome &a, const Outcome &b) {
    auto bits = [](double x) {
        uint64_t u;
        std::memcpy(&u, &x, sizeof u);
        return u;
    };
    EXPECT_EQ(bits(a.min), bits(b.min));
    EXPECT_EQ(bits(a.mean), bits(b.mean));
    EXPECT_EQ(bits(a.max), bits(b.max));
    EXPECT_EQ(a.finite, b.finite);
    EXPECT_EQ(a.nonFinite, b.nonFinite);
    EXPECT_EQ(a.badStep, b.badStep);
    EXPECT_EQ(a.badNode, b.badNode);
    EXPECT_EQ(bits(a.badValue), bits(b.badValue));
    for (int m = 0; m < 2; ++m) {
        EXPECT_EQ(bits(a.perMaterial[m].min), bits(b.perMaterial[m].min)) << m;
        EXPECT_EQ(bits(a.perMaterial[m].mean), bits(b.perMaterial[m].mean)) << m;
        EXPECT_EQ(bits(a.perMaterial[m].max), bits(b.perMaterial[m].max)) << m;
        EXPECT_EQ(a.perMaterial[m].finite, b.perMaterial[m].finite) << m;
    }
}

} // namespace

// The statistics of the evaluated nodes' values as a worker writes them
// (node order, a step after another), in pieces of any size, are those of
// the values laid out by node: runs of one material or of both, pieces
// that end inside a run or a step, a non-finite value in a later piece.
TEST(HostReport, StatisticsOfPackedValuesInAnyPiecesAreThoseOfTheLaidOutOnes) {
    const size_t n = 7, steps = 3;
    const std::vector<std::vector<uint8_t>> materials = {
        {0, 1, 1, 2, 0, 2, 1}, // both, runs of one or two nodes
        {0, 1, 1, 0, 1, 1, 1}, // the casting alone
        {2, 2, 2, 2, 2, 2, 2}, // the mould alone, one run
    };
    for (const auto &m : materials)
        for (bool bad : {false, true}) {
            std::vector<double> laid(n * steps, kNaN), packed;
            for (size_t s = 0; s < steps; ++s)
                for (size_t i = 0; i < n; ++i)
                    if (m[i]) {
                        double v = std::sin(double(s * n + i)) * 100.0 + double(m[i]);
                        if (bad && s == 1 && i == 5) v = -kInf;
                        if (bad && s == 2 && i == 1) v = kNaN;
                        laid[s * n + i] = v;
                        packed.push_back(v);
                    }
            Outcome whole;
            whole.result.values.assign(laid.begin(), laid.end());
            vhost::computeStatistics(whole, int(n), &m);
            for (size_t size : {size_t(1), size_t(2), size_t(3), size_t(5), size_t(100)}) {
                SCOPED_TRACE(::testing::Message() << "materials " << int(m[0]) << int(m[1])
                                                  << ", bad " << bad << ", pieces of " << size);
                Outcome piecewise;
                ASSERT_TRUE(vhost::computeStatistics(piecewise, int(n), m, inPieces(packed, size)));
                expectSameStatistics(piecewise, whole);
            }
        }
}

// The packed values laid out by node again from pieces of any size: each
// at its node, NaN at the nodes not evaluated; fewer values than the run
// has are refused.
TEST(HostReport, PackedValuesInAnyPiecesAreLaidOutAtTheirNodes) {
    // 4 x 4 x 4 nodes: the casting is the inner 2 x 2 x 2.
    const vhost::ResultShape shape =
        vhost::ResultShape::values(vhost::WorkerKind::Entry, 0, 4, 2, vhost::material::kCasting, 0);
    const std::vector<uint8_t> selected = shape.selection();
    std::vector<double> packed;
    for (size_t s = 0; s < 2; ++s)
        for (size_t i = 0; i < selected.size(); ++i)
            if (selected[i]) packed.push_back(double(s * 1000 + i));
    ASSERT_EQ(int64_t(packed.size()), shape.count);
    for (size_t size : {size_t(1), size_t(3), size_t(8), size_t(1000)}) {
        vhost::UninitializedVector<double> values;
        ASSERT_TRUE(vhost::expandValues(inPieces(packed, size), shape, values)) << size;
        ASSERT_EQ(values.size(), 2 * selected.size());
        for (size_t s = 0; s < 2; ++s)
            for (size_t i = 0; i < selected.size(); ++i) {
                const double v = values[s * selected.size() + i];
                if (selected[i])
                    EXPECT_EQ(v, double(s * 1000 + i)) << size << " " << s << " " << i;
                else
                    EXPECT_TRUE(std::isnan(v)) << size << " " << s << " " << i;
            }
    }
    const std::vector<double> short_(packed.begin(), packed.end() - 1);
    vhost::UninitializedVector<double> values;
    EXPECT_FALSE(vhost::expandValues(inPieces(short_, 4), shape, values));
}

TEST(HostReport, PrintedTextIsEscapedAndCutToItsTail) {
    struct Case {
        std::string text;
        size_t keep;
        std::string expected;
    } cases[] = {
        {"", 2000, R"("")"},
        {"Error: x\n", 2000, R"("Error: x\n")"},
        {"a\tb\"c\\d", 2000, R"("a\tb\"c\\d")"},
        {std::string("\x01\x7f\xff", 3), 2000, R"("\x01\x7f\xff")"},
        {std::string("a\0b", 3), 2000, R"("a\x00b")"},
        {"abcdef", 3, R"(..."def")"},
        {"abc", 3, R"("abc")"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(vhost::escaped(c.text, c.keep), c.expected) << c.text;
}

// A path prints as itself unless a control character in it would break
// the report's lines; then it is escaped whole.
TEST(HostReport, PathsWithControlCharactersAreShownEscaped) {
    const std::pair<std::string, std::string> cases[] = {
        {"/tmp/out", "/tmp/out"},        {"/tmp/a b/'q'/\\x", "/tmp/a b/'q'/\\x"},
        {"/tmp/a\nb", R"("/tmp/a\nb")"}, {"/tmp/\x1b[2Jx", R"("/tmp/\x1b[2Jx")"},
        {"/tmp/\x7f", R"("/tmp/\x7f")"},
    };
    for (const auto &[path, shown] : cases)
        EXPECT_EQ(vhost::shownPath(path), shown) << path;
}

// The run's last line points at the output folder's run.pvd, then at the
// template after the worked examples and at the checks not yet asked for
// after a library of the user's; a control character in a path is escaped.
TEST(HostReport, NextStepsFitTheRun) {
    struct Case {
        bool examples;
        std::string templateSource;
        bool units, order;
        std::string expected;
    };
    const std::string pvd = "next: open /tmp/out/run.pvd in ParaView";
    const std::string checks = "; look for quiet faults with --check-units --check-order";
    const Case cases[] = {
        {true, "/opt/v/share/vulmora/template.c", false, false,
         pvd + "; start a library of your own from a copy of /opt/v/share/vulmora/template.c"},
        {true, "", false, false, pvd},
        {true, "/t/a\nb.c", false, false,
         pvd + R"(; start a library of your own from a copy of "/t/a\nb.c")"},
        {false, "", false, false, pvd + checks},
        {false, "", true, false, pvd + checks},
        {false, "", true, true, pvd},
    };
    for (const Case &c : cases) {
        vhost::RunSettings o;
        o.checks.units = c.units;
        o.checks.order = c.order;
        EXPECT_EQ(vhost::nextStepsText(o, "/tmp/out", c.examples, c.templateSource),
                  c.expected + "\n")
            << c.examples << " " << c.templateSource;
    }
}

TEST(HostReport, SummaryTableHasOneAlignedRowPerOutcome) {
    std::vector<Outcome> outcomes(4);
    outcomes[0].name = "density", outcomes[0].status = Outcome::Ok;
    outcomes[0].result.values = {1, 2, 3, 6};
    outcomes[0].result.calls = 4, outcomes[0].result.seconds = 2e-6;
    vhost::computeStatistics(outcomes[0], 2);
    outcomes[1].name = "mechprop2", outcomes[1].status = Outcome::Placeholder;
    outcomes[1].result.mechName = "hot tearing";
    outcomes[2].name = "heatflux", outcomes[2].status = Outcome::Stopped,
    outcomes[2].exitStatus = 3;
    outcomes[3].name = "externalcompute", outcomes[3].status = Outcome::Crashed;
    const std::vector<std::string> lines = split(vhost::summaryTable(outcomes), '\n');
    ASSERT_EQ(lines.size(), 6u); // header, 4 rows, the empty tail
    EXPECT_EQ(lines[0].substr(0, 11), "entry point");
    struct Row {
        std::string start, status;
        std::vector<std::string> numbers;
    } rows[] = {
        {"func_density", "ok", {"1", "3", "6", "4", "500", "ns", "2e+06"}},
        {"func_mechprop2 (hot tearing)", "placeholder", {"-", "-", "-", "0", "-", "-"}},
        {"func_heatflux", "stopped (3)", {"-", "-", "-", "0", "-", "-"}},
        {"externalcompute", "crashed", {"-", "-", "-", "0", "-", "-"}},
    };
    for (size_t k = 0; k < std::size(rows); ++k) {
        const std::string &l = lines[k + 1];
        EXPECT_EQ(l.size(), lines[0].size()) << l;
        EXPECT_EQ(l.substr(0, rows[k].start.size()), rows[k].start) << l;
        EXPECT_EQ(l.substr(31, rows[k].status.size()), rows[k].status) << l;
        std::stringstream words(l.substr(46));
        std::vector<std::string> got;
        for (std::string w; words >> w;)
            got.push_back(w);
        EXPECT_EQ(got, rows[k].numbers) << l;
    }
}

// ---- the output folder of a run ---------------------------------------------------

// One run of the cycle library on 5 x 5 x 5 nodes (the smallest mesh
// with porosity at its centre) and 3 steps, with no
// gnuplot on PATH.
class OutputFolder : public ::testing::Test {
  protected:
    static constexpr int kSide = 5, kSteps = 3, kNodes = 125, kCells = 64;
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("vulmora-test-output-" + std::to_string(getpid()));
        fs::remove_all(dir_);
        run_ = vtest::runHost(VULMORA_HOST_EXE,
                              std::string("--library '") + HOSTLIB_CYCLE +
                                  "' --nodes-per-side 5 --steps 3 --materials all --output '" +
                                  dir_.string() + "'",
                              "PATH=/nonexistent");
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    static std::string vtu(int step) {
        char name[32];
        std::snprintf(name, sizeof name, "step_%04d.vtu", step);
        return vtest::slurp(dir_ / name);
    }
    // CSV rows as fields.
    static std::vector<std::vector<std::string>> csv(const std::string &entry) {
        std::vector<std::vector<std::string>> rows;
        for (const std::string &line : split(vtest::slurp(dir_ / (entry + ".csv")), '\n'))
            if (!line.empty()) rows.push_back(split(line, ','));
        return rows;
    }
    static inline fs::path dir_;
    static inline vtest::HostResult run_;
    static constexpr const char *kEntries[] = {"density",      "emissivity",       "heatflux",
                                               "poissonratio", "thermalexpansion", "yieldstress",
                                               "youngsmodulus"};
};

TEST_F(OutputFolder, RunSucceedsWithoutGnuplotAndSaysSo) {
    EXPECT_EQ(run_.status, 0) << run_.out << run_.err;
    EXPECT_NE(run_.out.find("gnuplot not found"), std::string::npos) << run_.out;
    EXPECT_NE(run_.out.find("37 entry points: 8 ok, 29 placeholders"), std::string::npos)
        << run_.out;
    EXPECT_FALSE(fs::exists(dir_ / "density.svg"));
    EXPECT_NE(vtest::slurp(dir_ / "summary.txt").find("0 failed"), std::string::npos);
}

TEST_F(OutputFolder, CsvHasARowPerStepAndNodeWithTheSampleFields) {
    vhost::Sample s(kSide, kSteps);
    for (const char *entry : kEntries) {
        SCOPED_TRACE(entry);
        auto rows = csv(entry);
        ASSERT_EQ(rows.size(), 1u + kSteps * kNodes);
        // The host's units here; the value named by its entry point.
        const auto names = split("step,node,material,x [cm],y [cm],z [cm],temperature [K],fs", ',');
        ASSERT_EQ(rows[0].size(), names.size() + 1);
        EXPECT_TRUE(std::equal(names.begin(), names.end(), rows[0].begin()));
        EXPECT_EQ(rows[0].back().rfind(entry, 0), 0u) << rows[0].back();
        size_t r = 1;
        for (int step = 1; step <= kSteps; ++step) {
            s.setStep(step);
            for (int node = 1; node <= kNodes; ++node, ++r) {
                const auto &f = rows[r];
                ASSERT_EQ(f.size(), 9u) << "row " << r;
                ASSERT_EQ(std::stoi(f[0]), step);
                ASSERT_EQ(std::stoi(f[1]), node);
                const size_t i = static_cast<size_t>(node - 1);
                EXPECT_EQ(std::stoi(f[2]), s.inCasting(node - 1) ? 1 : 2);
                EXPECT_EQ(std::stod(f[3]), s.x[i]);
                EXPECT_EQ(std::stod(f[5]), s.z[i]);
                EXPECT_EQ(static_cast<float>(std::stod(f[6])), s.t1[i]);
                EXPECT_EQ(static_cast<float>(std::stod(f[7])), s.fs1[i]);
            }
        }
    }
}

TEST_F(OutputFolder, StressCycleThroughWorkersMatchesNodalMode) {
    // Each mechanical entry point of cycle.c reads what a nodal one reads.
    const std::pair<const char *, const char *> pairs[] = {
        {"density", "youngsmodulus"},
        {"emissivity", "poissonratio"},
        {"heatflux", "thermalexpansion"},
    };
    for (const auto &[nodal, local] : pairs) {
        auto a = csv(nodal), b = csv(local);
        ASSERT_EQ(a.size(), b.size());
        size_t nonzero = 0;
        for (size_t r = 1; r < a.size(); ++r) {
            EXPECT_EQ(a[r][8], b[r][8]) << nodal << "/" << local << " row " << r;
            nonzero += std::stod(a[r][8]) != 0.0;
        }
        EXPECT_GT(nonzero, 0u) << nodal;
    }
}

TEST_F(OutputFolder, VtuFilesAreWellFormedAndHoldEveryEntryPoint) {
    for (int step = 1; step <= kSteps; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        const std::string v = vtu(step);
        std::string why;
        EXPECT_TRUE(wellFormed(v, why)) << why;
        EXPECT_NE(v.find("<Piece NumberOfPoints=\"125\" NumberOfCells=\"64\">"), std::string::npos);
        // Points, connectivity, offsets, types, materials, the fields: each
        // array whole, of its type, with its values.
        const auto points = binaryArray<double>(v, "coordinates");
        ASSERT_EQ(points.size(), size_t(3 * kNodes));
        EXPECT_EQ(points[3 * 1], 3.0); // node 2 at x = 3 cm on a 5-node side of 12 cm
        const auto conn = binaryArray<int32_t>(v, "connectivity");
        ASSERT_EQ(conn.size(), size_t(8 * kCells));
        for (int32_t k : conn)
            EXPECT_TRUE(k >= 0 && k < kNodes) << k;
        const auto offsets = binaryArray<int32_t>(v, "offsets");
        ASSERT_EQ(offsets.size(), size_t(kCells));
        EXPECT_EQ(offsets.front(), 8);
        EXPECT_EQ(offsets.back(), 8 * kCells);
        EXPECT_EQ(binaryArray<uint8_t>(v, "types"), std::vector<uint8_t>(kCells, 12));
        const auto material = binaryArray<uint8_t>(v, "material"); // the points' first
        ASSERT_EQ(material.size(), size_t(kNodes));
        EXPECT_TRUE(std::all_of(material.begin(), material.end(),
                                [](uint8_t m) { return m == 1 || m == 2; }));
        EXPECT_EQ(binaryArray<float>(v, "velocity").size(), size_t(3 * kNodes));
        const auto T = binaryArray<float>(v, "T_K");
        ASSERT_EQ(T.size(), size_t(kNodes));
        EXPECT_TRUE(std::all_of(T.begin(), T.end(), [](float t) { return t >= 293 && t <= 973; }));
        // Every evaluated entry point, bit for bit the values of its CSV.
        for (const char *entry : kEntries) {
            auto values = binaryArray(v, std::string("func_") + entry);
            ASSERT_EQ(values.size(), size_t(kNodes)) << entry;
            auto rows = csv(entry);
            for (size_t i = 0; i < values.size(); ++i)
                EXPECT_EQ(values[i], std::stod(rows[size_t(step - 1) * kNodes + i + 1][8]))
                    << entry << " node " << i + 1;
        }
    }
}

TEST_F(OutputFolder, PvdListsEveryStepWithItsTime) {
    const std::string pvd = vtest::slurp(dir_ / "run.pvd");
    std::string why;
    EXPECT_TRUE(wellFormed(pvd, why)) << why;
    const std::regex entry(R"re(<DataSet timestep="([^"]*)" part="0" file="([^"]*)"/>)re");
    std::vector<std::pair<double, std::string>> got;
    for (auto it = std::sregex_iterator(pvd.begin(), pvd.end(), entry);
         it != std::sregex_iterator(); ++it)
        got.emplace_back(std::stod((*it)[1]), (*it)[2]);
    ASSERT_EQ(got.size(), size_t(kSteps)) << pvd;
    const vhost::Sample sample(kSide, kSteps);
    for (int step = 1; step <= kSteps; ++step) {
        char name[32];
        std::snprintf(name, sizeof name, "step_%04d.vtu", step);
        const double t = sample.time(step); // printed with six digits
        EXPECT_NEAR(got[size_t(step - 1)].first, t, 1e-5 * t);
        EXPECT_EQ(got[size_t(step - 1)].second, name);
        EXPECT_TRUE(fs::exists(dir_ / name)) << name;
    }
}

// ---- non-finite values and plots -----------------------------------------------------

// A NaN stays a NaN in the VTU file (binary doubles); nodes not evaluated
// (the mould, by default) are NaN there too and have no CSV row.
TEST(HostReport, NonFiniteValuesAreWrittenAsNaN) {
    const fs::path dir =
        fs::temp_directory_path() / ("vulmora-host-nonfinite-" + std::to_string(getpid()));
    fs::remove_all(dir);
    vtest::HostResult r = vtest::runHost(
        VULMORA_HOST_EXE, std::string("--library '") + HOSTLIB_FAULTY +
                              "' --nodes-per-side 4 --steps 1 --no-plots --functions density "
                              "--materials all --output '" +
                              dir.string() + "'");
    EXPECT_EQ(r.status, 1);
    const std::string v = vtest::slurp(dir / "step_0001.vtu");
    auto values = binaryArray(v, "func_density");
    ASSERT_EQ(values.size(), 64u);
    for (size_t i = 0; i < 64; ++i) {
        if (i == 4)
            EXPECT_TRUE(std::isnan(values[i]));
        else
            EXPECT_EQ(values[i], 2.4) << i + 1;
    }
    // The CSV keeps the value as it was.
    EXPECT_TRUE(std::regex_search(vtest::slurp(dir / "density.csv"), std::regex(",-?nan\n")));
    fs::remove_all(dir);
    // By default only the casting's nodes are evaluated.
    r = vtest::runHost(VULMORA_HOST_EXE, std::string("--library '") + HOSTLIB_KNOWN +
                                             "' --nodes-per-side 4 --steps 1 --no-plots "
                                             "--functions density --output '" +
                                             dir.string() + "'");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    vhost::Sample s(4, 1);
    values = binaryArray(vtest::slurp(dir / "step_0001.vtu"), "func_density");
    ASSERT_EQ(values.size(), 64u);
    size_t casting = 0;
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(std::isnan(values[size_t(i)]), !s.inCasting(i)) << i + 1;
        casting += s.inCasting(i);
    }
    EXPECT_GT(casting, 0u);
    const std::string rows = vtest::slurp(dir / "density.csv");
    EXPECT_EQ(size_t(std::count(rows.begin(), rows.end(), '\n')), casting + 1);
    fs::remove_all(dir);
}

TEST(HostReport, PlotsAreMadeWhenGnuplotIsThere) {
    if (std::system("command -v gnuplot >/dev/null 2>&1") != 0) GTEST_SKIP() << "no gnuplot";
    const fs::path dir =
        fs::temp_directory_path() / ("vulmora-host-plots-" + std::to_string(getpid()));
    fs::remove_all(dir);
    vtest::HostResult r =
        vtest::runHost(VULMORA_HOST_EXE, std::string("--library '") + HOSTLIB_KNOWN +
                                             "' --nodes-per-side 4 --steps 2 --functions "
                                             "density,yieldstress --output '" +
                                             dir.string() + "'");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("plots: "), std::string::npos) << r.out;
    for (const char *svg : {"density.svg", "yieldstress.svg"}) {
        const std::string text = vtest::slurp(dir / svg);
        EXPECT_NE(text.find("<svg"), std::string::npos) << svg;
        EXPECT_NE(text.find("against temperature"), std::string::npos) << svg;
        EXPECT_NE(text.find("temperature [K]"), std::string::npos) << svg;
        // Plain elements only: a point is a circle, not a <use> of one.
        EXPECT_EQ(text.find("<use"), std::string::npos) << svg;
        EXPECT_NE(text.find("<circle"), std::string::npos) << svg;
    }
    // The axis of the values names them with their unit.
    EXPECT_NE(vtest::slurp(dir / "yieldstress.svg").find("yieldstress [dyn/cm\xc2\xb2]"),
              std::string::npos);
    fs::remove_all(dir);
}

// Each <use> becomes a group with the <use>'s own attributes around a copy
// of what it refers to, chains of references followed; definitions that
// are <use>s go, as do references to nothing.
TEST(HostReport, SvgUsesBecomePlainElements) {
    const std::string defs = "<svg>\n<defs>\n"
                             "\t<circle id='dot' cx='0' cy='0' r='1'/>\n"
                             "\t<use xlink:href='#dot' id='filled' fill='currentColor'/>\n"
                             "\t<use xlink:href='#filled' id='turned' transform='rotate(9)'/>\n"
                             "</defs>\n";
    const struct {
        const char *body, *plain;
    } cases[] = {
        {"<use xlink:href='#dot' transform='translate(5,6)' color='red'/>",
         "<g transform='translate(5,6)' color='red'><circle cx='0' cy='0' r='1'/></g>"},
        {"<use xlink:href='#filled' transform='scale(2)'/>",
         "<g transform='scale(2)'><g fill='currentColor'><circle cx='0' cy='0' r='1'/></g></g>"},
        {"<use xlink:href='#turned' color='blue' />",
         "<g color='blue'><g transform='rotate(9)'><g fill='currentColor'>"
         "<circle cx='0' cy='0' r='1'/></g></g></g>"},
        {"<use xlink:href='#nothing'/><path d='M0,0'/>", "<path d='M0,0'/>"},
        {"<path d='M0,0'/>", "<path d='M0,0'/>"},
    };
    for (const auto &c : cases) {
        const std::string out = vhost::inlineUses(defs + c.body + "\n</svg>\n");
        EXPECT_EQ(out.find("<use"), std::string::npos) << c.body << "\n" << out;
        EXPECT_NE(out.find("</defs>\n" + std::string(c.plain) + "\n</svg>"), std::string::npos)
            << c.body << "\n"
            << out;
        EXPECT_NE(out.find("<circle id='dot' cx='0' cy='0' r='1'/>"), std::string::npos) << out;
    }
}

// Only the steps asked for are written, and the run says how much it wrote.
TEST(HostReport, WriteStepsChoosesTheStepsWritten) {
    const fs::path dir =
        fs::temp_directory_path() / ("vulmora-host-steps-" + std::to_string(getpid()));
    fs::remove_all(dir);
    vtest::HostResult r = vtest::runHost(
        VULMORA_HOST_EXE, std::string("--library '") + HOSTLIB_KNOWN +
                              "' --nodes-per-side 4 --steps 3 --write-steps 2 --no-plots "
                              "--functions density --output '" +
                              dir.string() + "'");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_FALSE(fs::exists(dir / "step_0001.vtu"));
    EXPECT_TRUE(fs::exists(dir / "step_0002.vtu"));
    EXPECT_FALSE(fs::exists(dir / "step_0003.vtu"));
    size_t rows = 0;
    for (const std::string &row : split(vtest::slurp(dir / "density.csv"), '\n')) {
        if (row.empty() || row[0] == 's') continue;
        EXPECT_EQ(row.substr(0, 2), "2,") << row;
        ++rows;
    }
    EXPECT_GT(rows, 0u);
    EXPECT_TRUE(std::regex_search(r.out, std::regex("results: .* \\(\\d+ files, [0-9.]+ MB; "
                                                    "CSV per entry point, run.pvd with 1 VTU")))
        << r.out;
    fs::remove_all(dir);
}

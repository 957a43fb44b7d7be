// replay_test.cpp - the pieces of a replay on their own: the result file
// the worker hands back, and the VTU writer's grids of any mesh.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "host/output/outdir.h"
#include "host/output/vtu.h"
#include "host/replay/call.h"
#include "hostlib/host_run.h"
#include "hostlib/vtu_arrays.h"

namespace fs = std::filesystem;

namespace {

fs::path scratchFile(const std::string &name) {
    return fs::temp_directory_path() / (name + "-" + std::to_string(getpid()));
}

// A result as the worker writes it, with look-ups and every-node values.
vhost::Replayed sampleResult() {
    vhost::Replayed r;
    r.kind = vhost::kReplayReturned;
    r.complete = 1;
    r.bits = vhost::toBits(-0.0);
    r.unrecorded = {{0, 2, 7, 0, std::nan("")}, {1, 0, -1, 0, std::nan("")}};
    r.values = {1.5, std::nan(""), -INFINITY};
    return r;
}

// Two registration calls mark the same when they mark the same porosity,
// constituents and auxiliary variables; any one of them differing differs.
TEST(ReplayMarks, TheSameMarksAreTheSameInEveryQuantity) {
    const vhost::Marks base{true, {0, 2}, {1}};
    const struct {
        const char *what;
        vhost::Marks other;
        bool same;
    } cases[] = {
        {"the same", {true, {0, 2}, {1}}, true},
        {"the porosity", {false, {0, 2}, {1}}, false},
        {"a constituent", {true, {0}, {1}}, false},
        {"an auxiliary variable", {true, {0, 2}, {0}}, false},
        {"no auxiliary variable", {true, {0, 2}, {}}, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(vhost::sameMarks(base, c.other), c.same) << c.what;
}

// Written and read back whole; cut anywhere, it is refused rather than
// read as a shorter result; a count past the limits is refused too.
TEST(ReplayResult, ReadBackWholeOrRefused) {
    const fs::path path = scratchFile("replay_result");
    const vhost::Replayed w = sampleResult();
    {
        FILE *f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        vhost::writeResultFile(f, w);
        std::fclose(f);
    }
    const std::string whole = vtest::slurp(path);
    const size_t header = 8 + 4 + 4 + 8;
    const struct {
        const char *what;
        std::string bytes;
        bool ok;
    } cases[] = {
        {"whole", whole, true},
        {"no file", "", false},
        {"magic only", whole.substr(0, 8), false},
        {"no count of look-ups", whole.substr(0, header), false},
        {"a look-up cut", whole.substr(0, header + 4 + 30), false},
        {"no count of values", whole.substr(0, header + 4 + 48), false},
        {"last value cut", whole.substr(0, whole.size() - 1), false},
        {"bad magic", "X" + whole.substr(1), false},
        {"too many look-ups",
         whole.substr(0, header) + std::string("\xff\xff\xff\x7f", 4) + whole.substr(header + 4),
         false},
    };
    for (const auto &c : cases) {
        fs::remove(path);
        if (!c.bytes.empty()) std::ofstream(path, std::ios::binary) << c.bytes;
        vhost::Replayed r;
        ASSERT_EQ(vhost::readResultFile(path.string(), r), c.ok) << c.what;
        if (!c.ok) continue;
        EXPECT_EQ(r.kind, w.kind);
        EXPECT_EQ(r.complete, 1);
        EXPECT_EQ(r.bits, w.bits);
        ASSERT_EQ(r.unrecorded.size(), 2u);
        EXPECT_EQ(r.unrecorded[1].node, -1);
        ASSERT_EQ(r.values.size(), 3u);
        EXPECT_EQ(r.values[0], 1.5);
        EXPECT_TRUE(std::isnan(r.values[1]));
        EXPECT_EQ(r.values[2], -INFINITY);
    }
    fs::remove(path);
}

// A rewrite from the start (as after the call, then at the end) leaves the
// last result, not a mixture of the two.
TEST(ReplayResult, RewriteReplacesTheEarlierResult) {
    const fs::path path = scratchFile("replay_rewrite");
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    vhost::Replayed r = sampleResult();
    r.values.clear();
    vhost::writeResultFile(f, r);
    r.values = {1, 2, 3, 4};
    r.unrecorded.clear();
    vhost::writeResultFile(f, r);
    std::fclose(f);
    vhost::Replayed back;
    ASSERT_TRUE(vhost::readResultFile(path.string(), back));
    EXPECT_TRUE(back.unrecorded.empty());
    EXPECT_EQ(back.values, (std::vector<double>{1, 2, 3, 4}));
    fs::remove(path);
}

// The writer's grid of any mesh: the parts in order and closed, offsets
// and types that follow from the cells, every value with all its bits.
TEST(VtuGrid, AnyMeshInParts) {
    const struct {
        const char *what;
        size_t points, cells;
        int perCell;
        uint8_t type;
        bool cellData;
    } cases[] = {
        {"vertices", 5, 5, 1, 1, false},
        {"hexahedra", 12, 2, 8, 12, true},
        {"empty", 0, 0, 1, 1, false},
    };
    const fs::path path = scratchFile("vtu_grid");
    for (const auto &c : cases) {
        std::string error;
        {
            vhost::CheckedFile f(path.string());
            vhost::VtuWriter w(f);
            w.begin(c.points, c.cells);
            w.open("PointData", "v");
            w.array<double>("Float64", "v", c.points, 1, [](size_t i) { return 0.1 * double(i); });
            if (c.cellData) {
                w.open("CellData", "m");
                w.array<int32_t>("Int32", "m", c.cells, 1, [](size_t e) { return int(e) + 1; });
            }
            w.mesh(
                c.points, c.cells, c.perCell, c.type, [](size_t k) { return double(k); },
                [&](size_t k) { return static_cast<int>(k % c.points); });
            ASSERT_TRUE(f.close(error)) << error;
        }
        const std::string vtu = vtest::slurp(path);
        char piece[96];
        std::snprintf(piece, sizeof piece, "<Piece NumberOfPoints=\"%zu\" NumberOfCells=\"%zu\">",
                      c.points, c.cells);
        EXPECT_NE(vtu.find(piece), std::string::npos) << c.what;
        // Each part opened once and closed before the next opens.
        const size_t pd = vtu.find("<PointData Scalars=\"v\">"), pdEnd = vtu.find("</PointData>");
        const size_t pts = vtu.find("<Points>");
        EXPECT_TRUE(pd < pdEnd && pdEnd < pts) << c.what;
        EXPECT_EQ(vtu.find("<CellData") != std::string::npos, c.cellData) << c.what;
        if (c.cellData) {
            EXPECT_LT(vtu.find("</CellData>"), pts) << c.what;
        }
        const std::string end = "</Cells>\n</Piece>\n</UnstructuredGrid>\n</VTKFile>\n";
        ASSERT_GT(vtu.size(), end.size());
        EXPECT_EQ(vtu.substr(vtu.size() - end.size()), end) << c.what;
        std::vector<double> v, xyz;
        for (size_t i = 0; i < c.points; ++i)
            v.push_back(0.1 * double(i));
        for (size_t k = 0; k < 3 * c.points; ++k)
            xyz.push_back(double(k));
        std::vector<int32_t> offsets;
        for (size_t e = 1; e <= c.cells; ++e)
            offsets.push_back(static_cast<int32_t>(e) * c.perCell);
        if (c.points) { // an empty array reads back as nothing either way
            EXPECT_EQ(vtest::binaryArray<double>(vtu, "v"), v) << c.what;
            EXPECT_EQ(vtest::binaryArray<double>(vtu, "coordinates"), xyz) << c.what;
            EXPECT_EQ(vtest::binaryArray<int32_t>(vtu, "offsets"), offsets) << c.what;
            EXPECT_EQ(vtest::binaryArray<uint8_t>(vtu, "types"),
                      std::vector<uint8_t>(c.cells, c.type))
                << c.what;
            EXPECT_EQ(vtest::binaryArray<int32_t>(vtu, "connectivity").size(),
                      c.cells * size_t(c.perCell))
                << c.what;
        }
    }
    fs::remove(path);
}

} // namespace

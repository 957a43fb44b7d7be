// protocol_test.cpp - the result file between a worker and the parent:
// the values of the selected nodes laid out at their nodes, and every field
// the parent checks refused when it is out of its range.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "model/sample.h"
#include "platform/files.h"
#include "protocol/protocol.h"

namespace fs = std::filesystem;

namespace {

// A folder of this test alone, removed when it goes.
struct TempDir {
    fs::path path;
    explicit TempDir(const std::string &name) {
        std::string t =
            (fs::temp_directory_path() / ("vulmora-protocol-" + name + "-XXXXXX")).string();
        path = mkdtemp(t.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

} // namespace

// A worker writes the values of the selected nodes only; they come back
// at their nodes, NaN elsewhere, step by step and copy by copy.
TEST(Protocol, ValuesOfTheSelectedNodesComeBackAtTheirNodes) {
    TempDir dir("compact");
    for (auto kind : {vhost::WorkerKind::Entry, vhost::WorkerKind::Order}) {
        const vhost::ResultShape shape = vhost::ResultShape::values(kind, 1, 4, 3, 1);
        const int64_t casting = 8; // the 2 x 2 x 2 inner nodes of a 4-node side
        ASSERT_EQ(shape.selectedCount(), casting);
        const std::vector<uint8_t> selection = shape.selection();
        const vhost::Sample sample(4, 1);
        for (size_t i = 0; i < 64; ++i)
            ASSERT_EQ(selection[i], sample.inCasting(int(i))) << i;
        const int64_t blocks = kind == vhost::WorkerKind::Order ? 6 : 3;
        ASSERT_EQ(shape.count, casting * blocks);
        std::string error;
        const std::string path = (dir.path / std::to_string(int(kind))).string();
        auto f = vhost::platform::createExclusive(path, shape.bytes(), error);
        ASSERT_NE(f, -1) << error;
        vhost::ResultHeader h = vhost::initialHeader(shape);
        h.state = static_cast<int32_t>(vhost::WorkerState::Complete);
        ASSERT_EQ(pwrite(static_cast<int>(f), &h, sizeof h, 0), ssize_t(sizeof h));
        std::vector<double> compact(size_t(shape.count));
        for (size_t k = 0; k < compact.size(); ++k)
            compact[k] = double(k);
        ASSERT_EQ(pwrite(static_cast<int>(f), compact.data(), compact.size() * 8,
                         vhost::kResultHeaderSize),
                  ssize_t(compact.size() * 8));
        vhost::WorkerResult r;
        ASSERT_TRUE(vhost::readResult(f, shape, r, error)) << error;
        ASSERT_EQ(r.values.size(), size_t(64 * blocks));
        size_t next = 0;
        for (size_t b = 0; b < size_t(blocks); ++b)
            for (size_t i = 0; i < 64; ++i) {
                const double v = r.values[b * 64 + i];
                if (sample.inCasting(int(i)))
                    EXPECT_EQ(v, double(next++)) << b << " " << i;
                else
                    EXPECT_TRUE(std::isnan(v)) << b << " " << i;
            }
        vhost::platform::closeFile(f);
    }
}

TEST(Protocol, EveryFieldTheParentChecksIsRefusedWhenBad) {
    TempDir dir("result");
    // 2 x 2 x 2 nodes, both materials, 2 steps: 16 values.
    const vhost::ResultShape shape =
        vhost::ResultShape::values(vhost::WorkerKind::Entry, 1, 2, 2, 3);
    ASSERT_EQ(shape.count, 16);
    using H = vhost::ResultHeader;
    // Each spoiled field, with the reason the refusal gives.
    struct Case {
        const char *what;
        void (*spoil)(H &);
        int64_t sizeChange;
        const char *reason;
    } cases[] = {
        {"as written", [](H &) {}, 0, ""},
        {"magic", [](H &h) { h.magic[0] = 'X'; }, 0, "magic"},
        {"kind", [](H &h) { h.kind = int32_t(vhost::WorkerKind::Order); }, 0, "sizes"},
        {"entry index", [](H &h) { h.entryIndex = 2; }, 0, "sizes"},
        {"node count", [](H &h) { h.nnod = 9; }, 0, "sizes"},
        {"steps", [](H &h) { h.steps = 3; }, 0, "sizes"},
        {"value count", [](H &h) { h.count = 1 << 30; }, 0, "sizes"},
        {"state", [](H &h) { h.state = 9; }, 0, "state"},
        {"state below", [](H &h) { h.state = -1; }, 0, "state"},
        {"phase", [](H &h) { h.pos.phase = -1; }, 0, "phase"},
        {"phase beyond", [](H &h) { h.pos.phase = int32_t(vhost::Phase::Unload) + 1; }, 0, "phase"},
        {"node", [](H &h) { h.pos.node = 9; }, 0, "position"},
        {"node below", [](H &h) { h.pos.node = -1; }, 0, "position"},
        {"step", [](H &h) { h.pos.step = 3; }, 0, "position"},
        {"step below", [](H &h) { h.pos.step = -1; }, 0, "position"},
        {"calls", [](H &h) { h.pos.calls = -1; }, 0, "counters"},
        {"seconds", [](H &h) { h.seconds = std::numeric_limits<double>::quiet_NaN(); }, 0,
         "counters"},
        {"seconds below", [](H &h) { h.seconds = -1; }, 0, "counters"},
        {"processor seconds", [](H &h) { h.cpuSeconds = std::numeric_limits<double>::infinity(); },
         0, "counters"},
        {"processor seconds below", [](H &h) { h.cpuSeconds = -1; }, 0, "counters"},
        {"array", [](H &h) { h.modifiedArray = 1000; }, 0, "modified array"},
        {"array below", [](H &h) { h.modifiedArray = -2; }, 0, "modified array"},
        {"array entry", [](H &h) { h.modifiedEntry = -1; }, 0, "modified array"},
        {"step's processor time", [](H &h) { h.stepCpuStart = -1; }, 0, "counters"},
        {"step's processor time NaN",
         [](H &h) { h.stepCpuStart = std::numeric_limits<double>::quiet_NaN(); }, 0, "counters"},
        {"filling time", [](H &h) { h.fillCpuSeconds = -1; }, 0, "counters"},
        {"filling time infinite",
         [](H &h) { h.fillCpuSeconds = std::numeric_limits<double>::infinity(); }, 0, "counters"},
        {"steps written", [](H &h) { h.stepsWritten = 3; }, 0, "position"},
        {"steps written below", [](H &h) { h.stepsWritten = -1; }, 0, "position"},
        {"fork step", [](H &h) { h.forkedStep = 99; }, 0, "fork position"},
        {"fork step below", [](H &h) { h.forkedStep = -1; }, 0, "fork position"},
        {"fork node", [](H &h) { h.forkedNode = 9; }, 0, "fork position"},
        {"fork node below", [](H &h) { h.forkedNode = -1; }, 0, "fork position"},
        {"exports", [](H &h) { h.exported[3] = vhost::kExportedPlaceholder + 1; }, 0, "exports"},
        {"truncated", [](H &) {}, -8, "its size"},
        {"longer", [](H &) {}, 8, "its size"},
    };
    int k = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = (dir.path / std::to_string(k++)).string();
        std::string error;
        auto f = vhost::platform::createExclusive(
            path, uint64_t(int64_t(shape.bytes()) + c.sizeChange), error);
        ASSERT_NE(f, -1) << error;
        H h = vhost::initialHeader(shape);
        h.state = static_cast<int32_t>(vhost::WorkerState::Complete);
        c.spoil(h);
        ASSERT_EQ(pwrite(static_cast<int>(f), &h, sizeof h, 0), ssize_t(sizeof h));
        vhost::WorkerResult r;
        const bool ok = vhost::readResult(f, shape, r, error);
        EXPECT_EQ(ok, *c.reason == 0) << error;
        if (*c.reason) {
            EXPECT_EQ(
                error.rfind(std::string("the worker's result file is invalid (") + c.reason, 0), 0u)
                << error;
        }
        if (ok) {
            EXPECT_EQ(r.values.size(), 16u);
        }
        vhost::platform::closeFile(f);
    }
}

// protocol.cpp - checking what a worker wrote before anything of it is used.
#include "protocol/protocol.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "model/entries.h"
#include "model/guard.h"
#include "model/sample.h"
#include "platform/files.h"

namespace vhost {

ResultHeader initialHeader(const ResultShape &shape) {
    ResultHeader h{};
    std::memcpy(h.magic, kResultMagic, sizeof h.magic);
    h.kind = static_cast<int32_t>(shape.kind);
    h.entryIndex = shape.entryIndex;
    h.nnod = shape.nnod;
    h.steps = shape.steps;
    h.count = shape.count;
    h.modifiedArray = -1;
    return h;
}

ResultShape ResultShape::values(WorkerKind kind, int32_t entryIndex, int side, int steps,
                                int materials, int64_t points) {
    ResultShape shape;
    shape.points = points;
    shape.kind = kind;
    shape.entryIndex = entryIndex;
    shape.side = side;
    shape.materials = materials;
    shape.nnod = int64_t(side) * side * side;
    shape.steps = steps;
    shape.count = shape.selectedCount() * steps * (kind == WorkerKind::Order ? 2 : 1);
    return shape;
}

std::vector<uint8_t> ResultShape::selection() const {
    return selectNodes(side, materials, points, nnod);
}

int64_t ResultShape::selectedCount() const {
    return countSelected(side, materials, points, nnod);
}

vulmora_probe initialProbe() {
    vulmora_probe p{};
    std::memcpy(p.magic, VULMORA_PROBE_MAGIC, sizeof p.magic);
    return p;
}

// The parent's fields as it wrote them, the worker's within their ranges.
bool checkHeader(const ResultHeader &h, const ResultShape &shape, std::string &error) {
    auto bad = [&](const char *what) {
        error = std::string("the worker's result file is invalid (") + what + ")";
        return false;
    };
    if (std::memcmp(h.magic, kResultMagic, sizeof h.magic) != 0) return bad("magic");
    if (h.kind != static_cast<int32_t>(shape.kind) || h.entryIndex != shape.entryIndex ||
        h.nnod != shape.nnod || h.steps != shape.steps || h.count != shape.count)
        return bad("sizes differ from the run's");
    if (h.state < 0 || h.state > static_cast<int32_t>(WorkerState::Interfered)) return bad("state");
    if (h.pos.phase < 0 || h.pos.phase > static_cast<int32_t>(Phase::Unload)) return bad("phase");
    if (h.pos.step < 0 || h.pos.step > shape.steps || h.pos.node < 0 || h.pos.node > shape.nnod ||
        h.stepsWritten < 0 || h.stepsWritten > shape.steps)
        return bad("position");
    if (h.pos.calls < 0 || !std::isfinite(h.seconds) || h.seconds < 0 ||
        !std::isfinite(h.cpuSeconds) || h.cpuSeconds < 0 || !std::isfinite(h.stepCpuStart) ||
        h.stepCpuStart < 0 || !std::isfinite(h.fillCpuSeconds) || h.fillCpuSeconds < 0)
        return bad("counters");
    if (h.forkedStep < 0 || h.forkedStep > shape.steps || h.forkedNode < 0 ||
        h.forkedNode > shape.nnod)
        return bad("fork position");
    if (h.modifiedArray < -1 || h.modifiedArray >= static_cast<int32_t>(kNumGuarded) ||
        h.modifiedEntry < 0)
        return bad("modified array");
    return true;
}

namespace {
// A NUL-terminated copy of a fixed text field.
template <size_t N> std::string text(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}
} // namespace

ValuePieces filePieces(intptr_t f, const ResultShape &shape) {
    return [f, count = static_cast<uint64_t>(shape.count)](const ValuePiece &piece) {
        constexpr size_t kChunk = size_t(1) << 15; // doubles: a buffer that stays in cache
        std::unique_ptr<double[]> chunk(new double[kChunk]);
        uint64_t offset = kResultHeaderSize, left = count;
        while (left > 0) {
            const size_t have = static_cast<size_t>(std::min<uint64_t>(kChunk, left));
            if (!platform::readAt(f, chunk.get(), have * sizeof(double), offset)) return false;
            piece(chunk.get(), have);
            offset += have * sizeof(double), left -= have;
        }
        return true;
    };
}

ValuePieces memoryPieces(const double *values, size_t count) {
    return [values, count](const ValuePiece &piece) {
        if (count) piece(values, count);
        return true;
    };
}

// The selected nodes' values put in their places, a run of selected nodes
// at a time, NaN at the others.
bool expandValues(const ValuePieces &from, const ResultShape &shape,
                  UninitializedVector<double> &values) {
    const size_t nnod = static_cast<size_t>(shape.nnod);
    const size_t blocks =
        static_cast<size_t>(shape.steps) * (shape.kind == WorkerKind::Order ? 2 : 1);
    values.resize(blocks * nnod); // pages not yet touched: what follows fills them
    const std::vector<uint8_t> selected = shape.selection();
    std::vector<std::pair<size_t, size_t>> runs; // the selected nodes, [first, end)
    for (size_t i = 0, end; i < nnod; i = end) {
        end = size_t(std::find(selected.begin() + std::ptrdiff_t(i), selected.end(), !selected[i]) -
                     selected.begin());
        if (selected[i]) {
            runs.emplace_back(i, end);
            continue;
        }
        for (size_t b = 0; b < blocks; ++b)
            std::fill(values.data() + b * nnod + i, values.data() + b * nnod + end,
                      std::numeric_limits<double>::quiet_NaN());
    }
    if (runs.empty()) return shape.count == 0;
    size_t block = 0, run = 0, at = runs[0].first;
    int64_t placed = 0;
    const bool whole = from([&](const double *v, size_t count) {
        while (count > 0 && block < blocks) {
            const size_t take = std::min(count, runs[run].second - at);
            std::copy_n(v, take, values.data() + block * nnod + at);
            v += take, count -= take, at += take, placed += int64_t(take);
            if (at == runs[run].second) {
                if (++run == runs.size()) run = 0, ++block;
                at = runs[run].first;
            }
        }
    });
    return whole && placed == shape.count;
}

bool hasValues(const ResultShape &shape, const WorkerResult &r) {
    return (shape.kind == WorkerKind::Entry || shape.kind == WorkerKind::Order) &&
           r.state == WorkerState::Complete;
}

bool readResult(intptr_t f, const ResultShape &shape, WorkerResult &r, std::string &error,
                bool withValues) {
    if (platform::fileSize(f) != shape.bytes()) {
        error = "the worker's result file is invalid (its size is not the run's)";
        return false;
    }
    ResultHeader h;
    if (!platform::readAt(f, &h, sizeof h, 0)) {
        error = "the worker's result file cannot be read";
        return false;
    }
    if (!checkHeader(h, shape, error)) return false;
    r.state = static_cast<WorkerState>(h.state);
    r.phase = static_cast<Phase>(h.pos.phase);
    r.step = h.pos.step, r.node = h.pos.node;
    r.calls = h.pos.calls, r.seconds = h.seconds, r.cpuSeconds = h.cpuSeconds;
    r.stepCpuStart = h.stepCpuStart;
    r.fillCpuSeconds = h.fillCpuSeconds;
    r.peakBytes = h.peakBytes;
    r.modifiedArray = h.modifiedArray, r.modifiedEntry = h.modifiedEntry;
    r.modifiedUnguarded = h.modifiedUnguarded != 0;
    r.crashHookRan = h.crashHookRan != 0;
    r.exitState = h.exitState <= kExitForeignHandler ? h.exitState : kExitNotSeen;
    r.forkedStep = h.forkedStep, r.forkedNode = h.forkedNode;
    r.exported.assign(std::size(kEntryPoints), 0);
    for (size_t k = 0; k < r.exported.size(); ++k) {
        if (h.exported[k] > kExportedPlaceholder) {
            error = "the worker's result file is invalid (exports)";
            return false;
        }
        r.exported[k] = h.exported[k];
    }
    r.exportsExternal = h.exportsExternal != 0;
    r.coordinatesRead = h.coordinatesRead;
    r.contained = h.contained != 0;
    r.containNote = text(h.containNote);
    r.mechName = text(h.mechName);
    r.mechUnit = text(h.mechUnit);
    r.message = text(h.message);
    vulmora_probe probe;
    if (!platform::readAt(f, &probe, sizeof probe, VULMORA_PROBE_OFFSET)) {
        error = "the worker's result file cannot be read";
        return false;
    }
    for (int k = 0; k < VULMORA_PROBE_EVENTS; ++k)
        r.silent[k] = probe.counts[k];
    r.firstUnmarked = r.silent[VULMORA_PROBE_UNMARKED] ? probe.first_unmarked : 0;
    if (r.silent[VULMORA_PROBE_OUT_OF_RANGE]) {
        r.outOfRangeAccessor = text(probe.out_of_range_accessor);
        r.outOfRangeNumber = probe.out_of_range_number;
        r.outOfRangeNode = probe.out_of_range_node;
        r.outOfRangeStep = probe.out_of_range_step;
    }
    r.values.clear();
    if (withValues && hasValues(shape, r) && !expandValues(filePieces(f, shape), shape, r.values)) {
        error = "the worker's values cannot be read";
        return false;
    }
    return true;
}

// "<device>:<inode>:<size>:<modified>", as the worker reads it back.
std::string libraryFileValue(const platform::FileIdentity &id) {
    return std::to_string(id.device) + ":" + std::to_string(id.inode) + ":" +
           std::to_string(id.size) + ":" + std::to_string(id.modified);
}

bool parseLibraryFile(const char *value, platform::FileIdentity &id) {
    unsigned long long device = 0, inode = 0, size = 0;
    long long modified = 0;
    int used = 0;
    if (!value ||
        std::sscanf(value, "%llu:%llu:%llu:%lld%n", &device, &inode, &size, &modified, &used) !=
            4 ||
        value[used] != 0)
        return false;
    id = platform::FileIdentity{device, inode, size, modified, 0};
    return true;
}

} // namespace vhost

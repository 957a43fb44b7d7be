// protocol.h - the file a worker shares with the parent.
//
// The parent creates it, exclusively, in its private scratch folder, sized
// for the run, and writes the header's first part; the worker maps it and
// writes where it is (phase, step, node, calls so far) before every call
// and its results into the values that follow the header. Since the
// position is in the file all along, the parent knows where a worker was
// however it ended: killed for taking too long, crashed on an overflowed
// stack, or ended by user code. The parent reads the file through its own
// handle and checks every field against the run before it uses any.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "accessors/vulmora_probe.h"
#include "model/caller.h"
#include "platform/page_vector.h"
#include "platform/files.h"

namespace vhost {

// How far the worker got.
enum class WorkerState : int32_t {
    Running = 0,     // not finished (if the process ended, it ended early)
    Complete = 1,    // every call made, every value written
    LoadFailed = 2,  // the library could not be loaded (message says why)
    SetupFailed = 3, // the emulator's own failure (message says why)
    Interfered = 4   // user code took what the worker needs: a limit, its result file
};

// What a worker is asked to do.
enum class WorkerKind : int32_t {
    Survey = 0,   // load the library, list what it exports
    Entry = 1,    // evaluate one entry point over every step
    External = 2, // call func_externalcompute at every step
    Order = 3,    // evaluate one entry point in a shuffled order, every call twice
};

constexpr size_t kMaxEntryPoints = 64;

// What the survey found of each entry point (ResultHeader::exported).
constexpr uint8_t kNotExported = 0;
constexpr uint8_t kExported = 1;
constexpr uint8_t kExportedPlaceholder = 2; // its first call stopped with the template's line
constexpr size_t kResultHeaderSize = 4096;  // values start here, page aligned
// How a worker went through exit() (ResultHeader::exitState).
constexpr uint8_t kExitNotSeen = 0;        // _exit, a signal, or still running
constexpr uint8_t kExitOwnHandler = 1;     // exit(), the worker's fault handler in place
constexpr uint8_t kExitForeignHandler = 2; // exit(), user code's fault handler in its place
// Which coordinates an entry point's calls read (ResultHeader::coordinatesRead):
// bit 0 x_cord, bit 1 y_cord, bit 2 z_cord, told only with kCoordinatesKnown
// (the arrays filled when first read, by none of the calls before).
constexpr uint8_t kCoordinatesKnown = 0x80;

struct ResultHeader {
    // Written by the parent; the worker must leave them as they are.
    char magic[8];
    int32_t kind;
    int32_t entryIndex;         // index into kEntryPoints (Entry), else -1
    int64_t nnod, steps, count; // count = doubles after the header
    // Written by the worker.
    volatile int32_t state;
    CallPosition pos;                  // where the worker is (the caller writes it)
    double seconds;                    // time spent inside user calls
    double cpuSeconds;                 // the same in the worker's processor time
    double stepCpuStart;               // the worker's processor time when this step's calls began
    double fillCpuSeconds;             // processor time making steps current, filling arrays
    int32_t modifiedArray;             // -1, or the index of the host array written to
    int32_t forkedStep;                // 0, or the step at which user code forked the worker
    int64_t modifiedEntry;             // the entry of that array
    uint8_t exported[kMaxEntryPoints]; // Survey: kNotExported, kExported, ...
    uint8_t exportsExternal;           // Survey: func_externalcompute exported
    uint8_t modifiedUnguarded;         // the array was made writable again, then written
    uint8_t crashHookRan;              // the worker's crash hook ran (its handler was in place)
    uint8_t exitState;                 // kExit...: how the worker went through exit()
    uint8_t coordinatesRead;           // kCoordinatesKnown | the coordinates the calls read
    int32_t forkedNode;                // and the node
    volatile int32_t stepsWritten;     // Entry: steps whose values are in the file, in order
    uint8_t contained;                 // in a container the system ends whole (containWorker)
    char containNote[160];             // ... or why not
    char mechName[101], mechUnit[21];
    char message[512];
    uint64_t peakBytes; // the worker's own peak resident memory when it completed (0: unknown)
};
// The library's counters (vulmora_probe.h) follow the header in its page.
static_assert(sizeof(ResultHeader) <= VULMORA_PROBE_OFFSET, "the header leaves the counters room");
static_assert(VULMORA_PROBE_OFFSET + sizeof(vulmora_probe) <= kResultHeaderSize);

constexpr char kResultMagic[8] = {'V', 'M', 'H', 'R', 'E', 'S', '1', '0'};

// The answers the accessors give silently wrong, in words, per counter.
inline constexpr const char *kSilentAnswers[VULMORA_PROBE_EVENTS] = {
    "accessor calls with a node or element number out of range (they returned 0)",
    "nodNum calls that found no node (they returned 0)",
    "reads of fields the host did not set (they returned 0)",
    "local-mode reads of quantities the registration call did not mark (they returned NaN)",
};

// The library file a run started with, handed to its workers in the
// environment: each checks that it loads that same file.
constexpr const char *kLibraryFileEnv = "VULMORA_HOST_LIBRARY_FILE";
std::string libraryFileValue(const platform::FileIdentity &id);
bool parseLibraryFile(const char *value, platform::FileIdentity &id);
// Why a worker or the run stops when the library file is another.
constexpr const char *kLibraryChanged =
    "the library file changed after the run started (rebuilt meanwhile?), so the run would mix "
    "two versions of it: run again";

// What the parent expects of one worker's file. An entry point's values
// are those of the selected nodes only (`materials`, as --materials), in
// node order, step by step; the order check's second calls follow them.
struct ResultShape {
    WorkerKind kind = WorkerKind::Entry;
    int32_t entryIndex = -1;
    int32_t side = 0, materials = 1;        // the sample's nodes per side; the selection
    int64_t nnod = 0, steps = 0, count = 0; // count = doubles after the header
    int64_t points = 0;                     // a path's points: its first nodes (0: none)
    uint64_t bytes() const {
        return kResultHeaderSize + static_cast<uint64_t>(count) * sizeof(double);
    }
    // The shape of entry point `entryIndex`'s values (twice those for the
    // order check) on a sample of `side` nodes per side (holding a path of
    // `points` when not 0).
    static ResultShape values(WorkerKind kind, int32_t entryIndex, int side, int steps,
                              int materials, int64_t points = 0);
    // Per node 1 when it is selected, else 0; how many are.
    std::vector<uint8_t> selection() const;
    int64_t selectedCount() const;
};

// The header the parent writes first.
ResultHeader initialHeader(const ResultShape &shape);
// The counters' part of the page, with its magic, written with it.
vulmora_probe initialProbe();

// A worker's result, checked.
struct WorkerResult {
    WorkerState state = WorkerState::Running;
    Phase phase = Phase::Setup;
    int32_t step = 0, node = 0;
    int64_t calls = 0;
    double seconds = 0, cpuSeconds = 0, fillCpuSeconds = 0;
    double stepCpuStart = 0; // the worker's processor time when its last step's calls began
    int32_t modifiedArray = -1;
    int64_t modifiedEntry = 0;
    bool modifiedUnguarded = false;         // found after the step: the array was made writable
    bool crashHookRan = false;              // a crash reached the worker's own handler
    uint8_t exitState = 0;                  // kExit...
    int32_t forkedStep = 0, forkedNode = 0; // where user code forked the worker (0: never)
    uint64_t peakBytes = 0;                 // its own peak memory, as it said (0: unknown)
    std::vector<uint8_t> exported;          // kNotExported, kExported or kExportedPlaceholder
    bool exportsExternal = false;
    uint8_t coordinatesRead = 0; // kCoordinatesKnown | bits of x_cord, y_cord, z_cord read
    bool contained = false;      // in a container the system ends whole
    std::string containNote;     // ... or why not
    std::string mechName, mechUnit, message;
    // What the accessors answered silently wrong (VULMORA_PROBE_...).
    uint64_t silent[VULMORA_PROBE_EVENTS] = {};
    uint64_t firstUnmarked = 0; // the tagged NaN of the first unmarked local read
    // The first accessor call with a number out of range: the accessor
    // ("": not known, a library built before it was kept), the number
    // given, the node being evaluated and the step.
    std::string outOfRangeAccessor;
    int32_t outOfRangeNumber = 0, outOfRangeNode = 0, outOfRangeStep = 0;
    // steps x nnod, step-major (Entry, when complete); Order: the shuffled
    // run's values, then the repeated calls'. In pages of their own: read
    // once from the worker's file, never zero-filled first.
    UninitializedVector<double> values;
};

// Check `h` against `shape` field by field; false with the reason.
bool checkHeader(const ResultHeader &h, const ResultShape &shape, std::string &error);

// Read and check the header and, for a complete entry point, the values
// from the open file `f` (unless `withValues` is false: expandValues reads
// them later); false with the reason (the worker's fault).
bool readResult(intptr_t f, const ResultShape &shape, WorkerResult &r, std::string &error,
                bool withValues = true);
// Whether the file of a worker that ended as `r` says holds values.
bool hasValues(const ResultShape &shape, const WorkerResult &r);
// A worker's values as its file keeps them: the selected nodes' values a
// step after another (the repeated calls' after them for Order), given to
// the callback a piece at a time, in order; false when they cannot all be
// given.
using ValuePiece = std::function<void(const double *values, size_t count)>;
using ValuePieces = std::function<bool(const ValuePiece &)>;
// From the open file `f`, checked by readResult (a chunk at a time, in a
// buffer of its own), or from `count` values in memory.
ValuePieces filePieces(intptr_t f, const ResultShape &shape);
ValuePieces memoryPieces(const double *values, size_t count);
// The values of `from` laid out as WorkerResult::values; false when they
// are not all there.
bool expandValues(const ValuePieces &from, const ResultShape &shape,
                  UninitializedVector<double> &values);

} // namespace vhost

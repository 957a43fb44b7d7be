// worker.h - the worker's side of a run.
//
// A worker is this program started by the parent with --worker NAME
// --result FILE: it opens the result file the parent made (and checks it),
// loads the library, and either surveys it (NAME "survey": which entry
// points it exports, which are placeholders) or evaluates one entry point
// (or func_externalcompute) over every step of the same sample the parent
// described, writing its position before every call and its values after
// every step. protocol/protocol.h is the file they share.
#pragma once

#include <cstdint>
#include <vector>

#include <string>

#include "model/caller.h"
#include "model/sample_config.h"
#include "protocol/protocol.h"

namespace vhost {

struct Path;

// What a worker is given: the sample the parent described, what to
// evaluate and where its result file is.
struct WorkerSettings {
    SampleConfig sample;
    std::string name;                      // "survey", "externalcompute" or an entry point
    std::string resultFile;                // made by the parent
    int orderSeed = 0;                     // the order check's shuffle (0: node order)
    int renumberSeed = 0;                  // the numbering check's other numbering (0: the grid's)
    Rounding rounding = Rounding::Nearest; // the rounding check's mode of the calls
};

// The hidden --worker mode. Returns the exit status: 0 when complete, 3
// when the worker's own setup failed (the reason is in the result file).
int runWorker(const WorkerSettings &w);

// What the result file of worker `w` holds.
ResultShape workerShape(const WorkerSettings &w);

// One call of each named entry point at one node, in this process.
struct NodeCallSettings {
    SampleConfig sample;
    std::vector<std::string> functions; // entry points, without func_
    int node = 0, step = 0;             // 1-based
};

// --node/--step: print what the accessors read at the node, then call each
// entry point there, in this process. Returns the exit status. With
// `path`, the node is the path's point (on the grid holding it).
int runNodeCall(const NodeCallSettings &c, const Path *path = nullptr);

// The order in which a checking worker visits the nodes of `step`: the
// 1-based nodes 1..nnod shuffled by `seed` and the step.
std::vector<int> shuffledNodes(int nnod, int step, uint32_t seed);

} // namespace vhost

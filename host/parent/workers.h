// workers.h - the workers of a run and the seam that runs them.
//
// A worker is this program started again with --worker NAME --result FILE
// and the arguments that rebuild the same sample (its SampleConfig, as the
// option table gives it). The run makes each worker's result file in its
// scratch folder, hands the command lines to a WorkerRunner, and keeps how
// each worker ended. The runner is the only
// place processes are started: ProcessRunner starts them through the
// platform layer; the tests' runner writes result files as a worker
// would, so the run's orchestration is tested without processes.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/sample_config.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "parent/progress.h"
#include "protocol/protocol.h"

namespace vhost {

// One worker as the parent sees it: its command, its result file (made by
// the run) and what it ended as.
struct WorkerJob {
    std::string name;               // entry point, "externalcompute" or "survey"
    std::string tag;                // added to the result file's name: a check's worker
    SampleConfig config;            // the sample it builds
    std::vector<std::string> extra; // arguments besides the sample's (--order-seed N)
    ResultShape shape;
    std::string path;
    platform::FileHandle file = -1;
    // The time limit: the calls counted and the phase when last seen.
    int64_t lastCalls = -1;
    int32_t lastPhase = -1, step = 0;
    double since = 0; // the runner's clock, s
    bool timedOut = false;
    platform::RunResult run;
    // An Entry worker's values, taken out of its file as it writes them (a
    // step at a time, when the run asks: takesValues), the file's pages they
    // were in let go; stepsTaken of them, or none when one could not be read.
    bool takesValues = false, takeFailed = false;
    bool contradicted = false; // its header's counts contradicted where it was
    int32_t stepsTaken = 0;
    UninitializedVector<double> taken;
    // Where its values are: taken, or in its file.
    ValuePieces values() const;
    WorkerJob() = default;
    WorkerJob(const WorkerJob &) = delete;
    WorkerJob &operator=(const WorkerJob &) = delete;
    ~WorkerJob() { platform::closeFile(file); }
};
using Workers = std::vector<std::unique_ptr<WorkerJob>>;

// Runs command lines, at most `parallel` at a time. done(k, result) is
// called as job k ends; watch(k) about every 100 ms for each running job
// (true: end it); idle() between rounds. False when interrupted. Its clock
// is the one the time limit is measured by.
class WorkerRunner {
  public:
    using Done = std::function<void(size_t, platform::RunResult &)>;
    using Watch = std::function<bool(size_t)>;
    using Idle = std::function<void()>;
    virtual ~WorkerRunner() = default;
    virtual bool run(const std::vector<std::vector<std::string>> &jobs, int parallel,
                     const Done &done, const Watch &watch, const Idle &idle) = 0;
    // Seconds since some fixed moment.
    virtual double seconds() const = 0;
};

// Real processes, each in a process group (job object) of its own, and
// the system's steady clock.
class ProcessRunner final : public WorkerRunner {
  public:
    bool run(const std::vector<std::vector<std::string>> &jobs, int parallel, const Done &done,
             const Watch &watch, const Idle &idle) override;
    double seconds() const override;
};

// Storage for the values workers take, handed back once judged.
using ValueStore = std::vector<UninitializedVector<double>>;

// The arguments that give a worker the sample of `config` (the option
// table's rows make them).
using SampleArguments = std::vector<std::string> (*)(const SampleConfig &config);

// What every worker of a run shares: the program to start and how it is
// given a sample, the scratch folder for the result files, the runner and
// how many workers it runs at a time; what is done with a worker as soon
// as it has ended, and the storage its values are taken into.
struct WorkerSetting {
    std::string self; // this program
    SampleArguments arguments;
    std::string scratch; // the run's private folder
    WorkerRunner &runner;
    int jobs = 2;
    std::function<void(size_t)> ended = {};
    ValueStore *store = nullptr;
};

// A worker evaluating entry point `name` (an Entry or Order worker) or
// func_externalcompute (External), or the survey, on the sample of `config`;
// `tag` marks a check's worker.
std::unique_ptr<WorkerJob> makeWorker(const std::string &name, WorkerKind kind,
                                      const SampleConfig &config, const std::string &tag = "");

// Make every worker's result file, run them all, keep how each ended.
// False (with `error`, unless interrupted) when they could not be run.
bool runWorkers(const WorkerSetting &s, Workers &workers, Progress *bar, std::string &error);

} // namespace vhost

// workers.cpp - result files, command lines and the time limit of workers.
#include "parent/workers.h"

#include <chrono>
#include <cstring>
#include <filesystem>

#include "model/entries.h"
#include "parent/progress.h"

namespace vhost {

namespace fs = std::filesystem;

bool ProcessRunner::run(const std::vector<std::vector<std::string>> &jobs, int parallel,
                        const Done &done, const Watch &watch, const Idle &idle) {
    return platform::runMany(jobs, parallel, done, watch, idle);
}

double ProcessRunner::seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::unique_ptr<WorkerJob> makeWorker(const std::string &name, WorkerKind kind,
                                      const SampleConfig &config, const std::string &tag) {
    auto w = std::make_unique<WorkerJob>();
    w->name = name;
    w->tag = tag;
    w->config = config;
    w->shape.kind = kind;
    w->shape.nnod = config.nnod();
    w->shape.steps = config.steps;
    if (kind == WorkerKind::Entry || kind == WorkerKind::Order)
        w->shape = ResultShape::values(
            kind, static_cast<int32_t>(findEntryPoint(name) - kEntryPoints), config.nodesPerSide,
            config.steps, config.materials, config.points());
    return w;
}

namespace {

// The command line of the worker `w`.
std::vector<std::string> workerCommand(const WorkerSetting &s, const WorkerJob &w) {
    std::vector<std::string> args = {s.self, "--worker", w.name, "--result", w.path};
    args.insert(args.end(), w.extra.begin(), w.extra.end());
    for (std::string &a : s.arguments(w.config))
        args.push_back(std::move(a));
    return args;
}

// Create the result file of `w`, exclusively, with the parent's part of
// its header (and the counters' magic after it) written into it. Written,
// not mapped: the header's page is then the file's before the worker maps
// it, and a file system that is full says so here instead of ending
// whoever first touches the page.
bool createResultFile(const std::string &scratch, WorkerJob &w, std::string &error) {
    w.path = (fs::path(scratch) / (w.name + w.tag + ".bin")).string();
    w.file = platform::createExclusive(w.path, w.shape.bytes(), error);
    if (w.file == -1) return false;
    alignas(8) char page[kResultHeaderSize] = {};
    const ResultHeader h = initialHeader(w.shape);
    const vulmora_probe probe = initialProbe();
    std::memcpy(page, &h, sizeof h);
    std::memcpy(page + VULMORA_PROBE_OFFSET, &probe, sizeof probe);
    if (!platform::writeAt(w.file, page, sizeof page, 0))
        return error = w.path + ": " + platform::lastFileError(), false;
    return true;
}

// The steps of values the header `h` of `w`'s file says are written, or
// -1 when its counts contradict where the worker is: it publishes a step
// only once its values are in the file and before it begins the next, and
// says it is complete only after its last. Counts that do not hold are
// user code's writing into the file, never values to take.
int64_t stepsWritten(const WorkerJob &w, const ResultHeader &h) {
    if (w.shape.kind != WorkerKind::Entry) return 0; // no other worker publishes steps
    const int64_t written = h.stepsWritten, at = h.pos.step;
    const Phase phase = static_cast<Phase>(h.pos.phase);
    const bool complete = h.state == int32_t(WorkerState::Complete);
    if (written > at ||
        (written == at && written > 0 && phase != Phase::Between && phase != Phase::Unload) ||
        (complete && (written != w.shape.steps || at != w.shape.steps)))
        return -1;
    return written;
}

// Take the steps `w` has written since it was last looked at, as its
// header `h` says, out of its file, into storage from `store` (its first
// time), and let their pages in the file go: the next steps' writes take
// memory just given back instead of fresh pages. A count that contradicts
// itself is taken as nothing, and the worker is judged for it.
void takeWritten(WorkerJob &w, const ResultHeader &h, ValueStore *store) {
    const int64_t written = stepsWritten(w, h);
    if (written < 0) w.contradicted = true;
    if (!w.takesValues || w.takeFailed || w.contradicted || written <= w.stepsTaken ||
        written > w.shape.steps)
        return;
    const uint64_t perStep = uint64_t(w.shape.selectedCount()), size = sizeof(double);
    if (w.taken.size() != uint64_t(w.shape.count)) {
        const bool stored = store && !store->empty();
        if (stored) w.taken.swap(store->back()), store->pop_back();
        w.taken.resize(size_t(w.shape.count));
        if (!stored) platform::prefaultPages(w.taken.data(), w.taken.size() * size);
    }
    const uint64_t from = uint64_t(w.stepsTaken) * perStep, n = uint64_t(written) * perStep - from;
    if (!platform::readAt(w.file, w.taken.data() + from, n * size, kResultHeaderSize + from * size))
        return void(w.takeFailed = true);
    platform::releaseFileRange(w.file, kResultHeaderSize + from * size, n * size);
    w.stepsTaken = int32_t(written);
}

// True when the worker has spent longer than the limit in one user call
// (or in loading the library): its position has not moved since. The
// steps it has written meanwhile are taken.
bool overTime(WorkerJob &w, double now, ValueStore *store) {
    const double timeLimit = w.config.timeLimit;
    ResultHeader h;
    if (!platform::readAt(w.file, &h, sizeof h, 0)) return false;
    takeWritten(w, h, store);
    w.step = h.pos.step;
    if (h.pos.calls != w.lastCalls || h.pos.phase != w.lastPhase) {
        w.lastCalls = h.pos.calls, w.lastPhase = h.pos.phase, w.since = now;
        return false;
    }
    if (timeLimit <= 0) return false;
    const bool user = isUserPhase(static_cast<Phase>(h.pos.phase)) &&
                      h.state == static_cast<int32_t>(WorkerState::Running);
    w.timedOut = user && now - w.since > timeLimit;
    return w.timedOut;
}

} // namespace

ValuePieces WorkerJob::values() const {
    const size_t have = takeFailed ? 0 : size_t(stepsTaken) * size_t(shape.selectedCount());
    return takesValues ? memoryPieces(taken.data(), have) : filePieces(file, shape);
}

bool runWorkers(const WorkerSetting &s, Workers &workers, Progress *bar, std::string &error) {
    std::vector<std::vector<std::string>> jobs;
    for (auto &w : workers) {
        if (!createResultFile(s.scratch, *w, error)) return false;
        jobs.push_back(workerCommand(s, *w));
    }
    return s.runner.run(
        jobs, s.jobs,
        [&](size_t k, platform::RunResult &run) {
            WorkerJob &w = *workers[k];
            w.run = std::move(run);
            ResultHeader h;
            if (platform::readAt(w.file, &h, sizeof h, 0)) takeWritten(w, h, s.store);
            if (bar) bar->finished();
            if (s.ended) s.ended(k);
        },
        [&](size_t k) {
            const bool over = overTime(*workers[k], s.runner.seconds(), s.store);
            if (bar)
                bar->running(progressLabel(workers[k]->name, workers[k]->tag), workers[k]->step,
                             workers[k]->config.steps);
            return over;
        },
        [&] {
            if (bar) bar->draw();
        });
}

} // namespace vhost

// replay.cpp - the parent's side of a replay (call.h tells the whole
// story), and the sample saved as a state file.
#include "replay/replay.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "model/binding.h"
#include "model/build_record.h"
#include "model/sample.h"
#include "output/report.h"
#include "platform/processes.h"
#include "platform/signals.h"
#include "platform/system.h"
#include "replay/call.h"
#include "replay/state.h"
#include "platform/exit_status.h"
#include "platform/scratch.h"

namespace vhost {

namespace fs = std::filesystem;

namespace {

// A text from the file, without control characters.
std::string plain(const char *text) {
    std::string out = text;
    for (char &c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return out;
}

std::string valueText(uint64_t bits) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%.17g (bits 0x%016llx)", fromBits(bits),
                  static_cast<unsigned long long>(bits));
    return buf;
}

// How the replayed call ended, in the captured terms.
struct Ending {
    int outcome = VULMORA_OUTCOME_NONE;
    uint64_t bits = 0;
    int signal = 0;
    std::string printed;
    std::string text() const {
        switch (outcome) {
        case VULMORA_OUTCOME_RETURNED:
            return "returned " + valueText(bits);
        case VULMORA_OUTCOME_SIGNAL:
            return "crashed (signal or exception code " + std::to_string(signal) + ")";
        case VULMORA_OUTCOME_STOPPED:
            return "stopped with exit status 1";
        default:
            return "no outcome";
        }
    }
};

bool same(const vulmora_state_header &h, const Ending &e) {
    if (h.outcome != e.outcome) return false;
    switch (h.outcome) {
    case VULMORA_OUTCOME_RETURNED:
        return h.result_bits == e.bits ||
               (std::isnan(fromBits(h.result_bits)) && std::isnan(fromBits(e.bits)));
    case VULMORA_OUTCOME_SIGNAL:
        return h.signal == e.signal;
    case VULMORA_OUTCOME_STOPPED: {
        const std::string captured = h.stop_text;
        if (captured.size() + 1 == sizeof h.stop_text) // kept truncated
            return e.printed.compare(0, captured.size(), captured) == 0;
        return e.printed == captured;
    }
    default:
        return false;
    }
}

std::string microName(const vulmora_state_micro &m) {
    const std::string what =
        m.kind == VULMORA_MICRO_CONSTITUENT ? "constituent " : "auxiliary variable ";
    if (m.node < 0) return "the name of " + what + "of global index " + std::to_string(m.index);
    return what + std::to_string(m.index) + " at node index " + std::to_string(m.node);
}

// The state, the library and the call of a replay; false (with the reason
// on stderr) when one of them cannot be used.
bool prepare(ReplaySettings &o, State &st, Target &t) {
    std::string error;
    if (!loadState(o.file, st, error)) return fail(ExitStatus::Usage, error), false;
    const vulmora_state_header &h = st.header();
    if (o.library.empty()) o.library = h.library;
    if (o.library.empty() || !fs::exists(o.library))
        return fail(ExitStatus::Usage, o.library.empty()
                                           ? "the state names no library: give --library PATH"
                                           : "no such library: " + o.library),
               false;
    o.library = fs::absolute(o.library).lexically_normal().string();
    if (!chooseTarget(o, st, t, error)) return fail(ExitStatus::Usage, error), false;
    return true;
}

// Which of a state's sections are arrays of the host's (the others are the
// library's own, or tables), by their extent.
#define VHOST_HOST_ARRAY_NNOD true
#define VHOST_HOST_ARRAY_NVNOD true
#define VHOST_HOST_ARRAY_NEL true
#define VHOST_HOST_ARRAY_CONN true
#define VHOST_HOST_ARRAY_POINTS true
#define VHOST_HOST_ARRAY_STRESS true
#define VHOST_HOST_ARRAY_LASTP false
#define VHOST_HOST_ARRAY_LOC_MICRO false
#define VHOST_HOST_ARRAY_NAME_MECHPROP false
#define VHOST_HOST_ARRAY_UNIT_MECHPROP false
#define VHOST_HOST_ARRAY_TYPES false

// The host's arrays the state does not hold, by name, comma-separated.
std::string unsetFields(const State &st) {
    std::string unset;
#define VHOST_UNSET(name, type, extent)                                                            \
    if (VHOST_HOST_ARRAY_##extent && st.count(VULMORA_SECTION_##name) == 0)                        \
        unset += std::string(unset.empty() ? "" : ", ") + #name;
    VULMORA_STATE_BLOCK_SECTIONS(VHOST_UNSET)
#undef VHOST_UNSET
    return unset;
}

// The library's build against the state's: which sources, compiler or
// flags changed since the state was made (a note: the replay goes on).
std::string buildText(const ReplaySettings &o, const State &st) {
    BuildRecord now, then;
    std::string error;
    if (!readBuildRecord(o.library, now, error)) return "build:    " + error + "\n";
    std::string t = "build:    " + buildRecordLine(now) + "\n";
    const std::string recorded = st.buildRecord();
    if (recorded.empty()) return t + "          (the state file has no build record)\n";
    if (!parseBuildRecord(recorded, then))
        return t + "          (the state file's build record is damaged)\n";
    if (now.empty())
        return t + "note:     the state was made by a library built as " + buildRecordLine(then) +
               "\n";
    const std::vector<std::string> changes = buildRecordChanges(then, now);
    if (changes.empty()) return t;
    t += "note:     this library was built from other sources or otherwise than the one that "
         "made the state:\n";
    for (const std::string &c : changes)
        t += "            " + c + "\n";
    return t;
}

// What is replayed: the file, the library and its build, the call, the
// captured outcome, the host's arrays it does not hold.
void printCall(const ReplaySettings &o, const State &st, const Target &t) {
    const vulmora_state_header &h = st.header();
    std::printf("state:    %s (%s, %s, step %s)\n", o.file.c_str(), plain(h.writer).c_str(),
                triggerName(h.trigger).c_str(),
                h.step > 0 ? std::to_string(h.step).c_str() : "unknown");
    std::printf("library:  %s%s\n", o.library.c_str(),
                o.library == h.library ? ""
                                       : (" (captured with " + plain(h.library) + ")").c_str());
    std::fputs(buildText(o, st).c_str(), stdout);
    std::printf("call:     func_%s(%d), cur_node = %d, location = %d, %d nodes, %d elements\n",
                t.entry.c_str(), t.node,
                h.entry[0] && t.node == h.argument ? h.cur_node : t.node - 1, h.location, h.nnod,
                h.nel);
    if (const std::string unset = unsetFields(st); !unset.empty())
        std::printf("not set:  %s (the state holds no such array: its accessors return 0)\n",
                    unset.c_str());
    if (t.captured) {
        std::string c = outcomeText(h);
        if (h.outcome == VULMORA_OUTCOME_STOPPED) c += ", printing " + escaped(h.stop_text);
        std::printf("captured: %s\n", c.c_str());
    }
    std::fflush(stdout);
}

// The worker's command line for the replay `o`, its result in `result`.
std::vector<std::string> workerCommand(const ReplaySettings &o, const char *argv0,
                                       const std::string &result) {
    std::string self = platform::executablePath();
    if (self.empty()) self = fs::absolute(argv0).string();
    std::vector<std::string> args = {self,      "--replay-worker", o.file, "--library",
                                     o.library, "--result",        result};
    if (!o.entry.empty()) args.insert(args.end(), {"--functions", o.entry});
    if (o.node) args.insert(args.end(), {"--node", std::to_string(o.node)});
    if (o.allNodes) args.push_back("--all-nodes");
    return args;
}

// How the worker's run ended, in the captured terms; `allNodesEnd` says how
// an every-node pass ended that the call itself survived. False when the
// worker failed otherwise (exit status 2: a bad file or library).
bool endingOf(const platform::RunResult &run, bool haveResult, const Replayed &r, Ending &e,
              std::string &allNodesEnd) {
    e.printed = run.out.text();
    if (haveResult && r.kind == kReplayReturned) {
        e.outcome = VULMORA_OUTCOME_RETURNED;
        e.bits = r.bits;
        if (!run.exited || run.status != 0) { // ended in the every-node loop
            allNodesEnd = "the worker " +
                          (!run.exited ? "crashed (" + platform::signalName(run.status)
                                       : "stopped (exit status " + std::to_string(run.status)) +
                          ") at node " + std::to_string(r.values.size() + 1);
            if (!run.out.empty()) allNodesEnd += ", printing " + escaped(run.out.text());
            e.printed.clear();
        }
    } else if (!run.exited) {
        e.outcome = VULMORA_OUTCOME_SIGNAL;
        e.signal = run.status;
    } else if (run.status == 1) {
        e.outcome = VULMORA_OUTCOME_STOPPED;
    } else {
        std::printf("replayed: the worker failed (exit status %d)\n", run.status);
        return false;
    }
    return true;
}

// The call in a worker, its result file in a private folder removed after;
// 0, or the exit status when it could not be made.
int replayInWorker(const ReplaySettings &o, const char *argv0, Ending &e, Replayed &r,
                   std::string &allNodesEnd) {
    std::string error;
    bool haveResult = false;
    platform::RunResult run;
    {
        Scratch scratch;
        if (!scratch.make(error, "vulmora-replay-")) return fail(ExitStatus::Usage, error);
        const std::string result = (fs::path(scratch.dir()) / "replay.bin").string();
        run = platform::runCaptured(workerCommand(o, argv0, result));
        haveResult = readResultFile(result, r);
    }
    if (platform::interrupted()) return interruptedStatus(); // the worker was ended
    if (!run.started) return fail(ExitStatus::Usage, "cannot start the worker: " + run.error);
    return endingOf(run, haveResult, r, e, allNodesEnd) ? code(ExitStatus::Ok)
                                                        : code(ExitStatus::Usage);
}

// How the replay went, with the look-ups the capture had not recorded.
void printEnding(const Ending &e, const Replayed &r, const std::string &allNodesEnd) {
    std::string line = e.text();
    if (!e.printed.empty()) line += ", printing " + escaped(e.printed);
    if (!r.marks.empty()) std::printf("marks:    %s\n", r.marks.c_str());
    std::printf("replayed: %s\n", line.c_str());
    for (const vulmora_state_micro &m : r.unrecorded)
        std::printf("  not recorded: the call read %s, which the capture did not record "
                    "(it got %s)\n",
                    microName(m).c_str(), m.node < 0 ? "none" : "NaN");
    if (!allNodesEnd.empty()) std::printf("every node: %s\n", allNodesEnd.c_str());
}

// The replay next to the capture: 0 reproduced (or, with nothing captured,
// a finite value returned), 1 otherwise (other marks in local mode
// included) or when results went unwritten.
int verdict(const vulmora_state_header &h, const Target &t, const Ending &e, const Replayed &r,
            bool written) {
    const auto status = [](bool ok) { return code(ok ? ExitStatus::Ok : ExitStatus::Failed); };
    if (!t.captured) {
        std::printf("no captured outcome to compare with\n");
        return status(written && e.outcome == VULMORA_OUTCOME_RETURNED &&
                      std::isfinite(fromBits(e.bits)));
    }
    // Other marks are another call: the solver's next run makes this one.
    if (r.marksDiffer && same(h, e)) {
        std::printf("differs: the registration call marks other quantities than the captured "
                    "one's (see marks); the outcome is the same\n");
        return code(ExitStatus::Failed);
    }
    if (same(h, e)) {
        std::printf("reproduced\n");
        return status(written); // the results could not all be written
    }
    std::printf("differs: captured %s; replayed %s\n", outcomeText(h).c_str(), e.text().c_str());
    return code(ExitStatus::Failed);
}

} // namespace

// ---- entry points of this file -----------------------------------------------------

int saveSampleState(const SampleConfig &o, int atStep, const std::string &file) {
    Library lib;
    std::string error;
    if (!lib.open(o.library, error)) return fail(ExitStatus::Usage, error);
    const int step = atStep ? atStep : o.steps;
    Sample sample(o.nodesPerSide, o.steps, Sample::Build::Whole, nullptr, o.alloy);
    sample.stressScale = o.stressScale;
    sample.setStep(step);
    lib.bind(sample, o); // data only: no user code runs here
    std::vector<int> lastp(VULMORA_STATE_LASTP_LEN, 0);
    *lib.x.mic_lastp = lastp.data();
    *lib.x.location = 1;
    vulmora_state_view v = lib.view();
    v.data[VULMORA_SECTION_sample_micro] = sample.micro.data();
    v.data[VULMORA_SECTION_sample_aux] = sample.aux.data();
    v.sample_constituents = kNumConstituents;
    v.sample_auxiliaries = kNumAuxiliaries;
    vulmora_state_call call{};
    BuildRecord record; // the library's, into the file too
    if (readBuildRecord(o.library, record, error) && !record.empty()) {
        v.data[VULMORA_SECTION_build_record] = record.text.data();
        v.record_length = static_cast<uint32_t>(record.text.size());
    }
    call.writer = "vulmora-host sample";
    call.library = o.library.c_str();
    call.step = step;
    if (!saveState(file, v, call, error)) return fail(ExitStatus::Usage, error);
    std::printf("vulmora-host: step %d of the sample (%d nodes) saved in %s\n", step, sample.nnod,
                file.c_str());
    return code(ExitStatus::Ok);
}

int runReplay(const ReplaySettings &given, const char *argv0) {
    ReplaySettings o = given;
    State st;
    Target t;
    if (!prepare(o, st, t)) return code(ExitStatus::Usage);
    // An interruption ends the worker and removes its folder, as in a run.
    platform::catchInterrupts();
    platform::markWorkersParent();
    printCall(o, st, t);
    Ending e;
    Replayed r;
    std::string allNodesEnd; // how an unfinished every-node loop ended
    if (o.inProcess) {
        std::printf("replaying in this process (a stop or crash ends it)\n");
        std::fflush(stdout);
        if (const int rc = replayInThisProcess(o, r)) return rc;
        e.outcome = VULMORA_OUTCOME_RETURNED;
        e.bits = r.bits;
    } else if (const int rc = replayInWorker(o, argv0, e, r, allNodesEnd)) {
        return rc;
    }
    printEnding(e, r, allNodesEnd);
    const bool written = r.values.empty() || reportEveryNode(o.output, st, t.entry, r.values);
    return verdict(st.header(), t, e, r, written);
}

} // namespace vhost

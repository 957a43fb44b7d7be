// fptrap_check.cpp - where a non-finite value is born. For each entry
// point whose results hold a NaN or an infinity, a diagnostic worker
// (worker/diagnose.h) makes the first such call again with floating-point
// traps on; with --trap-fp, another makes every call so. The trap's
// addresses become function, file and line through the toolchain's
// addr2line (without it: the exported symbol and module + offset). A NaN
// the call read from an accessor is said to be read, not made; a trap in a
// call whose value was finite is a note, never a failure.
#include <cmath>
#include <cstdio>

#include "checks/check.h"
#include "checks/diagnosis.h"
#include "worker/diagnose.h"

namespace vhost {

namespace {

// "NaN", "+infinity", "-infinity".
std::string valueWord(double v) {
    return std::isnan(v) ? "NaN" : v > 0 ? "+infinity" : "-infinity";
}

// The diagnostic worker's findings as the report shows them.
std::string diagnosisText(const Outcome &base, const Diagnosis &d, const std::string &library,
                          const std::string &tool) {
    const std::string head = "func_" + base.name + ": " + valueWord(base.badValue) + " at node " +
                             std::to_string(base.badNode) + ", step " +
                             std::to_string(base.badStep);
    const std::string read = readText(d);
    std::string t;
    if (!read.empty())
        t = head + ": read a NaN from " + read + " (not made by an operation)" +
            (d.fault != platform::FpFault::None
                 ? "; the first operation on it trapped, " + bornText(d, library)
                 : "") +
            "\n";
    else if (d.fault != platform::FpFault::None)
        t = head + ", " + bornText(d, library) + "\n";
    else if (d.returned && std::isfinite(d.value)) {
        char v[32];
        std::snprintf(v, sizeof v, "%.17g", d.value);
        t = head + ": made again alone, the call returned " + v +
            " (the value depends on the calls before it)\n";
    } else
        t = head + ": no operation raised an exception when the call was made again\n";
    if (d.fault != platform::FpFault::None && tool.empty())
        t += "  (no addr2line on PATH: functions by their exported symbols, places by module + "
             "offset)\n";
    return t;
}

// A trap in a call --trap-fp made: a note, unless it is where the first
// non-finite value is (that call's own diagnosis says it).
std::string trapNoteText(const Outcome &base, const Diagnosis &d, const std::string &library) {
    if (d.fault == platform::FpFault::None) return "";
    const bool bad = base.nonFinite > 0;
    if (bad && d.trapStep == base.badStep && d.trapNode == base.badNode) return "";
    const bool before = !bad || d.trapStep < base.badStep ||
                        (d.trapStep == base.badStep && d.trapNode < base.badNode);
    std::string where = bornText(d, library);
    if (where.rfind("born ", 0) == 0) where = where.substr(5);
    return "func_" + base.name + ": note: with traps on, the call at node " +
           std::to_string(d.trapNode) + ", step " + std::to_string(d.trapStep) + " raised " +
           platform::fpFaultName(d.fault) + " " + where +
           (before ? " and handled it: not a failure\n" : "\n");
}

constexpr int kAtTheValue = 0, kEveryCall = 1; // the variants

class FpTrapCheck final : public Check {
  public:
    bool wanted(const CheckSettings &) const override { return true; }
    bool needsValues() const override { return false; }
    bool counted() const override { return false; }

    void plan(const CheckContext &c, size_t k, std::vector<CheckWork> &work) const override {
        const Outcome &o = c.outcomes[k];
        if (o.name == "externalcompute") return;
        if (o.status == Outcome::NonFinite && o.badNode > 0 && o.badStep > 0) {
            CheckWork w{k, this, kAtTheValue,
                        makeWorker(o.name, WorkerKind::Entry, c.config, ".diagnose")};
            w.worker->extra = {"--diagnose",
                               std::to_string(o.badNode) + ":" + std::to_string(o.badStep)};
            work.push_back(std::move(w));
        }
        if (c.settings.trapFp) {
            CheckWork w{k, this, kEveryCall,
                        makeWorker(o.name, WorkerKind::Entry, c.config, ".traps")};
            w.worker->extra = {"--diagnose", "every"};
            work.push_back(std::move(w));
        }
    }

    void judge(const CheckContext &c, const CheckWork &w, const Outcome &r,
               CheckFindings &f) const override {
        const Outcome &base = c.outcomes[w.outcome];
        Diagnosis d;
        std::string error;
        if (!readDiagnosis(diagnosisFile(w.worker->path), d, error)) {
            const std::string how = r.status == Outcome::Ok || r.status == Outcome::EmulatorError
                                        ? ""
                                        : ending(r, c.config.timeLimit) + "; ";
            f.perEntry[w.outcome] += "func_" + base.name +
                                     ": the diagnostic worker with traps on: " + how + error + "\n";
            return;
        }
        if (!d.frames.empty()) placeFrames(d.frames, tool());
        if (w.variant == kAtTheValue)
            f.perEntry[w.outcome] += diagnosisText(base, d, c.config.library, tool());
        else
            f.perEntry[w.outcome] += trapNoteText(base, d, c.config.library);
    }

  private:
    const std::string &tool() const {
        if (!looked_) tool_ = findAddr2line(), looked_ = true;
        return tool_;
    }
    mutable std::string tool_;
    mutable bool looked_ = false;
};

} // namespace

std::unique_ptr<Check> makeFpTrapCheck() {
    return std::make_unique<FpTrapCheck>();
}

} // namespace vhost

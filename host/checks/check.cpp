// check.cpp - the table of checks, and what they share.
#include "checks/check.h"

namespace vhost {

std::unique_ptr<Check> makeExpectCheck();
std::unique_ptr<Check> makePlausibleCheck();
std::unique_ptr<Check> makeConsistencyCheck();
std::unique_ptr<Check> makeUnitsCheck();
std::unique_ptr<Check> makeOrderCheck();
std::unique_ptr<Check> makeNumberingCheck();
std::unique_ptr<Check> makeRoundingCheck();
std::unique_ptr<Check> makeFpTrapCheck();
std::unique_ptr<Check> makeCostCheck();
std::unique_ptr<Check> makeCompareCheck();
std::unique_ptr<Check> makeSmoothnessCheck();

namespace {

// Every check, in the order they report: a new check is a row here.
using MakeCheck = std::unique_ptr<Check> (*)();
constexpr MakeCheck kChecks[] = {makeExpectCheck,     makePlausibleCheck, makeConsistencyCheck,
                                 makeUnitsCheck,      makeOrderCheck,     makeNumberingCheck,
                                 makeRoundingCheck,   makeCostCheck,      makeCompareCheck,
                                 makeSmoothnessCheck, makeFpTrapCheck};

} // namespace

// What a check does at a step it leaves alone.
bool Check::prepare(const CheckSettings &, std::string &) {
    return true;
}
void Check::inspect(const CheckContext &, size_t) {}
bool Check::wantsValues(const CheckContext &, size_t) const {
    return false;
}
bool Check::needsValues() const {
    return true;
}
void Check::plan(const CheckContext &, size_t, std::vector<CheckWork> &) const {}
void Check::judge(const CheckContext &, const CheckWork &, const Outcome &, CheckFindings &) const {
}
bool Check::conclude(const CheckContext &, CheckFindings &, std::string &) {
    return true;
}
const char *Check::changeLabel() const {
    return nullptr;
}
bool Check::counted() const {
    return true;
}

void CheckFindings::flag(size_t k) {
    if (flagged.size() <= k) flagged.resize(k + 1);
    if (flagged[k]) return;
    flagged[k] = true;
    ++found, ++changed;
}

void CheckFindings::warnOrFail(bool strict, const std::string &text, size_t &warnedCount) {
    if (strict) {
        before += text;
        ++found;
    } else {
        warnings += text;
        ++warnedCount;
    }
}

std::vector<std::unique_ptr<Check>> makeChecks(const CheckSettings &settings) {
    std::vector<std::unique_ptr<Check>> checks;
    for (MakeCheck make : kChecks) {
        std::unique_ptr<Check> c = make();
        if (c->wanted(settings)) checks.push_back(std::move(c));
    }
    return checks;
}

std::string checkWorkerFailure(const Outcome &base, const std::string &how, const Outcome &r,
                               double timeLimit) {
    const bool atNode = r.result.phase == Phase::Call || r.result.phase == Phase::Registration;
    std::string t = "func_" + base.name + " " + how + ": " + ending(r, timeLimit) + " " +
                    (atNode ? "at " : "") + where(r.result);
    if (r.status == Outcome::Stopped) t += ", printing " + escaped(r.printed, 200);
    return t + "\n";
}

} // namespace vhost

// consistency_check.cpp - every run: the entry points that constrain each
// other, judged together at the same nodes and steps (a curve's points)
// by the rules of consistency.h. Each rule broken is reported once, at
// its first place, with the values there. A warning, unless --strict
// makes it a problem.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "checks/check.h"
#include "checks/consistency.h"
#include "include/vulmora/getVar.h"
#include "model/path.h"
#include "model/sample.h"
#include "platform/pages.h"

namespace vhost {

namespace {

class ConsistencyCheck final : public Check {
  public:
    bool wanted(const CheckSettings &) const override { return true; }

    bool prepare(const CheckSettings &s, std::string &) override {
        strict_ = s.strict;
        return true;
    }

    // Kept as each is collected (the run may let its values go): the
    // evaluated nodes' values only, step after step, as the worker's file
    // holds them, of an entry point a rule reads when the run evaluates
    // every entry point of that rule.
    void inspect(const CheckContext &c, size_t k) override {
        const Outcome &e = c.outcomes[k];
        kept_.erase(e.name);
        if (!c.evaluated || !reads(c, k)) return;
        findEvaluated(c.nodeMaterial);
        if (evaluatedNodes_ == 0) return;
        std::vector<double> &kept = kept_[e.name];
        kept.reserve(static_cast<size_t>(c.config.steps) * evaluatedNodes_);
        platform::prefaultPages(kept.data(), kept.capacity() * sizeof(double));
        (*c.evaluated)([&](const double *values, size_t count) {
            kept.insert(kept.end(), values, values + count);
        });
        kept.resize(kept.size() / evaluatedNodes_ * evaluatedNodes_); // whole steps only
    }

    bool conclude(const CheckContext &c, CheckFindings &f, std::string &) override {
        if (c.nodeMaterial.size() != nnod_ || nnod_ == 0 || evaluatedNodes_ == 0) return true;
        std::vector<Judged> judged;
        for (const ConsistencyRule &r : consistencyRules()) {
            Judged j;
            j.rule = &r, j.entries = ruleEntries(r);
            size_t steps = SIZE_MAX;
            for (size_t e = 0; e < ruleEntries(r); ++e) {
                const auto at = kept_.find(r.entries[e]);
                if (at == kept_.end() || !evaluated(c, r.entries[e])) steps = 0;
                if (at == kept_.end()) break;
                j.v[e] = at->second.data();
                steps = std::min(steps, at->second.size() / evaluatedNodes_);
            }
            if (steps == 0 || steps == SIZE_MAX) continue;
            j.steps = std::min(steps, static_cast<size_t>(c.sample.steps));
            judged.push_back(j);
        }
        // The rules of two states need the fields; without them (a sample
        // of other nodes) they are left unjudged.
        const bool trend = std::any_of(judged.begin(), judged.end(),
                                       [](const Judged &j) { return j.rule->trend; });
        if (trend && !sampleFields(c.sample))
            std::erase_if(judged, [](const Judged &j) { return j.rule->trend; });
        if (c.sample.path()) {
            for (Judged &j : judged)
                j.text = j.rule->trend ? judgeTrendOnPath(c, j) : judgePlace(c, j);
        } else {
            for (Judged &j : judged)
                if (!j.rule->trend) j.text = judgePlace(c, j);
            judgeTrendsOnNodes(c, judged);
        }
        for (const Judged &j : judged)
            if (!j.text.empty()) f.warnOrFail(strict_, j.text, f.contradictions);
        return true;
    }

    bool counted() const override { return strict_; }
    bool needsValues() const override { return false; }

  private:
    // A rule judged: its entry points (how many, their kept values), over
    // how many steps; a rule of two states on the sample, its first pair
    // so far; the finding's text ("" for none).
    struct Judged {
        const ConsistencyRule *rule = nullptr;
        size_t entries = 0;
        const double *v[2] = {};
        size_t steps = 0;
        bool found = false;
        PlacedState hot, cold;
        std::string text;
    };

    bool strict_ = false;
    std::map<std::string, std::vector<double>> kept_; // the values of the rules' entry points
    // The evaluated nodes, as runs [first, end) of consecutive nodes out of
    // nnod_ (kept_ holds theirs alone, evaluatedNodes_ a step).
    std::vector<std::pair<size_t, size_t>> runs_;
    size_t nnod_ = 0, evaluatedNodes_ = 0;
    // The temperature and solid fraction of every evaluated node at every
    // step, as the host's fields hold them, laid out as kept_.
    std::vector<float> T_, fs_;
    // One node's states of the solid (or a curve's at one step), their
    // steps and in which order a rule of two states visits them: kept
    // between nodes, so that judging one allocates nothing.
    std::vector<PlacedState> states_;
    std::vector<size_t> stepOf_;
    TrendOrder order_;
    // A block of nodes' rows of T_, fs_ and the values, step after step.
    static constexpr size_t kBlock = 256;
    std::vector<float> blockT_, blockFs_;
    std::vector<double> blockValues_;

    // The runs of evaluated nodes of `material`, when not found yet.
    void findEvaluated(const std::vector<uint8_t> &material) {
        if (material.size() == nnod_ && !runs_.empty()) return;
        nnod_ = material.size(), evaluatedNodes_ = 0;
        runs_.clear();
        for (size_t i = 0; i < nnod_; ++i) {
            if (!material[i]) continue;
            if (runs_.empty() || runs_.back().second != i) runs_.emplace_back(i, i);
            ++runs_.back().second, ++evaluatedNodes_;
        }
    }

    // The evaluated nodes' items of one step, `step` (nnod_ items),
    // appended to `kept`.
    template <class V> void keepEvaluated(const V *step, std::vector<V> &kept) const {
        for (const auto &[first, end] : runs_)
            kept.insert(kept.end(), step + first, step + end);
    }

    // T_ and fs_ from the sample's fields, step by step; false when it
    // holds a number of nodes other than the run's.
    bool sampleFields(Sample &sample) {
        const size_t steps = static_cast<size_t>(sample.steps);
        if (static_cast<size_t>(sample.nnod) != nnod_) return false;
        T_.clear(), fs_.clear();
        T_.reserve(steps * evaluatedNodes_), fs_.reserve(steps * evaluatedNodes_);
        for (size_t s = 0; s < steps; ++s) {
            sample.setStep(static_cast<int>(s) + 1, false);
            sample.fill(sample.t1.data());
            sample.fill(sample.fs1.data());
            keepEvaluated(sample.t1.data(), T_);
            keepEvaluated(sample.fs1.data(), fs_);
        }
        return true;
    }

    // True when a rule reads the values of outcome `k` and the run
    // evaluates every entry point of that rule.
    static bool reads(const CheckContext &c, size_t k) {
        const Outcome &e = c.outcomes[k];
        if (!e.hasValues()) return false;
        for (const ConsistencyRule &r : consistencyRules()) {
            bool reads = false, all = true;
            for (size_t j = 0; j < ruleEntries(r); ++j) {
                reads = reads || e.name == r.entries[j];
                all = all && planned(c, r.entries[j]);
            }
            if (reads && all) return true;
        }
        return false;
    }

    // True when the run evaluates `entry` (it may not have ended yet).
    static bool planned(const CheckContext &c, const char *entry) {
        for (const Outcome &e : c.outcomes)
            if (e.name == entry) return e.status != Outcome::Placeholder;
        return false;
    }

    // True when the run evaluated `entry` and it returned values.
    static bool evaluated(const CheckContext &c, const char *entry) {
        for (const Outcome &e : c.outcomes)
            if (e.name == entry) return e.hasValues();
        return false;
    }

    // The values of `j`'s rule where kept_ holds them at `at`; false when
    // one is not finite.
    static bool valuesAt(const Judged &j, size_t at, RuleState &s) {
        for (size_t e = 0; e < j.entries; ++e) {
            s.v[e] = j.v[e][at];
            if (!std::isfinite(s.v[e])) return false;
        }
        return true;
    }

    // Temperature `T` (K) in the user's unit: "650 °C".
    static std::string temperature(const CheckContext &c, double T) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.6g %s", c.units.toUser(VULMORA_QTY_TEMPERATURE, T),
                      temperatureUnitName(c.config.units.temp));
        return buf;
    }

    // The first place, by step then node (a curve's point), where the
    // values of `j`'s rule contradict it; "" when none does.
    std::string judgePlace(const CheckContext &c, const Judged &j) const {
        const ConsistencyRule &r = *j.rule;
        const Path *path = c.sample.path();
        size_t at = 0; // where kept_ holds node i of step s
        for (size_t s = 0; s < j.steps; ++s)
            for (const auto &[first, end] : runs_)
                for (size_t i = first; i < end; ++i, ++at) {
                    RuleState st;
                    if (!valuesAt(j, at, st) || !r.contradicts(st, st)) continue;
                    if (path && i < path->points())
                        return contradictionText(
                            r, " at " + temperature(c, path->values[column::t1][i]), st, st);
                    char where[80];
                    std::snprintf(where, sizeof where, " at node %zu, step %zu", i + 1, s + 1);
                    return contradictionText(r, where, st, st);
                }
        return "";
    }

    // A rule of two states on a curve: between its points of the solid at
    // each step, the first finding by step, then the cooler point; "" when
    // none.
    std::string judgeTrendOnPath(const CheckContext &c, const Judged &j) {
        const Path &path = *c.sample.path();
        const size_t points = std::min(nnod_, path.points());
        for (size_t s = 0; s < j.steps; ++s) {
            states_.clear();
            size_t at = s * evaluatedNodes_;
            for (const auto &[first, end] : runs_)
                for (size_t i = first; i < end && i < points; ++i, ++at) {
                    PlacedState p;
                    p.place = s * nnod_ + i;
                    p.s.T = path.values[column::t1][i];
                    if (fs_[at] >= 1.0f && valuesAt(j, at, p.s)) states_.push_back(p);
                }
            order_.assign(states_);
            PlacedState hot, cold;
            if (!order_.first(*j.rule, states_, states_.size(), hot, cold)) continue;
            return contradictionText(
                *j.rule, " from " + temperature(c, cold.s.T) + " to " + temperature(c, hot.s.T),
                hot.s, cold.s);
        }
        return "";
    }

    // Every rule of two states of `judged` on the sample, in one pass over
    // the nodes: between the steps of each node as it cools, each node's
    // states ordered once for all of them. The first finding by the cooler
    // state's step, then node. The nodes go a block at a time, each step's
    // row of the block copied first: a few sequential reads, where a node
    // at a time would read each step's row far from the last.
    void judgeTrendsOnNodes(const CheckContext &c, std::vector<Judged> &judged) {
        std::vector<Judged *> trends;
        size_t steps = 0;
        for (Judged &j : judged)
            if (j.rule->trend) trends.push_back(&j), steps = std::max(steps, j.steps);
        if (trends.empty()) return;
        const size_t evaluated = evaluatedNodes_;
        blockT_.resize(steps * kBlock), blockFs_.resize(steps * kBlock);
        blockValues_.resize(trends.size() * 2 * steps * kBlock);
        states_.resize(steps), stepOf_.resize(steps);
        auto block = [&](size_t q, size_t e) {
            return &blockValues_[(q * 2 + e) * steps * kBlock];
        };
        size_t node[kBlock];
        auto run = runs_.begin();
        for (size_t r0 = 0, i = run->first; r0 < evaluated; r0 += kBlock) {
            const size_t n = std::min(kBlock, evaluated - r0);
            for (size_t b = 0; b < n; ++b, ++i) {
                if (i == run->second) ++run, i = run->first;
                node[b] = i;
            }
            for (size_t s = 0; s < steps; ++s) {
                std::copy_n(&T_[s * evaluated + r0], n, &blockT_[s * kBlock]);
                std::copy_n(&fs_[s * evaluated + r0], n, &blockFs_[s * kBlock]);
            }
            for (size_t q = 0; q < trends.size(); ++q)
                for (size_t e = 0; e < trends[q]->entries; ++e)
                    for (size_t s = 0; s < trends[q]->steps; ++s)
                        std::copy_n(trends[q]->v[e] + s * evaluated + r0, n,
                                    block(q, e) + s * kBlock);
            for (size_t b = 0; b < n; ++b) {
                // A node whose fields and values match, bit for bit, those
                // of the node before it finds nothing that one did not find
                // first: it is passed over. (The sample's fields vary with
                // the depth alone, so neighbours are often alike.)
                const bool sameFields = b > 0 && sameAsLast(&blockT_[0], b, steps) &&
                                        sameAsLast(&blockFs_[0], b, steps);
                size_t ordered = SIZE_MAX, solid = 0; // the steps solidStates() read, its states
                for (size_t q = 0; q < trends.size(); ++q) {
                    Judged &j = *trends[q];
                    // The cooler state of a later find must be of an
                    // earlier step.
                    const size_t before = j.found ? j.cold.place / nnod_ : j.steps;
                    if (before == 0) continue;
                    bool same = sameFields;
                    for (size_t e = 0; e < j.entries && same; ++e)
                        same = sameAsLast(block(q, e), b, j.steps);
                    if (same) continue;
                    if (ordered != j.steps) solid = solidStates(node[b], b, ordered = j.steps);
                    if (solid < 2) continue;
                    size_t earlier = 0;
                    while (earlier < solid && stepOf_[earlier] < before)
                        ++earlier;
                    for (size_t e = 0; e < j.entries; ++e) {
                        const double *v = block(q, e) + b;
                        for (size_t k = 0; k < solid; ++k)
                            states_[k].s.v[e] = v[stepOf_[k] * kBlock];
                    }
                    PlacedState hot, cold;
                    const std::span<const PlacedState> states(states_.data(), solid);
                    if (!order_.first(*j.rule, states, earlier, hot, cold)) continue;
                    j.found = true, j.hot = hot, j.cold = cold;
                }
            }
        }
        for (Judged *j : trends) {
            if (!j->found) continue;
            char where[160];
            std::snprintf(where, sizeof where, " at node %zu from %s (step %zu) to %s (step %zu)",
                          j->cold.place % nnod_ + 1, temperature(c, j->cold.s.T).c_str(),
                          j->cold.place / nnod_ + 1, temperature(c, j->hot.s.T).c_str(),
                          j->hot.place / nnod_ + 1);
            j->text = contradictionText(*j->rule, where, j->hot.s, j->cold.s);
        }
    }

    // Whether place b of a block's rows `rows` of `steps` steps holds what
    // place b - 1 holds, bit for bit.
    template <class V> static bool sameAsLast(const V *rows, size_t b, size_t steps) {
        for (size_t s = 0; s < steps; ++s)
            if (std::memcmp(&rows[s * kBlock + b], &rows[s * kBlock + b - 1], sizeof(V)) != 0)
                return false;
        return true;
    }

    // Into states_ and stepOf_ (as long as `steps`) the states of the
    // solid of node i (place b of the block) over `steps` steps, in their
    // order, and their order when there are two; how many.
    size_t solidStates(size_t i, size_t b, size_t steps) {
        PlacedState *states = states_.data();
        size_t *stepOf = stepOf_.data(), n = 0;
        for (size_t s = 0; s < steps; ++s) {
            if (!(blockFs_[s * kBlock + b] >= 1.0f)) continue;
            states[n].place = s * nnod_ + i;
            states[n].s.T = blockT_[s * kBlock + b];
            stepOf[n++] = s;
        }
        if (n >= 2) order_.assign(std::span<const PlacedState>(states, n));
        return n;
    }
};

} // namespace

std::unique_ptr<Check> makeConsistencyCheck() {
    return std::make_unique<ConsistencyCheck>();
}

} // namespace vhost

// consistency_check.cpp - every run: the entry points that constrain each
// other, judged together at the same nodes and steps (a curve's points)
// by the rules of consistency.h. Each rule broken is reported once, at
// its first place, with the values there. A warning, unless --strict
// makes it a problem.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>

#include "checks/check.h"
#include "checks/consistency.h"
#include "include/vulmora/getVar.h"
#include "model/path.h"
#include "model/sample.h"
#include "platform/pages.h"

namespace vhost {

namespace {

// The temperature and solid fraction of every evaluated node (those of
// `material` not 0) at every step (step-major), as the host's fields hold
// them.
struct Fields {
    std::vector<float> T, fs;
};

Fields sampleFields(Sample &sample, size_t steps, const std::vector<uint8_t> &material) {
    Fields f;
    const size_t nnod = std::min(static_cast<size_t>(sample.nnod), material.size());
    for (size_t s = 0; s < steps; ++s) {
        sample.setStep(static_cast<int>(s) + 1, false);
        sample.fill(sample.t1.data());
        sample.fill(sample.fs1.data());
        for (size_t i = 0; i < nnod; ++i)
            if (material[i]) f.T.push_back(sample.t1[i]), f.fs.push_back(sample.fs1[i]);
    }
    return f;
}

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
        const size_t nnod = c.nodeMaterial.size();
        if (rank_.size() != nnod) {
            rank_.assign(nnod, 0);
            evaluatedNodes_ = 0;
            for (size_t i = 0; i < nnod; ++i)
                if (c.nodeMaterial[i]) rank_[i] = evaluatedNodes_++;
        }
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
        const size_t nnod = c.nodeMaterial.size();
        if (nnod == 0 || evaluatedNodes_ == 0) return true;
        bool fieldsRead = false;
        for (const ConsistencyRule &r : consistencyRules()) {
            const std::vector<double> *v[2] = {};
            size_t steps = SIZE_MAX;
            for (size_t j = 0; j < ruleEntries(r); ++j) {
                const auto at = kept_.find(r.entries[j]);
                if (at == kept_.end() || !evaluated(c, r.entries[j])) steps = 0;
                if (at == kept_.end()) break;
                v[j] = &at->second;
                steps = std::min(steps, v[j]->size() / evaluatedNodes_);
            }
            if (steps == 0 || steps == SIZE_MAX) continue;
            steps = std::min(steps, static_cast<size_t>(c.sample.steps));
            if (r.trend && !fieldsRead) {
                fields_ =
                    sampleFields(c.sample, static_cast<size_t>(c.sample.steps), c.nodeMaterial);
                fieldsRead = true;
            }
            const std::string text =
                r.trend ? judgeTrend(c, r, v, steps) : judgePlace(c, r, v, steps);
            if (text.empty()) continue;
            f.warnOrFail(strict_, text, f.contradictions);
        }
        return true;
    }

    bool counted() const override { return strict_; }
    bool needsValues() const override { return false; }

  private:
    bool strict_ = false;
    std::map<std::string, std::vector<double>> kept_; // the values of the rules' entry points
    // Each evaluated node's place among them (kept_ holds theirs alone).
    std::vector<size_t> rank_;
    size_t evaluatedNodes_ = 0;
    Fields fields_;

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

    // Where kept_ and fields_ hold evaluated node i of step s, s * nnod + i.
    size_t evaluatedAt(size_t index) const {
        const size_t nnod = rank_.size();
        return index / nnod * evaluatedNodes_ + rank_[index % nnod];
    }

    // Rule `r`'s state at `index`, evaluated node i (0-based) of step s
    // (0-based) at s * nnod + i; false when a value there is not finite.
    bool stateAt(const ConsistencyRule &r, const std::vector<double> *const v[2], size_t index,
                 RuleState &s) const {
        const size_t at = evaluatedAt(index);
        for (size_t j = 0; j < ruleEntries(r); ++j) {
            s.v[j] = (*v[j])[at];
            if (!std::isfinite(s.v[j])) return false;
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
    // values of `r` contradict it; "" when none does.
    std::string judgePlace(const CheckContext &c, const ConsistencyRule &r,
                           const std::vector<double> *const v[2], size_t steps) const {
        const size_t nnod = c.nodeMaterial.size();
        const Path *path = c.sample.path();
        for (size_t s = 0; s < steps; ++s)
            for (size_t i = 0; i < nnod; ++i) {
                RuleState st;
                if (!c.nodeMaterial[i] || !stateAt(r, v, s * nnod + i, st)) continue;
                if (!r.contradicts(st, st)) continue;
                char where[80];
                if (path && i < path->points())
                    return contradictionText(
                        r, " at " + temperature(c, path->values[column::t1][i]), st, st);
                std::snprintf(where, sizeof where, " at node %zu, step %zu", i + 1, s + 1);
                return contradictionText(r, where, st, st);
            }
        return "";
    }

    // A rule of two states of the solid: on a curve between its points at
    // each step, on the sample between the steps of each node as it cools.
    // The first finding by the cooler state's step, then node; "" when none.
    std::string judgeTrend(const CheckContext &c, const ConsistencyRule &r,
                           const std::vector<double> *const v[2], size_t steps) const {
        const size_t nnod = c.nodeMaterial.size();
        const Path *path = c.sample.path();
        auto solid = [&](size_t index, PlacedState &p) {
            p.place = index;
            if (!c.nodeMaterial[index % nnod]) return false;
            const size_t at = evaluatedAt(index);
            p.s.T = fields_.T[at];
            return fields_.fs[at] >= 1.0f && stateAt(r, v, index, p.s);
        };
        std::vector<PlacedState> states;
        PlacedState hot, cold, firstHot, firstCold;
        bool found = false;
        if (path) {
            for (size_t s = 0; s < steps && !found; ++s) {
                states.clear();
                for (size_t i = 0; i < nnod && i < path->points(); ++i) {
                    PlacedState p;
                    if (!solid(s * nnod + i, p)) continue;
                    p.s.T = path->values[column::t1][i];
                    states.push_back(p);
                }
                found = firstTrendContradiction(r, states, firstHot, firstCold);
            }
            if (!found) return "";
            return contradictionText(
                r, " from " + temperature(c, firstCold.s.T) + " to " + temperature(c, firstHot.s.T),
                firstHot.s, firstCold.s);
        }
        for (size_t i = 0; i < nnod; ++i) {
            states.clear();
            for (size_t s = 0; s < steps; ++s) {
                PlacedState p;
                if (solid(s * nnod + i, p)) states.push_back(p);
            }
            if (!firstTrendContradiction(r, states, hot, cold)) continue;
            if (found && cold.place / nnod >= firstCold.place / nnod) continue;
            found = true, firstHot = hot, firstCold = cold;
        }
        if (!found) return "";
        char where[160];
        std::snprintf(where, sizeof where, " at node %zu from %s (step %zu) to %s (step %zu)",
                      firstCold.place % nnod + 1, temperature(c, firstCold.s.T).c_str(),
                      firstCold.place / nnod + 1, temperature(c, firstHot.s.T).c_str(),
                      firstHot.place / nnod + 1);
        return contradictionText(r, where, firstHot.s, firstCold.s);
    }
};

} // namespace

std::unique_ptr<Check> makeConsistencyCheck() {
    return std::make_unique<ConsistencyCheck>();
}

} // namespace vhost

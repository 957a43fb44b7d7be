// order_check.cpp - --check-order: the nodes of every step in a shuffled
// order, each called twice, must give bit-identical values (no hidden state).
#include "checks/check.h"

namespace vhost {

namespace {

class OrderCheck final : public Check {
  public:
    bool wanted(const CheckSettings &s) const override { return s.order; }

    // One worker: shuffled, every call twice.
    void plan(const CheckContext &c, size_t k, std::vector<CheckWork> &work) const override {
        CheckWork w{k, this, 0,
                    makeWorker(c.outcomes[k].name, WorkerKind::Order, c.config, ".order")};
        w.worker->extra = {"--order-seed", "7"};
        work.push_back(std::move(w));
    }

    // Any value not bit-identical to the entry point's own run.
    void judge(const CheckContext &c, const CheckWork &w, const Outcome &r,
               CheckFindings &f) const override {
        const Outcome &base = c.outcomes[w.outcome];
        std::string text;
        if (r.status != Outcome::Ok || r.result.values.empty()) {
            text =
                checkWorkerFailure(base, "in a shuffled order of the nodes", r, c.config.timeLimit);
        } else {
            for (const Finding &found :
                 checkOrder(base.name, base.result.values, r.result.values, c.nodeMaterial)) {
                const bool shuffled = found.what.find("shuffled") != std::string::npos;
                text += findingText(found, shuffled ? "in node order" : "first call",
                                    shuffled ? "shuffled" : "second call");
            }
        }
        if (text.empty()) return;
        f.perEntry[w.outcome] += text;
        f.flag(w.outcome);
    }

    const char *changeLabel() const override { return "order check"; }
};

} // namespace

std::unique_ptr<Check> makeOrderCheck() {
    return std::make_unique<OrderCheck>();
}

} // namespace vhost

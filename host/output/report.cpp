// report.cpp - the summary table and the files of the output folder.
#include "output/report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>

#include "output/saved_run.h"
#include "output/outdir.h"
#include "model/caller.h"
#include "model/sample.h"
#include "output/statistics.h"
#include "output/vtu.h"

namespace vhost {

namespace fs = std::filesystem;

namespace {

// A time per call, in the unit that keeps it readable.
std::string perCall(double seconds, int64_t calls) {
    if (calls <= 0) return "-";
    double t = seconds / static_cast<double>(calls);
    char buf[32];
    if (t < 1e-6)
        std::snprintf(buf, sizeof buf, "%.0f ns", t * 1e9);
    else if (t < 1e-3)
        std::snprintf(buf, sizeof buf, "%.1f us", t * 1e6);
    else
        std::snprintf(buf, sizeof buf, "%.1f ms", t * 1e3);
    return buf;
}

// Calls per second, "-" when nothing was timed.
std::string perSecond(double seconds, int64_t calls) {
    if (calls <= 0 || !(seconds > 0)) return "-";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3g", static_cast<double>(calls) / seconds);
    return buf;
}

// The status column.
std::string statusText(const Outcome &o) {
    switch (o.status) {
    case Outcome::Ok:
        return "ok";
    case Outcome::NonFinite:
        return "non-finite";
    case Outcome::Unmarked:
        return "unmarked read";
    case Outcome::Placeholder:
        return "placeholder";
    case Outcome::Stopped:
        return "stopped (" + std::to_string(o.exitStatus) + ")";
    case Outcome::Crashed:
        return "crashed";
    case Outcome::TimedOut:
        return "timed out";
    case Outcome::Modified:
        return "wrote input";
    case Outcome::Forked:
        return "forked";
    case Outcome::Interfered:
        return "interfered";
    case Outcome::NotExported:
        return "not exported";
    case Outcome::EmulatorError:
        return "emulator error";
    case Outcome::Error:
        break;
    }
    return "error";
}
} // namespace

std::string fieldName(const Outcome &o) {
    return o.name == "externalcompute" ? o.name : "func_" + o.name;
}

// ---- statistics ------------------------------------------------------------

namespace {

// The nodes evaluated, as runs of one material in node order, and the
// statistics of values added a run (or part of one) at a time, in
// step-major order: the first non-finite value is the earliest step's
// lowest node.
class Summary {
  public:
    Summary(size_t nnod, const std::vector<uint8_t> *nodeMaterial) : n_(nnod) {
        for (size_t i = 0, end; i < n_; i = end) {
            const uint8_t m = nodeMaterial ? (*nodeMaterial)[i] : 1;
            for (end = i + 1; end < n_ && (nodeMaterial ? (*nodeMaterial)[end] : 1) == m;)
                ++end;
            if (m == 0) continue; // not evaluated
            both_ = both_ || (!runs_.empty() && runs_.front().material != m);
            runs_.push_back({i, end, m});
        }
    }
    struct Run {
        size_t first, end;
        uint8_t material;
    };
    const std::vector<Run> &runs() const { return runs_; }

    // v[0..count) of run r at step `step` (0-based), from its node `from`.
    void add(const Run &r, size_t step, size_t from, const double *v, size_t count) {
        // Locals, kept in registers through the run; with one material its
        // range is that of all.
        ValueRange any = all_.finite, mine = r.material == 1 ? casting_ : mould_;
        for (size_t i = 0; i < count; ++i)
            if (std::isfinite(v[i])) {
                any.add(v[i]);
                if (both_) mine.add(v[i]);
            } else {
                all_.add(v[i], step * n_ + from + i);
            }
        all_.finite = any;
        (r.material == 1 ? casting_ : mould_) = both_ ? mine : any;
    }

    void into(Outcome &o) const {
        o.min = all_.finite.min, o.max = all_.finite.max, o.mean = all_.finite.mean();
        o.finite = all_.finite.finite, o.nonFinite = all_.nonFinite;
        if (all_.nonFinite) {
            o.badStep = static_cast<int>(all_.firstBad / n_) + 1;
            o.badNode = static_cast<int>(all_.firstBad % n_) + 1;
            o.badValue = all_.firstBadValue;
        }
        int m = 0;
        for (const ValueRange &r : {casting_, mould_})
            o.perMaterial[m++] = {r.min, r.max, r.mean(), r.finite};
    }

  private:
    size_t n_;
    std::vector<Run> runs_;
    bool both_ = false;
    ValueStatistics all_;
    ValueRange casting_, mould_;
};

} // namespace

void computeStatistics(Outcome &o, int nnod, const std::vector<uint8_t> *nodeMaterial) {
    const auto &v = o.result.values;
    const size_t n = static_cast<size_t>(nnod);
    Summary sum(n, nodeMaterial);
    for (size_t step = 0; n && step * n < v.size(); ++step) {
        const double *s = v.data() + step * n;
        const size_t nodes = std::min(n, v.size() - step * n);
        for (const Summary::Run &r : sum.runs())
            if (r.first < nodes)
                sum.add(r, step, r.first, s + r.first, std::min(r.end, nodes) - r.first);
    }
    sum.into(o);
}

bool computeStatistics(Outcome &o, int nnod, const std::vector<uint8_t> &nodeMaterial,
                       const ValuePieces &read) {
    const size_t n = static_cast<size_t>(nnod);
    Summary sum(n, &nodeMaterial);
    if (sum.runs().empty()) return false;
    size_t step = 0, run = 0, at = sum.runs()[0].first; // where the next value goes
    const bool whole = read([&](const double *v, size_t count) {
        while (count > 0) {
            const Summary::Run &r = sum.runs()[run];
            const size_t take = std::min(count, r.end - at);
            sum.add(r, step, at, v, take);
            v += take, count -= take, at += take;
            if (at == r.end) {
                if (++run == sum.runs().size()) run = 0, ++step;
                at = sum.runs()[run].first;
            }
        }
    });
    if (!whole) return false;
    sum.into(o);
    return true;
}

// ---- the terminal ---------------------------------------------------------

std::string summaryTable(const std::vector<Outcome> &outcomes, bool perMaterial) {
    std::string t;
    char line[256];
    std::snprintf(line, sizeof line, "%-30s %-14s %13s %13s %13s %10s %10s %10s\n", "entry point",
                  "status", "min", "mean", "max", "evaluated", "time/call", "calls/s");
    t += line;
    for (const Outcome &o : outcomes) {
        std::string name = fieldName(o);
        if (!o.result.mechName.empty()) name += " (" + o.result.mechName + ")";
        const int64_t calls = o.hasValues() ? o.result.calls : 0;
        // Processor time of the worker's thread inside the calls, which a
        // busy machine does not stretch; the wall clock where that clock is
        // too coarse to have counted them (Windows' ticks).
        const double inCalls = o.result.cpuSeconds > 0 ? o.result.cpuSeconds : o.result.seconds;
        if (o.hasValues() && o.finite > 0)
            std::snprintf(line, sizeof line, "%-30s %-14s %13.6g %13.6g %13.6g %10lld %10s %10s\n",
                          name.c_str(), statusText(o).c_str(), o.min, o.mean, o.max,
                          static_cast<long long>(calls), perCall(inCalls, calls).c_str(),
                          perSecond(inCalls, calls).c_str());
        else
            std::snprintf(line, sizeof line, "%-30s %-14s %13s %13s %13s %10lld %10s %10s\n",
                          name.c_str(), statusText(o).c_str(), "-", "-", "-",
                          static_cast<long long>(calls), perCall(inCalls, calls).c_str(),
                          perSecond(inCalls, calls).c_str());
        t += line;
        if (!perMaterial || !o.hasValues()) continue;
        static const char *const materials[2] = {"  material 1 (casting)", "  material 2 (mould)"};
        for (int m = 0; m < 2; ++m) {
            const Outcome::Range &r = o.perMaterial[m];
            if (r.finite == 0) continue;
            std::snprintf(line, sizeof line, "%-30s %-14s %13.6g %13.6g %13.6g\n", materials[m], "",
                          r.min, r.mean, r.max);
            t += line;
        }
    }
    return t;
}

// Printable ASCII as is; newline, tab, quote, backslash and the rest escaped.
std::string escaped(const std::string &text, size_t keep) {
    std::string out = "\"";
    size_t from = text.size() > keep ? text.size() - keep : 0;
    if (from) out = "...\"";
    for (size_t i = from; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '"' || c == '\\')
            out += std::string("\\") + static_cast<char>(c);
        else if (c < 32 || c > 126) {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02x", c);
            out += b;
        } else
            out += static_cast<char>(c);
    }
    return out + "\"";
}

std::string shownPath(const std::string &path) {
    for (unsigned char c : path)
        if (c < 32 || c == 127) return escaped(path);
    return path;
}

std::string lastLines(const std::string &text, size_t lines, const std::string &indent) {
    std::vector<std::string> all;
    size_t at = 0;
    while (at < text.size()) {
        size_t nl = text.find('\n', at);
        if (nl == std::string::npos) nl = text.size();
        all.push_back(text.substr(at, nl - at));
        at = nl + 1;
    }
    std::string out;
    for (size_t k = all.size() > lines ? all.size() - lines : 0; k < all.size(); ++k) {
        out += indent;
        for (char c : all[k])
            out += (c >= 32 && c < 127) || c == '\t' ? c : '?';
        out += "\n";
    }
    return out;
}

} // namespace vhost

// common.cpp - the parts of the platform layer that are the same
// everywhere.
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/descriptors.h"
#include "platform/fptrap.h"

#include <algorithm>
#include <cstdio>

namespace vhost::platform {

// The head fills first; after it, the tail keeps the last `keep` bytes
// (trimmed in chunks, so appending stays linear).
void Captured::add(const char *data, size_t n) {
    total += n;
    if (head.size() < keep) {
        size_t take = std::min(n, keep - head.size());
        head.append(data, take);
        data += take, n -= take;
    }
    if (n == 0) return;
    tail.append(data, n);
    if (tail.size() > 2 * keep) tail.erase(0, tail.size() - keep);
}

std::string Captured::text() const {
    if (complete()) return head + tail;
    const std::string last = tail.size() > keep ? tail.substr(tail.size() - keep) : tail;
    const uint64_t dropped = total - head.size() - last.size();
    return head + "\n[... " + std::to_string(dropped) + " bytes not kept ...]\n" + last;
}

std::string FileIdentity::text() const {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%llu bytes, modified %lld, fnv1a %016llx",
                  static_cast<unsigned long long>(size), static_cast<long long>(modified),
                  static_cast<unsigned long long>(hash));
    return buf;
}

RunResult runCaptured(const std::vector<std::string> &args) {
    RunResult out;
    runMany({args}, 1, [&](size_t, RunResult &r) { out = std::move(r); });
    return out;
}

// Descriptor 1 is pointed at the null device; the token is a copy of what
// it was. Nothing is changed when any step fails.
int silenceStdout() {
    std::fflush(stdout);
    const int saved = fd::duplicate(1);
    const int null = fd::openNullForWriting();
    if (saved < 0 || null < 0 || !fd::duplicateOnto(null, 1)) {
        if (saved >= 0) fd::close(saved);
        if (null >= 0) fd::close(null);
        return -1;
    }
    fd::close(null);
    return saved;
}

// Descriptor 1 gets back what the token kept.
void restoreStdout(int token) {
    if (token < 0) return;
    std::fflush(stdout);
    fd::duplicateOnto(token, 1);
    fd::close(token);
}

} // namespace vhost::platform

// ---- floating-point traps: their names, the calls kept ---------------------------

namespace vhost::platform {

namespace {
constexpr struct {
    FpFault fault;
    const char *name, *word;
} kFpFaults[] = {
    {FpFault::Invalid, "invalid operation", "invalid"},
    {FpFault::DivideByZero, "division by zero", "divide-by-zero"},
    {FpFault::Overflow, "overflow", "overflow"},
    {FpFault::Other, "floating-point exception", "other"},
};
} // namespace

void keepCallsAfterFault(FpTrap &trap, void *const *walked, int n, int fallback) {
    int from = fallback;
    for (int k = 0; k < n; ++k)
        if (walked[k] == trap.frames[0]) {
            from = k + 1;
            break;
        }
    trap.depth = 1;
    for (int k = from; k < n && trap.depth < kMaxTrapFrames; ++k)
        trap.frames[trap.depth++] = walked[k];
}

const char *fpFaultName(FpFault f) {
    for (const auto &k : kFpFaults)
        if (k.fault == f) return k.name;
    return "no exception";
}

const char *fpFaultWord(FpFault f) {
    for (const auto &k : kFpFaults)
        if (k.fault == f) return k.word;
    return "none";
}

bool fpFaultOfWord(const std::string &word, FpFault &f) {
    for (const auto &k : kFpFaults)
        if (word == k.word) return f = k.fault, true;
    return false;
}

} // namespace vhost::platform

// call.cpp - the call to make, and the worker's result file.
#include "replay/call.h"

#include <algorithm>
#include <cstring>

namespace vhost {

namespace {

constexpr char kMagic[8] = {'V', 'M', 'R', 'P', 'L', 'Y', '0', '1'};

// The counts and the arrays after the fixed part of the file.
bool readRest(FILE *f, Replayed &r) {
    uint32_t n = 0;
    uint64_t nv = 0;
    if (std::fread(&n, sizeof n, 1, f) != 1 || n > kMaxUnrecorded) return false;
    r.unrecorded.resize(n);
    if (n != 0 && std::fread(r.unrecorded.data(), sizeof(vulmora_state_micro), n, f) != n)
        return false;
    if (std::fread(&nv, sizeof nv, 1, f) != 1 || nv > (uint64_t{1} << 32)) return false;
    r.values.resize(static_cast<size_t>(nv));
    if (nv != 0 && std::fread(r.values.data(), sizeof(double), r.values.size(), f) != nv)
        return false;
    uint32_t nm = 0;
    if (std::fread(&r.marksDiffer, sizeof r.marksDiffer, 1, f) != 1 ||
        std::fread(&nm, sizeof nm, 1, f) != 1 || nm > kMaxMarksText)
        return false;
    r.marks.resize(nm);
    return nm == 0 || std::fread(r.marks.data(), 1, nm, f) == nm;
}

} // namespace

double fromBits(uint64_t bits) {
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

uint64_t toBits(double v) {
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

bool chooseTarget(const ReplaySettings &o, const State &st, Target &t, std::string &error) {
    const vulmora_state_header &h = st.header();
    t.entry = h.entry;
    t.node = h.argument;
    if (!o.entry.empty()) t.entry = o.entry;
    if (o.node) t.node = o.node;
    if (t.entry.empty())
        return error = "the state holds no call: name one with --functions NAME --node N", false;
    if (t.entry != "externalcompute" && (t.node < 1 || t.node > h.nnod))
        return error = "node " + std::to_string(t.node) + " is not a node of the state (1.." +
                       std::to_string(h.nnod) + ")",
               false;
    t.captured = h.entry[0] && t.entry == h.entry && t.node == h.argument &&
                 h.outcome != VULMORA_OUTCOME_NONE;
    return true;
}

// The magic, kind, completeness and bits; the look-ups not recorded with
// their count; the every-node values with theirs; whether the marks
// differ, and their text with its length.
void writeResultFile(FILE *f, const Replayed &r) {
    const uint32_t n = static_cast<uint32_t>(r.unrecorded.size());
    const uint64_t nv = r.values.size();
    std::fseek(f, 0, SEEK_SET);
    std::fwrite(kMagic, 1, 8, f);
    std::fwrite(&r.kind, sizeof r.kind, 1, f);
    std::fwrite(&r.complete, sizeof r.complete, 1, f);
    std::fwrite(&r.bits, sizeof r.bits, 1, f);
    std::fwrite(&n, sizeof n, 1, f);
    if (n) std::fwrite(r.unrecorded.data(), sizeof(vulmora_state_micro), n, f);
    std::fwrite(&nv, sizeof nv, 1, f);
    if (nv) std::fwrite(r.values.data(), sizeof(double), r.values.size(), f);
    const uint32_t nm = static_cast<uint32_t>(std::min<size_t>(r.marks.size(), kMaxMarksText));
    std::fwrite(&r.marksDiffer, sizeof r.marksDiffer, 1, f);
    std::fwrite(&nm, sizeof nm, 1, f);
    if (nm) std::fwrite(r.marks.data(), 1, nm, f);
    std::fflush(f);
}

bool readResultFile(const std::string &path, Replayed &r) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char magic[8];
    const bool ok = std::fread(magic, 1, 8, f) == 8 && std::memcmp(magic, kMagic, 8) == 0 &&
                    std::fread(&r.kind, sizeof r.kind, 1, f) == 1 &&
                    std::fread(&r.complete, sizeof r.complete, 1, f) == 1 &&
                    std::fread(&r.bits, sizeof r.bits, 1, f) == 1 && readRest(f, r);
    std::fclose(f);
    return ok;
}

} // namespace vhost

// marks.cpp - a local-mode call replayed as the solver's next run makes
// it: first the registration call of the library being replayed, whose
// marks give the slots; then the node's values in those slots, taken from
// the captured slots where the captured call had marked the same quantity.
#include <cmath>
#include <cstring>
#include <string>

#include "model/caller.h"
#include "replay/call.h"

namespace vhost {

namespace {

constexpr size_t kC = VULMORA_LASTP_CONSTITUENTS, kA = VULMORA_LASTP_AUXILIARIES;

// The indices a captured mic_lastp marked, of one kind: slots 0, 1, ...
// go to the marked ones in the order of their indices, so an index is
// marked when its slot is the next one and that slot holds no unmarked NaN.
std::vector<int> markedOf(const int *lastp, const double *loc, size_t first, size_t valueFirst,
                          int count) {
    std::vector<int> out;
    int next = 0;
    for (int i = 0; i < count; ++i) {
        const int slot = lastp[first + static_cast<size_t>(i)];
        Unmarked kind;
        int index = 0;
        if (slot != next) continue;
        if (loc && decodeUnmarked(loc[valueFirst + static_cast<size_t>(slot)], kind, index))
            continue;
        out.push_back(i);
        ++next;
    }
    return out;
}

// The value a newly marked quantity has at 0-based node `i`: the saved
// sample's field, a recorded look-up, else NaN (and noted as not recorded).
double uncaptured(const State &st, int kind, int index, int i, Replayed &out) {
    const vulmora_state_header &h = st.header();
    const int rows =
        kind == VULMORA_MICRO_CONSTITUENT ? h.sample_constituents : h.sample_auxiliaries;
    const double *whole =
        st.array<double>(kind == VULMORA_MICRO_CONSTITUENT ? VULMORA_SECTION_sample_micro
                                                           : VULMORA_SECTION_sample_aux);
    if (whole && index < rows)
        return whole[static_cast<size_t>(index) * static_cast<size_t>(h.nnod) +
                     static_cast<size_t>(i)];
    for (size_t k = 0; k < st.microCount(); ++k) {
        const vulmora_state_micro &r = st.micro()[k];
        if (r.kind == kind && r.index == index && r.node == i) return r.value;
    }
    if (out.unrecorded.size() < kMaxUnrecorded)
        out.unrecorded.push_back({kind, index, i, 0, std::nan("")});
    return std::nan("");
}

// Whether `of` holds `index`.
bool holds(const std::vector<int> &of, int index) {
    for (int v : of)
        if (v == index) return true;
    return false;
}

// loc_micro and loc_poro for 0-based node `i` under the marks `now`.
void fillValues(Library &lib, const State &st, const Marks &now, const Marks &was, int i,
                Replayed &out) {
    const int *capLastp = st.array<int>(VULMORA_SECTION_mic_lastp);
    const double *capLoc = st.array<double>(VULMORA_SECTION_loc_micro);
    double *loc = *lib.x.loc_micro;
    const struct {
        const std::vector<int> &now, &was;
        size_t entries, values;
        int kind;
    } kinds[] = {
        {now.constituents, was.constituents, kC, VULMORA_LOC_MICRO_CONSTITUENTS,
         VULMORA_MICRO_CONSTITUENT},
        {now.auxiliaries, was.auxiliaries, kA, VULMORA_LOC_MICRO_AUXILIARIES,
         VULMORA_MICRO_AUXILIARY},
    };
    for (const auto &k : kinds) {
        size_t slot = 0;
        for (int q : k.now)
            loc[k.values + slot++] =
                holds(k.was, q) && capLoc
                    ? capLoc[k.values + static_cast<size_t>(capLastp[k.entries + size_t(q)])]
                    : uncaptured(st, k.kind, q, i, out);
    }
    const float *vf = st.array<float>(VULMORA_SECTION_vf_s1);
    *lib.x.loc_poro = !now.poros  ? unmarkedNaN(Unmarked::Porosity, 0)
                      : was.poros ? st.header().loc_poro
                      : vf        ? double(vf[i])
                                  : std::nan("");
}

// "getFraction(1), getMicro(0)", or "nothing".
std::string namesOf(const Marks &m) {
    std::string t;
    auto add = [&](const std::string &s) { t += (t.empty() ? "" : ", ") + s; };
    for (int c : m.constituents)
        add("getFraction(" + std::to_string(c) + ")");
    for (int a : m.auxiliaries)
        add("getMicro(" + std::to_string(a) + ")");
    if (m.poros) add("getDefect(1)");
    return t.empty() ? "nothing" : t;
}

} // namespace

Marks capturedMarks(const State &st) {
    Marks m;
    const int *lastp = st.array<int>(VULMORA_SECTION_mic_lastp);
    if (!lastp) return m;
    const double *loc = st.array<double>(VULMORA_SECTION_loc_micro);
    m.constituents =
        markedOf(lastp, loc, kC, VULMORA_LOC_MICRO_CONSTITUENTS, VULMORA_MAX_CONSTITUENTS);
    m.auxiliaries =
        markedOf(lastp, loc, kA, VULMORA_LOC_MICRO_AUXILIARIES, VULMORA_MAX_AUXILIARIES);
    m.poros = lastp[VULMORA_LASTP_POROS1] != 0;
    return m;
}

bool sameMarks(const Marks &a, const Marks &b) {
    return a.poros == b.poros && a.constituents == b.constituents && a.auxiliaries == b.auxiliaries;
}

std::string marksText(const Marks &now, const Marks &was) {
    if (sameMarks(now, was)) return "as captured: " + namesOf(now);
    return "this library's registration call marks " + namesOf(now) +
           "; the captured call's had marked " + namesOf(was);
}

void registerAgain(Library &lib, PropertyFn f, const State &st, int node, Replayed &out) {
    static int lastp[VULMORA_LASTP_LEN]; // the library reads it for the process's life
    std::memset(lastp, 0, sizeof lastp);
    *lib.x.mic_lastp = lastp;
    *lib.x.location = -1;
    const int curNode = *lib.x.cur_node;
    *lib.x.cur_node = 0;
    (void)f(1);
    std::fflush(stdout);
    const Marks now = assignSlots(lastp, *lib.x.loc_micro);
    const Marks was = capturedMarks(st);
    *lib.x.location = 2;
    *lib.x.cur_node = curNode;
    fillValues(lib, st, now, was, node - 1, out);
    out.marks = marksText(now, was);
    out.marksDiffer = !sameMarks(now, was);
}

} // namespace vhost

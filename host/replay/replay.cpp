// replay.cpp - a captured call on the bench, and the sample as a state file.
//
// The parent checks the file and the library, then runs this program again
// as a hidden worker (--replay-worker FILE) that binds the state to the
// library's exchange block and makes the one call; the parent never runs
// user code. The worker hands back the result bits and the microstructure
// look-ups the capture had not recorded in a small result file, in a fresh
// private folder; a stop or a crash ends only the worker, and the parent
// sees the printed text and the exit status or signal as the host would.
#include "replay/replay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "model/binding.h"
#include "model/entries.h"
#include "mikral.h"
#include "platform/platform.h"
#include "output/outdir.h"
#include "output/report.h"
#include "model/sample.h"
#include "replay/state.h"

namespace vhost {

namespace fs = std::filesystem;

namespace {

constexpr char kMagic[8] = {'V', 'M', 'R', 'P', 'L', 'Y', '0', '1'};
constexpr int32_t kReturned = 1;
constexpr uint32_t kMaxUnrecorded = 4096; // look-ups reported, at most

// What the worker hands back.
struct Replayed {
    int32_t kind = 0;     // kReturned, else the call did not return
    int32_t complete = 0; // 1: the worker did everything (--all-nodes included)
    uint64_t bits = 0;
    std::vector<vulmora_state_micro> unrecorded;
    std::vector<double> values; // --all-nodes: one per node
};

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

// The call to make: the captured one, or --functions/--node on a saved state.
struct Target {
    std::string entry;
    int node = 0;
    bool captured = false; // the file holds this call's outcome
};

bool chooseTarget(const Options &o, const State &st, Target &t, std::string &error) {
    const vulmora_state_header &h = st.header();
    t.entry = h.entry;
    t.node = h.argument;
    if (!o.functions.empty()) t.entry = o.functions[0];
    if (o.probeNode) t.node = o.probeNode;
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

// ---- the worker's side ---------------------------------------------------------

// The microstructure the call can see: the emulator's whole fields for a
// saved sample; for a capture only the recorded look-ups, every other value
// NaN (and reported as not recorded).
struct Micro {
    MikralModel *model = nullptr;
    MikralCatalog *catalog = nullptr;
    bool whole = false;
    ~Micro() {
        mikral_model_destroy(model);
        mikral_catalog_destroy(catalog);
    }
};

void buildMicro(const State &st, Micro &m) {
    const vulmora_state_header &h = st.header();
    const double *cm = st.array<double>(VULMORA_SECTION_sample_micro);
    const double *am = st.array<double>(VULMORA_SECTION_sample_aux);
    if (cm || am) {
        m.whole = true;
        m.catalog = sampleCatalog();
        const int nc = cm ? h.sample_constituents : 0, na = am ? h.sample_auxiliaries : 0;
        m.model = mikral_model_create(h.nnod, nc, na);
        const size_t n = static_cast<size_t>(h.nnod);
        for (int c = 0; c < nc; ++c)
            for (size_t i = 0; i < n; ++i)
                mikral_model_set_constituent(m.model, c, static_cast<int>(i),
                                             cm[size_t(c) * n + i]);
        for (int a = 0; a < na; ++a)
            for (size_t i = 0; i < n; ++i)
                mikral_model_set_auxiliary(m.model, a, static_cast<int>(i), am[size_t(a) * n + i]);
        return;
    }
    // The names the call obtained, and no others.
    m.catalog = mikral_catalog_create();
    for (uint64_t k = 0; k < st.count(VULMORA_SECTION_micro_names); ++k) {
        const vulmora_state_name &n = st.array<vulmora_state_name>(VULMORA_SECTION_micro_names)[k];
        if (!n.name[0]) continue; // the library had none: it stays without
        (n.kind ? mikral_catalog_add_auxiliary : mikral_catalog_add_constituent)(m.catalog, n.index,
                                                                                 n.name);
    }
    int nc = 0, na = 0;
    for (size_t k = 0; k < st.microCount(); ++k) {
        const vulmora_state_micro &r = st.micro()[k];
        int &top = r.kind == VULMORA_MICRO_CONSTITUENT ? nc : na;
        if (r.index >= top) top = r.index + 1;
    }
    // Only the recorded nodes hold values; the rest are NaN.
    m.model = mikral_model_create(h.nnod, nc, na);
    const double nan = std::nan("");
    for (size_t k = 0; k < st.microCount(); ++k) {
        const vulmora_state_micro &r = st.micro()[k];
        for (int i = 0; i < (r.kind ? na : nc); ++i)
            (r.kind ? mikral_model_set_auxiliary : mikral_model_set_constituent)(m.model, i, r.node,
                                                                                 nan);
    }
    for (size_t k = 0; k < st.microCount(); ++k) {
        const vulmora_state_micro &r = st.micro()[k];
        (r.kind ? mikral_model_set_auxiliary : mikral_model_set_constituent)(m.model, r.index,
                                                                             r.node, r.value);
    }
}

// Value look-ups of the call that the state did not record.
void collectUnrecorded(const State &st, const Micro &m, Replayed &r) {
    if (m.whole) return;
    for (int k = 0; k < mikral_calls_count(); ++k) {
        const MikralCall *c = mikral_calls_get(k);
        const bool name =
            c->function == MIKRAL_CALL_NAME_CNT || c->function == MIKRAL_CALL_NAME_AUX;
        const int kind = c->function == MIKRAL_CALL_VALUE_CNT || c->function == MIKRAL_CALL_NAME_CNT
                             ? VULMORA_MICRO_CONSTITUENT
                             : VULMORA_MICRO_AUXILIARY;
        const int node = name ? -1 : c->node; // a name has no node
        bool known = false;
        if (name) {
            const auto *names = st.array<vulmora_state_name>(VULMORA_SECTION_micro_names);
            for (uint64_t j = 0; j < st.count(VULMORA_SECTION_micro_names) && !known; ++j)
                known = names[j].kind == kind && names[j].index == c->index;
        } else {
            for (size_t j = 0; j < st.microCount() && !known; ++j) {
                const vulmora_state_micro &s = st.micro()[j];
                known = s.kind == kind && s.index == c->index && s.node == c->node;
            }
        }
        for (const vulmora_state_micro &u : r.unrecorded)
            known = known || (u.kind == kind && u.index == c->index && u.node == node);
        if (!known && r.unrecorded.size() < kMaxUnrecorded)
            r.unrecorded.push_back({kind, c->index, node, 0, std::nan("")});
    }
}

struct WorkerFile {
    FILE *file = nullptr; // opened up front, unbuffered: written even after a crash
    const State *state = nullptr;
    const Micro *micro = nullptr;
    Replayed result;
    bool done = false;
};
WorkerFile *gFile = nullptr;

// (Re)write the result file: after the call, at the end, from exit() when
// the call stopped, or from the crash hook (values so far, no look-ups).
void writeResult(bool crashed) {
    WorkerFile *w = gFile;
    if (!w || !w->file) return;
    Replayed &r = w->result;
    if (!crashed && r.kind != kReturned && w->state && w->micro)
        collectUnrecorded(*w->state, *w->micro, r);
    const uint32_t n = static_cast<uint32_t>(r.unrecorded.size());
    const uint64_t nv = r.values.size();
    FILE *f = w->file;
    std::fseek(f, 0, SEEK_SET);
    std::fwrite(kMagic, 1, 8, f);
    std::fwrite(&r.kind, sizeof r.kind, 1, f);
    std::fwrite(&r.complete, sizeof r.complete, 1, f);
    std::fwrite(&r.bits, sizeof r.bits, 1, f);
    std::fwrite(&n, sizeof n, 1, f);
    if (n) std::fwrite(r.unrecorded.data(), sizeof(vulmora_state_micro), n, f);
    std::fwrite(&nv, sizeof nv, 1, f);
    if (nv) std::fwrite(r.values.data(), sizeof(double), r.values.size(), f);
    std::fflush(f);
}
void writeAtExit() {
    if (gFile && !gFile->done) writeResult(false);
}
void writeAtCrash(const void *) {
    if (gFile && !gFile->done) writeResult(true);
}

bool readWorkerFile(const std::string &path, Replayed &r) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char magic[8];
    uint32_t n = 0;
    uint64_t nv = 0;
    bool ok = std::fread(magic, 1, 8, f) == 8 && std::memcmp(magic, kMagic, 8) == 0 &&
              std::fread(&r.kind, sizeof r.kind, 1, f) == 1 &&
              std::fread(&r.complete, sizeof r.complete, 1, f) == 1 &&
              std::fread(&r.bits, sizeof r.bits, 1, f) == 1 &&
              std::fread(&n, sizeof n, 1, f) == 1 && n <= kMaxUnrecorded;
    if (ok) {
        r.unrecorded.resize(n);
        ok = (n == 0 || std::fread(r.unrecorded.data(), sizeof(vulmora_state_micro), n, f) == n) &&
             std::fread(&nv, sizeof nv, 1, f) == 1 && nv <= (uint64_t{1} << 32);
    }
    if (ok) {
        r.values.resize(static_cast<size_t>(nv));
        ok = nv == 0 || std::fread(r.values.data(), sizeof(double), r.values.size(), f) == nv;
    }
    std::fclose(f);
    return ok;
}

// Load, bind, call; `out` gets the outcome. Returns 0, or 2 (with the
// reason on stderr) when the state or the library cannot be used.
int makeCall(const Options &o, const std::string &file, State &st, Micro &micro, Replayed &out) {
    std::string error;
    Library lib;
    if (!loadState(file, st, error) || !lib.open(o.library, error) || !lib.bind(st, error)) {
        std::fprintf(stderr, "vulmora-host: %s\n", error.c_str());
        return 2;
    }
    Target t;
    if (!chooseTarget(o, st, t, error)) {
        std::fprintf(stderr, "vulmora-host: %s\n", error.c_str());
        return 2;
    }
    buildMicro(st, micro);
    *lib.x.micModels = micro.model;
    *lib.x.micCnt = micro.catalog;
    const vulmora_state_header &h = st.header();
    if (t.entry == "externalcompute") {
        if (!lib.externalcompute) {
            std::fprintf(stderr, "vulmora-host: the library has no func_externalcompute\n");
            return 2;
        }
        mikral_calls_clear();
        lib.externalcompute(nullptr, t.node);
        out.kind = kReturned;
        collectUnrecorded(st, micro, out);
        return 0;
    }
    PropertyFn f = lib.entry(findEntryPoint(t.entry)->name);
    if (!f) {
        std::fprintf(stderr, "vulmora-host: the library has no func_%s\n", t.entry.c_str());
        return 2;
    }
    // Another node than the captured one (or a saved sample): the usual
    // convention, cur_node = node - 1.
    if (!h.entry[0] || t.node != h.argument) *lib.x.curNode = t.node - 1;
    std::fflush(stdout);
    mikral_calls_clear();
    const double v = f(t.node);
    std::fflush(stdout);
    out.bits = toBits(v);
    out.kind = kReturned;
    collectUnrecorded(st, micro, out);
    if (o.allNodes) {                                    // every node, in the captured mode
        out.values.reserve(static_cast<size_t>(h.nnod)); // no allocation in the loop
        if (gFile) writeResult(false);                   // the call's outcome is safe
        for (int node = 1; node <= h.nnod; ++node) {
            *lib.x.curNode = node - 1;
            const double value = f(node);
            out.values.push_back(value);
        }
        std::fflush(stdout);
    }
    return 0;
}

// ---- the parent's side ---------------------------------------------------------

// A new folder only this user can enter, under the folder for temporary
// files.
std::string privateFolder(std::string &error) {
    const std::string tmp = platform::tempDirectory(error);
    return tmp.empty() ? "" : platform::makePrivateFolder(tmp, "vulmora-replay-", error);
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

// The value at every node of the state: <entry>-replay.csv and a VTK grid
// <entry>-replay.vtu (hexahedra when every element is of type 1, else one
// vertex per node). Returns the lines naming the files written.
bool writeNodeFiles(const Options &o, const State &st, const std::string &entry,
                    const std::vector<double> &values, std::string &notes, std::string &error) {
    std::error_code ec;
    fs::create_directories(o.output, ec);
    if (ec) return error = "cannot make " + o.output + ": " + ec.message(), false;
    const size_t n = values.size();
    const double *xyz[3] = {st.array<double>(VULMORA_SECTION_x_cord),
                            st.array<double>(VULMORA_SECTION_y_cord),
                            st.array<double>(VULMORA_SECTION_z_cord)};
    const float *t1 = st.array<float>(VULMORA_SECTION_t1),
                *fs1 = st.array<float>(VULMORA_SECTION_fs1);
    auto at = [&](const double *a, size_t i) { return a ? a[i] : 0.0; };
    auto atf = [&](const float *a, size_t i) { return a ? double(a[i]) : 0.0; };
    const fs::path csv = fs::path(o.output) / (entry + "-replay.csv");
    {
        CheckedFile f(csv.string());
        f.printf("node,x_cm,y_cm,z_cm,T_K,fs,value\n");
        for (size_t i = 0; i < n && f.ok(); ++i)
            f.printf("%zu,%.9g,%.9g,%.9g,%.9g,%.9g,%.17g\n", i + 1, at(xyz[0], i), at(xyz[1], i),
                     at(xyz[2], i), atf(t1, i), atf(fs1, i), values[i]);
        if (!f.close(error)) return false;
        notes += "wrote " + csv.string() + "\n";
    }
    const int *types = st.array<int>(VULMORA_SECTION_el_type);
    const int *mats = st.array<int>(VULMORA_SECTION_mat_id);
    const std::vector<int *> &rows = const_cast<State &>(st).rows();
    bool hexes = types && !rows.empty();
    for (size_t e = 0; hexes && e < rows.size(); ++e)
        hexes = types[e] == 1 && rows[e];
    const size_t cells = hexes ? rows.size() : n;
    const fs::path vtu = fs::path(o.output) / (entry + "-replay.vtu");
    CheckedFile f(vtu.string());
    f.printf("<?xml version=\"1.0\"?>\n<VTKFile type=\"UnstructuredGrid\" version=\"0.1\" "
             "byte_order=\"LittleEndian\">\n<UnstructuredGrid>\n"
             "<Piece NumberOfPoints=\"%zu\" NumberOfCells=\"%zu\">\n"
             "<PointData Scalars=\"func_%s\">\n"
             "<DataArray type=\"Float64\" Name=\"func_%s\" format=\"ascii\">\n",
             n, cells, entry.c_str(), entry.c_str());
    for (double v : values) // non-finite values are written as 0 and flagged
        f.printf("%.12g\n", std::isfinite(v) ? v : 0.0);
    f.printf("</DataArray>\n<DataArray type=\"UInt8\" Name=\"func_%s_finite\" "
             "format=\"ascii\">\n",
             entry.c_str());
    for (double v : values)
        f.printf("%d\n", std::isfinite(v) ? 1 : 0);
    f.printf("</DataArray>\n<DataArray type=\"Float32\" Name=\"T_K\" format=\"ascii\">\n");
    for (size_t i = 0; i < n; ++i)
        f.printf("%.9g\n", atf(t1, i));
    f.printf("</DataArray>\n<DataArray type=\"Float32\" Name=\"fs\" format=\"ascii\">\n");
    for (size_t i = 0; i < n; ++i)
        f.printf("%.9g\n", atf(fs1, i));
    f.printf("</DataArray>\n</PointData>\n");
    if (hexes && mats) {
        f.printf("<CellData Scalars=\"material\">\n"
                 "<DataArray type=\"Int32\" Name=\"material\" format=\"ascii\">\n");
        for (size_t e = 0; e < cells; ++e)
            f.printf("%d\n", mats[e] + 1);
        f.printf("</DataArray>\n</CellData>\n");
    }
    f.printf("<Points>\n<DataArray type=\"Float64\" NumberOfComponents=\"3\" "
             "format=\"ascii\">\n");
    for (size_t i = 0; i < n; ++i)
        f.printf("%.12g %.12g %.12g\n", at(xyz[0], i), at(xyz[1], i), at(xyz[2], i));
    f.printf("</DataArray>\n</Points>\n<Cells>\n"
             "<DataArray type=\"Int64\" Name=\"connectivity\" format=\"ascii\">\n");
    const size_t per = hexes ? 8 : 1;
    for (size_t c = 0; c < cells; ++c) {
        for (size_t k = 0; k < per; ++k)
            f.printf(k ? " %d" : "%d", hexes ? rows[c][k] : static_cast<int>(c));
        f.printf("\n");
    }
    f.printf("</DataArray>\n<DataArray type=\"Int64\" Name=\"offsets\" format=\"ascii\">\n");
    for (size_t c = 0; c < cells; ++c)
        f.printf("%zu\n", (c + 1) * per);
    f.printf("</DataArray>\n<DataArray type=\"UInt8\" Name=\"types\" format=\"ascii\">\n");
    for (size_t c = 0; c < cells; ++c)
        f.printf("%d\n", hexes ? 12 : 1); // VTK_HEXAHEDRON, VTK_VERTEX
    f.printf("</DataArray>\n</Cells>\n</Piece>\n</UnstructuredGrid>\n</VTKFile>\n");
    if (!f.close(error)) return false;
    notes += "wrote " + vtu.string() + "\n";
    return true;
}

} // namespace

// ---- entry points of this file -----------------------------------------------------

int runReplayWorker(const Options &o) {
    static WorkerFile file; // reachable from exit() and the crash hook
    static State st;
    static Micro micro;
    file.file = std::fopen(o.resultFile.c_str(), "wb");
    if (!file.file) {
        std::fprintf(stderr, "vulmora-host worker: cannot write %s\n", o.resultFile.c_str());
        return 2;
    }
    std::setvbuf(file.file, nullptr, _IONBF, 0);
    file.state = &st;
    file.micro = &micro;
    gFile = &file;
    std::atexit(writeAtExit);
    platform::onCrash(writeAtCrash);
    const int rc = makeCall(o, o.replayWorker, st, micro, file.result);
    if (rc != 0) {
        file.done = true; // nothing to hand back
        return rc;
    }
    file.result.complete = 1;
    writeResult(false);
    file.done = true;
    return 0;
}

int saveSampleState(const Options &o) {
    Library lib;
    std::string error;
    if (!lib.open(o.library, error)) {
        std::fprintf(stderr, "vulmora-host: %s\n", error.c_str());
        return 2;
    }
    const int step = o.probeStep ? o.probeStep : o.steps;
    Sample sample(o.nodesPerSide, o.steps);
    sample.stressScale = o.stressScale;
    sample.setStep(step);
    lib.bind(sample, o); // data only: no user code runs here
    std::vector<int> lastp(VULMORA_STATE_LASTP_LEN, 0);
    *lib.x.micLastp = lastp.data();
    *lib.x.location = 1;
    vulmora_state_view v = lib.view();
    v.data[VULMORA_SECTION_sample_micro] = sample.micro.data();
    v.data[VULMORA_SECTION_sample_aux] = sample.aux.data();
    v.sample_constituents = kNumConstituents;
    v.sample_auxiliaries = kNumAuxiliaries;
    vulmora_state_call call{};
    call.writer = "vulmora-host sample";
    call.library = o.library.c_str();
    call.step = step;
    if (!saveState(o.saveState, v, call, error)) {
        std::fprintf(stderr, "vulmora-host: %s\n", error.c_str());
        return 2;
    }
    std::printf("vulmora-host: step %d of the sample (%d nodes) saved in %s\n", step, sample.nnod,
                o.saveState.c_str());
    return 0;
}

int runReplay(const Options &given, const char *argv0) {
    Options o = given;
    State st;
    std::string error;
    if (!loadState(o.replayFile, st, error)) {
        std::fprintf(stderr, "vulmora-host: %s\n", error.c_str());
        return 2;
    }
    const vulmora_state_header &h = st.header();
    if (o.library.empty()) o.library = h.library;
    if (o.library.empty() || !fs::exists(o.library)) {
        std::fprintf(stderr, "vulmora-host: %s\n",
                     o.library.empty() ? "the state names no library: give --library PATH"
                                       : ("no such library: " + o.library).c_str());
        return 2;
    }
    o.library = fs::absolute(o.library).lexically_normal().string();
    Target t;
    if (!chooseTarget(o, st, t, error)) {
        std::fprintf(stderr, "vulmora-host: %s\n", error.c_str());
        return 2;
    }
    std::printf("state:    %s (%s, %s, step %d)\n", o.replayFile.c_str(), plain(h.writer).c_str(),
                triggerName(h.trigger).c_str(), h.step);
    std::printf("library:  %s%s\n", o.library.c_str(),
                o.library == h.library ? ""
                                       : (" (captured with " + plain(h.library) + ")").c_str());
    std::printf("call:     func_%s(%d), cur_node = %d, location = %d, %d nodes, %d elements\n",
                t.entry.c_str(), t.node,
                h.entry[0] && t.node == h.argument ? h.cur_node : t.node - 1, h.location, h.nnod,
                h.nel);
    if (t.captured) {
        std::string c = outcomeText(h);
        if (h.outcome == VULMORA_OUTCOME_STOPPED) c += ", printing " + escaped(h.stop_text);
        std::printf("captured: %s\n", c.c_str());
    }
    std::fflush(stdout);

    Ending e;
    Replayed r;
    bool writeFailed = false;
    std::string allNodesEnd; // how an unfinished every-node loop ended
    if (o.inProcess) {
        std::printf("replaying in this process (a stop or crash ends it)\n");
        std::fflush(stdout);
        static State own;
        static Micro micro;
        const int rc = makeCall(o, o.replayFile, own, micro, r);
        if (rc) return rc;
        e.outcome = VULMORA_OUTCOME_RETURNED;
        e.bits = r.bits;
    } else {
        std::string self = platform::executablePath();
        if (self.empty()) self = fs::absolute(argv0).string();
        const std::string dir = privateFolder(error);
        if (dir.empty()) {
            std::fprintf(stderr, "vulmora-host: %s\n", error.c_str());
            return 2;
        }
        const std::string result = (fs::path(dir) / "replay.bin").string();
        std::vector<std::string> args = {self,      "--replay-worker", o.replayFile, "--library",
                                         o.library, "--result",        result};
        if (!o.functions.empty()) args.insert(args.end(), {"--functions", o.functions[0]});
        if (o.probeNode) args.insert(args.end(), {"--node", std::to_string(o.probeNode)});
        if (o.allNodes) args.push_back("--all-nodes");
        platform::RunResult run = platform::runCaptured(args);
        const bool haveResult = readWorkerFile(result, r);
        std::error_code ec;
        fs::remove_all(dir, ec);
        if (!run.started) {
            std::fprintf(stderr, "vulmora-host: cannot start the worker: %s\n", run.error.c_str());
            return 2;
        }
        e.printed = run.out.text();
        const bool returned = haveResult && r.kind == kReturned;
        if (returned) {
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
            return 2;
        }
    }
    std::string line = e.text();
    if (!e.printed.empty()) line += ", printing " + escaped(e.printed);
    std::printf("replayed: %s\n", line.c_str());
    for (const vulmora_state_micro &m : r.unrecorded)
        std::printf("  not recorded: the call read %s, which the capture did not record "
                    "(it got %s)\n",
                    microName(m).c_str(), m.node < 0 ? "none" : "NaN");
    if (!allNodesEnd.empty()) std::printf("every node: %s\n", allNodesEnd.c_str());
    if (!r.values.empty()) {
        size_t bad = 0, first = 0;
        double lo = INFINITY, hi = -INFINITY, sum = 0;
        for (size_t k = 0; k < r.values.size(); ++k) {
            const double v = r.values[k];
            if (!std::isfinite(v)) {
                if (bad++ == 0) first = k + 1;
                continue;
            }
            lo = std::min(lo, v), hi = std::max(hi, v), sum += v;
        }
        std::printf("every node: %zu values, %zu non-finite%s\n", r.values.size(), bad,
                    bad ? (" (first at node " + std::to_string(first) + ")").c_str() : "");
        if (bad < r.values.size())
            std::printf("  finite values: min %.9g, mean %.9g, max %.9g\n", lo,
                        sum / double(r.values.size() - bad), hi);
        if (h.location == 2 || h.location == -1)
            std::printf("  (every node saw the captured node's loc_micro, loc_poro and "
                        "mic_lastp: location = %d)\n",
                        h.location);
        if (!st.data(VULMORA_SECTION_sample_micro) && st.microCount())
            std::printf("  (microstructure values were recorded at the captured node only; "
                        "elsewhere they are NaN)\n");
        std::string notes, why;
        if (o.writeOutput && !writeNodeFiles(o, st, t.entry, r.values, notes, why)) {
            std::fprintf(stderr, "vulmora-host: cannot write the results: %s\n", why.c_str());
            writeFailed = true;
        }
        std::printf("%s", notes.c_str());
    }
    if (!t.captured) {
        std::printf("no captured outcome to compare with\n");
        return !writeFailed && e.outcome == VULMORA_OUTCOME_RETURNED &&
                       std::isfinite(fromBits(e.bits))
                   ? 0
                   : 1;
    }
    if (same(h, e)) {
        std::printf("reproduced\n");
        return writeFailed ? 1 : 0; // the results could not all be written
    }
    std::printf("differs: captured %s; replayed %s\n", outcomeText(h).c_str(), e.text().c_str());
    return 1;
}

} // namespace vhost

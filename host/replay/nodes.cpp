// nodes.cpp - a replay's values at every node: the summary, and the files
// <entry>-replay.csv and <entry>-replay.vtu.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "output/outdir.h"
#include "output/statistics.h"
#include "output/vtu.h"
#include "replay/call.h"

namespace vhost {

namespace fs = std::filesystem;

namespace {

// The state's node coordinates, temperature and solid fraction (0 where
// the state has none).
struct NodeFields {
    explicit NodeFields(const State &st)
        : xyz{st.array<double>(VULMORA_SECTION_x_cord), st.array<double>(VULMORA_SECTION_y_cord),
              st.array<double>(VULMORA_SECTION_z_cord)},
          t1(st.array<float>(VULMORA_SECTION_t1)), fs1(st.array<float>(VULMORA_SECTION_fs1)) {}
    double coordinate(int axis, size_t i) const { return xyz[axis] ? xyz[axis][i] : 0.0; }
    float temperature(size_t i) const { return t1 ? t1[i] : 0.0f; }
    float solid(size_t i) const { return fs1 ? fs1[i] : 0.0f; }
    const double *xyz[3];
    const float *t1, *fs1;
};

// One line per node: its place, temperature, solid fraction and value.
bool writeCsv(const fs::path &path, const NodeFields &at, const std::vector<double> &values,
              std::string &error) {
    CheckedFile f(path.string());
    f.printf("node,x_cm,y_cm,z_cm,T_K,fs,value\n");
    for (size_t i = 0; i < values.size() && f.ok(); ++i)
        f.printf("%zu,%.9g,%.9g,%.9g,%.9g,%.9g,%.17g\n", i + 1, at.coordinate(0, i),
                 at.coordinate(1, i), at.coordinate(2, i), double(at.temperature(i)),
                 double(at.solid(i)), values[i]);
    return f.close(error);
}

// The values (every bit, NaN and infinities as they are), the temperature
// and the solid fraction, in the run's binary VTU, on the state's
// hexahedra when every element is of type 1 with its connectivity, else
// on one vertex per node.
bool writeGrid(const fs::path &path, const State &st, const NodeFields &at,
               const std::string &entry, const std::vector<double> &values, std::string &error) {
    const int *types = st.array<int>(VULMORA_SECTION_el_type);
    const int *mats = st.array<int>(VULMORA_SECTION_mat_id);
    const std::vector<int *> &rows = const_cast<State &>(st).rows();
    bool hexes = types && !rows.empty();
    for (size_t e = 0; hexes && e < rows.size(); ++e)
        hexes = types[e] == 1 && rows[e];
    const size_t n = values.size(), cells = hexes ? rows.size() : n;
    const std::string name = "func_" + entry;
    CheckedFile f(path.string());
    VtuWriter w(f);
    w.begin(n, cells);
    w.open("PointData", name.c_str());
    w.array<double>("Float64", name, n, 1, [&](size_t i) { return values[i]; });
    w.array<float>("Float32", "T_K", n, 1, [&](size_t i) { return at.temperature(i); });
    w.array<float>("Float32", "fs", n, 1, [&](size_t i) { return at.solid(i); });
    if (hexes && mats) {
        w.open("CellData", "material");
        w.array<int32_t>("Int32", "material", cells, 1, [&](size_t e) { return mats[e] + 1; });
    }
    w.mesh(
        n, cells, hexes ? 8 : 1, hexes ? 12 : 1, // VTK_HEXAHEDRON, VTK_VERTEX
        [&](size_t k) { return at.coordinate(static_cast<int>(k % 3), k / 3); },
        [&](size_t k) { return hexes ? rows[k / 8][k % 8] : static_cast<int>(k); });
    return f.close(error);
}

// Both files in the output folder; `notes` gets a line for each written.
bool writeNodeFiles(const OutputSettings &o, const State &st, const std::string &entry,
                    const std::vector<double> &values, std::string &notes, std::string &error) {
    std::error_code ec;
    fs::create_directories(o.folder, ec);
    if (ec) return error = "cannot make " + o.folder + ": " + ec.message(), false;
    const NodeFields at(st);
    const fs::path csv = fs::path(o.folder) / (entry + "-replay.csv");
    if (!writeCsv(csv, at, values, error)) return false;
    notes += "wrote " + csv.string() + "\n";
    const fs::path vtu = fs::path(o.folder) / (entry + "-replay.vtu");
    if (!writeGrid(vtu, st, at, entry, values, error)) return false;
    notes += "wrote " + vtu.string() + "\n";
    return true;
}

// How many values, how many non-finite (and the first such node), and the
// extremes and mean of the finite ones.
void printSummary(const std::vector<double> &values) {
    const ValueStatistics st = statistics(values.data(), values.size());
    std::printf("every node: %zu values, %lld non-finite%s\n", values.size(),
                static_cast<long long>(st.nonFinite),
                st.nonFinite ? (" (first at node " + std::to_string(st.firstBad + 1) + ")").c_str()
                             : "");
    if (st.finite.finite > 0)
        std::printf("  finite values: min %.9g, mean %.9g, max %.9g\n", st.finite.min,
                    st.finite.mean(), st.finite.max);
}

} // namespace

bool reportEveryNode(const OutputSettings &o, const State &st, const std::string &entry,
                     const std::vector<double> &values) {
    const vulmora_state_header &h = st.header();
    printSummary(values);
    if (h.location == 2 || h.location == -1)
        std::printf("  (every node saw the captured node's loc_micro, loc_poro and "
                    "mic_lastp: location = %d)\n",
                    h.location);
    if (!st.data(VULMORA_SECTION_sample_micro) && st.microCount())
        std::printf("  (microstructure values were recorded at the captured node only; "
                    "elsewhere they are NaN)\n");
    std::string notes, why;
    bool written = true;
    if (o.write && !writeNodeFiles(o, st, entry, values, notes, why)) {
        std::fprintf(stderr, "vulmora-host: cannot write the results: %s\n", why.c_str());
        written = false;
    }
    std::printf("%s", notes.c_str());
    return written;
}

} // namespace vhost

// sample.h - the built-in sample casting.
//
// A cube of hexahedra (element type 1: 8 nodes, 8 integration points),
// 12 cm on a side: a casting (material 1) inside a mould shell
// (material 2). The casting is poured at the alloy's pouring temperature
// into the mould at its initial temperature, and the history runs until
// every node is at the alloy's end temperature (alloy.h; by default the
// sample's aluminium-silicon alloy, poured at 973 K into a steel mould at
// 573 K, cooled to 20 °C over an hour). Each node passes the freezing range
// in its own time, the wall first, the hot spot in the centre last, each
// over several steps: every step before the last has liquid or mushy
// nodes, and the last has all at the end temperature. Units are those of
// the host: centimetres, seconds, Kelvin, CGS.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "model/alloy.h"
#include "model/fields.h"
#include "platform/page_vector.h"

struct MikralCatalog;
struct MikralModel;

namespace vhost {

struct Path;

// Active constituents and auxiliary variables of the microstructure model
// (active index = position in these lists); the catalogue names a few more.
inline constexpr const char *kConstituents[] = {"alpha-Al", "eutectic Si", "Mg2Si"};
inline constexpr const char *kInactiveConstituents[] = {"beta-AlFeSi", "Al2Cu"};
inline constexpr const char *kAuxiliaries[] = {"SDAS", "grain size"};
inline constexpr const char *kInactiveAuxiliaries[] = {"eutectic undercooling"};
constexpr int kNumConstituents = 3;
constexpr int kNumAuxiliaries = 2;

// A new catalogue of the names above (constituents 0-4, auxiliaries 0-2).
MikralCatalog *sampleCatalog();

// Elements of mould outside the casting on each side, in a grid of `side`
// nodes per side.
constexpr int mouldLayers(int side) {
    return std::max(1, (side - 1) / 6);
}

// The nodes a run evaluates, worked out from the grid alone (the sample's
// inCasting agrees): per node of a grid of `side` nodes per side (`nnod`
// of them) 1 when it is selected, else 0. `materials` (material bits)
// selects the casting's nodes, its wall included, and the mould's; a path
// of `points` > 0 is at the first nodes, the ones selected then.
std::vector<uint8_t> selectNodes(int side, int materials, int64_t points, int64_t nnod);
// How many of them there are.
int64_t countSelected(int side, int materials, int64_t points, int64_t nnod);

// A node's depth (Sample::depthAt) on a grid of n nodes per side is worked
// out from tables per grid line, the same on every axis: the least of its
// three distances inside the casting box (at most half its side), over
// half that side, and clamped at 0; or, outside the box, minus the root of
// the sum (x, y, z in that order) of its three squared distances outside.
struct DepthAxes {
    std::vector<double> inside, outside; // per grid line: cm inside the box's walls, cm2 outside
    double castLo = 0, castHi = 0;       // the casting box, cm, on every axis
    double half = 0, eps = 0;            // half its side; a distance outside below eps is none
    bool mould = true;                   // false (a path): every node takes its distance inside
};
// The sample's tables for a grid of `side` nodes per side (`path`: along a
// path every node is casting).
DepthAxes depthAxes(int side, bool path);

// A grid's distinct depths, each node's index into them, found per row of
// nodes along x rather than per node: a row's depths follow from the two
// indices it shares (y, z), and the sample's grids have few such kinds of
// rows. Node i of row r (r = y + n z) is node r * n + i, its class
// kindClasses[rowKind[r] * n + i]. The classes come in the order of their
// first node, as a scan of the nodes would find them.
struct DepthRows {
    std::vector<float> classes;        // the distinct depths (their bits)
    std::vector<uint32_t> rowKind;     // per row, its kind
    std::vector<uint32_t> kindClasses; // per kind (rows of the same classes), each node's class
};
DepthRows depthRows(const DepthAxes &axes);

// Another numbering of `count` items (0-based), fixed by `seed` and the
// same on every system: item i is item result[i] in it.
std::vector<int32_t> renumbering(int64_t count, uint32_t seed);

// The state of one node at one instant, in host units.
struct NodeState {
    double T = 0, fs = 0;              // K, solid fraction
    double u = 0, v = 0, w = 0, p = 0; // cm/s, dyn/cm2
    double vf = 0, fvol = 0;           // porosity, FVOL (volume fractions)
    double coolingRate = 0;            // K/s (the jctn field)
    double mushyStrain = 0;            // dimensionless
};

class Sample {
  public:
    // How much is built up front. Whole: the mesh's arrays filled and the
    // integration points' table of element kinds made. OnDemand: both left
    // for fill() (or setStep), for a process that may never need them.
    enum class Build { Whole, OnDemand };
    // A mesh of n x n x n nodes (n >= 4) and `steps` time steps (>= 1).
    // With `build` OnDemand the mesh's arrays too are left for fill(). With
    // `path` (kept, not copied) every node is casting and node i holds the
    // path's point i (the last point for the nodes beyond it) instead of
    // the cooling history of `alloy`.
    Sample(int nodesPerSide, int steps, Build build = Build::Whole, const Path *path = nullptr,
           const Alloy &alloy = Alloy{});
    ~Sample();
    Sample(const Sample &) = delete;
    Sample &operator=(const Sample &) = delete;

    // Make time step s (1-based) current: level 0 holds the state at the
    // end of step s-1, level 1 at the end of step s. With `fields` every
    // field array (the microstructure's included) is filled; without, each
    // is left as it is until fill() is called for it.
    void setStep(int s, bool fields = true);
    // Fill the current step's field array that starts at `base` (any one
    // of the integration-point arrays fills all three); false when `base`
    // starts none. It may run in a signal handler, when user code first
    // reads the array: it takes memory only as whole pages from the system
    // (the element kinds, the first time the integration points are
    // filled), never from the heap.
    //
    // With `into`, each array it names is written into the buffer given
    // for it instead (a buffer of the array's size), so that the array
    // itself can stay unreadable to other threads until the buffer takes
    // its place.
    struct FillTargets {
        const void *arrays[kPointArrays] = {};
        void *buffers[kPointArrays] = {};
    };
    bool fill(const void *base, const FillTargets *into = nullptr);
    // Whether the mesh's array at `base` has been filled (false for any
    // other array: fields are filled afresh each step).
    bool filled(const void *base) const;
    // Time (s) at the end of step s; step 0 is the pour. The steps grow
    // from a quarter to 1.75 times the mean: short while the casting
    // freezes, long while it cools.
    double time(int s) const;
    // State of 0-based node i at the end of step s.
    NodeState state(int i, int s) const;
    // Items of an array of the given extent.
    size_t items(Extent e) const;
    // Constituent q (auxiliary variable q with `auxiliary`) of 0-based node
    // i at the current step: the value micro (aux) holds once filled, read
    // from the step's tables without filling the array.
    double microstructureAt(bool auxiliary, int q, int i) const {
        return microstructureOf(auxiliary, q, depthClassOf(i));
    }
    // The same by the node's depth class (depthClassOf), for a node's
    // quantities one after another.
    uint32_t depthClassOf(int i) const { return depthClass[static_cast<size_t>(gridNode(i))]; }
    double microstructureOf(bool auxiliary, int q, uint32_t cls) const {
        const std::vector<double> &table = auxiliary ? classAux : classMicro;
        return table[static_cast<size_t>(q) * classDepth.size() + cls];
    }
    // True when 0-based node i belongs to the casting (material 1).
    bool inCasting(int i) const { return depthAt(static_cast<size_t>(gridNode(i))) >= 0.0f; }

    // Number the nodes and the elements in another order, fixed by `seed`,
    // as a mesher may: every array, filled already or later, holds each
    // item at its new number, and conn holds the new node numbers. The
    // grid's node i is then node numbered(i) (0-based), and this sample's
    // node i the grid's gridNode(i). Called before the first step.
    void renumber(uint32_t seed);
    bool renumbered() const { return !nodeNew_.empty(); }
    int numbered(int gridNode) const {
        return nodeNew_.empty() ? gridNode : nodeNew_[static_cast<size_t>(gridNode)];
    }
    int gridNode(int node) const {
        return nodeOld_.empty() ? node : nodeOld_[static_cast<size_t>(node)];
    }

    int nodesPerSide, steps, nnod, nel, step = 0;
    Alloy alloy;
    double h; // element edge, cm

    // Every array of the list in fields.h, as PageVector<type> member: the
    // mesh (x, y, z, elType, matId, ncon, its rows conn with 8 0-based
    // nodes per element, elVol), the nodal fields at the two time levels
    // (t0, t1, fs0, fs1, vf0, vf1, fvol0, fvol1, jctn0, jctn1, fatigue, u0,
    // v0, w0, u1, v1, w1, p0, p1, mushy; the velocity nodes are the nodes),
    // the microstructure at level 1 (micro, aux: constituent c / auxiliary
    // a of node i is micro[c * nnod + i] / aux[a * nnod + i]; the same
    // values are in model) and the integration points, 8 per element
    // (fractionVoid, epstn; strsg: 6 values per point).
#define VHOST_SAMPLE_MEMBER(first, member, type, ...) PageVector<type> member;
    VHOST_SAMPLE_ARRAYS(VHOST_SAMPLE_MEMBER, VHOST_SAMPLE_MEMBER)
#undef VHOST_SAMPLE_MEMBER
    double stressScale = 1.0;

    MikralCatalog *catalog = nullptr;
    MikralModel *model = nullptr;

    // What a node's state owes to its depth alone at the end of step s:
    // every field but the flow's direction and the pressure, and the
    // times at which a casting node reaches the liquidus and freezes.
    struct DepthState {
        double T = 0, fs = 0, coolingRate = 0, vf = 0, fvol = 0, mushyStrain = 0, flow = 0;
        double liquidusTime = 0, freezingTime = 0; // s
    };
    DepthState depthState(double d, int s) const;

    // The laws shared by the cooling history and the paths.
    // Convection speed (cm/s) and mushy strain at solid fraction fs.
    static double flowAt(double fs);
    static double mushyStrainAt(double fs);
    // Constituents c[kNumConstituents] and auxiliaries a[kNumAuxiliaries]
    // of a casting node of solid fraction fs, mushy for `mushy` s of its
    // freezing time `tf` s (mushy < 0: still above the liquidus), the
    // eutectic starting at solid fraction `fe`.
    static void microstructure(double fs, double mushy, double tf, double fe, double *c, double *a);
    // Fatigue life (cycles) at porosity vf and arm spacing sdas (um).
    static double fatigueLife(double vf, double sdas);
    const Path *path() const {
        return path_;
    }

  private:
    std::array<const void *, kMeshArrays> meshArrays() const;
    bool fillMesh(const void *base);
    bool fillArray(const void *base);
    // Where fill() writes array v: v itself, or its buffer in into_.
    template <class T> T *out(PageVector<T> &v) const {
        for (size_t k = 0; into_ && k < kPointArrays; ++k)
            if (into_->arrays[k] == v.data()) return static_cast<T *>(into_->buffers[k]);
        return v.data();
    }
    const FillTargets *into_ = nullptr;
    const Path *path_ = nullptr;
    // A renumbered sample: the new index of each grid node and element, the
    // grid node of each new index, and room to move an array's items
    // through (taken up front: fill() may run in a signal handler).
    std::vector<int32_t> nodeNew_, nodeOld_, elementNew_;
    PageVector<double> moved_;
    void renumberArray(const void *base);
    template <class T> void renumberItems(T *items, Extent e);
    void buildPathClasses();
    void setPathStep();
    bool fillPathField(const void *base);
    void buildMesh(bool onDemand);
    void ensureElementKinds() {
        if (elementKind.empty()) buildElementKinds();
    }
    void buildDepthClasses();
    void buildElementKinds();
    void fillMicrostructure();
    void fillIntegrationPoints();
    template <class T> void gather(T *out, const T *perClass);
    void fillFlow(float *out, const std::vector<double> &flow, int component) const;
    void fillPressure(float *out) const;

    // The depth of grid node `id`: >= 0 into the casting (0 at the wall, 1
    // at the centre); < 0 minus the distance (cm) from the casting, in the
    // mould. Its class's, without a path; along a path (whose classes are
    // its points), its kind of row's.
    float depthAt(size_t id) const {
        if (!path_) return classDepth[depthClass[id]];
        const size_t n = static_cast<size_t>(nodesPerSide);
        return rows_.classes[rows_.kindClasses[size_t(rows_.rowKind[id / n]) * n + id % n]];
    }
    double castLo = 0, castHi = 0; // the casting box, cm, on every axis
    int layers = 1;                // elements of mould outside it
    bool meshFilled[kMeshArrays] = {};
    // A grid has few distinct depths: each node's index into them, so that
    // the fields that depend on the depth alone are worked out once per
    // depth and step, not once per node.
    PageVector<uint32_t> depthClass;
    std::vector<float> classDepth;
    // The grid's rows of nodes by kind (depthRows): without a path, a field
    // of the depth alone is worked out per kind of row, into rowValues_
    // (rowMicro_ for the microstructure), and copied row by row.
    DepthRows rows_;
    PageVector<float> rowValues_;
    PageVector<double> rowMicro_;
    // The flow's direction along x and z, per grid line: sin and cos of
    // pi times the relative position in the casting box.
    std::vector<double> sinX, cosX, sinZ, cosZ;
    // Elements alike at the integration points: the same material and the
    // same depth classes at the same corners. elementKinds holds each
    // kind's key (8 classes, then the material index).
    static constexpr size_t kKindKey = 9;
    // Per kind: 8 void fractions, 8 strains, 8 x 6 stresses.
    static constexpr size_t kPointValues = 8 + 8 + 48;
    PageVector<uint32_t> elementKind, elementKinds;
    // The fields per depth class at the current step's two levels (and
    // the fatigue life, of level 1), and the integration points per
    // element kind: kept, so that fill() allocates nothing.
    struct Level {
        std::vector<float> T, fs, vf, fvol, coolingRate, mushy;
        std::vector<double> flow;
        void resize(size_t classes);
        void compute(const Sample &sample, int s);
    };
    Level level0, level1;
    std::vector<float> classLife;
    PageVector<float> kindPoints;
    std::vector<double> classMicro, classAux; // [quantity * classes + class]
};

} // namespace vhost

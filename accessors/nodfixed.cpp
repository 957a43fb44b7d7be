// nodfixed.cpp - the node nearest to a point, on a mesh that does not move.
//
// nodNumFixed answers exactly as nodNum does (same node, same tie rules,
// same outputs, same message) but keeps a k-d tree of the searched nodes
// between calls, so a query costs O(log n) instead of a scan. The tree is
// keyed by everything the search visibly depends on: the node count, the
// coordinate arrays' addresses, TWO_D, the length unit, the material and,
// for a material search, the element count and the addresses of mat_id,
// el_type and ncon. When any of them differs the tree is rebuilt; values
// rewritten in place at the same addresses are not seen.
//
// Exactness. A node's squared distance d is computed as nodNum computes
// it, (x-X)*(x-X) + (y-Y)*(y-Y) [+ (z-Z)*(z-Z)], never fused. A subtree is
// skipped only when a lower bound of every d inside it is greater than the
// best so far. The bound is built from split values s with the same
// operations: every node beyond s along an axis has |x - X| >= |s - X|,
// and rounding is monotonic, so fl(x - X)^2 >= fl(s - X)^2 and the rounded
// sum of the squares keeps the order. No rounding margin is needed.
//
// Ties. Every indexed node carries a rank; among equal distances the higher
// rank wins. All nodes: rank -n, so the lowest node number wins and no
// node with d = DBL_MAX is taken (d < best). One material: the order in
// which nodNum examines the node (its first appearance in element order,
// then list order), so the node examined last wins, and d = DBL_MAX is
// taken (d <= best). Nodes with a NaN or infinite coordinate are left out:
// their distance is never taken by either search.
//
// Memory: malloc/free only. Up to kSlots trees are kept (all nodes and a
// few materials side by side); a new tree replaces the one of the same
// material, else an unused slot, else the least recently used tree.
// When memory runs out the call is answered by nodNum itself, and the same
// key is not tried again until something changes. Everything is freed when
// the library is unloaded.

#include "../include/vulmora/getVar.h"

#include "../exchange/exchange.h"
#include "../runtime/messages.h"
#include "../runtime/stop.h"
#include "../units/units.h"
#include "mesh.h"
#include "nodfixed.h"
#include "vulmora_probe.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// ---- indexed nodes and trees ------------------------------------------------------

// A node of the searched set: its coordinates (cm), 1-based number and rank.
struct Entry {
    double c[3];
    int node;
    int rank;
};

// Nodes per leaf at most.
constexpr long kLeaf = 8;

// Trees kept side by side.
constexpr int kSlots = 4;

// What a tree depends on; two keys are equal when every field is.
struct Key {
    int material, count, twoD, unit, elems;
    const double *x, *y, *z;
    const int *types, *mats;
    int *const *conn;

    bool operator==(const Key &o) const {
        return material == o.material && count == o.count && twoD == o.twoD && unit == o.unit &&
               elems == o.elems && x == o.x && y == o.y && z == o.z && types == o.types &&
               mats == o.mats && conn == o.conn;
    }
};

// One tree: entries[0..size) in tree order; internal heap node k (1 <= k <
// leaves) splits its range at its middle along axis[k] at value split[k];
// heap nodes leaves..2*leaves-1 are the leaves.
struct Tree {
    bool used;
    bool failed; // no memory for this key: nodNum answers
    Key key;
    unsigned long long lastUse;
    Entry *entries;
    long size;
    double *split;
    unsigned char *axis;
    long leaves;
    double lo[3], hi[3]; // the box of all entries
    // The last point searched (internal units, as bits) and its answer.
    bool hasLast;
    std::uint64_t lastBits[3];
    int lastFound;
};

// The library's whole state: zero at load, no constructor runs.
Tree trees[kSlots];
unsigned long long uses; // calls that found their tree, for least recently used
vulmora::NodFixedStats stats;
std::size_t limit = SIZE_MAX;

// ---- memory ---------------------------------------------------------------------------

void *take(std::size_t bytes) {
    if (bytes > limit || limit - bytes < stats.held) return nullptr;
    void *p = std::malloc(bytes == 0 ? 1 : bytes);
    if (p != nullptr) stats.held += bytes;
    return p;
}

void give(void *p, std::size_t bytes) {
    if (p == nullptr) return;
    std::free(p);
    stats.held -= bytes;
}

void clear(Tree &t) {
    give(t.entries, static_cast<std::size_t>(t.size) * sizeof(Entry));
    give(t.split, static_cast<std::size_t>(t.leaves) * sizeof(double));
    give(t.axis, static_cast<std::size_t>(t.leaves));
    t = Tree{};
}

// Run when the library is unloaded (or the process ends).
#if defined(__GNUC__) || defined(__clang__)
__attribute__((destructor))
#endif
void releaseAll() {
    for (Tree &t : trees)
        clear(t);
}

// Compilers without destructor functions: registered at the first build.
void releaseAtExit() {
#if !(defined(__GNUC__) || defined(__clang__))
    static bool registered = false;
    if (!registered) registered = std::atexit(releaseAll) == 0;
#endif
}

// ---- building ---------------------------------------------------------------------------

bool isFinite(double v) {
    return std::isfinite(v);
}

// Rearrange e[0..n) so that e[k] holds the k-th smallest coordinate along
// `axis`, none before it greater and none after it smaller.
void select(Entry *e, long n, long k, int axis) {
    long lo = 0, hi = n - 1;
    while (lo < hi) {
        double a = e[lo].c[axis], b = e[k].c[axis], c = e[hi].c[axis];
        double pivot = a < b ? (b < c ? b : (a < c ? c : a)) : (a < c ? a : (b < c ? c : b));
        long i = lo, j = hi;
        do {
            while (e[i].c[axis] < pivot)
                ++i;
            while (pivot < e[j].c[axis])
                --j;
            if (i <= j) {
                Entry s = e[i];
                e[i] = e[j], e[j] = s;
                ++i, --j;
            }
        } while (i <= j);
        if (j < k) lo = i;
        if (k < i) hi = j;
    }
}

// Split heap node k over entries [lo, hi) and its subtrees, along the axis
// of widest spread.
void build(Tree &t, long k, long lo, long hi, int dims) {
    if (k >= t.leaves) return;
    double min[3] = {DBL_MAX, DBL_MAX, DBL_MAX}, max[3] = {-DBL_MAX, -DBL_MAX, -DBL_MAX};
    for (long i = lo; i < hi; ++i)
        for (int a = 0; a < dims; ++a) {
            double v = t.entries[i].c[a];
            if (v < min[a]) min[a] = v;
            if (v > max[a]) max[a] = v;
        }
    int axis = 0;
    for (int a = 1; a < dims; ++a)
        if (max[a] - min[a] > max[axis] - min[axis]) axis = a;
    long mid = lo + (hi - lo) / 2;
    if (hi > lo) {
        select(t.entries + lo, hi - lo, mid - lo, axis);
        t.split[k] = t.entries[mid].c[axis];
    } else {
        t.split[k] = 0.0;
    }
    t.axis[k] = static_cast<unsigned char>(axis);
    build(t, 2 * k, lo, mid, dims);
    build(t, 2 * k + 1, mid, hi, dims);
}

void put(Entry *e, const Key &key, int n, int rank) {
    e->c[0] = key.x[n];
    e->c[1] = key.y[n];
    e->c[2] = key.twoD ? 0.0 : key.z[n];
    e->node = n + 1;
    e->rank = rank;
}

bool usable(const Key &key, int n) {
    return isFinite(key.x[n]) && isFinite(key.y[n]) && (key.twoD || isFinite(key.z[n]));
}

// The searched nodes with finite coordinates, with their ranks, into
// t.entries. False when memory runs out.
bool collect(Tree &t, const Key &key) {
    long size = 0;
    if (key.material == 0) {
        for (int n = 0; n < key.count; ++n)
            size += usable(key, n);
        t.entries = static_cast<Entry *>(take(static_cast<std::size_t>(size) * sizeof(Entry)));
        if (t.entries == nullptr) return false;
        t.size = size;
        long i = 0;
        for (int n = 0; n < key.count; ++n)
            if (usable(key, n)) put(&t.entries[i++], key, n, -n - 1);
        return true;
    }
    // Examination order of the material search: 1 marks a node seen in the
    // first pass, 2 one placed in the second.
    std::size_t markBytes = static_cast<std::size_t>(key.count);
    unsigned char *marks = static_cast<unsigned char *>(take(markBytes));
    if (marks == nullptr) return false;
    std::memset(marks, 0, markBytes);
    for (int pass = 1; pass <= 2; ++pass) {
        int rank = 0;
        for (int i = 0; i < key.elems; ++i) {
            if (static_cast<long long>(key.mats[i]) + 1 != key.material) continue;
            const int *list = key.conn[i];
            int nodes = vulmora::typeNodes(key.types[i]);
            if (list == nullptr) continue;
            for (int j = 0; j < nodes; ++j) {
                int n = list[j];
                if (n < 0 || n >= key.count || marks[n] >= pass) continue;
                marks[n] = static_cast<unsigned char>(pass);
                if (!usable(key, n)) continue;
                if (pass == 1)
                    ++size;
                else
                    put(&t.entries[t.size++], key, n, rank);
                ++rank;
            }
        }
        if (pass == 1) {
            t.entries = static_cast<Entry *>(take(static_cast<std::size_t>(size) * sizeof(Entry)));
            if (t.entries == nullptr) break;
        }
    }
    give(marks, markBytes);
    return t.entries != nullptr;
}

// Build the tree of `key` into t (cleared first). False when memory runs
// out; t then holds nothing but the key, marked failed.
bool rebuild(Tree &t, const Key &key) {
    clear(t);
    releaseAtExit();
    t.used = true;
    t.key = key;
    ++stats.builds;
    bool ok = collect(t, key);
    if (ok) {
        long leaves = 1;
        while ((t.size + leaves - 1) / leaves > kLeaf)
            leaves *= 2;
        t.leaves = leaves;
        t.split = static_cast<double *>(take(static_cast<std::size_t>(leaves) * sizeof(double)));
        t.axis = static_cast<unsigned char *>(take(static_cast<std::size_t>(leaves)));
        if (t.split == nullptr || t.axis == nullptr) ok = false;
    }
    if (!ok) {
        clear(t);
        t.used = true;
        t.failed = true;
        t.key = key;
        return false;
    }
    for (int a = 0; a < 3; ++a)
        t.lo[a] = DBL_MAX, t.hi[a] = -DBL_MAX;
    for (long i = 0; i < t.size; ++i)
        for (int a = 0; a < 3; ++a) {
            double v = t.entries[i].c[a];
            if (v < t.lo[a]) t.lo[a] = v;
            if (v > t.hi[a]) t.hi[a] = v;
        }
    build(t, 1, 0, t.size, key.twoD ? 2 : 3);
    return true;
}

// The tree for `key`: the one built for it; else it replaces the tree of
// the same material (its mesh changed), an unused slot or the least
// recently used tree, in that order of preference.
Tree &treeFor(const Key &key) {
    Tree *pick = nullptr;
    for (Tree &t : trees)
        if (t.used && t.key == key) pick = &t;
    if (pick == nullptr) {
        for (Tree &t : trees)
            if (pick == nullptr && t.used && t.key.material == key.material) pick = &t;
        for (Tree &t : trees)
            if (pick == nullptr && !t.used) pick = &t;
        if (pick == nullptr) {
            pick = &trees[0];
            for (Tree &t : trees)
                if (t.lastUse < pick->lastUse) pick = &t;
        }
        rebuild(*pick, key);
    }
    pick->lastUse = ++uses;
    return *pick;
}

// ---- searching ---------------------------------------------------------------------------

struct Search {
    const Tree *t;
    double p[3];
    int dims;
    double best;
    int bestRank;
    int found;
};

// Lower bound of the squared distance of every node beyond the gaps g.
inline double bound(const double g[3], int dims) {
    double b = g[0] * g[0] + g[1] * g[1];
    if (dims == 3) b = b + g[2] * g[2];
    return b;
}

void visit(Search &s, long k, long lo, long hi, double g[3]) {
    const Tree &t = *s.t;
    if (k >= t.leaves) {
        for (long i = lo; i < hi; ++i) {
            const Entry &e = t.entries[i];
            double dx = e.c[0] - s.p[0];
            double dy = e.c[1] - s.p[1];
            double d = dx * dx + dy * dy;
            if (s.dims == 3) {
                double dz = e.c[2] - s.p[2];
                d = d + dz * dz;
            }
            if (d < s.best || (d == s.best && e.rank > s.bestRank))
                s.best = d, s.bestRank = e.rank, s.found = e.node;
        }
        return;
    }
    int a = t.axis[k];
    double at = t.split[k];
    long mid = lo + (hi - lo) / 2;
    bool lowFirst = !(s.p[a] > at);
    // Nodes on the far side lie at least this far from the point along a.
    double gap = lowFirst ? at - s.p[a] : s.p[a] - at;
    if (lowFirst)
        visit(s, 2 * k, lo, mid, g);
    else
        visit(s, 2 * k + 1, mid, hi, g);
    double kept = g[a];
    if (gap > kept) g[a] = gap;
    if (!(bound(g, s.dims) > s.best)) {
        if (lowFirst)
            visit(s, 2 * k + 1, mid, hi, g);
        else
            visit(s, 2 * k, lo, mid, g);
    }
    g[a] = kept;
}

int search(const Tree &t, const double p[3], int dims) {
    ++stats.searches;
    Search s{&t, {p[0], p[1], p[2]}, dims, DBL_MAX, t.key.material == 0 ? INT_MAX : -1, 0};
    // A point outside the box of all nodes starts with the gaps to its
    // faces (box faces are node coordinates: the bound stays exact).
    double g[3] = {0.0, 0.0, 0.0};
    for (int a = 0; a < dims; ++a) {
        if (p[a] < t.lo[a]) g[a] = t.lo[a] - p[a];
        if (p[a] > t.hi[a]) g[a] = p[a] - t.hi[a];
    }
    visit(s, 1, 0, t.size, g);
    return s.found;
}

std::uint64_t bits(double v) {
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

} // namespace

namespace vulmora {

NodFixedStats nodFixedStats() {
    return stats;
}

void nodFixedMemoryLimit(std::size_t bytes) {
    limit = bytes;
}

void nodFixedRelease() {
    releaseAll();
}

} // namespace vulmora

extern "C" {

// ---- nodNumFixed ----------------------------------------------------------------------

int nodNumFixed(double x, double y, double z, int material, double *xout, double *yout,
                double *zout) {
    double p[3] = {fconvertToCGS(VULMORA_QTY_LENGTH, x), fconvertToCGS(VULMORA_QTY_LENGTH, y),
                   fconvertToCGS(VULMORA_QTY_LENGTH, z)};
    bool twoD = TWO_D != 0;
    int dims = twoD ? 2 : 3;
    Key key{material, nnod,    twoD ? 1 : 0, user_unit_coor, 0,      x_cord,
            y_cord,   nullptr, nullptr,      nullptr,        nullptr};
    if (!twoD) key.z = z_cord;
    if (material != 0) key.elems = nel, key.types = el_type, key.mats = mat_id, key.conn = ncon;

    // What nodNum finds nothing in, without building anything: missing
    // coordinates or element data, no nodes, a point with a NaN or infinite
    // coordinate (every distance is then NaN or infinite).
    bool searchable = key.x != nullptr && key.y != nullptr && (twoD || key.z != nullptr) &&
                      key.count > 0 && isFinite(p[0]) && isFinite(p[1]) && (twoD || isFinite(p[2]));
    if (material != 0 && (key.types == nullptr || key.mats == nullptr || key.conn == nullptr))
        searchable = false;
    int found = 0;
    if (searchable) {
        Tree &t = treeFor(key);
        if (t.failed) {
            ++stats.fallbacks;
            return nodNum(x, y, z, material, xout, yout, zout);
        }
        std::uint64_t b[3] = {bits(p[0]), bits(p[1]), twoD ? 0 : bits(p[2])};
        if (t.hasLast && std::memcmp(b, t.lastBits, sizeof b) == 0) {
            found = t.lastFound;
        } else {
            found = search(t, p, dims);
            t.hasLast = true;
            std::memcpy(t.lastBits, b, sizeof b);
            t.lastFound = found;
        }
    }
    if (found == 0) {
        vulmora_probe_note(VULMORA_PROBE_NODNUM_MISS);
        vulmora_say(VULMORA_MSG_NODNUM);
        return 0;
    }
    if (xout != nullptr) *xout = fconvertFromCGS(VULMORA_QTY_LENGTH, x_cord[found - 1]);
    if (yout != nullptr) *yout = fconvertFromCGS(VULMORA_QTY_LENGTH, y_cord[found - 1]);
    if (!twoD && zout != nullptr) *zout = fconvertFromCGS(VULMORA_QTY_LENGTH, z_cord[found - 1]);
    return found;
}

} // extern "C"

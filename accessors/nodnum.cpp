// nodnum.cpp - the node nearest to a point.
//
// Distances are compared squared, in internal units, computed exactly as
// (x-X)*(x-X) + (y-Y)*(y-Y) [+ (z-Z)*(z-Z) in 3-D], left to right, never
// fused. The best distance starts at the largest finite double, so a NaN or
// infinite distance is never chosen. Two searches with opposite tie rules:
//   all nodes (material 0): strictly smaller wins, ties keep the lowest node;
//   one material: smaller or equal wins, ties go to the node examined last,
//                 each node examined once (visit marks from the heap).

#include "../include/vulmora/getVar.h"

#include "../exchange/exchange.h"
#include "../runtime/messages.h"
#include "../runtime/stop.h"
#include "../units/units.h"
#include "mesh.h"
#include "nodscan.h"
#include "pointwalk.h"
#include "vulmora_probe.h"

#include <cfloat>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define VULMORA_NODNUM_SSE2 1
#endif
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define VULMORA_NODNUM_AVX2 1
#endif

namespace {

// ---- working values -----------------------------------------------------------

// The largest finite double: the starting best distance.
constexpr double kFar = DBL_MAX;

// Nodes per block of the all-nodes scan.
constexpr int kBlock = vulmora::kNodeScanBlock;

// The point, in internal units.
struct Point {
    double x, y, z;
};

// The node coordinates; z is null in a two-dimensional model.
struct Nodes {
    const double *x, *y, *z;
};

// Squared distance between node n and the point.
template <bool TwoD> inline double distance(const Nodes &c, std::ptrdiff_t n, const Point &p) {
    double dx = c.x[n] - p.x;
    double dy = c.y[n] - p.y;
    double d = dx * dx + dy * dy;
    if constexpr (!TwoD) {
        double dz = c.z[n] - p.z;
        d = d + dz * dz;
    }
    return d;
}

// The smaller of d and lo; lo when d is NaN (a NaN compares false).
inline double minKeepingFinite(double d, double lo) {
    return d < lo ? d : lo;
}

// ---- the all-nodes scan ---------------------------------------------------------
//
// Each block's smallest distance is taken with the widest vectors the
// processor has; only the block that first reaches the smallest distance
// is walked again for the first node at that distance. Every vector lane
// makes the scalar operations in the scalar order, so the distances are the
// same bits; MINPD keeps its second operand when the first is NaN, which is
// the scalar rule, and a minimum does not depend on the order it is taken
// in.

// The smallest distance of the m nodes from index base on, and lo, that is
// not NaN: scalar.
template <bool TwoD>
double blockMinScalar(const Nodes &c, std::ptrdiff_t base, int m, const Point &p, double lo) {
    for (int k = 0; k < m; ++k)
        lo = minKeepingFinite(distance<TwoD>(c, base + k, p), lo);
    return lo;
}

#ifdef VULMORA_NODNUM_SSE2
// Squared distances of two consecutive nodes starting at index n.
template <bool TwoD>
inline __m128d distance2(const Nodes &c, std::ptrdiff_t n, __m128d px, __m128d py, __m128d pz) {
    __m128d dx = _mm_sub_pd(_mm_loadu_pd(c.x + n), px);
    __m128d dy = _mm_sub_pd(_mm_loadu_pd(c.y + n), py);
    __m128d d = _mm_add_pd(_mm_mul_pd(dx, dx), _mm_mul_pd(dy, dy));
    if constexpr (!TwoD) {
        __m128d dz = _mm_sub_pd(_mm_loadu_pd(c.z + n), pz);
        d = _mm_add_pd(d, _mm_mul_pd(dz, dz));
    }
    return d;
}

// As blockMinScalar, two nodes at a time.
template <bool TwoD>
double blockMinSse2(const Nodes &c, std::ptrdiff_t base, int m, const Point &p, double lo) {
    __m128d px = _mm_set1_pd(p.x), py = _mm_set1_pd(p.y), pz = _mm_set1_pd(p.z);
    __m128d lo0 = _mm_set1_pd(lo), lo1 = lo0;
    int j = 0;
    for (; j + 4 <= m; j += 4) {
        lo0 = _mm_min_pd(distance2<TwoD>(c, base + j, px, py, pz), lo0);
        lo1 = _mm_min_pd(distance2<TwoD>(c, base + j + 2, px, py, pz), lo1);
    }
    double lanes[4];
    _mm_storeu_pd(lanes, lo0);
    _mm_storeu_pd(lanes + 2, lo1);
    for (double lane : lanes)
        lo = minKeepingFinite(lane, lo);
    return blockMinScalar<TwoD>(c, base + j, m - j, p, lo);
}
#endif

#ifdef VULMORA_NODNUM_AVX2
// Squared distances of four consecutive nodes starting at index n.
template <bool TwoD>
__attribute__((target("avx2"))) inline __m256d distance4(const Nodes &c, std::ptrdiff_t n,
                                                         __m256d px, __m256d py, __m256d pz) {
    __m256d dx = _mm256_sub_pd(_mm256_loadu_pd(c.x + n), px);
    __m256d dy = _mm256_sub_pd(_mm256_loadu_pd(c.y + n), py);
    __m256d d = _mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy));
    if constexpr (!TwoD) {
        __m256d dz = _mm256_sub_pd(_mm256_loadu_pd(c.z + n), pz);
        d = _mm256_add_pd(d, _mm256_mul_pd(dz, dz));
    }
    return d;
}

// As blockMinScalar, four nodes at a time.
template <bool TwoD>
__attribute__((target("avx2"))) double blockMinAvx2(const Nodes &c, std::ptrdiff_t base, int m,
                                                    const Point &p, double lo) {
    __m256d px = _mm256_set1_pd(p.x), py = _mm256_set1_pd(p.y), pz = _mm256_set1_pd(p.z);
    __m256d lo0 = _mm256_set1_pd(lo), lo1 = lo0;
    int j = 0;
    for (; j + 8 <= m; j += 8) {
        lo0 = _mm256_min_pd(distance4<TwoD>(c, base + j, px, py, pz), lo0);
        lo1 = _mm256_min_pd(distance4<TwoD>(c, base + j + 4, px, py, pz), lo1);
    }
    double lanes[8];
    _mm256_storeu_pd(lanes, lo0);
    _mm256_storeu_pd(lanes + 4, lo1);
    for (double lane : lanes)
        lo = minKeepingFinite(lane, lo);
    return blockMinScalar<TwoD>(c, base + j, m - j, p, lo);
}
#endif

// The block minimum with the chosen form.
template <bool TwoD>
double blockMin(vulmora::NodeScan form, const Nodes &c, std::ptrdiff_t base, int m, const Point &p,
                double lo) {
    switch (form) {
#ifdef VULMORA_NODNUM_AVX2
    case vulmora::NodeScan::Avx2:
        return blockMinAvx2<TwoD>(c, base, m, p, lo);
#endif
#ifdef VULMORA_NODNUM_SSE2
    case vulmora::NodeScan::Sse2:
        return blockMinSse2<TwoD>(c, base, m, p, lo);
#endif
    default:
        return blockMinScalar<TwoD>(c, base, m, p, lo);
    }
}

// Nodes in the block that starts at index base.
inline int blockSize(int count, std::ptrdiff_t base) {
    std::ptrdiff_t left = count - base;
    return left < vulmora::kNodeScanBlock ? static_cast<int>(left) : vulmora::kNodeScanBlock;
}

// Index of the first of the m nodes from index base on whose distance is
// lo (lo is one of them).
template <bool TwoD>
int firstAt(const Nodes &c, std::ptrdiff_t base, int m, const Point &p, double lo) {
    int j = 0;
    while (j < m - 1 && !(distance<TwoD>(c, base + j, p) == lo))
        ++j;
    return j;
}

// Node number (1-based) nearest to p over all count nodes; lowest number on
// ties; 0 when none has a distance below kFar. One pass takes every
// block's minimum and remembers the first block whose minimum is strictly
// below all before it: that block holds the first node at the smallest
// distance, the node a plain in-order sweep with a strict comparison
// keeps, and it alone is walked again. On nodes numbered in spatial order
// the minimum improves block after block; walking each such block at once
// would read most of the mesh twice.
template <bool TwoD>
int searchAll(vulmora::NodeScan form, const Nodes &c, int count, const Point &p) {
    double best = kFar;
    std::ptrdiff_t at = -1;
    for (std::ptrdiff_t base = 0; base < count; base += kBlock) {
        double lo = blockMin<TwoD>(form, c, base, blockSize(count, base), p, best);
        if (lo < best) best = lo, at = base;
    }
    if (at < 0) return 0;
    return static_cast<int>(at) + firstAt<TwoD>(c, at, blockSize(count, at), p, best) + 1;
}

// The form used: the widest available, unless a test chose one.
vulmora::NodeScan chosenForm = vulmora::NodeScan::Widest;

vulmora::NodeScan scanForm() {
    if (chosenForm != vulmora::NodeScan::Widest) return chosenForm;
    if (vulmora::nodeScanAvailable(vulmora::NodeScan::Avx2)) return vulmora::NodeScan::Avx2;
    if (vulmora::nodeScanAvailable(vulmora::NodeScan::Sse2)) return vulmora::NodeScan::Sse2;
    return vulmora::NodeScan::Scalar;
}

// ---- the material search -------------------------------------------------------

// Element data of the search, read once from the exchange block.
struct Elements {
    const int *types, *mats;
    int *const *conn;
    int count;
};

// Examine the node lists of the elements of material m (1-based) in element
// order, each node once, d <= best replacing (the last examined wins ties).
// marks holds a cleared byte per node; a node is marked before its
// distance is taken. Entries outside 0..count-1 (negative ones wrap to
// large unsigned values) are skipped, never used as a mark index.
template <bool TwoD>
int scanMaterial(const Nodes &c, int count, const Elements &e, int m, const Point &p,
                 unsigned char *marks) {
    double best = kFar;
    int result = 0;
    const unsigned limit = static_cast<unsigned>(count);
    for (int i = 0; i < e.count; ++i) {
        if (static_cast<long long>(e.mats[i]) + 1 != m) continue;
        const int *list = e.conn[i];
        int nodes = vulmora::typeNodes(e.types[i]);
        if (list == nullptr) continue;
        for (int j = 0; j < nodes; ++j) {
            unsigned n = static_cast<unsigned>(list[j]);
            if (n >= limit || marks[n] != 0) continue;
            marks[n] = 1;
            double d = distance<TwoD>(c, n, p);
            if (d <= best) best = d, result = static_cast<int>(n) + 1;
        }
    }
    return result;
}

// Node number of material m (1-based) nearest to p, with its visit marks:
// count cleared bytes from the heap, released before returning. Without
// nodes, element data or memory for the marks nothing can be found.
template <bool TwoD> int searchMaterial(const Nodes &c, int count, int m, const Point &p) {
    Elements e{el_type, mat_id, ncon, nel};
    if (count <= 0 || e.types == nullptr || e.mats == nullptr || e.conn == nullptr) return 0;
    std::size_t bytes = static_cast<std::size_t>(count);
    unsigned char *marks = static_cast<unsigned char *>(std::malloc(bytes));
    if (marks == nullptr) return 0;
    std::memset(marks, 0, bytes);
    int result = scanMaterial<TwoD>(c, count, e, m, p, marks);
    std::free(marks);
    return result;
}

} // namespace

namespace vulmora {

bool nodeScanAvailable(NodeScan form) {
    switch (form) {
    case NodeScan::Scalar:
        return true;
    case NodeScan::Sse2:
#ifdef VULMORA_NODNUM_SSE2
        return true;
#else
        return false;
#endif
    case NodeScan::Avx2:
#ifdef VULMORA_NODNUM_AVX2
        // The same processor check as the offset walk's AVX2 form.
        return pointWalkAvailable(PointWalk::Avx2);
#else
        return false;
#endif
    case NodeScan::Widest:
        return true;
    }
    return false;
}

void nodeScanUse(NodeScan form) {
    chosenForm = form;
}

} // namespace vulmora

extern "C" {

// ---- nodNum ----------------------------------------------------------------------

// The point is converted first, x, y, z in that order (z also in 2-D).
// Missing coordinates leave nothing to search. The outputs are written only
// for a node found; a null output pointer is skipped.
int nodNum(double x, double y, double z, int material, double *xout, double *yout, double *zout) {
    Point p;
    p.x = fconvertToCGS(VULMORA_QTY_LENGTH, x);
    p.y = fconvertToCGS(VULMORA_QTY_LENGTH, y);
    p.z = fconvertToCGS(VULMORA_QTY_LENGTH, z);
    bool twoD = TWO_D != 0;
    Nodes c{x_cord, y_cord, twoD ? nullptr : z_cord};
    int count = nnod, found = 0;
    if (c.x != nullptr && c.y != nullptr && (twoD || c.z != nullptr)) {
        if (material != 0)
            found = twoD ? searchMaterial<true>(c, count, material, p)
                         : searchMaterial<false>(c, count, material, p);
        else
            found = twoD ? searchAll<true>(scanForm(), c, count, p)
                         : searchAll<false>(scanForm(), c, count, p);
    }
    if (found == 0) {
        vulmora_probe_note(VULMORA_PROBE_NODNUM_MISS);
        vulmora_say(VULMORA_MSG_NODNUM);
        return 0;
    }
    if (xout != nullptr) *xout = fconvertFromCGS(VULMORA_QTY_LENGTH, c.x[found - 1]);
    if (yout != nullptr) *yout = fconvertFromCGS(VULMORA_QTY_LENGTH, c.y[found - 1]);
    if (!twoD && zout != nullptr) *zout = fconvertFromCGS(VULMORA_QTY_LENGTH, c.z[found - 1]);
    return found;
}

} // extern "C"

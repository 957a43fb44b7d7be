// ipmeans.cpp - element means of integration-point data.
//
// The host numbers the integration points of the mesh consecutively,
// element after element; element e owns el_ngp[type] points starting at
// the sum of the point counts of the elements before it. That offset is
// walked anew at every call (nothing is cached, the host may change the
// mesh between calls).
//
// A mean widens every value to double, adds in index order, divides by the
// point count as a double; an element without points gives 0.0 / 0, a NaN.

#include "../include/vulmora/getVar.h"

#include "../exchange/exchange.h"
#include "../runtime/messages.h"
#include "../runtime/stop.h"
#include "mesh.h"
#include "pointwalk.h"
#include "vulmora_probe.h"

#include <cstddef>

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace {

// ---- the integration-point layout --------------------------------------------

// Point counts of the elements 0..count-1 added up in 64 bits, one element
// at a time: one load, one compare and one table load per element. An
// unknown type code adds nothing.
long long pointSumScalar(const int *types, long long count) {
    long long sum = 0;
    for (long long i = 0; i < count; ++i) {
        unsigned type = static_cast<unsigned>(types[i]);
        bool known = type < static_cast<unsigned>(VULMORA_NTYPES);
        int points = el_ngp[known ? type : 0u];
        sum += known ? points : 0;
    }
    return sum;
}

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define VULMORA_IPMEANS_SIMD 1

// The vector walks look the point count up with a byte shuffle. Each type
// code is first clamped as an unsigned number to VULMORA_NTYPES, so every
// unknown code (negative ones included) lands on a table byte that holds 0;
// the clamped code fits in the lane's low byte and its three high bytes
// are 0, which shuffle to el_ngp[0] = 0. A lane then holds exactly the
// scalar walk's contribution of its element.

// Sixteen shuffle bytes: el_ngp in 0..11, 0 above.
struct PointTable {
    alignas(16) unsigned char bytes[16];
};

PointTable pointTable() {
    PointTable t{};
    for (int i = 0; i < VULMORA_NTYPES; ++i)
        t.bytes[i] = static_cast<unsigned char>(el_ngp[i]);
    return t;
}

// 32-bit lane sums are widened into the 64-bit total after at most this
// many vectors per lane: 8 points per element keeps a lane below 2^31.
constexpr long long kLaneRun = 1LL << 24;

// Point counts of the elements 0..count-1, eight at a time (AVX2).
__attribute__((target("avx2"))) long long pointSumAvx2(const int *types, long long count) {
    PointTable t = pointTable();
    const __m256i table =
        _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(t.bytes)));
    const __m256i limit = _mm256_set1_epi32(VULMORA_NTYPES);
    long long sum = 0, i = 0;
    while (count - i >= 8) {
        long long run = (count - i) / 8;
        if (run > kLaneRun) run = kLaneRun;
        __m256i lanes = _mm256_setzero_si256();
        for (const long long end = i + 8 * run; i < end; i += 8) {
            __m256i code = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(types + i));
            __m256i index = _mm256_min_epu32(code, limit);
            lanes = _mm256_add_epi32(lanes, _mm256_shuffle_epi8(table, index));
        }
        alignas(32) int part[8];
        _mm256_store_si256(reinterpret_cast<__m256i *>(part), lanes);
        for (int part_sum : part)
            sum += part_sum;
    }
    return sum + pointSumScalar(types + i, count - i);
}

// Point counts of the elements 0..count-1, four at a time (SSE4.1).
__attribute__((target("sse4.1"))) long long pointSumSse41(const int *types, long long count) {
    PointTable t = pointTable();
    const __m128i table = _mm_load_si128(reinterpret_cast<const __m128i *>(t.bytes));
    const __m128i limit = _mm_set1_epi32(VULMORA_NTYPES);
    long long sum = 0, i = 0;
    while (count - i >= 4) {
        long long run = (count - i) / 4;
        if (run > kLaneRun) run = kLaneRun;
        __m128i lanes = _mm_setzero_si128();
        for (const long long end = i + 4 * run; i < end; i += 4) {
            __m128i code = _mm_loadu_si128(reinterpret_cast<const __m128i *>(types + i));
            __m128i index = _mm_min_epu32(code, limit);
            lanes = _mm_add_epi32(lanes, _mm_shuffle_epi8(table, index));
        }
        alignas(16) int part[4];
        _mm_store_si128(reinterpret_cast<__m128i *>(part), lanes);
        for (int part_sum : part)
            sum += part_sum;
    }
    return sum + pointSumScalar(types + i, count - i);
}

// ---- what the processor offers -------------------------------------------------

// Bits of cpuFeatures().
constexpr int kQueried = 1, kSse41 = 2, kAvx2 = 4;

// Ask the processor, with CPUID and XGETBV (AVX2 needs the system to save
// the vector registers too).
int queryCpu() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    int found = kQueried;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return found;
    if (c & bit_SSE4_1) found |= kSse41;
    if (!(c & bit_OSXSAVE) || !(c & bit_AVX)) return found;
    unsigned lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0u));
    if ((lo & 6u) != 6u) return found;
    if (__get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_AVX2)) found |= kAvx2;
    return found;
}

// The processor's features, asked once and then remembered: a hardware
// fact, not host data, and CPUID is slow (it traps in a virtual machine).
// The word is zero-initialised storage (no constructor runs at load), and
// relaxed atomics make a first query from two threads at once harmless.
int cpuFeatures() {
    static int known;
    int found = __atomic_load_n(&known, __ATOMIC_RELAXED);
    if (found == 0) {
        found = queryCpu();
        __atomic_store_n(&known, found, __ATOMIC_RELAXED);
    }
    return found;
}
#endif

} // namespace

// ---- choosing the walk ------------------------------------------------------------

namespace vulmora {

// The vector forms exist only in x86 builds with GCC-style intrinsics and
// run only where the processor reports the instruction set.
bool pointWalkAvailable(PointWalk walk) {
    switch (walk) {
    case PointWalk::Scalar:
        return true;
#ifdef VULMORA_IPMEANS_SIMD
    case PointWalk::Sse41:
        return (cpuFeatures() & kSse41) != 0;
    case PointWalk::Avx2:
        return (cpuFeatures() & kAvx2) != 0;
#else
    case PointWalk::Sse41:
    case PointWalk::Avx2:
        return false;
#endif
    }
    return false;
}

// One form of the walk, chosen by the caller.
long long pointSum(const int *types, long long count, PointWalk walk) {
#ifdef VULMORA_IPMEANS_SIMD
    if (walk == PointWalk::Avx2) return pointSumAvx2(types, count);
    if (walk == PointWalk::Sse41) return pointSumSse41(types, count);
#else
    (void)walk;
#endif
    return pointSumScalar(types, count);
}

// Walks shorter than this many elements stay scalar.
constexpr long long kVectorFrom = 64;

// The widest form available; every form gives the scalar walk's sum.
long long pointOffset(const int *types, long long count) {
    if (count >= kVectorFrom) {
        if (pointWalkAvailable(PointWalk::Avx2)) return pointSum(types, count, PointWalk::Avx2);
        if (pointWalkAvailable(PointWalk::Sse41)) return pointSum(types, count, PointWalk::Sse41);
    }
    return pointSumScalar(types, count);
}

} // namespace vulmora

namespace {

// ---- the means ------------------------------------------------------------------------

// Mean over the points of element e (1-based, in range) of the values
// field[stride * p + component]. Without element types there is no
// element data: the element has no points and the mean is NaN.
double elementMean(const float *field, std::ptrdiff_t stride, std::ptrdiff_t component, int e) {
    const int *types = el_type;
    long long first = 0;
    int count = 0;
    if (types != nullptr) {
        first = vulmora::pointOffset(types, e - 1);
        count = vulmora::typePoints(types[e - 1]);
    }
    std::ptrdiff_t index = static_cast<std::ptrdiff_t>(first) * stride + component;
    double sum = 0.0;
    for (int j = 0; j < count; ++j, index += stride)
        sum += static_cast<double>(field[index]);
    return sum / static_cast<double>(count);
}

// ---- the accessors' common steps --------------------------------------------

// Mean of a one-value-per-point field for `accessor`; the caller has
// tested the pointer.
double scalarMean(const float *field, int e, const char *accessor) {
    if (e < 1 || e > nel) {
        vulmora_probe_out_of_range(accessor, e);
        return 0.0;
    }
    return elementMean(field, 1, 0, e);
}

// Stress component k of element e times stress_scale. The component count
// is tested first, then the pointer, then the element number.
double stressMean(int k, int e, const char *accessor) {
    if (nstr1 != 6) vulmora_stop(VULMORA_MSG_STRESS_3D);
    const float *field = strsg;
    if (field == nullptr) vulmora_stop(VULMORA_MSG_STRSG);
    if (e < 1 || e > nel) {
        vulmora_probe_out_of_range(accessor, e);
        return 0.0;
    }
    double mean = elementMean(field, 6, k, e);
    return mean * stress_scale;
}

} // namespace

extern "C" {

// ---- void fraction and strain ------------------------------------------------

// The void-fraction message names fv_scale: the host's users know it so.
double getFractionVoid(int e) {
    const float *field = fraction_void;
    if (field == nullptr) vulmora_stop(VULMORA_MSG_FRACTION_VOID);
    return scalarMean(field, e, __func__);
}

double getEpstn(int e) {
    const float *field = epstn_new;
    if (field == nullptr) vulmora_stop(VULMORA_MSG_EPSTN);
    return scalarMean(field, e, __func__);
}

// ---- stress components ----------------------------------------------------------

double getStress1(int e) {
    return stressMean(0, e, __func__);
}
double getStress2(int e) {
    return stressMean(1, e, __func__);
}
double getStress3(int e) {
    return stressMean(2, e, __func__);
}
double getStress4(int e) {
    return stressMean(3, e, __func__);
}
double getStress5(int e) {
    return stressMean(4, e, __func__);
}
double getStress6(int e) {
    return stressMean(5, e, __func__);
}

} // extern "C"

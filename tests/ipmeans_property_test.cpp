// ipmeans_property_test.cpp - the forms of the integration-point walk.
//
// The offset of an element is a sum of point counts over the elements
// before it. The library has a scalar walk and vector walks; each form the
// processor offers is compared with a plain sum written here, over random
// type codes full of unknown ones (negative, past the table, and codes whose
// low byte alone would be a valid type), at every length and alignment
// around the vector widths. The means of the last elements of a long mesh
// pin that the accessors use the walk's offset.

#include "accessors/pointwalk.h"
#include "exchange/exchange.h"
#include "getVar.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <vector>

namespace {

using vulmora::PointWalk;

const int kPoints[12] = {0, 8, 1, 6, 8, 6, 4, 3, 4, 2, 4, 8};

// Plain reference: unknown codes have no points.
long long referenceSum(const int *types, long long count) {
    long long s = 0;
    for (long long i = 0; i < count; ++i)
        s += types[i] >= 0 && types[i] < 12 ? kPoints[types[i]] : 0;
    return s;
}

// Unknown codes a vector lookup could mistake for known ones.
const int kUnknown[] = {-1,    12,         13,      15,      16,          255,  256, 257,
                        0x10B, 0x7FFFFF01, INT_MAX, INT_MIN, INT_MIN + 1, -256, -255};

// `count` codes: with probability `unknownShare` one of kUnknown, else a
// known code 0..11.
std::vector<int> randomTypes(std::mt19937 &rng, size_t count, double unknownShare) {
    std::uniform_int_distribution<int> known(0, 11);
    std::uniform_int_distribution<size_t> pick(0, std::size(kUnknown) - 1);
    std::bernoulli_distribution unknown(unknownShare);
    std::vector<int> types(count);
    for (int &t : types)
        t = unknown(rng) ? kUnknown[pick(rng)] : known(rng);
    return types;
}

struct Form {
    PointWalk walk;
    const char *name;
};
const Form kForms[] = {
    {PointWalk::Scalar, "scalar"}, {PointWalk::Sse41, "sse4.1"}, {PointWalk::Avx2, "avx2"}};

// ---- every form against the plain sum ------------------------------------------------

TEST(PointWalk, EveryFormMatchesPlainSum) {
    ASSERT_TRUE(vulmora::pointWalkAvailable(PointWalk::Scalar));
    std::mt19937 rng(99);
    const double shares[] = {0.0, 0.1, 0.5, 1.0};
    for (const Form &form : kForms) {
        if (!vulmora::pointWalkAvailable(form.walk)) continue;
        for (double share : shares) {
            // Lengths around the 4- and 8-wide steps, at every alignment.
            std::vector<int> types = randomTypes(rng, 80 + 3, share);
            for (size_t shift = 0; shift < 4; ++shift)
                for (long long count = 0; count <= 80; ++count)
                    ASSERT_EQ(vulmora::pointSum(types.data() + shift, count, form.walk),
                              referenceSum(types.data() + shift, count))
                        << form.name << " share=" << share << " shift=" << shift
                        << " count=" << count;
            std::vector<int> longer = randomTypes(rng, 100003, share);
            EXPECT_EQ(vulmora::pointSum(longer.data(), 100003, form.walk),
                      referenceSum(longer.data(), 100003))
                << form.name << " share=" << share;
        }
    }
}

// Each unknown code alone among known ones, in every lane position.
TEST(PointWalk, EachUnknownCodeCountsZeroInEveryLane) {
    for (const Form &form : kForms) {
        if (!vulmora::pointWalkAvailable(form.walk)) continue;
        for (int code : kUnknown)
            for (size_t lane = 0; lane < 16; ++lane) {
                std::vector<int> types(16, 1);
                types[lane] = code;
                ASSERT_EQ(vulmora::pointSum(types.data(), 16, form.walk), 15 * 8)
                    << form.name << " code=" << code << " lane=" << lane;
            }
    }
}

// ---- the accessors use the walk ---------------------------------------------------------

// fraction_void[p] = p, so a mean tells which points were read. Elements
// near the end of a long mesh of mixed codes take the vector walk.
TEST(PointWalk, MeansOfLateElementsReadTheirOwnPoints) {
    std::mt19937 rng(5);
    std::vector<int> types = randomTypes(rng, 5000, 0.2);
    long long points = referenceSum(types.data(), static_cast<long long>(types.size()));
    std::vector<float> values(static_cast<size_t>(points));
    for (size_t p = 0; p < values.size(); ++p)
        values[p] = static_cast<float>(p);
    nel = static_cast<int>(types.size());
    el_type = types.data();
    fraction_void = values.data();
    for (int e : {1, 63, 64, 65, 66, 1000, 4999, 5000}) {
        int t = types[static_cast<size_t>(e - 1)];
        int n = t >= 0 && t < 12 ? kPoints[t] : 0;
        if (n == 0) continue; // no points: NaN, pinned by the accessor tests
        long long first = referenceSum(types.data(), e - 1);
        double s = 0.0;
        for (int j = 0; j < n; ++j)
            s += static_cast<double>(values[static_cast<size_t>(first + j)]);
        EXPECT_EQ(getFractionVoid(e), s / n) << "e=" << e;
    }
    nel = 0;
    el_type = nullptr;
    fraction_void = nullptr;
}

} // namespace

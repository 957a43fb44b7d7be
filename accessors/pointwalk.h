// pointwalk.h - the walk that finds an element's first integration point.
//
// The offset of element e is the sum of the point counts (el_ngp) of the
// elements before it; an unknown type code counts 0. The walk comes in a
// scalar form and in vector forms that the processor may or may not offer;
// all of them give the same 64-bit sum. Only the library and its tests use
// this header.
#ifndef VULMORA_ACCESSORS_POINTWALK_H
#define VULMORA_ACCESSORS_POINTWALK_H

namespace vulmora {

// The forms of the walk, narrowest first.
enum class PointWalk { Scalar, Sse41, Avx2 };

// True when this build and this processor can run `walk`.
bool pointWalkAvailable(PointWalk walk);

// Point counts of types[0..count-1] added up with the given form, which
// must be available.
long long pointSum(const int *types, long long count, PointWalk walk);

// The same sum with the widest available form (the scalar one for short
// walks, where a vector set-up costs more than it saves).
long long pointOffset(const int *types, long long count);

} // namespace vulmora

#endif

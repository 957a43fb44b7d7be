// nodscan.h - the forms of nodNum's scan over all nodes, and its block
// size.
//
// The scan takes each block's smallest distance with the widest vectors the
// processor offers; every form finds the same node. Tests run each form
// against a plain sweep. Only the library and its tests use this header.
#ifndef VULMORA_ACCESSORS_NODSCAN_H
#define VULMORA_ACCESSORS_NODSCAN_H

namespace vulmora {

// Scalar, two lanes (SSE2), four lanes (AVX2); Widest: the widest this
// build and processor can run (the default).
enum class NodeScan { Scalar, Sse2, Avx2, Widest };

// Nodes per block: the scan takes each block's minimum, then walks one
// block again for the first node at the smallest distance.
constexpr int kNodeScanBlock = 1024;

// True when this build and this processor can run `form`.
bool nodeScanAvailable(NodeScan form);

// Make nodNum scan with `form` (which must be available) from now on;
// NodeScan::Widest restores the default.
void nodeScanUse(NodeScan form);

} // namespace vulmora

#endif

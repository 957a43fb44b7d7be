// mesh.h - meshes and fields the benchmarks point the exchange block at.
//
// Each builder owns its arrays and installs them in the exchange block
// with install(); the block then reads them exactly as it reads a host's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vbench {

// A cloud of `count` nodes at random places in a unit cube (centimetres),
// seeded so every run measures the same data.
struct NodeCloud {
    std::vector<double> x, y, z;
    explicit NodeCloud(int count, std::uint32_t seed = 1);
    void install(); // nnod, x_cord, y_cord, z_cord; 3-D

    // side^3 nodes of a structured mesh one centimetre apart, numbered row
    // by row (x fastest, then y, then z), as a mesher numbers a block:
    // neighbours in space are neighbours in the arrays.
    static NodeCloud grid(int side);
};

// A structured mesh of n*n*n hexahedra (type code 1, eight nodes) on
// (n+1)^3 nodes: every inner node is shared by eight elements. The lower
// half of the element layers is material 1 (mat_id 0), the rest material 2.
// Connectivity rows live in one array, as a host keeps them.
struct HexMesh {
    int n;
    NodeCloud nodes;
    std::vector<int> types, mats, conn;
    std::vector<int *> rows;
    explicit HexMesh(int n);
    void install();
};

// `count` elements of random type codes 1..11 with a fraction_void array
// of exactly the points they own.
struct PointMesh {
    std::vector<int> types;
    std::vector<float> values;
    explicit PointMesh(int count);
    void install(); // nel, el_type, fraction_void
};

// Ratio rows of the final table: the case `name` against `baseline`, both
// taken at the same arguments (or the baseline without arguments). With
// `bytes` (what the case must read per item, e.g. 24 for a node's three
// coordinates) the table also shows the time that many bytes take at the
// measured memory bandwidth (the case kBandwidthCase).
void compare(const std::string &name, const std::string &baseline, double bytes = 0.0);
struct Pair {
    std::string name, baseline;
    double bytes;
};
const std::vector<Pair> &pairs();

// The case whose time per item is the time per byte read from memory.
inline const char *const kBandwidthCase = "memory_read";

} // namespace vbench

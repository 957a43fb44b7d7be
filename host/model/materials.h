// materials.h - the materials whose nodes a run evaluates (--materials), as a
// set of bits: bit m-1 stands for material m.
#pragma once

namespace vhost::material {

constexpr int kCasting = 1 << 0; // material 1: the casting, its wall nodes included
constexpr int kMould = 1 << 1;   // material 2: the mould
constexpr int kAll = kCasting | kMould;
constexpr int kCount = 2; // materials 1 to kCount

// The bit of material m (1-based).
constexpr int bit(int m) {
    return 1 << (m - 1);
}

} // namespace vhost::material

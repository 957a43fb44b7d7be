// nodfixed.h - what the library's tests see of nodNumFixed's index.
//
// Counters of what the calls did, a ceiling on the memory the indexes may
// take (so a test can make any allocation fail), and a way to drop every
// index. Only the library and its tests use this header; nothing here is
// exported.
#ifndef VULMORA_ACCESSORS_NODFIXED_H
#define VULMORA_ACCESSORS_NODFIXED_H

#include <cstddef>

namespace vulmora {

// Counts since the library was loaded.
struct NodFixedStats {
    long long builds;    // indexes built (each rebuild counts)
    long long searches;  // index searches (repeated points are not searched)
    long long fallbacks; // calls answered by nodNum's scan for want of memory
    std::size_t held;    // bytes the indexes hold now
};
NodFixedStats nodFixedStats();

// At most `bytes` held by the indexes and their scratch arrays together;
// an allocation beyond it fails. SIZE_MAX (the default) sets no ceiling.
void nodFixedMemoryLimit(std::size_t bytes);

// Free every index (also done when the library is unloaded).
void nodFixedRelease();

} // namespace vulmora

#endif

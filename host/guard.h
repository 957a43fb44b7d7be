// guard.h - the host's input arrays, read-only for user code.
//
// The solver's arrays are input to user functions: a function that writes
// into them changes what every later call sees. The worker copies the
// arrays the exchange block points at into pages of their own, makes them
// read-only and points the block at the copies, so such a write faults at
// once, in the call that made it, and locate() names the array and entry.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vhost {

struct Exchange;
class Sample;

// The arrays guarded, in the order of their indices.
inline constexpr const char *kGuardedArrays[] = {"x_cord",
                                                 "y_cord",
                                                 "z_cord",
                                                 "el_type",
                                                 "mat_id",
                                                 "ncon",
                                                 "ncon rows",
                                                 "el_vol",
                                                 "t0",
                                                 "t1",
                                                 "fs0",
                                                 "fs1",
                                                 "vf_s0",
                                                 "vf_s1",
                                                 "f_vol0",
                                                 "f_vol1",
                                                 "jctn0",
                                                 "jctn1",
                                                 "fatigue_life",
                                                 "u0",
                                                 "v0",
                                                 "w0",
                                                 "u1",
                                                 "v1",
                                                 "w1",
                                                 "p0",
                                                 "p1",
                                                 "mushy_strain",
                                                 "fraction_void",
                                                 "epstn_new",
                                                 "strsg"};
constexpr size_t kNumGuarded = sizeof kGuardedArrays / sizeof kGuardedArrays[0];

class InputGuard {
  public:
    InputGuard() = default;
    ~InputGuard();
    InputGuard(const InputGuard &) = delete;
    InputGuard &operator=(const InputGuard &) = delete;

    // Copy the sample's arrays of the current step into the read-only pages
    // and point the block at the copies; false when the pages cannot be
    // had (the block then points at the sample itself).
    bool protect(Exchange &x, const Sample &s);
    // The guarded array holding `address` and the entry there; false when
    // it is none of them. Safe in a signal handler.
    bool locate(const void *address, int32_t &array, int64_t &entry) const;

  private:
    struct Region {
        const char *base = nullptr;
        size_t bytes = 0, element = 1;
    };
    Region regions_[kNumGuarded];
    char *arena_ = nullptr;
    size_t arenaBytes_ = 0;
};

} // namespace vhost

// guard.h - the host's input arrays, read-only for user code.
//
// The solver's arrays are input to user functions: a function that writes
// into them changes what every later call sees. The sample keeps each
// array in pages of its own; the worker makes those pages read-only while
// user code runs, so such a write faults at once, in the call that made
// it, and locate() names the array and the entry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "model/fields.h"

namespace vhost {

class Sample;

// The arrays guarded, in the order of their indices: the sample's arrays
// of fields.h, each by its variable's name or its own label.
inline constexpr const char *kGuardedArrays[] = {
#define VHOST_GUARD_VARIABLE(variable, ...) #variable,
#define VHOST_GUARD_LABEL(label, ...) label,
    VHOST_SAMPLE_ARRAYS(VHOST_GUARD_VARIABLE, VHOST_GUARD_LABEL)
#undef VHOST_GUARD_VARIABLE
#undef VHOST_GUARD_LABEL
};
constexpr size_t kNumGuarded = sizeof kGuardedArrays / sizeof kGuardedArrays[0];

class InputGuard {
  public:
    InputGuard() = default;
    ~InputGuard() = default;
    InputGuard(const InputGuard &) = delete;
    InputGuard &operator=(const InputGuard &) = delete;

    // Make the sample's arrays read-only (after its step is filled); false
    // when the system refuses. With `fieldsPending` the step's field
    // arrays, and the mesh's not filled yet, are made unreadable instead,
    // and the first access to one fills it (see resolve).
    bool protect(Sample &s, bool fieldsPending = false);
    // Make the fields writable again, before the sample fills the next
    // step. The mesh's arrays, once filled, stay read-only: nothing writes
    // them again, and protect() then leaves them as they are (one that
    // user code made writable excepted).
    void release();
    // Whether user code made one of the arrays writable again (mprotect)
    // and changed it: the array and the first entry that differs from a
    // fresh fill. Between calls only; a writable array left unchanged is
    // not counted.
    bool changedBehindGuard(int32_t &array, int64_t &entry);
    // The guarded array holding `address` and the entry there; false when
    // it is none of them. Safe in a signal handler.
    bool locate(const void *address, int32_t &array, int64_t &entry) const;
    // A fault at `address`: when it lies in a field array still pending,
    // fill it (the integration-point arrays together), make it read-only
    // and return true (the access is then made again). Runs in the
    // fault's signal handler.
    bool resolve(const void *address);
    // The time spent filling arrays in resolve, so far (wall clock and the
    // filling thread's processor time, in seconds).
    struct FillTime {
        double seconds = 0, cpuSeconds = 0;
    };
    FillTime fillTime() const { return {fillSeconds_, fillCpuSeconds_}; }

  private:
    struct Region {
        const char *base = nullptr;
        size_t bytes = 0, element = 1;
    };
    // The mesh comes first, then the fields; the integration-point arrays
    // come last.
    static constexpr size_t kFirstField = kMeshArrays, kFirstPoints = kNumGuarded - kPointArrays;
    bool setAccess(size_t first, size_t end, bool readOnly) const;
    bool fillPending(size_t k);
    bool reprotectOpenedMesh();
    int64_t firstChanged(size_t k);
    Region regions_[kNumGuarded];
    Sample *sample_ = nullptr;
    bool readOnly_ = false;
    volatile bool pending_[kNumGuarded] = {};
    volatile bool lazyFilled_[kNumGuarded] = {}; // filled by resolve since protect
    volatile bool meshKept_[kMeshArrays] = {};   // filled and read-only since an earlier step
    volatile double fillSeconds_ = 0, fillCpuSeconds_ = 0;
};

} // namespace vhost

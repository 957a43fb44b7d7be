// guard.cpp - the sample's arrays made read-only in place.
#include "model/guard.h"

#include <atomic>
#include <chrono>
#include <cstring>

#include "platform/pages.h"
#include "platform/system.h"
#include "model/sample.h"

namespace vhost {

namespace {

// The pages an array of `bytes` occupies, whole: its storage is an
// allocation of its own, and a huge page must not be split.
size_t pages(size_t bytes) {
    return platform::allocationSize(bytes);
}

} // namespace

bool InputGuard::protect(Sample &s, bool fieldsPending) {
    auto region = [](const auto &v) {
        using T = typename std::remove_reference_t<decltype(v)>::value_type;
        return Region{reinterpret_cast<const char *>(v.data()), v.size() * sizeof(T), sizeof(T)};
    };
#define VHOST_REGION(first, member, ...) region(s.member),
    const Region all[kNumGuarded] = {VHOST_SAMPLE_ARRAYS(VHOST_REGION, VHOST_REGION)};
#undef VHOST_REGION
    bool ok = true;
    if (sample_ != &s)
        for (volatile bool &kept : meshKept_)
            kept = false;
    sample_ = &s;
    for (size_t k = 0; k < kNumGuarded; ++k) {
        const bool moved = regions_[k].base != all[k].base || regions_[k].bytes != all[k].bytes;
        regions_[k] = all[k];
        pending_[k] = fieldsPending && all[k].base && all[k].bytes &&
                      (k >= kFirstField || !s.filled(all[k].base));
        lazyFilled_[k] = false;
        if (!all[k].base || !all[k].bytes) continue;
        if (k < kFirstField && meshKept_[k] && !moved && !pending_[k]) continue; // still read-only
        char *base = const_cast<char *>(all[k].base);
        ok = (pending_[k] ? platform::hidePages(base, pages(all[k].bytes))
                          : platform::protectPages(base, pages(all[k].bytes), true)) &&
             ok;
        if (k < kFirstField) meshKept_[k] = !pending_[k];
    }
    readOnly_ = true;
    return reprotectOpenedMesh() && ok;
}

// A mesh array kept read-only from an earlier step that user code made
// writable since (mprotect) is made read-only again, as every array is
// at the start of a step.
bool InputGuard::reprotectOpenedMesh() {
    platform::Span spans[kMeshArrays];
    for (size_t k = 0; k < kMeshArrays; ++k)
        spans[k] = {regions_[k].base,
                    regions_[k].base && meshKept_[k] ? pages(regions_[k].bytes) : 0};
    bool ok = true, any = false;
    for (const platform::Span &span : spans)
        any = any || span.size;
    for (size_t k = any ? platform::writableSpan(spans, kMeshArrays) : kMeshArrays; k < kMeshArrays;
         k = k + 1 + platform::writableSpan(spans + k + 1, kMeshArrays - k - 1))
        ok = platform::protectPages(const_cast<char *>(regions_[k].base), pages(regions_[k].bytes),
                                    true) &&
             ok;
    return ok;
}

bool InputGuard::setAccess(size_t first, size_t end, bool readOnly) const {
    bool ok = true;
    for (size_t k = first; k < end; ++k)
        if (regions_[k].base && regions_[k].bytes)
            ok = platform::protectPages(const_cast<char *>(regions_[k].base),
                                        pages(regions_[k].bytes), readOnly) &&
                 ok;
    return ok;
}

// One thread fills at a time: user code may read the host's arrays from
// threads of its own. A thread that faulted on an array another thread
// was filling makes its access once more; a second fault at the same
// address is a write into the read-only array.
bool InputGuard::resolve(const void *address) {
    static std::atomic_flag busy = ATOMIC_FLAG_INIT;
    static thread_local const void *retried = nullptr;
    while (busy.test_and_set(std::memory_order_acquire)) {
    }
    int32_t array = -1;
    int64_t entry = 0;
    bool again = false;
    if (sample_ && locate(address, array, entry)) {
        const size_t k = static_cast<size_t>(array);
        if (pending_[k]) {
            again = fillPending(k);
            retried = nullptr;
        } else if (lazyFilled_[k] && retried != address) {
            again = true;
            retried = address;
        }
    }
    busy.clear(std::memory_order_release);
    return again;
}

// Fill pending array k (the integration points' three together) and make
// it read-only. With threads of user code about, the values go into fresh
// pages that then take the array's place at once: another thread reading
// the array meanwhile faults and waits, instead of reading it half filled.
// Alone, or where pages cannot be replaced so, the array is opened and
// filled in place (its pages from the last step serve again).
bool InputGuard::fillPending(size_t k) {
    const size_t first = k >= kFirstPoints ? kFirstPoints : k;
    const size_t end = k >= kFirstPoints ? kNumGuarded : k + 1;
    const auto start = std::chrono::steady_clock::now(); // clock_gettime: safe here
    const double cpuStart = platform::threadCpuSeconds();
    Sample::FillTargets into;
    bool fresh = !platform::singleThreaded();
    for (size_t j = first; j < end; ++j) {
        into.arrays[j - first] = regions_[j].base;
        into.buffers[j - first] =
            fresh ? platform::allocatePages(pages(regions_[j].bytes)) : nullptr;
        fresh = fresh && into.buffers[j - first];
    }
    bool ok = true;
    if (fresh) {
        sample_->fill(regions_[k].base, &into);
        for (size_t j = first; j < end && ok; ++j) {
            void *buffer = into.buffers[j - first];
            ok = platform::protectPages(buffer, pages(regions_[j].bytes), true) &&
                 platform::replacePages(buffer, const_cast<char *>(regions_[j].base),
                                        pages(regions_[j].bytes));
            if (ok) into.buffers[j - first] = nullptr;
        }
    }
    for (size_t j = first; j < end; ++j)
        if (into.buffers[j - first])
            platform::freePages(into.buffers[j - first], pages(regions_[j].bytes));
    if (!fresh || !ok) { // in place
        if (!setAccess(first, end, false)) return false;
        sample_->fill(regions_[k].base);
        setAccess(first, end, true);
    }
    fillCpuSeconds_ = fillCpuSeconds_ + (platform::threadCpuSeconds() - cpuStart);
    fillSeconds_ = fillSeconds_ +
                   std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (size_t j = first; j < end; ++j) {
        pending_[j] = false;
        lazyFilled_[j] = true;
        if (j < kFirstField) meshKept_[j] = true; // read-only from now on
    }
    return true;
}

bool InputGuard::changedBehindGuard(int32_t &array, int64_t &entry) {
    if (!readOnly_ || !sample_) return false;
    platform::Span spans[kNumGuarded];
    for (size_t k = 0; k < kNumGuarded; ++k)
        spans[k] = {regions_[k].base, regions_[k].base ? pages(regions_[k].bytes) : 0};
    for (size_t k = platform::writableSpan(spans, kNumGuarded); k < kNumGuarded;
         k = k + 1 + platform::writableSpan(spans + k + 1, kNumGuarded - k - 1)) {
        entry = firstChanged(k);
        if (entry >= 0) return array = static_cast<int32_t>(k), true;
    }
    return false;
}

// The first entry of array k that differs from what the sample fills it
// with now (its group filled into fresh pages), or -1.
int64_t InputGuard::firstChanged(size_t k) {
    const size_t first = k >= kFirstPoints ? kFirstPoints : k;
    const size_t end = k >= kFirstPoints ? kNumGuarded : k + 1;
    Sample::FillTargets into;
    bool ok = true;
    for (size_t j = first; j < end; ++j) {
        into.arrays[j - first] = regions_[j].base;
        into.buffers[j - first] = platform::allocatePages(pages(regions_[j].bytes));
        ok = ok && into.buffers[j - first];
    }
    int64_t changed = -1;
    if (ok && sample_->fill(regions_[k].base, &into)) {
        const Region &r = regions_[k];
        const char *now = r.base, *fresh = static_cast<const char *>(into.buffers[k - first]);
        for (size_t at = 0; at < r.bytes && changed < 0; at += r.element)
            if (std::memcmp(now + at, fresh + at, r.element) != 0)
                changed = static_cast<int64_t>(at / r.element);
    }
    for (size_t j = first; j < end; ++j)
        platform::freePages(into.buffers[j - first], pages(regions_[j].bytes));
    return changed;
}

void InputGuard::release() {
    if (!readOnly_) return;
    setAccess(kFirstField, kNumGuarded, false); // the mesh is never written again
    readOnly_ = false;
}

bool InputGuard::locate(const void *address, int32_t &array, int64_t &entry) const {
    const char *p = static_cast<const char *>(address);
    for (size_t k = 0; k < kNumGuarded; ++k) {
        const Region &r = regions_[k];
        if (r.base && p >= r.base && p < r.base + r.bytes) {
            array = static_cast<int32_t>(k);
            entry = static_cast<int64_t>(static_cast<size_t>(p - r.base) / r.element);
            return true;
        }
    }
    return false;
}

} // namespace vhost

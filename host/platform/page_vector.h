// page_vector.h - a vector in whole pages of its own.
#pragma once

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

#include "platform/pages.h"

namespace vhost {

// Storage in whole pages of its own (a large one aligned to a huge page):
// the worker makes the host's arrays read-only for user
// code in place, without a copy, and the parent reads a worker's values
// into pages no other allocation touched.
template <class T> struct PageAllocator {
    using value_type = T;
    PageAllocator() = default;
    template <class U> PageAllocator(const PageAllocator<U> &) {}
    static size_t bytes(size_t n) { return platform::allocationSize(n * sizeof(T)); }
    T *allocate(size_t n) {
        void *p = platform::allocatePages(bytes(n));
        if (!p) throw std::bad_alloc();
        return static_cast<T *>(p);
    }
    void deallocate(T *p, size_t n) { platform::freePages(p, bytes(n)); }
    // New pages read as zeros: an element made without a value is left as
    // it is, so a field is not written (nor its memory taken) until it is
    // filled.
    template <class U, class... Args> void construct(U *p, Args &&...args) {
        if constexpr (sizeof...(Args) == 0)
            ::new (static_cast<void *>(p)) U;
        else
            ::new (static_cast<void *>(p)) U(std::forward<Args>(args)...);
    }
    template <class U> bool operator==(const PageAllocator<U> &) const { return true; }
};
template <class T> using PageVector = std::vector<T, PageAllocator<T>>;

// The heap's storage, but elements made without a value are left as they
// are: a vector resized to be read into is not zero-filled first.
template <class T> struct UninitializedAllocator : std::allocator<T> {
    using value_type = T;
    UninitializedAllocator() = default;
    template <class U> UninitializedAllocator(const UninitializedAllocator<U> &) {}
    template <class U> struct rebind { using other = UninitializedAllocator<U>; };
    template <class U, class... Args> void construct(U *p, Args &&...args) {
        if constexpr (sizeof...(Args) == 0)
            ::new (static_cast<void *>(p)) U;
        else
            ::new (static_cast<void *>(p)) U(std::forward<Args>(args)...);
    }
};
template <class T> using UninitializedVector = std::vector<T, UninitializedAllocator<T>>;

} // namespace vhost

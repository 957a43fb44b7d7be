// pages.h - memory in whole pages whose access can be changed: the host's
// arrays as user code sees them (files_posix.cpp, files_win32.cpp).
#pragma once

#include <cstddef>

namespace vhost::platform {

// Pages that can be made read-only. `size` is rounded up to
// allocationSize(size), and that is what protectPages and hidePages must be
// given for the whole allocation: a large one is aligned to a huge page and
// takes whole huge pages (no huge pages are asked for, but a system that
// gives them to every allocation can back it whole, and changing part of
// a huge page would split it).
void *allocatePages(size_t size);
void freePages(void *data, size_t size);
// The bytes an allocation of `size` takes: whole pages, and whole huge
// pages for one of at least a huge page where they are used.
size_t allocationSize(size_t size);
bool protectPages(void *data, size_t size, bool readOnly);
// No access at all, until protectPages opens them again.
bool hidePages(void *data, size_t size);
// A span of memory, for writableSpan.
struct Span {
    const void *data = nullptr;
    size_t size = 0;
};
// The index of the first of `spans` that has a writable page now (someone
// changed its protection), or `n` when none has or it cannot be told.
size_t writableSpan(const Span *spans, size_t n);
// Put the pages at `from` (from allocatePages, `size` bytes) in place of
// those at `to`, in one step: no thread ever sees the old pages half
// replaced. `from` is then gone. False where that cannot be done (all
// but Linux), with nothing changed.
bool replacePages(void *from, void *to, size_t size);
// Give the whole pages inside [data, data + size) memory now, writable,
// in one call instead of a fault per page: for storage about to be
// written whole. Nothing where the system cannot (it is only faster).
void prefaultPages(void *data, size_t size);
// True when this process surely runs one thread only (safe in a signal
// handler; false when it cannot tell).
bool singleThreaded();
size_t pageSize();

} // namespace vhost::platform

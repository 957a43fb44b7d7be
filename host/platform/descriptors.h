// descriptors.h - the C runtime's file descriptors under one set of names
// on every system, so that what is done with them is written once
// (common.cpp) and only the calls differ (posix_system.cpp,
// win32_system.cpp).
#pragma once

namespace vhost::platform::fd {

// A new descriptor for what `fd` refers to; -1 when it cannot.
int duplicate(int fd);

// Make `to` refer to what `from` does; false when it cannot.
bool duplicateOnto(int from, int to);

// Close `fd`.
void close(int fd);

// The null device opened for writing, not inherited by children; -1 when
// it cannot be opened.
int openNullForWriting();

} // namespace vhost::platform::fd

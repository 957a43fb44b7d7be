// posix_signals.h - the registry of running workers' process groups,
// shared by the process runner (which fills it) and the interruption
// handler (which tells a worker's signal from the user's by it).
#pragma once

#include <sys/types.h>

namespace vhost::platform {

// Watch the worker whose group is `pid` for signals it sends here.
void watchWorker(pid_t pid);

// The signal the worker `pid` sent here (0: none); it is watched no more.
int unwatchWorker(pid_t pid);

} // namespace vhost::platform

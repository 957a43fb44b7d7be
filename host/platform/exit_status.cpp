// exit_status.cpp - ending a command with a message.
#include "platform/exit_status.h"

#include <cstdio>

#include "platform/processes.h"
#include "platform/signals.h"

namespace vhost {

int fail(ExitStatus status, const std::string &message) {
    std::fprintf(stderr, "vulmora-host: %s\n", message.c_str());
    return code(status);
}

int interruptedStatus() {
    const int sig = platform::interrupted();
    std::fprintf(stderr,
                 "vulmora-host: interrupted by %s: the run is incomplete and no results "
                 "were written\n",
                 platform::signalName(sig).c_str());
    return 128 + sig;
}

} // namespace vhost

// exit_status.h - what vulmora-host's exit status says, and the one way
// to end a command with a message.
#pragma once

#include <string>

namespace vhost {

// The exit status of every command: the user's code failed or a check
// found something (Failed), the command could not be carried out (Usage:
// a bad command line or input, or the emulator's own failure), or a signal
// ended the run (128 + its number, see interruptedStatus).
enum class ExitStatus : int {
    Ok = 0,
    Failed = 1,
    Usage = 2,
    WorkerSetup = 3, // a worker's own setup failed (the parent reports it)
};

// `status` as the process's exit status.
constexpr int code(ExitStatus status) {
    return static_cast<int>(status);
}

// Print "vulmora-host: <message>" on stderr; return `status` as an exit status.
int fail(ExitStatus status, const std::string &message);

// Say that the run was interrupted (by the signal platform::interrupted()
// reports) and that nothing was written; return 128 + the signal.
int interruptedStatus();

} // namespace vhost

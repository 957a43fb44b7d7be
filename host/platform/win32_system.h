// win32_system.h - what the Windows files of the platform layer share:
// the system's message for an error code, and a process's processor time.
#pragma once

#include <windows.h>

#include <string>

namespace vhost::platform {

// The system's text for error code `code`, without the trailing newline.
std::string systemMessage(DWORD code);

// User and kernel time of the process `p`, in seconds.
double processSeconds(HANDLE p);

} // namespace vhost::platform

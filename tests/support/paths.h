// paths.h - where the tests find the libraries the build made.
#pragma once

#include <cstdlib>
#include <string>

namespace vtest {

// The value of environment variable `name`, or `fallback` when unset.
inline std::string envOr(const char *name, const std::string &fallback = "") {
    const char *v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

#ifndef VULMORA_DEFAULT_LIB
#define VULMORA_DEFAULT_LIB ""
#endif

// The delivered template library.
inline std::string deliveredLibrary() {
    return envOr("VULMORA_LIB", VULMORA_DEFAULT_LIB);
}

} // namespace vtest

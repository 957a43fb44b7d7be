#!/usr/bin/env bash
# Install what building and testing need, with apt-get, when it is missing.
# Debian 12 package names; run as root (or with sudo available).
set -euo pipefail

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

# Install those of the named packages that are not installed yet.
install_missing() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    ((${#missing[@]})) || return 0
    echo "installing: ${missing[*]}"
    $SUDO apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
}

install_missing cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev googletest \
    libbenchmark-dev binutils valgrind gnuplot-nox

# The Windows checks need the MinGW-w64 cross compiler and Wine. They are
# optional: when they cannot be installed, tests/windows/check.sh skips.
install_missing g++-mingw-w64-x86-64 wine wine64 ||
    echo "could not install the MinGW-w64 cross compiler and Wine: the Windows checks will be skipped"

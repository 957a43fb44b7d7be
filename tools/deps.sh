#!/usr/bin/env bash
# Install what building and testing need, with apt-get, when it is missing.
# Debian 12 package names; run as root (or with sudo available).
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev googletest libbenchmark-dev
          binutils valgrind gnuplot-nox)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

# The Windows checks need the MinGW-w64 cross compiler and Wine. They are
# optional: when they cannot be installed, tests/windows/check.sh skips.
windows_packages=(g++-mingw-w64-x86-64 wine wine64)
missing=()
for p in "${windows_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    { $SUDO apt-get update -qq &&
      DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"; } ||
        echo "could not install ${missing[*]}: the Windows checks will be skipped"
fi

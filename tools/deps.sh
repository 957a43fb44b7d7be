#!/usr/bin/env bash
# Install what building and testing need, with apt-get, when it is missing.
# Debian 12 package names; run as root (or with sudo available).
set -euo pipefail

packages=(cmake ninja-build g++ clang libgtest-dev googletest libbenchmark-dev
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

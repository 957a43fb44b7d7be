#!/usr/bin/env bash
# Install what is missing, with apt-get (Debian 12 package names; run as
# root, or with sudo available):
#   bash tools/deps.sh            what building and running need
#   bash tools/deps.sh --tests    that, and what the whole check needs on top
#                                 (tools/check.sh: sanitizers, fuzzing,
#                                 valgrind, the debugger, the Windows cross
#                                 build under Wine; and the benchmarks)
# Quiet unless something fails: apt's output goes to a log, shown then.
set -euo pipefail

tests=0
case "${1-}" in
"") ;;
--tests) tests=1 ;;
*)
    echo "usage: bash tools/deps.sh [--tests]" >&2
    exit 2
    ;;
esac

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
log=$(mktemp "${TMPDIR:-/tmp}/vulmora-deps.XXXXXX")
trap 'rm -f "$log"' EXIT

# Install those of the named packages that are not installed yet; on
# failure show apt's log and return 1.
install_missing() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    ((${#missing[@]})) || return 0
    echo "installing ${missing[*]}"
    if ! { $SUDO apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"; } \
        >"$log" 2>&1; then
        cat "$log" >&2
        echo "tools/deps.sh: could not install ${missing[*]}" >&2
        return 1
    fi
}

# Building (the default preset builds the tests too) and running (gnuplot
# draws the plots of a run).
install_missing cmake ninja-build g++ binutils libgtest-dev googletest gnuplot-nox
((tests)) || exit 0

install_missing clang libclang-rt-14-dev libbenchmark-dev valgrind gdb

# The Windows checks need the MinGW-w64 cross compiler and Wine. They are
# optional: when they cannot be installed, tests/windows/check.sh skips.
install_missing g++-mingw-w64-x86-64 wine wine64 ||
    echo "the Windows checks will be skipped (no MinGW-w64 cross compiler or Wine)"

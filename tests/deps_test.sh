#!/usr/bin/env bash
# tools/deps.sh against a fake apt: which packages each mode asks for, one
# line when it installs, apt's log only when apt fails, and the status.
#   bash tests/deps_test.sh <source dir>
set -uo pipefail
deps="$1/tools/deps.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"

# dpkg-query: installed are the packages named in $work/installed.
cat >"$work/bin/dpkg-query" <<'EOF'
#!/usr/bin/env bash
grep -qx "${@: -1}" "$FAKE/installed" && echo "install ok installed"
EOF
# apt-get: chatty; records what it was asked; fails when $work/broken exists
# and the request names a package listed there.
cat >"$work/bin/apt-get" <<'EOF'
#!/usr/bin/env bash
for i in $(seq 40); do echo "Selecting previously unselected package $i"; done
[ "$1" = update ] && exit 0
echo "$*" >>"$FAKE/asked"
for p in "$@"; do grep -qx "$p" "$FAKE/broken" 2>/dev/null && { echo "E: Unable to locate package $p"; exit 100; }; done
exit 0
EOF
# Root, so that no sudo is tried.
printf '#!/bin/sh\necho 0\n' >"$work/bin/id"
chmod +x "$work/bin/"*

failures=0
# name | arguments | installed | broken | expected status | output must match | output must not match | asked must match
while IFS='|' read -r name args installed broken status want wantnot asked; do
    printf '%s\n' $installed >"$work/installed"
    printf '%s\n' $broken >"$work/broken"
    rm -f "$work/asked"
    out=$(FAKE="$work" PATH="$work/bin:$PATH" bash "$deps" $args 2>&1)
    rc=$?
    got_asked=$(cat "$work/asked" 2>/dev/null)
    problem=""
    [ "$rc" = "$status" ] || problem+=" status $rc, not $status;"
    [[ "$out" =~ $want ]] || problem+=" output lacks /$want/;"
    [ -z "$wantnot" ] || ! [[ "$out" =~ $wantnot ]] || problem+=" output has /$wantnot/;"
    [[ "$got_asked" =~ $asked ]] || problem+=" apt was asked \"$got_asked\";"
    if [ -n "$problem" ]; then
        echo "$name:$problem"
        echo "$out" | sed 's/^/    /'
        failures=$((failures + 1))
    fi
done <<'EOF'
build_only||||0|^installing cmake ninja-build g\+\+ binutils libgtest-dev googletest gnuplot-nox$|Selecting|^install .*gnuplot-nox$
nothing_missing||cmake ninja-build g++ binutils libgtest-dev googletest gnuplot-nox||0|^$||^$
tests_on_top|--tests|cmake ninja-build g++ binutils libgtest-dev googletest gnuplot-nox||0|^installing clang .*gdb.installing g\+\+-mingw-w64-x86-64 wine wine64$|Selecting|valgrind gdb.*wine64$
build_fails||cmake|ninja-build|1|Selecting previously.*Unable to locate package ninja-build.*could not install ninja-build||ninja-build
windows_optional|--tests|cmake ninja-build g++ binutils libgtest-dev googletest gnuplot-nox|wine|0|Unable to locate package wine.*Windows checks will be skipped||wine64$
bad_argument|--test|||2|usage: bash tools/deps.sh \[--tests\]||^$
EOF
[ "$failures" = 0 ] || exit 1
echo "deps: every case as expected"

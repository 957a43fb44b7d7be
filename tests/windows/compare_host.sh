#!/usr/bin/env bash
# Run the emulator on the sample casting with the worked examples twice,
# built for Linux and cross-built for Windows (under Wine), and compare the
# exit status, the CSV files written and every value in them.
#
#   bash tests/windows/compare_host.sh <mingw build dir> <linux build dir>
#
# The Linux build is configured here when it does not exist. Values may
# differ in the last bits where the two C runtimes' exp/pow round
# differently: numbers must agree to 1e-12 relative, text exactly.
set -euo pipefail
cd "$(dirname "$0")/../.."
win=$1
lin=$2
sample=(--nodes-per-side 6 --steps 3 --no-plots -q)

if [ ! -f "$lin/CMakeCache.txt" ]; then
    cmake -S . -B "$lin" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVULMORA_BUILD_TESTS=OFF \
          >/dev/null
fi
cmake --build "$lin" -j2 --target vulmora-host >/dev/null

out=$win/compare
rm -rf "$out"
mkdir -p "$out"
set +e
"$lin/host/vulmora-host" "${sample[@]}" --output "$out/linux" >"$out/linux.txt" 2>&1
linux_status=$?
(cd "$win" && wine host/vulmora-host.exe "${sample[@]}" --output compare/windows) \
    >"$out/windows.txt" 2>&1
windows_status=$?
set -e

status=0
if [ "$linux_status" != "$windows_status" ]; then
    echo "exit status: Linux $linux_status, Windows $windows_status; Windows said (whole text in $out/windows.txt):"
    tr -d '\r' <"$out/windows.txt" | tail -n 3
    status=1
fi
list() { (cd "$1" && ls ./*.csv 2>/dev/null) || true; }
if [ "$(list "$out/linux")" != "$(list "$out/windows")" ]; then
    echo "CSV files: Linux $(list "$out/linux" | tr '\n' ' '), Windows $(list "$out/windows" | tr '\n' ' ')"
    status=1
fi
csvs=$(list "$out/linux")
[ -n "$csvs" ] || { echo "the Linux run wrote no CSV file"; status=1; }

# Field by field: text equal, or both numbers within 1e-12 relative.
for csv in $csvs; do
    [ -f "$out/windows/$csv" ] || continue
    tr -d '\r' <"$out/windows/$csv" >"$out/windows.csv"
    awk -F, -v name="$csv" '
        function num(s) { return s ~ /^[-+]?[0-9.]+([eE][-+]?[0-9]+)?$/ }
        function abs(x) { return x < 0 ? -x : x }
        NR == FNR { a[FNR] = $0; n = FNR; next }
        {
            if (!(FNR in a)) { print name ": Windows has more lines"; bad = 1; exit }
            k = split(a[FNR], l, ",")
            if (k != NF) { print name ":" FNR ": field counts differ"; bad = 1; next }
            for (i = 1; i <= NF; ++i) {
                if (l[i] == $i) continue
                if (num(l[i]) && num($i) &&
                    abs(l[i] - $i) <= 1e-12 * (abs(l[i]) > abs($i) ? abs(l[i]) : abs($i))) {
                    ++ulp
                    continue
                }
                print name ":" FNR ": Linux " l[i] ", Windows " $i
                bad = 1
            }
        }
        END {
            if (FNR < n) { print name ": Windows has fewer lines"; bad = 1 }
            if (ulp) print name ": " ulp " values differ in the last bits"
            exit bad
        }' "$out/linux/$csv" "$out/windows.csv" || status=1
done
[ "$status" = 0 ] && echo "the Windows run agrees with the Linux run ($(echo $csvs | wc -w) CSV files)"
exit "$status"

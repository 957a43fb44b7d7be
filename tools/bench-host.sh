#!/usr/bin/env bash
# The bench against the plainest host of the same calls
# (tools/minimal_host.cpp), interleaved: per case and round one run of each,
# timed as the processor time (user + sys) of the process and every child
# it waited for (/usr/bin/time). Prints per case the medians, the ranges
# and the ratio bench / minimal, and checks that both found the same min,
# mean and max for every entry point.
#
#   tools/bench-host.sh [ROUNDS]       (default 5; BUILD=build, N=100, STEPS=10)
#
# HOST=path runs that vulmora-host instead of the build folder's (and
# builds nothing): a saved copy, to set two versions side by side.
#
# Cases: the worked examples with --jobs 1 and --jobs 2 (STEPS steps),
# density alone (--functions density, 4 x STEPS steps). Build the build
# folder first (cmake --preset run); this builds the two programs it needs.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
build=${BUILD:-build}
n=${N:-100}
steps=${STEPS:-10}
[ -n "${HOST:-}" ] ||
    cmake --build "$build" -j2 --target vulmora-host vulmora-minimal-host vulmora_examples >/dev/null
host=${HOST:-$build/host/vulmora-host}
minimal=$build/host/vulmora-minimal-host
lib=$(find "$build/examples" -maxdepth 1 -name 'libvulmora_examples.so' | head -n1)
[ -n "$lib" ] || { echo "bench-host.sh: no libvulmora_examples.so in $build/examples" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The cases: name, then the bench's arguments.
cases=("jobs1|--jobs 1 --steps $steps"
       "jobs2|--jobs 2 --steps $steps"
       "density|--jobs 1 --steps $((4 * steps)) --functions density")

# timed FILE CMD...: run CMD, its stdout into FILE, and print "user+sys maxrss".
timed() {
    local out=$1
    shift
    /usr/bin/time -f '%U %S %M' -o "$work/time" "$@" >"$out" 2>"$work/stderr" ||
        { cat "$work/stderr" >&2; echo "bench-host.sh: failed: $*" >&2; exit 1; }
    awk '{ printf "%.3f %d\n", $1 + $2, $3 }' "$work/time"
}

# The bench's summary table as "name min mean max" lines (entry points ok).
summary() {
    awk '/^entry point/ { on = 1; next }
         on && /^func_/ { name = $1; sub(/^func_/, "", name)
                          i = 2; while (i <= NF && $i != "ok") i++
                          if (i + 3 <= NF && $(i + 1) != "-") print name, $(i + 1), $(i + 2), $(i + 3) }
         on && NF == 0 { exit }' "$1"
}

# Same figures as the minimal host printed (%.6g both), within 1e-5.
compare() {
    local name=$1
    if ! awk 'NR == FNR { m[$1] = $2 " " $3 " " $4; next }
              { if (!($1 in m)) { print "missing " $1; bad = 1; next }
                split(m[$1], v, " ")
                for (i = 2; i <= 4; i++) {
                    a = $i + 0; b = v[i - 1] + 0; d = a - b; if (d < 0) d = -d
                    s = (a < 0 ? -a : a); if (d > 1e-5 * s + 1e-300) {
                        print $1 " differs: bench " $i ", minimal " v[i - 1]; bad = 1 } } }
              END { exit bad }' "$work/minimal.out" "$work/bench.sum"; then
        echo "bench-host.sh: $name: the minimal host's values are not the bench's" >&2
        exit 1
    fi
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
range() { sort -n | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%s-%s", lo, hi }'; }

echo "N=$n^3 nodes, $rounds rounds, load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for c in "${cases[@]}"; do
    name=${c%%|*}
    args=${c#*|}
    : >"$work/$name.bench"
    : >"$work/$name.minimal"
    for ((r = 1; r <= rounds; ++r)); do
        # shellcheck disable=SC2086
        timed "$work/bench.out" "$host" --library "$lib" --nodes-per-side "$n" --no-output $args \
            >>"$work/$name.bench"
        summary "$work/bench.out" >"$work/bench.sum"
        [ -s "$work/bench.sum" ] || { cat "$work/bench.out" >&2; echo "bench-host.sh: no table" >&2; exit 1; }
        csteps=$(sed -n 's/.*--steps \([0-9]*\).*/\1/p' <<<"$args")
        # shellcheck disable=SC2046
        timed "$work/minimal.out" "$minimal" "$lib" "$n" "$csteps" $(cut -d' ' -f1 "$work/bench.sum") \
            >>"$work/$name.minimal"
        compare "$name"
    done
    bm=$(cut -d' ' -f1 "$work/$name.bench" | median)
    mm=$(cut -d' ' -f1 "$work/$name.minimal" | median)
    printf '%-8s bench %6.3f s (%s)  minimal %6.3f s (%s)  ratio %.2fx  peak RSS bench/minimal %s/%s KiB\n' \
        "$name" "$bm" "$(cut -d' ' -f1 "$work/$name.bench" | range)" \
        "$mm" "$(cut -d' ' -f1 "$work/$name.minimal" | range)" \
        "$(awk -v a="$bm" -v b="$mm" 'BEGIN { print a / b }')" \
        "$(cut -d' ' -f2 "$work/$name.bench" | median)" "$(cut -d' ' -f2 "$work/$name.minimal" | median)"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg); values: the same min, mean and max in every round"

#!/usr/bin/env bash
# Build and pass every test: the default build, then the sanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== default build and tests"
cmake --workflow --preset default

echo "== AddressSanitizer and UBSan build and tests"
cmake --workflow --preset asan

echo "== Windows: cross-built DLLs, their tables, and runs under Wine"
bash tests/windows/check.sh

echo "== valgrind memcheck: nearest-node (scan and index), field, mean, microstructure and state-file tests"
# The fatal paths run in forked children, which stay under valgrind; a
# child with an error exits 99 instead of 1, and its test fails. Programs
# the tests exec (readelf, nm) are system tools and are not traced.
for test in nodnum_test nodnum_grid_test nodfixed_test fields_test ipmeans_test ipmeans_property_test micro_test state_test; do
    valgrind -q --leak-check=full --errors-for-leak-kinds=definite --error-exitcode=99 \
        "build/tests/$test" --gtest_brief=1
done

echo "== fuzzing: each target for a bounded time from the seed corpus"
cmake --workflow --preset fuzz
fuzz_work=$(mktemp -d)
trap 'rm -rf "$fuzz_work"' EXIT
for target in accessors_fuzz:45 micro_fuzz:30 state_fuzz:30 path_table_fuzz:20; do
    name=${target%%:*}
    log="$fuzz_work/$name.log"
    mkdir -p "$fuzz_work/$name"
    cp fuzz/corpus/"$name"/* "$fuzz_work/$name/"
    if ! (cd "$fuzz_work" && "$OLDPWD/build-fuzz/fuzz/$name" "$name" \
          -max_total_time="${target##*:}" -timeout=20 -print_final_stats=1 >"$log" 2>&1); then
        tail -n 60 "$log"
        echo "fuzz finding in $name: the input is the Base64 line above"
        exit 1
    fi
    echo "$name: $(grep -E '^stat::number_of_executed_units' "$log")"
done

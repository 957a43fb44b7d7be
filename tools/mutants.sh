#!/usr/bin/env bash
# Put each fault of tools/mutants.list into a scratch copy of the tree, one
# at a time; build; run the default tests; say which faults they caught
# ("killed") and which they did not ("SURVIVED"). Exit status 1 when one
# survived or a line of the list is stale.
#
#   bash tools/mutants.sh [WORD]    only the faults whose line holds WORD
set -euo pipefail
cd "$(dirname "$0")/.."
filter=${1:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
src=$work/src
build=$work/build

# The tracked files as they are now, uncommitted changes included.
mkdir -p "$src"
git ls-files -z | xargs -0 cp --parents -t "$src"
ln -s "$(cd .. && pwd)/shared" "$work/shared" 2>/dev/null || true

echo "== the tree as it is: build and tests"
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 >/dev/null
ctest --test-dir "$build" -j2 --timeout 300 >"$work/base.log" 2>&1 ||
    { tail -n 30 "$work/base.log"; echo "the tests fail without any fault"; exit 1; }

survived=0
# One fault: its description, then file, old and new text for each place.
what=""
places=()

# Put the fault of `places` in, build, test, take it out; say how it went.
try_fault() {
    local k file old new count
    for ((k = 0; k < ${#places[@]}; k += 3)); do
        file=${places[k]} old=${places[k + 1]}
        count=$(grep -F -o -- "$old" "$src/$file" | wc -l || true)
        if [ "$count" -ne 1 ]; then
            echo "stale    $what ($file: the text stands there $count times)"
            survived=1
            return
        fi
    done
    for ((k = 0; k < ${#places[@]}; k += 3)); do
        file=${places[k]} old=${places[k + 1]} new=${places[k + 2]}
        cp "$src/$file" "$work/original.$k"
        content=$(cat "$src/$file"; printf x)
        content=${content%x}
        printf '%s' "${content/"$old"/"$new"}" >"$src/$file"
    done
    if ! cmake --build "$build" -j2 >"$work/build.log" 2>&1; then
        echo "killed   $what (it does not build)"
    elif ctest --test-dir "$build" -j2 --timeout 300 >"$work/test.log" 2>&1; then
        echo "SURVIVED $what (${places[0]})"
        survived=1
    else
        failing=$(grep -o '[0-9]* tests failed out of' "$work/test.log" | cut -d' ' -f1 || true)
        echo "killed   $what (${failing:-?} failing tests)"
    fi
    for ((k = 0; k < ${#places[@]}; k += 3)); do
        cp "$work/original.$k" "$src/${places[k]}"
    done
}

while IFS= read -r line; do
    case $line in '#'* | '') continue ;; esac
    if [[ $line == "+ "* ]]; then
        [ -n "$what" ] || continue
        line=${line#+ }
    else
        [ -z "$what" ] || try_fault
        what="" places=()
        [ -z "$filter" ] || [[ $line == *"$filter"* ]] || continue
    fi
    file=${line%% ;; *}; rest=${line#* ;; }
    old=${rest%% ;; *}; rest=${rest#* ;; }
    new=${rest%% ;; *}
    [ -n "$what" ] || what=${rest#* ;; }
    places+=("$file" "$old" "$new")
done <tools/mutants.list
[ -z "$what" ] || try_fault
exit "$survived"

#!/usr/bin/env bash
# The Windows checks: cross-build the DLLs with MinGW-w64 (preset mingw),
# inspect their export and import tables, and run them under Wine.
#
#   bash tests/windows/check.sh
#
# Skips (status 0, with a message) when the cross compiler or Wine is not
# installed; tools/deps.sh installs both.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=$root/build-mingw
triplet=x86_64-w64-mingw32
objdump=$triplet-objdump

for tool in $triplet-gcc $triplet-g++ $objdump wine; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIPPED: the Windows checks need $tool (tools/deps.sh installs it)"
        exit 0
    fi
done

failed=0
# fail <text>: report one failed check and go on.
fail() {
    echo "FAIL: $*"
    failed=1
}

# ---- build ------------------------------------------------------------------
echo "-- cross-build (preset mingw) of the DLLs, installed as a package"
# The package comes from a build of its own without the emulator, so that
# the DLL checks run even when the emulator does not cross-build.
pkg=$build-pkg
cmake --preset mingw -B "$pkg" -DVULMORA_BUILD_HOST=OFF >/dev/null
cmake --build "$pkg" -j2
rm -rf "$build/prefix"
cmake --install "$pkg" --prefix "$build/prefix" >/dev/null
# A user library and the test host, against the installed package.
cmake -S tests/windows -B "$build/windows" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-w64-x86_64.cmake" \
      -DVulmora_DIR="$build/prefix/lib/cmake/Vulmora" >/dev/null
cmake --build "$build/windows" -j2

delivered=$build/prefix/bin/libvulmora.dll
mikral=$build/prefix/bin/libMikral.dll
user=$build/windows/libtwo_entries.dll
winhost=$build/windows/wine_host.exe
host=$build/host/vulmora-host.exe

# A Wine prefix of our own, no display, no prompts for Mono or Gecko;
# libMikral.dll is found on WINEPATH like a DLL on PATH.
export WINEPREFIX=$build/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
export WINEPATH="Z:${build//\//\\}\\prefix\\bin"
unset DISPLAY WAYLAND_DISPLAY

# ---- the tables of the PE files -----------------------------------------------
# recorded_name <dll>: the name in the export directory.
recorded_name() {
    "$objdump" -p "$1" | awk '/^Name[ \t]/ { print $NF; exit }'
}
# exported_names <dll>: the export name table, sorted.
exported_names() {
    "$objdump" -p "$1" | awk '/\[Ordinal\/Name Pointer\] Table/ { f = 1; next }
                              f && NF == 0 { exit }
                              f { print $NF }' | LC_ALL=C sort
}
# imported_dlls <file>: the DLLs in the import table.
imported_dlls() {
    "$objdump" -p "$1" | awk '/DLL Name:/ { print $3 }'
}
# imported_names <file> <dll>: what <file> imports from <dll>, sorted.
imported_names() {
    "$objdump" -p "$1" | awk -v dll="$2" '/DLL Name:/ { f = ($3 == dll); next }
                                        f && /vma:/ { next }
                                        f && NF == 0 { f = 0 }
                                        f { print $NF }' | LC_ALL=C sort
}

# check_surface <dll> <name>: records <name>, exports exactly the list.
check_surface() {
    local dll=$1 name=$2 diff
    [ "$(recorded_name "$dll")" = "$name" ] ||
        fail "$dll records the name '$(recorded_name "$dll")', not '$name'"
    if ! diff=$(diff <(cmake -DWHAT=ALL -P tests/windows/exports.cmake | LC_ALL=C sort) \
                     <(exported_names "$dll")); then
        fail "exports of $dll differ from cmake/VulmoraExports.cmake (< missing, > extra):"
        echo "$diff"
    fi
}

# check_imports <file> <allowed extra DLL>...: only system DLLs and those given.
check_imports() {
    local file=$1 dll
    shift
    local system='^(KERNEL32|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll$'
    for dll in $(imported_dlls "$file"); do
        if ! [[ $dll =~ $system ]] && ! [[ " $* " == *" $dll "* ]]; then
            fail "$file imports $dll"
        fi
    done
}

echo "-- export and import tables"
check_surface "$delivered" libvulmora.dll
check_surface "$user" libtwo_entries.dll
[ "$(recorded_name "$mikral")" = libMikral.dll ] || fail "libMikral.dll records another name"
[ -f "$build/prefix/lib/libMikral.dll.a" ] || fail "no import library libMikral.dll.a"
lookups=$(printf '%s\n' micCNT_GindToName_Aux micCNT_GindToName_CNT \
                        micModels_gCNTibyAind_checkIndices micModels_vAuxibyAind_checkIndices)
for dll in "$delivered" "$user"; do
    check_imports "$dll" libMikral.dll
    [ "$(imported_names "$dll" libMikral.dll)" = "$lookups" ] ||
        fail "$dll does not import exactly the four look-ups from libMikral.dll"
done
check_imports "$mikral"
check_imports "$winhost"
# The test host's list of exchange-block variables is the exported one.
diff <(cmake -DWHAT=DATA -P tests/windows/exports.cmake | LC_ALL=C sort) \
     <(cd "$build/windows" && wine wine_host.exe names |
       tr -d '\r' | LC_ALL=C sort) >/dev/null ||
    fail "wine_host.c checks other variables than cmake/VulmoraExports.cmake exports"

# ---- under Wine ---------------------------------------------------------------
echo "-- the delivered DLL and the user DLL under Wine"
(cd "$build" && wine windows/wine_host.exe template prefix/bin/libvulmora.dll) ||
    fail "wine_host template"
(cd "$build" && wine windows/wine_host.exe user windows/libtwo_entries.dll) ||
    fail "wine_host user"

if [ -f host/CMakeLists.txt ]; then
    echo "-- vulmora-host.exe under Wine against the Linux run"
    if ! { cmake --preset mingw >/dev/null && cmake --build --preset mingw; }; then
        fail "the emulator or the examples do not cross-build"
    else
        check_imports "$host" libMikral.dll
        bash tests/windows/compare_host.sh "$build" "$build-linux" ||
            fail "vulmora-host.exe under Wine differs from the Linux run"

        echo "-- a user's host test (vulmora_add_host_test) run by ctest under Wine"
        rm -rf "$build/prefix-host"
        cmake --install "$build" --prefix "$build/prefix-host" >/dev/null
        if ! { cmake -S tests/windows -B "$build/windows-host" -G Ninja -DHOST_TEST=ON \
                     -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-w64-x86_64.cmake" \
                     -DVulmora_DIR="$build/prefix-host/lib/cmake/Vulmora" >/dev/null &&
               cmake --build "$build/windows-host" -j2 --target two_entries >/dev/null; }; then
            fail "the host test's project does not configure or build"
        elif ! out=$(ctest --test-dir "$build/windows-host" -R two_entries_host -V 2>&1) ||
             ! grep -q "func_density  *ok" <<<"$out"; then
            fail "the host test does not pass under Wine:"
            echo "$out" | tail -n 30
        else
            echo "-- a curve's host test under Wine: same, changed, updated; one written by hand"
            cmake --build "$build/windows-host" -j2 --target two_entries_curve_update_reference \
                two_entries_changed >/dev/null || fail "the curve's reference is not saved"
            ctest --test-dir "$build/windows-host" -R 'two_entries_(curve|by_hand)$' \
                --output-on-failure >/dev/null || fail "the curve's host test fails under Wine"
            out=$(ctest --test-dir "$build/windows-host" -R two_entries_changed_curve \
                      --output-on-failure 2>&1) && fail "a changed curve passes under Wine"
            grep -q "func_density  *DIFFERS" <<<"$out" || fail "a changed curve: $out"
            cmake --build "$build/windows-host" --target \
                two_entries_changed_curve_update_reference >/dev/null &&
                ctest --test-dir "$build/windows-host" -R two_entries_changed_curve \
                    >/dev/null || fail "an updated curve's reference does not pass under Wine"
        fi

        echo "-- capture in a DLL under Wine: a NaN and a crash, each replayed"
        states=$(mktemp -d)
        winpath() { echo "Z:${1//\//\\}"; }
        (cd "$build" && VULMORA_CAPTURE=$(winpath "$states") wine host/vulmora-host.exe \
             --library windows/libcapture_faulty.dll --functions density,heatflux \
             --nodes-per-side 4 --steps 1 --materials all --no-output -q >/dev/null 2>&1) || true
        found=$(ls "$states" | grep -c '\.vstate$' || true)
        [ "$found" = 2 ] || fail "the capture wrote $found state files under Wine, not 2"
        for f in "$states"/*.vstate; do
            [ -e "$f" ] || continue
            # replay exits with 1 when the outcome differs: the text decides here
            out=$(cd "$build" && wine host/vulmora-host.exe replay "$(winpath "$f")" | tr -d '\r' ||
                      true)
            grep -qx reproduced <<<"$out" || fail "replay of $(basename "$f") under Wine: $out"
            out=$(cd "$build" && wine host/vulmora-host.exe replay "$(winpath "$f")" \
                      --library windows/libcapture_fixed.dll | tr -d '\r' || true)
            grep -q '^differs' <<<"$out" || fail "replay of $(basename "$f") with the fix: $out"
        done
        rm -rf "$states"
    fi
else
    echo "-- no host/ in the tree: no emulator run under Wine"
fi

if ((failed)); then
    echo "Windows checks FAILED"
    exit 1
fi
echo "Windows checks passed"

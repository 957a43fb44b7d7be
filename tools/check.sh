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

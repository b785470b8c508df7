#!/bin/bash
# Builds the benchmark and runs it once under Wine in a throw-away prefix of
# its own (build/bench/wineprefix, removed again afterwards with everything
# that ran in it). The figures are printed and kept in build/bench/figures.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
build=$root/build
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DIH_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j2 --target installhelper_bench
export IH_WINEPREFIX=$build/bench/wineprefix
gone() { WINEPREFIX=$IH_WINEPREFIX wineserver -k 2>/dev/null || true; rm -rf "$IH_WINEPREFIX" "$IH_WINEPREFIX.lock"; }
gone
trap gone EXIT
"$build/wine-run.sh" "$build/bench/installhelper_bench.exe" | tr -d '\r' | tee "$build/bench/figures.txt"

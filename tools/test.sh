#!/bin/bash
# Builds everything (the DLL also with clang, warnings as errors) and runs
# every test (unit and integration tests under Wine, the DLL's export check,
# the sample package end to end).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
build=$root/build
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DIH_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j2
# The same sources with a second compiler, every warning an error.
cmake -S "$root" -B "$build/clang" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/clang-mingw-w64-x86_64.cmake" \
      -DIH_BUILD_TESTS=OFF -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build "$build/clang" -j2 --target InstallHelper
"$root/tests/check-dll.sh" "$build/clang/InstallHelper.dll" "$root/frame/InstallHelper.def"
cd "$build"
ctest -j2 --output-on-failure "$@"

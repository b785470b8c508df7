#!/bin/bash
# Builds everything and runs every test (unit and integration tests under
# Wine, the DLL's export check, the sample package end to end).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
build=$root/build
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DIH_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j2
cd "$build"
ctest -j2 --output-on-failure "$@"

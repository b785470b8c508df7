#!/bin/bash
# The main job: build InstallHelper.dll and the sample package, then under Wine
# in a fresh prefix put the vendor's platform in place, install the package,
# upgrade it, repair it, uninstall it and roll back a failed install, and show what each
# custom action did (full logs in build/sample-run/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
build=$root/build
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DIH_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target InstallHelper sample_msi
"$root/packaging/run-sample.sh" "$build/packaging" "$build/sample-run"

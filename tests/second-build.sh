#!/bin/sh
# Builds the DLL alone a second time, later and from a copy of the sources in
# another folder, with its own fresh build folder:
#   second-build.sh SOURCE COPY TOOLCHAIN [cmake options...]
# The copy leaves out the build folders found in SOURCE, its .git and
# whatever holds COPY itself.
set -eu
source=$1 copy=$2 toolchain=$3
shift 3
rm -rf "$copy"
mkdir -p "$copy/src"
for entry in "$source"/* "$source"/.[!.]*; do
  [ -e "$entry" ] || continue
  case "$copy/" in "$entry"/*) continue ;; esac
  [ -e "$entry/CMakeCache.txt" ] || [ "$(basename "$entry")" = .git ] || cp -a "$entry" "$copy/src/"
done
cmake -S "$copy/src" -B "$copy/b" -DCMAKE_TOOLCHAIN_FILE="$copy/src/$toolchain" -DIH_BUILD_TESTS=OFF "$@" >/dev/null
cmake --build "$copy/b" -j1 --target InstallHelper >/dev/null

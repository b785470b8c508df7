#!/bin/bash
# The release: cmake --install lays out the DLL, its symbols, both forms of the fragment, the
# packaging document as it is in docs/, the changelog and SHA256SUMS over them, nothing else; cpack
# packs the same into InstallHelper-<version>-win64.zip, whose SHA256SUMS holds for what it packs.
#   release-layout.sh CMAKE CPACK BUILD-DIR SOURCE-DIR VERSION
set -euo pipefail
cmake=$1 cpack=$2 build=$3 source=$4 version=$5
files='CHANGELOG.md InstallHelper.dll InstallHelper.dll.debug InstallHelper.v3.wxs InstallHelper.wxs SHA256SUMS docs/packaging.md'
# exactly_these DIR: the folder holds these files and nothing else, and its sums hold.
exactly_these() {
  (cd "$1" && diff <(tr ' ' '\n' <<< "$files") <(find . -type f | sed 's|^\./||' | LC_ALL=C sort) &&
   sha256sum --check --quiet SHA256SUMS && test "$(wc -l < SHA256SUMS)" = 6)
}
rm -rf "$build/release" "$build/release-zip"
"$cmake" --install "$build" --prefix "$build/release" >/dev/null
exactly_these "$build/release"
cmp "$build/release/docs/packaging.md" "$source/docs/packaging.md"
grep -q 'xmlns="http://wixtoolset.org/schemas/v4/wxs"' "$build/release/InstallHelper.wxs"
grep -q 'xmlns="http://schemas.microsoft.com/wix/2006/wi"' "$build/release/InstallHelper.v3.wxs"
(cd "$build" && "$cpack" -G ZIP >/dev/null)
mkdir "$build/release-zip"
(cd "$build/release-zip" && "$cmake" -E tar xf "$build/InstallHelper-$version-win64.zip")
exactly_these "$build/release-zip/InstallHelper-$version-win64"
echo "release layout and zip: $files"

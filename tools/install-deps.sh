#!/bin/bash
# Installs, with apt-get, whatever the build and the tests need and the
# machine does not have yet (Debian 12, as root).
set -euo pipefail
packages=(cmake make g++-mingw-w64-x86-64-posix clang lld wine wine64 wixl msitools xsltproc googletest osslsigncode openssl)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

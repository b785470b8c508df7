#!/bin/sh
# The DLL exports exactly the decorated names of its .def file, which are
# exactly the known custom actions, under the module name InstallHelper.dll, and
# imports system DLLs only, and carries no symbol table.
set -eu
dll=$1 def=$2
objdump=x86_64-w64-mingw32-objdump
known='?CheckCaseSentivity@@YAHK@Z ?CheckJunction@@YAHK@Z ?CopyPolicyBackup@@YAXXZ ?DeleteOrbWRDPolicy@@YAHXZ
?DeleteOrbLogsFolder@@YAXXZ ?ExecuteProcessX64@@YAHK@Z ?ExecuteProcessX86@@YAHK@Z ?GetPropertyAction@@YAHK@Z
?InstallCustomAction@@YAHK@Z ?RollbackCustomAction@@YAHK@Z ?StopOrbServiceBeforeInstallValidateAction@@YAHXZ
?UninstallCustomAction@@YAHK@Z ?UninstallOrbPinletPlugin@@YAXXZ ?UpgradeFix@@YAXXZ'
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
$objdump -p "$dll" > "$tmp/p"

sed -n '/^EXPORTS/,$p' "$def" | sed '1d' | sed 's/=.*//; s/[[:space:]]//g' | grep . | sort > "$tmp/want"
sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' "$tmp/p" | sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\] //p' | sort > "$tmp/got"
status=0
if ! diff -u "$tmp/want" "$tmp/got"; then echo "exports differ from the .def file"; status=1; fi
# Exactly the fourteen custom actions, each under its decorated name only.
echo "$known" | tr ' ' '\n' | sort > "$tmp/known"
if ! diff -u "$tmp/known" "$tmp/got"; then echo "exports are not exactly the known custom actions"; status=1; fi
grep -q '^Name .*InstallHelper.dll' "$tmp/p" || { echo "module name is not InstallHelper.dll"; status=1; }
# Shipped without its symbols (they live in the .debug file beside it).
$objdump -t "$dll" | grep -q '^no symbols' || { echo "the DLL is not stripped"; status=1; }

allowed='kernel32.dll advapi32.dll msi.dll shell32.dll shlwapi.dll wintrust.dll crypt32.dll user32.dll ole32.dll
msvcrt.dll psapi.dll'
for imp in $(sed -n 's/^[[:space:]]*DLL Name: //p' "$tmp/p" | tr 'A-Z' 'a-z'); do
  case "$imp" in api-ms-win-*) continue ;; esac
  echo "$allowed" | tr ' ' '\n' | grep -qxF "$imp" || { echo "non-system import $imp"; status=1; }
done
echo "exports: $(wc -l < "$tmp/got"), imports: $(sed -n 's/^[[:space:]]*DLL Name: //p' "$tmp/p" | tr '\n' ' ')"
exit $status

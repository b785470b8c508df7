#!/bin/bash
# Installs the sample package 4.9.0 under Wine in a fresh prefix, upgrades it
# to 4.9.1, uninstalls it, and prints what each InstallHelper custom action did.
#   run-sample.sh PACKAGE_DIR OUT_DIR
# PACKAGE_DIR holds sample-4.9.0.msi and sample-4.9.1.msi. OUT_DIR receives the
# prefix, the installer's log of each step (install.log, upgrade.log,
# uninstall.log), its result, the text log written during it and the files
# the product's folders held after it.
set -euo pipefail
packages=$(readlink -f "$1")
out=$(mkdir -p "$2" && readlink -f "$2")

export WINEPREFIX=$out/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX" "$out"/*.log "$out"/textlog-*.txt
echo "Preparing a fresh Wine prefix in $WINEPREFIX ..."
wineboot -i </dev/null >/dev/null 2>&1
wineserver -w
# Background processes must not hold our output open.
wineserver -p60 </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1

textlog=$WINEPREFIX/drive_c/windows/temp/NorvaleLogs/LYNInstLogs_4.9.0.txt
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
# Our actions: the DLL custom actions (type 1 in the low bits) of the package.
actions=$(msiinfo export "$packages/sample-4.9.0.msi" CustomAction | tail -n +4 | awk -F'\t' '($2 % 64) == 1 {print $1}')

# run_step NAME MSIEXEC-ARGS...: runs msiexec, records its result and log.
run_step() {
  local name=$1; shift
  local before=0
  [ -f "$textlog" ] && before=$(stat -c %s "$textlog")
  local log=$out/$name.log
  # msiexec's exit code is cut to 8 bits under Wine: read the whole one from %ERRORLEVEL%.
  local bat=$out/$name.bat
  printf '@msiexec %s /qn /l*v "%s"\r\n@echo result=%%ERRORLEVEL%%\r\n' "$*" "$(winpath "$log")" > "$bat"
  local result tries=0
  while :; do
    # cmd exits with msiexec's code: a failed step is reported below, not fatal here.
    result=$(wine cmd /c "$(winpath "$bat")" </dev/null 2>/dev/null | tr -d '\r' | sed -n 's/^result=//p') || true
    # 1618: the previous step's installer service has not let go yet.
    [ "$result" = 1618 ] && [ $((tries += 1)) -lt 60 ] || break
    echo "(another installation is still finishing; $name tries again)"
    sleep 1
  done
  echo "$result" > "$out/$name.result"
  if [ -f "$textlog" ]; then tail -c +$((before + 1)) "$textlog" > "$out/textlog-$name.txt"; else : > "$out/textlog-$name.txt"; fi

  # What the product's folders hold after the step, for the checks that follow.
  (cd "$WINEPREFIX/drive_c" && find "Program Files/Norvale" ProgramData/Norvale windows/temp/LYNPolicy.opg 2>/dev/null | sort) \
    > "$out/files-$name.txt" || true
  local policy=$WINEPREFIX/drive_c/ProgramData/Norvale/LYN/Policy/LYNPolicy.opg
  if [ -f "$policy" ]; then cp "$policy" "$out/policy-$name.txt"; else rm -f "$out/policy-$name.txt"; fi

  echo
  echo "=== $name: msiexec $* -> $result"
  for action in $actions; do
    local ended
    ended=$(grep -a "^Action ended .*: $action\. Return value" "$log" 2>/dev/null | tail -n 1 || true)
    [ -n "$ended" ] && echo "  $action: ${ended##*. }"
  done
  local info
  info=$(grep -a "^Info 1000\." "$log" 2>/dev/null | tr -d '\r' || true)
  [ -n "$info" ] && { echo "  installer-log records:"; echo "$info" | sed 's/^/    /'; }
  echo "  text log:"
  tr -d '\r' < "$out/textlog-$name.txt" | grep -v '^$' | sed 's/^/    /' || true
}

run_step install /i "$(winpath "$packages/sample-4.9.0.msi")"

# What the product itself does while it runs: it writes its policy and its logs.
data=$WINEPREFIX/drive_c/ProgramData/Norvale/LYN
mkdir -p "$data/Policy" "$data/Logs"
echo "policy saved by the running product" > "$data/Policy/LYNPolicy.opg"
echo "service log" > "$data/Logs/LynService.log"
echo
echo "(the running product wrote ProgramData\\Norvale\\LYN\\Policy\\LYNPolicy.opg and Logs\\LynService.log)"

run_step upgrade /i "$(winpath "$packages/sample-4.9.1.msi")"

# The upgraded product runs and writes its logs again.
mkdir -p "$data/Logs"
echo "service log" > "$data/Logs/LynService.log"
echo
echo "(the upgraded product wrote Logs\\LynService.log)"

run_step uninstall /x "$(winpath "$packages/sample-4.9.1.msi")"

echo
echo "Full logs: $out/{install,upgrade,uninstall}.log; text log: $textlog"

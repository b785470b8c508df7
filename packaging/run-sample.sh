#!/bin/bash
# Under Wine in a fresh prefix: puts the vendor's platform in place as the
# vendor's installer would, installs the sample package 4.9.0, upgrades it to
# 4.9.1, repairs it, uninstalls it, then installs 4.9.0 once more with
# FORCE_FAILURE=1 so that it fails after InstallCustomAction and is rolled
# back; last, installs 4.9.0 again and upgrades it to 4.9.1 with FORCE_FAILURE=1,
# a failed upgrade. Prints, per step,
# each custom action's result and key outcome and the state of the machine.
#   run-sample.sh PACKAGE_DIR OUT_DIR
# PACKAGE_DIR holds sample-4.9.0.msi, sample-4.9.1.msi and platform/. OUT_DIR
# receives the prefix and, per step, the installer's log (STEP.log), its result
# (STEP.result), the text log written during it (textlog-STEP.txt), the files
# (files-STEP.txt), the registered catalogs with their first line
# (catalogs-STEP.txt), the host's state (host-STEP.txt), the product's processes
# (processes-STEP.txt), the earlier releases' services (services-STEP.txt) and
# the sample's versions registered with the installer (products-STEP.txt) after
# it, and the vendor programs it ran (vendor-STEP.txt).
set -euo pipefail
# Most commands run quietly: a failing one names itself before the script stops.
trap 'echo "run-sample.sh: line $LINENO: \"$BASH_COMMAND\" failed with $?" >&2' ERR
packages=$(readlink -f "$1")
out=$(mkdir -p "$2" && readlink -f "$2")

export WINEPREFIX=$out/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX" "$out"/*.log "$out"/*.result "$out"/*.txt "$out"/*.bat "$out"/*.out
echo "Preparing a fresh Wine prefix in $WINEPREFIX ..."
# Wine finds a prefix's server by the folder's device and inode: a server still
# running for a deleted folder whose inode the new one got would take this
# prefix's requests. Whatever server answers for the new, empty folder is such one.
mkdir -p "$WINEPREFIX"
wineserver -k 2>/dev/null || true
wineboot -i </dev/null >"$out/wineboot.out" 2>&1 || { cat "$out/wineboot.out" >&2; false; }
wineserver -w
# Background processes must not hold our output open.
wineserver -p60 </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1
# Whatever this run started ends with it: the service process and the prefix's server.
trap 'wineserver -k 2>/dev/null || true' EXIT

drive=$WINEPREFIX/drive_c
textlog=$drive/windows/temp/NorvaleLogs/LYNInstLogs_4.9.0.txt
catroot=windows/system32/catroot/{f750e6c3-38ee-11d1-85e5-00c04fc295ee}
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
# The vendor tool stand-ins append each run (folder|command line) here.
export IH_VENDOR_RECORD
IH_VENDOR_RECORD=$(winpath "$out/vendor-record.txt")
: > "$out/vendor-record.txt"

# The vendor's platform, as its own installer leaves it: the platform folder
# (host client library and the platform's uninstall set) registered in the
# 32-bit view, trvinfo.exe in the platform's common folder.
platform="C:\\Program Files\\Common Files\\Veltan\\Basalt"
mkdir -p "$drive/Program Files/Common Files/Veltan/Basalt"
cp "$packages"/platform/{vtnqvma.dll,vtnhidin.exe,vtnhidid.xml,vtnprod.xml,trvinfo.exe} \
   "$drive/Program Files/Common Files/Veltan/Basalt/"
wine reg add 'HKLM\Software\Veltan\Basalt' /v szInstallDir64 /t REG_SZ /d "$platform" /reg:32 /f \
  </dev/null >/dev/null 2>&1
echo "Vendor platform in place: $platform (host client vtnqvma.dll, trvinfo.exe, uninstall set)"

# What earlier releases of the product left: two services in the service control
# manager (the installation deletes one of them, the next installation the other) and
# their catalog orb_64.cat, which only the removal of a release before 2.2 takes away.
for service in ORBService LYNService; do
  wine sc create "$service" binPath= "C:\\Program Files\\Norvale\\ORB\\$service.exe" </dev/null >/dev/null 2>&1
done
mkdir -p "$drive/$catroot"
echo "ORB catalog stand-in" > "$drive/$catroot/orb_64.cat"
echo "Earlier releases' leftovers in place: services ORBService, LYNService; catalog orb_64.cat"

# Our custom actions, all types.
actions=$(msiinfo export "$packages/sample-4.9.0.msi" CustomAction | tail -n +4 | cut -f1)

# The product's service processes in this prefix (Wine runs them as Linux processes).
lyn_processes() {
  local pid
  for pid in $(pgrep -f 'LynService\.exe' || true); do
    tr '\0' '\n' 2>/dev/null < "/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
  return 0
}
# The host stand-in's record of the service "vtnorb": its values, one "name=value" a line.
host_state() {
  wine reg query 'HKLM\Software\InstallHelperTests\QvmHost\vtnorb' </dev/null 2>/dev/null | tr -d '\r' |
    awk '$2 ~ /^REG_/ { v = $3; for (i = 4; i <= NF; i++) v = v " " $i; print $1 "=" v }' || true
}
# The earlier releases' services still in the service control manager, one a line.
legacy_services() {
  local service
  for service in ORBService LYNService; do
    wine reg query "HKLM\\System\\CurrentControlSet\\Services\\$service" </dev/null >/dev/null 2>&1 && echo "$service"
  done
  return 0
}
# The sample's versions registered with the installer, one a line (their product codes end in 20 and 21).
registered_products() {
  local minor
  for minor in 0 1; do
    wine reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{5D0B8E61-7C3A-4F2E-9B14-0E6C2A9D4F2$minor}" \
      /reg:64 </dev/null >/dev/null 2>&1 && echo "4.9.$minor"
  done
  return 0
}
# messages STEP [FROM [UNTIL]]: the step's text-log messages, from the first one that
# is FROM up to (not including) one that matches the pattern UNTIL.
messages() {
  tr -d '\r' < "$out/textlog-$1.txt" | sed 's/^\[[0-9-]*\] [0-9:]* - //; s/ *$//' | grep -v '^$' |
    awk -v from="${2:-}" -v until="${3:-}" '
      from == "" || $0 == from { on = 1 }
      on && until != "" && $0 ~ until && $0 != from { exit }
      on' || true
}
# key_outcome ACTION STEP: the messages that tell what the action achieved.
key_outcome() {
  local pattern from="" until=""
  case $1 in
    CheckJunction) pattern='^CheckJunction : End|[Jj]unction.*(found|is a)' ;;
    CheckCaseSentivity) pattern='Case Sensitivity is (Not )?Enabled' ;;
    StopOrbServiceBeforeInstallValidateAction) pattern='^StopOrbServiceBeforeInstallValidateAction: (OrbService is not running|Successful|Failed)' ;;
    UpgradeFix) pattern='Backed-up policy file|Did not back' ;;
    CopyPolicyBackup) pattern='Restored policy file|Did not restore' ;;
    InstallCustomAction) from="In InstallCustomAction" until="^In RollbackCustomAction"
      pattern='^ Service deleted|Successfully installed lyn_IntelSha256|InstallTessel: .*vtnhidin|Completed Installing LynService|returned FALSE|InstallORBQVMService\(\) returned|Failed to Stop' ;;
    UninstallCustomAction) from="In UninstallCustomAction" until="^(UninstallOrbPinletPlugin started|In InstallCustomAction)"
      pattern='Successfully uninstalled catFile|UnInstalling|^Now Uninstalling LynService|TESSEL: \[(INFO\] CreateProcess|ERROR)' ;;
    RollbackCustomAction) from="In RollbackCustomAction - Begin" until="^In RollbackCustomAction - End"
      pattern='Successfully uninstalled catFile|UnInstalling|^Now Uninstalling LynService|TESSEL|InstallTessel : Unable' ;;
    DeleteOrbWRDPolicy|GetPropertyAction|ExecuteProcessX64|ExecuteProcessX86) pattern="^$1 : " ;;
    UninstallOrbPinletPlugin) pattern='UninstallPinletPlugin : successfull|Unable to get Pinlet installation directory From Regular' ;;
    DeleteOrbLogsFolder) pattern='DeleteOrbLogsFolder: (Successfully|Failed|.*not)' ;;
    ForcedFailure) echo "failed on request (FORCE_FAILURE=1): the installer rolls back"; return 0 ;;
    *) return 0 ;;
  esac
  messages "$2" "$from" "$until" | grep -E -- "$pattern" | sed 's/TESSEL: \[INFO\] CreateProcess \[\("[^"]*"\).*/platform removal ran \1/; s/^InstallTessel: \(.*vtnhidin.exe -c [^ ]*\).*/platform install ran \1/; s/^ Service deleted/earlier release'"'"'s service deleted/' |
    awk '!seen[$0]++' | head -n 4 | paste -sd ';' | sed 's/;/; /g' || true
}

# run_step NAME MSIEXEC-ARGS...: runs msiexec, records its result, logs and what it left.
run_step() {
  local name=$1; shift
  local before=0 calls
  [ -f "$textlog" ] && before=$(stat -c %s "$textlog")
  calls=$(wc -l < "$out/vendor-record.txt")
  local log=$out/$name.log
  # msiexec's exit code is cut to 8 bits under Wine: read the whole one from %ERRORLEVEL%.
  local bat=$out/$name.bat
  printf '@msiexec %s /qn /l*v "%s"\r\n@echo result=%%ERRORLEVEL%%\r\n' "$*" "$(winpath "$log")" > "$bat"
  local result tries=0 started=$SECONDS
  while :; do
    # Into a file, not a pipe: the service the host starts inherits the output and
    # keeps running, so a pipe would never close. cmd exits with msiexec's code: a
    # failed step is reported below, not fatal here.
    wine cmd /c "$(winpath "$bat")" </dev/null >"$out/$name.out" 2>/dev/null || true
    result=$(tr -d '\r' < "$out/$name.out" | sed -n 's/^result=//p')
    # 1618: the previous step's installer service has not let go yet.
    [ "$result" = 1618 ] && [ $((tries += 1)) -lt 60 ] || break
    echo "(another installation is still finishing; $name tries again)"
    sleep 1
  done
  echo "$result" > "$out/$name.result"
  if [ -f "$textlog" ]; then tail -c +$((before + 1)) "$textlog" > "$out/textlog-$name.txt"; else : > "$out/textlog-$name.txt"; fi
  tail -n +$((calls + 1)) "$out/vendor-record.txt" > "$out/vendor-$name.txt"

  # What the step left, for the report and the checks that follow.
  (cd "$drive" && find "Program Files/Norvale" ProgramData/Norvale windows/temp/LYNPolicy.opg "$catroot" \
     users/*/Temp/vtnzpk* windows/temp/vtnzpk* -maxdepth 0 2>/dev/null; \
   cd "$drive" && find "Program Files/Norvale" ProgramData/Norvale 2>/dev/null; \
   cd "$drive" && find "$catroot" -name '*.cat' 2>/dev/null) | sort -u > "$out/files-$name.txt" || true
  local policy=$drive/ProgramData/Norvale/LYN/Policy/LYNPolicy.opg
  if [ -f "$policy" ]; then cp "$policy" "$out/policy-$name.txt"; else rm -f "$out/policy-$name.txt"; fi
  (cd "$drive/$catroot" 2>/dev/null && grep -H -m1 . ./*.cat 2>/dev/null | sed 's|^\./||') > "$out/catalogs-$name.txt" || true
  host_state > "$out/host-$name.txt"
  lyn_processes > "$out/processes-$name.txt"
  legacy_services > "$out/services-$name.txt"
  registered_products > "$out/products-$name.txt"

  echo
  echo "=== $name: msiexec $* -> $result ($((SECONDS - started)) s)"
  local action ended outcome ran=0
  for action in $actions; do
    # Wine writes 1 for success and 0 for failure; a deferred action's last line is its run.
    ended=$(grep -a "^Action ended .*: $action\. Return value" "$log" 2>/dev/null | tail -n 1 || true)
    [ -n "$ended" ] || continue
    case ${ended##* } in 1.) ended=ok ;; 0.|3.) ended=FAILED ;; *) ended=${ended##*. } ;; esac
    outcome=$(key_outcome "$action" "$name")
    # The rollback action is scheduled on every installation and runs only after a failure.
    [ "$action" = RollbackCustomAction ] && [ -z "$outcome" ] && ended="not run" outcome="(nothing failed)"
    printf '  %-42s %-8s %s\n' "$action" "$ended" "$outcome"
    ran=1
  done
  [ "$ran" = 1 ] || echo "  (none of the custom actions ran)"
  local state catalogs services
  state=$(grep -x 'State=0x4' "$out/host-$name.txt" >/dev/null && echo running ||
          { [ -s "$out/host-$name.txt" ] && echo "installed, not running" || echo "not installed"; })
  catalogs=$(sed 's/:.*//' "$out/catalogs-$name.txt" | paste -sd ' ' || true)
  services=$(paste -sd ' ' "$out/services-$name.txt" || true)
  echo "  after: host service vtnorb: $state; LynService.exe processes: $(wc -l < "$out/processes-$name.txt");" \
       "registered catalogs: ${catalogs:-none}"
  echo "         earlier releases' services: ${services:-none}; vendor programs run: $(wc -l < "$out/vendor-$name.txt")"
  local products backup=none
  products=$(paste -sd ' ' "$out/products-$name.txt" || true)
  grep -qxF windows/temp/LYNPolicy.opg "$out/files-$name.txt" && backup="in C:\\windows\\Temp"
  echo "         registered: ${products:-none}; policy: $([ -f "$out/policy-$name.txt" ] && echo in place || echo none);" \
       "its backup: $backup"
}

run_step install /i "$(winpath "$packages/sample-4.9.0.msi")"

# What the product itself does while it runs: it writes its policy and its logs.
data=$drive/ProgramData/Norvale/LYN
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

# A repair as Wine's msiexec does one (its /f does not repair): the product stays as it was.
run_step repair /i "$(winpath "$packages/sample-4.9.1.msi")" REINSTALL=ALL REINSTALLMODE=vomus

run_step uninstall /x "$(winpath "$packages/sample-4.9.1.msi")"

# A failure after InstallCustomAction: the installer runs the rollback script.
run_step failed-install /i "$(winpath "$packages/sample-4.9.0.msi")" FORCE_FAILURE=1

# A failed upgrade: 4.9.0 installed and running with its policy, then 4.9.1 fails after
# its InstallCustomAction. Wine removes the old product with a nested msiexec that nothing
# rolls back, so what is left is what the new product's rollback leaves (see the docs).
run_step reinstall /i "$(winpath "$packages/sample-4.9.0.msi")"
mkdir -p "$data/Policy"
echo "policy saved before the failed upgrade" > "$data/Policy/LYNPolicy.opg"
echo
echo "(the running product wrote ProgramData\\Norvale\\LYN\\Policy\\LYNPolicy.opg)"
run_step failed-upgrade /i "$(winpath "$packages/sample-4.9.1.msi")" FORCE_FAILURE=1

echo
echo "Vendor programs run: $(wc -l < "$out/vendor-record.txt") (each: folder|command line in $out/vendor-record.txt)"
echo "Full logs in $out: {install,upgrade,repair,uninstall,failed-install,reinstall,failed-upgrade}.log, textlog-*.txt; text log: $textlog"

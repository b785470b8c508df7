#!/bin/bash
# The sample package installs, upgrades and uninstalls with the real installer
# engine, and its custom actions leave the expected results, files and log lines.
set -uo pipefail
here=$(dirname "$(readlink -f "$0")")
packages=$1 out=$2
"$here/run-sample.sh" "$packages" "$out" || { echo "run-sample failed"; exit 1; }

failures=0 passes=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok   - $1"; passes=$((passes + 1)); else echo "FAIL - $1"; failures=$((failures + 1)); fi
}
# messages STEP: the text-log messages written during a step, prefix removed.
messages() { tr -d '\r' < "$out/textlog-$1.txt" | sed 's/^\[[0-9-]*\] [0-9:]* - //' | grep -v '^$'; }
# Not grep -q: leaving early would end the writer with SIGPIPE, which pipefail reports.
has_message() { messages "$1" | grep -xF -- "$2" >/dev/null; }
lacks_message() { ! messages "$1" | grep -F -- "$2" >/dev/null; }
# in_order STEP TEXT...: the messages appear in this order (others may lie between).
in_order() {
  local step=$1; shift
  messages "$step" | awk -v want="$(printf '%s\n' "$@")" '
    BEGIN { n = split(want, w, "\n"); i = 1 }
    i <= n && $0 == w[i] { i++ }
    END { exit (i <= n) }'
}
action_result() { grep -a "Action ended .*: $2\. Return value $3\." "$out/$1.log" >/dev/null; }
has_file() { grep -qxF -- "$2" "$out/files-$1.txt"; }
lacks_file() { ! grep -qxF -- "$2" "$out/files-$1.txt"; }
has_record() { tr -d '\r' < "$out/$1.log" | grep -axF -- "Info 1000.$2" >/dev/null; }
policy="C:\\ProgramData\\Norvale\\LYN\\Policy\\LYNPolicy.opg"
catroot="windows/system32/catroot/{f750e6c3-38ee-11d1-85e5-00c04fc295ee}"
instdir="C:\\Program Files\\Norvale\\LYN\\"
# The host stand-in's service "vtnorb" runs, and so does exactly one LynService.exe of this prefix.
service_runs() { grep -qx 'State=0x4' "$out/host-$1.txt" && test "$(wc -l < "$out/processes-$1.txt")" = 1; }
# Neither the host's service nor a LynService.exe of this prefix is left.
service_gone() { test ! -s "$out/host-$1.txt" && test ! -s "$out/processes-$1.txt"; }
catalogs_registered() { has_file "$1" "$catroot/lyn.cat" && has_file "$1" "$catroot/lyn_IntelSha256.cat"; }
catalogs_removed() { ! grep -q "^$catroot/lyn" "$out/files-$1.txt"; }
temp_folder_used() {
  messages "$1" | grep -E '^TESSEL: \[INFO\] Destination folder is \[C:\\users\\[^\\]+\\Temp\\vtnzpk[0-9a-f]+\]$' >/dev/null
}
vendor_ran() { grep -aqF -- "$1" "$out/vendor-record.txt"; }

# A fresh installation.
check "install succeeds" test "$(cat "$out/install.result")" = 0
check "CheckJunction ran and succeeded" action_result install CheckJunction 1
check "CheckJunction examined the folders from Start to End" \
  in_order install "CheckJunction : Start" "Junction check : get attributes of: C:\\Program Files\\Norvale\\LYN" "CheckJunction : End"
check "CheckCaseSentivity ran and succeeded" action_result install CheckCaseSentivity 1
# Wine's "ver" names Windows 6.1, which has no per-folder case sensitivity.
check "CheckCaseSentivity found no support for the attribute" \
  in_order install "InstallCheckCaseSentivity : In Case Sensitivity check function" \
  "InstallCheckCaseSentivity : Case Sensitivity is Not Supported By OS " \
  "InstallCheckCaseSentivity : Case Sensitivity is Not Enabled "
check "the payload was installed" has_file install "Program Files/Norvale/LYN/readme.txt"
check "StopOrbServiceBeforeInstallValidateAction ran and succeeded" action_result install StopOrbServiceBeforeInstallValidateAction 1
check "nothing to stop before InstallValidate on a fresh machine" \
  has_message install "StopOrbServiceBeforeInstallValidateAction: OrbService is not running Proceed with Uninstallation"
check "InstallCustomAction ran and succeeded" action_result install InstallCustomAction 1
check "InstallCustomAction ran every step" \
  in_order install "In InstallCustomAction" "InstallCustomAction : Stopped LYNService or it is not present" \
  "CopyPolicyBackup start" "Successfully installed LYN catalog file" \
  "Successfully installed lyn_IntelSha256.cat catalog file" "InstallVeltanCerts: End" \
  "Started Installing LynService into QVM" "Completed Installing LynService into QVM Successfully"
check "the catalog outcome reached the installer's log" has_record install "Successfully installed lyn_IntelSha256.cat catalog file"
check "the first catalog's outcome reached it in the installer's own words" has_record install "Successfully installed lyn catalog file"
check "both catalogs are in the catalog database" catalogs_registered install
check "the platform core was installed from x64" \
  vendor_ran "${instdir}x64|\"${instdir}x64\\vtnhidin.exe\" -c lyn_tesselfiles.cab"
check "the platform's certificates were loaded" vendor_ran "trvinfo.exe\" /LoadCerts"
check "no platform-core or service failure" lacks_message install "returned FALSE"
check "no earlier release's service to delete, either name looked for" \
  in_order install " ORBService: OpenService failed 1060" " LYNService: OpenService failed 1060"
check "the service runs in the host: one LynService.exe" service_runs install
check "the host consumed the service profile" lacks_file install "Program Files/Norvale/LYN/QVMProfileForLYNService.xml"
check "no upgrade fix on a fresh installation" lacks_message install "UpgradeFix started"
check "restore finds no backup under either name" \
  in_order install "CopyPolicyBackup start" "Did not restore policy file, Error Code: 2" \
  "Did not restore policy file, Error Code: 2" "CopyPolicyBackup end"

# The upgrade keeps the policy that the running product wrote.
check "upgrade succeeds" test "$(cat "$out/upgrade.result")" = 0
check "the upgrade fix saved the policy" in_order upgrade "UpgradeFix started" "Backed-up policy file" "UpgradeFix end"
check "the saved policy was put back" \
  in_order upgrade "CopyPolicyBackup start" "Restored policy file in path-> $policy  " "CopyPolicyBackup end"
check "the policy kept its content" grep -qx "policy saved by the running product" "$out/policy-upgrade.txt"
check "no backup left behind" lacks_file upgrade "windows/temp/LYNPolicy.opg"
check "the running service was stopped before InstallValidate" \
  has_message upgrade "StopOrbServiceBeforeInstallValidateAction: Successful in stopping OrbSerivce From QVM"
check "the old product's removal took its service, then the new one installed it" \
  in_order upgrade "In UninstallCustomAction" "Now Uninstalling LynService from QVM" "In InstallCustomAction" \
  "Completed Installing LynService into QVM Successfully"
check "after the upgrade the service runs again: one LynService.exe" service_runs upgrade
check "after the upgrade both catalogs are registered" catalogs_registered upgrade
# Wine removes the old product with a plain REMOVE=ALL (no UPGRADINGPRODUCTCODE), so
# the old package's uninstall-only actions run during an upgrade here; on Windows
# they are skipped and the product's logs survive the upgrade.

# Uninstallation removes the plug-in and the logs.
check "uninstall succeeds" test "$(cat "$out/uninstall.result")" = 0
check "CheckJunction does not run at uninstall" bash -c "! grep -aq 'Action start .*: CheckJunction\.' '$out/uninstall.log'"
check "the tray plug-in step removed the protection policy first, then found no tray application" \
  in_order uninstall "UninstallOrbPinletPlugin started" "UninstallPinletPlugin : Calling DeleteOrbWRDPolicy()" \
  "DeleteOrbWRDPolicy : no protection policy to remove" "UninstallPinletPlugin : Completed DeleteOrbWRDPolicy()" \
  "UninstallPinletPlugin : Unable to get Pinlet installation directory From WOW6432Node Try From Normal Node." \
  "UninstallPinletPlugin : Unable to get Pinlet installation directory From Regular Node." \
  "UninstallPinletPlugin : successfull in unloading ORB Pinlet plugin" "UninstallOrbPinletPlugin end"
check "the logs folder was removed" \
  in_order uninstall "DeleteOrbLogsFolder: Start" "DeleteOrbLogsFolder: Successfully removed the ORB logs directory" \
  "DeleteOrbLogsFolder: End"
check "the logs folder is gone" lacks_file uninstall "ProgramData/Norvale/LYN/Logs"
check "the payload was removed" lacks_file uninstall "Program Files/Norvale/LYN/readme.txt"
check "UninstallCustomAction ran and succeeded" action_result uninstall UninstallCustomAction 1
check "UninstallCustomAction removed catalogs, service and platform core" \
  in_order uninstall "In UninstallCustomAction" "Successfully uninstalled catFileNameForIntelSha256.cat catalog file" \
  "Now Uninstalling LynService from QVM" "InstallTessel: Start , isInstall= 0" "InstallTessel() returned non-zero"
check "the platform core was removed from a copy of its uninstall set" \
  vendor_ran "-u -g {FC04F053-70E4-46B8-B2D9-B78F3AE001E3}"
check "the uninstall set was copied to a temporary folder" temp_folder_used uninstall
check "no temporary uninstall-set folder is left" bash -c "! grep -q 'vtnzpk' '$out/files-uninstall.txt'"
check "no host service and no LynService.exe is left" service_gone uninstall
check "no catalog is left" catalogs_removed uninstall

# An installation that fails after InstallCustomAction is rolled back.
# Wine ends a script whose custom action failed with 1627 and logs the failed
# action's return value as 0 (Windows: 1603 and 3).
check "the forced failure fails the installation" test "$(cat "$out/failed-install.result")" = 1627
check "InstallCustomAction had installed the service" \
  in_order failed-install "In InstallCustomAction" "Completed Installing LynService into QVM Successfully"
check "the forced failure ended the script" action_result failed-install ForcedFailure 0
check "RollbackCustomAction undid service, platform core and catalogs" \
  in_order failed-install "Completed Installing LynService into QVM Successfully" "In RollbackCustomAction - Begin" \
  "Now Uninstalling LynService from QVM" "InstallTessel: Start , isInstall= 0" \
  "Successfully uninstalled catFileNameForIntelSha256.cat catalog file" "In RollbackCustomAction - End"
check "after the rollback no host service and no LynService.exe is left" service_gone failed-install
check "after the rollback no catalog is left" catalogs_removed failed-install
# Wine has removed the product's registry values by the time its rollback script
# runs, so the platform-core removal finds no "InstDir" here; on Windows the rollback
# action runs before the values written after it are rolled back.
check "the rollback's platform-core step found no install directory (Wine)" \
  has_record failed-install "InstallTessel() is Failed"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]

#!/bin/bash
# The sample package installs, upgrades, repairs, uninstalls and rolls back a failed installation
# and a failed upgrade with the real installer engine, and its custom actions leave the expected
# results, files and log lines. Its tables put each action in its context and place.
set -uo pipefail
here=$(dirname "$(readlink -f "$0")")
packages=$1 out=$2
"$here/run-sample.sh" "$packages" "$out" || { echo "run-sample failed"; exit 1; }

failures=0 passes=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok   - $1"; passes=$((passes + 1)); else echo "FAIL - $1"; failures=$((failures + 1)); fi
}
# messages STEP: the text-log messages written during a step, prefix removed, blank lines kept.
messages() { tr -d '\r' < "$out/textlog-$1.txt" | sed 's/^\[[0-9-]*\] [0-9:]* - //'; }
# Not grep -q: leaving early would end the writer with SIGPIPE, which pipefail reports.
has_message() { messages "$1" | grep -xF -- "$2" >/dev/null; }
lacks_message() { ! messages "$1" | grep -F -- "$2" >/dev/null; }
# in_order STEP TEXT...: the messages appear in this order (others may lie between).
in_order() {
  local step=$1; shift
  # Through the environment: awk -v would take the paths' backslashes for escapes.
  messages "$step" | want="$(printf '%s\n' "$@")" awk '
    BEGIN { n = split(ENVIRON["want"], w, "\n"); i = 1 }
    i <= n && $0 == w[i] { i++ }
    END { exit (i <= n) }'
}
# exactly LINE...: from the first input line that is the first LINE on, the lines are exactly
# these; a LINE "..." stands for any number of lines. (Through the environment: awk -v would
# take the paths' backslashes for escapes.)
exactly() {
  want="$(printf '%s\n' "$@")" awk '
    BEGIN { n = split(ENVIRON["want"], w, "\n"); i = 0 }
    i == 0 { if ($0 == w[1]) i = 2; next }
    i > n { next }
    w[i] == "..." { if ($0 == w[i + 1]) i += 2; next }
    $0 == w[i] { i++; next }
    { exit 1 }
    END { exit (i <= n) }'
}
transcript() { local step=$1; shift; messages "$step" | exactly "$@"; }
# records STEP ACTION LINE...: the installer-log records of the action's last run are exactly these,
# blank lines included (a record's own line end); process and thread ids as <pid> and <tid>.
records() {
  local step=$1 action=$2; shift 2
  tr -d '\r' < "$out/$step.log" | awk -v a="$action" '
    $0 ~ "^Action start [0-9:]+: " a "\\.$" { run = "<start>"; on = 1; next }
    on && $0 ~ "^Action ended [0-9:]+: " a "\\." { last = run "\n<end>"; on = 0 }
    on { sub(/^Info 1000\./, ""); gsub(/PID: [0-9]+, with TID: [0-9]+/, "PID: <pid>, with TID: <tid>"); run = run "\n" $0 }
    END { print last }' | exactly "<start>" "$@" "<end>"
}
# ran STEP LINE...: the vendor programs the step ran (folder|command line), exactly.
ran() { diff <(printf '%s\n' "${@:2}") <(tr -d '\r' < "$out/vendor-$1.txt") >/dev/null; }
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
# Both catalogs hold the product's lyn.cat; an earlier release's orb_64.cat stays as it was.
catalogs_registered() {
  diff <(printf '%s\n' "lyn.cat:LYN catalog stand-in" "lyn_IntelSha256.cat:LYN catalog stand-in" \
    "orb_64.cat:ORB catalog stand-in") "$out/catalogs-$1.txt" >/dev/null
}
catalogs_removed() { test "$(cat "$out/catalogs-$1.txt")" = "orb_64.cat:ORB catalog stand-in"; }
services_left() { test "$(paste -sd ' ' "$out/services-$1.txt")" = "$2"; }
tool="C:\\Program Files\\Common Files\\Veltan\\Basalt" id="{FC04F053-70E4-46B8-B2D9-B78F3AE001E3}"
tessel_logs="C:\\windows\\Temp\\NorvaleLogs\\lyn_tessel_"
installer="${instdir}x64\\vtnhidin.exe"
install_args="-c lyn_tesselfiles.cab -l ${tessel_logs}inst_4.9.0.log -etl ${tessel_logs}inst_4.9.0.etl -t ORBINSTALL -g $id"
command_line="CreateAndExecuteCmdLineProcessWithOutputToFile(), process command line is:"

# The built package's tables: only what must run before the script exists is immediate; everything
# else runs in the script (1024) without impersonation (2048). At an upgrade UpgradeFix and
# DeleteOrbWRDPolicy come between InstallInitialize and an InstallExecute, and the old product's
# removal comes right after that InstallExecute.
msi=$packages/sample-4.9.1.msi
table() { msiinfo export "$msi" "$1" | tail -n +4 | tr -d '\r'; }
check "immediate: only the two checks, the stop before InstallValidate and the removal's consent" \
  test "$(table CustomAction | awk -F'\t' '$3 == "InstallHelperDll" && int($2 / 1024) % 2 == 0 { print $1 }' | sort | paste -sd ' ')" \
       = "CheckCaseSentivity CheckJunction GetPropertyAction StopOrbServiceBeforeInstallValidateAction"
check "every action of ours in the script runs without impersonation" \
  test -z "$(table CustomAction | awk -F'\t' '$3 == "InstallHelperDll" && int($2 / 1024) % 2 == 1 && int($2 / 2048) % 2 == 0')"
check "UpgradeFix and DeleteOrbWRDPolicy are deferred (neither rollback nor commit)" \
  test "$(table CustomAction | awk -F'\t' '$1 ~ /^(UpgradeFix|DeleteOrbWRDPolicy)$/ && int($2 / 256) % 4 == 0 && int($2 / 1024) % 2 == 1' | wc -l)" = 2
order=$(table InstallExecuteSequence | sort -t$'\t' -k3,3n | cut -f1 | paste -sd ' ')
check "InstallInitialize, UpgradeFix, DeleteOrbWRDPolicy, InstallExecute, then at once RemoveExistingProducts" \
  grep -qE '(^| )InstallInitialize( .*)? UpgradeFix( .*)? DeleteOrbWRDPolicy( .*)? InstallExecute RemoveExistingProducts( |$)' <<< "$order"

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
# The host is there, its service not yet: nothing to stop, nothing to wait for, and no
# interaction-log folder made (the product makes it when it runs).
check "nothing to stop before InstallValidate on a fresh machine" \
  transcript install "StopOrbServiceBeforeInstallValidateAction: Now Stopping OrbService from QVM" \
  "StopOrbServiceBeforeInstallValidateAction: OrbService is not running Proceed with Uninstallation" "CopyPolicyBackup start"
check "no logs folder before the product runs" lacks_file install "ProgramData/Norvale/LYN/Logs"
check "InstallCustomAction ran and succeeded" action_result install InstallCustomAction 1
check "InstallCustomAction: each step, its messages exactly, in order" \
  transcript install "In InstallCustomAction" "" "InstallCustomAction: Calling killExistingORBProcess" "..." \
  "killExistingORBProcess : could not get process handle for LynService.exe " \
  "InstallCustomAction : Stopped LYNService or it is not present" "CopyPolicyBackup start" \
  "Did not restore policy file, Error Code: 2" "Did not restore policy file, Error Code: 2" "CopyPolicyBackup end" \
  " Service deleted successfully" "Successfully installed LYN catalog file" "" \
  "Successfully installed lyn_IntelSha256.cat catalog file" "Do_Catalog_Action() returned non-zero" "" \
  "InstallTessel: Start , isInstall= 1" " " "InstallVeltanCerts: Start" "" \
  "IsTrvInfoPresent(): trvinfo.exe FOUND at $tool\\trvinfo.exe" "..." \
  "$command_line $tool\\trvinfo.exe /SetSearchPath \"${instdir}x64\"" "..." \
  "$command_line $tool\\trvinfo.exe /LoadCerts " "..." "InstallVeltanCerts: End" "InstallTessel: $installer $install_args" "..." \
  "InstallTessel: End" "Started Installing LynService into QVM" "Completed Installing LynService into QVM Successfully"
# The process ids change from run to run.
check "InstallCustomAction's records: catalogs, then the three programs run" \
  records install InstallCustomAction "Successfully installed lyn catalog file" "" \
  "Successfully installed lyn_IntelSha256.cat catalog file" "" "Do_Catalog_Action() returned non-zero" "" \
  "CreateAndExecuteCmdLineProcessWithOutputToFile(), Successfully Created process with PID: <pid>, with TID: <tid>" "" \
  "CreateAndExecuteCmdLineProcessWithOutputToFile(), Successfully Created process with PID: <pid>, with TID: <tid>" "" \
  "CreateAndExecuteCmdLineProcessWithOutputToFile(), Successfully Created process with PID: <pid>, with TID: <tid>" ""
check "both catalogs are in the catalog database" catalogs_registered install
check "trvinfo.exe set the search path and loaded the certificates, then the platform core installed from x64" \
  ran install "$tool|\"$tool\\trvinfo.exe\" /SetSearchPath \"${instdir}x64\"" "$tool|\"$tool\\trvinfo.exe\" /LoadCerts " \
  "${instdir}x64|\"$installer\" $install_args"
check "of the earlier releases' services ORBService was deleted, LYNService is left" services_left install LYNService
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
  transcript upgrade "StopOrbServiceBeforeInstallValidateAction: Now Stopping OrbService from QVM" \
  "StopOrbServiceBeforeInstallValidateAction: Successful in stopping OrbSerivce From QVM" \
  "StopOrbServiceBeforeInstallValidateAction: Sleeping for 2sec Start" \
  "StopOrbServiceBeforeInstallValidateAction: Sleeping for 2sec End"
check "the new product's protection policy step ran before the old product's removal" \
  in_order upgrade "DeleteOrbWRDPolicy : no protection policy to remove" "In UninstallCustomAction"
check "DeleteOrbWRDPolicy ran and succeeded" action_result upgrade DeleteOrbWRDPolicy 1
# Wine logs a deferred action where it is written into the script and again where it runs.
check "UpgradeFix ran in the script at InstallExecute, then RemoveExistingProducts began" \
  eval 'tr -d "\r" < "$out/upgrade.log" | sed "s/^Action \(start\|ended\) [0-9:]*: /\1 /; s/\. Return value / /" |
        grep -E "^(start|ended) (InstallExecute|UpgradeFix|RemoveExistingProducts)[. ]" |
        exactly "start UpgradeFix." "ended UpgradeFix 1." "start InstallExecute." "start UpgradeFix." "ended UpgradeFix 1." \
                "ended InstallExecute 1." "start RemoveExistingProducts."'
check "the policy was saved before the old product's removal began" \
  in_order upgrade "UpgradeFix started" "Backed-up policy file" "UpgradeFix end" "In UninstallCustomAction"
check "the old product's removal took its service, then the new one installed it" \
  in_order upgrade "In UninstallCustomAction" "Now Uninstalling LynService from QVM" "In InstallCustomAction" \
  "Completed Installing LynService into QVM Successfully"
check "after the upgrade the service runs again: one LynService.exe" service_runs upgrade
check "no ORBService any more: LYNService was deleted" \
  transcript upgrade " ORBService: OpenService failed 1060" " Service deleted successfully" \
  "Successfully installed LYN catalog file"
check "no earlier release's service is left" services_left upgrade ""
check "after the upgrade both catalogs are registered" catalogs_registered upgrade
# Wine removes the old product with a plain REMOVE=ALL (no UPGRADINGPRODUCTCODE), so
# the old package's uninstall-only actions run during an upgrade here; on Windows
# they are skipped and the product's logs survive the upgrade.

# A repair (which a standard user may start, its deferred actions then running as SYSTEM) runs
# none of the custom actions: the product stays as the upgrade left it.
check "repair succeeds" test "$(cat "$out/repair.result")" = 0
check "the repair ran no custom action: nothing in the text log" test ! -s "$out/textlog-repair.txt"
check "the repair did reinstall: the service profile the host consumed is back" \
  has_file repair "Program Files/Norvale/LYN/QVMProfileForLYNService.xml"
check "after the repair the service still runs: the same LynService.exe" \
  eval 'service_runs repair && cmp -s "$out/processes-upgrade.txt" "$out/processes-repair.txt"'
check "after the repair both catalogs are registered" catalogs_registered repair
check "after the repair the policy is in place" grep -qx "policy saved by the running product" "$out/policy-repair.txt"

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
check "the service was stopped before InstallValidate" \
  transcript uninstall "StopOrbServiceBeforeInstallValidateAction: Now Stopping OrbService from QVM" \
  "StopOrbServiceBeforeInstallValidateAction: Successful in stopping OrbSerivce From QVM"
# The product's uninstall protection lets the removal go on before anything is taken away.
for action in GetPropertyAction ExecuteProcessX64 ExecuteProcessX86; do
  check "$action ran and succeeded" action_result uninstall "$action" 1
done
check "the uninstall protection's three steps ran, then UninstallCustomAction" \
  transcript uninstall "GetPropertyAction : uninstall authorisation not required" "" \
  "ExecuteProcessX64 : uninstall protection step (64-bit) done" "" \
  "ExecuteProcessX86 : uninstall protection step (32-bit) done" "" "In UninstallCustomAction"
check "UninstallCustomAction ran and succeeded" action_result uninstall UninstallCustomAction 1
temp=$(messages uninstall | sed -n 's/^TESSEL: \[INFO\] Destination folder is \[\(.*\)\]$/\1/p')
removal="\"$temp\\vtnhidin.exe\" -u -g $id -l \"${tessel_logs}uninst_4.9.0.log\" -etl \"${tessel_logs}uninst_4.9.0.etl\""
copied() { echo "TESSEL: [INFO] Copied file [$tool\\$1] to [$temp\\$1]"; }
check "the uninstall set went to a fresh folder in the temporary folder" \
  grep -qxE 'C:\\users\\[^\\]+\\Temp\\vtnzpk[0-9a-f]+' <<< "$temp"
check "UninstallCustomAction: catalogs, service, then the platform core from a copy of its uninstall set" \
  transcript uninstall "In UninstallCustomAction" "UninstallCustomAction : uninstall authorised" "" \
  "Successfully uninstalled LYN catalog file" "Successfully uninstalled catFileNameForIntelSha256.cat catalog file" \
  "Do_Catalog_Action() returned non-zero" "" "..." "Now Uninstalling LynService from QVM" \
  "InstallTessel: Start , isInstall= 0" " " "TESSEL: [INFO] Destination folder is [$temp]" "$(copied vtnhidin.exe)" \
  "$(copied vtnhidid.xml)" "$(copied vtnprod.xml)" "TESSEL: [INFO] CreateProcess [$removal]" "InstallTessel: End" \
  "InstallTessel() returned non-zero"
check "UninstallCustomAction's records: catalogs, the service's stop, the platform core" \
  records uninstall UninstallCustomAction "Successfully uninstalled LYN catalog file" "" \
  "Successfully uninstalled catFileNameForIntelSha256.cat catalog file" "" "Do_Catalog_Action() returned non-zero" "" \
  "StopService LYNService Using QVM" "InstallTessel() returned non-zero" ""
check "the platform core's removal ran from the temporary copy" ran uninstall "$temp|$removal"
check "no temporary uninstall-set folder is left" bash -c "! grep -q 'vtnzpk' '$out/files-uninstall.txt'"
check "no host service and no LynService.exe is left" service_gone uninstall
check "no catalog of the product is left, the earlier release's one is" catalogs_removed uninstall

# An installation that fails after InstallCustomAction is rolled back.
# Wine logs the failed action's return value as 0 (Windows: 3).
check "the forced failure fails the installation" test "$(cat "$out/failed-install.result")" = 1603
check "InstallCustomAction had installed the service" \
  in_order failed-install "In InstallCustomAction" "Completed Installing LynService into QVM Successfully"
check "no earlier release's service to delete, either name looked for" \
  transcript failed-install " ORBService: OpenService failed 1060" " LYNService: OpenService failed 1060" \
  "Successfully installed LYN catalog file"
check "the forced failure ended the script" action_result failed-install ForcedFailure 0
check "RollbackCustomAction undid service, platform core and catalogs" \
  in_order failed-install "Completed Installing LynService into QVM Successfully" "In RollbackCustomAction - Begin" \
  "Now Uninstalling LynService from QVM" "InstallTessel: Start , isInstall= 0" \
  "Successfully uninstalled catFileNameForIntelSha256.cat catalog file" "In RollbackCustomAction - End"
check "after the rollback no host service and no LynService.exe is left" service_gone failed-install
check "after the rollback no catalog of the product is left" catalogs_removed failed-install
# Wine has removed the product's registry values by the time its rollback script
# runs, so the platform-core removal finds no "InstDir" here; on Windows the rollback
# action runs before the values written after it are rolled back.
check "the rollback's platform-core step found no install directory (Wine)" \
  has_record failed-install "InstallTessel() is Failed"

# A failed upgrade: 4.9.0 runs with its policy, 4.9.1 fails after its InstallCustomAction. Wine
# removes the old product with a nested msiexec and never rolls that back; the new product's
# rollback then takes away what InstallCustomAction laid down and runs the package's removal steps,
# among them the RemoveFile row that deletes the policy CopyPolicyBackup had put back. (Windows
# rolls the removal back with the rest: the old release comes back registered, with its files,
# values and policy.)
check "the reinstalled 4.9.0 runs before the failed upgrade" \
  eval 'service_runs reinstall && test "$(cat "$out/products-reinstall.txt")" = 4.9.0'
check "the failed upgrade fails" test "$(cat "$out/failed-upgrade.result")" = 1603
check "the failed upgrade saved the policy, removed the old product, put the policy back, then rolled back" \
  in_order failed-upgrade "UpgradeFix started" "Backed-up policy file" "UpgradeFix end" "In UninstallCustomAction" \
  "CopyPolicyBackup start" "Restored policy file in path-> $policy  " "In RollbackCustomAction - Begin" \
  "In RollbackCustomAction - End"
check "after the failed upgrade neither version is registered (Wine)" test ! -s "$out/products-failed-upgrade.txt"
check "after the failed upgrade no host service and no LynService.exe is left" service_gone failed-upgrade
check "after the failed upgrade no catalog of the product is left" catalogs_removed failed-upgrade
check "after the failed upgrade neither the policy nor its backup is left (Wine)" \
  eval '! test -e "$out/policy-failed-upgrade.txt" && lacks_file failed-upgrade windows/temp/LYNPolicy.opg'

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]

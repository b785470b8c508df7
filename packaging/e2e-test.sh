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
has_message() { messages "$1" | grep -qxF -- "$2"; }
lacks_message() { ! messages "$1" | grep -qF -- "$2"; }
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
policy="C:\\ProgramData\\Norvale\\LYN\\Policy\\LYNPolicy.opg"

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
# Wine removes the old product with a plain REMOVE=ALL (no UPGRADINGPRODUCTCODE), so
# the old package's uninstall-only actions run during an upgrade here; on Windows
# they are skipped and the product's logs survive the upgrade.

# Uninstallation removes the plug-in and the logs.
check "uninstall succeeds" test "$(cat "$out/uninstall.result")" = 0
check "CheckJunction does not run at uninstall" bash -c "! grep -aq 'Action start .*: CheckJunction\.' '$out/uninstall.log'"
check "the tray plug-in step ran (no tray application here)" \
  in_order uninstall "UninstallOrbPinletPlugin started" \
  "UninstallPinletPlugin : Unable to get Pinlet installation directory From Regular Node." \
  "UninstallPinletPlugin : successfull in unloading ORB Pinlet plugin" "UninstallOrbPinletPlugin end"
check "the logs folder was removed" \
  in_order uninstall "DeleteOrbLogsFolder: Start" "DeleteOrbLogsFolder: Successfully removed the ORB logs directory" \
  "DeleteOrbLogsFolder: End"
check "the logs folder is gone" lacks_file uninstall "ProgramData/Norvale/LYN/Logs"
check "the payload was removed" lacks_file uninstall "Program Files/Norvale/LYN/readme.txt"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]

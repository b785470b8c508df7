#!/bin/bash
# The sample package installs and uninstalls with the real installer engine,
# and its custom actions leave the expected results and log lines.
set -uo pipefail
here=$(dirname "$(readlink -f "$0")")
msi=$1 out=$2
"$here/run-sample.sh" "$msi" "$out" || { echo "run-sample failed"; exit 1; }

failures=0 passes=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok   - $1"; passes=$((passes + 1)); else echo "FAIL - $1"; failures=$((failures + 1)); fi
}
# has_message FILE TEXT: a text-log line whose message is exactly TEXT.
has_message() { tr -d '\r' < "$1" | sed 's/^\[[0-9-]*\] [0-9:]* - //' | grep -qxF -- "$2"; }
action_result() { grep -a "Action ended .*: $2\. Return value $3\." "$1" >/dev/null; }

check "install succeeds" test "$(cat "$out/install.result")" = 0
check "CheckJunction ran and succeeded" action_result "$out/install.log" CheckJunction 1
check "CheckJunction logged its start" has_message "$out/textlog-install.txt" "CheckJunction : Start"
check "CheckJunction ended with End" has_message "$out/textlog-install.txt" "CheckJunction : End"
check "the payload was installed" grep -qxF "Program Files/Norvale/LYN/readme.txt" "$out/files-install.txt"
check "uninstall succeeds" test "$(cat "$out/uninstall.result")" = 0
check "CheckJunction does not run at uninstall" bash -c "! grep -aq 'Action start .*: CheckJunction\.' '$out/uninstall.log'"
check "the payload was removed" bash -c "! grep -qxF 'Program Files/Norvale/LYN/readme.txt' '$out/files-uninstall.txt'"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]

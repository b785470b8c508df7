#!/bin/bash
# The WiX v4+ fragment and its WiX v3 form declare the same Binary, the same custom actions (entry
# points, contexts, impersonation, return handling) and the same sequence entries (numbers and
# conditions); each action is one of the DLL's exports; and the v4+ form is written in the v4
# namespace with only what WiX v4's schema has: BinaryRef on CustomAction, conditions in
# Condition attributes, no text inside a sequence entry.
#   fragment-check.sh V4-FRAGMENT V3-FRAGMENT DEF-FILE
set -uo pipefail
here=$(dirname "$(readlink -f "$0")")
v4=$1 v3=$2 def=$3
status=0
fail() { echo "$1"; status=1; }
read_part() { xsltproc --stringparam part "$1" "$here/fragment-rows.xsl" "$2"; }
v4rows=$(read_part rows "$v4") && v3rows=$(read_part rows "$v3") || { echo "a fragment cannot be read"; exit 1; }

[ "$(head -n 1 <<< "$v4rows")" = "namespace http://wixtoolset.org/schemas/v4/wxs" ] || fail "the v4+ form is not in the v4 namespace"
[ "$(head -n 1 <<< "$v3rows")" = "namespace http://schemas.microsoft.com/wix/2006/wi" ] || fail "the v3 form is not in the v3 namespace"
diff -u <(tail -n +2 <<< "$v4rows") <(tail -n +2 <<< "$v3rows") || fail "the two forms declare different rows (- v4+, + v3)"

# One action per export, named as the export's undecorated name and called by its decorated one.
diff -u <(sed -n '/^EXPORTS/,$p' "$def" | tail -n +2 | tr -d ' \r' | grep . | sort) \
        <(sed -n 's/^CustomAction \([^ ]*\) binary=InstallHelperDll entry=\([^ ]*\) .*/\2=\1/p' <<< "$v4rows" | sort) ||
  fail "the actions are not the DLL's exports (- .def, + fragment)"
# Values WiX's schema takes for these attributes; a rollback or deferred action says whether it impersonates.
grep -E '^CustomAction ' <<< "$v4rows" |
  grep -vE ' execute=(immediate|deferred|rollback|commit) impersonate=(yes|no|) return=(check|ignore)$' &&
  fail "an action with a context, impersonation or return value WiX does not take"
grep -E '^CustomAction .* execute=(deferred|rollback|commit) impersonate= ' <<< "$v4rows" &&
  fail "an action in the script that does not say whether it impersonates"

# WiX v4's schema: Wix, Fragment, Binary (Id, SourceFile), CustomAction (Id, BinaryRef, DllEntry,
# Execute, Impersonate, Return), InstallExecuteSequence, Custom (Action, Sequence, Condition) and
# InstallExecute (Sequence, Condition); a sequence entry's condition is an attribute, text is an error.
allowed='Wix Fragment Binary Binary@Id Binary@SourceFile CustomAction CustomAction@Id CustomAction@BinaryRef
CustomAction@DllEntry CustomAction@Execute CustomAction@Impersonate CustomAction@Return InstallExecuteSequence
Custom Custom@Action Custom@Sequence Custom@Condition InstallExecute InstallExecute@Sequence InstallExecute@Condition'
read_part vocabulary "$v4" | sort -u | grep -vxF -f <(tr ' ' '\n' <<< "$allowed") &&
  fail "the v4+ form uses what WiX v4 does not take (above)"

[ "$status" = 0 ] && echo "both forms: $(grep -c '^CustomAction ' <<< "$v4rows") actions, $(grep -c '^Custom ' <<< "$v4rows") sequence entries, the same"
exit "$status"

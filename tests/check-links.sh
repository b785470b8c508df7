#!/bin/bash
# Every relative link in the README, the changelog and docs/*.md leads to a file or folder that
# exists, and a link to a heading (#name) to a heading of that name there, named as GitHub names
# it. Links to other sites are left alone.
#   check-links.sh SOURCE-DIR
set -uo pipefail
cd "$1" || exit 1
status=0 count=0
# anchors FILE: the names GitHub gives the file's headings.
anchors() { sed -n 's/^#\{1,6\} //p' "$1" | tr 'A-Z' 'a-z' | sed 's/[^a-z0-9 _-]//g; s/ /-/g'; }
for doc in README.md CHANGELOG.md docs/*.md; do
  # Inline links [text](target), code spans taken out first: a link in backticks is no link.
  while IFS= read -r target; do
    case $target in http://* | https://* | mailto:*) continue ;; esac
    count=$((count + 1))
    file=$(dirname "$doc")/${target%%#*}
    [ -n "${target%%#*}" ] || file=$doc
    if [ ! -e "$file" ]; then
      echo "$doc: $target leads nowhere"; status=1
    elif [ "$target" != "${target#*#}" ] && ! anchors "$file" | grep -xF -- "${target#*#}" >/dev/null; then
      echo "$doc: $target names no heading of $file"; status=1
    fi
  done < <(sed 's/`[^`]*`//g' "$doc" | grep -o '\]([^) ]*)' | sed 's/^](//; s/)$//')
done
[ "$status" = 0 ] && echo "$count relative links, each leads to a file (and heading) that exists"
exit "$status"

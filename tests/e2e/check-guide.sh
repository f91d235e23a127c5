#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The user's guide F1 opens: a page for each language the window speaks, every picture,
# stylesheet and page it links to is there, every section it links to exists, and both
# languages have the same sections.
# Usage: tests/e2e/check-guide.sh [GUIDE_DIR]   (default build/guide, the copy the build makes
#        beside the program; an installed share/doc/framora/guide is checked the same way)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
guide=$(realpath -m "${1:-$root/build/guide}")

failed=0
complain() {
  echo "$*"
  failed=1
}

sections() { grep -oE '<h2 id="[^"]+"' "$1" | sed 's/.*id="//; s/"$//'; }

for language in ja en; do
  page=$guide/$language/index.html
  [ -f "$page" ] || { complain "no guide page $page"; continue; }
  grep -q "<html lang=\"$language\">" "$page" || complain "$page does not say it is in $language"
  ids=$(grep -oE ' id="[^"]+"' "$page" | sed 's/ id="//; s/"$//')
  for link in $(grep -oE '(href|src)="[^"]+"' "$page" | sed 's/^[a-z]*="//; s/"$//'); do
    case $link in
      http://* | https://*) ;;
      \#*) grep -qxF -- "${link#\#}" <<<"$ids" || complain "$page links to a section it lacks: $link" ;;
      *) [ -e "$(dirname "$page")/${link%%#*}" ] || complain "$page links to a file that is not there: $link" ;;
    esac
  done
done
if [ -f "$guide/ja/index.html" ] && [ -f "$guide/en/index.html" ] &&
  [ "$(sections "$guide/ja/index.html")" != "$(sections "$guide/en/index.html")" ]; then
  complain "the Japanese and English guides do not have the same sections"
fi
[ "$failed" -eq 0 ] && echo "user's guide in $guide: both languages, every link there"
exit "$failed"

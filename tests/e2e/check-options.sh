#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every option a program's --help lists is in its manual page and offered by its bash
# completion, and the other way round: nothing the page's OPTIONS section or the completion
# names is missing from --help. Run for framora and framora-grab.
# Usage: tests/e2e/check-options.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -m "${1:-$root/build}")
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion

failed=0
complain() {
  echo "$*"
  failed=1
}

# What the completion offers for a word being typed.
offers() {
  COMP_WORDS=("$1" "$2")
  COMP_CWORD=1
  COMP_LINE="$1 $2"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  "$3"
  printf '%s\n' "${COMPREPLY[@]}"
}

# The options a manual page documents: the tagged paragraphs of its OPTIONS section.
page_options() {
  sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$1" | grep -A1 '^\.TP' | grep -E '^\.B' |
    sed 's/\\-/-/g' | grep -oE -- '(^|[ "])--?[a-z][a-z-]*' | tr -d ' "' | sort -u
}

check() {
  local program=$1 binary=$2 page=$3 completion=$4 function=$5
  [ -x "$binary" ] || { complain "no $binary to ask for its options (build it first)"; return; }
  # shellcheck disable=SC1090
  source "$completion"
  local help documented offered option
  help=$(env -u DISPLAY QT_QPA_PLATFORM=offscreen "$binary" --help | grep -E '^ +-' |
    grep -oE -- '(^|[ ,])--?[a-z][a-z-]*' | tr -d ' ,' | sort -u)
  [ -n "$help" ] || { complain "$program --help lists no option"; return; }
  documented=$(page_options "$page")
  offered=$(offers "$program" - "$function" | sort -u)
  for option in $help; do
    grep -qxF -- "$option" <<<"$documented" || complain "$program: $option of --help is not in $page"
    # Short options are not offered: the long ones complete to the same.
    [[ $option == --* ]] || continue
    grep -qxF -- "$option" <<<"$offered" || complain "$program: $option of --help is not offered by $completion"
  done
  for option in $documented; do
    grep -qxF -- "$option" <<<"$help" || complain "$program: $option of $page is not in --help"
  done
  for option in $offered; do
    grep -qxF -- "$option" <<<"$help" || complain "$program: $option of $completion is not in --help"
  done
  echo "$program: $(wc -w <<<"$help") options of --help in the page and the completion"
}

check framora "$build/framora" "$root/docs/man/framora.1" "$root/packaging/completion/framora" _framora
check framora-grab "$build/grab/framora-grab" "$root/docs/man/framora-grab.1" \
  "$root/packaging/completion/framora-grab" _framora_grab
exit "$failed"

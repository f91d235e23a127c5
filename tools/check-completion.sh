#!/usr/bin/env bash
# Asks the bash completion of framora-grab what it offers at a few points of a command line, as
# bash would when Tab is pressed, and fails when an answer is not the one expected.
# Usage: tools/check-completion.sh [COMPLETION_FILE]
set -euo pipefail
completion=${1:-$(dirname "$0")/completion/framora-grab}
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion
# shellcheck disable=SC1090
source "$completion"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir stills
touch clip.mp4 CLIP2.MKV notes.txt

# Prints what completing the words offers (the last word is the one being typed).
offers() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 ))
  COMP_LINE="${COMP_WORDS[*]}"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _framora_grab
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

failed=0
expect() {
  local want=$1; shift
  local got
  got=$(offers "$@")
  if [ "$got" != "$want" ]; then
    echo "completion of '$*': expected '$want', got '$got'"
    failed=1
  fi
}

expect "--deinterlace"                     framora-grab --dei
expect "jpg"                               framora-grab --format j
expect "auto off on"                       framora-grab --deinterlace ''
expect "off on"                            framora-grab --tonemap o
expect "CLIP2.MKV clip.mp4 stills"         framora-grab ''
expect "CLIP2.MKV clip.mp4 stills"         framora-grab --format png ''
expect "stills"                            framora-grab clip.mp4 ''
expect "stills"                            framora-grab --scenes 15 clip.mp4 ''
expect "CLIP2.MKV clip.mp4 notes.txt stills" framora-grab --sheet 4x5 clip.mp4 ''
expect ""                                  framora-grab --every ''
[ "$failed" -eq 0 ] && echo "bash completion of framora-grab: all answers as expected"
exit "$failed"

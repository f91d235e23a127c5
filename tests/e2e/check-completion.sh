#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Asks the bash completion of framora-grab what it offers at a few points of a command line, as
# bash would when Tab is pressed, and fails when an answer is not the one expected. Then checks
# that every option framora-grab --help lists is in the completion and in the manual page.
# Usage: tests/e2e/check-completion.sh [COMPLETION_FILE [FRAMORA_GRAB [MANUAL_PAGE]]]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
completion=$(realpath -m "${1:-$here/../../packaging/completion/framora-grab}")
grab=$(realpath -m "${2:-$here/../../build/grab/framora-grab}")
manual=$(realpath -m "${3:-$here/../../docs/man/framora-grab.1}")
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
expect ""                                  framora-grab --sharpest ''
expect "stills"                            framora-grab --sharpest 0.5 clip.mp4 ''
expect "--sub-file --subtitles"            framora-grab --sub
expect "off"                               framora-grab --subtitles o
expect "stills"                            framora-grab --sub-file ''
mkdir subs && touch subs/film.srt subs/film.txt
expect "subs/film.srt"                     framora-grab --sub-file subs/
expect "stills subs"                       framora-grab --sub-file subs/film.srt clip.mp4 ''
expect "stills subs"                       framora-grab --subtitles 2 clip.mp4 ''

# Every option of --help, in the completion's list and in the manual page (where groff writes
# each '-' as '\-').
if [ ! -x "$grab" ]; then
  echo "no $grab to ask for its options (build it first)"
  exit 1
fi
options=$("$grab" --help | grep -E '^ +-' | grep -oE -- '--[a-z][a-z-]*' | sort -u)
[ -n "$options" ] || { echo "framora-grab --help lists no option"; failed=1; }
page=$(sed 's/\\-/-/g' "$manual")
for option in $options; do
  if ! grep -qE -- "(^|[^a-z-])$option([^a-z-]|\$)" <<<"$page"; then
    echo "$option of --help is not in $manual"
    failed=1
  fi
  if [ "$(offers framora-grab "$option")" = "" ]; then
    echo "$option of --help is not offered by the completion"
    failed=1
  fi
done
[ "$failed" -eq 0 ] && echo "bash completion of framora-grab: all answers as expected"
exit "$failed"

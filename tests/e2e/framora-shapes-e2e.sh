#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end on movies of real shapes: the real program under Xvfb opens each (phone movies coded
# 1080 wide or turned, rows that are no multiple of 16, anamorphic, full range, odd and tiny
# sizes, mirroring display matrices, edit lists, a late first picture), plays it, pauses, steps a
# picture back and forward, captures two scenes, copies one and leaves with OK, confirming the
# question about the unsaved scenes. A picture written past its rows (which the sanitizers cannot
# see inside FFmpeg) or a step that finds no picture ends the program or the run. A screenshot of
# the window with its two scenes is kept for each movie.
#   tests/e2e/framora-shapes-e2e.sh [BUILD] [OUTDIR]
set -euo pipefail
build=$(realpath "${1:-build}")
out=$(realpath -m "${2:-$build/e2e-shapes}")
movies=(phone-1080x1920.mp4 phone-1920x1080-turned.mp4 h264-1080x720.mp4 h264-854x480.mp4
        vp9-642x642.webm h264-1440x1080-anamorphic.mp4 h264-full-range-bt709.mp4 vp9-161x121.webm
        h264-10x12.mp4 transposed.mp4 upside-down.mp4 h264-editlist-preroll.mp4
        h264-editlist-bframes.mp4 h264-late-start.mp4)
rm -rf "$out"
mkdir -p "$out"

log=
fail() { echo "shapes e2e: $*" >&2; echo "--- program output" >&2; cat "$log" >&2 || true; exit 1; }
# shellcheck source=tests/e2e/lib/xsession.sh
source "$(dirname "$0")/lib/xsession.sh"
start_display 1

for name in "${movies[@]}"; do
  movie=$build/fixtures/$name
  [ -f "$movie" ] || fail "no movie $movie"
  log=$out/$name.log
  XDG_CONFIG_HOME="$out/config" XDG_STATE_HOME="$out/state" FRAMORA_REPORT_LAYOUT=1 \
    FRAMORA_LOCK_DIR="$out/locks" QT_QPA_PLATFORM=xcb "$build/framora" "$movie" 2>"$log" &
  app=$!
  wait_for "framora: layout reported"
  settle 1
  xdotool windowfocus --sync "$(xdotool search --onlyvisible --name '^Framora$' | sort -n | head -n 1)"
  click btnPause
  press comma
  press period
  click btnCapture
  click btnStepNext
  click btnCapture
  press ctrl+c
  QT_QPA_PLATFORM=xcb "$build/tests/e2e/framora-e2e-helper" shot "$out/${name%.*}.png" || fail "$name: no screenshot"
  click btnOK
  press Return              # the question about the scenes not saved
  status=0
  for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
  wait "$app" || status=$?
  app=
  [ "$status" -eq 0 ] || fail "$name: exit code $status, expected 0"
  echo "shapes e2e: $name opened, stepped, captured twice and closed"
done
echo "shapes e2e: passed (${#movies[@]} movies)"

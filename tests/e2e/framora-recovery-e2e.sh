#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Scenes survive a kill: the real program under Xvfb captures three scenes of MOVIE (at 0 s,
# 10 s and the end) and is killed with SIGKILL; started again, it asks whether to put them back
# and is answered yes. The three scenes are then saved as PNG and compared with the movie's
# pictures at their positions as framora-grab decodes them: they must be equal, pixel for pixel.
# Saving every scene, then leaving, must leave no kept scene behind.
#   tests/e2e/framora-recovery-e2e.sh [BUILD] [MOVIE] [OUTDIR]
set -euo pipefail
build=$(realpath "${1:-build}")
movie=$(realpath "${2:-$build/fixtures/sample.mp4}")
out=$(realpath -m "${3:-$build/recovery-e2e}")
question="前回保存されなかったシーンがあります。復元しますか？"
rm -rf "$out"
mkdir -p "$out/saved" "$out/grab" "$out/locks" "$out/state" "$out/config"

export XDG_STATE_HOME=$out/state XDG_CONFIG_HOME=$out/config FRAMORA_LOCK_DIR=$out/locks
export QT_QPA_PLATFORM=xcb

log=$out/framora-1.log
fail() { echo "recovery-e2e: $*" >&2; echo "--- program output" >&2; cat "$log" >&2 || true; exit 1; }
# shellcheck source=tests/e2e/lib/xsession.sh
source "$(dirname "$0")/lib/xsession.sh"
start_display 100
kept_scenes() { find "$out/state/framora" -name '*.scene' 2>/dev/null | wc -l; }

# First run: three scenes, then a kill that gives the program no chance to clean up.
FRAMORA_REPORT_LAYOUT=1 "$build/framora" "$movie" 2>"$log" &
app=$!
wait_for "framora: layout reported"
settle 1.5
click btnPause
click btnRewind
click btnCapture
click btnStepNext
click btnCapture
click btnStepNext
click btnCapture
for _ in $(seq 100); do [ "$(kept_scenes)" -eq 3 ] && break; sleep 0.2; done
[ "$(kept_scenes)" -eq 3 ] || fail "$(kept_scenes) scenes kept on disk, expected 3"
[ "$(stat -c %a "$out/state/framora")" = 700 ] || fail "the recovery folder is not private"
kill -9 "$app"
wait "$app" 2>/dev/null || true
app=

# Second run, without a movie: the question, answered yes.
log=$out/framora-2.log
FRAMORA_ANSWER_BOXES=1 FRAMORA_REPORT_LAYOUT=1 "$build/framora" 2>"$log" &
app=$!
wait_for "framora: layout reported"
grep -qF "framora: message: Framora: $question" "$log" || fail "the program did not offer the kept scenes"
settle 1
click btnSaveImage
wait_window "キャプチャイメージの保存"
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 20 "$out/saved/shot.png"
settle
xdotool key --clearmodifiers Return
wait_for "ファイルを保存しました"
click btnOK
status=0
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
wait "$app" || status=$?
app=
[ "$status" -eq 0 ] || fail "exit code $status, expected 0"
[ "$(kept_scenes)" -eq 0 ] || fail "scenes still kept after they were saved"

saved=$(cd "$out/saved" && ls)
[ "$saved" = "$(printf 'shot001.png\nshot002.png\nshot003.png')" ] || fail "saved files: $saved"
for file in shot001.png shot002.png shot003.png; do
  # The position the scene kept through the kill, as its file says.
  position=$(exiv2 -px "$out/saved/$file" | sed -n 's/^Xmp\.framora\.Position .* \([0-9]*\):\([0-9]*\):\([0-9]*\)\.\([0-9]*\)$/\1 \2 \3 \4/p')
  [ -n "$position" ] || fail "$file names no position"
  read -r h m s ms <<<"$position"
  at=$(( ((10#$h * 60 + 10#$m) * 60 + 10#$s) * 1000 + 10#$ms ))
  "$build/grab/framora-grab" "$movie" "$out/grab" "$at" >/dev/null || fail "framora-grab failed at $at"
  difference=$("$build/tests/e2e/framora-e2e-helper" diff "$out/saved/$file" "$out/grab/$at.bmp") || fail "cannot compare $file"
  awk -v d="$difference" 'BEGIN { exit !(d == 0) }' || fail "$file differs from the movie's picture at $at ms by $difference"
  echo "recovery-e2e: $file is the movie's picture at $at ms, pixel for pixel"
done
echo "recovery-e2e: passed"

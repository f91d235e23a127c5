#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A measuring run: how long the window thread stays away from its events while the real program
# works a 4K movie whose only key frame is its first picture (every position is a long decode).
# Under Xvfb, with exact positioning on and the heartbeat beating every 20 ms, it pauses and then
# performs, a few seconds apart: a step forward (Right, the step unit of 10 s), a picture back
# (","), a click on the position bar at three quarters of its length, and a capture. For each it
# prints the longest absence of the window thread during it (the heartbeat file is removed before
# the action, so the absence it holds afterwards counts from there); at the end, the program's
# own figure for the whole run, and a screenshot of the window is kept.
#
# It never fails on a figure: only when the program crashes, ends with an error, or stops
# answering for more than 30 s. Not part of tools/test.sh.
#   tests/e2e/framora-latency-e2e.sh [BUILD] [OUTDIR]
set -euo pipefail
build=$(realpath "${1:-build}")
out=$(realpath -m "${2:-$build/e2e-latency}")
# The heartbeat's interval, and how fresh a beat must be to count the window as answering.
beat_ms=20
answering_ms=200
# Longer than this without an answer is a hang.
hang_s=30
# Time between the actions, for anything they leave running to end.
between_s=2
# Time for the first picture to come after the window shows.
first_picture_s=3

mkdir -p "$out"
rm -rf "$out/config" "$out/state" "$out/locks" "$out/saved"
mkdir -p "$out/config/Framora" "$out/state" "$out/locks" "$out/saved"
movie=$out/4k-one-key-frame.mp4
if [ ! -s "$movie" ]; then
  echo "latency e2e: making $movie (3840x2160, 20 s, one key frame)"
  ffmpeg -nostdin -loglevel error -y -f lavfi -i "testsrc2=s=3840x2160:r=25:d=20" -c:v libx264 \
    -preset ultrafast -g 1000 -keyint_min 1000 -sc_threshold 0 -pix_fmt yuv420p "$movie.part.mp4"
  mv "$movie.part.mp4" "$movie"
fi
# Exact positioning is on unless a setting says otherwise; this one says so outright.
printf '[playback]\nexactPosition=true\n' >"$out/config/Framora/Framora.conf"

log=$out/framora.log
heart=$out/heartbeat
fail() { echo "latency e2e: FAILED: $*" >&2; echo "--- program output" >&2; cat "$log" >&2 || true; exit 1; }
# shellcheck source=tests/e2e/lib/xsession.sh
source "$(dirname "$0")/lib/xsession.sh"
# A display no other run holds.
slot=7
while [ -e "/tmp/.X$((100 + ($$ + slot) % 400))-lock" ]; do slot=$((slot + 1)); done
start_display "$slot"

# shellcheck source=tests/e2e/lib/heartbeat.sh
source "$(dirname "$0")/lib/heartbeat.sh"

# Measures the action the arguments name: the heartbeat starts afresh, the action runs, and once
# the window answers and has had time to finish what it started, the longest absence is read.
measure() {
  local name=$1
  shift
  rm -f "$heart"
  for _ in $(seq 100); do [ -s "$heart" ] && break; sleep 0.02; done
  [ -s "$heart" ] || fail "no heartbeat before $name"
  local started
  started=$(now_ms)
  "$@"
  # The window may answer before the work the action started runs: the figure is read only
  # once it has had time for that and answers again.
  wait_answering "$started"
  sleep "$between_s"
  wait_answering "$started"
  read_heart
  printf 'latency e2e: %-22s longest absence %6s ms\n' "$name" "$absence"
}

key() { xdotool key --clearmodifiers "$1"; }
# Clicks the widget named $1 at the share $2 (percent) of its width, in the middle of its height.
click_at() {
  local geometry x y w h
  geometry=$(sed -n "s/^framora: widget $1 \(-\?[0-9]*\) \(-\?[0-9]*\) \([0-9]*\) \([0-9]*\)$/\1 \2 \3 \4/p" "$log" | tail -n 1)
  [ -n "$geometry" ] || fail "no place reported for $1"
  read -r x y w h <<<"$geometry"
  xdotool mousemove --sync $((x + w * $2 / 100)) $((y + h / 2)) click 1
}

(cd "$out/saved" && exec env XDG_CONFIG_HOME="$out/config" XDG_STATE_HOME="$out/state" \
  FRAMORA_LOCK_DIR="$out/locks" FRAMORA_REPORT_LAYOUT=1 FRAMORA_ANSWER_BOXES=1 \
  FRAMORA_HEARTBEAT="$heart" FRAMORA_HEARTBEAT_MS=$beat_ms QT_QPA_PLATFORM=xcb "$build/framora" "$movie") \
  2>"$log" &
app=$!
wait_for "framora: layout reported"
wait_answering "$(now_ms)"
xdotool windowfocus --sync "$(xdotool search --onlyvisible --name '^Framora$' | sort -n | head -n 1)"
# Pause is enabled only once the first picture is on screen, which a 4K movie takes a while to
# bring; a click before would go unheard and the movie would play on.
sleep "$first_picture_s"
measure "pause" click_at btnPause 50
measure "step forward (Right)" key Right
measure "picture back (,)" key comma
measure "click on the bar (3/4)" click_at TrackBar1 75
measure "capture" click_at btnCapture 50
# The window as the actions left it: the position the bar's click chose, the scene captured.
QT_QPA_PLATFORM=xcb "$build/tests/e2e/framora-e2e-helper" shot "$out/window.png" || echo "latency e2e: no screenshot"

# OK leaves; the question about the scene not saved is answered yes.
click_at btnOK 50
for _ in $(seq $((hang_s * 10))); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && fail "the program did not end within $hang_s s of OK"
status=0
wait "$app" || status=$?
app=
[ "$status" -eq 0 ] || fail "exit code $status, expected 0"
whole=$(sed -n 's/^framora: longest absence \([0-9]*\) ms$/\1/p' "$log" | tail -n 1)
echo "latency e2e: longest absence over the whole run: ${whole:-?} ms (the heartbeat every $beat_ms ms)"

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# An end-to-end run of the pictures on the position bar: the real program under Xvfb, worked with
# xdotool, on a 1080p movie with a key frame every 10 s and on a 4K one. For each it pauses,
# brings the pointer over the bar and waits for a picture to come (the program reports each one
# with FRAMORA_REPORT_BAR_PICTURES=1, and how long the pointer waited for it), then sweeps the
# pointer over the whole bar and back with the heartbeat beating every 20 ms, and prints the
# window thread's longest absence during the sweep and how many pictures came. Then, as a person
# goes on: a click on the bar, Ctrl+G with a picture number typed, a capture, and the longest
# absence over them; OK ends the program (the question about the scene not saved says yes).
#
# It fails when no picture comes after the hover or the sweep, when the program crashes or ends
# with an error, or when the window stops answering for more than 30 s; the figures are printed
# beside their limits (first picture 150 ms, absence 100 ms) without failing on them.
#   tests/e2e/framora-barpictures-e2e.sh [BUILD] [OUTDIR]     (DISPLAY_NUMBER, default 77)
set -euo pipefail
build=$(realpath "${1:-build}")
out=$(realpath -m "${2:-$build/e2e-barpictures}")
beat_ms=20
answering_ms=200
hang_s=30
first_picture_s=3
# The sweep: the pointer's steps over the bar, as a share of its length, and the pause at each.
sweep_step=2
sweep_pause=0.01

mkdir -p "$out"
make_movie() { # name size seconds
  local movie=$out/$1
  if [ ! -s "$movie" ]; then
    echo "bar pictures e2e: making $movie ($2, $3 s, a key frame every 10 s)"
    ffmpeg -nostdin -loglevel error -y -f lavfi -i "testsrc2=s=$2:r=25:d=$3" -c:v libx264 -preset ultrafast \
      -g 250 -keyint_min 250 -sc_threshold 0 -pix_fmt yuv420p "$movie.part.mp4"
    mv "$movie.part.mp4" "$movie"
  fi
}
make_movie 1080p-gop10s.mp4 1920x1080 120
make_movie 4k-gop10s.mp4 3840x2160 30

log=
heart=$out/heartbeat
fail() { echo "bar pictures e2e: FAILED: $*" >&2; echo "--- program output" >&2; cat "$log" >&2 || true; exit 1; }
# shellcheck source=tests/e2e/lib/xsession.sh
source "$(dirname "$0")/lib/xsession.sh"
display=":${DISPLAY_NUMBER:-77}"
[ -e "/tmp/.X${display#:}-lock" ] && fail "display $display is taken"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap stop_display EXIT
export DISPLAY=$display
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

# shellcheck source=tests/e2e/lib/heartbeat.sh
source "$(dirname "$0")/lib/heartbeat.sh"
# The place reported for widget $1: x y w h.
place_of() {
  sed -n "s/^framora: widget $1 \(-\?[0-9]*\) \(-\?[0-9]*\) \([0-9]*\) \([0-9]*\)$/\1 \2 \3 \4/p" "$log" | tail -n 1
}
# Moves the pointer to the share $2 (percent) of widget $1's width, in the middle of its height.
point_at() {
  local x y w h
  read -r x y w h <<<"$(place_of "$1")"
  [ -n "$h" ] || fail "no place reported for $1"
  xdotool mousemove --sync $((x + w * $2 / 100)) $((y + h / 2))
}
pictures() { grep -c '^framora: bar picture ' "$log" || true; }

run_movie() {
  local name=$1 movie=$out/$1
  log=$out/$name.log
  rm -rf "$out/config" "$out/state" "$out/locks" "$heart"
  mkdir -p "$out/config/Framora" "$out/state" "$out/locks"
  (cd "$out" && exec env XDG_CONFIG_HOME="$out/config" XDG_STATE_HOME="$out/state" FRAMORA_LOCK_DIR="$out/locks" \
    FRAMORA_REPORT_LAYOUT=1 FRAMORA_ANSWER_BOXES=1 FRAMORA_REPORT_BAR_PICTURES=1 \
    FRAMORA_HEARTBEAT="$heart" FRAMORA_HEARTBEAT_MS=$beat_ms QT_QPA_PLATFORM=xcb "$build/framora" "$movie") 2>"$log" &
  app=$!
  wait_for "framora: layout reported"
  wait_answering "$(now_ms)"
  sleep "$first_picture_s"
  point_at btnPause 50
  xdotool click 1
  sleep 1

  # The hover: one place, and the picture for it.
  local before
  before=$(pictures)
  point_at TrackBar1 30
  for _ in $(seq 100); do [ "$(pictures)" -gt "$before" ] && break; alive; sleep 0.05; done
  [ "$(pictures)" -gt "$before" ] || fail "$name: no picture came above the bar within 5 s of the hover"
  local first
  first=$(sed -n 's/^framora: bar picture \([0-9]*\) \([0-9x]*\) after \([0-9]*\)$/\3/p' "$log" | sed -n "$((before + 1))p")
  local size
  size=$(sed -n 's/^framora: bar picture \([0-9]*\) \([0-9x]*\) after \([0-9]*\)$/\2/p' "$log" | sed -n "$((before + 1))p")

  # The sweep, with the heartbeat measured afresh.
  rm -f "$heart"
  for _ in $(seq 100); do [ -s "$heart" ] && break; sleep 0.02; done
  [ -s "$heart" ] || fail "no heartbeat before the sweep"
  before=$(pictures)
  local started share x y w h
  read -r x y w h <<<"$(place_of TrackBar1)"
  started=$(now_ms)
  for share in $(seq 0 "$sweep_step" 100) $(seq 100 "-$sweep_step" 0); do
    xdotool mousemove $((x + (w - 1) * share / 100)) $((y + h / 2))
    sleep "$sweep_pause"
  done
  local swept_ms=$(( $(now_ms) - started ))
  sleep 1
  wait_answering "$started"
  read_heart
  local swept_absence=$absence
  local during=$(( $(pictures) - before ))
  [ "$during" -gt 0 ] || fail "$name: no picture came during the sweep"
  # The pointer leaves the bar; then what a person does next: a click where the picture showed,
  # a picture number typed after Ctrl+G, a capture; the window answers throughout.
  xdotool mousemove --sync 5 5
  sleep 0.5
  wait_answering "$(now_ms)"
  rm -f "$heart"
  for _ in $(seq 100); do [ -s "$heart" ] && break; sleep 0.02; done
  started=$(now_ms)
  point_at TrackBar1 30
  xdotool click 1
  sleep 1
  xdotool key --clearmodifiers ctrl+g
  sleep 1
  xdotool type --delay 20 '#300'
  xdotool key --clearmodifiers Return
  sleep 1
  point_at btnCapture 50
  xdotool click 1
  sleep 2
  wait_answering "$started"
  read_heart
  local acting=$absence
  printf 'bar pictures e2e: %-18s picture %s, first after %4s ms (limit 150); sweep of %s ms: %3s pictures, longest absence %4s ms (limit 100)\n' \
    "$name" "$size" "$first" "$swept_ms" "$during" "$swept_absence"
  printf 'bar pictures e2e: %-18s click, Ctrl+G #300 and capture: longest absence %4s ms\n' "$name" "$acting"
  point_at btnOK 50
  xdotool click 1
  for _ in $(seq $((hang_s * 10))); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$app" 2>/dev/null && fail "$name: the program did not end within $hang_s s of OK"
  local status=0
  wait "$app" || status=$?
  app=
  [ "$status" -eq 0 ] || fail "$name: exit code $status, expected 0"
  local whole
  whole=$(sed -n 's/^framora: longest absence \([0-9]*\) ms$/\1/p' "$log" | tail -n 1)
  echo "bar pictures e2e: $name: longest absence over the whole run ${whole:-?} ms"
}

run_movie 1080p-gop10s.mp4
run_movie 4k-gop10s.mp4
echo "bar pictures e2e: passed"

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The sharpest still end to end: the real program under Xvfb opens the movie whose every other
# picture is blurred, pauses on its first picture, steps one picture on (a blurred one), and
# captures with Shift+C; the scene is saved as PNG through the save dialog and the program left
# with OK. The saved picture must be framora-grab --sharpest's picture for that time (a sharp
# one, not the blurred picture that was on screen), and its provenance must say how it was
# chosen.
#   tests/e2e/framora-sharpest-e2e.sh [BUILD] [OUTDIR]
set -euo pipefail
build=$(realpath "${1:-build}")
movie=$build/fixtures/sharp-alternating.mp4
out=$(realpath -m "${2:-$build/sharpest-e2e}")
# The same decoder gives the same pictures; the margin only allows for rounding in the writers.
max_difference=1
# A blurred picture differs from its sharp neighbour by far more than that.
least_blur_difference=5
save_title="キャプチャイメージの保存"
picture_ms=40
rm -rf "$out"
mkdir -p "$out/saved" "$out/grab" "$out/plain" "$out/locks" "$out/config" "$out/state"

log=$out/framora.log
fail() { echo "sharpest-e2e: $*" >&2; echo "--- program output" >&2; cat "$log" >&2 || true; exit 1; }
# shellcheck source=tests/e2e/lib/xsession.sh
source "$(dirname "$0")/lib/xsession.sh"
start_display 200

XDG_CONFIG_HOME="$out/config" XDG_STATE_HOME="$out/state" FRAMORA_REPORT_LAYOUT=1 \
  FRAMORA_LOCK_DIR="$out/locks" QT_QPA_PLATFORM=xcb "$build/framora" "$movie" 2>"$log" &
app=$!
wait_for "framora: layout reported"
settle 1.5
xdotool windowfocus --sync "$(xdotool search --onlyvisible --name '^Framora$' | sort -n | head -n 1)"
click btnPause
click btnRewind
press period              # one picture on: picture 1, blurred
press shift+c             # the sharpest within 0.5 s, in the same scene
settle 2
click btnSaveImage
wait_window "$save_title"
press ctrl+a
xdotool type --delay 20 "$out/saved/sharp.png"
press Return              # the save dialog
press Return              # "ファイルを保存しました"
click btnOK

status=0
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
wait "$app" || status=$?
app=
[ "$status" -eq 0 ] || fail "exit code $status, expected 0"
saved=$(cd "$out/saved" && ls)
[ "$saved" = "sharp001.png" ] || fail "saved files: $saved"

line=$("$build/grab/framora-grab" --sharpest 0.5 --format png "$movie" "$out/grab" "$picture_ms" | tail -n 1) ||
  fail "framora-grab --sharpest failed"
"$build/grab/framora-grab" --format png "$movie" "$out/plain" "$picture_ms" >/dev/null || fail "framora-grab failed"
chosen=$(awk '{print $5}' <<<"$line")
[ "$chosen" != "$picture_ms" ] || fail "the chosen picture is the blurred one on screen ($line)"
difference=$("$build/tests/e2e/framora-e2e-helper" diff "$out/saved/sharp001.png" "$out/grab/$picture_ms.png") ||
  fail "cannot compare the saved picture"
awk -v d="$difference" -v m="$max_difference" 'BEGIN { exit !(d <= m) }' ||
  fail "the saved picture differs from framora-grab --sharpest's by $difference"
difference=$("$build/tests/e2e/framora-e2e-helper" diff "$out/saved/sharp001.png" "$out/plain/$picture_ms.png") ||
  fail "cannot compare the saved picture"
awk -v d="$difference" -v m="$least_blur_difference" 'BEGIN { exit !(d >= m) }' ||
  fail "the saved picture is the blurred one on screen (difference $difference)"
echo "sharpest-e2e: the saved picture is the sharp one at $chosen ms, not the blurred one on screen"
metadata=$(exiv2 -px "$out/saved/sharp001.png")
grep -Eq "^Xmp\.framora\.Choice +XmpText +[0-9]+ +sharpest$" <<<"$metadata" ||
  fail "the saved picture does not say it was chosen as the sharpest"
grep -Eq "^Xmp\.framora\.Sharpness +XmpText +[0-9]+ +[0-9.]+$" <<<"$metadata" ||
  fail "the saved picture does not give its sharpness"
echo "sharpest-e2e: passed"

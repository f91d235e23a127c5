#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end: the real program under Xvfb, worked with the real mouse and keyboard (xdotool).
# It opens a copy of MOVIE given on the command line with a SubRip file beside it (two lines
# from 0 to 5 s), turns the file's subtitles on in its menu while the movie plays, pauses,
# captures three scenes at 0 s, 10 s and the end, deletes the last, saves the rest as PNG into a
# folder typed into the save dialog, captures once more and leaves with OK, confirming the
# question about the unsaved scene. Then it checks the exit code, the files, and their pictures
# against the movie's pictures at those positions as framora-grab decodes them with the same
# subtitle file (the first with its lines, which the movie's own picture lacks), that the files
# name their movie and position inside, and keeps a screenshot of the window with its scenes.
# The window speaks the language LANGUAGE names (English for LANGUAGE=en, Japanese for
# LANGUAGE=ja), and the run finds its dialog by that language's title.
#   tests/e2e/framora-e2e.sh [BUILD] [MOVIE] [OUTDIR]
set -euo pipefail
build=$(realpath "${1:-build}")
source_movie=$(realpath "${2:-$build/fixtures/sample.mp4}")
out=$(realpath -m "${3:-$build/e2e}")
# The same decoder gives the same pictures; the margin only allows for rounding in the writers
# (mean absolute difference per channel, 0..255).
max_difference=1
# The subtitle's lines change the first picture by at least this much.
least_subtitle_difference=3
case ${LANGUAGE:-} in
  en*) save_title="Save Captured Pictures" ;;
  *) save_title="キャプチャイメージの保存" ;;
esac
rm -rf "$out"
mkdir -p "$out/saved" "$out/grab" "$out/plain" "$out/locks" "$out/movie"
movie=$out/movie/$(basename "$source_movie")
cp "$source_movie" "$movie"
subtitles=${movie%.*}.srt
# Two large lines: they move the picture's mean far beyond the writers' rounding.
printf '1\n00:00:00,000 --> 00:00:05,000\n<font size="40">Framora end to end</font>\n<font size="40">a still with its line</font>\n' >"$subtitles"

log=$out/framora.log
fail() { echo "e2e: $*" >&2; echo "--- program output" >&2; cat "$log" >&2 || true; exit 1; }
# shellcheck source=tests/e2e/lib/xsession.sh
source "$(dirname "$0")/lib/xsession.sh"
start_display 0

# Settings of earlier runs (a kept step unit) must not move the positions.
XDG_CONFIG_HOME="$out/config" FRAMORA_REPORT_LAYOUT=1 FRAMORA_LOCK_DIR="$out/locks" QT_QPA_PLATFORM=xcb \
  "$build/framora" "$movie" 2>"$log" &
app=$!
wait_for "framora: layout reported"
settle 1.5

# While it plays: 設定 > 字幕 is the menu's last item; its items are なし, then the file beside
# the movie. Without a window manager the window has the keyboard only once it is given it.
xdotool windowfocus --sync "$(xdotool search --onlyvisible --name '^Framora$' | sort -n | head -n 1)"
press alt+s
press Up
press Right
press Down
press Return
click btnPause
click btnRewind
click btnCapture          # No.1 at 0 s, with the subtitle
click btnStepNext
click btnCapture          # No.2 at 10 s
click btnStepNext
click btnCapture          # No.3 at the end, selected as the newest
click btnDelete
press Return              # "No.3を削除します。よろしいですか？" (Delete No.3)

click btnSaveImage
wait_window "$save_title"
press ctrl+a
xdotool type --delay 20 "$out/saved/shot.png"
press Return              # the save dialog
press Return              # "ファイルを保存しました"

click btnCapture          # a scene not saved: leaving must ask
QT_QPA_PLATFORM=xcb "$build/tests/e2e/framora-e2e-helper" shot "$out/window.png" || fail "no screenshot"
click btnOK
press Return              # "保存していないシーンがあります。終了します。よろしいですか？"

status=0
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
wait "$app" || status=$?
app=
[ "$status" -eq 0 ] || fail "exit code $status, expected 0"

saved=$(cd "$out/saved" && ls)
[ "$saved" = "$(printf 'shot001.png\nshot002.png')" ] || fail "saved files: $saved"
# The paused window positions exactly (its default), as framora-grab does by default.
"$build/grab/framora-grab" --sub-file "$subtitles" "$movie" "$out/grab" 0 10000 >/dev/null ||
  fail "framora-grab failed"
"$build/grab/framora-grab" "$movie" "$out/plain" 0 >/dev/null || fail "framora-grab failed"
for pair in "shot001.png 0.bmp" "shot002.png 10000.bmp"; do
  read -r file grabbed <<<"$pair"
  head -c 8 "$out/saved/$file" | od -An -tx1 | grep -q "89 50 4e 47" || fail "$file is no PNG"
  difference=$("$build/tests/e2e/framora-e2e-helper" diff "$out/saved/$file" "$out/grab/$grabbed") ||
    fail "cannot compare $file"
  awk -v d="$difference" -v m="$max_difference" 'BEGIN { exit !(d <= m) }' ||
    fail "$file differs from the movie's picture by $difference"
  echo "e2e: $file matches the movie's picture (difference $difference)"
done
difference=$("$build/tests/e2e/framora-e2e-helper" diff "$out/saved/shot001.png" "$out/plain/0.bmp") ||
  fail "cannot compare shot001.png"
awk -v d="$difference" -v m="$least_subtitle_difference" 'BEGIN { exit !(d >= m) }' ||
  fail "shot001.png has no subtitle (difference $difference from the picture without)"
echo "e2e: shot001.png carries its subtitle (difference $difference from the picture without)"
# The saved picture says where it came from, as exiv2 shows it to anyone.
# Read whole first: grep -q stops reading at its match, and exiv2's broken pipe would fail the run.
metadata=$(exiv2 -px "$out/saved/shot002.png")
grep -Eq "^Xmp\.framora\.Position +XmpText +[0-9]+ +00:00:10\.000$" <<<"$metadata" ||
  fail "shot002.png does not name its position"
grep -Eq "^Xmp\.framora\.Movie +XmpText +[0-9]+ +$(basename "$movie")$" <<<"$metadata" ||
  fail "shot002.png does not name its movie"
echo "e2e: the saved pictures name their movie and position"
echo "e2e: passed; screenshot in $out/window.png"

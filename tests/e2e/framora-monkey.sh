#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A monkey for the window: the ASan+UBSan build of the real program under Xvfb, driven with
# random clicks on its controls and menus, random keys (its shortcuts and others), movies opened
# from a corpus of generated, damaged, cut, HDR and interlaced files, and its dialogs answered at
# random. Whenever the program leaves (its OK, Cancel or Exit) it is started again.
#
# Fails on a crash, a sanitizer report (a leak included: each normal exit is checked), a window
# thread that does not answer for 5 seconds, or one that stayed away longer than the absence
# limit (1 s) at any time: the longest absence the heartbeat measured is printed at the end.
# Prints the seed that replays the run (the same choices; the program's timing may still differ).
#   tests/e2e/framora-monkey.sh SECONDS [--seed N] [--build DIR] [--movies DIR] [--out DIR]
#                           [--absence-limit MS]
# DIR defaults: build-asan (made with -DFRAMORA_SANITIZE=ON when missing), build/fixtures, and
# build-asan/monkey.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

seconds=${1:?usage: framora-monkey.sh SECONDS [--seed N] [--build DIR] [--movies DIR] [--out DIR]}
shift
seed=$(( $(date +%s) % 32768 ))
build=$root/build-asan
movies=$root/build/fixtures
out=
# The longest the window thread may stay away from its events at any one time.
absence_limit_ms=1000
while [ $# -gt 0 ]; do
  case $1 in
    --seed) seed=$2; shift 2 ;;
    --build) build=$(realpath "$2"); shift 2 ;;
    --movies) movies=$(realpath "$2"); shift 2 ;;
    --out) out=$(realpath -m "$2"); shift 2 ;;
    --absence-limit) absence_limit_ms=$2; shift 2 ;;
    *) echo "framora-monkey: unknown argument $1" >&2; exit 2 ;;
  esac
done
out=${out:-$build/monkey}
# How long the window thread may stay away before the window counts as hung.
hang_ms=5000
# Time for the program to show its window, under the sanitizers on a busy machine.
start_timeout_s=60

if [ ! -x "$build/framora" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFRAMORA_SANITIZE=ON -DFRAMORA_BENCH=OFF >/dev/null
  cmake --build "$build" -j2 --target framora
fi
[ -d "$movies" ] && ls "$movies"/*.mp4 >/dev/null 2>&1 || { echo "framora-monkey: no movies in $movies" >&2; exit 2; }

echo "framora-monkey: seed $seed, $seconds s (replay: tests/e2e/framora-monkey.sh $seconds --seed $seed)"
RANDOM=$seed
rm -rf "$out"
mkdir -p "$out/corpus" "$out/saved" "$out/state" "$out/config" "$out/locks"

# ---- the corpus: the generated movies, a cut and a damaged copy of each, HDR and interlaced ones
for movie in "$movies"/*.{mp4,mkv,avi,vob,ts,m2ts,webm}; do
  [ -f "$movie" ] || continue
  name=$(basename "$movie")
  case $name in bench-*) continue ;; esac
  cp "$movie" "$out/corpus/$name"
  size=$(stat -c %s "$movie")
  head -c $(( size * (20 + RANDOM % 60) / 100 )) "$movie" >"$out/corpus/cut-$name"
  # Damaged: runs of bytes in the middle overwritten with the seed's noise.
  cp "$movie" "$out/corpus/damaged-$name"
  for _ in 1 2 3 4; do
    at=$(( size / 8 + (RANDOM * 32768 + RANDOM) % (size * 3 / 4 + 1) ))
    noise=$(for _ in $(seq 16); do printf '\\x%02x' $(( RANDOM % 256 )); done)
    printf "$noise" | dd of="$out/corpus/damaged-$name" bs=1 seek="$at" conv=notrunc status=none
  done
done
if command -v ffmpeg >/dev/null; then
  lavfi() { ffmpeg -nostdin -loglevel error -y -f lavfi -i "testsrc2=s=$1:r=25:d=4" "${@:2}"; }
  lavfi 320x240 -c:v libx265 -x265-params log-level=error -pix_fmt yuv420p10le -color_trc smpte2084 \
    -color_primaries bt2020 -colorspace bt2020nc "$out/corpus/hdr-pq.mkv" || true
  lavfi 320x240 -c:v libx265 -x265-params log-level=error -pix_fmt yuv420p10le -color_trc arib-std-b67 \
    -color_primaries bt2020 -colorspace bt2020nc "$out/corpus/hdr-hlg.mkv" || true
  lavfi 720x480 -c:v mpeg2video -flags +ilme+ildct -top 1 -vf setfield=tff "$out/corpus/interlaced-tff.mpg" || true
  lavfi 720x576 -c:v libx264 -flags +ilme+ildct -x264-params log-level=error:bff=1 -vf setfield=bff \
    "$out/corpus/interlaced-bff.mkv" || true
  for made in hdr-pq.mkv interlaced-tff.mpg; do
    [ -s "$out/corpus/$made" ] && head -c 30000 "$out/corpus/$made" >"$out/corpus/cut-$made"
  done
fi
corpus=()
for movie in "$out"/corpus/*; do [ -s "$movie" ] && corpus+=("$movie"); done
echo "framora-monkey: ${#corpus[@]} movies in the corpus"

# ---- the display
# shellcheck source=tests/e2e/lib/xsession.sh
source "$root/tests/e2e/lib/xsession.sh"
start_display 200
# xdotool never gets to hold the run up: a call that cannot finish (a pointer move or a focus
# change the server will not confirm) is given up after a few seconds.
xdo() { timeout 5 xdotool "$@" || true; }

# Not strict_string_checks: under X, libxkbcommon-x11 strndup()s names that are not
# NUL-terminated, which strndup allows; the ASan test run keeps the strict checks for our code.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export XDG_STATE_HOME=$out/state XDG_CONFIG_HOME=$out/config FRAMORA_LOCK_DIR=$out/locks QT_QPA_PLATFORM=xcb
log=$out/framora.log
heart=$out/heartbeat
runs=0
actions=0
# The longest absence of the window thread seen so far, over every run, and in which run.
longest_absence=0
longest_run=0
main_window=

fail() {
  echo "framora-monkey: FAILED: $*" >&2
  echo "framora-monkey: seed $seed (replay: tests/e2e/framora-monkey.sh $seconds --seed $seed)" >&2
  echo "--- program output (last 80 lines; all of it in $log)" >&2
  tail -n 80 "$log" >&2 || true
  exit 1
}
sanitizer_report() { grep -qE "ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:|SUMMARY: (Address|Undefined|Leak)" "$log"; }
now_ms() { date +%s%3N; }
# Sets $picked rather than printing it: a command substitution is a subshell, and bash seeds
# RANDOM afresh in each, so a choice made there would not replay from the seed.
pick() { local -n list=$1; picked=${list[RANDOM % ${#list[@]}]}; }

start() {
  runs=$((runs + 1))
  echo "=== run $runs" >>"$log"
  rm -f "$heart" "$out/layout"
  local movie
  pick corpus
  movie=$picked
  main_window=
  echo "framora-monkey: run $runs with $(basename "$movie")"
  # In its own folder: a name typed without one, or the stamp the save dialog proposes, lands there.
  (cd "$out/saved" && exec env FRAMORA_REPORT_LAYOUT=1 FRAMORA_HEARTBEAT="$heart" "$build/framora" "$movie") 2>>"$log" &
  app=$!
  local waited=0
  until grep -q "framora: layout reported" "$log" 2>/dev/null && [ "$(grep -c 'layout reported' "$log")" -ge "$runs" ]; do
    sleep 0.2
    waited=$((waited + 1))
    # The recovery question or a message about the movie may come before the layout.
    [ $((waited % 10)) -eq 0 ] && answer_dialog
    kill -0 "$app" 2>/dev/null || { check_end; return 0; }
    [ $waited -lt $((start_timeout_s * 5)) ] || fail "the window did not come up in $start_timeout_s s"
  done
  main_window=$(xdo search --onlyvisible --pid "$app" --name '^Framora$' | sort -n | head -n 1)
  # Widget places of this run: name x y w h.
  awk -v n="$runs" '/^=== run /{r++} r==n && /^framora: widget /{print $3, $4, $5, $6, $7}' "$log" >"$out/layout"
  mapfile -t widgets <"$out/layout"
}

# The program left on its own: a normal end must be clean, anything else is a crash.
check_end() {
  local status=0
  wait "$app" || status=$?
  app=
  sanitizer_report && fail "sanitizer report (run $runs)"
  # OK and 終了 leave with 0, キャンセル with 1; a sanitizer's abort or leak exit is anything else.
  [ "$status" -le 1 ] || fail "the program ended with status $status (run $runs)"
  # The program's own figure at its end also covers the time since the last look at the file.
  note_absence "$(awk -v n="$runs" '/^=== run /{r++} r==n && /^framora: longest absence /{print $4}' "$log" | tail -n 1)"
  echo "framora-monkey: run $runs ended normally"
}

# Keeps the longest absence of the window thread: $1 ms, in this run.
note_absence() {
  [ -n "$1" ] && [ "$1" -gt "$longest_absence" ] || return 0
  longest_absence=$1
  longest_run=$runs
}

# The window thread took events within the last hang_ms. The heartbeat file holds
# "<ms since the epoch> <longest absence ms>".
check_alive() {
  local beat= absence=
  for _ in $(seq 20); do
    read -r beat absence 2>/dev/null <"$heart" || true
    [ -n "$beat" ] && break
    sleep 0.25
  done
  [ -n "$beat" ] || fail "no heartbeat (run $runs)"
  [ $(( $(now_ms) - beat )) -le $hang_ms ] || fail "the window did not answer for $(( ($(now_ms) - beat) / 1000 )) s (run $runs)"
  note_absence "$absence"
}

# A window of the program other than the main one (a message box, a file or auto-capture dialog):
# a visible one with a title of its own. There is no window manager to ask which is active.
# Before the layout is reported the main window's id is not known yet, but a message about the
# movie may already stand over it: the newest window (the highest id) is the one that asks.
dialog_window() {
  local window name
  for window in $(xdo search --onlyvisible --pid "$app" 2>/dev/null | sort -rn || true); do
    name=$(xdo getwindowname "$window" 2>/dev/null || true)
    # Message boxes carry the window's caption too: the main window is told by its id.
    [ -n "$name" ] && [ "$window" != "$main_window" ] && { echo "$window"; return 0; }
  done
  return 1
}

answer_dialog() {
  local window title
  window=$(dialog_window) || return 0
  title=$(xdo getwindowname "$window" 2>/dev/null || true)
  xdo windowfocus "$window" 2>/dev/null || true
  case $title in
    動画ファイルの選択*)
      # The open dialog: another movie of the corpus, or nothing.
      if [ $((RANDOM % 4)) -ne 0 ]; then
        pick corpus
        xdo key --clearmodifiers ctrl+a; xdo type --delay 5 "$picked"; xdo key Return
      else
        xdo key Escape
      fi ;;
    キャプチャイメージの保存*)
      local formats=(png jpg bmp webp tif)
      pick formats
      xdo key --clearmodifiers ctrl+a; xdo type --delay 5 "$out/saved/s$RANDOM.$picked"
      xdo key Return ;;
    *)
      local answers=(Return Return Escape Tab+Return space Right+Return)
      pick answers
      xdo key --clearmodifiers ${picked//+/ } ;;
  esac
  actions=$((actions + 1))
}

click_widget() {
  local x y w h
  pick widgets
  read -r _ x y w h <<<"$picked"
  [ -n "$h" ] && [ "$w" -gt 0 ] && [ "$h" -gt 0 ] || return 0
  xdo mousemove $((x + RANDOM % w)) $((y + RANDOM % h)) click 1
}

click_menu() {
  # The menu bar, then an item of the menu it opened (or a miss, which closes it).
  local bar
  bar=$(grep '^MainMenu1 ' "$out/layout" | head -n 1 || true)
  [ -n "$bar" ] || return 0
  local x y w h
  read -r _ x y w h <<<"$bar"
  xdo mousemove $((x + RANDOM % (w < 300 ? w : 300))) $((y + h / 2)) click 1
  sleep 0.3
  xdo mousemove_relative -- $((RANDOM % 40 - 20)) $((20 + RANDOM % 200)) click 1
}

keys=(space Home Left Right comma period c Insert Delete ctrl+s ctrl+o ctrl+c F1 Return Escape Tab
      Up Down Page_Up Page_Down End a x 1 alt+s alt+a shift+Right ctrl+z BackSpace)
press_key() { pick keys; xdo key --clearmodifiers "$picked"; }

# ---- the run
: >"$log"
deadline=$(( $(date +%s) + seconds ))
start
while [ "$(date +%s)" -lt "$deadline" ]; do
  if [ -z "$app" ] || ! kill -0 "$app" 2>/dev/null; then
    [ -n "$app" ] && check_end
    start
    continue
  fi
  sanitizer_report && fail "sanitizer report (run $runs)"
  check_alive
  if dialog_window >/dev/null; then
    answer_dialog
  else
    case $((RANDOM % 10)) in
      0|1|2|3) click_widget ;;
      4) click_menu ;;
      *) press_key ;;
    esac
    actions=$((actions + 1))
  fi
  sleep 0.$((1 + RANDOM % 4))
done

# ---- a normal end: Escape closes what is open, Cancel asks to leave and the question is
# answered yes; then the leak check at exit
if [ -n "$app" ] && kill -0 "$app" 2>/dev/null; then
  check_alive
  for attempt in $(seq 40); do
    kill -0 "$app" 2>/dev/null || break
    if window=$(dialog_window); then
      xdo windowfocus "$window"
      # A question to leave is answered yes; anything else is closed.
      case $(xdo getwindowname "$window") in
        Framora) xdo key --clearmodifiers Return ;;
        *) xdo key --clearmodifiers $([ $((attempt % 2)) -eq 0 ] && echo Return || echo Escape) ;;
      esac
    else
      xdo key --clearmodifiers Escape
      line=$(grep '^btnCancel ' "$out/layout" | head -n 1 || true)
      if [ -n "$line" ]; then
        read -r _ x y w h <<<"$line"
        xdo mousemove $((x + w / 2)) $((y + h / 2)) click 1
      fi
    fi
    sleep 0.7
  done
  if kill -0 "$app" 2>/dev/null; then
    # Still answering but not gone (a state the scripted answers above do not lead out of): not
    # a fault the monkey looks for. It is ended by a signal, which skips the leak check of this
    # run only; what is open is printed for a look.
    check_alive
    echo "framora-monkey: run $runs did not end when asked; ended by SIGTERM. Its windows:"
    for window in $(xdo search --onlyvisible --pid "$app" 2>/dev/null || true); do
      echo "  $window $(xdo getwindowname "$window" 2>/dev/null || true)"
    done
    kill -TERM "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
    app=
    sanitizer_report && fail "sanitizer report (run $runs)"
  else
    check_end
  fi
fi
echo "framora-monkey: longest absence of the window thread: $longest_absence ms (run $longest_run)"
[ "$longest_absence" -le "$absence_limit_ms" ] \
  || fail "the window thread stayed away $longest_absence ms (run $longest_run), more than $absence_limit_ms ms"
echo "framora-monkey: passed: $runs runs, $actions actions in $seconds s, seed $seed"

# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the scripts that work the real program under Xvfb: a display of their own, the
# program and the display ended however the script ends, and the steps of a scripted user who
# finds each widget at the place the program reports for it (FRAMORA_REPORT_LAYOUT=1) in $log.
# The sourcing script defines fail MESSAGE, sets $app to the program's pid while it runs, and
# sets $log before the first step.

app=

# Starts Xvfb on a display of this shell's own (SLOT keeps scripts started from one shell
# apart) and waits until it answers.
start_display() {
  display=":$((100 + ($$ + $1) % 400))"
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  trap stop_display EXIT
  export DISPLAY=$display
  for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
}

stop_display() {
  [ -n "$app" ] && kill -9 "$app" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
}

# Waits (up to about 20 s) until the program has reported a line matching $1.
wait_for() { for _ in $(seq 200); do grep -q "$1" "$log" && return 0; sleep 0.1; done; fail "no '$1'"; }
# Lets the program take in what was just done (an idle moment refreshes its commands).
settle() { sleep "${1:-0.6}"; }
# Clicks the middle of the widget named $1, at the place the program reported for it.
click() {
  local geometry
  geometry=$(sed -n "s/^framora: widget $1 \(-\?[0-9]*\) \(-\?[0-9]*\) \([0-9]*\) \([0-9]*\)$/\1 \2 \3 \4/p" \
    "$log" | tail -n 1)
  [ -n "$geometry" ] || fail "no place reported for $1"
  read -r x y w h <<<"$geometry"
  xdotool mousemove --sync $((x + w / 2)) $((y + h / 2)) click 1
  settle
}
# Waits (up to about 20 s) until a window titled $1 is on screen; it has the keyboard then.
wait_window() {
  for _ in $(seq 200); do xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 && { settle; return 0; }; sleep 0.1; done
  fail "no window '$1'"
}
# Answers the message box (or dialog) that has the keyboard with key $1.
press() { settle; xdotool key --clearmodifiers "$1"; settle; }

# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the scripts that watch the real program's window thread through its heartbeat file
# (FRAMORA_HEARTBEAT_FILE: the last beat's time and the longest absence, in ms). The sourcing
# script defines fail MESSAGE and sets $app (the program's pid), $heart (the file),
# $answering_ms (how fresh a beat must be to count) and $hang_s (longer without an answer is a
# hang).

now_ms() { date +%s%3N; }

# Returns while the program runs; fails when it has ended.
alive() {
  kill -0 "$app" 2>/dev/null && return 0
  local status=0
  wait "$app" || status=$?
  app=
  fail "the program ended (exit $status)"
}

# Sets beat and absence from the heartbeat file; empty when it is not there.
read_heart() { beat=; absence=; read -r beat absence 2>/dev/null <"$heart" || true; }

# Waits until the window thread answers again: a beat fresher than answering_ms, twice running;
# more than hang_s from $1 (ms since the epoch) is a hang.
wait_answering() {
  local fresh=0 since=$1
  while [ "$fresh" -lt 2 ]; do
    alive
    read_heart
    if [ -n "$beat" ] && [ $(( $(now_ms) - beat )) -le "$answering_ms" ]; then
      fresh=$((fresh + 1))
    else
      fresh=0
    fi
    [ $(( $(now_ms) - since )) -le $((hang_s * 1000)) ] || fail "the window did not answer for $hang_s s"
    sleep 0.05
  done
}

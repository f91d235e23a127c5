#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Opens a movie in the real Framora window, lets it play for a second and saves a PNG picture of
# the whole window (menu bar and status line included), so anyone can see what a user sees.
#
#   tools/framora-screenshot.sh MOVIE OUTPUT.png [BUILD_DIR]
#
# BUILD_DIR defaults to ./build; the framora target is built there when missing. The window runs
# on a virtual X server (xvfb-run) when one is installed, else on Qt's offscreen platform;
# FRAMORA_SCREENSHOT_PLATFORM=offscreen forces the latter. FRAMORA_GRAB_AFTER_MS changes how long
# the movie plays before the picture is taken (default 1000). The program's message boxes are
# answered with OK and echoed on stderr, and its single-instance guard lives in a folder of its
# own, so a Framora already running does not stop the screenshot.
set -euo pipefail

if [[ $# -lt 2 || $# -gt 3 ]]; then
    echo "usage: $0 MOVIE OUTPUT.png [BUILD_DIR]" >&2
    exit 2
fi
movie=$(realpath "$1")
output=$(realpath -m "$2")
build=${3:-build}
cd "$(dirname "$0")/.."

if [[ ! -f "$movie" ]]; then
    echo "$0: no movie at $movie" >&2
    exit 2
fi
if [[ ! -x "$build/framora" ]]; then
    cmake -S . -B "$build" -G Ninja >/dev/null
    cmake --build "$build" -j2 --target framora
fi

locks=$(mktemp -d)
trap 'rm -rf "$locks"' EXIT
export FRAMORA_LOCK_DIR=$locks
export FRAMORA_ANSWER_BOXES=1
export FRAMORA_GRAB=$output
export FRAMORA_GRAB_AFTER_MS=${FRAMORA_GRAB_AFTER_MS:-1000}

if [[ ${FRAMORA_SCREENSHOT_PLATFORM:-} != offscreen ]] && command -v xvfb-run >/dev/null; then
    xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb "$build/framora" "$movie"
else
    QT_QPA_PLATFORM=offscreen "$build/framora" "$movie"
fi
echo "$output"

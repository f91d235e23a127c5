#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs, builds and runs every test: a normal build, an ASan+UBSan build, and a short run of
# each libFuzzer target. FUZZ_SECONDS sets how long each fuzzer runs (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash tools/install-deps.sh
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

# Each stage says how long the one before it took, and the run ends with the whole time: the
# command has to stay under 45 minutes on an idle 2-core machine.
run_started=$SECONDS
stage_started=$SECONDS
stage_name=
stage() {
  [ -z "$stage_name" ] || echo "-- $stage_name took $(( SECONDS - stage_started )) s"
  stage_name=$1
  stage_started=$SECONDS
  echo "== $1"
}

stage "build and test (RelWithDebInfo)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
passed=0
# Runs one ctest stage and adds its count to the closing line.
run_ctest() {
  local log count
  log=$(mktemp)
  ctest --test-dir "$1" --output-on-failure -j"$jobs" | tee "$log"
  count=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  passed=$(( passed + ${count:-0} ))
  rm -f "$log"
}
run_ctest build

stage "layers: every include points down"
bash tests/e2e/check-layers.sh
passed=$(( passed + 1 ))

stage "English translation: every text the program shows is translated"
bash tests/e2e/check-translations.sh
passed=$(( passed + 1 ))

stage "licence: every source file carries its SPDX line"
bash tests/e2e/check-spdx.sh
passed=$(( passed + 1 ))

stage "end to end: the program under a virtual X server, worked with mouse and keyboard"
for language in ja en; do
  echo "-- LANGUAGE=$language"
  LANGUAGE=$language bash tests/e2e/framora-e2e.sh build build/fixtures/sample.mp4 "build/e2e-$language"
  passed=$(( passed + 1 ))
done
stage "end to end on movies of real shapes: opened, stepped, captured, closed"
bash tests/e2e/framora-shapes-e2e.sh build
passed=$(( passed + 1 ))
stage "scenes survive a kill: three captures, kill -9, a new start answered yes"
bash tests/e2e/framora-recovery-e2e.sh build
passed=$(( passed + 1 ))
stage "the sharpest still: on a blurred picture, Shift+C stores and saves the sharp one beside it"
bash tests/e2e/framora-sharpest-e2e.sh build
passed=$(( passed + 1 ))
stage "pictures on the position bar: hovered, swept, then a click, Ctrl+G and a capture"
bash tests/e2e/framora-barpictures-e2e.sh build
passed=$(( passed + 1 ))

stage "install into a temporary prefix; the desktop entry, the metainfo and the user's guide pass their checks"
prefix=$(mktemp -d)
cmake --install build --prefix "$prefix" >/dev/null
for installed in bin/framora bin/framora-grab share/applications/org.framora.Framora.desktop \
                 share/metainfo/org.framora.Framora.metainfo.xml \
                 share/icons/hicolor/scalable/apps/org.framora.Framora.svg \
                 share/icons/hicolor/48x48/apps/org.framora.Framora.png \
                 share/icons/hicolor/256x256/apps/org.framora.Framora.png \
                 share/doc/framora/LICENSE share/doc/framora/guide/ja/index.html \
                 share/doc/framora/guide/en/index.html share/bash-completion/completions/framora; do
  test -f "$prefix/$installed" || { echo "not installed: $installed"; exit 1; }
done
"$prefix/bin/framora-grab" --version
desktop-file-validate "$prefix/share/applications/org.framora.Framora.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/org.framora.Framora.metainfo.xml"
bash tests/e2e/check-guide.sh "$prefix/share/doc/framora/guide"
rm -rf "$prefix"
passed=$(( passed + 1 ))

stage "manual pages: groff has no warning for them"
for page in build/man/*.1; do
  warnings=$(LC_ALL=C.UTF-8 groff -man -ww -z "$page" 2>&1)
  [ -z "$warnings" ] || { echo "$page:"; echo "$warnings"; exit 1; }
done
passed=$(( passed + 1 ))

stage "bash completion of framora-grab"
bash tests/e2e/check-completion.sh
passed=$(( passed + 1 ))

stage "options: each program's --help, its manual page and its completion name the same options"
bash tests/e2e/check-options.sh build
passed=$(( passed + 1 ))

stage "Debian package: built, lintian finds no error, installed, run from /usr/bin, removed"
bash tests/e2e/check-package.sh build
passed=$(( passed + 1 ))

stage "build and test under AddressSanitizer + UndefinedBehaviorSanitizer"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFRAMORA_SANITIZE=ON -DFRAMORA_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
run_ctest build-asan

stage "monkey: the sanitizer build of the program under random input for 60 s (fixed seed)"
bash tests/e2e/framora-monkey.sh 60 --seed 4242 --build build-asan --movies build/fixtures
passed=$(( passed + 1 ))

stage "fuzz (libFuzzer, ${FUZZ_SECONDS:-20} s each)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DFRAMORA_FUZZ=ON -DFRAMORA_TESTS=OFF -DFRAMORA_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$jobs"
shopt -s nullglob
for fuzzer in build-fuzz/tests/fuzz_*; do
  [ -f "$fuzzer" ] && [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  corpus=build-fuzz/corpus/$name
  mkdir -p "$corpus"
  # Seeds: small files committed under tests/fuzz/seeds/<name>, and any the movie generator wrote.
  for seeds in tests/fuzz/seeds/$name build-fuzz/fixtures/fuzz-seeds/$name; do
    [ -d "$seeds" ] && cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true
  done
  echo "-- $name"
  log=build-fuzz/$name.log
  status=0
  "$fuzzer" "$corpus" -max_total_time="${FUZZ_SECONDS:-20}" -timeout=30 -rss_limit_mb=4096 \
    -print_final_stats=1 >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    # The whole report: where it failed is above the statistics, not in the last lines.
    echo "-- $name failed with status $status; its report without the progress lines:"
    grep -Ev '^#[0-9]+[[:space:]]+(NEW|REDUCE|pulse|INITED|RELOAD)' "$log" | tail -n 300
    exit 1
  fi
  tail -n 12 "$log"
  passed=$(( passed + 1 ))
done
echo "-- $stage_name took $(( SECONDS - stage_started )) s"
echo "all test stages passed (tests of both builds and the fuzzers) in $(( SECONDS - run_started )) s"
echo "total: $passed passed, 0 failed"

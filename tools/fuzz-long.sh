#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs every libFuzzer target for SECONDS, all side by side at the lowest priority, each on a
# corpus kept between runs (FRAMORA_FUZZ_CORPUS, default build-fuzz/corpus-long/<target>) and
# fed with the committed seeds. Not part of CI. Per target it reports executions, rate,
# coverage (cov/ft), peak memory and findings; inputs that crash land in
# build-fuzz/findings/<target>/. Exit status 1 when any target found something.
#   tools/fuzz-long.sh SECONDS [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:?usage: fuzz-long.sh SECONDS [TARGET...]}
shift
kept=${FRAMORA_FUZZ_CORPUS:-$root/build-fuzz/corpus-long}

if [ ! -d build-fuzz ]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DFRAMORA_FUZZ=ON -DFRAMORA_TESTS=OFF -DFRAMORA_BENCH=OFF >/dev/null
fi
cmake --build build-fuzz -j2

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for fuzzer in build-fuzz/tests/fuzz_*; do
    [ -f "$fuzzer" ] && [ -x "$fuzzer" ] && targets+=("$(basename "$fuzzer")")
  done
fi

# A smaller quarantine keeps each target's memory in bounds over hours; use-after-free is still
# caught for the most recent 64 MB freed.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=64"
pids=()
for name in "${targets[@]}"; do
  corpus=$kept/$name
  findings=build-fuzz/findings/$name
  mkdir -p "$corpus" "$findings"
  for seeds in tests/fuzz/seeds/$name build-fuzz/fixtures/fuzz-seeds/$name; do
    [ -d "$seeds" ] && cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true
  done
  # Memory per input: the decoder's target must stay well under this; the others far under.
  nice -n 19 "build-fuzz/tests/$name" "$corpus" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/" -close_fd_mask=1 \
    >"build-fuzz/findings/$name.log" 2>&1 &
  pids+=($!)
done

found=0
for i in "${!targets[@]}"; do
  name=${targets[$i]}
  status=0
  wait "${pids[$i]}" || status=$?
  log=build-fuzz/findings/$name.log
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -n 1)
  cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -n 1)
  artifacts=$(find "build-fuzz/findings/$name" -type f | wc -l)
  echo "$name: ${execs:-?} executions, ${rate:-?}/s, ${cov:-cov ?}, peak ${rss:-?} MB, corpus $(ls "$kept/$name" | wc -l), findings $artifacts, status $status"
  if [ "$status" -ne 0 ] || [ "$artifacts" -gt 0 ]; then
    found=1
    grep -E "^==[0-9]+==ERROR|SUMMARY|runtime error|Test unit written" "$log" | head -n 5 | sed 's/^/  /'
  fi
done
exit $found

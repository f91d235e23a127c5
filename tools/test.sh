#!/usr/bin/env bash
# Installs, builds and runs every test: a normal build, an ASan+UBSan build, and a short run of
# each libFuzzer target. FUZZ_SECONDS sets how long each fuzzer runs (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash tools/install-deps.sh
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

echo "== build and test (RelWithDebInfo)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== build and test under AddressSanitizer + UndefinedBehaviorSanitizer"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFRAMORA_SANITIZE=ON -DFRAMORA_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== fuzz (libFuzzer, ${FUZZ_SECONDS:-20} s each)"
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
  "$fuzzer" "$corpus" -max_total_time="${FUZZ_SECONDS:-20}" -timeout=30 -rss_limit_mb=4096 \
    -print_final_stats=1 2>&1 | tail -n 12
  test "${PIPESTATUS[0]}" -eq 0
done
echo "all test stages passed"

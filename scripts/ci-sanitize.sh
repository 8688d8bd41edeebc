#!/usr/bin/env bash
# CI stage after the plain suite: one clang build with AddressSanitizer,
# UndefinedBehaviorSanitizer and the libFuzzer targets (build-san/). It runs
# under the sanitizers every test whose code they can watch (unit and
# end-to-end tests; the install layout and the ldd checks are scripts over
# files the plain stage has checked already), then every fuzz target the build
# made for ZQ_FUZZ_SECONDS (default 20) seconds on its checked-in seeds plus the
# generated assets of its kind, two targets at a time. Any failure fails the
# stage. LeakSanitizer is off for the tests that open GL windows (Mesa's driver
# leaks per context); it stays on everywhere else, fuzzers included.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-san
seconds="${ZQ_FUZZ_SECONDS:-20}"
generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi

# The sanitizers' reports need only line tables: without full debug information
# a file compiles in about half the time (routes.cpp: 32 s against 59 s).
san_flags="-O2 -gline-tables-only"

stage_start=$SECONDS
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZQ_WERROR=ON -DZQ_SANITIZE=ON -DZQ_FUZZ=ON -DZQ_BUILD_TESTS=ON -DZQ_BUILD_BENCH=OFF \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$san_flags" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=$san_flags"
fi
cmake --build "$build" -j 2
echo "ci-sanitize: build took $((SECONDS - stage_start)) s"

# Errors the sanitizers find stop the process; the exit status fails ctest.
export ASAN_OPTIONS="abort_on_error=0:detect_stack_use_after_return=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
tests_start=$SECONDS
# The end-to-end tests drive the real program with timed input and wait on
# what it shows, not on the clock: under the sanitizers they run two at a time,
# after the rest.
not_watched="no_desktop_libraries"
ctest --test-dir "$build" -j 2 --output-on-failure --timeout 900 -LE "e2e|install" -E "$not_watched"
ctest --test-dir "$build" -j 2 --output-on-failure --timeout 900 -L e2e
echo "ci-sanitize: tests took $((SECONDS - tests_start)) s"

# Generated assets of the kind a target reads (by the target's name).
assets_for() {
  local files="$build/dist/Files"
  case "$1" in
    fuzz_png) find "$files" -name '*.png' -size -1024k ;;
    fuzz_wav) find "$files" -name '*.wav' -size -1024k ;;
    fuzz_ogg) find "$files" -name '*.ogg' -size -4096k ;;
    fuzz_font) find "$files" -name '*.ttf' ;;
    *) ;;
  esac
}

fuzz_start=$SECONDS
root="$PWD"
artifacts="$root/$build/fuzz-artifacts"
mkdir -p "$artifacts"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
# Runs one target on its corpus; prints its line and keeps its log.
fuzz_one() {
  local target=$1 name corpus log
  name="$(basename "$target")"
  corpus="$scratch/$name"
  mkdir -p "$corpus"
  if [ -d "fuzz/corpus/$name" ]; then cp -r "fuzz/corpus/$name"/. "$corpus"/; fi
  while IFS= read -r asset; do
    cp "$asset" "$corpus/$(basename "$asset" | tr ' ' '_')"
  done < <(assets_for "$name")
  log="$scratch/$name.log"
  # Whole music tracks and large pictures decode slowly under the sanitizers:
  # their first 64 KiB keep the decoders busy with many more inputs per second.
  # Fonts stay whole; cut ones mostly fail at their table directory.
  local max_len=()
  case "$name" in fuzz_png | fuzz_wav | fuzz_ogg) max_len=(-max_len=65536) ;; esac
  if "$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
      "${max_len[@]}" -artifact_prefix="$artifacts/$name-" "$corpus" >"$log" 2>&1; then
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    echo "ci-sanitize: $name passed, ${runs:-?} runs in $seconds s"
  else
    echo "ci-sanitize: $name FAILED (input kept in $artifacts):"
    tail -n 60 "$log"
    return 1
  fi
}

# Two targets at a time, one a core.
failed=0
found=0
running=0
for target in "$root/$build"/fuzz/fuzz_*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  found=$((found + 1))
  if [ "$running" -ge 2 ]; then
    wait -n || failed=$((failed + 1))
    running=$((running - 1))
  fi
  fuzz_one "$target" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=$((failed + 1))
  running=$((running - 1))
done
echo "ci-sanitize: fuzzing took $((SECONDS - fuzz_start)) s"
if [ "$found" -eq 0 ]; then
  echo "ci-sanitize: no fuzz targets were built"
  exit 1
fi
if [ "$failed" -ne 0 ]; then
  echo "ci-sanitize: $failed of $found fuzz targets failed"
  exit 1
fi
echo "ci-sanitize: all $found fuzz targets passed; stage took $((SECONDS - stage_start)) s"

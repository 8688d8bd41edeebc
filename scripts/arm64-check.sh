#!/usr/bin/env bash
# Cross-builds the replay checker for arm64 (a processor with fused multiply-add) and runs it
# under qemu on the replay files given (default: the golden replays), then compares its lines
# with the native checker's. Not part of the tests or CI: a check by hand of the claim that the
# rules give the same bits on every machine. The arm64 build takes the media core's portable
# platform folder (engine/media/browser/: the program's own zlib reader, no PNG or font
# decoding), so it needs no arm64 libraries, only Debian's cross compiler and qemu.
# Usage: scripts/arm64-check.sh [--fused] [FILE...]
#   --fused  also lets the compiler fuse multiply and add (as arm64 compilers do by default), to
#            show what the project's -ffp-contract=off prevents.
set -euo pipefail
cd "$(dirname "$0")/.."

contract=off
if [ "${1:-}" = "--fused" ]; then
  contract=fast
  shift
fi
files=("$@")
if [ ${#files[@]} -eq 0 ]; then
  files=(tests/data/replays/*.zqr)
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
for p in g++-aarch64-linux-gnu qemu-user-static; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    $SUDO apt-get install -y -qq --no-install-recommends "$p"
  fi
done

out=build/arm64
mkdir -p "$out/obj"
sources=(engine/media/*.cpp engine/media/browser/*.cpp engine/*.cpp scores/fields/*.cpp
         scores/*.cpp game/*.cpp checker/main.cpp)
objects=()
for src in "${sources[@]}"; do
  objects+=("$out/obj/$(echo "$src" | tr / _).o")
done
for src in "${sources[@]}"; do
  obj="$out/obj/$(echo "$src" | tr / _).o"
  if [ ! -e "$obj" ] || [ "$src" -nt "$obj" ] || [ "$0" -nt "$obj" ] ||
     [ "$(cat "$out/contract" 2>/dev/null)" != "$contract" ]; then
    echo "$src"
  fi
done | xargs -r -P 2 -I{} sh -c \
  'aarch64-linux-gnu-g++ -std=c++20 -O2 -ffp-contract='"$contract"' -w -I. -c {} -o '"$out"'/obj/$(echo {} | tr / _).o'
echo "$contract" > "$out/contract"
aarch64-linux-gnu-g++ -static -o "$out/zq_replay_checks" "${objects[@]}" -lpthread

if [ ! -x build/checker/zq_replay_checks ]; then
  echo "arm64-check: build the native checker first (cmake --build build)" >&2
  exit 2
fi
build/checker/zq_replay_checks "${files[@]}" > "$out/native.txt" || true
qemu-aarch64-static "$out/zq_replay_checks" "${files[@]}" > "$out/arm64.txt" || true
same=$(diff <(cut -d' ' -f2- "$out/native.txt") <(cut -d' ' -f2- "$out/arm64.txt") | grep -c '^<' || true)
echo "arm64-check: ${#files[@]} files, contraction $contract: $(( ${#files[@]} - same )) lines the same," \
     "$same differ (native: $out/native.txt, arm64: $out/arm64.txt)"
[ "$same" -eq 0 ]

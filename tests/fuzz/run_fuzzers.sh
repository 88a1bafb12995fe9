#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a short while
# (FUZZ_SECONDS each, 10 by default, so that CI stays within minutes).
# Each tests/fuzz/fuzz_<name>.cpp is a target; tests/fuzz/corpus/<name>/ holds
# its seed inputs when present. A target's inputs may grow to its largest
# seed and a quarter more (at least 4096 bytes), so that whole files, such as
# MCD files of some 30 KB, reach the reader whole and mutations can add to them.
# FUZZ_BUILD names a build folder already configured by clang with
# KELVARON_FUZZ=ON and KELVARON_TESTS=ON (CI's sanitizer build) to build the
# targets in; without it they are built in build-fuzz.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${FUZZ_SECONDS:-10}
shopt -s nullglob
targets=(tests/fuzz/fuzz_*.cpp)
[ ${#targets[@]} -gt 0 ] || exit 0
# libFuzzer comes with clang and its runtime (Debian's clang and libclang-rt-14-dev).
if ! command -v clang++ >/dev/null 2>&1; then
  apt-get update -qq && apt-get install -y -qq clang libclang-rt-14-dev >/dev/null
fi
build=${FUZZ_BUILD:-build-fuzz}
if [ -z "${FUZZ_BUILD:-}" ]; then
  CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVARON_FUZZ=ON \
    -DKELVARON_TESTS=ON -DKELVARON_TRACE_TESTS=OFF >/dev/null
fi
for src in "${targets[@]}"; do
  name=$(basename "$src" .cpp)
  cmake --build "$build" -j"$(nproc)" --target "$name" >/dev/null
  seeds=()
  corpus="tests/fuzz/corpus/${name#fuzz_}"
  work=$(mktemp -d)
  max_len=4096
  if [ -d "$corpus" ]; then
    cp -R "$corpus/." "$work/"
    largest=$(find "$corpus" -type f -printf '%s\n' | sort -n | tail -1)
    largest=$(( ${largest:-0} + ${largest:-0} / 4 ))
    [ "$largest" -gt "$max_len" ] && max_len=$largest
  fi
  echo "fuzzing $name for ${seconds}s, inputs up to $max_len bytes"
  ( cd "$build" && "tests/$name" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 "$work" 2>&1 | tail -3 )
  rm -rf "$work"
done

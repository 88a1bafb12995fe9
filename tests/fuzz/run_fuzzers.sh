#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a short while.
# Each tests/fuzz/fuzz_<name>.cpp is a target; tests/fuzz/corpus/<name>/ holds
# its seed inputs when present.
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
CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVARON_FUZZ=ON >/dev/null
for src in "${targets[@]}"; do
  name=$(basename "$src" .cpp)
  cmake --build build-fuzz -j"$(nproc)" --target "$name" >/dev/null
  seeds=()
  corpus="tests/fuzz/corpus/${name#fuzz_}"
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -R "$corpus/." "$work/"
  echo "fuzzing $name for ${seconds}s"
  ( cd build-fuzz && "tests/$name" -max_total_time="$seconds" -max_len=4096 -timeout=10 "$work" 2>&1 | tail -3 )
  rm -rf "$work"
done

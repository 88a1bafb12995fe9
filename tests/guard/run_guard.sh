#!/usr/bin/env bash
# Posts one fixed job (lines, arcs, drilling and tapping cycles, two tools,
# feeds, spindle, coolant, dwell, stops, a tape split) with every built-in
# control that "kelvaron -l" lists, and compares the files each run writes
# (tapes, print file, setup file), its exit code and its error lines with the
# files under expected/<control>/ (a control that asks for a program number
# gets 1234 from the file stdin). It guards against output that changes unnoticed, for
# example while the record loop or the writer is made faster.
#
# A change of output that is meant (an engine fix, a rewritten built-in list)
# rewrites the expected files with one command, from the build folder:
#   KELVARON_UPDATE=1 ctest --test-dir build -R guard
# then check the rewritten files with git diff before committing them.
# With KELVARON_LOOP_STRIDE set (CI sets it for the sanitizer build), every
# STRIDE-th control is posted only (all of them when rewriting).
set -u
exe=$1
here=$(cd "$(dirname "$0")" && pwd)
expected_root="$here/expected"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

controls=$(env -u KELVARON HOME="$tmp" "$exe" -l 2>/dev/null </dev/null | tr -d '\r')
count=$(printf '%s\n' "$controls" | grep -c .)
if [ "$count" -ne 60 ]; then
  echo "kelvaron -l listed $count controls, expected 60"; exit 1
fi

# post CONTROL CUTFILE DIR: runs kelvaron in DIR on a copy of CUTFILE named
# job.cut and leaves there the files the run writes, its exit code (exit) and
# the error lines of its standard error (errors, when there are any).
post() {
  local run=$3
  mkdir -p "$run"
  cp "$2" "$run/job.cut"
  ( cd "$run" && env -u KELVARON -u QLOR_ASSERT HOME="$work/home" LC_ALL=C TZ=UTC \
      SOURCE_DATE_EPOCH=1767225600 KELVARON_USER=tester \
      timeout 60 "$exe" "$1" job.cut -p < "$here/stdin" > /dev/null 2> "$work/stderr" )
  echo $? > "$run/exit"
  rm -f "$run/job.cut"
  # The record of a split's set of tapes notes when each was written: the
  # outputs cases check it, it is not compared here.
  rm -f "$run/"*.kelvaron-set
  grep '^Error' "$work/stderr" > "$run/errors" || rm -f "$run/errors"
}

update=${KELVARON_UPDATE:-0}
stride=${KELVARON_LOOP_STRIDE:-1}
[ "$update" = 1 ] && stride=1
fail=0
index=0
posted=0
for control in $controls; do
  index=$((index + 1))
  [ $(( (index - 1) % stride )) -eq 0 ] || continue
  posted=$((posted + 1))
  work="$tmp/$control"
  mkdir -p "$work/home" "$work/run"
  post "$control" "$here/job.cut" "$work/run"
  # A control that stops at the job's holes (a lathe at holes off its spindle
  # axis, a wire control at a tap) still has its tape guarded: it posts the
  # same job without its cycle records as well, into flat/.
  if [ "$(cat "$work/run/exit")" != 0 ]; then
    post "$control" "$here/flat.cut" "$work/run/flat"
  fi
  exp="$expected_root/$control"
  if [ "$update" = 1 ]; then
    rm -rf "$exp"
    mkdir -p "$exp"
    cp "$work/run/." "$exp/" -R
    continue
  fi
  if [ ! -d "$exp" ]; then
    echo "$control: no expected files (run with KELVARON_UPDATE=1 to write them)"; fail=1; continue
  fi
  if ! diff -r "$exp" "$work/run" > "$work/diff"; then
    echo "$control: output differs (expected, actual):"; head -40 "$work/diff"; fail=1
  fi
done
if [ "$update" = 1 ]; then
  echo "guard: expected files of $count controls rewritten"
  exit 0
fi
[ "$fail" = 0 ] && echo "guard: $posted of $count controls posted, each matches its expected files"
exit $fail

#!/usr/bin/env bash
# Round trips of whole controls through the files the program writes:
#   text  every built-in control, and each control under controls/, written
#         as option-file text ("-w") and compiled back over the same machine
#         definition gives the same difference dump ("-f");
#   mcd   every built-in control written as an MCD file ("-x") under its own
#         name and read back in place of the built-in list gives the same
#         difference dump, but for the cldat blocks, whose record codes the
#         MCD file does not hold, and for the word names that end in "_",
#         which the MCD reader gives back without it.
# Usage: controls_roundtrip.sh KELVARON [SHARD SHARDS]: with SHARD and SHARDS
# only every SHARDS-th built-in control from the SHARD-th on (1-based), and the
# controls under controls/ only in shard 1, so that the shards run side by side.
# With KELVARON_LOOP_STRIDE set, a shard takes every STRIDE-th of its built-in
# controls only (CI sets it for the sanitizer build, whose runs are many times
# slower); the controls under controls/ are always taken.
set -u
exe=$1
shard=${2:-1}
shards=${3:-1}
stride=${KELVARON_LOOP_STRIDE:-1}
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

run() {  # run FOLDER ARGS...: kelvaron in FOLDER, standard output only
  (cd "$1" && shift && env -u KELVARON -u QLOR_ASSERT HOME="$tmp" LC_ALL=C timeout 60 "$exe" "$@" < /dev/null 2> /dev/null)
}

# "-f" presets the machine name before the control is loaded; a control that
# never sets it shows that text, while the text written by a "-w" run names
# the machine name such a run has. That one line may be missing after the
# round trip.
without_preset_machine_name() {
  grep -v "^      spchar(  2) = 'Version 1.200'\$" "$1"
}

# The words 39 to 62 of deckel3 repeat the names of default words (N, X, Y,
# ...): a name in option-file text always finds the first word of that name,
# so no text can address the later ones, and its text dump is not compared.
NOT_TEXT_EXPRESSIBLE=" deckel3 "

fail=0
checked=0
names=$(run "$tmp" -l)
[ -n "$names" ] || { echo "no built-in controls listed"; exit 1; }

compare() {  # compare LABEL EXPECTED ACTUAL
  checked=$((checked + 1))
  if ! cmp -s "$2" "$3"; then
    echo "$1: difference dump changed by the round trip (original, read back):"
    diff "$2" "$3" | head -20
    fail=1
  fi
}

index=0
taken=0
for name in $names; do
  index=$((index + 1))
  [ $(( (index - 1) % shards + 1 )) -eq "$shard" ] || continue
  taken=$((taken + 1))
  [ $(( (taken - 1) % stride )) -eq 0 ] || continue
  d=$tmp/$name
  mkdir -p "$d"
  run "$d" -f "$name" > "$d/dump"
  without_preset_machine_name "$d/dump" > "$d/before"

  case "$NOT_TEXT_EXPRESSIBLE" in
    *" $name "*) ;;
    *)
      run "$d" -w "$name" > "$d/rt.opt"
      run "$d" -f rt > "$d/dump.text"
      without_preset_machine_name "$d/dump.text" > "$d/after.text"
      compare "$name (text)" "$d/before" "$d/after.text"
      ;;
  esac

  sed -e '/^      BLKLEN(NUMBLK+/,$d' -e "s/^\(      gpnams([ 0-9]*) = '.*\)_'\$/\1'/" "$d/before" > "$d/before.mcd"
  run "$d" -x "$name" > /dev/null
  if [ ! -s "$d/$name.mcd" ]; then
    echo "$name: -x wrote no file $name.mcd"; fail=1; continue
  fi
  run "$d" -f "$name" > "$d/dump.mcd"
  without_preset_machine_name "$d/dump.mcd" > "$d/after.mcd"
  compare "$name (mcd)" "$d/before.mcd" "$d/after.mcd"
done

[ "$shard" -eq 1 ] || { echo "$checked round trips checked"; exit $fail; }
for case_dir in "$here"/controls/*/; do
  label=$(basename "$case_dir")
  control=$(cat "$case_dir/control")
  d=$tmp/case_$label
  mkdir -p "$d"
  cp -R "$case_dir/." "$d/"
  run "$d" -f "$control" > "$d/dump"
  run "$d" -w "$control" > "$d/text"
  [ -s "$d/dump" ] && [ -s "$d/text" ] || { echo "$label: no dump written"; fail=1; continue; }
  # The text replaces the option file; it names the same machine.
  cp "$d/text" "$d/$control.opt"
  run "$d" -f "$control" > "$d/dump.text"
  without_preset_machine_name "$d/dump" > "$d/before"
  without_preset_machine_name "$d/dump.text" > "$d/after.text"
  compare "$label (text)" "$d/before" "$d/after.text"
done

echo "$checked round trips checked"
exit $fail

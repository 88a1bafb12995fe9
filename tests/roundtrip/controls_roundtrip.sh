#!/usr/bin/env bash
# Round trips of whole controls through the files the program writes:
#   text  every built-in control, each control under controls/, the examples
#         and the controls of the user's guide, written as option-file text
#         ("-w") and compiled back over the same machine definition, give the
#         same difference dump ("-f") (and, but for the built-ins, the same
#         text again);
#   mcd   every built-in control written as an MCD file ("-x") under its own
#         name and read back in place of the built-in list gives the same
#         difference dump, but for the cldat blocks, whose record codes the
#         MCD file does not hold, and for the word names that end in "_",
#         which the MCD reader gives back without it.
# Usage: controls_roundtrip.sh KELVARON [SHARD SHARDS]: with SHARD and SHARDS
# only every SHARDS-th built-in control from the SHARD-th on (1-based), and the
# other controls only in shard 1, so that the shards run side by side.
# With KELVARON_LOOP_STRIDE set, a shard takes every STRIDE-th of its built-in
# controls only (CI sets it for the sanitizer build, whose runs are many times
# slower); the other controls are always taken.
set -u
exe=$1
shard=${2:-1}
shards=${3:-1}
stride=${KELVARON_LOOP_STRIDE:-1}
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
[ -n "${KEEP_TMP:-}" ] || trap 'rm -rf "$tmp"' EXIT

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

# roundtrip_case LABEL FOLDER CONTROL [ERRORS]: the control written as text
# ("-w") and compiled back gives the same difference dump and writes the same
# text again. With ERRORS "may stop", a control that stops the run when it is
# loaded (the guide shows some, to show the messages) is passed over.
# A control with an option file gets the text in place of that file, beside
# the same machine definition; a control that is a machine file alone gets it
# as its machine file, in a folder of its own, compiled onto nothing else.
roundtrip_case() {
  local label=$1 d=$2 control=$3 errors=${4:-} back
  run "$d" -f "$control" > "$d/dump"
  if ! run "$d" -w "$control" > "$d/text" && [ "$errors" = "may stop" ]; then
    echo "$label: stops the run when loaded, not checked"
    return
  fi
  [ -s "$d/dump" ] && [ -s "$d/text" ] || { echo "$label: no dump written"; fail=1; return; }
  if [ -f "$d/$control.opt" ]; then
    back=$d
    cp "$d/text" "$d/$control.opt"
  else
    back=$d/back
    mkdir -p "$back"
    sed "1s/.*/machine $control/" "$d/text" > "$back/$control.cfg"
  fi
  run "$back" -f "$control" > "$back/dump.text"
  run "$back" -w "$control" > "$back/text.again"
  without_preset_machine_name "$d/dump" > "$d/before"
  without_preset_machine_name "$back/dump.text" > "$d/after.text"
  compare "$label (text)" "$d/before" "$d/after.text"
  sed 1d "$d/text" > "$d/text.body"
  sed 1d "$back/text.again" > "$d/text.again.body"
  compare "$label (text written again)" "$d/text.body" "$d/text.again.body"
}

for case_dir in "$here"/controls/*/; do
  label=$(basename "$case_dir")
  d=$tmp/case_$label
  mkdir -p "$d"
  cp -R "$case_dir/." "$d/"
  roundtrip_case "$label" "$d" "$(cat "$case_dir/control")"
done

# The examples shipped with the program.
examples=$here/../../examples
for control_file in "$examples"/*.cfg "$examples"/*.opt; do
  [ -e "$control_file" ] || continue
  control=$(basename "${control_file%.*}")
  d=$tmp/example_$control
  mkdir -p "$d"
  cp -R "$examples/." "$d/"
  roundtrip_case "example $control" "$d" "$control"
done

# The controls of the user's guide: the control files it writes out (with the
# examples beside them, as an installation has them) and the pieces it shows,
# each laid on its built-in control.
guide=$here/../../docs/guide.md
g=$tmp/guide
mkdir -p "$g/files"
cp -R "$examples/." "$g/files/"
awk -v dir="$g" '
  /^<!-- check: .* -->[ \t]*$/ {
    marker = $0; sub(/^<!-- check: /, "", marker); sub(/ -->[ \t]*$/, "", marker)
    split(marker, m, " "); want = 1; mline = FNR; next
  }
  want && /^```/ {
    want = 0; inblock = 1
    if (m[1] == "file") out = dir "/files/" m[2]
    else if (m[1] == "control") { out = sprintf("%s/line%04d.opt", dir, mline)
                                  print "machine " (m[2] == "" ? "standard" : m[2]) > out }
    else out = ""
    next
  }
  { want = 0 }
  inblock && /^```/ { inblock = 0; if (m[1] == "control") print "end" > out; next }
  inblock && out != "" { print > out }
' "$guide"
for control_file in "$g"/files/*.cfg "$g"/files/*.opt; do
  [ -e "$control_file" ] || continue
  control=$(basename "${control_file%.*}")
  d=$g/case_$control
  mkdir -p "$d"
  cp -R "$g/files/." "$d/"
  roundtrip_case "guide $control" "$d" "$control" "may stop"
done
for piece in "$g"/line*.opt; do
  [ -e "$piece" ] || continue
  control=$(basename "${piece%.opt}")
  d=$g/case_$control
  mkdir -p "$d"
  cp "$piece" "$d/"
  roundtrip_case "guide control at ${control#line}" "$d" "$control"
done

echo "$checked round trips checked"
exit $fail

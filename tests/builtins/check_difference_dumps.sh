#!/usr/bin/env bash
# The difference dump ("-f") of every built-in control, compared with the
# checksums in difference_dumps.sha256 beside this script. The built-in lists
# are compiled from their option-file text when the program is built, so a
# change to a list's text, to the compiler or to the default words shows here.
# A deliberate change to a list: run this script with --update and commit the
# new checksums with the list (see src/builtins/controls/README.md).
# With KELVARON_LOOP_STRIDE set (CI sets it for the sanitizer build), the dump
# of every STRIDE-th control is compared only.
# Usage: check_difference_dumps.sh KELVARON [--update]
set -u
exe=$1
update=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
sums=$here/difference_dumps.sha256
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

names=$(cd "$tmp" && "$exe" -l 2> /dev/null)
[ -n "$names" ] || { echo "no built-in controls listed"; exit 1; }
stride=${KELVARON_LOOP_STRIDE:-1}
[ "$update" = --update ] && stride=1
index=0
for name in $names; do
  index=$((index + 1))
  [ $(( (index - 1) % stride )) -eq 0 ] || continue
  (cd "$tmp" && env -u KELVARON HOME="$tmp" LC_ALL=C "$exe" -f "$name" < /dev/null 2> /dev/null) > "$tmp/$name.f"
  echo "$(sha256sum < "$tmp/$name.f" | cut -d' ' -f1)  $name"
done > "$tmp/now.sha256"
# The recorded checksums of the controls dumped.
awk 'NR == FNR { taken[$2] = 1; next } $2 in taken' "$tmp/now.sha256" "$sums" > "$tmp/recorded.sha256"

if [ "$update" = --update ]; then
  cp "$tmp/now.sha256" "$sums"
  echo "checksums of $(wc -l < "$sums") difference dumps written to $sums"
  exit 0
fi
if [ "$stride" = 1 ] && ! cut -d' ' -f3 "$sums" | cmp -s - <(printf '%s\n' $names); then
  echo "the built-in controls listed differ from those with recorded checksums:"
  diff <(cut -d' ' -f3 "$sums") <(printf '%s\n' $names)
  exit 1
fi
if ! diff -q "$tmp/recorded.sha256" "$tmp/now.sha256" > /dev/null; then
  echo "difference dumps of built-in controls changed:"
  diff "$tmp/recorded.sha256" "$tmp/now.sha256" | sed -n 's/^> [0-9a-f]*  /  /p'
  exit 1
fi
echo "$(wc -l < "$tmp/now.sha256") difference dumps unchanged"

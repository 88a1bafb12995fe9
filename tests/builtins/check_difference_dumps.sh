#!/usr/bin/env bash
# The difference dump ("-f") of every built-in control, compared with the
# checksums in difference_dumps.sha256 beside this script. The built-in lists
# are compiled from their option-file text when the program is built, so a
# change to a list's text, to the compiler or to the default words shows here.
# A deliberate change to a list: run this script with --update and commit the
# new checksums with the list (see src/builtins/controls/README.md).
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
for name in $names; do
  (cd "$tmp" && env -u KELVARON HOME="$tmp" LC_ALL=C "$exe" -f "$name" < /dev/null 2> /dev/null) > "$tmp/$name.f"
  echo "$(sha256sum < "$tmp/$name.f" | cut -d' ' -f1)  $name"
done > "$tmp/now.sha256"

if [ "$update" = --update ]; then
  cp "$tmp/now.sha256" "$sums"
  echo "checksums of $(wc -l < "$sums") difference dumps written to $sums"
  exit 0
fi
if ! diff -q "$sums" "$tmp/now.sha256" > /dev/null; then
  echo "difference dumps of built-in controls changed:"
  diff "$sums" "$tmp/now.sha256" | sed -n 's/^> [0-9a-f]*  /  /p'
  exit 1
fi
echo "$(wc -l < "$sums") difference dumps unchanged"

#!/usr/bin/env bash
# The list generator on small texts under generator/: listed.opt compiles to
# the assignments of expected_listed.txt; each refused_*.opt stops it with a
# message and no output file.
# Usage: check_generator.sh LIST_GENERATOR
set -u
gen=$1
here=$(cd "$(dirname "$0")" && pwd)/generator
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0

(cd "$tmp" && "$gen" "$here/listed.opt" "$tmp/list.cpp" sample > "$tmp/out" 2>&1)
if [ $? -ne 0 ]; then
  echo "listed.opt: refused:"; cat "$tmp/out"; fail=1
else
  sed -n 's/^    "\(.*\)",$/\1/p' "$tmp/list.cpp" > "$tmp/lines"
  if ! cmp -s "$here/expected_listed.txt" "$tmp/lines"; then
    echo "listed.opt: assignments differ (expected, actual):"; diff "$here/expected_listed.txt" "$tmp/lines"; fail=1
  fi
  grep -q '^std::span<const char\* const> sample_setting_list() { return LINES; }$' "$tmp/list.cpp" ||
    { echo "listed.opt: no function sample_setting_list"; fail=1; }
fi

for source in "$here"/refused_*.opt; do
  name=$(basename "$source")
  (cd "$tmp" && "$gen" "$source" "$tmp/refused.cpp" sample > "$tmp/out" 2>&1)
  code=$?
  if [ $code -eq 0 ] || [ -e "$tmp/refused.cpp" ] || [ ! -s "$tmp/out" ]; then
    echo "$name: not refused with a message (exit $code)"; cat "$tmp/out"; fail=1
  fi
  rm -f "$tmp/refused.cpp"
done
exit $fail

#!/usr/bin/env bash
# Runs one end-to-end case: the built kelvaron in an empty temporary folder,
# compared with the case's expected standard output, standard error, exit code
# and files.
#
# A case folder holds:
#   args            one argument a line (may be empty)
#   stdin           optional standard input (else /dev/null)
#   stdout_device   optional: a device that standard output goes to (such as
#                   /dev/full) in place of a file; nothing of it is kept to compare
#   env             optional NAME=VALUE lines; @TMP@ stands for the run folder
#   in/             optional files copied into the working folder
#   examples        optional names of files (one a line) copied into the
#                   working folder from the project's examples/ folder
#   expected/exit   the exit code
#   expected/stdout, expected/stderr   compared byte for byte when present
#   expected/files/ files that must exist in the working folder afterwards
#   expected/absent optional names (or shell patterns) that must not exist afterwards
# In standard output and error the run folder's path reads as @TMP@.
# With KELVARON_UPDATE=1 the expected outputs are rewritten from the run.
set -u
exe=$1
case_dir=$2
name=$(basename "$case_dir")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/work" "$tmp/home"
if [ -d "$case_dir/in" ]; then cp -R "$case_dir/in/." "$tmp/work/"; fi
if [ -f "$case_dir/examples" ]; then
  examples_dir=$(cd "$case_dir/../../../examples" && pwd)
  while IFS= read -r f || [ -n "$f" ]; do
    [ -n "$f" ] && cp "$examples_dir/$f" "$tmp/work/"
  done < "$case_dir/examples"
fi

args=()
if [ -s "$case_dir/args" ]; then
  while IFS= read -r line || [ -n "$line" ]; do args+=("$line"); done < "$case_dir/args"
fi
envs=()
if [ -f "$case_dir/env" ]; then
  while IFS= read -r line || [ -n "$line" ]; do
    [ -n "$line" ] && envs+=("${line//@TMP@/$tmp}")
  done < "$case_dir/env"
fi
input=/dev/null
[ -f "$case_dir/stdin" ] && input="$case_dir/stdin"
output="$tmp/stdout"
[ -f "$case_dir/stdout_device" ] && output=$(cat "$case_dir/stdout_device")

( cd "$tmp/work" && env -u KELVARON -u QLOR_ASSERT HOME="$tmp/home" LC_ALL=C "${envs[@]}" \
    timeout 60 "$exe" "${args[@]}" < "$input" > "$output" 2> "$tmp/stderr" )
code=$?
[ -f "$tmp/stdout" ] || : > "$tmp/stdout"
sed -i "s|$tmp|@TMP@|g" "$tmp/stdout" "$tmp/stderr"

exp="$case_dir/expected"
if [ "${KELVARON_UPDATE:-0}" = 1 ]; then
  mkdir -p "$exp"
  echo "$code" > "$exp/exit"
  cp "$tmp/stdout" "$exp/stdout"
  cp "$tmp/stderr" "$exp/stderr"
  if [ -d "$exp/files" ]; then
    (cd "$exp/files" && find . -type f) | while read -r f; do
      [ -f "$tmp/work/$f" ] && cp "$tmp/work/$f" "$exp/files/$f"
    done
  fi
  echo "$name: expected outputs rewritten"
  exit 0
fi

fail=0
want=$(cat "$exp/exit")
if [ "$code" != "$want" ]; then
  echo "$name: exit code $code, expected $want"; fail=1
fi
for s in stdout stderr; do
  if [ -f "$exp/$s" ] && ! cmp -s "$exp/$s" "$tmp/$s"; then
    echo "$name: $s differs (expected, actual):"; diff "$exp/$s" "$tmp/$s" | head -40; fail=1
  fi
done
if [ -d "$exp/files" ]; then
  while read -r f; do
    if [ ! -f "$tmp/work/$f" ]; then
      echo "$name: file $f was not written"; fail=1
    elif ! cmp -s "$exp/files/$f" "$tmp/work/$f"; then
      echo "$name: file $f differs (expected, actual):"; diff "$exp/files/$f" "$tmp/work/$f" | head -40; fail=1
    fi
  done < <(cd "$exp/files" && find . -type f)
fi
if [ -f "$exp/absent" ]; then
  while IFS= read -r f; do
    [ -n "$f" ] && compgen -G "$tmp/work/$f" >/dev/null && { echo "$name: file $f should not exist"; fail=1; }
  done < "$exp/absent"
fi
exit $fail

#!/usr/bin/env bash
# Installs the project into a temporary prefix and runs the installed program
# on the installed examples from a folder outside both the build and the
# installation, with KELVARON naming the installation: the demo by the path
# of its option file, the trunnion mill and the lathe by the names of their
# machine files, which the program finds in the installation's lib folder.
# The tapes must equal those of the examples' end-to-end cases.
#
# Usage: install_run.sh <cmake> <build dir> <source dir>
set -u
cmake=$1
build=$2
src=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
fail=0

if ! "$cmake" --install "$build" --prefix "$prefix" > "$tmp/install.log" 2>&1; then
  echo "install failed:"; cat "$tmp/install.log"; exit 1
fi

examples=$prefix/share/kelvaron/examples
for f in bin/kelvaron lib/trunnion5.cfg lib/lathe2.cfg sys/misc/startup \
         share/doc/kelvaron/guide.md share/doc/kelvaron/README.md share/doc/kelvaron/kelvaron.msg \
         share/kelvaron/examples/demo.opt share/kelvaron/examples/demo.cut \
         share/kelvaron/examples/trunnion5.cfg share/kelvaron/examples/trunnion5.cut \
         share/kelvaron/examples/lathe2.cfg share/kelvaron/examples/shaft.cut; do
  [ -f "$prefix/$f" ] || { echo "not installed: $f"; fail=1; }
done
[ -x "$prefix/bin/kelvaron" ] || { echo "bin/kelvaron is not executable"; fail=1; }
[ "$fail" = 0 ] || exit 1

work=$tmp/elsewhere
mkdir -p "$work" "$tmp/home"
run() {
  (cd "$work" && env -u KELVARON_USER -u SOURCE_DATE_EPOCH -u QLOR_ASSERT \
     KELVARON="$prefix" HOME="$tmp/home" LC_ALL=C \
     timeout 60 "$prefix/bin/kelvaron" "$@" < /dev/null > "$tmp/stdout" 2> "$tmp/stderr")
}

# job name, expected line on standard error, arguments
check_job() {
  local tape=$1 using=$2; shift 2
  rm -f "$work"/*
  run "$@"
  local code=$?
  if [ "$code" != 0 ]; then
    echo "kelvaron $*: exit code $code"; cat "$tmp/stderr"; fail=1; return
  fi
  if ! grep -qxF "$using" "$tmp/stderr"; then
    echo "kelvaron $*: no line \"$using\" on standard error:"; cat "$tmp/stderr"; fail=1
  fi
  local expected=$src/tests/e2e/example_${tape%%:*}/expected/files/${tape#*:}.tap
  if ! cmp -s "$expected" "$work/${tape#*:}.tap"; then
    echo "kelvaron $*: the tape differs from the example's (expected, actual):"
    diff "$expected" "$work/${tape#*:}.tap" | head -20; fail=1
  fi
}

check_job demo:demo "Using option file $examples/demo.opt" "$examples/demo" "$examples/demo.cut"
check_job trunnion5:trunnion5 "Using cfg file    $prefix/lib/trunnion5.cfg" trunnion5 "$examples/trunnion5.cut"
check_job lathe2:shaft "Using cfg file    $prefix/lib/lathe2.cfg" lathe2 "$examples/shaft.cut"

# The installed startup file is read and holds no statement: the usage text
# is the program's own.
run -h
if [ $? != 0 ] || ! grep -q "To run kelvaron type :" "$tmp/stderr"; then
  echo "kelvaron -h with the installed startup file failed:"; cat "$tmp/stderr"; fail=1
fi
[ "$fail" = 0 ] && echo "installed program runs the installed examples"
exit $fail

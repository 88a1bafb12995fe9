#!/usr/bin/env bash
# The README's first command, run as it stands on a copy of the source tree
# in a clean environment: no GoogleTest, no Node.js and no network (a mount
# and network namespace of its own hides GoogleTest's headers and CMake
# files and the network where the machine allows one; node and npm are always
# left off the PATH). The command must build the program alone (no test
# targets, nothing of GoogleTest in the cache) and write the demo's tape,
# equal to that of the demo's end-to-end case.
#
# Usage: first_command.sh <source dir>
set -u
src=$(cd "$1" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
expected=$src/tests/e2e/example_demo/expected/files/demo.tap

command_line=$(awk '/^    / { sub(/^    /, ""); print; exit }' "$src/README.md")
case $command_line in
  cmake*kelvaron*examples/demo*) ;;
  *) echo "the README's first command is not the build and demo run: $command_line"; exit 1 ;;
esac

# The source tree without build folders or version control.
mkdir -p "$tmp/src"
for entry in "$src"/* "$src"/.[!.]*; do
  name=$(basename "$entry")
  case $name in build*|.git) continue ;; esac
  cp -R "$entry" "$tmp/src/"
done

# A PATH without node, npm or npx: every other command of the machine's bin
# folders, linked into one folder.
mkdir -p "$tmp/bin"
for dir in /usr/local/bin /usr/bin /bin; do
  for tool in "$dir"/*; do
    name=$(basename "$tool")
    case $name in node|nodejs|npm|npx) continue ;; esac
    [ -e "$tmp/bin/$name" ] || ln -s "$tool" "$tmp/bin/$name"
  done
done

# Inside the namespace, GoogleTest's files are covered by empty folders.
cat > "$tmp/hide_and_run.sh" <<'EOF'
set -u
for d in /usr/include/gtest /usr/include/gmock /usr/lib/x86_64-linux-gnu/cmake/GTest \
         /usr/lib/x86_64-linux-gnu/cmake/GMock /usr/lib/cmake/GTest /usr/lib/cmake/GMock; do
  [ -d "$d" ] && mount --bind "$EMPTY" "$d"
done
cd "$SRC" && bash -c "$COMMAND_LINE"
EOF
mkdir -p "$tmp/empty"
run=(env -i PATH="$tmp/bin" HOME="$tmp/home" LC_ALL=C TMPDIR="$tmp" EMPTY="$tmp/empty" SRC="$tmp/src"
     COMMAND_LINE="$command_line" bash "$tmp/hide_and_run.sh")
mkdir -p "$tmp/home"
isolated=yes
unshare -m -n true 2> /dev/null || isolated=no
if [ "$isolated" = yes ]; then
  unshare -m -n "${run[@]}" < /dev/null > "$tmp/log" 2>&1
else
  "${run[@]}" < /dev/null > "$tmp/log" 2>&1
fi
code=$?
fail=0
if [ "$code" != 0 ]; then
  echo "the first command ended with exit code $code:"; tail -n 30 "$tmp/log"; exit 1
fi
build=$tmp/src/build
if ! cmp -s "$expected" "$build/demo.tap"; then
  echo "the demo's tape differs from the end-to-end case's (expected, actual):"
  diff "$expected" "$build/demo.tap" | head -20; fail=1
fi
if [ -e "$build/tests" ] || grep -qi 'gtest' "$build/CMakeCache.txt"; then
  echo "the first command configured the tests (a tests folder or GoogleTest in the cache)"; fail=1
fi
if grep -qi 'npm\|node' "$tmp/log"; then
  echo "the first command reached for Node.js:"; grep -i 'npm\|node' "$tmp/log" | head -5; fail=1
fi
[ "$fail" = 0 ] && echo "the first command built kelvaron alone and wrote the demo's tape (isolated: $isolated)"
exit $fail

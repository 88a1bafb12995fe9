#!/usr/bin/env bash
# Whole runs whose outputs must survive what a folder of cases cannot set up:
# closed standard streams, runs interrupted by a signal or killed outright, a
# full file system and a control file that cannot be read. Each case keeps
# the files of the run before and checks that they are left byte for byte
# when the run does not finish, and that no unfinished file stays behind.
#   run_outputs.sh <kelvaron> <write_cutfile> <case>
# Exit 0 passed, 1 failed, 77 skipped (the case cannot be set up here).
set -u
exe=$1
write_cutfile=$2
case_name=$3
here=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d)
mounted=""
cleanup() {
  cd /
  [ -n "$mounted" ] && umount "$mounted" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
cd "$tmp" || exit 1
export HOME="$tmp" LC_ALL=C SOURCE_DATE_EPOCH=1767225600 TZ=UTC KELVARON_USER=tester
unset KELVARON QLOR_ASSERT

fail=0
check() {  # check <description> <command...>
  local what=$1
  shift
  if ! "$@"; then
    echo "$case_name: $what"
    fail=1
  fi
}
has() { compgen -G "$1" >/dev/null; }
no_unfinished() { ! has "*.kelvaron-unfinished-*"; }
same() { cmp -s "$1" "$2"; }
lacks() { ! grep -q "$1" "$2"; }

# A job of moves without a part number, and the files of a good run before
# it (kept as *.before to compare with).
make_job() {
  "$write_cutfile" 3 big.cut gotos 20000 || exit 1
  "$exe" standard big.cut -p < /dev/null > /dev/null 2>&1 || { echo "$case_name: the run before failed"; exit 1; }
  for f in big.tap big.prt big.inf; do cp "$f" "$f.before"; done
}
kept_before() {
  local f
  for f in big.tap big.prt big.inf; do same "$f" "$f.before" || return 1; done
}

# Starts the job with its standard input on a pipe that holds no answer yet,
# so that the run waits at the part-number prompt with its outputs open and
# its tape started; sets pid. The answer is given on descriptor 3.
start_waiting_job() {  # [stderr file]
  rm -f answers err
  mkfifo answers
  exec 3<> answers
  env --default-signal=INT "$exe" standard big.cut -p < answers > /dev/null 2> "${1:-err}" &
  pid=$!
}
wait_for_prompt() {
  local n=0
  until grep -q "Enter part number" err 2>/dev/null; do
    sleep 0.01
    n=$((n + 1))
    [ $n -gt 6000 ] && { echo "$case_name: the run never asked for the part number"; return 1; }
  done
  return 0
}

case $case_name in
closed_streams)
  # Started with standard input, output and error closed, the run must not
  # take them for its files: tape and setup file hold only their own lines.
  cp "$here/e2e/job_standard/in/job.cut" .
  "$exe" standard job.cut -p < /dev/null > /dev/null 2>&1
  for f in job.tap job.prt job.inf; do mv "$f" "$f.console"; done
  "$exe" standard job.cut -p <&- >&- 2>&-
  code=$?
  check "exit code $code with closed streams" [ $code -eq 0 ]
  for f in job.tap job.prt job.inf; do check "$f differs with closed streams" same "$f" "$f.console"; done
  ;;
interrupted)
  # A job ended by a signal leaves the files of the run before and no half
  # tape; the signal still ends it as it would have.
  make_job
  for sig in TERM HUP INT; do
    start_waiting_job
    wait_for_prompt && check "SIG$sig: no unfinished tape while running" has "big.tap.kelvaron-unfinished-*"
    kill -s $sig $pid
    { wait $pid; } 2>/dev/null
    code=$?
    exec 3>&-
    want=$((128 + $(kill -l $sig)))
    check "SIG$sig: exit code $code, expected $want" [ $code -eq $want ]
    check "SIG$sig: the files of the run before changed" kept_before
    check "SIG$sig: unfinished files left" no_unfinished
  done
  # Standard error closed by its reader: the next message after the answer
  # meets SIGPIPE.
  mkfifo messages
  head -c 200 messages > /dev/null &
  reader=$!
  start_waiting_job messages
  wait $reader
  echo PART7 >&3
  wait $pid
  code=$?
  exec 3>&-
  check "SIGPIPE: exit code $code, expected 141" [ "$code" -eq 141 ]
  check "SIGPIPE: the files of the run before changed" kept_before
  check "SIGPIPE: unfinished files left" no_unfinished
  ;;
killed)
  # Killed outright, a run leaves its unfinished files under names that say
  # what they are, beside the files of the run before; the next run clears
  # them and finishes its own.
  make_job
  start_waiting_job
  wait_for_prompt
  kill -s KILL $pid
  { wait $pid; } 2>/dev/null
  exec 3>&-
  check "files of the run before changed" kept_before
  check "no unfinished tape left under a name that says what it is" has "big.tap.kelvaron-unfinished-$pid-*"
  "$exe" standard big.cut -p < /dev/null > /dev/null 2>&1
  check "the next run failed" [ $? -eq 0 ]
  check "unfinished files left after the next run" no_unfinished
  check "the next run's tape differs" same big.tap big.tap.before
  ;;
full_disk)
  # A full file system: the job, the compact dump and the MCD file end with
  # message 221 and exit code 4, and leave the files of the run before (an
  # MCD file there would be read as the machine, so there is none before).
  # Needs a small file system of its own: only the superuser can mount one.
  if [ "$(id -u)" != 0 ]; then
    echo "$case_name: skipped: mounting a small file system needs the superuser"
    exit 77
  fi
  mkdir disk
  if ! mount -t tmpfs -o size=64k tmpfs disk 2>/dev/null; then
    echo "$case_name: skipped: no small file system can be mounted here"
    exit 77
  fi
  mounted=$tmp/disk
  cd disk || exit 1
  cp "$here/e2e/job_standard/in/job.cut" .
  printf 'machine standard\nmaximum block number = 500\nend\n' > ctl.opt
  before="job.tap job.prt job.inf ctl.tmp"
  for f in $before; do echo "$f of the run before" > "$f"; done
  for f in $before; do cp "$f" "$tmp/$f.before"; done
  dd if=/dev/zero of=filler bs=1k count=1024 2>/dev/null
  for args in "ctl job.cut -p" "-c ctl" "-x ctl"; do
    # shellcheck disable=SC2086
    "$exe" $args < /dev/null > "$tmp/out" 2> "$tmp/err"
    code=$?
    check "$args: exit code $code, expected 4" [ $code -eq 4 ]
    check "$args: no message 221" grep -q "Unable to write character string to unit" "$tmp/err"
    check "$args: the summary box shown" lacks "POSTPROCESSING TERMINATED" "$tmp/err"
    for f in $before; do
      check "$args: $f of the run before changed" same "$f" "$tmp/$f.before"
    done
    check "$args: an MCD file written" [ ! -e standard.mcd ]
    check "$args: unfinished files left" no_unfinished
  done
  ;;
unreadable_control)
  # An option file and a machine file that are there but cannot be read are
  # errors, not missing files (which would let the built-in control of that
  # name run bare): message 126 with the name, exit code 5. The superuser
  # reads every file, so the runs are made as another user then.
  printf 'machine fanuc\nend\n' > ctl.opt
  printf 'machine fanuc\nend\n' > fanuc.opt
  printf 'machine fanuc\nend\n' > fanuc.cfg
  runner=()
  if [ "$(id -u)" = 0 ]; then
    if ! command -v setpriv >/dev/null; then
      echo "$case_name: skipped: no way to run as a user who cannot read every file"
      exit 77
    fi
    runner=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    chmod 777 "$tmp"
  fi
  for pair in fanuc:fanuc.opt ctl:fanuc.cfg; do
    control=${pair%%:*}
    f=${pair#*:}
    chmod 000 "$f"
    "${runner[@]}" "$exe" -f "$control" < /dev/null > out 2> err
    code=$?
    check "$f unreadable: exit code $code, expected 5" [ $code -eq 5 ]
    check "$f unreadable: message 126 with its name" grep -q "^Could not open ./$f\$" err
    chmod 644 "$f"
  done
  ;;
*)
  echo "unknown case $case_name"
  exit 1
  ;;
esac
exit $fail

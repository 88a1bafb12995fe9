#!/usr/bin/env bash
# Whole runs whose outputs must survive what a folder of cases cannot set up:
# closed standard streams, runs interrupted by a signal or killed outright, a
# full file system, a file-size limit, outputs whose unfinished file cannot be
# made, and inputs that cannot be used (a control file that cannot be read, a
# cutfile on a pipe, an MCD file edited by hand). Each case keeps the files of
# the run before and checks that they are left byte for byte when the run
# does not finish, and that no unfinished file stays behind.
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
  env --default-signal=INT,QUIT "$exe" standard big.cut -p < answers > /dev/null 2> "${1:-err}" &
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

# A file system of SIZE of its own at disk/, entered (unmounted at exit); the
# case is skipped where none can be mounted (only the superuser can).
enter_small_disk() {
  if [ "$(id -u)" != 0 ]; then
    echo "$case_name: skipped: mounting a small file system needs the superuser"
    exit 77
  fi
  mkdir disk
  if ! mount -t tmpfs -o size="$1" tmpfs disk 2>/dev/null; then
    echo "$case_name: skipped: no small file system can be mounted here"
    exit 77
  fi
  mounted=$tmp/disk
  cd disk || exit 1
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
  # A tape on standard output (-t tty) that was closed goes nowhere: it is a
  # tape that cannot be opened (exit code 4), not a job done.
  "$exe" standard job.cut -t tty >&- 2> err
  code=$?
  check "-t tty, standard output closed: exit code $code, expected 4" [ $code -eq 4 ]
  check "-t tty, standard output closed: no message 126" grep -q "^Could not open tty\$" err
  ;;
interrupted)
  # A job ended by a signal leaves the files of the run before and no half
  # tape; the signal still ends it as it would have. Every signal whose
  # default is to end a program does so, not only those of a terminal.
  make_job
  for sig in TERM HUP INT QUIT ABRT USR1 USR2 ALRM VTALRM PROF XCPU RTMIN; do
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
  echo FLANGE7 >&3
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
  enter_small_disk 64k
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
file_size_limit)
  # A file-size limit (ulimit -f) is a write that fails, as a full disk is:
  # message 221 and exit code 4, not a run killed without a word.
  make_job
  ( ulimit -f 8; exec "$exe" standard big.cut -p < /dev/null > /dev/null 2> err )
  code=$?
  check "exit code $code, expected 4" [ $code -eq 4 ]
  check "no message 221" grep -q "Unable to write character string to unit" err
  check "the files of the run before changed" kept_before
  check "unfinished files left" no_unfinished
  ;;
synced)
  # Each output reaches the disk before it takes its name, and its name
  # reaches the disk after the rename: in the calls the run makes, every
  # unfinished file is synchronised before it is renamed, and its folder
  # after. Needs strace, which a container may not allow.
  if ! command -v strace > /dev/null || ! strace -o /dev/null true 2> /dev/null; then
    echo "$case_name: skipped: strace cannot trace here"
    exit 77
  fi
  make_job
  # (The leak checker of a sanitizer build cannot run under a tracer.)
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
    strace -f -e trace=%file,fsync -o trace.txt "$exe" standard big.cut -p < /dev/null > /dev/null 2>&1
  check "the traced run failed" [ $? -eq 0 ]
  check "the traced run's tape differs" same big.tap big.tap.before
  # Unfinished files by descriptor, whether each was synchronised, and a
  # folder synchronisation owed after each rename.
  verdict=$(awk '
    function fd_of(line) { sub(/.*= /, "", line); return line }
    /open(at)?\(.*unfinished/ { n = $0; sub(/^[^"]*"/, "", n); sub(/".*/, "", n); file[fd_of($0)] = n; next }
    /open(at)?\(.*O_DIRECTORY/ && owed { folder = fd_of($0); next }
    /fsync\(/ { fd = $0; sub(/.*fsync\(/, "", fd); sub(/\).*/, "", fd)
                if (owed && fd == folder) { owed = 0; next }
                if (fd in file) synced[file[fd]] = 1; next }
    /rename(at2?)?\(/ { if (owed) bad = bad " folder-before-" $0
                 n = $0; sub(/^[^"]*"/, "", n); sub(/".*/, "", n)
                 if (!(n in synced)) bad = bad " unsynced " n
                 renames++; owed = 1; folder = "" }
    END { if (owed) bad = bad " folder-after-last"
          if (renames != 3) bad = bad " renames " renames
          print bad == "" ? "ok" : bad }' trace.txt)
  check "synchronisation: $verdict" [ "$verdict" = ok ]
  ;;
unfinished_not_made)
  # A folder the user cannot write, whose files the user owns: the files
  # could be written in place, but a run that then failed would leave them
  # cut. No output is opened without its unfinished file: the tape stops the
  # run (exit code 4) and every file stays as it was. A print file alone in
  # such a folder is only warned about, and left as it was too.
  if [ "$(id -u)" != 0 ] || ! command -v setpriv > /dev/null; then
    echo "$case_name: skipped: needs the superuser to run as a user who owns files in a folder it cannot write"
    exit 77
  fi
  runner=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  chmod 755 "$tmp"
  mkdir locked
  cd locked || exit 1
  make_job
  chown 65534:65534 big.tap big.prt big.inf
  chmod 755 .
  "${runner[@]}" "$exe" standard big.cut -p < /dev/null > /dev/null 2> err
  code=$?
  check "exit code $code, expected 4" [ $code -eq 4 ]
  check "no open failure reported" grep -q "^Could not open big\$" err
  check "the files of the run before changed" kept_before
  mkdir ../open
  chmod 777 ../open
  "${runner[@]}" "$exe" standard big.cut -p -t ../open/big < /dev/null > /dev/null 2> err
  code=$?
  check "print file locked: exit code $code, expected 0" [ $code -eq 0 ]
  check "print file locked: no warning" grep -q "^Warning could not open big\$" err
  check "print file locked: the tape differs" same ../open/big.tap big.tap.before
  check "print file locked: the files of the run before changed" kept_before
  check "unfinished files left" no_unfinished
  ;;
long_name)
  # A name as long as the folder allows but for the unfinished suffix: the
  # unfinished name is cut short, never written in place. A run that fails
  # half-way leaves the tape of the run before; one that ends well replaces it.
  make_job
  long=$(printf 'x%.0s' $(seq 240))
  cp big.tap "$long.tap"
  head -c 300000 big.cut > cut.cut
  "$exe" standard cut.cut -t "$long" < /dev/null > /dev/null 2> err
  code=$?
  check "failing run: exit code $code, expected 4" [ $code -eq 4 ]
  check "failing run: the tape of the run before changed" same "$long.tap" big.tap.before
  check "failing run: unfinished files left" no_unfinished
  echo "the run before" > "$long.tap"
  "$exe" standard big.cut -t "$long" < /dev/null > /dev/null 2>&1
  code=$?
  check "run: exit code $code, expected 0" [ $code -eq 0 ]
  check "run: the tape differs" same "$long.tap" big.tap.before
  check "run: unfinished files left" no_unfinished
  ;;
dangling_link)
  # A tape name that is a link to a file not made yet: a run that fails
  # leaves no file there, one that ends well makes it, and the link goes on
  # naming it.
  make_job
  head -c 300000 big.cut > cut.cut
  ln -s made.tap link.tap
  "$exe" standard cut.cut -t link < /dev/null > /dev/null 2> err
  code=$?
  check "failing run: exit code $code, expected 4" [ $code -eq 4 ]
  check "failing run: the link's file was made" [ ! -e made.tap ]
  check "failing run: the link was replaced" [ -L link.tap ]
  "$exe" standard big.cut -t link < /dev/null > /dev/null 2>&1
  code=$?
  check "run: exit code $code, expected 0" [ $code -eq 0 ]
  check "run: the link was replaced" [ -L link.tap ]
  check "run: the tape differs" same made.tap big.tap.before
  check "unfinished files left" no_unfinished
  ;;
cutfile_pipe)
  # Pass 1 and the tape read the cutfile twice: one on a pipe is refused at
  # once (exit code 4), with a writer waiting or without one, never read
  # halfway nor waited on. A hang fails the case through its time limit.
  "$write_cutfile" 3 big.cut gotos 2000 || exit 1
  mkfifo fifo.cut
  timeout 20 "$exe" standard fifo.cut < /dev/null > /dev/null 2> err
  code=$?
  check "FIFO without a writer: exit code $code, expected 4" [ $code -eq 4 ]
  check "FIFO without a writer: no open failure" grep -q "^Could not open fifo.cut\$" err
  cat big.cut > fifo.cut &
  writer=$!
  timeout 20 "$exe" standard fifo.cut < /dev/null > /dev/null 2> err
  code=$?
  check "FIFO with a writer: exit code $code, expected 4" [ $code -eq 4 ]
  check "FIFO with a writer: no open failure" grep -q "^Could not open fifo.cut\$" err
  # The writer, never read, is let go.
  timeout 20 cat fifo.cut > /dev/null
  kill $writer 2> /dev/null
  wait $writer 2> /dev/null
  check "a tape written" [ ! -e fifo.tap ]
  check "unfinished files left" no_unfinished
  ;;
mcd_edited)
  # An MCD file whose lines were moved, or whose repeat lines were changed,
  # is refused (exit code 5), though each record's own checksum holds; so is
  # a file without its checksum line.
  "$exe" -x fanuc < /dev/null > /dev/null 2>&1 || { echo "$case_name: -x failed"; exit 1; }
  mv fanuc.mcd fanuc.written
  loads() {  # loads <file>: the exit code of a difference dump with it as fanuc.mcd
    cp "$1" fanuc.mcd
    "$exe" -f fanuc < /dev/null > /dev/null 2> err
  }
  refused() {  # refused <file>
    loads "$1"
    local code=$?
    [ $code -eq 5 ] && grep -q "MCD file error - code = 21010" err
  }
  loads fanuc.written
  code=$?
  check "the file as written: exit code $code, expected 0" [ $code -eq 0 ]
  # Two adjacent single-line string records (each line: sum, length at most
  # 24, six fields; 72 digits unpacked) with no repeat line after them.
  awk '
    function unpack(s,   out, i, c, n, k) {
      out = ""
      for (i = 1; i <= length(s); i++) {
        c = substr(s, i, 1)
        if (c ~ /[0-9]/) { out = out c; continue }
        n = index("@ABCDEFGHIJKLMNOPQRSTUVWXYZ[", c) - 1
        i++
        for (k = 0; k < n; k++) out = out substr(s, i, 1)
      }
      return out
    }
    { line[NR] = $0; u = unpack($0); single[NR] = NR > 2 && length(u) == 72 && substr(u, 9, 4) + 0 <= 24 }
    END {
      for (i = 3; i + 2 <= NR; i++)
        if (single[i] && single[i + 1] && line[i] != line[i + 1] && substr(line[i + 2], 1, 1) != "+") break
      t = line[i]; line[i] = line[i + 1]; line[i + 1] = t
      for (j = 1; j <= NR; j++) print line[j]
    }' fanuc.written > swapped.mcd
  check "two records swapped: not refused" refused swapped.mcd
  # The last repeat line counts one copy fewer.
  awk '/^\+/ { last = NR } { line[NR] = $0 }
       END { for (j = 1; j <= NR; j++) print (j == last ? sprintf("+%4d", substr(line[j], 2) - 1) : line[j]) }' \
    fanuc.written > repeat.mcd
  check "a repeat line changed: not refused" refused repeat.mcd
  { cat fanuc.written; echo "+   1"; } > after.mcd
  check "a line after the checksum: not refused" refused after.mcd
  # The checksum line is part of every file: one without it has lost its
  # end, or been edited (here two lines swapped around a repeat line too).
  sed '$d' fanuc.written > unchecked.mcd
  check "a file without the checksum line: not refused" refused unchecked.mcd
  awk '/^\+/ && NR > 4 && !done { t = line[NR - 1]; line[NR - 1] = line[NR - 2]; line[NR - 2] = t; done = 1 }
       { line[NR] = $0 } END { for (j = 1; j < NR; j++) print line[j] }' fanuc.written > unchecked_swapped.mcd
  check "lines swapped around a repeat line, no checksum line: not refused" refused unchecked_swapped.mcd
  ;;
split_full_disk)
  # A run that splits its tape and then fills the file system ends with
  # message 221 and exit code 4, and leaves every tape of the run before:
  # none of its own finished tapes has taken a name yet.
  enter_small_disk 256k
  "$write_cutfile" 3 "$tmp/big.cut" gotos 20000 || exit 1
  printf 'machine standard\nmaximum tape length = 100.0\nend\n' > ctl.opt
  before="big.tap big.t01 big.t02"
  for f in $before; do echo "$f of the run before" > "$f"; done
  for f in $before; do cp "$f" "$tmp/$f.before"; done
  "$exe" ctl ../big.cut < /dev/null > "$tmp/out" 2> "$tmp/err"
  code=$?
  check "exit code $code, expected 4" [ $code -eq 4 ]
  check "no message 221" grep -q "Unable to write character string to unit" "$tmp/err"
  check "the tape was not split before the disk was full" grep -q "NEXT TAPE" "$tmp/err"
  for f in $before; do
    check "$f of the run before changed" same "$f" "$tmp/$f.before"
  done
  check "a tape of this run took a name" [ ! -e big.t03 ]
  check "unfinished files left" no_unfinished
  ;;
cutfile_whole)
  # A cutfile is read whole or the run fails. Blank lines (empty, blanks,
  # tabs) anywhere in an ASCII cutfile change nothing; a cutfile cut short
  # before its end record (an interrupted CAM run or copy) is a failed run,
  # exit code 4, that leaves the files of the run before.
  cp "$here/../examples/demo.cut" "$here/../examples/demo.opt" .
  "$write_cutfile" 3 whole.bin gotos 50 || exit 1
  post() {  # post: job.cut posted
    "$exe" demo job.cut -p < /dev/null > /dev/null 2> err
  }
  cp demo.cut job.cut
  post || { echo "$case_name: the demo failed"; exit 1; }
  for f in job.tap job.prt job.inf; do cp "$f" "$f.before"; done
  kept() { local f; for f in job.tap job.prt job.inf; do same "$f" "$f.before" || return 1; done; }
  while IFS='|' read -r what make; do
    eval "$make" > job.cut
    post
    code=$?
    check "$what: exit code $code, expected 0" [ $code -eq 0 ]
    check "$what: the tape differs" same job.tap job.tap.before
  done <<'CASES'
an empty line inside a record|awk 'NR == 7 { print; print ""; next } 1' demo.cut
empty, blank and tab lines after every line|awk '{ print; print (NR % 3 == 0 ? "" : NR % 3 == 1 ? "   " : "\t \t") }' demo.cut
blank lines before the header and after the end|{ printf '\n \n'; cat demo.cut; printf '\n\n'; }
CASES
  while IFS='|' read -r what make message; do
    eval "$make" > job.cut
    post
    code=$?
    check "$what: exit code $code, expected 4" [ $code -eq 4 ]
    check "$what: no message \"$message\"" grep -q "$message" err
    check "$what: the files of the run before changed" kept
    check "$what: unfinished files left" no_unfinished
  done <<'CASES'
without its end record|sed '$d' demo.cut|Incomplete cldata file
cut between the lines of a record|head -n 7 demo.cut|Incomplete cldata file
cut inside a field|head -c -10 demo.cut|Error: reading CLDATA record
empty|:|Incomplete cldata file
binary, without its end record|head -c -36 whole.bin|Incomplete cldata file
CASES
  ;;
over_inputs)
  # No output replaces a file the run reads: the startup file, the message
  # file, the cutfile or the control's files. An output named as one stops
  # the run (exit code 4) and the file is left as it was.
  cp "$here/../examples/demo.cut" "$here/../examples/demo.opt" .
  cp "$here/../docs/kelvaron.msg" site.msg
  printf 'machine other\nend\n' > ctl.cfg
  while IFS='|' read -r what startup args kept; do
    rm -f startup
    [ -n "$startup" ] && printf '%b\n' "$startup" > startup
    for f in $kept; do
      case $f in *.msg) ;; *) printf '# %s\n' "$f" > "$f" ;; esac
      cp "$f" "$f.before"
    done
    # shellcheck disable=SC2086
    "$exe" $args < /dev/null > /dev/null 2> err
    code=$?
    check "$what: exit code $code, expected 4" [ $code -eq 4 ]
    for f in $kept; do check "$what: $f was written over" same "$f" "$f.before"; done
    check "$what: unfinished files left" no_unfinished
  done <<'CASES'
tape over the startup file (-s)||-s site.tap demo demo.cut -t site|site.tap
setup file over the startup file (-s)||-s demo.inf demo demo.cut|demo.inf
tape over the message file (-m)||-m site.msg demo demo.cut -t site.msg|site.msg
setup file over the message file the startup file names|message file = site.msg\nsetup file = site.msg|demo demo.cut|site.msg
MCD file over the startup file||-s other.mcd -x ctl|other.mcd
CASES
  # The MCD file always takes its own extension: a control whose machine line
  # names the cutfile writes beside it.
  printf 'machine demo.cut\nend\n' > named.cfg
  cp demo.cut demo.cut.before
  "$exe" -x named < /dev/null > /dev/null 2> err
  code=$?
  check "MCD file of a control named as the cutfile: exit code $code, expected 0" [ $code -eq 0 ]
  check "MCD file of a control named as the cutfile: the cutfile was written over" same demo.cut demo.cut.before
  check "MCD file of a control named as the cutfile: no demo.cut.mcd" [ -s demo.cut.mcd ]
  ;;
split_sets)
  # The tapes of a split are one set, named after its first tape. A run of
  # the set removes the tapes of the set's run before that it does not write
  # again, and no other file whatever its name; runs of one set at once
  # leave one run's whole set; long names keep the tapes of a set apart.
  "$write_cutfile" 3 long.cut gotos 60 || exit 1
  "$write_cutfile" 3 short.cut gotos 15 || exit 1
  "$write_cutfile" 3 one.cut gotos 2 || exit 1
  printf 'machine standard\nmaximum tape length = 1.0\nend\n' > ctl.opt
  post() {  # post <cutfile> [args]: posted as job.cut; its tapes kept under sets/<cutfile>/
    local cut=$1
    shift
    cp "$cut" job.cut
    "$exe" ctl job.cut "$@" < /dev/null > /dev/null 2>> err
  }
  tapes() { ls | grep -E '^job\.t[0-9]+$' | tr '\n' ' '; }
  # Each cutfile's own tapes, posted alone in a folder of their own.
  for cut in long short; do
    mkdir -p "sets/$cut"
    ( cd "sets/$cut" && cp ../../ctl.opt . && cp "../../$cut.cut" job.cut &&
      "$exe" ctl job.cut < /dev/null > /dev/null 2>&1 ) || { echo "$case_name: $cut alone failed"; exit 1; }
  done
  long_tapes=$(cd sets/long && tapes)
  short_tapes=$(cd sets/short && tapes)
  [ "$long_tapes" != "$short_tapes" ] || { echo "$case_name: the two cutfiles split alike"; exit 1; }
  same_set() {  # same_set <cutfile>: the folder's tapes are those of the cutfile alone
    local f
    [ "$(tapes)" = "$(cd "sets/$1" && tapes)" ] || return 1
    for f in job.tap $(cd "sets/$1" && tapes); do same "$f" "sets/$1/$f" || return 1; done
  }
  post long.cut
  check "a long run's set differs" same_set long
  post short.cut
  check "a shorter run after a longer: the longer run's further tapes stay" same_set short
  post one.cut
  check "a run that does not split: numbered tapes of the set before stay: $(tapes)" [ -z "$(tapes)" ]
  check "a run that does not split: its set's record stays" [ ! -e job.tap.kelvaron-set ]

  # Tapes of other jobs whose names a set may take (with a fixed extension,
  # job1.tap and job2.tap) are not the set's until it writes them.
  mkdir fixed
  ( cd fixed && cp ../ctl.opt . && printf 'tape extension = fixed\n' > startup &&
    echo "job1's tape" > job1.tap && echo "job2's tape" > job2.tap && cp ../one.cut job.cut &&
    "$exe" ctl job.cut < /dev/null > /dev/null 2>&1 )
  check "a fixed extension: the tapes of other jobs were removed" \
    [ "$(cat fixed/job1.tap fixed/job2.tap 2>/dev/null)" = "job1's tape
job2's tape" ]

  # Runs of one set at once, a long and a short, several times: what is left
  # is one run's whole set.
  for round in 1 2 3 4 5 6; do
    rm -f job.t* job.tap
    cp long.cut a.cut
    cp short.cut b.cut
    "$exe" ctl a.cut -t job < /dev/null > /dev/null 2>&1 &
    first=$!
    "$exe" ctl b.cut -t job < /dev/null > /dev/null 2>&1
    wait $first
    check "round $round: neither run's whole set is left: $(tapes)" eval 'same_set long || same_set short'
  done
  check "unfinished files left" no_unfinished

  # A name so long that the unfinished names are cut short: each tape of
  # the set keeps its own.
  long=$(printf 'x%.0s' $(seq 230))
  cp long.cut job.cut
  "$exe" ctl job.cut -t "$long" < /dev/null > /dev/null 2> err
  code=$?
  check "a 230-character name: exit code $code, expected 0" [ $code -eq 0 ]
  for f in job.tap $long_tapes; do
    check "a 230-character name: ${f#job} differs" same "$long${f#job}" "sets/long/$f"
  done
  check "unfinished files left" no_unfinished

  # The folder is read for leftovers once a run, not once a tape (strace,
  # where it can trace: a count of the reads of the folder).
  if command -v strace > /dev/null && strace -o /dev/null true 2> /dev/null; then
    mkdir crowded
    ( cd crowded && cp ../ctl.opt ../long.cut . && for i in $(seq 3000); do : > "other$i.tap"; done
      ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
        strace -f -e trace=getdents64,getdents -o ../trace.txt "$exe" ctl long.cut < /dev/null > /dev/null 2>&1 )
    reads=$(grep -c 'getdents' trace.txt)
    # One pass over 3000 names takes a few reads; one a tape would take
    # eight times as many.
    check "the folder was read $reads times" [ "$reads" -le 12 ]
  fi
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

#!/usr/bin/env bash
# Checks the user's guide against the program. Installs the project into a
# temporary prefix and walks every installed guide file (share/doc/kelvaron)
# in document order, acting on each part that carries a check marker, an
# HTML comment on the line before it:
#
#   <!-- check: file NAME -->      the code block that follows is written to
#                                  the file NAME of the guide's folder
#   <!-- check: control [BASE] --> the code block is a piece of a control: laid
#                                  on the built-in control BASE (standard when
#                                  not given) it must load without a message
#   <!-- check: run -->            the code block is a console session: a line
#                                  beginning with "$ " is a command, the lines
#                                  after it are what it writes (standard output
#                                  and error together); a line "..." stands for
#                                  any number of lines
#   <!-- check: builtins -->       the Markdown table that follows lists the
#                                  built-in controls: every name must be there,
#                                  each row's units and console questions must
#                                  be those of the program, every control must
#                                  post the installed demo, and the demo without
#                                  its GOHOME record must stop with the go-home
#                                  error exactly for the rows marked "yes" in
#                                  the third column from the right
#                                  (with KELVARON_LOOP_STRIDE set, the runs
#                                  are made for every STRIDE-th row only)
#
# Each guide file runs in a folder of its own (files written by one block are
# there for the next), with the installed kelvaron first on PATH and KELVARON
# naming the installation; in the output, "$KELVARON" stands for that folder.
#
# Usage: check_guide.sh <cmake> <build dir>
set -u
cmake=$1
build=$2
stride=${KELVARON_LOOP_STRIDE:-1}
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
if ! "$cmake" --install "$build" --prefix "$prefix" > "$tmp/install.log" 2>&1; then
  echo "install into $prefix failed:"; cat "$tmp/install.log"; exit 1
fi
docs=$prefix/share/doc/kelvaron
fail=0
checked=0

# The environment of every command: the installed program, a home folder of
# its own, and nothing of the caller's KELVARON settings.
run_env=(env -u QLOR_ASSERT -u KELVARON_USER -u SOURCE_DATE_EPOCH
         PATH="$prefix/bin:$PATH" KELVARON="$prefix" HOME="$tmp/home" LC_ALL=C TZ=UTC)
mkdir -p "$tmp/home"

# Compares an expected session (file 1) with the actual one (file 2), "..."
# lines matching any number of lines; trailing blanks do not count.
match_session() {
  awk '
    FNR == 1 { f++ }
    { sub(/[ \t]+$/, "") }
    f == 1 { e[++ne] = $0; next }
    { a[++na] = $0 }
    END {
      ok[ne + 1, na + 1] = 1
      for (i = ne; i >= 1; i--) {
        for (j = na + 1; j >= 1; j--) {
          if (e[i] == "...") {
            ok[i, j] = ok[i + 1, j] || (j <= na && ok[i, j + 1])
          } else {
            ok[i, j] = j <= na && e[i] == a[j] && ok[i + 1, j + 1]
          }
        }
      }
      exit ok[1, 1] ? 0 : 1
    }' "$1" "$2"
}

# Cuts the marked parts of one guide file into numbered pieces:
# NNN.kind (the marker's words), NNN.line (its line), NNN.text (the block).
split_guide() {
  awk -v dir="$2" '
    function fail(msg) { printf "%s:%d: %s\n", FILENAME, mline, msg > "/dev/stderr"; bad = 1 }
    /^<!-- check: .* -->[ \t]*$/ {
      if (want) fail("marker not followed by a code block or table")
      marker = $0; sub(/^<!-- check: /, "", marker); sub(/ -->[ \t]*$/, "", marker)
      mline = FNR; want = 1; next
    }
    want == 1 && marker == "builtins" {
      if ($0 ~ /^[|]/) { n++; base = sprintf("%s/%03d", dir, n); print marker > (base ".kind")
                        print mline > (base ".line"); want = 2 }
      else { fail("builtins marker not followed by a table"); want = 0; next }
    }
    want == 2 { if ($0 ~ /^[|]/) { print > (base ".text"); next } else { want = 0 } }
    want == 1 {
      if ($0 ~ /^```/) { n++; base = sprintf("%s/%03d", dir, n); print marker > (base ".kind")
                         print mline > (base ".line"); printf "" > (base ".text"); want = 0; inblock = 1; next }
      fail("marker not followed by a code block"); want = 0
    }
    inblock && /^```/ { inblock = 0; next }
    inblock { print > (base ".text") }
    END { if (want == 1) fail("marker at the end of the file"); if (inblock) fail("code block not closed"); exit bad }
  ' "$1"
}

# The standard error of a control that loads cleanly on a base, for comparing.
clean_load_stderr() {
  local base=$1 d=$tmp/clean-$1
  [ -f "$d.err" ] && return
  mkdir -p "$d"
  printf 'machine %s\nend\n' "$base" > "$d/piece.opt"
  (cd "$d" && "${run_env[@]}" kelvaron -w piece > /dev/null 2> "$d.err" < /dev/null)
}

check_control() {
  local where=$1 base=${2:-standard} text=$3 d=$tmp/control
  clean_load_stderr "$base"
  rm -rf "$d"; mkdir -p "$d"
  { printf 'machine %s\n' "$base"; cat "$text"; printf 'end\n'; } > "$d/piece.opt"
  (cd "$d" && "${run_env[@]}" timeout 60 kelvaron -w piece > /dev/null 2> "$d/err" < /dev/null)
  local code=$?
  if [ "$code" != 0 ] || ! cmp -s "$d/err" "$tmp/clean-$base.err"; then
    echo "$where: the control piece does not load cleanly on $base (exit $code):"
    diff "$tmp/clean-$base.err" "$d/err" | head -20
    return 1
  fi
}

check_run() {
  local where=$1 text=$2 session=$3 script=$tmp/session.sh
  {
    echo 'exec 2>&1 < /dev/null'
    echo '__s=0'
    while IFS= read -r line || [ -n "$line" ]; do
      case $line in
        '$ '*)
          cmd=${line#'$ '}
          printf 'printf "%%s\\n" %q\n' "$line"
          printf '(exit $__s); %s\n__s=$?\n' "$cmd"
          ;;
      esac
    done < "$text"
  } > "$script"
  (cd "$session" && "${run_env[@]}" timeout 300 bash "$script") > "$tmp/actual" 2>&1
  sed -i "s|$prefix|\$KELVARON|g" "$tmp/actual"
  if ! match_session "$text" "$tmp/actual"; then
    echo "$where: the session differs (guide, program):"
    diff <(sed 's/[ \t]*$//' "$text") <(sed 's/[ \t]*$//' "$tmp/actual") | head -40
    return 1
  fi
}

check_builtins() {
  local where=$1 table=$2 d=$tmp/builtins rc=0
  rm -rf "$d"; mkdir -p "$d"
  cp "$prefix/share/kelvaron/examples/demo.cut" "$d/job.cut"
  # The demo without its GOHOME record (the GOTO after it stays, as a move).
  grep -v 'I 2000I   17\$$' "$d/job.cut" > "$d/nohome.cut"
  "${run_env[@]}" kelvaron -l < /dev/null 2> /dev/null | sort > "$d/names"
  # Column 1 is the name in backticks; whether the control needs a GOHOME
  # record, the units and the questions are the last three columns.
  awk -F'|' 'NR > 2 {
      name = $2; gsub(/[ `]/, "", name)
      home = $(NF - 3); gsub(/^ +| +$/, "", home)
      units = $(NF - 2); gsub(/^ +| +$/, "", units)
      asks = $(NF - 1); gsub(/^ +| +$/, "", asks)
      machine = $4; gsub(/^ +| +$/, "", machine)
      print name "\t" units "\t" asks "\t" home "\t" machine }' "$table" > "$d/rows"
  cut -f1 "$d/rows" | sort > "$d/listed"
  if ! cmp -s "$d/names" "$d/listed"; then
    echo "$where: the table does not list the built-in controls (-l, table):"
    diff "$d/names" "$d/listed" | head -20
    rc=1
  fi
  local row=0
  while IFS=$'\t' read -r name units asks home machine; do
    row=$((row + 1))
    [ $(( (row - 1) % stride )) -eq 0 ] || continue
    local want_units got_units questions want_questions
    case $units in
      mm) want_units=metric ;;
      inch) want_units=imperial ;;
      "as the cutfile") want_units=input ;;
      *) want_units="($units)" ;;
    esac
    got_units=$(cd "$d" && "${run_env[@]}" kelvaron -w "$name" < /dev/null 2> /dev/null |
                awk '$1 == "units" && $2 == "=" { print $3 }')
    if [ "$got_units" != "$want_units" ]; then
      echo "$where: $name: the guide says units \"$units\", the program's units are \"$got_units\""
      rc=1
    fi
    want_questions=$(printf '%s\n' "$asks" | sed 's/^-$//; s/, /\n/g' | sed '/^$/d' | sort)
    # Every question gets an answer that fits it; the run must end normally.
    local code
    (cd "$d" && printf '1234\n1234\n1234\n1234\n' |
       "${run_env[@]}" timeout 60 kelvaron "$name" job.cut > /dev/null 2> "$d/err")
    code=$?
    questions=$(grep -o 'Enter program number :\|Enter part name\|Enter part number :\|Enter initial C angle\|Is this to be on tape?' "$d/err" |
                sed 's/Enter program number :/program number/; s/Enter part name/part name/;
                     s/Enter part number :/part number/; s/Enter initial C angle/initial C angle/;
                     s/Is this to be on tape?/C angle on tape/' | sort -u)
    if [ "$questions" != "$want_questions" ]; then
      echo "$where: $name: the guide says it asks for \"$asks\", the program asks for \"$(echo $questions)\""
      rc=1
    fi
    # A lathe drills on its spindle axis only: the demo's holes stop it.
    if [ "$machine" = lathe ]; then
      if [ "$code" != 4 ] || ! grep -q 'a hole off the spindle axis' "$d/err"; then
        echo "$where: $name: the demo on a lathe ends with exit code $code, not at its holes:"; tail -n 3 "$d/err"; rc=1
      fi
    elif [ "$code" != 0 ]; then
      echo "$where: $name: the demo ends with exit code $code:"; tail -n 3 "$d/err"; rc=1
    fi
    (cd "$d" && printf '1234\n1234\n1234\n1234\n' |
       "${run_env[@]}" timeout 60 kelvaron "$name" nohome.cut > /dev/null 2> "$d/err")
    code=$?
    local stopped=no
    grep -q 'there is no GOHOME in CLDATA' "$d/err" && [ "$code" = 4 ] && stopped=yes
    if [ "$stopped" != "$([ "$home" = yes ] && echo yes || echo no)" ]; then
      echo "$where: $name: the guide says GOHOME \"$home\"; without it the demo ends with exit code $code"
      rc=1
    fi
  done < "$d/rows"
  return $rc
}

for guide in "$docs"/*.md; do
  name=$(basename "$guide" .md)
  pieces=$tmp/pieces/$name
  session=$tmp/session/$name
  mkdir -p "$pieces" "$session"
  if ! split_guide "$guide" "$pieces"; then fail=1; continue; fi
  for kind_file in "$pieces"/*.kind; do
    [ -e "$kind_file" ] || continue
    piece=${kind_file%.kind}
    read -r kind arg < "$kind_file"
    where="$(basename "$guide"):$(cat "$piece.line")"
    checked=$((checked + 1))
    case $kind in
      file)
        mkdir -p "$(dirname "$session/$arg")"
        cp "$piece.text" "$session/$arg" ;;
      control) check_control "$where" "$arg" "$piece.text" || fail=1 ;;
      run) check_run "$where" "$piece.text" "$session" || fail=1 ;;
      builtins) check_builtins "$where" "$piece.text" || fail=1 ;;
      *) echo "$where: unknown check marker \"$kind\""; fail=1 ;;
    esac
  done
done
if [ "$checked" = 0 ]; then echo "no checked examples found in $docs"; fail=1; fi
[ "$fail" = 0 ] && echo "$checked checked parts of the guide agree with the program"
exit $fail

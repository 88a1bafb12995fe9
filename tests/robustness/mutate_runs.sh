#!/usr/bin/env bash
# Whole runs of kelvaron on damaged copies of the end-to-end cases' input
# files: every run must end with one of its exit codes, never with a signal, a
# sanitizer report or a hang.
#
#   mutate_runs.sh <kelvaron> <mutate_input> <write_cutfile> <group>
#
# A group is a list of "case:file" entries: the case folder under tests/e2e
# gives the arguments and the other input files, and "file" in its in/ folder
# is replaced by a damaged copy. "case:job.cut@N" first replaces job.cut by the
# sample cutfile written in layout N. Each entry runs once as it stands, then
# with MUTATIONS damaged copies from fixed seeds, so a failure reproduces from
# the printed seed ("mutate_input <file> <copy> <seed>").
# Environment: KELVARON_MUTATIONS overrides MUTATIONS, KELVARON_ROBUST_JOBS the
# number of runs at a time, KELVARON_ROBUST_KEEP a folder for failing inputs.
set -u

MUTATIONS=${KELVARON_MUTATIONS:-40}
JOBS=${KELVARON_ROBUST_JOBS:-4}
TIMEOUT=5
ACCEPTED=" 0 1 4 5 7 8 "

exe=$(realpath "$1")
mutator=$(realpath "$2")
writer=$(realpath "$3")
group=$4
e2e=$(cd "$(dirname "$0")/../e2e" && pwd)

case $group in
cutfile)
  entries="job_standard:job.cut job_standard:job.cut@1 job_standard:job.cut@2
    job_standard:job.cut@3 job_standard:job.cut@4 job_standard:job.cut@5
    job_standard:job.cut@6 job_fanuc:job.cut job_commands_fanuc:job.cut
    job_inch_standard:job.cut job_toolpaths_fanuc:job.cut job_incomplete:job.cut
    job_part_number_prompt:job.cut blocks_numbers_conditions:job.cut
    motion_split_and_go_home:moves.cut multiaxis_head_head:job.cut
    multiaxis_head_head_linearised:job.cut multiaxis_table_table:job.cut
    multiaxis_head_circle:job.cut multiaxis_anti_parallel:job.cut" ;;
control)
  entries="compile_continue_after_error:ctl.opt compile_end_comment:ctl.opt
    compile_end_comment:mill.cfg compile_machine_then_option:mill.cfg
    store_settings_blocks:ctl.opt store_settings_blocks:base.cfg
    store_words_formats:ctl.opt store_query_answers:ctl.opt
    dump_text_option_file:rich.opt dump_compact_option_file:rich.opt
    dump_text_table_option_file:rich.opt job_toolpaths_fanuc:mill.opt
    motion_split_and_go_home:moves.opt blocks_numbers_conditions:blk.opt
    multiaxis_head_head:hhead.opt multiaxis_table_table:ttable.opt
    multiaxis_head_circle:uvhead.opt axes_five_axis_unset:ax5.opt" ;;
files)
  entries="mcd_read:standard.mcd mcd_then_option:standard.mcd
    option_machine_cfg:mill5.mcd option_machine_cfg:mill5.cfg
    startup_sections_apply:startup startup_fixed_tape:startup
    startup_names_machine:startup startup_syntax_format:startup
    startup_sections:startup startup_second_message_file:startup
    msgfile_bad_line:kelvaron.msg msgfile_replaces_usage:kelvaron.msg
    msgfile_switch_m_wins:custom.msg msgfile_switch_m_wins:site.msg" ;;
*)
  echo "unknown group $group"; exit 2 ;;
esac

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
keep=${KELVARON_ROBUST_KEEP:-$scratch/keep}
mkdir -p "$keep" "$scratch/base" "$scratch/fail"

# The unmutated input of each entry, written once.
list=()
for entry in $entries; do
  case_name=${entry%%:*}
  file=${entry#*:}
  layout=
  case $file in *@*) layout=${file#*@}; file=${file%@*} ;; esac
  base="$scratch/base/$(echo "$entry" | tr ':@/' '___')"
  if [ -n "$layout" ]; then
    "$writer" "$layout" "$base" || { echo "cannot write layout $layout"; exit 2; }
  else
    cp "$e2e/$case_name/in/$file" "$base" || exit 2
  fi
  list+=("$entry")
done

# One run: entry number and mutation number in, a line in fail/ when it fails.
run_one() {
  local k=$1 m=$2
  local entry=${list[$k]}
  local case_name=${entry%%:*} file=${entry#*:}
  file=${file%@*}
  local base="$scratch/base/$(echo "$entry" | tr ':@/' '___')"
  local seed=$(( $(printf '%s' "$entry" | cksum | cut -d' ' -f1) % 100000 * 1000 + m ))
  local dir="$scratch/run_${k}_$m"
  mkdir -p "$dir/work" "$dir/home"
  [ -d "$e2e/$case_name/in" ] && cp -R "$e2e/$case_name/in/." "$dir/work/"
  if [ "$m" = 0 ]; then cp "$base" "$dir/work/$file"
  else "$mutator" "$base" "$dir/work/$file" "$seed" || return
  fi
  local args=()
  if [ -s "$e2e/$case_name/args" ]; then
    while IFS= read -r line || [ -n "$line" ]; do args+=("$line"); done < "$e2e/$case_name/args"
  fi
  local envs=()
  if [ -f "$e2e/$case_name/env" ]; then
    while IFS= read -r line || [ -n "$line" ]; do
      [ -n "$line" ] && envs+=("${line//@TMP@/$dir}")
    done < "$e2e/$case_name/env"
  fi
  ( cd "$dir/work" && ulimit -f 200000 &&
    env -u KELVARON -u QLOR_ASSERT HOME="$dir/home" LC_ALL=C "${envs[@]}" \
      timeout -k 2 "$TIMEOUT" "$exe" "${args[@]}" < /dev/null > "$dir/stdout" 2> "$dir/stderr" )
  local code=$? why=
  if [ "$code" = 124 ] || [ "$code" = 137 ]; then why="timed out"
  elif [[ $ACCEPTED != *" $code "* ]]; then why="exit code $code"
  elif grep -aqE 'runtime error|AddressSanitizer|LeakSanitizer' "$dir/stderr"; then
    why="sanitizer report"
  fi
  if [ -n "$why" ]; then
    local saved="$keep/${case_name}_${file}_$seed"
    cp "$dir/work/$file" "$saved"
    {
      echo "FAIL $entry seed $seed: $why"
      echo "  input kept as $saved"
      echo "  args: $(tr '\n' ' ' < "$e2e/$case_name/args" 2>/dev/null)"
      grep -aE 'runtime error|ERROR|SUMMARY' "$dir/stderr" | head -3 | sed 's/^/  /'
    } > "$scratch/fail/${k}_$m"
  fi
  rm -rf "$dir"
}

# Runs are spread over JOBS background workers; worker w takes every JOBS-th.
worker() {
  local w=$1 n=0 k m
  for ((k = 0; k < ${#list[@]}; k++)); do
    for ((m = 0; m <= MUTATIONS; m++)); do
      (( n++ % JOBS == w )) && run_one "$k" "$m"
    done
  done
}
for ((w = 0; w < JOBS; w++)); do worker "$w" & done
wait

runs=$(( ${#list[@]} * (MUTATIONS + 1) ))
failures=$(find "$scratch/fail" -type f | wc -l)
if [ "$failures" -gt 0 ]; then
  cat "$scratch/fail"/* | head -200
  [ -z "${KELVARON_ROBUST_KEEP:-}" ] && trap - EXIT && echo "(inputs kept under $keep)"
  echo "$group: $failures of $runs runs failed"
  exit 1
fi
echo "$group: $runs runs, none failed"
exit 0

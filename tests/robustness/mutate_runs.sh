#!/usr/bin/env bash
# Whole runs of kelvaron on damaged copies of the end-to-end cases' input
# files: every run must end with one of its exit codes, never with a signal, a
# sanitizer report or a hang.
#
#   mutate_runs.sh <kelvaron> <robust_runs> <write_cutfile> <group>
#
# A group is a list of "case:file" entries: the case folder under tests/e2e
# gives the arguments and the other input files, and "file" in its in/ folder
# is replaced by a damaged copy. "case:job.cut@N" first replaces job.cut by the
# sample cutfile written in layout N. Each entry runs once as it stands, then
# with MUTATIONS damaged copies from fixed seeds, so a failure reproduces from
# the printed seed ("mutate_input <file> <copy> <seed>"). The cutfile group
# also runs copies with blank lines put in (text cutfiles) and copies cut
# short: each must write the files of the entry's own run, or fail
# (tests/tools/robust_runs.cpp).
# Environment: KELVARON_MUTATIONS overrides MUTATIONS, KELVARON_ROBUST_JOBS the
# number of runs at a time, KELVARON_ROBUST_KEEP a folder for failing inputs,
# and KELVARON_LOOP_STRIDE (1 when unset) runs only every STRIDE-th damaged
# copy of each entry, its undamaged run always (CI sets it for the sanitizer
# build, whose runs are many times slower). A run still going after TIMEOUT
# seconds counts as a hang: the longest undamaged run takes well under a
# second, a sanitizer build's a few seconds on a busy two-core machine.
set -u

MUTATIONS=${KELVARON_MUTATIONS:-40}
JOBS=${KELVARON_ROBUST_JOBS:-4}
STRIDE=${KELVARON_LOOP_STRIDE:-1}
TIMEOUT=20

exe=$(realpath "$1")
runner=$(realpath "$2")
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
mkdir -p "$keep" "$scratch/base"

# The unmutated input of each entry, written once, and the runner's five
# arguments of the entry; robust_runs then makes every run with one process,
# the program's.
args=()
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
  seed_base=$(( $(printf '%s' "$entry" | cksum | cut -d' ' -f1) % 100000 ))
  args+=("$entry" "$case_name" "$file" "$base" "$seed_base")
done

"$runner" "$exe" "$e2e" "$scratch" "$keep" "$MUTATIONS" "$STRIDE" "$JOBS" "$TIMEOUT" "$group" "${args[@]}"
status=$?
if [ "$status" -ne 0 ] && [ -z "${KELVARON_ROBUST_KEEP:-}" ]; then
  trap - EXIT
  echo "(inputs kept under $keep)"
fi
exit $status

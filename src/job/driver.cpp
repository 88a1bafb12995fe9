// Run driver: start-up order, the title box, loading of the control, the one
// mode of the run, and the exit code through the single stop routine.
#include <string>

#include "builtins/builtins.h"
#include "control/control.h"
#include "job/job.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

command_switches_t command_switches;
run_state_t run_state;

namespace {

// The title box on standard error, every '*' drawn as '+', then a line
// holding one blank.
void print_title_box() {
    build_title_banner(PRODUCT_NAME, VERSION_TEXT, REVISION_TEXT);
    for (int i = 1; i <= title_banner.line_count; ++i) {
        char line[TITLE_WIDTH + 1];
        const int n = title_banner.line_length[i];
        for (int j = 1; j <= n; ++j) {
            const char ch = title_banner.lines[i][j];
            line[j - 1] = ch == '*' ? '+' : ch;
        }
        line[n] = '\0';
        print_error_cstring(line);
    }
    print_error_cstring(" ");
}

// Opens the startup or message file along its path; with warn, a file that
// is not found is reported (message 128).
int open_kind_for_reading(int kind, int warn) {
    job_files_t& f = job_files;
    int& unit = f.file_units[unit_slot(kind)];
    open_file_on_path(warn, f.file_names[kind], f.search_paths[kind], f.file_extensions[kind],
                      f.extension_dots[kind], OPEN_READ_OLD, unit);
    // The job's outputs are kept off the file, as off every file the run reads.
    f.input_identities[kind] = identity_of_unit(unit);
    return unit;
}

void close_kind(int kind) {
    int status = 0;
    int& unit = job_files.file_units[unit_slot(kind)];
    filclo(unit, status);
    unit = -1;
}

// Asks for a name that is still blank; the answer "exit" ends the run.
void ask_for_name(int kind, int message_number) {
    text<FILE_NAME_LEN>& name = job_files.file_names[kind];
    if (trimmed_length(name) > 0) return;
    prompt_until_nonblank(name, message_number);
    if (text_equals(name, "exit")) stop_run(EXIT_ANSWER_EXIT);
}

// 13-15. The control: the machine definition, the option file on top of it,
// then the settings derived from both.
void load_control() {
    job_files_t& f = job_files;
    const int machine_unit = f.file_units[unit_slot(FILE_MACHINE)];
    if (machine_unit < 0) {
        // No machine file: the built-in control of the machine name.
        set_default_words();
        int status = 0;
        load_builtin_control(f.machine_name, status);
        if (status != 0) {
            issue_message(192);
            stop_run(EXIT_NO_CONTROL);
        }
        set_message_string_arg(1, f.machine_name);
        issue_message(229);
    } else if (text_equals(f.file_extensions[FILE_MACHINE], "cfg")) {
        // Option-file text, compiled on the configuration defaults alone.
        parse_option_file(machine_unit, trimmed(f.file_names[FILE_MACHINE].view()));
    } else {
        // An MCD file, laid over the default words.
        set_default_words();
        int status = 0;
        read_mcd_file(f.file_units[unit_slot(FILE_MACHINE)], f.machine_name, status);
        if (status != 0) {
            if (status > 1000) {
                set_message_int_arg(1, status);
                issue_message(148);
            }
            stop_run(EXIT_NO_CONTROL);
        }
    }

    // 14. The first compact dump: the machine definition alone.
    if (command_switches.cfg_dump) write_cfg_dump();

    parse_option_file(f.file_units[unit_slot(FILE_CONTROL)], trimmed(f.file_names[FILE_CONTROL].view()));
    derive_settings();
    check_loaded_blocks();
}

// 16. The normal job: the blocks made complete, pass 1, the set-up, the
// headers and the tape start, then the record loop. A failed pass 1, an
// unmachinable workplane or a failed workplane change ends the run with
// exit code 4.
void run_normal_job() {
    int status = 0;
    check_word_formats();
    expand_all_blocks();
    run_pass1(status);
    if (status != 0) stop_run(EXIT_RUN_ERROR);
    check_multiaxis_machine();
    set_three_axis_flag();
    convert_units_and_geometry();
    check_toolpath_workplanes(status);
    if (status != 0) stop_run(EXIT_RUN_ERROR);
    get_date_time_text(run_state.run_date_time);
    write_listing_headers(run_state.run_date_time);
    start_tape(run_state.run_date_time);
    process_cldata_records(status);
    if (status != 0) stop_run(EXIT_RUN_ERROR);
}

// 16. Exactly one mode, tested in this order.
void run_selected_mode() {
    const command_switches_t& s = command_switches;
    if (s.cfg_dump) {
        write_cfg_dump();
    } else if (s.text_dump) {
        write_option_file_text(s.text_dump_form);
    } else if (s.difference_dump) {
        print_configuration_differences();
    } else if (s.write_mcd) {
        // A control that names none (a built-in list) is named after the
        // control it was loaded as: its file and the name it carries.
        text<WORD_NAME_LENGTH>& control_name = configuration_store.gpnams[0];
        if (trimmed_length(control_name) == 0) control_name.set(trimmed(job_files.machine_name.view()));
        int status = 0;
        write_mcd_file(status);
        if (status != 0) stop_run(EXIT_RUN_ERROR);
    } else {
        run_normal_job();
    }
}

}  // namespace

int program_version_number() {
    // The first characters of the major and minor versions and the first two
    // of the revision, read as one decimal number.
    const char digits[4] = {VERSION_MAJOR[0], VERSION_MINOR[0], REVISION_TEXT[0], REVISION_TEXT[1]};
    int error = 0;
    return read_int_field(std::string_view(digits, 4), 4, error);
}

void run_postprocessor() {
    // 1. A clean slate.
    run_state.exit_status = EXIT_OK;
    command_switches = command_switches_t{};
    tape_state.tape_number = 1;

    // 2, 3. Units, the message table and its built-in texts; the built-in
    // control names.
    int status = 0;
    init_units(status);
    if (status != 0) stop_run(EXIT_RUN_ERROR);
    install_interrupt_cleanup();
    init_message_table(status);
    if (status != 0) stop_run(EXIT_RUN_ERROR);
    register_builtin_messages();
    init_control_names();

    // 4. Title box.
    print_title_box();

    // 5, 6. Defaults, then the command line, whose names win over them.
    set_configuration_defaults();
    set_file_defaults();
    parse_command_line(status);
    if (status != 0) stop_run(EXIT_COMMAND_LINE);

    // 7. The defaults that "-f" compares against, before anything is loaded.
    if (command_switches.difference_dump) save_default_configuration();

    // 8. Startup file: not finding one is not an error.
    if (open_kind_for_reading(FILE_STARTUP, 0) >= 0) {
        read_startup_file(job_files.file_units[unit_slot(FILE_STARTUP)], status);
        close_kind(FILE_STARTUP);
        if (status != 0) stop_run(EXIT_COMMAND_LINE);
    }

    // 9. Message file: it replaces the built-in texts; its status is not acted
    // on. The default one may be missing; one that "-m" or the startup file
    // names is reported when it is not found, and the built-in texts stay.
    const int message_file_named = trimmed_length(job_files.file_names[FILE_MESSAGE]) != 0;
    if (!message_file_named) job_files.file_names[FILE_MESSAGE].set("kelvaron");
    if (open_kind_for_reading(FILE_MESSAGE, message_file_named) >= 0) {
        read_message_file(job_files.file_units[unit_slot(FILE_MESSAGE)], status);
        close_kind(FILE_MESSAGE);
    }

    // 10. Usage text or the list of built-in controls end the run here.
    if (command_switches.usage) {
        issue_message(235);
        stop_run(EXIT_OK);
    }
    if (command_switches.list_controls) {
        list_builtin_controls();
        stop_run(EXIT_OK);
    }

    // 11. Names still missing are asked for.
    ask_for_name(FILE_CUTFILE, 103);
    ask_for_name(FILE_CONTROL, 104);

    // 12. The job's files; open_job_files reports its own failure.
    open_job_files(job_files.machine_name, run_state.exit_status);
    if (run_state.exit_status != 0) stop_run(run_state.exit_status);

    load_control();
    run_selected_mode();

    // 17, 18. A mode that ended normally prints the warning summary.
    print_warning_summary();
    stop_run(run_state.exit_status);
}

}  // namespace kv

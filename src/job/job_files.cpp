// Opens the job's files before the control is loaded: the cutfile, the tape,
// print and setup files named after it, the option file named after the
// control, the machine file it names, and the temporary file of "-c".
#include <string>

#include "control/control.h"
#include "job/job.h"
#include "ppnsub/ppnsub.h"

namespace kv {

namespace {

// Characters of the option file's first line that are looked at for the
// machine statement.
constexpr int OPTION_FIRST_LINE_LEN = 256;

int& unit_of(int kind) { return job_files.file_units[unit_slot(kind)]; }

// The name without its directory and its extension.
void bare_name(std::span<char> result, std::string_view name) {
    text<FILE_NAME_LEN> part;
    file_name_part(part, name);
    strip_extension(result, part);
}

// Whether the extension of a name (after the last '.' of its last part) is ext.
bool has_extension(std::string_view name, std::string_view ext) {
    text<FILE_NAME_LEN> part;
    file_name_part(part, name);
    const int dot = find_last_char(trimmed(part.view()), '.');
    return dot > 0 && text_equals(part.view().substr(static_cast<std::size_t>(dot)), ext);
}

// The machine named by an option file: the second word of its machine
// statement, which is the file's first line other than empty and comment
// lines. Blank when that line is not a machine statement or names nothing.
// The file is rewound for the compiler; false when it cannot be.
bool read_option_machine_name(int unit, std::span<char> machine_file) {
    assign_text(machine_file, "");
    text<OPTION_FIRST_LINE_LEN> line;
    text<OPTION_FIRST_LINE_LEN> token;
    int lines = 0;
    for (;;) {
        const int st = read_continued_line(unit, line, lines);
        if (st != 0 && st != LINE_OVERLONG) break;
        const int type = next_token(line, token);
        if (type == TOKEN_NONE || (type == TOKEN_WORD && token[1] == '#')) continue;
        if (type == TOKEN_WORD && text_equals(token, "machine")) {
            const int t2 = next_token(line, token);
            if (t2 != TOKEN_NONE && !(t2 == TOKEN_WORD && token[1] == '#')) assign_text(machine_file, token);
        }
        break;
    }
    int status = 0;
    rewind_unit(unit, status);
    return status == 0;
}

// The cutfile: composed with its extension and separator, searched along
// its path and handed to the cutfile reader. The name as it is reported when
// it cannot be opened is the composed one.
bool open_cutfile(text<FILE_NAME_LEN>& reported) {
    job_files_t& f = job_files;
    text<FILE_NAME_LEN>& name = f.file_names[FILE_CUTFILE];
    reported = name;
    int status = 0;
    text<FILE_NAME_LEN> built;
    locate_file_on_path(name, f.search_paths[FILE_CUTFILE], f.file_extensions[FILE_CUTFILE],
                        f.extension_dots[FILE_CUTFILE], OPEN_READ_OLD, built, status);
    if (trimmed_length(built) > 0) reported = built;
    if (status != 0) return false;
    const int layout = command_switches.force_ascii ? CLDATA_ASCII
                       : command_switches.force_native ? CLDATA_NATIVE
                                                        : CLDATA_DETECT;
    open_cldata(trimmed(name.view()), layout, status);
    if (status == 0) f.input_identities[FILE_CUTFILE] = identity_of_unit(cldata_reader.unit);
    return status == 0;
}

bool is_console_or_null(std::string_view name) { return text_equals(name, "none") || text_equals(name, "tty"); }

// Whether the output of this kind, as its name would be found for writing,
// is a file the job reads; reported then gets that name.
bool output_over_input(int kind, text<FILE_NAME_LEN>& reported) {
    job_files_t& f = job_files;
    if (is_console_or_null(f.file_names[kind])) return false;
    text<FILE_NAME_LEN> found = f.file_names[kind];
    text<FILE_NAME_LEN> built;
    int status = 0;
    locate_file_on_path(found, f.search_paths[kind], f.file_extensions[kind], f.extension_dots[kind], OPEN_WRITE,
                        built, status);
    if (status != 0 || !is_job_input(found)) return false;
    reported = found;
    return true;
}

// Whether an output opened before the input of this kind was found is that
// very file. Nothing has been written over it yet: an output takes its name
// only when it is finished.
bool opened_output_is(int input_kind, text<FILE_NAME_LEN>& reported) {
    job_files_t& f = job_files;
    for (int kind : {FILE_TAPE, FILE_PRINT, FILE_SETUP}) {
        const int unit = unit_of(kind);
        if (unit < 0 || is_null_unit(unit) || unit == tty_unit()) continue;
        if (same_file(identity_of_file(f.file_names[kind]), f.input_identities[input_kind])) {
            reported = f.file_names[kind];
            return true;
        }
    }
    return false;
}

// Only a control file that is missing lets the run go on without it: one
// that is there but cannot be read is an error (exit code 5), reported by
// the name it was found under.
int unreadable_control_file(const text<FILE_NAME_LEN>& given, int kind, std::string_view extension,
                            text<FILE_NAME_LEN>& reported) {
    job_files_t& f = job_files;
    text<FILE_NAME_LEN> found = given;
    text<FILE_NAME_LEN> built;
    int status = 0;
    locate_existing_file(found, f.search_paths[kind], extension, f.extension_dots[kind], built, status);
    if (status != 0) return 0;
    reported = found;
    return EXIT_NO_CONTROL;
}

// Outcome of opening an output of the job.
constexpr int OUTPUT_OPENED = 0;
constexpr int OUTPUT_NOT_OPENED = 1;
constexpr int OUTPUT_REFUSED = 2;  // over an input, or over another output

// The cutfile's name without its directory and its extension, which names
// the job's outputs. An extension joined by another character than '.' (the
// startup statement "cldata dot") goes with that character: bracket_cut gives
// bracket.
void cutfile_base_name(text<FILE_NAME_LEN>& base) {
    const job_files_t& f = job_files;
    text<FILE_NAME_LEN> part;
    file_name_part(part, f.file_names[FILE_CUTFILE]);
    const char dot = f.extension_dots[FILE_CUTFILE];
    const std::string_view extension = trimmed(f.file_extensions[FILE_CUTFILE].view());
    if (dot == '.' || extension.empty()) {
        strip_extension(base, part);
        return;
    }
    std::string suffix;
    if (dot != ' ') suffix += dot;
    suffix += extension;
    const std::string_view name = trimmed(part.view());
    if (name.size() > suffix.size() && name.ends_with(suffix)) {
        assign_text(base, name.substr(0, name.size() - suffix.size()));
    } else {
        assign_text(base, name);
    }
}

// An output file of the job (tape, print, setup): a blank name becomes the
// cutfile's base name. An output that would take the place of an input is
// not opened at all.
int open_output_file(int kind, std::string_view base, int warn, text<FILE_NAME_LEN>& reported) {
    job_files_t& f = job_files;
    text<FILE_NAME_LEN>& name = f.file_names[kind];
    if (trimmed_length(name) == 0) assign_text(name, trimmed(base));
    reported = name;
    if (output_over_input(kind, reported)) return OUTPUT_REFUSED;
    open_file_on_path(warn, name, f.search_paths[kind], f.file_extensions[kind], f.extension_dots[kind], OPEN_WRITE,
                      unit_of(kind));
    if (unit_of(kind) < 0) return OUTPUT_NOT_OPENED;
    // Two outputs under one name: the one finished last would replace the
    // other (the tape lost under the print listing), so the run is refused.
    for (int other : {FILE_TAPE, FILE_PRINT}) {
        if (other == kind) break;
        if (same_final_name(unit_of(kind), unit_of(other))) {
            reported = name;
            return OUTPUT_REFUSED;
        }
    }
    // A name from a startup file (one in the job's folder, say) may send the
    // output anywhere: the console says where it goes.
    if (f.named_by_startup[kind] != 0 && !is_console_or_null(f.file_names[kind])) {
        static constexpr std::string_view kinds[] = {"Tape", "Print", "Setup"};
        set_message_string_arg(1, kinds[kind == FILE_TAPE ? 0 : kind == FILE_PRINT ? 1 : 2]);
        set_message_string_arg(2, f.file_names[kind]);
        issue_message(304);
    }
    return OUTPUT_OPENED;
}

// The option file named after the control. When it exists, its machine
// statement names the machine file; a file that names none has the name
// asked for. Returns the exit code of a failure, else 0.
int open_option_file(text<FILE_NAME_LEN>& reported) {
    job_files_t& f = job_files;
    const text<FILE_NAME_LEN> given = f.file_names[FILE_CONTROL];
    open_file_on_path(0, f.file_names[FILE_CONTROL], f.search_paths[FILE_CONTROL], f.file_extensions[FILE_CONTROL],
                      f.extension_dots[FILE_CONTROL], OPEN_READ_OLD, unit_of(FILE_CONTROL));
    if (unit_of(FILE_CONTROL) < 0)
        return unreadable_control_file(given, FILE_CONTROL, f.file_extensions[FILE_CONTROL], reported);
    f.input_identities[FILE_CONTROL] = identity_of_unit(unit_of(FILE_CONTROL));
    if (opened_output_is(FILE_CONTROL, reported)) return EXIT_RUN_ERROR;
    set_message_string_arg(1, f.file_names[FILE_CONTROL]);
    issue_message(200);
    // An option file that cannot be read again from its start (a pipe) would
    // be compiled without its first lines: it is a file that cannot be read.
    if (!read_option_machine_name(unit_of(FILE_CONTROL), f.file_names[FILE_MACHINE])) {
        reported = f.file_names[FILE_CONTROL];
        return EXIT_NO_CONTROL;
    }
    if (trimmed_length(f.file_names[FILE_MACHINE]) == 0) prompt_until_nonblank(f.file_names[FILE_MACHINE], 104);
    return 0;
}

// The machine file: a "cfg" file of option-file text, else an "mcd" file,
// else none, and the built-in control of the machine name is loaded. The
// extension left in file_extensions tells the loader which it is. Returns
// the exit code of a failure, else 0.
int open_machine_file(std::string_view machine_name, text<FILE_NAME_LEN>& reported) {
    job_files_t& f = job_files;
    text<FILE_NAME_LEN>& name = f.file_names[FILE_MACHINE];
    text<FILE_EXTENSION_LEN>& extension = f.file_extensions[FILE_MACHINE];
    int& unit = unit_of(FILE_MACHINE);
    const text<FILE_NAME_LEN> before = name;
    const auto opened = [&](int message) {
        f.input_identities[FILE_MACHINE] = identity_of_unit(unit);
        if (opened_output_is(FILE_MACHINE, reported)) return EXIT_RUN_ERROR;
        set_message_string_arg(1, name);
        issue_message(message);
        return 0;
    };

    extension.set("cfg");
    open_file_on_path(0, name, f.search_paths[FILE_MACHINE], extension, f.extension_dots[FILE_MACHINE],
                      OPEN_READ_OLD, unit);
    // A name given with its own extension is found by the first search
    // whatever that extension is; an "mcd" file found so is still read as one.
    if (unit >= 0 && !has_extension(name, "mcd")) return opened(201);
    if (unit < 0) {
        const int failure = unreadable_control_file(before, FILE_MACHINE, "cfg", reported);
        if (failure != 0) return failure;
        name = before;
        extension.set("mcd");
        open_file_on_path(0, name, f.search_paths[FILE_MACHINE], extension, f.extension_dots[FILE_MACHINE],
                          OPEN_READ_OLD, unit);
    }
    extension.set("mcd");
    if (unit >= 0) return opened(202);
    const int failure = unreadable_control_file(before, FILE_MACHINE, "mcd", reported);
    if (failure != 0) return failure;
    name.set(trimmed(machine_name));
    extension.clear();
    return 0;
}

// The temporary file of "-c", named after the option file when there is one,
// else after the machine file; its first line is the machine name.
bool open_temporary_file(std::string_view machine_name, text<FILE_NAME_LEN>& reported) {
    job_files_t& f = job_files;
    text<FILE_NAME_LEN>& name = f.file_names[FILE_TEMPORARY];
    bare_name(name, unit_of(FILE_CONTROL) >= 0 ? f.file_names[FILE_CONTROL] : f.file_names[FILE_MACHINE]);
    reported = name;
    int& unit = unit_of(FILE_TEMPORARY);
    if (output_over_input(FILE_TEMPORARY, reported)) return false;
    open_file_on_path(0, name, f.search_paths[FILE_TEMPORARY], f.file_extensions[FILE_TEMPORARY],
                      f.extension_dots[FILE_TEMPORARY], OPEN_WRITE_NEW, unit);
    if (unit < 0) return false;
    int status = 0;
    filwri(unit, trimmed_length(machine_name) > 0 ? trimmed(machine_name) : std::string_view(" "), status);
    return status == 0;
}

}  // namespace

bool is_job_input(std::string_view name) {
    const file_identity id = identity_of_file(name);
    for (int kind : {FILE_STARTUP, FILE_MESSAGE, FILE_CUTFILE, FILE_CONTROL, FILE_MACHINE}) {
        if (same_file(id, job_files.input_identities[kind])) return true;
    }
    return false;
}

void open_job_files(std::span<char> machine_name, int& exit_status) {
    job_files_t& f = job_files;
    exit_status = 0;
    assign_text(machine_name, "standard");
    const std::string_view machine(machine_name.data(), machine_name.size());
    text<FILE_NAME_LEN> reported;
    for (int kind : {FILE_CUTFILE, FILE_CONTROL, FILE_MACHINE}) f.input_identities[kind] = {};
    int failure = 0;  // the exit code once a file has failed

    if (!text_equals(f.file_names[FILE_CUTFILE], "none") && !open_cutfile(reported)) failure = EXIT_RUN_ERROR;
    if (failure == 0 && trimmed_length(f.file_names[FILE_MACHINE]) == 0)
        strip_extension(f.file_names[FILE_MACHINE], f.file_names[FILE_CONTROL]);

    text<FILE_NAME_LEN> base;
    cutfile_base_name(base);
    if (failure == 0 && open_output_file(FILE_TAPE, base, 0, reported) != OUTPUT_OPENED) failure = EXIT_RUN_ERROR;
    // The print and setup files only warn when they cannot be opened.
    for (int kind : {FILE_PRINT, FILE_SETUP}) {
        if (failure == 0 && open_output_file(kind, base, 1, reported) == OUTPUT_REFUSED) failure = EXIT_RUN_ERROR;
    }
    if (failure == 0) failure = open_option_file(reported);
    if (failure == 0) {
        bare_name(machine_name, f.file_names[FILE_MACHINE]);
        failure = open_machine_file(machine, reported);
    }
    unit_of(FILE_TEMPORARY) = -1;
    if (failure == 0 && command_switches.cfg_dump && !open_temporary_file(machine, reported)) failure = EXIT_RUN_ERROR;
    if (failure == 0) return;

    exit_status = failure;
    issue_message(127);
    set_message_string_arg(1, reported);
    issue_message(126);
}

}  // namespace kv

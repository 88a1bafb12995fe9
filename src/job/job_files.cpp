// Opens the job's files before the control is loaded: the cutfile, the tape,
// print and setup files named after it, the option file named after the
// control, the machine file it names, and the temporary file of "-c".
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
// The file is rewound for the compiler.
void read_option_machine_name(int unit, std::span<char> machine_file) {
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
    return status == 0;
}

// An output file of the job (tape, print, setup): a blank name becomes the
// cutfile's base name without its extension.
bool open_output_file(int kind, std::string_view base, int warn, text<FILE_NAME_LEN>& reported) {
    job_files_t& f = job_files;
    text<FILE_NAME_LEN>& name = f.file_names[kind];
    if (trimmed_length(name) == 0) strip_extension(name, base);
    reported = name;
    open_file_on_path(warn, name, f.search_paths[kind], f.file_extensions[kind], f.extension_dots[kind], OPEN_WRITE,
                      unit_of(kind));
    return unit_of(kind) >= 0;
}

// The option file named after the control. When it exists, its machine
// statement names the machine file; a file that names none has the name
// asked for.
void open_option_file() {
    job_files_t& f = job_files;
    open_file_on_path(0, f.file_names[FILE_CONTROL], f.search_paths[FILE_CONTROL], f.file_extensions[FILE_CONTROL],
                      f.extension_dots[FILE_CONTROL], OPEN_READ_OLD, unit_of(FILE_CONTROL));
    if (unit_of(FILE_CONTROL) < 0) return;
    set_message_string_arg(1, f.file_names[FILE_CONTROL]);
    issue_message(200);
    read_option_machine_name(unit_of(FILE_CONTROL), f.file_names[FILE_MACHINE]);
    if (trimmed_length(f.file_names[FILE_MACHINE]) == 0) prompt_until_nonblank(f.file_names[FILE_MACHINE], 104);
}

// The machine file: a "cfg" file of option-file text, else an "mcd" file,
// else none, and the built-in control of the machine name is loaded. The
// extension left in file_extensions tells the loader which it is.
void open_machine_file(std::string_view machine_name) {
    job_files_t& f = job_files;
    text<FILE_NAME_LEN>& name = f.file_names[FILE_MACHINE];
    text<FILE_EXTENSION_LEN>& extension = f.file_extensions[FILE_MACHINE];
    int& unit = unit_of(FILE_MACHINE);
    const text<FILE_NAME_LEN> before = name;

    extension.set("cfg");
    open_file_on_path(0, name, f.search_paths[FILE_MACHINE], extension, f.extension_dots[FILE_MACHINE],
                      OPEN_READ_OLD, unit);
    // A name given with its own extension is found by the first search
    // whatever that extension is; an "mcd" file found so is still read as one.
    if (unit >= 0 && !has_extension(name, "mcd")) {
        set_message_string_arg(1, name);
        issue_message(201);
        return;
    }
    if (unit < 0) {
        name = before;
        extension.set("mcd");
        open_file_on_path(0, name, f.search_paths[FILE_MACHINE], extension, f.extension_dots[FILE_MACHINE],
                          OPEN_READ_OLD, unit);
    }
    extension.set("mcd");
    if (unit >= 0) {
        set_message_string_arg(1, name);
        issue_message(202);
        return;
    }
    name.set(trimmed(machine_name));
    extension.clear();
}

// The temporary file of "-c", named after the option file when there is one,
// else after the machine file; its first line is the machine name.
bool open_temporary_file(std::string_view machine_name, text<FILE_NAME_LEN>& reported) {
    job_files_t& f = job_files;
    text<FILE_NAME_LEN>& name = f.file_names[FILE_TEMPORARY];
    bare_name(name, unit_of(FILE_CONTROL) >= 0 ? f.file_names[FILE_CONTROL] : f.file_names[FILE_MACHINE]);
    reported = name;
    int& unit = unit_of(FILE_TEMPORARY);
    open_file_on_path(0, name, f.search_paths[FILE_TEMPORARY], f.file_extensions[FILE_TEMPORARY],
                      f.extension_dots[FILE_TEMPORARY], OPEN_WRITE_NEW, unit);
    if (unit < 0) return false;
    int status = 0;
    filwri(unit, trimmed_length(machine_name) > 0 ? trimmed(machine_name) : std::string_view(" "), status);
    return status == 0;
}

}  // namespace

void open_job_files(std::span<char> machine_name, int& exit_status) {
    job_files_t& f = job_files;
    exit_status = 0;
    assign_text(machine_name, "standard");
    const std::string_view machine(machine_name.data(), machine_name.size());
    text<FILE_NAME_LEN> reported;
    bool ok = true;

    if (!text_equals(f.file_names[FILE_CUTFILE], "none")) ok = open_cutfile(reported);
    if (ok && trimmed_length(f.file_names[FILE_MACHINE]) == 0)
        strip_extension(f.file_names[FILE_MACHINE], f.file_names[FILE_CONTROL]);

    text<FILE_NAME_LEN> base;
    file_name_part(base, f.file_names[FILE_CUTFILE]);
    if (ok) ok = open_output_file(FILE_TAPE, base, 0, reported);
    if (ok) {
        text<FILE_NAME_LEN> ignored;
        open_output_file(FILE_PRINT, base, 1, ignored);
        open_output_file(FILE_SETUP, base, 1, ignored);
        open_option_file();
        bare_name(machine_name, f.file_names[FILE_MACHINE]);
        open_machine_file(machine);
        if (command_switches.cfg_dump) ok = open_temporary_file(machine, reported);
        else unit_of(FILE_TEMPORARY) = -1;
    }
    if (ok) return;

    exit_status = EXIT_RUN_ERROR;
    issue_message(127);
    set_message_string_arg(1, reported);
    issue_message(126);
}

}  // namespace kv

// Names of the job's files: their defaults, extensions and search paths under
// the installation roots, the opening of one file along its path, and the
// console prompts that ask for a missing name.
#include <cstdio>

#include "job/job.h"
#include "ppnsub/ppnsub.h"

namespace kv {

job_files_t job_files;

namespace {

// Installation root used besides the one that the KELVARON environment
// variable names: the product folder of this version and revision (1516).
// Linux has no drive letters, so nothing is put before it.
constexpr std::string_view INSTALLED_ROOT = "/qlor/product/kelvaron1516";
// Shared configuration folder searched for option and startup files.
constexpr std::string_view CONFIG_FOLDER = "/qlor/config/kelvaron/";

constexpr int PATH_ACCESS_EXISTS = 0;  // access modes of find_file_on_path
constexpr int PATH_ACCESS_WRITE = 2;
constexpr int PATH_ACCESS_READ = 4;

// Appends ";" root tail to a search path, only when the whole entry fits.
void append_root(std::span<char> path, std::string_view root, std::string_view tail) {
    const int used = trimmed_length(std::string_view(path.data(), path.size()));
    const int rl = trimmed_length(root);
    const std::size_t need = 1 + static_cast<std::size_t>(rl) + tail.size();
    if (static_cast<std::size_t>(used) + need > path.size()) return;
    std::size_t p = static_cast<std::size_t>(used);
    path[p++] = ';';
    for (int i = 0; i < rl; ++i) path[p++] = root[static_cast<std::size_t>(i)];
    for (char ch : tail) path[p++] = ch;
}

// The installation roots in search order: KELVARON when set and not blank,
// then the product folder. A root is read into a field longer than any path,
// so that a value too long to be searched is left out whole (append_root)
// rather than cut into the name of some other folder.
constexpr int ROOT_LEN = 4 * SEARCH_PATH_LEN;
int installation_roots(array1<text<ROOT_LEN>, 2>& roots) {
    int n = 0;
    get_env_text("KELVARON", roots[n + 1]);
    if (trimmed_length(roots[n + 1]) > 0) ++n;
    roots[++n].set(INSTALLED_ROOT);
    return n;
}

// Replaces the dot before the extension in the base name by the separator of
// the kind, or removes it when the separator is blank. A dot in a directory
// is never touched.
void apply_extension_separator(std::span<char> name, char separator) {
    if (separator == '.') return;
    const std::string_view v(name.data(), name.size());
    const int len = trimmed_length(v);
    const int slash = find_last_char(v.substr(0, static_cast<std::size_t>(len)), '/');
    const int dot = find_last_char(v.substr(0, static_cast<std::size_t>(len)), '.');
    if (dot == 0 || dot < slash) return;
    const std::size_t d = static_cast<std::size_t>(dot - 1);
    if (separator != ' ') {
        name[d] = separator;
        return;
    }
    for (std::size_t i = d; i + 1 < name.size(); ++i) name[i] = name[i + 1];
    name[name.size() - 1] = ' ';
}

int input_at_end() {
    std::FILE* in = unit_table.stream[static_cast<std::size_t>(input_unit())];
    return in == nullptr || std::feof(in) || std::ferror(in) ? 1 : 0;
}

// Drops the rest of an answer line that did not fit its field, so that its
// tail is not taken as the next answer.
void discard_rest_of_input_line() {
    std::FILE* in = unit_table.stream[static_cast<std::size_t>(input_unit())];
    if (in == nullptr) return;
    for (int ch = std::fgetc(in); ch != EOF && ch != '\n'; ch = std::fgetc(in)) {
    }
}

}  // namespace

void set_file_defaults() {
    job_files_t& f = job_files;
    static constexpr std::string_view names[NFILEKINDS] = {"", "none", "", "", "", "", "startup", "", ""};
    static constexpr std::string_view extensions[NFILEKINDS] = {"cut", "prt", "inf", "tap", "opt",
                                                                "mcd", "",    "msg", "tmp"};
    for (int k = 1; k <= NFILEKINDS; ++k) {
        f.file_names[k].set(names[k - 1]);
        f.file_extensions[k].set(extensions[k - 1]);
        f.extension_dots[k] = '.';
        f.search_paths[k].set(".");
    }
    for (int u = 1; u <= NFILEUNITS; ++u) f.file_units[u] = -1;
    f.input_identities = {};
    f.named_by_startup = {};
    f.fixed_tape = 0;

    text<SEARCH_PATH_LEN> config;
    config.set(".");
    append_root(config, CONFIG_FOLDER, "");
    f.search_paths[FILE_CONTROL] = config;
    f.search_paths[FILE_STARTUP] = config;

    array1<text<ROOT_LEN>, 2> roots;
    const int n = installation_roots(roots);
    for (int r = 1; r <= n; ++r) {
        append_root(f.search_paths[FILE_MACHINE], roots[r], "/lib/");
        append_root(f.search_paths[FILE_STARTUP], roots[r], "/sys/misc/");
        append_root(f.search_paths[FILE_MESSAGE], roots[r], "/sys/hci/");
    }
}

namespace {

void locate_for_access(std::span<char> name, std::string_view path, std::string_view extension, char separator,
                       int access, std::span<char> built, int& status) {
    build_file_name(built, std::string_view(name.data(), name.size()), extension, "", status);
    if (status != 0) {
        assign_text(name, "");
        return;
    }
    apply_extension_separator(built, separator);
    find_file_on_path(std::string_view(built.data(), built.size()), path, access, name, status);
}

}  // namespace

void locate_file_on_path(std::span<char> name, std::string_view path, std::string_view extension,
                         char separator, int mode, std::span<char> built, int& status) {
    const int access = (mode == OPEN_READ || mode == OPEN_READ_OLD) ? PATH_ACCESS_READ : PATH_ACCESS_WRITE;
    locate_for_access(name, path, extension, separator, access, built, status);
}

void locate_existing_file(std::span<char> name, std::string_view path, std::string_view extension,
                          char separator, std::span<char> built, int& status) {
    locate_for_access(name, path, extension, separator, PATH_ACCESS_EXISTS, built, status);
}

void open_file_on_path(int warn, std::span<char> name, std::string_view path, std::string_view extension,
                       char separator, int mode, int& unit) {
    const std::string_view given(name.data(), name.size());
    unit = -1;
    if (text_equals(given, "none")) {
        unit = null_unit();
        return;
    }
    text<FILE_NAME_LEN> as_given;
    assign_text(as_given, given);

    if (text_equals(given, "tty")) {
        // Standard output closed by whoever started the run: what is written
        // there reaches nobody, so it is a file that cannot be opened.
        if (!unit_table.output_closed_at_start) unit = tty_unit();
    } else {
        int status = 0;
        text<FILE_NAME_LEN> full;
        // An output to a device (/dev/null, /dev/stdout, a pipe) goes to the
        // device named, never to a file of that name with an extension added.
        const bool writing = mode != OPEN_READ && mode != OPEN_READ_OLD;
        if (!(writing && is_device_name(given))) locate_file_on_path(name, path, extension, separator, mode, full, status);
        if (status == 0) {
            int u = NO_UNIT;
            open_unit(u, given, mode, FORM_TEXT, status);
            if (status == 0) unit = u;
        }
    }
    if (unit < 0) {
        unit = -1;
        if (warn) {
            set_message_string_arg(1, as_given);
            issue_message(128);
        }
    }
}

int prompt_and_read_line(std::string_view prompt, std::span<char> field) {
    int status = 0;
    const int n = trimmed_length(prompt);
    filuwr(message_unit(), prompt.substr(0, static_cast<std::size_t>(n > 0 ? n : 1)), status);
    if (status != 0) {
        assign_text(field, "");
        return 0;
    }
    const int c = irasc(input_unit(), field, static_cast<int>(field.size()));
    if (c < 0) {
        discard_rest_of_input_line();
        assign_text(field, "");
        return 0;
    }
    // An empty line reads like the end of the input: the answer is missing.
    if (c == 0) {
        assign_text(field, "");
        return 0;
    }
    for (std::size_t i = static_cast<std::size_t>(c); i < field.size(); ++i) field[i] = ' ';
    return 1;
}

int prompt_until_nonblank(std::span<char> field, int message_number) {
    text<64> prompt;
    while (trimmed_length(std::string_view(field.data(), field.size())) == 0) {
        format_message_first_line(message_number, prompt);
        if (prompt_and_read_line(prompt, field)) continue;
        issue_message(101);
        // Asking again could never be answered once standard input has ended;
        // the run ends as if the answer had been "exit".
        if (input_at_end()) stop_run(EXIT_ANSWER_EXIT);
    }
    return 1;
}

}  // namespace kv

// File names: composition from a name, a default directory and a default
// extension (with "~" for the home directory), server names, the search of a
// ';'-separated directory list, access tests and the parts of a name.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "ppnsub/ppnsub.h"

namespace kv {

namespace {

// The separator that composed names are written with. Names read from the
// user may use '/' or '\' (and ':' after a drive); both are written as this.
constexpr char PATH_SEPARATOR = '/';
constexpr char FOREIGN_SEPARATOR = '\\';

bool is_separator(char ch) { return ch == '/' || ch == '\\' || ch == ':'; }

// The home directory for a leading "~": HOME, else the password database.
std::string home_directory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return home;
    const passwd* pw = getpwuid(geteuid());
    if (pw != nullptr && pw->pw_dir != nullptr) return pw->pw_dir;
    return {};
}

// Appends to a result field, refusing to run past its end.
struct field_writer {
    std::span<char> out;
    std::size_t pos = 0;
    bool put(std::string_view s) {
        if (s.size() > out.size() - pos) return false;
        for (char ch : s) out[pos++] = ch;
        return true;
    }
};

// Separators become PATH_SEPARATOR; a separator followed by further
// separators or '~' characters loses them (which also drops the "~" of a name
// placed after the home directory).
void normalise_separators(std::span<char> field, std::size_t used) {
    std::size_t w = 0;
    bool after_separator = false;
    for (std::size_t r = 0; r < used; ++r) {
        char ch = field[r];
        if (ch == FOREIGN_SEPARATOR) ch = PATH_SEPARATOR;
        if (after_separator && (ch == PATH_SEPARATOR || ch == '~')) continue;
        after_separator = ch == PATH_SEPARATOR;
        field[w++] = ch;
    }
    for (std::size_t i = w; i < field.size(); ++i) field[i] = ' ';
}

}  // namespace

void build_file_name(std::span<char> result, std::string_view name, std::string_view ext,
                     std::string_view dir, int& status) {
    if (name.size() >= 2 && ((name[0] == '/' && name[1] == '/') || (name[0] == '\\' && name[1] == '\\'))) {
        build_unc_file_name(result, name, ext, dir, status);
        return;
    }
    for (char& ch : result) ch = ' ';
    const std::string_view nm = trimmed(name);
    const std::string_view ex = trimmed(ext);
    const std::string_view dr = trimmed(dir);
    const int len = static_cast<int>(nm.size());

    // Scan back from the end: the first '.' before any separator is the
    // extension dot; the first separator (or a '~' in column 1) ends the
    // directory part. Columns are 1-based, 0 for none.
    int dot = 0;
    int dir_end = 0;
    for (int i = len; i >= 1; --i) {
        const char ch = nm[static_cast<std::size_t>(i - 1)];
        if (is_separator(ch) || (i == 1 && ch == '~')) {
            dir_end = i;
            break;
        }
        if (ch == '.' && dot == 0) dot = i;
    }
    const bool home = (len > 0 && nm[0] == '~') || (dir_end == 0 && !dr.empty() && dr[0] == '~');
    const int base_end = dot > 0 ? dot - 1 : len;
    if (base_end <= dir_end) {
        status = IO_MISSING;
        return;
    }

    field_writer w{result};
    bool fits = true;
    if (home) {
        const std::string h = home_directory();
        fits = !h.empty() && w.put(h) && w.put(std::string_view(&PATH_SEPARATOR, 1));
    }
    if (fits) {
        if (dir_end > 0) {
            fits = w.put(nm.substr(0, static_cast<std::size_t>(dir_end)));
        } else if (!dr.empty()) {
            fits = w.put(dr) && w.put(std::string_view(&PATH_SEPARATOR, 1));
        }
    }
    if (fits) fits = w.put(nm.substr(static_cast<std::size_t>(dir_end), static_cast<std::size_t>(base_end - dir_end)));
    const int field_len = static_cast<int>(result.size());
    if (fits) {
        if (dot > 0) {
            // The name ends before the field's last column.
            fits = w.put(nm.substr(static_cast<std::size_t>(dot - 1))) && static_cast<int>(w.pos) < field_len;
        } else {
            if (!ex.empty()) fits = (ex[0] == '.' || w.put(".")) && w.put(ex);
            // The column after the name lies before the field's last column.
            fits = fits && static_cast<int>(w.pos) + 1 < field_len;
        }
    }
    if (!fits) {
        for (char& ch : result) ch = ' ';
        status = IO_MISSING;
        return;
    }
    normalise_separators(result, w.pos);
    status = IO_OK;
}

void build_unc_file_name(std::span<char> result, std::string_view name, std::string_view ext,
                         std::string_view, int& status) {
    for (char& ch : result) ch = ' ';
    const std::string_view nm = trimmed(name);
    const std::string_view ex = trimmed(ext);
    std::string composed(nm);
    if (composed.size() < 2) composed.resize(2, ' ');
    composed[0] = PATH_SEPARATOR;
    composed[1] = PATH_SEPARATOR;
    for (char& ch : composed)
        if (ch == FOREIGN_SEPARATOR) ch = PATH_SEPARATOR;
    if (composed.find('.', 2) == std::string::npos) {
        // An extension given with its dot does not get a second one.
        if (ex.empty() || ex[0] != '.') composed += '.';
        composed += ex;
    }
    if (composed.size() > result.size()) {
        status = IO_MISSING;
        return;
    }
    assign_text(result, composed);
    status = IO_OK;
}

void find_file_on_path(std::string_view name, std::string_view list, int mode, std::span<char> result,
                       int& status) {
    for (char& ch : result) ch = ' ';
    status = IO_NOT_FOUND;
    const std::string_view entries = trimmed(list);
    std::size_t start = 0;
    while (start <= entries.size() && !entries.empty()) {
        std::size_t end = entries.find(';', start);
        if (end == std::string_view::npos) end = entries.size();
        std::string_view entry = entries.substr(start, end - start);
        while (!entry.empty() && entry.front() == ' ') entry.remove_prefix(1);
        if (!trimmed(entry).empty()) {
            int built = IO_OK;
            build_file_name(result, name, "", entry, built);
            if (built == IO_OK) {
                int usable = IO_NOT_FOUND;
                file_usable_for(std::string_view(result.data(), result.size()), mode, usable);
                if (usable == IO_OK) {
                    status = IO_OK;
                    return;
                }
            }
        }
        start = end + 1;
    }
    for (char& ch : result) ch = ' ';
}

void file_usable_for(std::string_view name, int mode, int& status) {
    status = IO_NOT_FOUND;
    if (mode < 0 || mode > 7) return;
    if (check_file_access(name, mode) == 0) status = IO_OK;
    // A file to be written need not exist yet.
    else if (mode == 2 && check_file_access(name, 0) != 0) status = IO_OK;
}

int check_file_access(std::string_view name, int mode) {
    if (mode < 0 || mode > 7) return -1;
    const std::string path(trimmed(name));
    if (path.empty() || path.find('\0') != std::string::npos) return -1;
    // The mode bits 4 read, 2 write, 1 execute and 0 existence are the
    // platform's own.
    return access(path.c_str(), mode) == 0 ? 0 : -1;
}

void file_name_part(std::span<char> result, std::string_view name) {
    std::size_t from = 0;
    for (std::size_t i = name.size(); i > 0; --i) {
        if (is_separator(name[i - 1])) {
            from = i;
            break;
        }
    }
    assign_text(result, name.substr(from));
}

// Only a '.' after the last separator starts an extension, so that "../ctl/x"
// keeps its directory dots.
void strip_extension(std::span<char> result, std::string_view name) {
    std::size_t dot = std::string_view::npos;
    for (std::size_t i = name.size(); i > 0; --i) {
        if (is_separator(name[i - 1])) break;
        if (name[i - 1] == '.') {
            dot = i - 1;
            break;
        }
    }
    assign_text(result, dot == std::string_view::npos ? name : name.substr(0, dot));
}

}  // namespace kv

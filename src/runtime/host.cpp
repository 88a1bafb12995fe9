// Host services: the stored command line, environment values, the program's
// drive, the login name, date and time text, and long path names.
#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "runtime/runtime.h"

namespace kv {

stored_command_line_t stored_command_line;

namespace {

constexpr const char* WEEKDAY_NAMES[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* MONTH_NAMES[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Copies a text into a field cut to one character less than the field, pads it
// with blanks and ends it with a NUL (which trimmed_length ignores).
void assign_nul_ended(std::span<char> field, std::string_view value) {
    if (field.empty()) return;
    assign_text(field.first(field.size() - 1), value);
    field[field.size() - 1] = '\0';
}

// The next blank-separated word of a text, from position pos on.
std::string_view next_word(std::string_view s, std::size_t& pos) {
    while (pos < s.size() && s[pos] == ' ') ++pos;
    const std::size_t start = pos;
    while (pos < s.size() && s[pos] != ' ' && s[pos] != '\n') ++pos;
    return s.substr(start, pos - start);
}

}  // namespace

void store_command_line(int argc, char** argv) {
    stored_command_line.argc = argc < 0 || argv == nullptr ? 0 : argc;
    stored_command_line.argv = argv;
}

void arg_count(int& count) { count = stored_command_line.argc; }

void get_arg(int i, char* out, int capacity, int& length) {
    length = 0;
    if (out == nullptr || capacity <= 0) return;
    out[0] = '\0';
    if (i < 0 || i >= stored_command_line.argc || stored_command_line.argv[i] == nullptr) return;
    const char* arg = stored_command_line.argv[i];
    const std::size_t n = std::strlen(arg);
    const std::size_t room = static_cast<std::size_t>(capacity - 1);
    const std::size_t k = n < room ? n : room;
    std::memcpy(out, arg, k);
    out[k] = '\0';
    length = static_cast<int>(k);
}

void get_command_line_text(std::span<char> field, int& status) {
    for (char& ch : field) ch = ' ';
    const int len = static_cast<int>(field.size());
    int start = 1;
    for (int i = 1; i < stored_command_line.argc; ++i) {
        if (start > len) break;
        char buffer[ARG_FIELD_LENGTH + 1];
        int n = 0;
        get_arg(i, buffer, ARG_FIELD_LENGTH + 1, n);
        text<ARG_FIELD_LENGTH> arg(std::string_view(buffer, static_cast<std::size_t>(n)));
        quote_if_blanks(arg);
        // The next argument starts one blank after this one as written, quotes
        // included.
        const int t = trimmed_length(arg);
        assign_text_range(field, start, start + t - 1 < len ? start + t - 1 : len, arg, 1, t);
        start += t + 1;
    }
    status = 0;
}

void quote_if_blanks(std::span<char> field) {
    const int len = static_cast<int>(field.size());
    int t = trimmed_length(std::string_view(field.data(), field.size()));
    bool blank = false;
    for (int i = 0; i < t; ++i)
        if (field[static_cast<std::size_t>(i)] == ' ') blank = true;
    if (!blank || len < 2) return;
    // Without room for both quotes the text loses its last characters: the
    // argument stays one quoted word.
    if (t > len - 2) t = len - 2;
    for (int i = t; i >= 1; --i) field[static_cast<std::size_t>(i)] = field[static_cast<std::size_t>(i - 1)];
    field[0] = '"';
    field[static_cast<std::size_t>(t + 1)] = '"';
}

void get_env_text(std::string_view name, std::span<char> field) {
    const std::string key(trimmed(name));
    const char* value = key.empty() ? nullptr : std::getenv(key.c_str());
    assign_nul_ended(field, value == nullptr ? std::string_view() : std::string_view(value));
}

// This platform has no drives: names from the root of the file system are used
// as they stand.
void add_program_drive(std::span<char> result, std::string_view name) { assign_text(result, name); }

std::string get_login_name() {
    // KELVARON_USER, when set, stands in for the login name, so that a run's
    // headers can be reproduced whoever runs it.
    if (const char* user = std::getenv("KELVARON_USER"); user != nullptr && user[0] != '\0') return user;
    const passwd* pw = getpwuid(geteuid());
    if (pw != nullptr && pw->pw_name != nullptr && pw->pw_name[0] != '\0') return pw->pw_name;
    return "USERERROR";
}

void get_user_name(std::span<char> field) { assign_text(field, get_login_name()); }

std::string get_time_text() {
    std::time_t now = std::time(nullptr);
    if (const char* fixed = std::getenv("SOURCE_DATE_EPOCH"); fixed != nullptr && fixed[0] != '\0') {
        char* end = nullptr;
        const long long v = std::strtoll(fixed, &end, 10);
        if (end != nullptr && *end == '\0' && v >= 0) now = static_cast<std::time_t>(v);
    }
    std::tm parts{};
    if (localtime_r(&now, &parts) == nullptr) return {};
    char out[64];
    std::snprintf(out, sizeof out, "%s %s %02d %02d:%02d:%02d %d", WEEKDAY_NAMES[parts.tm_wday % 7],
                  MONTH_NAMES[parts.tm_mon % 12], parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  parts.tm_year + 1900);
    return out;
}

void date_time_text_from(std::string_view time_text, std::span<char> field) {
    std::size_t pos = 0;
    next_word(time_text, pos);  // weekday
    const std::string_view month = next_word(time_text, pos);
    std::string_view day = next_word(time_text, pos);
    const std::string_view clock = next_word(time_text, pos);
    const std::string_view year = next_word(time_text, pos);

    text<DATE_TIME_LENGTH> t;
    if (day.size() == 1) {
        t[1] = '0';
        t[2] = day[0];
    } else {
        assign_text_range(t, 1, 2, day, 1, 2);
    }
    assign_text_range(t, 4, 6, month, 1, 3);
    assign_text_range(t, 8, 11, year, 1, 4);
    assign_text_range(t, 13, 14, clock, 1, 2);
    t[15] = '.';
    assign_text_range(t, 16, 17, clock, 4, 5);
    t[18] = '.';
    assign_text_range(t, 19, 20, clock, 7, 8);
    // A field shorter than the text takes what fits; a longer one is blank after it.
    assign_text(field, t);
    convert_case(field, 1);
}

void make_date_time_text(std::span<char> field) { date_time_text_from(get_time_text(), field); }

void get_date_time_text(std::span<char> field) {
    make_date_time_text(field);
    std::span<char> lower = field.size() >= 6 ? field.subspan(4, 2) : std::span<char>();
    convert_case(lower, 0);
}

std::string concat_strings(std::initializer_list<std::string_view> texts) {
    std::string joined;
    for (std::string_view s : texts) joined += s;
    return joined;
}

void get_long_path_name(std::string_view path, std::span<char> result) {
    const std::string p(trimmed(path));
    char resolved[PATH_MAX];
    const bool ok = !p.empty() && realpath(p.c_str(), resolved) != nullptr;
    assign_nul_ended(result, ok ? std::string_view(resolved) : std::string_view(p));
}

}  // namespace kv

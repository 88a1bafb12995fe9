// Reads the command line "kelvaron <control> <cutfile> <switches>": switches
// in the manner of getopt, and up to two names that may stand before, between
// or after the switches.
#include "control/control.h"
#include "job/job.h"
#include "ppnsub/ppnsub.h"

namespace kv {

command_line_state_t command_line_state;

namespace {

constexpr int SCAN_SWITCH = 0;  // a switch letter was returned
constexpr int SCAN_END = 2;     // the line is used up
constexpr int SCAN_ERROR = 8;   // an unknown switch or a missing argument was met

// The most characters of a bad word shown in message 219, so that the message
// line still fits its 132 columns.
constexpr int SHOWN_ARGUMENT_LEN = 100;

void report_unknown_option(std::string_view word) {
    const int n = trimmed_length(word);
    set_message_string_arg(1, word.substr(0, static_cast<std::size_t>(n < SHOWN_ARGUMENT_LEN ? n : SHOWN_ARGUMENT_LEN)));
    issue_message(219);
}

// Largest joined command line that the host could produce, plus one so that
// an argument that is too long is told from one that just fits.
constexpr int ARG_PROBE_LEN = COMMAND_WORD_LEN + 2;

// Finds the first argument that cannot be scanned whole: one longer than a
// word, or one that would push the joined line past its buffer (the host cuts
// the line there, and a cut name would open some other file). Returns its
// index, 0 when all fit.
int find_overlong_argument() {
    int count = 0;
    arg_count(count);
    int joined = 0;
    for (int i = 1; i < count; ++i) {
        char arg[ARG_PROBE_LEN];
        int n = 0;
        get_arg(i, arg, ARG_PROBE_LEN, n);
        if (n > COMMAND_WORD_LEN) return i;
        std::string_view a(arg, static_cast<std::size_t>(n));
        int quotes = a.find(' ') != std::string_view::npos ? 2 : 0;
        joined += (i > 1 ? 1 : 0) + n + quotes;
        if (joined > COMMAND_LINE_LEN) return i;
    }
    return 0;
}

// Acts on one switch letter.
void apply_switch(char letter) {
    command_switches_t& s = command_switches;
    int status = 0;
    switch (letter) {
    case 's': get_option_argument(job_files.file_names[FILE_STARTUP], status); break;
    case 'm': get_option_argument(job_files.file_names[FILE_MESSAGE], status); break;
    // A blank print, setup or tape name is later made from the cutfile's name.
    case 'p': get_option_argument(job_files.file_names[FILE_PRINT], status); break;
    case 'i': get_option_argument(job_files.file_names[FILE_SETUP], status); break;
    case 't': get_option_argument(job_files.file_names[FILE_TAPE], status); break;
    case 'a': s.force_ascii = 1; s.force_native = 0; break;
    case 'n': s.force_native = 1; s.force_ascii = 0; break;
    case 'c': s.cfg_dump = 1; s.text_dump = 0; s.write_mcd = 0; break;
    case 'x': s.write_mcd = 1; s.cfg_dump = 0; s.text_dump = 0; break;
    case 'w': s.text_dump = 1; s.write_mcd = 0; s.cfg_dump = 0; s.text_dump_form = 0; break;
    case 'q': s.text_dump = 1; s.cfg_dump = 0; s.write_mcd = 0; s.text_dump_form = 1; break;
    case 'f':
        s.difference_dump = 1; s.text_dump = 0; s.write_mcd = 0; s.cfg_dump = 0; s.text_dump_form = 0;
        break;
    case 'l':
        s.list_controls = 1; s.difference_dump = 0; s.text_dump = 0; s.write_mcd = 0; s.cfg_dump = 0;
        s.text_dump_form = 0;
        break;
    case 'h':
    case '?': s.usage = 1; break;
    case 'o': s.continue_after_error = 1; break;
    default: break;  // -r, and the marks ':' and ';', do nothing
    }
}

}  // namespace

void init_command_line() {
    command_line_state_t& c = command_line_state;
    int status = 0;
    get_command_line_text(c.line, status);
    c.set_aside.clear();
    c.pending.clear();
    c.pending_held = 0;
    c.argument.clear();
    c.too_long = find_overlong_argument();
}

int normalise_slashes(std::span<char> field) {
    int n = trimmed_length(std::string_view(field.data(), field.size()));
    for (int i = 0; i < n; ++i)
        if (field[static_cast<std::size_t>(i)] == '\\') field[static_cast<std::size_t>(i)] = '/';
    return n;
}

void append_quoted_operand(std::span<char> buffer, std::string_view word) {
    const int len = static_cast<int>(buffer.size());
    int p = trimmed_length(std::string_view(buffer.data(), buffer.size()));
    auto put = [&](char ch) {
        if (p < len) buffer[static_cast<std::size_t>(p++)] = ch;
    };
    put(' ');
    put('"');
    for (char ch : trimmed(word)) put(ch);
    put('"');
}

void scan_command_option(std::string_view options, char& letter, int& status) {
    command_line_state_t& c = command_line_state;
    c.argument.clear();
    status = SCAN_SWITCH;
    normalise_slashes(c.line);
    for (;;) {
        if (!c.pending_held) {
            if (next_token(c.line, c.pending) == TOKEN_NONE) {
                if (status != SCAN_ERROR) status = SCAN_END;
                return;
            }
            c.pending_held = 1;
        }
        if (c.pending[1] != '-') {
            append_quoted_operand(c.set_aside, c.pending);
            c.pending.clear();
            c.pending_held = 0;
            continue;
        }
        const char x = c.pending[2];
        const int at = x == ' ' ? 0 : find_char(options, x);
        if (at == 0 || trimmed_length(c.pending) > 2) {
            report_unknown_option(c.pending.view().substr(1));
            c.pending.clear();
            c.pending_held = 0;
            status = SCAN_ERROR;
            continue;
        }
        letter = x;
        c.pending.clear();
        c.pending_held = 0;
        const char mark = at < static_cast<int>(options.size()) ? options[static_cast<std::size_t>(at)] : ' ';
        if (mark == ':' || mark == ';') {
            if (next_token(c.line, c.pending) != TOKEN_NONE) {
                if (c.pending[1] != '-') {
                    c.argument = c.pending;
                    c.pending.clear();
                } else {
                    c.pending_held = 1;  // the next switch
                }
            }
            // Without an argument a ';' switch stands alone; a ':' switch fails.
            if (trimmed_length(c.argument) == 0 && mark == ':') {
                const char l[1] = {x};
                set_message_string_arg(1, std::string_view(l, 1));
                issue_message(220);
                status = SCAN_ERROR;
            }
        }
        return;
    }
}

void get_option_argument(std::span<char> field, int& status) {
    assign_text(field, command_line_state.argument);
    status = trimmed_length(command_line_state.argument) == 0 ? SCAN_END : 0;
}

void get_positional_argument(std::span<char> field, int& status) {
    command_line_state_t& c = command_line_state;
    text<COMMAND_WORD_LEN> word;
    if (next_token(c.set_aside, word) == TOKEN_NONE && next_token(c.line, word) == TOKEN_NONE) {
        status = SCAN_END;
        return;
    }
    assign_text(field, word);
    status = 0;
}

void parse_command_line(int& status) {
    status = 0;
    init_command_line();
    if (command_line_state.too_long > 0) {
        char arg[ARG_PROBE_LEN];
        int n = 0;
        get_arg(command_line_state.too_long, arg, ARG_PROBE_LEN, n);
        report_unknown_option(std::string_view(arg, static_cast<std::size_t>(n)));
        status = SCAN_ERROR;
        return;
    }
    char letter = ' ';
    int scan = SCAN_SWITCH;
    for (;;) {
        scan_command_option(OPTION_STRING, letter, scan);
        if (scan != SCAN_SWITCH) break;
        apply_switch(letter);
    }
    if (scan != SCAN_END) {
        status = SCAN_ERROR;
        return;
    }
    auto& names = job_files.file_names;
    const command_switches_t& s = command_switches;
    int found = 0;
    if (s.write_mcd || s.cfg_dump || s.text_dump || s.difference_dump) {
        // A mode that only writes the control reads no cutfile.
        get_positional_argument(names[FILE_CONTROL], found);
        names[FILE_CUTFILE].set("none");
    } else {
        get_positional_argument(names[FILE_CONTROL], found);
        get_positional_argument(names[FILE_CUTFILE], found);
        if (names[FILE_CUTFILE][1] == ' ') {
            // One name alone is the cutfile; the control is asked for.
            names[FILE_CUTFILE] = names[FILE_CONTROL];
            names[FILE_CONTROL].clear();
        }
    }
    normalise_slashes(names[FILE_CONTROL]);
    normalise_slashes(names[FILE_CUTFILE]);
}

}  // namespace kv

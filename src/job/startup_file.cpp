// Reads the startup file: statements that name the machine section, and per
// file kind the file name, extension, separator and search path, the cutfile
// format and the message file. Names given on the command line win.
#include <array>

#include "control/control.h"
#include "job/job.h"
#include "ppnsub/ppnsub.h"

namespace kv {

namespace {

constexpr int STARTUP_KEYWORD_WIDTH = 20;
constexpr int STARTUP_KEYWORDS = 18;
constexpr int STARTUP_LINE_LEN = PHYSICAL_LINE_LIMIT;
constexpr int STARTUP_TOKEN_LEN = FILE_NAME_LEN;

// The keywords of the startup file, sorted as match_keyword needs them.
constexpr std::array<const char*, STARTUP_KEYWORDS> STARTUP_KEYWORD_TEXTS = {
    "=",       "ascii",   "binary", "cldata", "dot", "extension", "file",  "format", "machine",
    "message", "native",  "none",   "off",    "on",  "path",      "print", "setup",  "tape",
};

struct startup_reader_t {
    array1<text<STARTUP_KEYWORD_WIDTH>, STARTUP_KEYWORDS> keywords;
    int unit = -1;
    text<STARTUP_LINE_LEN> line;
    text<STARTUP_TOKEN_LEN> token;
    int lines_read = 0;
    int message_file_named = 0;  // this file has named the message file
};

enum class startup_error { none, ambiguous, cut_short, syntax };

startup_reader_t& reader() {
    static startup_reader_t r;
    return r;
}

std::string_view keyword_table_text() { return text_table_view(reader().keywords); }

// Why the keyword reader gave no token: the end of the file, or a line too
// long to be read whole. Such a line is an error, not the end of the file,
// so that the statements after it are not silently lost; its start is the
// token that the error names.
startup_error no_token_read() {
    if (lexer_buffers.last_read_status != LINE_OVERLONG) return startup_error::cut_short;
    reader().token.set(trimmed(lexer_buffers.overlong_text.view()));
    return startup_error::syntax;
}

// The next keyword of the statement stream: the keyword's text in token and
// its index, 0 for anything else; e tells why when it is not a keyword.
int next_keyword(startup_error& e) {
    startup_reader_t& r = reader();
    const int k = read_next_keyword(r.unit, keyword_table_text(), STARTUP_KEYWORD_WIDTH, STARTUP_KEYWORDS, r.line,
                                    r.token, r.lines_read);
    if (k > KEYWORD_INDEX_OFFSET) return k - KEYWORD_INDEX_OFFSET;
    if (k == 0) e = no_token_read();
    else if (k < 0) e = startup_error::ambiguous;
    else e = startup_error::syntax;
    return 0;
}

bool is_keyword(int index, const char* keyword) {
    return index > 0 && text_equals(reader().keywords[index], keyword);
}

// Expects the keyword "=" next.
bool expect_equals(startup_error& e) {
    const int k = next_keyword(e);
    if (is_keyword(k, "=")) return true;
    if (e == startup_error::none) e = startup_error::syntax;
    return false;
}

// The value of a statement: the next token of the current line.
bool read_value(startup_error& e) {
    startup_reader_t& r = reader();
    if (next_token(r.line, r.token) != TOKEN_NONE) return true;
    e = startup_error::cut_short;
    return false;
}

// The file kind that a statement begins with, 0 when it is none of them.
int statement_kind(int k) {
    if (is_keyword(k, "cldata")) return FILE_CUTFILE;
    if (is_keyword(k, "print")) return FILE_PRINT;
    if (is_keyword(k, "setup")) return FILE_SETUP;
    if (is_keyword(k, "tape")) return FILE_TAPE;
    return 0;
}

void machine_statement(text<FILE_NAME_LEN>& section, startup_error& e) {
    if (!read_value(e)) return;
    section.set(reader().token.view());
    text<FILE_NAME_LEN>& control = job_files.file_names[FILE_CONTROL];
    if (trimmed_length(control) == 0) control = reader().token;
}

void format_statement(startup_error& e) {
    startup_reader_t& r = reader();
    if (!expect_equals(e) || !read_value(e)) return;
    int status = 0;
    text<STARTUP_TOKEN_LEN> value = r.token;
    const int k = match_keyword(value, keyword_table_text(), STARTUP_KEYWORD_WIDTH, STARTUP_KEYWORDS, status);
    command_switches_t& s = command_switches;
    if (status == MATCH_FOUND && is_keyword(k, "ascii") && !s.force_native) {
        s.force_ascii = 1;
    } else if (status == MATCH_FOUND && is_keyword(k, "native") && !s.force_ascii) {
        s.force_native = 1;
    } else if (!(status == MATCH_FOUND && is_keyword(k, "binary"))) {
        e = startup_error::syntax;  // not a format, or one that contradicts the other
    }
}

void file_statement(int kind, startup_error& e) {
    startup_reader_t& r = reader();
    job_files_t& f = job_files;
    const int k = next_keyword(e);
    if (is_keyword(k, "format") && kind == FILE_CUTFILE) {
        format_statement(e);
        return;
    }
    const bool file = is_keyword(k, "file"), extension = is_keyword(k, "extension"), dot = is_keyword(k, "dot"),
               path = is_keyword(k, "path");
    if (!(file || extension || dot || path)) {
        if (e == startup_error::none) e = startup_error::syntax;
        return;
    }
    if (!expect_equals(e) || !read_value(e)) return;
    if (file) {
        if (trimmed_length(f.file_names[kind]) == 0) {
            f.file_names[kind] = r.token;
            f.named_by_startup[kind] = 1;
        }
    } else if (extension) {
        if (kind == FILE_TAPE && text_equals(r.token, "fixed")) f.fixed_tape = 1;
        else f.file_extensions[kind].set(r.token.view());
    } else if (dot) {
        f.extension_dots[kind] = r.token[1];
    } else {
        f.search_paths[kind].set(r.token.view());
        // An output sent to another folder than the current one goes there
        // as surely as one the startup file names: the console says where.
        if (!text_equals(r.token, ".")) f.named_by_startup[kind] = 1;
    }
}

void message_statement(startup_error& e) {
    startup_reader_t& r = reader();
    const int k = read_next_keyword(r.unit, keyword_table_text(), STARTUP_KEYWORD_WIDTH, STARTUP_KEYWORDS, r.line,
                                    r.token, r.lines_read);
    if (k == TOKEN_INTEGER) {
        // "message n on|off|none" is accepted and has no effect.
        const int v = next_keyword(e);
        if (!(is_keyword(v, "on") || is_keyword(v, "off") || is_keyword(v, "none")) && e == startup_error::none)
            e = startup_error::syntax;
        return;
    }
    if (k == 0) {
        e = no_token_read();
        return;
    }
    if (k < 0) {
        e = startup_error::ambiguous;
        return;
    }
    if (!is_keyword(k - KEYWORD_INDEX_OFFSET, "file")) {
        e = startup_error::syntax;
        return;
    }
    if (!expect_equals(e) || !read_value(e)) return;
    // A second statement is an error; a name given with "-m" wins over the
    // statement without one.
    if (r.message_file_named) {
        e = startup_error::syntax;
        return;
    }
    r.message_file_named = 1;
    text<FILE_NAME_LEN>& name = job_files.file_names[FILE_MESSAGE];
    if (trimmed_length(name) == 0) name = r.token;
}

void report_startup_error(startup_error e) {
    startup_reader_t& r = reader();
    const text<FILE_NAME_LEN>& name = job_files.file_names[FILE_STARTUP];
    set_message_int_arg(1, r.lines_read);
    if (trimmed_length(name) > 0) {
        set_message_string_arg(1, name);
        issue_message(223);
    } else {
        issue_message(224);
    }
    switch (e) {
    case startup_error::ambiguous:
        if (trimmed_length(r.token) > 0) {
            set_message_string_arg(1, r.token);
            issue_message(225);
        }
        break;
    case startup_error::cut_short: issue_message(227); break;
    default:
        set_message_string_arg(1, r.token);
        issue_message(226);
        break;
    }
}

}  // namespace

void read_startup_file(int unit, int& status) {
    startup_reader_t& r = reader();
    for (int i = 1; i <= STARTUP_KEYWORDS; ++i) r.keywords[i].set(STARTUP_KEYWORD_TEXTS[static_cast<std::size_t>(i - 1)]);
    r.unit = unit;
    r.line.clear();
    r.token.clear();
    r.lines_read = 0;
    r.message_file_named = 0;
    job_files.fixed_tape = 0;
    status = 0;
    // The section name is kept as long as the control name it is compared
    // with: a name cut short would never equal the control that it named.
    text<FILE_NAME_LEN> section;

    for (;;) {
        startup_error e = startup_error::none;
        const int k = next_keyword(e);
        if (k == 0 && e == startup_error::cut_short) return;  // the end of the file between statements
        const int kind = statement_kind(k);
        if (kind > 0) {
            // A section for another control passes over the statement and the
            // rest of its line.
            const text<FILE_NAME_LEN>& control = job_files.file_names[FILE_CONTROL];
            if (trimmed_length(control) > 0 && trimmed_length(section) > 0 && !text_equals(section, control)) {
                r.line.clear();
                continue;
            }
            file_statement(kind, e);
        } else if (is_keyword(k, "machine")) {
            machine_statement(section, e);
        } else if (is_keyword(k, "message")) {
            message_statement(e);
        } else if (e == startup_error::none) {
            e = startup_error::syntax;
        }
        if (e != startup_error::none) {
            report_startup_error(e);
            status = 1;
            return;
        }
    }
}

}  // namespace kv

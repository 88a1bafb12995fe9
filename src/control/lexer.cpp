// Reads option-file text into logical lines, keywords of one or several words
// and parser symbols for the compiler; the startup-file reader shares the
// first layers.
#include <algorithm>

#include "control/control.h"
#include "ppnsub/ppnsub.h"

namespace kv {

lexer_buffers_t lexer_buffers;

namespace {

std::string_view view_of(std::span<char> f) { return {f.data(), f.size()}; }

// Reads one physical line into lexer_buffers.physical. Returns 0 with the
// count of characters read, IO_END at the end of the file, or LINE_OVERLONG
// for a line over PHYSICAL_LINE_LIMIT, whose start is kept for the message
// and whose rest is passed over so that reading resumes on the next line.
int read_physical_line(int unit, int& count) {
    lexer_buffers_t& lb = lexer_buffers;
    count = 0;
    int c = irasc(unit, lb.physical.span(), PHYSICAL_LINE_LIMIT);
    if (c < 0) {
        if (unit_at_end(unit)) return IO_END;
        assign_text(lb.overlong_text, lb.physical.view());
        while (c < 0 && !unit_at_end(unit)) c = irasc(unit, lb.physical.span(), PHYSICAL_LINE_LIMIT);
        lb.physical.clear();
        return LINE_OVERLONG;
    }
    if (c == 0 && unit_at_end(unit)) return IO_END;
    for (int i = c + 1; i <= PHYSICAL_LINE_LIMIT; ++i) lb.physical[i] = ' ';
    count = c;
    return 0;
}

// The logical line ends with a backslash: it becomes a blank and the next
// physical line is joined.
bool ends_with_backslash(std::span<char> line) {
    int n = trimmed_length_ws(view_of(line));
    if (n > 0 && line[static_cast<std::size_t>(n - 1)] == '\\') {
        line[static_cast<std::size_t>(n - 1)] = ' ';
        return true;
    }
    return false;
}

// Appends the physical line directly after the last character of line that
// is not a blank, tab or NUL. Returns false when it does not fit.
bool append_physical(std::span<char> line) {
    const int at = trimmed_length_ws(view_of(line));
    const int n = trimmed_length_ws(lexer_buffers.physical.view());
    if (at + n > static_cast<int>(line.size())) return false;
    std::copy_n(lexer_buffers.physical.c.data(), n, line.data() + at);
    return true;
}

// Copies a line into a snapshot, or a snapshot back into a line.
void save_line(text<PHYSICAL_LINE_LIMIT>& snapshot, std::span<char> line) { assign_text(snapshot, view_of(line)); }
void restore_line(std::span<char> line, const text<PHYSICAL_LINE_LIMIT>& snapshot) {
    assign_text(line, snapshot.view());
}

bool is_comment(int type, std::span<char> token) { return type == TOKEN_WORD && !token.empty() && token[0] == '#'; }

// Appends a blank and the word to the text being matched; false when the
// text would not hold it (no keyword is that long).
bool append_word(text<LEXER_TEXT_LENGTH>& t, std::string_view word) {
    const int at = trimmed_length(t.view());
    const int n = trimmed_length(word);
    if (at + 1 + n > LEXER_TEXT_LENGTH) return false;
    for (int i = 0; i < n; ++i) t[at + 2 + i] = word[static_cast<std::size_t>(i)];
    return true;
}

}  // namespace

int read_continued_line(int unit, std::span<char> line, int& line_counter) {
    lexer_buffers_t& lb = lexer_buffers;
    std::fill(line.begin(), line.end(), ' ');
    int count = 0;
    // A physical line that does not fit the field: its start is the text
    // of the message (the line read before has nothing to do with it).
    auto append_or_overlong = [&]() {
        if (append_physical(line)) return 0;
        assign_text(lb.overlong_text, lb.physical.view());
        return LINE_OVERLONG;
    };
    int status = read_physical_line(unit, count);
    if (status == 0) status = append_or_overlong();
    while (status == 0 && ends_with_backslash(line)) {
        const int next = read_physical_line(unit, count);
        // A last line that ends with a backslash is kept as it stands.
        if (next == IO_END) break;
        ++line_counter;
        status = next;
        if (status == 0) status = append_or_overlong();
    }
    if (status == LINE_OVERLONG) {
        // A logical line longer than the field: the message shows the start
        // of the logical line (its first physical lines, when it has joined
        // some); the rest of its continuation lines is passed over.
        if (trimmed_length_ws(view_of(line)) > 0) assign_text(lb.overlong_text, view_of(line));
        bool more = ends_with_backslash(lb.physical.span());
        while (more && read_physical_line(unit, count) != IO_END) {
            ++line_counter;
            more = ends_with_backslash(lb.physical.span());
        }
        std::fill(line.begin(), line.end(), ' ');
    }
    lb.last_read_status = status;
    return status;
}

int skip_to_next_token(int unit, std::span<char> line, std::span<char> token, int& line_counter) {
    for (;;) {
        int length = 0;
        const int type = tokenise_line(line, token, length);
        if (type != TOKEN_NONE && !is_comment(type, token)) return type;
        const int status = read_continued_line(unit, line, line_counter);
        if (status != IO_END) ++line_counter;
        if (status != 0) return TOKEN_NONE;
    }
}

int read_next_keyword(int unit, std::string_view table, int width, int count, std::span<char> line,
                      std::span<char> token, int& line_counter) {
    lexer_buffers_t& lb = lexer_buffers;
    int type = TOKEN_NONE;
    for (;;) {
        int length = 0;
        type = tokenise_line(line, token, length);
        if (type != TOKEN_NONE && !is_comment(type, token)) break;
        // An empty line or a comment: the next logical line replaces it.
        const int status = read_continued_line(unit, line, line_counter);
        if (status != IO_END) ++line_counter;
        if (status != 0) return 0;
    }
    if (type != TOKEN_WORD) return type;

    // The token keeps the first word; the snapshots of the line let every
    // word consumed after it, or after the longest keyword found, go back
    // exactly as it was written.
    save_line(lb.line_after_first, line);
    assign_text(lb.match_text, view_of(token));
    int pending = 0;
    for (;;) {
        int status = 0;
        const int index = match_keyword(lb.match_text.span(), table, width, count, status);
        if (status == MATCH_FOUND) {
            assign_text(token, lb.match_text.view());
            return index + KEYWORD_INDEX_OFFSET;
        }
        if (status == MATCH_AMBIGUOUS) {
            if (pending > 0) break;
            restore_line(line, lb.line_after_first);
            return -1;
        }
        if (status == MATCH_FOUND_MAY_EXTEND) {
            pending = index;
            lb.pending_text = lb.match_text;
            save_line(lb.line_after_pending, line);
        }
        if (status != MATCH_WORD_COMPLETED && status != MATCH_FOUND_MAY_EXTEND) break;
        // A longer keyword may follow: try the next word of the line.
        save_line(lb.line_before_next, line);
        int length = 0;
        const int next_type = tokenise_line(line, lb.next.span(), length);
        if ((next_type != TOKEN_WORD && next_type != TOKEN_INTEGER) || !append_word(lb.match_text, lb.next.view())) {
            restore_line(line, lb.line_before_next);
            break;
        }
    }
    if (pending > 0) {
        assign_text(token, lb.pending_text.view());
        restore_line(line, lb.line_after_pending);
        return pending + KEYWORD_INDEX_OFFSET;
    }
    restore_line(line, lb.line_after_first);
    return TOKEN_WORD;
}

void next_parser_symbol(int unit, std::span<char> line, std::span<char> token, int& line_number,
                        int& symbol_value, int& symbol) {
    const int previous_line = line_number;
    if (trimmed_length_ws(view_of(line)) == 0) {
        // The first line of the file gives no end-of-line symbol; a blank
        // first line is passed over by read_next_keyword below.
        const bool first = line_number == 0;
        ++line_number;
        if (read_continued_line(unit, line, line_number) != 0) {
            lexer_buffers.symbol_line = previous_line;
            symbol = SYM_EOF;
            symbol_value = 0;
            return;
        }
        if (!first) {
            lexer_buffers.symbol_line = previous_line;
            symbol = SYM_EOL;
            symbol_value = SYM_EOL;
            return;
        }
    }
    const int k = read_next_keyword(unit, keyword_texts(), KEYWORD_WIDTH, KEYWORD_ENTRIES, line, token, line_number);
    lexer_buffers.symbol_line = line_number;
    symbol_value = k;
    if (k == 0) {
        // The file ended while comments were skipped: that is the end of
        // the file, so a last line such as "end # done" is complete.
        symbol = SYM_EOF;
    } else if (k < 0) {
        symbol = SYM_WORD;
    } else if (k <= KEYWORD_INDEX_OFFSET) {
        symbol = SYM_TOKEN_BASE + k;
    } else {
        const int index = k - KEYWORD_INDEX_OFFSET;
        const int cls = keyword_class(keyword_table.keyword_kind[index]);
        symbol = cls == KEYWORD_CLASS_STATEMENT ? SYM_KEYWORD_BASE + keyword_table.keyword_code[index]
                                                : SYM_CLASS_BASE + cls;
    }
}

}  // namespace kv

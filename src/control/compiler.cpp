// Compiles an option file or machine file onto the configuration store: the
// table-driven parser that shifts, reduces by the semantic actions, and
// recovers from syntax errors by dropping the rest of the line.
#include <cstdio>

#include "control/control.h"
#include "job/job.h"
#include "ppnsub/ppnsub.h"

namespace kv {

option_parser_t option_parser;

namespace {

constexpr int ENTRY_ACTION = 1000000;
constexpr int ENTRY_Y = 1000;

int table_entry(int state, int symbol) {
    if (state < 1 || state > PARSE_STATES || symbol < 0 || symbol >= PARSE_SYMBOLS) return PARSE_ERROR;
    return option_parser.parse_table[state][static_cast<std::size_t>(symbol)];
}

// An entry the parser cannot act on: the table itself is wrong, so the run
// stops even when errors in the control's text are passed over.
[[noreturn]] void internal_parse_error(int action, int symbol, int state, int z) {
    char numbers[48];
    std::snprintf(numbers, sizeof numbers, " %10d %10d %10d %10d", action, symbol, state, z);
    set_message_string_arg(1, numbers);
    issue_message(206);
    stop_run(4);
}

void push_symbol() {
    option_compiler_t& oc = option_compiler;
    option_parser_t& p = option_parser;
    if (oc.stack_next > OPTION_STACK_DEPTH) internal_parse_error(PARSE_SHIFT, p.symbol, p.state, oc.stack_next);
    option_stack_entry& e = oc.parse_stack[oc.stack_next];
    e.symbol = p.symbol;
    e.state = p.state;
    e.aux = p.aux;
    e.value = oc.symbol_value;
    ++oc.stack_next;
}

// Pops count entries; the state becomes the one the lowest of them was
// shifted from. Never pops below the bottom of the stack.
void pop_entries(int count) {
    option_compiler_t& oc = option_compiler;
    for (int i = 0; i < count && oc.stack_next > 1; ++i) {
        --oc.stack_next;
        option_parser.state = oc.parse_stack[oc.stack_next].state;
    }
}

void save_lookahead() {
    option_parser_t& p = option_parser;
    p.saved_symbol = p.symbol;
    p.saved_value = option_compiler.symbol_value;
    p.saved_line = option_compiler.symbol_line;
    p.saved_token = option_compiler.token;
}

// Reads the next symbol: a kept lookahead first, else the lexer's next.
void read_symbol(int unit) {
    option_compiler_t& oc = option_compiler;
    option_parser_t& p = option_parser;
    if (p.saved_symbol >= 0) {
        p.symbol = p.saved_symbol;
        oc.symbol_value = p.saved_value;
        oc.symbol_line = p.saved_line;
        oc.token = p.saved_token;
        p.saved_symbol = -1;
    } else {
        for (;;) {
            next_parser_symbol(unit, oc.line, oc.token, oc.line_number, oc.symbol_value, p.symbol);
            oc.symbol_line = lexer_buffers.symbol_line;
            if (p.symbol != SYM_EOF || lexer_buffers.last_read_status != LINE_OVERLONG) break;
            // A line too long to read whole is an error, not the end of the
            // file; when errors are passed over the line is dropped.
            report_option_error(oc.line_number);
            set_message_string_arg(1, trimmed(lexer_buffers.overlong_text.view()));
            issue_message(151);
            abort_on_option_error();
        }
    }
    oc.token_length = trimmed_length(oc.token.view());
}

}  // namespace

void init_option_parse_table() {
    option_parser_t& p = option_parser;
    for (int s = 1; s <= PARSE_STATES; ++s) p.parse_table[s].fill(PARSE_ERROR);
    for (const parse_table_row& r : parse_table_rows())
        p.parse_table[r.state][static_cast<std::size_t>(r.symbol)] = r.action * ENTRY_ACTION + r.y * ENTRY_Y + r.z;
}

void report_option_error(int line) {
    set_message_string_arg(1, "option");
    set_message_string_arg(2, trimmed(option_compiler.file_name.view()));
    set_message_int_arg(1, line);
    issue_message(149);
}

void abort_on_option_error() {
    if (command_switches.continue_after_error == 0) stop_run(4);
}

void check_end_of_option_file(int unit, std::span<char> line, std::span<char> token, int& line_counter) {
    // The symbol that the accepting shift read counts as text after "end"
    // unless it ends the line or the file.
    const int symbol = option_parser.symbol;
    bool text_follows = symbol != SYM_EOL && symbol != SYM_EOF;
    if (!text_follows) {
        text_follows = skip_to_next_token(unit, line, token, line_counter) != TOKEN_NONE ||
                       lexer_buffers.last_read_status == LINE_OVERLONG;
    }
    if (text_follows) {
        report_option_error(line_counter);
        issue_message(156);
        abort_on_option_error();
    }
}

void parse_option_file(int unit, std::string_view file_name) {
    if (unit < 0) return;
    option_compiler_t& oc = option_compiler;
    option_parser_t& p = option_parser;
    init_option_parse_table();
    reset_option_actions();
    oc.file_name.set(file_name);
    oc.line.clear();
    oc.token.clear();
    oc.token_length = 0;
    oc.pending_item.real = 0.0;
    oc.line_number = 0;
    oc.current_block = -1;
    oc.stack_next = 1;
    p.aux = 0;
    p.state = 1;
    p.saved_symbol = -1;
    read_symbol(unit);
    if (p.symbol == SYM_EOF) return;

    for (;;) {
        if (p.symbol == SYM_OBSOLETE) {
            report_option_error(oc.symbol_line);
            set_message_string_arg(1, trimmed(oc.token.view()));
            issue_message(252);
            abort_on_option_error();
        }
        if (p.state >= PARSE_ACCEPT_STATE) {
            check_end_of_option_file(unit, oc.line, oc.token, oc.line_number);
            return;
        }
        if (p.symbol == SYM_EOF) return;

        const int entry = table_entry(p.state, p.symbol);
        const int action = entry / ENTRY_ACTION;
        const int y = entry / ENTRY_Y % ENTRY_Y;
        const int z = entry % ENTRY_Y;
        switch (action) {
        case PARSE_SHIFT:
            push_symbol();
            p.aux = 0;
            p.state = z;
            read_symbol(unit);
            break;
        case PARSE_REDUCE:
        case PARSE_REDUCE_KEEP:
            if (action == PARSE_REDUCE_KEEP) save_lookahead();
            option_parser_action(y, p.symbol, p.aux);
            pop_entries(z);
            p.symbol = y;
            break;
        case PARSE_GOTO:
            p.state = z;
            read_symbol(unit);
            break;
        case PARSE_FAIL:
            // Where a WORD is accepted, any other token is taken as one.
            if (p.symbol != SYM_WORD && table_entry(p.state, SYM_WORD) != PARSE_ERROR) {
                p.symbol = SYM_WORD;
                break;
            }
            report_option_error(oc.symbol_line);
            if (p.symbol != SYM_EOL) {
                set_message_string_arg(1, trimmed(oc.token.view()));
                issue_message(151);
            }
            abort_on_option_error();
            // Drop the rest of the line (after an end of line, the whole
            // next line) and recover by the state's count of entries.
            oc.line.clear();
            pop_entries(table_entry(p.state, PARSE_RECOVERY_COLUMN) % ENTRY_Y);
            read_symbol(unit);
            break;
        default:
            internal_parse_error(action, p.symbol, p.state, z);
        }
    }
}

}  // namespace kv

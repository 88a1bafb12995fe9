// The message table and the arguments of the next message: registration of
// message lines, the message system's own messages 1-10, the built-in texts,
// and the message file that replaces them.
#include "ppnsub/ppnsub.h"
#include "control/control.h"
#include "runtime/runtime.h"

namespace kv {

message_table_t message_table;
message_args_t message_args;

namespace {
constexpr int MSG_BAD_FILE_LINE = 1;
constexpr int MSG_INVALID_INDEX = 2;
constexpr int MSG_NO_PREVIOUS = 3;
constexpr int MSG_DUPLICATE = 4;
constexpr int MSG_TABLE_FULL = 5;
constexpr int MSGFILE_LINE_LEN = 256;  // a longer line ends the reading
constexpr int MSGFILE_NUMBER_LEN = 12; // columns of the number token that are read

// The message system's own messages; they always occupy lines 1-10.
constexpr const char* own_messages[] = {
    "Error reading message file - line%(I)",
    "Invalid message index %(I)",
    "Continuation without previous message",
    "Duplication of message number %(I)",
    "Too many lines of messages",
    "Message number %(I) does not exist",
    "Missing format terminator for message %(I)",
    "Error in format for message %(I)",
    "Output buffer too small for message %(I)",
    "Unexpected fatal error in message system",
};

void preset_message_args() {
    message_args.message_string_args.fill(text<MSGLEN>("?!?!?"));
    message_args.message_int_args.fill(-99999);
    message_args.message_real_args.fill(-99999.0);
    message_args.message_arg_cursors.fill(1);
}
}  // namespace

void init_message_table(int& status) {
    message_table_t& mt = message_table;
    mt.message_lines.fill(text<MSGLEN>());
    mt.message_line_format_pos.fill(0);
    mt.message_line_count.fill(0);
    mt.message_first_line.fill(0);
    mt.message_next_line = 1;
    mt.message_last_number = -1;
    preset_message_args();
    int n = 0;
    for (const char* line : own_messages) register_message_text(++n, line);
    // Continuation lines extend later messages only: a continuation before the
    // first message of the built-in list or of a message file has none.
    mt.message_last_number = -1;
    status = 0;
}

void register_builtin_messages() {
    for (const builtin_message_line& row : builtin_messages()) register_message_text(row.number, row.text);
}

void register_message_line(int n, std::string_view line) {
    message_table_t& mt = message_table;
    if (n >= 1 && n <= MAXMSG) {
        if (mt.message_line_count[n] > 0) {
            set_message_int_arg(1, n);
            issue_message(MSG_DUPLICATE);
            return;
        }
        mt.message_last_number = n;
        mt.message_first_line[n] = mt.message_next_line;
    } else if (n == 0) {
        if (mt.message_last_number <= 0) {
            issue_message(MSG_NO_PREVIOUS);
            return;
        }
    } else {
        set_message_int_arg(1, n);
        issue_message(MSG_INVALID_INDEX);
        return;
    }
    // A message whose first line came too late stays undefined: its line
    // count is only raised once a line is stored.
    if (mt.message_next_line > MAXMSGLINES) {
        issue_message(MSG_TABLE_FULL);
        return;
    }
    const int k = mt.message_next_line;
    mt.message_line_count[mt.message_last_number] += 1;
    assign_text(mt.message_lines[k].span(), line);
    mt.message_line_format_pos[k] = find_char(mt.message_lines[k].view(), '%');
    mt.message_next_line = k + 1;
}

void register_message_text(int n, const char* line) { register_message_line(n, line ? line : ""); }

void set_message_int_arg(int i, int value) {
    if (i >= 1 && i <= MAXMSGARGS) message_args.message_int_args[i] = value;
}

void set_message_real_arg(int i, double value) {
    if (i >= 1 && i <= MAXMSGARGS) message_args.message_real_args[i] = value;
}

void set_message_string_arg(int i, std::string_view value) {
    if (i >= 1 && i <= MAXMSGARGS) message_args.message_string_args[i].set(value);
}

void read_message_file(int unit, int& status) {
    int st = 0;
    init_message_table(st);
    status = 0;
    int line_number = 0;
    text<MSGFILE_LINE_LEN> line;
    text<MSGFILE_LINE_LEN> token;
    for (;;) {
        int n = MSGFILE_LINE_LEN;
        read_text_line(unit, line.span(), n, st);
        if (st != 0) return;  // end of file, an overlong line or a failed read
        ++line_number;
        if (trimmed_length(line.view()) == 0 || line[1] == '#') continue;

        const int type = next_token(line.span(), token.span());
        int number = 0;
        bool bad = false;
        if (token[1] != '+') {
            int error = 0;
            if (type == TOKEN_INTEGER) number = read_int_field(token.view(), MSGFILE_NUMBER_LEN, error);
            bad = type != TOKEN_INTEGER || error != 0;
        }
        if (bad) {
            set_message_int_arg(1, line_number);
            issue_message(MSG_BAD_FILE_LINE);
            status = 1;
            continue;
        }
        // The text is a quoted string, a parenthesised text or one word.
        next_token(line.span(), token.span());
        register_message_line(number, token.view().substr(0, MSGLEN));
    }
}

void set_message_output(int n, int on) {
    // The startup file may switch a message on or off; every message is
    // always shown, so the statement is accepted and has no effect.
    (void)n;
    (void)on;
}

}  // namespace kv

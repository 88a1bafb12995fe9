// Expands the lines of numbered messages: literal text with "%(I5)", "%(F10.3)",
// "%(A-12)" and the other format items filled from the message arguments, and
// a failing line replaced by the message system's own error text.
#include <cstdio>
#include <string>

#include "runtime/runtime.h"

namespace kv {

namespace {
constexpr int FORMAT_OK = 0;
constexpr int MSG_UNDEFINED = 6;
constexpr int MSG_NO_TERMINATOR = 7;
constexpr int MSG_BAD_FORMAT = 8;
constexpr int MSG_NO_ROOM = 9;
constexpr int MSG_FATAL = 10;
constexpr int ITEM_TEXT_LEN = 24;   // characters of an item's text that are examined
constexpr int MAX_INT_ITEM_WIDTH = 99;
constexpr int MAX_TEXT_ITEM_WIDTH = 100000;  // digits beyond cannot fit any target

// Where an expanded line is being written: the target and the columns filled.
struct line_output {
    std::span<char> target;
    int used = 0;
    int room() const { return static_cast<int>(target.size()) - used; }
    void put(std::string_view s) {
        for (char ch : s) target[static_cast<std::size_t>(used++)] = ch;
    }
    void put_blanks(int n) {
        for (int i = 0; i < n; ++i) target[static_cast<std::size_t>(used++)] = ' ';
    }
};


// The run of decimal digits at the start of s, 0 when there is none.
int leading_digits_value(std::string_view s) {
    int v = 0;
    for (char ch : s) {
        if (!is_digit(ch)) break;
        if (v < MAX_TEXT_ITEM_WIDTH) v = v * 10 + (ch - '0');
    }
    return v;
}

// A field of %(Fw.d) that is nothing but decimal digits, or -1. A value too
// large for any target stops growing.
int unsigned_field_value(std::string_view s) {
    if (s.empty()) return -1;
    int v = 0;
    for (char ch : s) {
        if (!is_digit(ch)) return -1;
        if (v < MAX_TEXT_ITEM_WIDTH) v = v * 10 + (ch - '0');
    }
    return v;
}

// Width and decimals of a real item, each written as plain digits; anything
// else (a sign, a blank, a letter, an empty field) is a format error, so that
// a misspelt item shows up as message 8 rather than as a silently odd number.
// A width of 0 prints the number at its own width; a field too wide for the
// line is a matter of room (message 9), not of format.
bool read_real_item_size(std::string_view body, int& w, int& d) {
    const std::size_t dot = body.find('.');
    if (dot == std::string_view::npos) return false;
    w = unsigned_field_value(body.substr(0, dot));
    d = unsigned_field_value(body.substr(dot + 1));
    return w >= 0 && d >= 0;
}

// Takes the next argument of one type: its index, or 0 when all ten were taken
// (an eleventh item of a type is a format error, never a read past the table).
int take_argument(array1<int, 3>& cursors, int type) {
    const int c = cursors[type];
    if (c < 1 || c > MAXMSGARGS) return 0;
    cursors[type] = c + 1;
    return c;
}

int expand_integer_item(std::string_view body, line_output& out, array1<int, 3>& cursors) {
    int width = 0;
    if (!body.empty()) {
        int error = 0;
        width = read_int_field(body, static_cast<int>(body.size()), error);
        if (error != 0 || width < 1 || width > MAX_INT_ITEM_WIDTH) return MSG_BAD_FORMAT;
    }
    const int arg = take_argument(cursors, MSGARG_INTEGER);
    if (arg == 0) return MSG_BAD_FORMAT;
    char digits[16];
    const int t = std::snprintf(digits, sizeof digits, "%d", message_args.message_int_args[arg]);
    if (width == 0) {
        if (t > out.room()) return MSG_NO_ROOM;
        out.put({digits, static_cast<std::size_t>(t)});
        return FORMAT_OK;
    }
    if (width > out.room()) return MSG_NO_ROOM;
    if (t <= width) {
        out.put_blanks(width - t);
        out.put({digits, static_cast<std::size_t>(t)});
    } else if (width <= 5) {
        out.put(std::string_view("*****").substr(0, static_cast<std::size_t>(width)));
    } else {
        out.put_blanks(width - 6);
        out.put("******");
    }
    return FORMAT_OK;
}

int expand_real_item(std::string_view body, line_output& out, array1<int, 3>& cursors) {
    int w = 0;
    int d = 0;
    if (!read_real_item_size(body, w, d)) return MSG_BAD_FORMAT;
    const int arg = take_argument(cursors, MSGARG_REAL);
    if (arg == 0) return MSG_BAD_FORMAT;
    // The text fills at least w columns and holds "0." and d decimals at least.
    if (w > out.room() || d + 2 > out.room()) return MSG_NO_ROOM;
    const std::string s = format_real_fixed_text(w, d, message_args.message_real_args[arg]);
    const std::string_view shown = trimmed(s);
    if (static_cast<int>(shown.size()) > out.room()) return MSG_NO_ROOM;
    out.put(shown);
    return FORMAT_OK;
}

int expand_text_item(std::string_view body, line_output& out, array1<int, 3>& cursors) {
    char align = 'R';
    std::string_view digits = body;
    if (!body.empty() && (body[0] == '-' || body[0] == '.')) {
        align = body[0] == '-' ? 'L' : 'C';
        digits = body.substr(1);
    }
    const int width = body.empty() ? 0 : leading_digits_value(digits);
    if (!body.empty() && width < 1) return MSG_BAD_FORMAT;
    const int arg = take_argument(cursors, MSGARG_STRING);
    if (arg == 0) return MSG_BAD_FORMAT;
    const std::string_view value = trimmed(message_args.message_string_args[arg].view());
    const int t = static_cast<int>(value.size());
    if (width == 0) {
        if (t > out.room()) return MSG_NO_ROOM;
        out.put(value);
        return FORMAT_OK;
    }
    if (width > out.room()) return MSG_NO_ROOM;
    const auto first = [&](int k) { return value.substr(0, static_cast<std::size_t>(k < t ? k : t)); };
    if (align == 'R') {
        if (t < width) out.put_blanks(width - t);
        out.put(first(width));
    } else if (align == 'L') {
        out.put(first(width));
        if (t < width) out.put_blanks(width - t);
    } else {
        // Centred: the lead is at least one blank, so even a text of the full
        // width is shifted by one column and loses its last character.
        int lead = width / 2 - t / 2;
        if (lead < 1) lead = 1;
        if (lead > width) lead = width;
        out.put_blanks(lead);
        const std::string_view shown = first(width - lead);
        out.put(shown);
        out.put_blanks(width - lead - static_cast<int>(shown.size()));
    }
    return FORMAT_OK;
}
}  // namespace

int format_message_line(std::string_view line, std::span<char> target, array1<int, 3>& cursors) {
    const std::size_t len = static_cast<std::size_t>(trimmed_length(line));
    line_output out{target, 0};
    std::size_t pos = 0;
    for (;;) {
        const std::size_t pct = line.substr(0, len).find('%', pos);
        if (pct == std::string_view::npos) {
            const std::string_view rest = line.substr(pos, len - pos);
            if (static_cast<int>(rest.size()) > out.room()) return MSG_NO_ROOM;
            out.put(rest);
            out.put_blanks(out.room());
            return FORMAT_OK;
        }
        // Literal text in front of an item must leave a column free behind it.
        const std::string_view literal = line.substr(pos, pct - pos);
        if (static_cast<int>(literal.size()) >= out.room()) return MSG_NO_ROOM;
        out.put(literal);
        pos = pct + 1;
        if (pos >= len || line[pos] != '(') continue;  // a '%' without '(' is dropped
        const std::size_t close = line.substr(0, len).find(')', pos + 1);
        if (close == std::string_view::npos) return MSG_NO_TERMINATOR;
        std::string_view item = line.substr(pos + 1, close - pos - 1);
        if (item.size() > static_cast<std::size_t>(ITEM_TEXT_LEN)) item = item.substr(0, ITEM_TEXT_LEN);
        pos = close + 1;
        if (item.empty()) return MSG_BAD_FORMAT;
        const std::string_view body = item.substr(1);
        int result = MSG_BAD_FORMAT;
        switch (item[0]) {
        case 'I': result = expand_integer_item(body, out, cursors); break;
        case 'F': result = expand_real_item(body, out, cursors); break;
        case 'A': result = expand_text_item(body, out, cursors); break;
        default: break;
        }
        if (result != FORMAT_OK) return result;
    }
}

void format_next_message_line(int n, std::span<char> target, int& remaining) {
    message_table_t& mt = message_table;
    array1<int, 3>& cursors = message_args.message_arg_cursors;
    if (remaining <= 0) cursors.fill(1);
    int error = MSG_UNDEFINED;
    if (n >= 1 && n <= MAXMSG && mt.message_line_count[n] > 0) {
        const int count = mt.message_line_count[n];
        // A counter above the line count would select a line before the message.
        const int r = remaining > count ? count : remaining;
        const int line = r <= 0 ? mt.message_first_line[n] : mt.message_first_line[n] + count - r;
        if (remaining >= 0) remaining = r <= 0 ? count - 1 : r - 1;
        if (mt.message_line_format_pos[line] == 0) {
            assign_text(target, mt.message_lines[line].view());
            return;
        }
        error = format_message_line(mt.message_lines[line].view(), target, cursors);
        if (error == FORMAT_OK) return;
    }
    // The failing line is replaced by the error message with the failing
    // number, and the rest of the message is not written.
    cursors[MSGARG_INTEGER] = 1;
    message_args.message_int_args[1] = n;
    int failed = 1;
    if (mt.message_line_count[error] > 0)
        failed = format_message_line(mt.message_lines[mt.message_first_line[error]].view(), target, cursors);
    if (failed != FORMAT_OK) assign_text(target, mt.message_lines[MSG_FATAL].view());
    if (remaining > 0) remaining = 0;
}

void format_message_first_line(int n, std::span<char> target) {
    int remaining = -1;
    format_next_message_line(n, target, remaining);
}

}  // namespace kv

// The shared token reader: cuts the first token off a line of text and tells
// a word from an integer, a real, a quoted string or a parenthesised text.
#include "control/control.h"

namespace kv {

namespace {
enum class scan_state { start, string, paren, paren_quote, word, done };

}  // namespace

int tokenise_line(std::span<char> line, std::span<char> token, int& token_length) {
    const std::string_view text_in(line.data(), line.size());
    const std::size_t len = static_cast<std::size_t>(trimmed_length(text_in));
    const std::size_t capacity = token.size();
    std::size_t used = 0;    // characters of the line consumed
    std::size_t stored = 0;  // characters of the token
    int type = TOKEN_NONE;
    bool ended = false;      // a string or parenthesised text found its end
    // A word is a number while it holds only digits, at most one '.', and a
    // sign in front. A lone sign is a word; a point alone, or after a sign,
    // still reads as a real (of value 0).
    bool numeric = false;
    bool has_point = false;
    bool has_digit = false;
    scan_state state = scan_state::start;

    // Stores a character unless the token is full; a full token stops the scan
    // in front of the character, which then begins the next token.
    const auto store = [&](char ch) {
        if (stored >= capacity) {
            state = scan_state::done;
            return false;
        }
        token[stored++] = ch;
        return true;
    };

    while (used < len && state != scan_state::done) {
        const char ch = line[used];
        switch (state) {
        case scan_state::start:
            if (ch == ' ' || ch == '\t') {
                ++used;
            } else if (ch == '"') {
                type = TOKEN_STRING;
                state = scan_state::string;
                ++used;
            } else if (ch == '(') {
                type = TOKEN_PAREN;
                state = scan_state::paren;
                ++used;
            } else {
                type = TOKEN_WORD;
                if (!store(ch)) break;
                ++used;
                state = scan_state::word;
                numeric = is_digit(ch) || ch == '-' || ch == '+' || ch == '.';
                has_digit = is_digit(ch);
                has_point = ch == '.';
            }
            break;
        case scan_state::string:
            if (ch == '"') {
                ++used;
                ended = true;
                state = scan_state::done;
            } else if (ch == '\\') {
                // The next character is taken as it stands (a quote or a backslash).
                if (used + 1 >= len) {
                    ++used;
                } else if (store(line[used + 1])) {
                    used += 2;
                }
            } else if (store(ch)) {
                ++used;
            }
            break;
        case scan_state::paren:
            if (ch == ')') {
                ++used;
                ended = true;
                state = scan_state::done;
            } else if (store(ch)) {
                ++used;
                if (ch == '"') state = scan_state::paren_quote;
            }
            break;
        case scan_state::paren_quote:
            if (store(ch)) {
                ++used;
                if (ch == '"') state = scan_state::paren;
            }
            break;
        case scan_state::word:
            if (ch == ' ' || ch == '\t' || ch == '"') {
                ++used;
                state = scan_state::done;
            } else if (store(ch)) {
                ++used;
                if (is_digit(ch)) {
                    has_digit = true;
                } else if (ch == '.' && !has_point) {
                    has_point = true;
                } else {
                    numeric = false;
                }
            }
            break;
        case scan_state::done:
            break;
        }
    }

    for (std::size_t i = stored; i < capacity; ++i) token[i] = ' ';
    token_length = static_cast<int>(stored);

    // The line keeps what follows the last character consumed.
    std::size_t k = 0;
    for (std::size_t i = used; i < len; ++i) line[k++] = line[i];
    for (; k < line.size(); ++k) line[k] = ' ';

    if (type == TOKEN_WORD && numeric && (has_digit || has_point)) return has_point ? TOKEN_REAL : TOKEN_INTEGER;
    if (type == TOKEN_STRING && !ended) return TOKEN_OPEN_STRING;
    if (type == TOKEN_PAREN && !ended) return TOKEN_OPEN_PAREN;
    return type;
}

int next_token(std::span<char> line, std::span<char> token) {
    int length = 0;
    return tokenise_line(line, token, length);
}

}  // namespace kv

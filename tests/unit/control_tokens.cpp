// The shared token reader: token types, the token text and what stays on the line.
#include <gtest/gtest.h>

#include <string>

#include "control/control.h"

using namespace kv;

namespace {
struct token_case {
    const char* line;
    int type;
    const char* token;
    const char* rest;
};

void check_case(const token_case& k, int token_size) {
    text<40> line(k.line);
    std::string token_field(static_cast<std::size_t>(token_size), '#');
    int length = -1;
    const int type = tokenise_line(line.span(), {token_field.data(), token_field.size()}, length);
    EXPECT_EQ(type, k.type) << "line [" << k.line << "]";
    EXPECT_EQ(token_field.substr(0, static_cast<std::size_t>(length)), k.token) << "line [" << k.line << "]";
    EXPECT_EQ(trimmed_copy(token_field), trimmed_copy(k.token)) << "token is blank-padded";
    // The line keeps what follows the last character consumed, blank-padded.
    std::string rest(k.rest);
    rest.resize(line.view().size(), ' ');
    EXPECT_EQ(std::string(line.view()), rest) << "line [" << k.line << "]";
}
}  // namespace

TEST(Tokens, TypesAndRest) {
    const token_case cases[] = {
        {"", TOKEN_NONE, "", ""},
        {"   \t  ", TOKEN_NONE, "", ""},
        {"  abc def", TOKEN_WORD, "abc", "def"},
        {"abc   def", TOKEN_WORD, "abc", "  def"},
        {"\tabc\tdef", TOKEN_WORD, "abc", "def"},
        {"123 x", TOKEN_INTEGER, "123", "x"},
        {"-12", TOKEN_INTEGER, "-12", ""},
        {"+7 ;", TOKEN_INTEGER, "+7", ";"},
        {"1.5", TOKEN_REAL, "1.5", ""},
        {".5", TOKEN_REAL, ".5", ""},
        {"5.", TOKEN_REAL, "5.", ""},
        {"-.25", TOKEN_REAL, "-.25", ""},
        {"1.2.3", TOKEN_WORD, "1.2.3", ""},
        {"12a", TOKEN_WORD, "12a", ""},
        {"1e5", TOKEN_WORD, "1e5", ""},
        {"5-3", TOKEN_WORD, "5-3", ""},
        // A lone sign is a word; a point alone or after a sign is a real.
        {"- 5", TOKEN_WORD, "-", "5"},
        {"+\t5", TOKEN_WORD, "+", "5"},
        {". x", TOKEN_REAL, ".", "x"},
        {"-.", TOKEN_REAL, "-.", ""},
        {"+.a", TOKEN_WORD, "+.a", ""},
        {"name_ = 3", TOKEN_WORD, "name_", "= 3"},
        // A quote ends a word and is consumed with it.
        {"abc\"def\" x", TOKEN_WORD, "abc", "def\" x"},
        {"\"a b # c\" rest", TOKEN_STRING, "a b # c", " rest"},
        {"\"\" x", TOKEN_STRING, "", " x"},
        {"\"say \\\"hi\\\" \\\\ \"", TOKEN_STRING, "say \"hi\" \\ ", ""},
        {"\"open text", TOKEN_OPEN_STRING, "open text", ""},
        {"\"ends in \\", TOKEN_OPEN_STRING, "ends in ", ""},
        // Parentheses do not nest: the token ends at the first ')'.
        {"(a (b) c)", TOKEN_PAREN, "a (b", " c)"},
        {"(say \"x)\" y) z", TOKEN_PAREN, "say \"x)\" y", " z"},
        {"(open", TOKEN_OPEN_PAREN, "open", ""},
        {"(\"open", TOKEN_OPEN_PAREN, "\"open", ""},
    };
    for (const token_case& k : cases) check_case(k, 20);
}

TEST(Tokens, FullTokenFieldLeavesTheRest) {
    const token_case cases[] = {
        {"abcdefghij x", TOKEN_WORD, "abcd", "efghij x"},
        {"123456", TOKEN_INTEGER, "1234", "56"},
        {"abcd x", TOKEN_WORD, "abcd", "x"},
        // A string that fills the field exactly still finds its end.
        {"\"abcd\" x", TOKEN_STRING, "abcd", " x"},
        {"\"abcdef\" x", TOKEN_OPEN_STRING, "abcd", "ef\" x"},
        {"(abcdef)", TOKEN_OPEN_PAREN, "abcd", "ef)"},
    };
    for (const token_case& k : cases) check_case(k, 4);
}

TEST(Tokens, SuccessiveTokensOfOneLine) {
    text<60> line("x = 12.5, \"two words\" (p) -3");
    text<20> token;
    const int want_types[] = {TOKEN_WORD, TOKEN_WORD, TOKEN_WORD, TOKEN_STRING, TOKEN_PAREN, TOKEN_INTEGER, TOKEN_NONE};
    const char* want_tokens[] = {"x", "=", "12.5,", "two words", "p", "-3", ""};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(next_token(line.span(), token.span()), want_types[i]) << i;
        EXPECT_EQ(token.str(), want_tokens[i]) << i;
    }
}
